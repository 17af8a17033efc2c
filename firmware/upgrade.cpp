#include "firmware/upgrade.h"

#include <algorithm>
#include <cstdio>

#include "firmware/exclusive_operation.h"
#include "firmware/flash_read.h"
#include "firmware/spi_ranges.h"

namespace raid::firmware {
namespace {

constexpr std::uint64_t kEraseGranule = 0x2000;
constexpr std::uint64_t kDoubleEraseLimit = 0x10000;
constexpr std::uint64_t kProgressSlack = 30;

const char* const kSuccessText =
    "Firmware Upgrade 3/3 completed!\n"
    "\nPlease power off this device or the system,"
    "\nand power on it to enable the new firmware!";

std::string Hex2(std::uint8_t value) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02X", value);
    return buf;
}

std::uint64_t WholeChunks(std::uint64_t length) {
    return (length + kSpiChunk - 1) / kSpiChunk * kSpiChunk;
}

DeviceSlot SlotOf(const AppState& state, int deviceIndex) {
    if (deviceIndex < 0 || deviceIndex >= kDeviceSlots) return {};
    return state.discovery.deviceSlots[static_cast<std::size_t>(deviceIndex)];
}

// The phases after the type check, from the optional backup to the compare.
class Phases {
public:
    Phases(AppState& state, FirmwareState& fw, device::CommandChannel& ch, UpgradeHost& host,
           ExclusiveOperation& op, UpgradeResult& result)
        : state_(state), fw_(fw), ch_(ch), host_(host), op_(op), result_(result) {}

    UpgradeOutcome Run(const UpgradeOptions& options);

    // What the final message says after a failure.
    const std::string& FailureText() const { return stopText_.empty() ? op_.Status() : stopText_; }

private:
    // Runs one range loop; remembers its final text when it stopped at a chunk.
    template <typename Loop>
    bool RunLoop(Loop loop) {
        const bool ok = loop();
        if (!ok && IsStopText(op_.Status())) stopText_ = op_.Status();
        host_.SetProgress(fw_.progressCounter);
        return ok;
    }

    AppState& state_;
    FirmwareState& fw_;
    device::CommandChannel& ch_;
    UpgradeHost& host_;
    ExclusiveOperation& op_;
    UpgradeResult& result_;
    std::string stopText_;
};

UpgradeOutcome Phases::Run(const UpgradeOptions& options) {
    const std::vector<std::uint8_t>& image = fw_.image.bytes;
    const auto size = static_cast<std::uint32_t>(image.size());
    const FlashRange erase = EraseRangeFor(size);
    const auto eraseStart = static_cast<std::uint32_t>(erase.start);
    const auto eraseLength = static_cast<std::uint32_t>(erase.length);
    const auto& notices = op_.Notices();

    if (options.backupFirst) {
        result_.backup.assign(WholeChunks(erase.length), 0);
        if (!RunLoop([&] {
                return ReadSpiRange(state_, ch_, eraseStart, eraseLength, result_.backup, notices);
            })) {
            result_.backup.clear();
            op_.SetStatus("SPI Backup Fail.");
            return UpgradeOutcome::BackupFailed;
        }
        result_.backup.resize(erase.length);
        if (options.keepBackup && !options.keepBackup(result_.backup)) {
            op_.SetStatus("SPI Backup Fail.");
            return UpgradeOutcome::BackupFailed;
        }
    }

    if (!RunLoop([&] {
            return EraseSpiRange(state_, ch_, eraseStart, eraseLength, notices,
                                 &fw_.progressCounter);
        })) {
        op_.SetStatus("SPI Erase Fail.");
        return UpgradeOutcome::EraseFailed;
    }
    op_.SetStatus("SPI Erase OK");
    host_.ShowPhase("Process 2 / 3");

    if (!RunLoop([&] {
            return WriteSpiRange(state_, ch_, 0, size, image, notices, &fw_.progressCounter);
        })) {
        op_.SetStatus("SPI Program Fail.");
        return UpgradeOutcome::ProgramFailed;
    }
    op_.SetStatus("SPI Program OK");

    std::vector<std::uint8_t> readBack(WholeChunks(size));
    host_.ShowPhase("Process 3 / 3");
    if (!RunLoop([&] {
            return ReadSpiRange(state_, ch_, 0, size, readBack, notices, &fw_.progressCounter);
        })) {
        // Without a chunk to name (the disk would not open), the loop
        // stopped before its first one.
        if (stopText_.empty()) op_.SetStatus("ReadSPI fail, Address = " + AddressText(0));
        return UpgradeOutcome::ReadBackFailed;
    }

    const auto diff = std::mismatch(image.begin(), image.end(), readBack.begin());
    if (diff.first != image.end()) {
        result_.firstDifference = static_cast<std::uint32_t>(diff.first - image.begin());
        op_.SetStatus("SPI Verify fail !!!");
        return UpgradeOutcome::VerifyFailed;
    }
    op_.SetStatus("SPI Verify OK");
    return UpgradeOutcome::Done;
}

// An early stop: the message and the end of the operation, in the order
// the step asks for.
UpgradeResult Refused(ExclusiveOperation& op, UpgradeHost& host, UpgradeOutcome outcome,
                      const std::string& text, bool endFirst) {
    UpgradeResult result;
    result.outcome = outcome;
    result.finalText = text;
    if (endFirst) op.End();
    host.ShowMessage({text, "Message", MessageIcon::None});
    op.End();
    return result;
}

}  // namespace

std::uint64_t EraseLength(std::uint64_t imageSize) {
    return (imageSize & ~(kEraseGranule - 1)) + kEraseGranule;
}

FlashRange EraseRangeFor(std::uint64_t imageSize) {
    const std::uint64_t e = EraseLength(imageSize);
    return {0, e <= kDoubleEraseLimit ? 2 * e : e};
}

std::uint64_t ProgressMaximumFor(std::uint64_t imageSize) {
    const std::uint64_t e = EraseLength(imageSize);
    return e / kSpiChunk * 2 + e / kEraseStep + kProgressSlack;
}

std::string EraseRefusal(const AppState& state, int deviceIndex, std::uint64_t imageSize) {
    const FlashRange erase = EraseRangeFor(imageSize);
    const std::uint64_t end = erase.start + erase.length;
    // The erase rule adds 8 KiB past the image: for an image as large as the
    // part the last steps have no flash to go to, and the run would stop
    // there with the whole part already blank.
    const auto part = WholeFlashLength(state, deviceIndex);
    const std::uint64_t limit =
        part ? std::min<std::uint64_t>(*part, kAddressableFlash) : kAddressableFlash;
    if (end <= limit) return {};
    char text[200];
    std::snprintf(text, sizeof text,
                  "The image is too large for this flash: erasing for it would reach %llX, past "
                  "the %s at %llX. Nothing was erased.",
                  static_cast<unsigned long long>(end),
                  part && *part <= kAddressableFlash ? "end of the flash" : "addressable flash",
                  static_cast<unsigned long long>(limit));
    return text;
}

UpgradeResult RunUpgrade(AppState& state, FirmwareState& fw, device::CommandChannel& ch,
                         UpgradeHost& host, int deviceIndex, const UpgradeOptions& options) {
    ExclusiveOperation op(state, ch, host);
    if (!op.Held()) return {};
    // An image without a type byte is no firmware at all.
    if (fw.image.Size() <= kTypeByteOffset)
        return Refused(op, host, UpgradeOutcome::NoImage, "Please Load Firmware File First ",
                       false);

    op.SelectDevice(deviceIndex);
    const DeviceSlot slot = SlotOf(state, deviceIndex);
    const std::uint8_t imageType = fw.image.bytes[kTypeByteOffset];
    const std::string types = "SPI = " + Hex2(slot.spiTypeByte) + ", BIN = " + Hex2(imageType);
    op.SetStatus(types);
    // A port-multiplier bridge reports a type byte of its own.
    if (slot.spiTypeByte != imageType && slot.portMultiplier == 0)
        return Refused(op, host, UpgradeOutcome::WrongType, "Incorrect Firmware Type! " + types,
                       true);
    if (const std::string tooLarge = EraseRefusal(state, deviceIndex, fw.image.Size());
        !tooLarge.empty())
        return Refused(op, host, UpgradeOutcome::TooLarge, tooLarge, true);
    if (host.IsClosing()) {
        UpgradeResult result;
        result.outcome = UpgradeOutcome::Closing;
        return result;
    }

    UpgradeResult result;
    fw.progressCounter = 0;
    host.BeginProgress("Firmware Update...",
                       static_cast<std::uint32_t>(ProgressMaximumFor(fw.image.Size())));
    host.ShowPhase("Process 1 / 3");
    Phases phases(state, fw, ch, host, op, result);
    result.outcome = phases.Run(options);
    host.EndProgress();

    if (result.Succeeded()) {
        result.finalText = kSuccessText;
        host.ShowMessage({kSuccessText, "Firmware Upgrade Message", MessageIcon::Exclamation});
    } else {
        result.finalText = phases.FailureText();
        host.ShowMessage({result.finalText, "Message", MessageIcon::None});
    }
    op.End();
    return result;
}

}  // namespace raid::firmware
