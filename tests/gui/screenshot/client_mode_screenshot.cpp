// Saves two pictures for the documentation: the main window as a client of
// the monitor service (what any user sees), and the window of a user that can
// reach no enclosure because the service is not running:
//   client_mode_screenshot CLIENT.png NOACCESS.png
// The service is stood in for by the same seam in this process, over an
// emulated enclosure. Runs on Qt's offscreen platform unless QT_QPA_PLATFORM
// says otherwise.
#include <QApplication>
#include <QPixmap>
#include <cstdio>
#include <memory>
#include <sstream>

#include "cli/local_access.h"
#include "platform/clock.h"
#include "sim/emulator.h"
#include "sim/sim_disks.h"
#include "tests/gui/emulated_window.h"

namespace {

using namespace raid;

// The window's own disks: it opens none.
class NoDisks final : public platform::DiskSystem {
public:
    std::vector<platform::DiskInfo> ListDisks() override { return {}; }
    std::vector<platform::VolumeInfo> ListVolumes() override { return {}; }
    platform::OpenResult OpenDisk(int) override { return {}; }
};

// The service as a stopped one answers.
class Stopped final : public client::EnclosureAccess {
public:
    client::StatusAnswer Status(const std::string&) override {
        return Gone<client::StatusAnswer>();
    }
    client::SmartAnswer Smart(const std::string&) override { return Gone<client::SmartAnswer>(); }
    client::SettingAnswer SetBuzzer(const std::string&, bool, const client::CallOptions&) override {
        return Gone<client::SettingAnswer>();
    }
    client::SettingAnswer SetBackupPeriod(const std::string&, const client::PeriodRequest&,
                                          const client::CallOptions&) override {
        return Gone<client::SettingAnswer>();
    }
    client::FirmwareCheckAnswer CheckFirmware(const std::string&,
                                              const std::vector<std::uint8_t>&) override {
        return Gone<client::FirmwareCheckAnswer>();
    }
    client::FlashReadAnswer ReadFlash(const std::string&, std::uint32_t,
                                      const client::CallOptions&) override {
        return Gone<client::FlashReadAnswer>();
    }
    client::FlashAnswer Flash(const std::string&, const std::vector<std::uint8_t>&, bool,
                              client::FlashHandlers, const client::CallOptions&) override {
        return Gone<client::FlashAnswer>();
    }
    bool FlashOutlivesCaller() const override { return true; }
    client::JobsAnswer Jobs() override { return Gone<client::JobsAnswer>(); }
    client::MailSettingsAnswer MailSettings(const client::CallOptions&) override {
        return Gone<client::MailSettingsAnswer>();
    }
    client::Answer SetMailSettings(const client::MailSettingsChanges&,
                                   const client::CallOptions&) override {
        return Gone<client::Answer>();
    }
    client::TestMailAnswer SendTestMail(const client::CallOptions&,
                                        const std::function<void(const std::string&)>&) override {
        return Gone<client::TestMailAnswer>();
    }

private:
    template <typename A>
    static A Gone() {
        A answer;
        answer.outcome = client::kUnavailable;
        answer.notes = {"the service is not running"};
        return answer;
    }
};

bool Save(app::MainWindow& window, const char* path) {
    window.show();
    QApplication::processEvents();
    if (window.grab().save(QString::fromLocal8Bit(path))) return true;
    std::fprintf(stderr, "cannot write %s\n", path);
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s CLIENT.png NOACCESS.png\n", argv[0]);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QApplication application(qtArgc, argv);

    auto clock = std::make_shared<platform::ManualClock>(std::chrono::system_clock::now());
    auto enclosures = std::make_shared<sim::SimDiskSystem>();
    enclosures->AddEnclosure(
        std::make_shared<sim::ControllerEmulator>(*sim::ScenarioEnclosure("raid1"), clock.get()));
    std::ostringstream out, err;
    cli::Context ctx{*enclosures, *clock, {}, out, err};
    client::EnclosureWatch watch;

    {
        auto service = std::make_shared<cli::LocalAccess>(ctx);
        watch.setEnclosures(client::EnclosureWatch::Standing::Serving, service->Status("").devices);
        app::test_support::EmulatedWindow client(
            clock, std::make_shared<sim::SimDiskSystem>(), [&](app::MainWindowOptions& o) {
                o.context = std::make_shared<app::ShellContext>(clock, std::make_shared<NoDisks>());
                o.service = std::shared_ptr<client::EnclosureAccess>(service);
                o.watch = &watch;
                o.serviceCallsInline = true;
            });
        if (!Save(client.window(), argv[1])) return 1;
    }
    watch.setEnclosures(client::EnclosureWatch::Standing::NoService);
    app::test_support::EmulatedWindow waiting(
        clock, std::make_shared<sim::SimDiskSystem>(), [&](app::MainWindowOptions& o) {
            o.context = std::make_shared<app::ShellContext>(clock, std::make_shared<NoDisks>());
            o.service = std::make_shared<Stopped>();
            o.watch = &watch;
            o.serviceCallsInline = true;
        });
    return Save(waiting.window(), argv[2]) ? 0 : 1;
}
