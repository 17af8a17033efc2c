#pragma once
// A main window against emulated enclosures, with a manual clock, no worker
// threads and no udev: tests run discoveries and timer ticks by hand.
#include <QDialog>
#include <QLabel>
#include <QString>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "app/main_window.h"
#include "app/message_sink.h"
#include "app/picture_button.h"
#include "common/text.h"
#include "discovery/probe.h"
#include "platform/clock.h"
#include "sim/emulator.h"
#include "sim/sim_disks.h"

namespace raid::app::test {

class RecordingSink final : public MessageSink {
public:
    struct Box {
        QString text;
        QString caption;
        bool warning = false;  // with the exclamation icon
    };
    void Show(QWidget*, const QString& text, const QString& caption) override {
        boxes.push_back({text, caption});
        if (onBox) onBox();
    }
    void ShowWarning(QWidget*, const QString& text, const QString& caption) override {
        boxes.push_back({text, caption, true});
        if (onBox) onBox();
    }
    std::vector<Box> boxes;
    // Runs while a box is shown, to see the window as the user does then.
    std::function<void()> onBox;
};

inline mail::HostSources FixedHost() {
    mail::HostSources sources;
    sources.sysfsRoot = "/nonexistent-sysfs";
    sources.hostName = [] { return std::optional<std::string>("testhost"); };
    sources.interfaces = [] {
        return std::vector<mail::InterfaceAddresses>{{"eth0", {"192.0.2.7"}}};
    };
    return sources;
}

// A folder of its own for each test's log files, removed afterwards.
class TempFolder {
public:
    TempFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "raidgui-test-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) path = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    std::filesystem::path path;
};

class MainWindowTest : public ::testing::Test {
protected:
    // Adds an emulated enclosure; `edit` may change its model first.
    template <typename Edit>
    void AddEnclosure(const std::string& scenario, Edit edit) {
        auto model = sim::ScenarioEnclosure(scenario);
        ASSERT_TRUE(model.has_value());
        edit(*model);
        disks->AddEnclosure(std::make_shared<sim::ControllerEmulator>(*model, clock.get()));
    }
    void AddEnclosure(const std::string& scenario) {
        AddEnclosure(scenario, [](sim::Enclosure&) {});
    }

    void MakeWindow() {
        MainWindowOptions options;
        options.context = std::make_shared<ShellContext>(clock, disks);
        options.messages = &sink;
        options.startThreads = false;
        options.watchDevices = false;
        options.hostSources = FixedHost();
        options.context->programFolder = logFolder.path;
        // Never the machine's own settings.
        options.settingsFile = logFolder.path / "settings" / "settings.reg";
        options.smtp = smtp;
        options.timeStamp = text::PatternDateTimeFormatter("%d/%m/%Y %H:%M:%S");
        options.runModal = [this](QDialog& dialog) {
            modals.push_back(dialog.objectName());
            return onModal ? onModal(dialog) : 0;
        };
        if (configureOptions) configureOptions(options);
        window = std::make_unique<MainWindow>(std::move(options));
    }

    // What the monitoring thread would hand over until no request wakes it.
    void ServeRequests() {
        for (int i = 0; i < 16 && monitor::WorkerShouldDispatch(window->state()); ++i)
            window->serveMonitorRequest();
    }

    // What the detection thread and the next device-change tick would do.
    void RunDiscovery() {
        discovery::ServeDetectRequest(window->state(), window->context().detectionChannel);
        window->onDeviceChangeTick();
    }

    template <typename T = QWidget>
    T* Find(const char* name) {
        T* widget = window->findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    PictureButton* Button(const char* name) { return Find<PictureButton>(name); }

    // The day's log file as it is on disk; empty when there is none.
    std::string DayFile() {
        const auto path = logFolder.path / (text::FileDateText(clock->WallNow()) + ".log");
        std::ifstream in(path, std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        return content.str();
    }

    // True when `button` shows the picture of companion `companion`.
    bool Shows(const char* button, const QString& companion) {
        const QImage shown = Button(button)->picture().toImage();
        const QImage expected = Find<QLabel>(companion.toLatin1().constData())->pixmap().toImage();
        return !expected.isNull() && shown == expected;
    }

    std::shared_ptr<platform::ManualClock> clock = std::make_shared<platform::ManualClock>();
    std::shared_ptr<sim::SimDiskSystem> disks = std::make_shared<sim::SimDiskSystem>();
    RecordingSink sink;
    TempFolder logFolder;
    // Modal windows opened (by objectName); onModal may act while one is open.
    std::vector<QString> modals;
    std::function<int(QDialog&)> onModal;
    // How the window sends mail.
    mail::SmtpOptions smtp;
    // Changes the window's options before it is made.
    std::function<void(MainWindowOptions&)> configureOptions;
    std::unique_ptr<MainWindow> window;
};

}  // namespace raid::app::test
