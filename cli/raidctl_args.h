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
    // monitor: the window program or another monitor drives the enclosures.
    kExitHeldElsewhere = 8,
};

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
};

// The status poll interval of the window program's poll tick.
inline constexpr std::uint32_t kDefaultMonitorIntervalMs = 5000;

struct Arguments {
    Command command = Command::None;
    bool json = false;
    bool simulate = false;
    std::string scenario;  // empty: the default scenario
    std::string disk;      // number or device path, as typed (optional for status)
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
    bool ok() const { return error.empty(); }
};

// `args` without the program name.
ParseResult ParseArguments(std::span<const std::string_view> args);

// Where the program ends at its command line: prints the --help or --version
// text on `out` (exit 0) or the error as one line on `err` (exit 1). Nullopt,
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
