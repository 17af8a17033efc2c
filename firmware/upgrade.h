#pragma once
// Rewriting the controller firmware in the SPI flash with the loaded image:
// erase, program, read back and compare, as one exclusive operation on one
// device, with the progress display and a final message.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/state.h"
#include "device/channel.h"
#include "firmware/firmware_state.h"
#include "firmware/upgrade_host.h"

namespace raid::firmware {

// What the upgrade shows of itself: its progress label, the refusal without
// an image, and the success message with its caption. A window that follows
// a flash run by the service shows them as for its own.
inline constexpr const char* kUpgradeLabel = "Firmware Update...";
inline constexpr const char* kNoImageText = "Please Load Firmware File First ";
inline constexpr const char* kSuccessText =
    "Firmware Upgrade 3/3 completed!\n"
    "\nPlease power off this device or the system,"
    "\nand power on it to enable the new firmware!";
inline constexpr const char* kSuccessCaption = "Firmware Upgrade Message";

enum class UpgradeOutcome {
    Busy,            // another operation held the flag: nothing happened at all
    NoImage,         // "Please Load Firmware File First "
    NoAnswer,        // the device did not answer the check right before the erase
    TypeUnknown,     // its flash type byte could not be read, at discovery nor now
    WrongProduct,    // "The firmware is not for this product.\nPlease check it."
    OtherEnclosure,  // the image was checked for another enclosure
    WrongType,       // "Incorrect Firmware Type! SPI = XX, BIN = YY"
    TooLarge,        // the image is larger than the flash part or the addressable flash
    Closing,         // the program was ending before anything was sent
    BackupFailed,    // the read before erasing failed: nothing erased
    EraseFailed,     // "SPI Erase Fail."
    ProgramFailed,   // "SPI Program Fail."
    ReadBackFailed,  // the read-back loop's final text
    VerifyFailed,    // "SPI Verify fail !!!"
    Done,            // "SPI Verify OK": the flash holds the image
};

struct UpgradeOptions {
    // Read the range that is about to be erased into UpgradeResult::backup
    // first; when that read fails, nothing is erased.
    bool backupFirst = false;
    // With backupFirst: given the backup before anything is erased; false
    // (it could not be kept, or the run is to stop) ends the run there,
    // with nothing erased.
    std::function<bool(const std::vector<std::uint8_t>& backup)> keepBackup;
};

struct UpgradeResult {
    UpgradeOutcome outcome = UpgradeOutcome::Busy;
    // The text of the final message; empty when none was shown.
    std::string finalText;
    // VerifyFailed: the first address whose read-back differs from the image.
    std::optional<std::uint32_t> firstDifference;
    // With backupFirst: the erase range as it was read before erasing.
    std::vector<std::uint8_t> backup;
    // Done despite an erase that stopped past the image's end (a flash of
    // unknown size that ends there): what the status line said of it.
    std::string warning;

    bool Succeeded() const { return outcome == UpgradeOutcome::Done; }
};

struct FlashRange {
    std::uint64_t start = 0;
    std::uint64_t length = 0;
};

// E: the image size rounded down to 8 KiB, plus 8 KiB.
std::uint64_t EraseLength(std::uint64_t imageSize);
// What the upgrade erases: from 0, 2 x E bytes when E <= 0x10000, else E.
FlashRange EraseRangeFor(std::uint64_t imageSize);
// The progress bar's maximum: (E / 128) x 2 + E / 4096 + 30.
std::uint64_t ProgressMaximumFor(std::uint64_t imageSize);

// The erase of an image of `imageSize` bytes on a flash of `flashSize`
// bytes (none: not known): the range above, cut at the end of the flash or
// of what the flash commands can address. An erase step that fails before
// `mustEnd` fails the upgrade; past it (only when the size is not known)
// every byte to be programmed is already erased, so a failure there ends
// the erase with a warning and the upgrade goes on.
struct ErasePlan {
    FlashRange range;
    std::uint64_t mustEnd = 0;
};
ErasePlan PlanErase(std::uint64_t imageSize, std::optional<std::uint32_t> flashSize);

// Why an image of `imageSize` bytes cannot be flashed on a flash of
// `flashSize` bytes (none: not known): it is larger than the flash or than
// what the flash commands can address. Empty when it fits.
std::string SizeRefusal(std::uint64_t imageSize, std::optional<std::uint32_t> flashSize);
// The same for device `deviceIndex` by the type byte discovery read.
std::string EraseRefusal(const AppState& state, int deviceIndex, std::uint64_t imageSize);

// The upgrade of device `deviceIndex` with fw.image. Blocking; pumps the
// host before every single-sector read. Does nothing (Busy) while an
// exclusive operation runs, so a second start from a pump is harmless. An
// image too short to hold the type byte at 0x95 counts as none loaded; one
// larger than the flash discovery found is refused before any command.
// Right before the erase the device is read afresh (its information reply
// and the type byte at flash 0x95; a type byte that cannot be read now
// keeps discovery's, and one read by neither refuses), and the image is
// checked against that reading: the product as the load checks it, the
// enclosure fw.checkedFor names, the type and the flash size. Any refusal
// erases nothing. After these checks, the phases "Process 1 / 3" (erase), "Process 2 / 3"
// (program) and "Process 3 / 3" (read back and compare) run in order, each
// only after the one before succeeded. The final message is the success
// message (caption "Firmware Upgrade Message") only when the read-back
// equals the image; after a loop that stopped at a chunk it is that loop's
// final text, which names the address; otherwise the status line's text
// (caption "Message"). The image stays loaded.
UpgradeResult RunUpgrade(AppState& state, FirmwareState& fw, device::CommandChannel& ch,
                         UpgradeHost& host, int deviceIndex, const UpgradeOptions& options = {});

}  // namespace raid::firmware
