#include "cli/raidctl_args.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <memory>
#include <vector>

#include "cli/raidctl_output.h"
#include "common/state.h"
#include "common/version.h"
#include "device/protocol.h"
#include "mail/settings_store.h"
#include "platform/program_folder.h"

namespace raid::cli {
namespace {

// Bounds of the monitor options: at least one poll; an interval short enough
// to be a typo (a poll alone takes 0.4 s) or longer than a day is refused.
constexpr std::uint32_t kMaxPolls = 100000000;
constexpr std::uint32_t kMinIntervalMs = 100;
constexpr std::uint32_t kMaxIntervalMs = 24 * 60 * 60 * 1000;
// A user period as the window offers it: 0..30 days and 0..23 hours.
constexpr std::uint32_t kMaxPeriodDays = 30;
constexpr std::uint32_t kMaxPeriodHours = 23;

const char* const kSettingExitCodes =
    "Exit codes: 0 the enclosure took the setting; 1 it has no such setting, or the\n"
    "period does not fit it; 2 DISK is not a disk or cannot be opened; 3 no\n"
    "enclosure on DISK, or it did not answer; 6 it answered but kept its old\n"
    "setting; 75 another program drives the enclosures (it is named); 77 not\n"
    "root; 78 the lock folder is not safe.";

// The whole of `text` as an unsigned number in `base`; nullopt for anything
// else, an empty text included.
std::optional<std::uint32_t> ParseWhole(std::string_view text, int base) {
    std::uint32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, ec] = std::from_chars(text.data(), end, value, base);
    if (text.empty() || ec != std::errc{} || stop != end) return std::nullopt;
    return value;
}

// Checks a number text with `parse` and hands CLI11 the value in plain
// decimal, which is all its own conversion then reads: it would take "010"
// as octal and "0x10" for a count.
template <typename Parse>
CLI::Validator NumberText(Parse parse, const std::string& what) {
    return CLI::Validator(
        [parse, what](std::string& text) -> std::string {
            const auto value = parse(text);
            if (!value) return text + " is not " + what;
            text = std::to_string(*value);
            return {};
        },
        "");
}

CLI::Validator DecimalIn(std::uint32_t min, std::uint32_t max) {
    return NumberText(
        [min, max](std::string_view text) {
            const auto value = ParseDecimal(text, max);
            return value && *value >= min ? value : std::nullopt;
        },
        "a number from " + std::to_string(min) + " to " + std::to_string(max));
}

// A positional hexadecimal byte ("0x1F" or "1f").
CLI::Option* AddHexByte(CLI::App& app, const std::string& name, std::uint8_t& value,
                        const std::string& help) {
    return app.add_option(name, value, help)
        ->type_name("HEX")
        ->transform(NumberText(ParseHexByte, "one hexadecimal byte (like 0x10 or 10)"));
}

const CLI::Validator kNotEmpty(
    [](std::string& text) { return text.empty() ? std::string("must not be empty") : ""; }, "");

// CLI11 shows a flag whose value may follow '=' as "--simulate{} SCENARIO";
// the help spells it as it is typed.
class HelpFormatter final : public CLI::Formatter {
public:
    std::string make_option_name(const CLI::Option* option, bool positional) const override {
        std::string name = CLI::Formatter::make_option_name(option, positional);
        if (option->get_fnames().empty()) return name;
        return name.substr(0, name.find('{')) + "[=" + option->get_type_name() + "]";
    }
    std::string make_option_opts(const CLI::Option* option) const override {
        return option->get_fnames().empty() ? CLI::Formatter::make_option_opts(option) : "";
    }
};

// --json on the program and on each command with data, so that it may come
// before or after the command and the command's help lists it.
void AddJsonFlag(CLI::App& app, Arguments& a, const std::string& help = "print data as JSON") {
    app.add_flag("--json", a.json, help);
}

// A subcommand that selects `command` when given.
CLI::App* AddCommand(CLI::App& app, Arguments& a, Command command, const std::string& name,
                     const std::string& description) {
    CLI::App* sub = app.add_subcommand(name, description);
    sub->preparse_callback([&a, command](std::size_t) { a.command = command; });
    return sub;
}

void AddDisksCommand(CLI::App& app, Arguments& a) {
    CLI::App* sub =
        AddCommand(app, a, Command::Disks, "disks", "list the physical disks with their numbers");
    AddJsonFlag(*sub, a);
}

void AddListCommand(CLI::App& app, Arguments& a) {
    CLI::App* sub = AddCommand(app, a, Command::List, "list",
                               "find the enclosures (one discovery) and list them");
    AddJsonFlag(*sub, a);
    sub->footer("Exit codes: 0 an enclosure was found, 1 none was.");
}

void AddStatusCommand(CLI::App& app, Arguments& a) {
    CLI::App* sub = AddCommand(app, a, Command::Status, "status",
                               "poll Device1 and Device2 once and show their state");
    sub->add_option("DISK", a.disk, "only the enclosure on this disk")->check(kNotEmpty);
    AddJsonFlag(*sub, a);
    sub->footer(
        "Shows array, members, rebuild, fan, temperature and buzzer.\n"
        "Exit codes: 0 every polled device answered; 2 DISK is not a disk, or no\n"
        "enclosure was found because disks could not be opened; 3 no enclosure was\n"
        "found, DISK holds none, or a poll failed.");
}

void AddSmartCommand(CLI::App& app, Arguments& a) {
    CLI::App* sub = AddCommand(app, a, Command::Smart, "smart",
                               "read the SMART data of the member disks of the enclosure on DISK");
    sub->add_option("DISK", a.disk, "the enclosure's disk")->required()->check(kNotEmpty);
    AddJsonFlag(*sub, a);
    sub->footer(
        "Reads the thresholds, then IDENTIFY word 106 and the attribute data of each\n"
        "member disk, and shows every attribute with its status and each disk's\n"
        "verdict, as the window program's SMART page does.\n"
        "Exit codes: 0 both reads were answered; 2 DISK is not a disk, or no enclosure\n"
        "was found because disks could not be opened; 3 DISK holds no enclosure, or\n"
        "the controller did not answer a read in full; 4 a disk's verdict is Error.");
}

void AddQueryCommand(CLI::App& app, Arguments& a) {
    CLI::App* sub = AddCommand(app, a, Command::Query, "query",
                               "send command CODE to DISK, show the reply sector");
    sub->add_option("DISK", a.disk, "the disk to send to")->required()->check(kNotEmpty);
    AddHexByte(*sub, "CODE", a.code, "command code")->required();
    std::array<CLI::Option*, 3> params{};
    for (std::size_t i = 0; i < params.size(); ++i) {
        const std::string n = std::to_string(i + 1);
        params[i] = AddHexByte(*sub, "P" + n, a.params[i], "parameter byte C" + n);
    }
    AddJsonFlag(*sub, a);
    sub->footer(
        "CODE and P1..P3 are hexadecimal bytes (0x10 or 10). CODE is one of 0x10 0x11\n"
        "0x15 0x17 0x70..0x78; codes 0x76..0x78 need P1 P2 P3, the others take none.\n"
        "Exit codes: 0 the controller answered success; 2 DISK cannot be opened or is\n"
        "not a disk; 3 the command failed or no enclosure controller answered.");
    sub->callback([&a, params] {
        const auto given = std::count_if(params.begin(), params.end(),
                                         [](const CLI::Option* p) { return p->count() > 0; });
        if (given != 0 && given != 3)
            throw CLI::ValidationError("P1 P2 P3", "give all three parameters or none");
        a.hasParams = given == 3;
        const std::string command = "command " + HexByte(a.code);
        if (!IsQueryCode(a.code))
            throw CLI::ValidationError("CODE", command +
                                                   " is not sent by query; the codes are 0x10 "
                                                   "0x11 0x15 0x17 and 0x70..0x78");
        if (a.hasParams && !TakesParameters(a.code))
            throw CLI::ValidationError("P1", command + " takes no parameters (only 0x76..0x78 do)");
        if (!a.hasParams && TakesParameters(a.code))
            throw CLI::ValidationError("CODE", command + " needs the three parameters P1 P2 P3");
    });
}

void AddSettingsFileOption(CLI::App& sub, Arguments& a) {
    sub.add_option(
           "--settings", a.settingsFile,
           "the e-mail settings file (default: " + mail::DefaultSettingsFile().string() + ")")
        ->type_name("FILE")
        ->check(kNotEmpty);
}

void AddMonitorCommand(CLI::App& app, Arguments& a) {
    CLI::App* sub = AddCommand(app, a, Command::Monitor, "monitor",
                               "poll Device1 and Device2, keep the day's event log");
    sub->add_option("--log-dir", a.logDir,
                    "the event log folder (default: $LOGS_DIRECTORY under systemd, else " +
                        platform::InstalledLogFolder().string() + ")")
        ->type_name("DIR")
        ->check(kNotEmpty);
    sub->add_option("--polls", a.polls, "end after N polls (default: never)")
        ->type_name("N")
        ->transform(DecimalIn(1, kMaxPolls));
    sub->add_option(
           "--interval-ms", a.intervalMs,
           "time between poll starts (default " + std::to_string(kDefaultMonitorIntervalMs) + ")")
        ->type_name("MS")
        ->transform(DecimalIn(kMinIntervalMs, kMaxIntervalMs));
    sub->add_flag("--once", a.once,
                  "one discovery, one poll and SMART read, then exit with the health bits");
    sub->add_option("--metrics", a.metricsFile,
                    "at the start and after every poll, write FILE for node_exporter's textfile "
                    "collector")
        ->type_name("FILE")
        ->check(kNotEmpty);
    sub->add_flag("--verbose", a.verbose, "also print each step of the status poll");
    AddSettingsFileOption(*sub, a);
    AddJsonFlag(*sub, a, "print each log line as a JSON object");
    sub->footer(
        "Keeps the day's event log DIR/yymmdd.log as the window program does and\n"
        "prints each new log line (under systemd, to the journal). DIR defaults\n"
        "to systemd's LogsDirectory=, else to the installed copy's log folder,\n"
        "which its window program shares. Reads the member disks' SMART data\n"
        "every minute. Follows\n"
        "enclosures plugged in or removed (not with --simulate). Ends after N polls\n"
        "or on SIGINT/SIGTERM; SIGHUP reads the e-mail settings again. Mails the\n"
        "notifications the window program mails. One program at a time per machine\n"
        "drives the enclosures: while the window program or another monitor holds\n"
        "the lock, monitor says whom it waits for and waits.\n"
        "Exit codes: 0 N polls done or stopped by a signal; 64 usage; 69 no\n"
        "enclosure was found and none are followed (--simulate, or udev cannot be\n"
        "reached); 70 an error not foreseen; 75 --once: another program holds the\n"
        "lock; 77 not root, or no enclosure was found because disks could not be\n"
        "opened; 78 the log folder is not usable, or the lock folder is not safe.\n"
        "With --once the exit status is otherwise a bit mask: 1 no enclosure found,\n"
        "2 a member disk absent or failed, 4 a rebuild running, 8 a controller did\n"
        "not answer, 16 a SMART verdict Error; 0 all healthy.");
}

void AddBuzzerCommand(CLI::App& app, Arguments& a) {
    CLI::App* sub = AddCommand(app, a, Command::Buzzer, "buzzer",
                               "mute the buzzer of the enclosure on DISK, or let it sound");
    sub->add_option("DISK", a.disk, "the enclosure's disk")->required()->check(kNotEmpty);
    auto mute = std::make_shared<std::string>();
    sub->add_option("MUTE", *mute, "on: mute the buzzer; off: let it sound again")
        ->required()
        ->type_name("on|off")
        ->check(CLI::IsMember({"on", "off"}));
    AddJsonFlag(*sub, a);
    sub->footer(
        "Sends the setting, then polls the enclosure and shows its state as 'status'\n"
        "does.\n" +
        std::string(kSettingExitCodes));
    sub->callback([&a, mute] { a.mute = *mute == "on"; });
}

void AddBackupPeriodCommand(CLI::App& app, Arguments& a) {
    CLI::App* sub = AddCommand(app, a, Command::BackupPeriod, "backup-period",
                               "set the schedule-backup period of the enclosure on DISK");
    sub->add_option("DISK", a.disk, "the enclosure's disk")->required()->check(kNotEmpty);
    auto words = std::make_shared<std::vector<std::string>>();
    sub->add_option("PERIOD", *words, "off, preset N, or DAYS HOURS")->required()->type_name("");
    AddJsonFlag(*sub, a);
    sub->footer(
        "PERIOD is 'off', 'preset N' (N = 1, 2 or 3: the enclosure's presets in the\n"
        "order the window lists them), or DAYS (0..30) and HOURS (0..23) of a user\n"
        "period; HOURS must be a multiple of the enclosure's period unit. Sends the\n"
        "setting, then polls the enclosure and shows its state as 'status' does.\n" +
        std::string(kSettingExitCodes));
    sub->callback([&a, words] {
        const std::vector<std::string>& w = *words;
        if (w.size() == 1 && w[0] == "off") return;
        if (w.size() == 2 && w[0] == "preset") {
            const auto n = ParseDecimal(w[1], 3);
            if (!n || *n == 0) throw CLI::ValidationError("PERIOD", "preset N: N is 1, 2 or 3");
            a.preset = static_cast<std::uint8_t>(*n);
            return;
        }
        const auto days = w.size() == 2 ? ParseDecimal(w[0], kMaxPeriodDays) : std::nullopt;
        const auto hours = w.size() == 2 ? ParseDecimal(w[1], kMaxPeriodHours) : std::nullopt;
        if (!days || !hours)
            throw CLI::ValidationError(
                "PERIOD", "give off, preset N, or DAYS (0..30) and HOURS (0..23) as numbers");
        a.userPeriod = true;
        a.days = *days;
        a.hours = *hours;
    });
}

void AddMailTestCommand(CLI::App& app, Arguments& a) {
    CLI::App* sub = AddCommand(app, a, Command::MailTest, "mail-test",
                               "send the test mail with the stored e-mail settings");
    AddSettingsFileOption(*sub, a);
    sub->footer(
        "Sends the E-mail page's test mail, to the sender's own address, and prints\n"
        "each step of the SMTP exchange (never the password or the message text).\n"
        "Where the service runs and no --settings is given, the service sends it with\n"
        "its own settings (polkit action org.raidenclosure.manager.test-mail).\n"
        "Exit codes: 0 the server took the mail; 1 usage; 3 no settings are stored,\n"
        "the settings file cannot be read, or the mail was not sent (the reason is\n"
        "on standard error); 69 the service went away; 77 polkit refused.");
}

void AddMailSettingsCommand(CLI::App& app, Arguments& a) {
    CLI::App* sub = AddCommand(app, a, Command::MailSettings, "mail-settings",
                               "show the stored e-mail settings (the password hidden)");
    AddSettingsFileOption(*sub, a);
    auto requireTls = std::make_shared<std::string>();
    CLI::Option* option =
        sub->add_flag("--require-tls{on}", *requireTls,
                      "first store whether mail may only go with TLS (default: on)")
            ->type_name("on|off")
            ->check(CLI::IsMember({"on", "off"}).description(""));
    AddJsonFlag(*sub, a);
    sub->footer(
        "With --require-tls no mail goes without TLS: a server that does not offer\n"
        "STARTTLS, or whose certificate does not verify, gets nothing past EHLO.\n"
        "Without it STARTTLS is used whenever the server offers it.\n"
        "Where the service runs and no --settings is given, these are the service's\n"
        "settings, read and stored through it (polkit action\n"
        "org.raidenclosure.manager.mail-settings).\n"
        "Exit codes: 0 the settings were shown, or the file holds none; 1 usage; 3 the\n"
        "settings file cannot be read or is not a settings file, or --require-tls\n"
        "found no settings or could not write them; 69 the service went away; 77\n"
        "polkit refused.");
    sub->callback([&a, requireTls, option] {
        if (option->count() > 0) a.requireTls = *requireTls == "on";
    });
}

void AddJobsCommand(CLI::App& app, Arguments& a) {
    CLI::App* sub = AddCommand(app, a, Command::Jobs, "jobs",
                               "list the service's firmware jobs, running and finished");
    sub->add_flag("--wait", a.wait, "wait until every running job has ended");
    sub->add_flag("--check", a.checkRunning, "exit 75 while a job is running");
    AddJsonFlag(*sub, a);
    sub->footer(
        "Stopping the service waits for a running job, so a package upgrade asks\n"
        "`raidctl jobs --check` first.\n"
        "Exit codes: 0 listed (with --wait: every job ended; with --check: none runs);\n"
        "69 the service does not run; 75 with --check: a job is running.");
}

// A byte count: decimal, or hexadecimal after 0x.
std::optional<std::uint32_t> ParseByteCount(std::string_view text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        return ParseWhole(text.substr(2), 16);
    return ParseDecimal(text);
}

// DISK, then FILE or OUT: the positionals of the firmware commands.
void AddDiskAndFile(CLI::App& sub, Arguments& a, const std::string& fileName, std::string& file,
                    const std::string& fileHelp) {
    sub.add_option("DISK", a.disk, "the enclosure's disk")->required()->check(kNotEmpty);
    sub.add_option(fileName, file, fileHelp)->required()->check(kNotEmpty);
}

void AddCheckFirmwareCommand(CLI::App& app, Arguments& a) {
    CLI::App* sub = AddCommand(app, a, Command::CheckFirmware, "check-firmware",
                               "check a firmware file against the enclosure on DISK");
    AddDiskAndFile(*sub, a, "FILE", a.file, "the firmware file");
    sub->footer(
        "Loads FILE as the window's Load button does and prints its byte sum, the\n"
        "device's and the file's firmware codes, and the verdict.\n"
        "Exit codes: 0 the file would be accepted; 2 DISK is not a disk, or no\n"
        "enclosure was found because disks could not be opened; 3 DISK holds no\n"
        "enclosure; 5 the file is refused (the refusal is printed).");
}

void AddFlashCommand(CLI::App& app, Arguments& a) {
    CLI::App* sub = AddCommand(app, a, Command::Flash, "flash",
                               "rewrite the firmware of the enclosure on DISK with FILE");
    AddDiskAndFile(*sub, a, "FILE", a.file, "the firmware file");
    sub->add_option("--backup", a.backupFile,
                    "first save the flash range that will be erased to OUT (its folder must "
                    "exist); nothing is erased unless OUT is safely on disk")
        ->type_name("OUT")
        ->check(kNotEmpty);
    sub->add_flag("--yes", a.yes, "do not ask for confirmation (needed off a terminal)");
    sub->footer(
        "Checks FILE as check-firmware does, then erases, programs, reads back and\n"
        "compares, with a progress bar on a terminal and progress lines otherwise.\n"
        "SIGINT, SIGTERM and SIGHUP stop the run only before anything is erased;\n"
        "from the erase on they are refused until the read-back is compared.\n"
        "Exit codes: 0 \"SPI Verify OK\": the flash holds FILE; 1 usage, or off a\n"
        "terminal without --yes; 2 DISK is not a disk or cannot be opened; 3 DISK\n"
        "holds no enclosure, the answer was no, or the backup failed (nothing\n"
        "erased); 5 FILE is refused (nothing erased); 7 the flash was changed but\n"
        "does not hold FILE: do not unplug, run flash again; 75 another program\n"
        "drives the enclosures (it is named); 77 not root; 78 the lock folder is\n"
        "not safe.");
}

void AddReadFlashCommand(CLI::App& app, Arguments& a) {
    CLI::App* sub = AddCommand(app, a, Command::ReadFlash, "read-flash",
                               "save the SPI flash of the enclosure on DISK to OUT");
    AddDiskAndFile(*sub, a, "OUT", a.outFile, "the file to write");
    auto length = std::make_shared<std::uint32_t>(0);
    CLI::Option* option =
        sub->add_option("--length", *length,
                        "bytes from address 0, decimal or 0x hex (default: the whole flash its "
                        "type byte implies)")
            ->type_name("BYTES")
            ->transform(NumberText(
                [](std::string_view text) {
                    const auto value = ParseByteCount(text);
                    return value && *value > 0 && *value <= 0x800000 ? value : std::nullopt;
                },
                "a byte count from 1 to 0x800000"));
    sub->footer(
        "Exit codes: 0 OUT holds the flash; 1 usage, or the flash size is not known\n"
        "(give --length); 2 DISK is not a disk or cannot be opened; 3 DISK holds no\n"
        "enclosure, a read failed, or OUT cannot be written.");
    sub->callback([&a, length, option] {
        if (option->count() > 0) a.length = *length;
    });
}

void AddMakeBinCommand(CLI::App& app, Arguments& a) {
    CLI::App* sub = AddCommand(app, a, Command::MakeBin, "make-bin",
                               "build a flash image from a boot loader and sub-codes");
    sub->add_option("--boot", a.bootFile, "the boot loader")
        ->required()
        ->type_name("FILE")
        ->check(kNotEmpty);
    sub->add_option("--sub", a.subCodes,
                    "a sub-code, in order; TYPE (26 or 1AH) and FLAG (TRUE or FALSE) default "
                    "to the name's type and TRUE")
        ->type_name("FILE[:TYPE[:FLAG]]");
    sub->add_option("--size", a.imageSize, "auto (L + 0x8000), 1M, 2M, 4M or 8M bits")
        ->type_name("auto|SIZE");
    sub->add_option("--setting", a.settings, "a setting of the Setting tab")
        ->type_name("NAME=VALUE");
    auto seed = std::make_shared<std::uint32_t>(0);
    CLI::Option* seedOption =
        sub->add_option("--seed", *seed, "seed of the filler (default: the time)")
            ->type_name("N")
            ->transform(DecimalIn(0, std::numeric_limits<std::uint32_t>::max()));
    sub->add_option("--out", a.outFile, "the image; its extension becomes .bin")
        ->required()
        ->type_name("FILE")
        ->check(kNotEmpty);
    sub->footer(
        "Builds the image as the \"Make Bin\" window (Ctrl+Shift+B) does; the same inputs\n"
        "and seed give the same bytes. SIZE may also be a byte count: 0x20000, 0x40000,\n"
        "0x80000 or 0x100000 (decimal too).\n"
        "Settings (defaults as in the window): raid-mode-by-jumper=on|off (on),\n"
        "chip-5080a=on|off (on), fans=N (1), fan-alarm=RPM (2000), thermal-sensors=N\n"
        "(1), thermal-alarm=C (50), schedule-backup=on|off (off), fast-backup=on|off\n"
        "(off). Numbers are decimal or hexadecimal with H (1AH).\n"
        "Exit codes: 0 the image was saved; 1 usage; 3 the image cannot be written;\n"
        "5 the builder refused the files or the size (nothing written).");
    sub->callback([&a, seed, seedOption] {
        if (seedOption->count() > 0) a.fillerSeed = *seed;
    });
}

// Each command adds itself; a new command is one more function here.
constexpr void (*kCommands[])(CLI::App&, Arguments&) = {
    AddDisksCommand,         AddListCommand,         AddStatusCommand,    AddSmartCommand,
    AddQueryCommand,         AddMonitorCommand,      AddBuzzerCommand,    AddBackupPeriodCommand,
    AddCheckFirmwareCommand, AddFlashCommand,        AddReadFlashCommand, AddMakeBinCommand,
    AddMailTestCommand,      AddMailSettingsCommand, AddJobsCommand,
};

void DefineCommandLine(CLI::App& app, Arguments& a) {
    app.formatter(std::make_shared<HelpFormatter>());
    // The program's options (--json, --simulate) may also follow the command.
    app.fallthrough();
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("raidctl ") + kVersionText);
    AddJsonFlag(app, a, "print data as JSON (also after the command)");
    const CLI::Option* simulate =
        app.add_flag("--simulate{}", a.scenario, "use emulated enclosures instead of the disks")
            ->type_name("SCENARIO");
    app.callback([&a, simulate] { a.simulate = simulate->count() > 0; });
    app.add_flag("--direct", a.direct,
                 "open the disks in this process; refused while the service runs");
    app.add_flag("--no-ask-password", a.noAskPassword,
                 "through the service: never ask for a password (for scripts)");
    app.footer(
        "SCENARIO+SCENARIO... plugs several emulated enclosures.\n"
        "DISK is a physical disk number (see 'raidctl disks') or a device path such as\n"
        "/dev/loop0. Run 'raidctl COMMAND --help' for the options of a command.\n"
        "Exit codes:\n"
        "  0   success\n"
        "  1   usage (list: no enclosure found)\n"
        "  2   cannot open the disk\n"
        "  3   the command failed or the controller did not answer\n"
        "  4   smart: a disk's SMART verdict is Error\n"
        "  5   a firmware file or image was refused (nothing written)\n"
        "  6   a setting was answered but not taken\n"
        "  7   flash: the flash was changed but does not hold the file\n"
        "  64  monitor: usage\n"
        "  69  the service is unavailable; monitor: no enclosure, none followed\n"
        "  70  monitor: an error not foreseen\n"
        "  75  busy: another program drives the enclosures, or flashes this one\n"
        "  77  not authorized: not root; monitor: disks could not be opened\n"
        "  78  monitor: the log folder is not usable; the lock folder is not safe\n"
        "monitor --once: once its poll is done, the sum of its health bits, 0 to 31\n"
        "(see 'raidctl monitor --help').");
    for (const auto add : kCommands) add(app, a);
}

}  // namespace

std::optional<std::uint8_t> ParseHexByte(std::string_view text) {
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text.remove_prefix(2);
    if (text.size() > 2) return std::nullopt;
    const auto value = ParseWhole(text, 16);
    if (!value) return std::nullopt;
    return static_cast<std::uint8_t>(*value);
}

std::optional<std::uint32_t> ParseDecimal(std::string_view text, std::uint32_t max) {
    const auto value = ParseWhole(text, 10);
    if (!value || *value > max) return std::nullopt;
    return value;
}

int UsageExitCode(Command command) {
    return command == Command::Monitor ? kExitMonitorUsage : kExitUsage;
}

int InternalErrorExitCode(Command command) {
    return command == Command::Monitor ? kExitInternal : kExitCommandFailed;
}

bool IsQueryCode(std::uint8_t code) {
    namespace cmd = device::cmd;
    return code == cmd::kIdentify || code == cmd::kInformation || code == cmd::kRebuildProgress ||
           code == cmd::kArrayStatus || (code >= cmd::kBuzzerMuteOn && code <= cmd::kSetting);
}

bool TakesParameters(std::uint8_t code) {
    return code >= device::cmd::kParamCommand76 && code <= device::cmd::kSetting;
}

ParseResult ParseArguments(std::span<const std::string_view> args) {
    ParseResult result;
    CLI::App app("raidctl: headless access to the RAID enclosures, for scripts and diagnostics",
                 "raidctl");
    DefineCommandLine(app, result.args);
    // CLI11 takes the words last first.
    std::vector<std::string> words(args.rbegin(), args.rend());
    try {
        app.parse(words);
    } catch (const CLI::CallForHelp&) {
        result.info = app.help();
        result.args.command = Command::None;
    } catch (const CLI::CallForVersion& e) {
        result.info = std::string(e.what()) + "\n";
        result.args.command = Command::None;
    } catch (const CLI::ParseError& e) {
        const auto used = app.get_subcommands();
        const auto unread = app.remaining();
        // CLI11 checks for a command before it looks at the words it could
        // not place, and would only say that a command is required.
        if (!used.empty() || unread.empty())
            result.error = e.what();
        else if (unread.front().starts_with('-'))
            result.error = CLI::ExtrasError(unread).what();
        else
            result.error = "unknown command " + unread.front();
        result.error +=
            " (see 'raidctl" + (used.empty() ? "" : " " + used.front()->get_name()) + " --help')";
        result.errorExit = UsageExitCode(result.args.command);
        result.args.command = Command::None;
    }
    // CLI11 reads an empty value after '=' as none at all; an empty scenario
    // name is a typo, not the default.
    if (result.ok() && result.info.empty() &&
        std::find(args.begin(), args.end(), "--simulate=") != args.end()) {
        result.error = "--simulate: needs a scenario name after '='";
        result.errorExit = UsageExitCode(result.args.command);
        result.args.command = Command::None;
    }
    return result;
}

std::string OneLine(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\n') {
            out += ' ';
        } else if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

std::optional<int> AnswerCommandLine(const ParseResult& parsed, std::ostream& out,
                                     std::ostream& err) {
    if (!parsed.ok()) {
        err << "raidctl: " << OneLine(parsed.error) << "\n";
        return parsed.errorExit;
    }
    if (!parsed.info.empty()) {
        out << parsed.info;
        return kExitOk;
    }
    return std::nullopt;
}

}  // namespace raid::cli
