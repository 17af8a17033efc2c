#include "cli/raidctl_settings.h"

#include "cli/local_access.h"
#include "cli/raidctl_status.h"

namespace raid::cli {

client::PeriodRequest PeriodOf(const Arguments& args) {
    client::PeriodRequest period;
    period.preset = args.preset;
    period.userPeriod = args.userPeriod;
    period.days = args.days;
    period.hours = args.hours;
    return period;
}

int RunBuzzerVia(Context& ctx, const Arguments& args, client::EnclosureAccess& access) {
    return PrintAnswer(ctx, args.json, access.SetBuzzer(args.disk, args.mute, CallOptionsOf(args)));
}

int RunBackupPeriodVia(Context& ctx, const Arguments& args, client::EnclosureAccess& access) {
    return PrintAnswer(ctx, args.json,
                       access.SetBackupPeriod(args.disk, PeriodOf(args), CallOptionsOf(args)));
}

int RunBuzzer(Context& ctx, const Arguments& args) {
    LocalAccess access(ctx);
    return RunBuzzerVia(ctx, args, access);
}

int RunBackupPeriod(Context& ctx, const Arguments& args) {
    LocalAccess access(ctx);
    return RunBackupPeriodVia(ctx, args, access);
}

}  // namespace raid::cli
