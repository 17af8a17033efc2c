#pragma once
// The enclosures through the service on the system bus. Blocking calls, for
// the command line; every answer the service sends is checked as outside
// input, and a refusal (polkit, busy) becomes its own outcome and note.
#include <QDBusConnection>

#include "client/enclosure_access.h"
#include "client/flash_follower.h"
#include "client/mail_records.h"

namespace raid::client {

class BusAccess final : public EnclosureAccess {
public:
    explicit BusAccess(const QDBusConnection& connection);

    // True when the service's name has an owner on `connection`.
    static bool ServiceRuns(const QDBusConnection& connection);

    StatusAnswer Status(const std::string& disk) override;
    SmartAnswer Smart(const std::string& disk) override;
    SettingAnswer SetBuzzer(const std::string& disk, bool mute,
                            const CallOptions& options) override;
    SettingAnswer SetBackupPeriod(const std::string& disk, const PeriodRequest& period,
                                  const CallOptions& options) override;
    MailSettingsAnswer MailSettings(const CallOptions& options) override;
    Answer SetMailSettings(const MailSettingsChanges& changes, const CallOptions& options) override;
    TestMailAnswer SendTestMail(const CallOptions& options,
                                const std::function<void(const std::string&)>& transcript) override;

    // The service reads the image from a sealed memfd, and never a path.
    FirmwareCheckAnswer CheckFirmware(const std::string& disk,
                                      const std::vector<std::uint8_t>& image) override;
    // Read by the service between its polls.
    FlashReadAnswer ReadFlash(const std::string& disk, std::uint32_t length,
                              const CallOptions& options) override;
    // Started as the service's job and followed to its end.
    FlashAnswer Flash(const std::string& disk, const std::vector<std::uint8_t>& image, bool backup,
                      FlashHandlers handlers, const CallOptions& options) override;
    bool FlashOutlivesCaller() const override { return true; }
    DayFilesAnswer DayFiles() override;
    DayFileAnswer ReadDayFile(const std::string& name) override;
    JobsAnswer Jobs() override;

private:
    QDBusConnection connection_;
};

}  // namespace raid::client
