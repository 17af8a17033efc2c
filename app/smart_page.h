#pragma once
// The SMART page: one member disk's attributes with a verdict per row and
// overall, the 4K sector line and the refresh countdown. It reads the
// SmartState only, never a disk; what it needs of the rest of the window
// comes through SmartPageHooks. Laid out for the window's page panel
// (460 x 300 pixels used).
#include <QWidget>
#include <functional>
#include <string>

#include "smart/attributes.h"
#include "smart/smart_state.h"

class QLabel;
class QTableWidget;

namespace raid::smart {

// The status page's caption and model line of a bay.
struct BayText {
    std::string caption;  // "HDD1"
    std::string model;
};

struct SmartPageHooks {
    // Bay 0 (HDD1) or 1 (HDD2) as the status page shows it.
    std::function<BayText(int disk)> bayText;
    // The device the status page shows (0 or 1); its disks are shown here.
    std::function<int()> selectedDevice;
    // The disk selectors work only while this is true (no exclusive
    // operation holds a device).
    std::function<bool()> selectorsEnabled;
    // Panel 4 of the status bar.
    std::function<void(const std::string&)> statusPanel;
};

class SmartPage : public QWidget {
    Q_OBJECT
public:
    // The page keeps references to `state`; it must outlive the page.
    SmartPage(SmartState& state, SmartPageHooks hooks, QWidget* parent = nullptr);

    // Redraws the page from the tables: selector pictures, heading, rows,
    // verdict and 4K line of the selected device's selected disk. On the
    // first drawing with rows after none, cell (0, 0) is selected and the
    // grid takes the focus.
    void showSmartPage();
    // A disk selector click: selects disk 0 or 1 and redraws, unless the
    // selectors are disabled.
    void selectDisk(int disk);
    // The countdown line (StepSmartCountdown's text).
    void setCountdownText(const std::string& text);

    // The rows shown, as drawn.
    const SmartView& view() const { return view_; }

Q_SIGNALS:
    // The countdown line was double-clicked (the SMART dump).
    void countdownDoubleClicked();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void showSelectorPictures();
    void fillGrid();
    void onCellSelected(int row, int column);

    SmartState& state_;
    SmartPageHooks hooks_;
    SmartView view_;
    bool gridHidden_ = true;

    QLabel* diskButtons_[kSmartDisks] = {nullptr, nullptr};
    QLabel* headingLabel_ = nullptr;
    QTableWidget* headingGrid_ = nullptr;
    QTableWidget* grid_ = nullptr;
    QLabel* verdictLabel_ = nullptr;
    QLabel* fourKLabel_ = nullptr;
    QLabel* countdownLabel_ = nullptr;
};

}  // namespace raid::smart
