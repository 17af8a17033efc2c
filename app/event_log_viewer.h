#pragma once
// The event log viewer, a small modal window opened from the Status page's
// event log button. It follows the day's EventLogLines as they grow ("Real
// Time Log") or shows a saved log file instead ("View Log File"). It only
// reads the lines.
#include <QDialog>
#include <QString>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/message_sink.h"
#include "common/state.h"

class QHideEvent;
class QPlainTextEdit;
class QPushButton;
class QShowEvent;
class QTimer;

namespace raid::app {

// The file dialog's filter, "Log File (*.log)|*.log|All File|*.*", in Qt's form.
inline constexpr const char* kLogFileFilter = "Log File (*.log);;All File (*)";

class EventLogViewer : public QDialog {
    Q_OBJECT
public:
    // Runs the file dialog: returns the chosen file's path, or an empty text when
    // the user cancels.
    using FileChooser = std::function<QString(QWidget* parent)>;

    // `eventLogLines` and `state` are read (never written) for the life of
    // the window; both must outlive it. Main thread only.
    EventLogViewer(const std::vector<std::string>& eventLogLines, const AppState& state,
                   QWidget* parent = nullptr);
    ~EventLogViewer() override;

    // Replaces the file dialog (tests answer without a window).
    void setFileChooser(FileChooser chooser);
    // Where the day files come from instead of the file dialog (a client of
    // the service): the chosen file's name and its lines, or an error in
    // `error`; nullopt when the user chose none.
    using DayFileSource = std::function<std::optional<QString>(
        QWidget* parent, std::vector<std::string>& lines, std::string& error)>;
    void setDayFileSource(DayFileSource source);
    // Where a file that cannot be read is reported; null: a message box.
    // Not owned.
    void setMessageSink(MessageSink* sink);

    // The handlers. The constructor calls ResetView, showing and hiding the
    // window call OnShown and OnClosed, the refresh timer calls
    // OnRefreshTick, the "Real Time Log" button ShowRealTimeLog and the
    // "View Log File" button ViewLogFile.
    void resetView();
    void onShown();
    void onClosed();
    void onRefreshTick();
    void showRealTimeLog();
    void viewLogFile();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    bool live() const;
    void applyTitleAndColour();
    void clearView();
    // Appends lines [from, to) of the list to the view, letting pending events
    // run between blocks of lines. False when the view was cleared, refilled
    // or the window closed meanwhile (the rest is then not appended).
    bool appendLines(std::size_t from, std::size_t to);
    QString defaultChooseFile();

    const std::vector<std::string>& lines_;
    const AppState& state_;
    FileChooser chooser_;
    DayFileSource dayFiles_;
    MessageSink* messages_ = nullptr;
    std::unique_ptr<MessageSink> ownMessages_;

    // How many lines of the list the view holds, and of which day.
    std::size_t shownCount_ = 0;
    std::string shownDay_;
    // Whether the view holds at least one line (an empty first line leaves
    // the document looking empty).
    bool viewHasLine_ = false;
    // Bumped whenever the view's contents are replaced or the window closes,
    // so that an append interrupted by events stops.
    unsigned generation_ = 0;

    QPlainTextEdit* logView_ = nullptr;
    QPushButton* realTimeButton_ = nullptr;
    QPushButton* viewFileButton_ = nullptr;
    QTimer* refreshTimer_ = nullptr;
};

}  // namespace raid::app
