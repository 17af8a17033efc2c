#pragma once
// The enclosures reached in this process: one discovery per call over the
// machine's (or the emulator's) disks, as raidctl did before the service
// existed. Used when no service runs, and with --direct.
#include "cli/raidctl_commands.h"
#include "client/enclosure_access.h"
#include "client/mail_records.h"

namespace raid::cli {

class LocalAccess final : public client::EnclosureAccess {
public:
    // `settingsFile`: the e-mail settings file (empty: the default).
    explicit LocalAccess(Context& ctx, std::string settingsFile = {})
        : ctx_(ctx), settingsFile_(std::move(settingsFile)) {}

    client::StatusAnswer Status(const std::string& disk) override;
    client::SmartAnswer Smart(const std::string& disk) override;
    client::SettingAnswer SetBuzzer(const std::string& disk, bool mute,
                                    const client::CallOptions& options) override;
    client::SettingAnswer SetBackupPeriod(const std::string& disk,
                                          const client::PeriodRequest& period,
                                          const client::CallOptions& options) override;
    client::FirmwareCheckAnswer CheckFirmware(const std::string& disk,
                                              const std::vector<std::uint8_t>& image) override;
    client::FlashReadAnswer ReadFlash(const std::string& disk, std::uint32_t length,
                                      const client::CallOptions& options) override;
    // Runs in the calling thread, which handlers.detach may stop before the
    // erase.
    client::FlashAnswer Flash(const std::string& disk, const std::vector<std::uint8_t>& image,
                              bool backup, client::FlashHandlers handlers,
                              const client::CallOptions& options) override;
    bool FlashOutlivesCaller() const override { return false; }
    client::JobsAnswer Jobs() override { return {}; }

    client::MailSettingsAnswer MailSettings(const client::CallOptions& options) override;
    client::Answer SetMailSettings(const client::MailSettingsChanges& changes,
                                   const client::CallOptions& options) override;
    client::TestMailAnswer SendTestMail(
        const client::CallOptions& options,
        const std::function<void(const std::string&)>& transcript) override;

private:
    Context& ctx_;
    std::string settingsFile_;
};

// What `status` and the setting commands start with: the machine's disks,
// the one DISK names and one discovery into `state`. False, with the
// outcome and its notes in `answer`, when there is nothing to act on.
struct Discovered {
    std::vector<platform::DiskInfo> list;
    int wanted = -1;         // the disk DISK names; -1 when none was given
    std::vector<int> shown;  // the device indexes on it (all without DISK)
};
bool DiscoverDevices(Context& ctx, const std::string& disk, AppState& state,
                     device::CommandChannel& ch, Discovered& found, client::StatusAnswer& answer);

}  // namespace raid::cli
