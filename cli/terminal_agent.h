#pragma once
// polkit's text agent for this process (pkttyagent), as systemctl, udisksctl
// and fwupdmgr start it: when the service answers that a password would do,
// the person at the terminal is asked, and the call is made again.
#include <sys/types.h>

#include <memory>
#include <string>

#include "client/enclosure_access.h"
#include "client/mail_records.h"

namespace raid::cli {

class TerminalAgent {
public:
    TerminalAgent() = default;
    ~TerminalAgent();  // the agent ends with this object
    TerminalAgent(const TerminalAgent&) = delete;
    TerminalAgent& operator=(const TerminalAgent&) = delete;

    // Starts the agent for this process and waits until it is registered
    // with polkit (at most a few seconds). False, with why, otherwise.
    bool Start(std::string& why);
    bool Running() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
};

// `inner` (the service), with one more try through a terminal agent when a
// call is refused only for want of a password and `terminal` is true.
class AgentRetryAccess final : public client::EnclosureAccess {
public:
    AgentRetryAccess(client::EnclosureAccess& inner, bool terminal)
        : inner_(inner), terminal_(terminal) {}

    client::StatusAnswer Status(const std::string& disk) override { return inner_.Status(disk); }
    client::SmartAnswer Smart(const std::string& disk) override { return inner_.Smart(disk); }
    client::SettingAnswer SetBuzzer(const std::string& disk, bool mute,
                                    const client::CallOptions& options) override;
    client::SettingAnswer SetBackupPeriod(const std::string& disk,
                                          const client::PeriodRequest& period,
                                          const client::CallOptions& options) override;
    client::FirmwareCheckAnswer CheckFirmware(const std::string& disk,
                                              const std::vector<std::uint8_t>& image) override {
        return inner_.CheckFirmware(disk, image);
    }
    client::FlashReadAnswer ReadFlash(const std::string& disk, std::uint32_t length,
                                      const client::CallOptions& options) override;
    client::FlashAnswer Flash(const std::string& disk, const std::vector<std::uint8_t>& image,
                              bool backup, client::FlashHandlers handlers,
                              const client::CallOptions& options) override;
    bool FlashOutlivesCaller() const override { return inner_.FlashOutlivesCaller(); }
    client::DayFilesAnswer DayFiles() override { return inner_.DayFiles(); }
    client::DayFileAnswer ReadDayFile(const std::string& name) override {
        return inner_.ReadDayFile(name);
    }
    client::JobsAnswer Jobs() override { return inner_.Jobs(); }

    client::MailSettingsAnswer MailSettings(const client::CallOptions& options) override;
    client::Answer SetMailSettings(const client::MailSettingsChanges& changes,
                                   const client::CallOptions& options) override;
    client::TestMailAnswer SendTestMail(
        const client::CallOptions& options,
        const std::function<void(const std::string&)>& transcript) override;

private:
    template <typename Call>
    auto WithAgent(const client::CallOptions& options, Call call) -> decltype(call());

    client::EnclosureAccess& inner_;
    bool terminal_;
    std::unique_ptr<TerminalAgent> agent_;
};

}  // namespace raid::cli
