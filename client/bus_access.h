#pragma once
// The enclosures through the service on the system bus. Blocking calls, for
// the command line; every answer the service sends is checked as outside
// input, and a refusal (polkit, busy) becomes its own outcome and note.
#include <QDBusConnection>

#include "client/enclosure_access.h"

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

private:
    QDBusConnection connection_;
};

}  // namespace raid::client
