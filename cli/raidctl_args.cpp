#include "cli/raidctl_args.h"

#include <vector>

#include "device/protocol.h"

namespace raid::cli {
namespace {

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return c - 'A' + 10;
}

ParseResult Fail(std::string error) {
    ParseResult r;
    r.error = std::move(error);
    return r;
}

// Bounds of the monitor options: at least one poll; an interval short enough
// to be a typo (a poll alone takes 0.4 s) or longer than a day is refused.
constexpr std::uint32_t kMaxPolls = 100000000;
constexpr std::uint32_t kMinIntervalMs = 100;
constexpr std::uint32_t kMaxIntervalMs = 24 * 60 * 60 * 1000;

// A decimal number of at most `max`; nullopt for anything else.
std::optional<std::uint32_t> ParseCount(std::string_view text, std::uint32_t max) {
    if (text.empty() || text.size() > 10) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (value > max) return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

std::string Hex(std::uint8_t v) {
    static const char kDigits[] = "0123456789ABCDEF";
    return std::string("0x") + kDigits[v >> 4] + kDigits[v & 0xF];
}

}  // namespace

std::optional<std::uint8_t> ParseHexByte(std::string_view text) {
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text.remove_prefix(2);
    if (text.empty() || text.size() > 2) return std::nullopt;
    int value = 0;
    for (char c : text) {
        if (!IsHexDigit(c)) return std::nullopt;
        value = value * 16 + HexValue(c);
    }
    return static_cast<std::uint8_t>(value);
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
    Arguments& a = result.args;
    std::vector<std::string_view> words;
    bool help = false;
    bool monitorOption = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        // "--name VALUE" or "--name=VALUE"; nullopt when `arg` is another option.
        auto valueOf = [&](std::string_view name) -> std::optional<std::string_view> {
            if (arg.starts_with(name) && arg.size() > name.size() && arg[name.size()] == '=')
                return arg.substr(name.size() + 1);
            if (arg != name) return std::nullopt;
            if (i + 1 >= args.size()) return std::string_view{};
            return args[++i];
        };
        if (arg == "--json") {
            a.json = true;
        } else if (arg == "--simulate") {
            a.simulate = true;
        } else if (arg.starts_with("--simulate=")) {
            a.simulate = true;
            a.scenario = std::string(arg.substr(11));
            if (a.scenario.empty()) return Fail("--simulate= needs a scenario name");
        } else if (arg == "--help" || arg == "-h") {
            help = true;
        } else if (const auto dir = valueOf("--log-dir")) {
            if (dir->empty()) return Fail("--log-dir needs a folder");
            a.logDir = std::string(*dir);
            monitorOption = true;
        } else if (const auto polls = valueOf("--polls")) {
            const auto n = ParseCount(*polls, kMaxPolls);
            if (!n || *n == 0)
                return Fail("--polls needs a number from 1 to " + std::to_string(kMaxPolls));
            a.polls = *n;
            monitorOption = true;
        } else if (const auto interval = valueOf("--interval-ms")) {
            const auto n = ParseCount(*interval, kMaxIntervalMs);
            if (!n || *n < kMinIntervalMs)
                return Fail("--interval-ms needs a number of milliseconds from " +
                            std::to_string(kMinIntervalMs) + " to " +
                            std::to_string(kMaxIntervalMs));
            a.intervalMs = *n;
            monitorOption = true;
        } else if (arg.size() > 1 && arg[0] == '-' && !(arg[1] >= '0' && arg[1] <= '9')) {
            return Fail("unknown option " + std::string(arg));
        } else {
            words.push_back(arg);
        }
    }
    if (help) {
        a.command = Command::Help;
        return result;
    }
    if (words.empty()) return Fail("no command given");
    if (monitorOption && words[0] != "monitor")
        return Fail("--log-dir, --polls and --interval-ms are options of monitor");

    if (words[0] == "disks") {
        if (words.size() != 1) return Fail("disks takes no arguments");
        a.command = Command::Disks;
        return result;
    }
    if (words[0] == "list") {
        if (words.size() != 1) return Fail("list takes no arguments");
        a.command = Command::List;
        return result;
    }
    if (words[0] == "monitor") {
        if (words.size() != 1) return Fail("monitor takes no arguments, only options");
        a.command = Command::Monitor;
        return result;
    }
    if (words[0] == "status") {
        if (words.size() > 2) return Fail("status takes at most one DISK");
        a.command = Command::Status;
        if (words.size() == 2) {
            a.disk = std::string(words[1]);
            if (a.disk.empty()) return Fail("empty DISK");
        }
        return result;
    }
    if (words[0] != "query") return Fail("unknown command " + std::string(words[0]));

    a.command = Command::Query;
    if (words.size() != 3 && words.size() != 6)
        return Fail("query needs DISK and CODE, and either no parameters or all three");
    a.disk = std::string(words[1]);
    if (a.disk.empty()) return Fail("empty DISK");
    const auto code = ParseHexByte(words[2]);
    if (!code) return Fail("CODE must be one hexadecimal byte, like 0x10 or 10");
    a.code = *code;
    if (!IsQueryCode(a.code)) {
        return Fail("command " + Hex(a.code) +
                    " is not sent by query; the codes are 0x10 0x11 0x15 0x17 and 0x70..0x78");
    }
    if (words.size() == 6) {
        if (!TakesParameters(a.code))
            return Fail("command " + Hex(a.code) + " takes no parameters (only 0x76..0x78 do)");
        for (int i = 0; i < 3; ++i) {
            const auto p = ParseHexByte(words[3 + static_cast<std::size_t>(i)]);
            if (!p) return Fail("P" + std::to_string(i + 1) + " must be one hexadecimal byte");
            a.params[static_cast<std::size_t>(i)] = *p;
        }
        a.hasParams = true;
    } else if (TakesParameters(a.code)) {
        return Fail("command " + Hex(a.code) + " needs the three parameters P1 P2 P3");
    }
    return result;
}

std::string UsageText() {
    return "usage: raidctl [--simulate[=SCENARIO]] [--json] COMMAND [OPTIONS]\n"
           "\n"
           "commands:\n"
           "  disks                       list the physical disks with their numbers\n"
           "  list                        find the enclosures (one discovery) and list them\n"
           "  status [DISK]               find the enclosures, poll Device1 and Device2 once\n"
           "                              and show array, members, rebuild, fan, temperature\n"
           "                              and buzzer (only the enclosure on DISK if given)\n"
           "  query DISK CODE [P1 P2 P3]  send controller command CODE to DISK and show\n"
           "                              the reply sector\n"
           "  monitor [--log-dir DIR] [--polls N] [--interval-ms MS]\n"
           "                              find the enclosures once, then poll Device1 and\n"
           "                              Device2 every MS milliseconds (default 5000) and\n"
           "                              keep the day's event log DIR/yymmdd.log as the\n"
           "                              window program does, printing each new log line;\n"
           "                              DIR defaults to the folder of the raidctl\n"
           "                              executable (where the window program keeps its\n"
           "                              logs). Ends after N polls (default: never) or on\n"
           "                              SIGINT/SIGTERM. Enclosures plugged in or removed\n"
           "                              later are not noticed: restart to see them.\n"
           "\n"
           "DISK is a physical disk number or a device path such as /dev/loop0.\n"
           "CODE and P1..P3 are hexadecimal bytes (0x10 or 10). CODE is one of 0x10 0x11\n"
           "0x15 0x17 0x70..0x78; codes 0x76..0x78 need P1 P2 P3, the others take none.\n"
           "\n"
           "options:\n"
           "  --json                      print data as JSON (monitor: one object a line)\n"
           "  --simulate[=SCENARIO]       use emulated enclosures instead of the disks;\n"
           "                              SCENARIO+SCENARIO... plugs several enclosures\n"
           "  -h, --help                  show this text\n"
           "\n"
           "exit codes: 0 success (monitor: N polls done or stopped by a signal), 1 usage\n"
           "(list: no enclosure found), 2 cannot open the disk, 3 command failed or no\n"
           "reply (status: no enclosure or a poll failed; monitor: no enclosure)\n";
}

}  // namespace raid::cli
