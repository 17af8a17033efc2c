#pragma once
// The command line of raidctl, parsed into plain values so that the rules
// (which codes may be sent, which take parameters) are checked before any
// disk is touched.
#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace raid::cli {

// None: --help or --version was given, or the command line is not valid.
enum class Command {
    None,
    Disks,
    Query,
    List,
    Status,
    Smart,
    Monitor,
    Buzzer,
    BackupPeriod,
    CheckFirmware,
    Flash,
    ReadFlash,
    MakeBin,
    MailTest,
    MailSettings,
    Jobs,
};

// The exit codes of every command; docs/raidctl-exit-codes.md and the manual
// page carry the same table.
enum ExitCode : int {
    kExitOk = 0,
    kExitUsage = 1,
    kExitCannotOpen = 2,
    kExitCommandFailed = 3,
    kExitSmartError = 4,
    // check-firmware, flash, make-bin: the file or image was refused.
    kExitRefused = 5,
    // The enclosure answered a setting, but read back it still has the old one.
    kExitSettingNotTaken = 6,
    // flash: the flash was changed but does not hold the image.
    kExitFlashUnknown = 7,
    // From here on the values of sysexits.h: above the health bits (0..31)
    // of `monitor --once`, so that no error of monitor reads as a health sum.
    // monitor: the command line is not valid.
    kExitMonitorUsage = 64,
    // The service is not there; monitor: no enclosure and none followed.
    kExitUnavailable = 69,
    // monitor: an error the program did not foresee.
    kExitInternal = 70,
    // Busy: another program holds the machine lock, or the enclosure is
    // being flashed.
    kExitBusy = 75,
    // Not authorized: this user may not drive the enclosures; monitor: the
    // disks could not be opened for want of rights.
    kExitNotAuthorized = 77,
    // monitor: the log folder is not usable; the lock folder is not safe.
    kExitConfig = 78,
};

// The exit code of a command line that is not valid, or of an error not
// foreseen, for `command`: monitor's may not look like a health sum.
int UsageExitCode(Command command);
int InternalErrorExitCode(Command command);

// The status poll interval of the window program's poll tick.
inline constexpr std::uint32_t kDefaultMonitorIntervalMs = 5000;

struct Arguments {
    Command command = Command::None;
    bool json = false;
    bool simulate = false;
    std::string scenario;  // empty: the default scenario
    std::string disk;      // number or device path, as typed (optional for status)
    // Open the disks in this process even where the service could serve.
    bool direct = false;
    // Through the service: polkit must not ask for a password.
    bool noAskPassword = false;
    std::uint8_t code = 0;
    bool hasParams = false;
    std::array<std::uint8_t, 3> params{};
    // monitor: the log folder (empty: the folder of the executable), how many
    // polls (0: until a signal) and the time between poll starts.
    std::string logDir;
    std::uint32_t polls = 0;
    std::uint32_t intervalMs = kDefaultMonitorIntervalMs;
    // monitor: one poll, then the health bit mask as exit status; the
    // node_exporter textfile to keep (empty: none); the poll's steps on
    // standard error.
    bool once = false;
    std::string metricsFile;
    bool verbose = false;
    // buzzer: mute on (true) or off.
    bool mute = false;
    // backup-period: "off" (preset 0), "preset N" (1..3), or a user period
    // of `days` (0..30) and `hours` (0..23).
    std::uint8_t preset = 0;
    bool userPeriod = false;
    std::uint32_t days = 0;
    std::uint32_t hours = 0;
    // check-firmware and flash: the firmware file; read-flash and make-bin:
    // where the bytes go.
    std::string file;
    std::string outFile;
    // flash: save the range to be erased here first; no confirmation asked.
    std::string backupFile;
    bool yes = false;
    // jobs: until every running job has ended; exit kExitBusy while one runs
    // (for scripts that must not stop the service in the middle of a flash).
    bool wait = false;
    bool checkRunning = false;
    // read-flash: bytes from address 0 (none: the whole flash).
    std::optional<std::uint32_t> length;
    // make-bin, as typed: checked by the image builder's own rules.
    std::string bootFile;
    std::vector<std::string> subCodes;  // FILE[:TYPE[:FLAG]]
    std::string imageSize = "auto";
    std::vector<std::string> settings;  // NAME=VALUE
    std::optional<std::uint32_t> fillerSeed;
    // mail-test, mail-settings: the e-mail settings file (empty: the
    // machine-wide one).
    std::string settingsFile;
    // mail-settings: store "Require TLS" on or off first (none: leave it).
    std::optional<bool> requireTls;
};

struct ParseResult {
    Arguments args;
    // --help or --version: the text to print; no command runs.
    std::string info;
    // Why the command line is not valid, on one line; empty when it is.
    std::string error;
    // The exit code of that error: UsageExitCode of the command it names.
    int errorExit = kExitUsage;
    bool ok() const { return error.empty(); }
};

// `args` without the program name.
ParseResult ParseArguments(std::span<const std::string_view> args);

// Where the program ends at its command line: prints the --help or --version
// text on `out` (exit 0) or the error as one line on `err` (exit 1, monitor
// 64). Nullopt,
// with nothing printed, when a command is to run.
std::optional<int> AnswerCommandLine(const ParseResult& parsed, std::ostream& out,
                                     std::ostream& err);

// `text` as one line for a terminal's error stream: a line break becomes a
// blank, any other control character \xNN, so that neither a message's own
// lines nor what was typed (and is quoted back) can start another line.
std::string OneLine(std::string_view text);

// "0x1F", "0X1f" or "1f": one byte in hexadecimal.
std::optional<std::uint8_t> ParseHexByte(std::string_view text);
// Decimal digits only (no sign, no blanks, no "0x"), at most `max`.
std::optional<std::uint32_t> ParseDecimal(
    std::string_view text, std::uint32_t max = std::numeric_limits<std::uint32_t>::max());

// Codes `query` may send: the status and settings commands. The SPI and
// member-disk commands have their own operations.
bool IsQueryCode(std::uint8_t code);
// Codes whose C1..C3 come from the parameters.
bool TakesParameters(std::uint8_t code);

}  // namespace raid::cli
