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

    // The firmware commands through the service (the service reads the
    // image from a sealed memfd; this process reads the user's file).
    struct FirmwareCheckAnswer : Answer {
        std::vector<std::string> texts;  // the load's lines, in order
        int index = -1;                  // the enclosure: 0 = Device1
        std::string diskText;            // "disk 2 (/dev/sdb)"
    };
    FirmwareCheckAnswer CheckFirmware(const std::string& disk,
                                      const std::vector<std::uint8_t>& image);
    FlashAnswer Flash(const std::string& disk, const std::vector<std::uint8_t>& image, bool backup,
                      FlashFollower::Handlers handlers, const CallOptions& options);

    // The first `length` bytes of the enclosure's flash (0: the whole flash),
    // read by the service between its polls.
    struct FlashReadAnswer : Answer {
        std::vector<std::uint8_t> bytes;
    };
    FlashReadAnswer ReadFlash(const std::string& disk, std::uint32_t length,
                              const CallOptions& options);

    // The service's jobs, oldest first; false after saying why in `answer`.
    bool Jobs(std::vector<JobRecord>& jobs, Answer& answer);

private:
    QDBusConnection connection_;
};

}  // namespace raid::client
