// The main window and the SMART page: the dispatcher's two SMART reads, what
// the page reads of the rest of the window, and the SMART dump.
#include <QCoreApplication>

#include "app/main_window.h"
#include "app/smart_page.h"
#include "app/status_page.h"
#include "firmware/dump_file.h"
#include "firmware/upgrade_host.h"
#include "smart/read_smart.h"

namespace raid::app {
namespace {

// The dump files hold the first 1,024 bytes of each table: Device1's two
// disks, the layout the files have always had.
constexpr std::size_t kDumpBytes = 1024;

// The dump's status line and messages go to the window; it has no progress.
class DumpHost final : public firmware::QuietUpgradeHost {
public:
    DumpHost(MainWindow& window, const ShellFlags& shell) : window_(window), shell_(shell) {}
    void SetStatusText(const std::string& text) override { window_.SetStatusPanel(4, text); }
    void ShowMessage(const firmware::Message& message) override {
        window_.Message(message.text, message.caption);
    }
    void Pump() override { QCoreApplication::processEvents(); }
    bool IsClosing() const override { return shell_.closing.load(); }

private:
    MainWindow& window_;
    const ShellFlags& shell_;
};

}  // namespace

void MainWindow::readSmart(std::uint8_t feature) {
    smart::ReadSmart(context_->state, context_->smart, context_->channel, *this, feature);
}

bool MainWindow::SmartPageShown() const { return currentPage_ == kPageSmart; }

void MainWindow::ShowSmartPage() { smartPage_->showSmartPage(); }

smart::SmartPageHooks MainWindow::smartPageHooks() {
    smart::SmartPageHooks hooks;
    // The heading repeats the status page's bay caption and model line.
    hooks.bayText = [this](int disk) {
        return smart::BayText{statusPage_->memberCaption(disk).toStdString(),
                              statusPage_->memberModel(disk).toStdString()};
    };
    hooks.selectedDevice = [this] { return statusPage_ ? statusPage_->SelectedDevice() : 0; };
    hooks.selectorsEnabled = [this] {
        return context_->state.shell.operationDeviceIndex.load() == kNoOperationDevice;
    };
    hooks.statusPanel = [this](const std::string& text) { SetStatusPanel(4, text); };
    return hooks;
}

void MainWindow::saveSmartDumps() {
    DumpHost host(*this, context_->state.shell);
    const smart::SmartState& tables = context_->smart;
    firmware::SaveSmartDumps(programFolder(), std::span(tables.dataTable).first<kDumpBytes>(),
                             std::span(tables.thresholdTable).first<kDumpBytes>(), host);
}

}  // namespace raid::app
