#pragma once
// What a main window is made with: the shared state, and the hooks through
// which tests, the command line and the service mode replace the window's
// own dialogs, threads and sources.
#include <QString>
#include <QStringList>
#include <filesystem>
#include <functional>
#include <memory>

#include "app/image_builder_window.h"
#include "app/message_sink.h"
#include "app/shell_context.h"
#include "client/enclosure_access.h"
#include "client/enclosure_watch.h"
#include "common/text.h"
#include "mail/settings_store.h"
#include "mail/smtp_client.h"
#include "mail/system_info.h"

class QDialog;

namespace raid::service {
class InProcessEngine;
}  // namespace raid::service

namespace raid::app {

struct MainWindowOptions {
    std::shared_ptr<ShellContext> context;
    // Where message boxes go; null: QMessageBox.
    MessageSink* messages = nullptr;
    // Tests drive the loops' work by hand instead.
    bool startThreads = true;
    // Listen to udev for device changes.
    bool watchDevices = true;
    // Where the host information of the system-information block comes from.
    mail::HostSources hostSources = mail::SystemHostSources();
    // Shows a modal window and returns when it closes; null: QDialog::exec().
    // Tests answer at once instead of blocking.
    std::function<int(QDialog&)> runModal;
    // The date-time format "c" of the event log and the settings lines;
    // null: the user's locale.
    text::DateTimeFormatter timeStamp;
    // The e-mail settings file (--settings).
    std::filesystem::path settingsFile = mail::DefaultSettingsFile();
    // How mails are sent (tests: short stage limits, their own CA).
    mail::SmtpOptions smtp;
    // The firmware file to load, the dialog opened in `folder`; empty when
    // cancelled. Null: a file dialog.
    std::function<QString(const QString& folder)> chooseFirmwareFile;
    // The "Make Bin" window's dialogs and message boxes; null ones: its own.
    tools::ImageBuilderHooks imageBuilderHooks;
    // Client mode: the service serves the enclosures through `service`, and
    // `watch` (not owned; it outlives the window; needed then) keeps them as
    // the service tells them.
    // The window then opens no disk and mails nothing. Null: in this process.
    std::shared_ptr<client::EnclosureAccess> service;
    client::EnclosureWatch* watch = nullptr;
    // The service's calls run at once on the window's thread (tests).
    bool serviceCallsInline = false;
    // Where no service runs and the window may open the disks: the engine
    // the window reaches the enclosures through in this process, made at
    // start-up and again whenever the window takes the enclosures back from
    // the service. Null (and no `service`): the window drives them itself.
    std::function<std::unique_ptr<service::InProcessEngine>()> openEngine;
    // Working in this process with `watch` set: how to reach the service
    // once its name appears, and how to let go of the machine lock so that
    // it can take the enclosures over.
    std::function<std::shared_ptr<client::EnclosureAccess>()> reachService;
    std::function<void()> releaseMachineLock;
    // A client whose service stopped: takes the machine lock again to work
    // in this process; false when it may not (not root, or the lock is
    // held), and the window waits for the service. Null: it always waits.
    std::function<bool()> takeMachineLock;
    // Client mode: which of the service's day files the event log viewer
    // shows (newest first); empty when cancelled. Null: a list dialog.
    std::function<QString(const QStringList& names)> chooseDayFile;
    // Shows a desktop notice with an event-log line (a member or an
    // enclosure lost), even while the window is minimised. Null: none.
    std::function<void(const QString& line)> desktopNotice;
    // Client mode: where the window notes the service's firmware upgrade it
    // left running when it closed, to tell how it ended when it opens next;
    // empty: not noted.
    std::filesystem::path leftUpgradeFile;
};

}  // namespace raid::app
