#pragma once
// TForm5: the event log viewer, a small modal window opened from Image0_Log.
// It follows the day's EventLogLines as they grow ("Real Time Log") or shows
// a saved log file instead ("View Log File"). It only reads the lines.
#include <QDialog>
#include <QString>
#include <cstddef>
#include <functional>
#include <memory>
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

// OpenDialog1's filter, "Log File (*.log)|*.log|All File|*.*", in Qt's form.
inline constexpr const char* kLogFileFilter = "Log File (*.log);;All File (*)";

class TForm5 : public QDialog {
    Q_OBJECT
public:
    // Runs OpenDialog1: returns the chosen file's path, or an empty text when
    // the user cancels.
    using FileChooser = std::function<QString(QWidget* parent)>;

    // `eventLogLines` and `state` are read (never written) for the life of
    // the window; both must outlive it. Main thread only.
    TForm5(const std::vector<std::string>& eventLogLines, const AppState& state,
           QWidget* parent = nullptr);
    ~TForm5() override;

    // Replaces the file dialog (tests answer without a window).
    void SetFileChooser(FileChooser chooser);
    // Where a file that cannot be read is reported; null: a message box.
    // Not owned.
    void SetMessageSink(MessageSink* sink);

    // The handlers. Showing and hiding the window call FormShow and
    // FormClose, the timer and the buttons call the others.
    void FormCreate();
    void FormShow();
    void FormClose();
    void Timer1Timer();
    void Button1Click();
    void Button2Click();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    bool Live() const;
    void ApplyTitleAndColour();
    void ClearMemo();
    // Appends lines [from, to) of the list to Memo1, letting pending events
    // run between blocks of lines. False when the memo was cleared, refilled
    // or the window closed meanwhile (the rest is then not appended).
    bool AppendLines(std::size_t from, std::size_t to);
    QString DefaultChooseFile();

    const std::vector<std::string>& lines_;
    const AppState& state_;
    FileChooser chooser_;
    MessageSink* messages_ = nullptr;
    std::unique_ptr<MessageSink> ownMessages_;

    // How many lines of the list the memo holds.
    std::size_t shownCount_ = 0;
    // Whether the memo holds at least one line (an empty first line leaves
    // the document looking empty).
    bool memoHasLine_ = false;
    // Bumped whenever the memo's contents are replaced or the window closes,
    // so that an append interrupted by events stops.
    unsigned generation_ = 0;

    QPlainTextEdit* Memo1 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QTimer* Timer1 = nullptr;
};

}  // namespace raid::app
