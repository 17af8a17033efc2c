#pragma once
// `raidctl buzzer` and `raidctl backup-period`: the setting sent as the
// window's monitoring worker sends it, then a status poll that reads the
// enclosure back and shows it as `status` does; in this process or through
// the service.
#include "cli/raidctl_commands.h"
#include "client/enclosure_access.h"

namespace raid::cli {

// `raidctl buzzer DISK on|off`. 0 when the poll shows the buzzer as asked; 1
// when the enclosure has no buzzer setting; 2 when DISK is not a disk or does
// not open; 3 when DISK holds no enclosure or it did not answer the setting or
// the poll; 6 when it answered but the poll shows the old setting.
int RunBuzzer(Context& ctx, const Arguments& args);
int RunBuzzerVia(Context& ctx, const Arguments& args, client::EnclosureAccess& access);

// `raidctl backup-period DISK off|preset N|DAYS HOURS`, with the exit codes
// of RunBuzzer; 1 also when the enclosure has no schedule backup, takes no
// user period, or the period does not fit it (nothing is sent then).
int RunBackupPeriod(Context& ctx, const Arguments& args);
int RunBackupPeriodVia(Context& ctx, const Arguments& args, client::EnclosureAccess& access);

client::PeriodRequest PeriodOf(const Arguments& args);

}  // namespace raid::cli
