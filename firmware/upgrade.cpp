#include "firmware/upgrade.h"

#include <algorithm>
#include <cstdio>

#include "discovery/probe.h"
#include "firmware/checked_device.h"
#include "firmware/exclusive_operation.h"
#include "firmware/flash_read.h"
#include "firmware/spi_ranges.h"

namespace raid::firmware {
namespace {

constexpr std::uint64_t kEraseGranule = 0x2000;
constexpr std::uint64_t kDoubleEraseLimit = 0x10000;
constexpr std::uint64_t kProgressSlack = 30;

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

std::optional<std::uint32_t> FlashSizeOf(const DeviceSlot& slot) {
    return slot.spiTypeRead != 0 ? FlashSizeOfType(slot.spiTypeByte) : std::nullopt;
}

std::uint64_t RoundUp(std::uint64_t value, std::uint64_t step) {
    return (value + step - 1) / step * step;
}

std::string Hex(std::uint64_t value) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(value));
    return buf;
}

// The phases after the type check, from the optional backup to the compare.
class Phases {
public:
    Phases(AppState& state, FirmwareState& fw, device::CommandChannel& ch, UpgradeHost& host,
           ExclusiveOperation& op, UpgradeResult& result, const ErasePlan& plan)
        : state_(state), fw_(fw), ch_(ch), host_(host), op_(op), result_(result), plan_(plan) {}

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
    const ErasePlan& plan_;
    std::string stopText_;
};

UpgradeOutcome Phases::Run(const UpgradeOptions& options) {
    const std::vector<std::uint8_t>& image = fw_.image.bytes;
    const auto size = static_cast<std::uint32_t>(image.size());
    const FlashRange erase = plan_.range;
    const auto eraseStart = static_cast<std::uint32_t>(erase.start);
    const auto eraseLength = static_cast<std::uint32_t>(erase.length);
    const auto mustEnd = static_cast<std::uint32_t>(plan_.mustEnd);
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
            return EraseSpiRange(state_, ch_, eraseStart, mustEnd - eraseStart, notices,
                                 &fw_.progressCounter);
        })) {
        op_.SetStatus("SPI Erase Fail.");
        return UpgradeOutcome::EraseFailed;
    }
    // Past the image's last byte on a flash of unknown size: the flash may
    // end here, and what is to be programmed is erased already.
    if (eraseStart + eraseLength > mustEnd) {
        const std::uint32_t stepsBefore = fw_.progressCounter;
        if (!EraseSpiRange(state_, ch_, mustEnd, eraseStart + eraseLength - mustEnd, notices,
                           &fw_.progressCounter)) {
            const std::uint64_t stoppedAt =
                mustEnd + std::uint64_t{fw_.progressCounter - stepsBefore} * kEraseStep;
            result_.warning = "SPI Erase OK up to " + AddressText(mustEnd) +
                              "; past the image's end the flash refused the erase at " +
                              AddressText(static_cast<std::uint32_t>(stoppedAt)) +
                              " (its end, its size not being known)";
        }
        host_.SetProgress(fw_.progressCounter);
    }
    op_.SetStatus(result_.warning.empty() ? std::string("SPI Erase OK") : result_.warning);
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

// The program is ending before anything was erased: no message.
UpgradeResult ClosingResult() {
    UpgradeResult result;
    result.outcome = UpgradeOutcome::Closing;
    return result;
}

// An early stop: the message and the end of the operation, in the order
// the step asks for.
UpgradeResult Refused(ExclusiveOperation& op, UpgradeHost& host, UpgradeOutcome outcome,
                      const Message& message, bool endFirst) {
    UpgradeResult result;
    result.outcome = outcome;
    result.finalText = message.text;
    if (endFirst) op.End();
    host.ShowMessage(message);
    op.End();
    return result;
}
UpgradeResult Refused(ExclusiveOperation& op, UpgradeHost& host, UpgradeOutcome outcome,
                      const std::string& text, bool endFirst) {
    return Refused(op, host, outcome, {text, "Message", MessageIcon::None}, endFirst);
}

// The device about to be erased, read afresh and checked against the image.
// Nullopt when it may be erased, with `portMultiplier` as the controller
// says now; otherwise the refusal, nothing erased.
std::optional<UpgradeResult> Recheck(AppState& state, FirmwareState& fw, device::CommandChannel& ch,
                                     UpgradeHost& host, ExclusiveOperation& op, int deviceIndex,
                                     std::uint8_t& portMultiplier) {
    const std::string device = "Device" + std::to_string(deviceIndex + 1);
    const int disk = state.discovery.DiskOf(deviceIndex);
    Record512 identify{};
    if (!discovery::ReadControllerIdentity(ch, disk, identify, portMultiplier)) {
        const std::string why =
            ch.lastOpenError != platform::OpenError::None
                ? " could not be opened again before the erase (" + ch.lastOpenMessage + ")"
                : " did not answer when asked again before the erase";
        return Refused(op, host, UpgradeOutcome::NoAnswer, device + why + ". Nothing was erased.",
                       true);
    }

    DeviceSlot& slot = state.discovery.deviceSlots[static_cast<std::size_t>(deviceIndex)];
    std::array<std::uint8_t, 256> head{};
    if (ReadSpiRange(state, ch, 0, static_cast<std::uint32_t>(head.size()), head, op.Notices())) {
        slot.spiTypeByte = head[kTypeByteOffset];
        slot.spiTypeRead = 1;
    } else if (slot.spiTypeRead == 0) {
        return Refused(op, host, UpgradeOutcome::TypeUnknown,
                       "The flash type of " + device +
                           " cannot be read (byte 95 of its flash), so the image cannot be "
                           "checked against it. Nothing was erased.",
                       true);
    }

    if (auto refusal = CheckProduct(fw.image.bytes, FirmwareTarget{identify, portMultiplier != 0}))
        return Refused(op, host, UpgradeOutcome::WrongProduct, *refusal, true);

    const std::string other = OtherEnclosureRefusal(
        fw.checkedFor, CheckedDeviceOf(state, deviceIndex, ch.disks, &identify));
    if (!other.empty()) return Refused(op, host, UpgradeOutcome::OtherEnclosure, other, true);
    return std::nullopt;
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

ErasePlan PlanErase(std::uint64_t imageSize, std::optional<std::uint32_t> flashSize) {
    const FlashRange erase = EraseRangeFor(imageSize);
    const std::uint64_t limit =
        flashSize ? std::min<std::uint64_t>(*flashSize, kAddressableFlash) : kAddressableFlash;
    ErasePlan plan;
    plan.range = {erase.start, std::min(erase.start + erase.length, limit) - erase.start};
    const std::uint64_t end = plan.range.start + plan.range.length;
    plan.mustEnd = flashSize ? end : std::min(end, RoundUp(imageSize, kEraseStep));
    return plan;
}

std::string SizeRefusal(std::uint64_t imageSize, std::optional<std::uint32_t> flashSize) {
    const bool known = flashSize && *flashSize <= kAddressableFlash;
    const std::uint64_t limit = known ? *flashSize : kAddressableFlash;
    if (imageSize <= limit) return {};
    return "The image (" + Hex(imageSize) + " bytes) is larger than " +
           (known ? "the flash (" : "the flash the commands can address (") + Hex(limit) +
           " bytes). Nothing was erased.";
}

std::string EraseRefusal(const AppState& state, int deviceIndex, std::uint64_t imageSize) {
    return SizeRefusal(imageSize, FlashSizeOf(SlotOf(state, deviceIndex)));
}

UpgradeResult RunUpgrade(AppState& state, FirmwareState& fw, device::CommandChannel& ch,
                         UpgradeHost& host, int deviceIndex, const UpgradeOptions& options) {
    ExclusiveOperation op(state, ch, host);
    if (!op.Held()) return {};
    // An image without a type byte is no firmware at all.
    if (fw.image.Size() <= kTypeByteOffset)
        return Refused(op, host, UpgradeOutcome::NoImage, kNoImageText, false);

    op.SelectDevice(deviceIndex);
    // Before any command: an image larger than the flash discovery found.
    if (const std::string tooLarge = EraseRefusal(state, deviceIndex, fw.image.Size());
        !tooLarge.empty())
        return Refused(op, host, UpgradeOutcome::TooLarge, tooLarge, true);
    if (host.IsClosing()) return ClosingResult();
    // A device index that names no device is refused by the range loops.
    std::uint8_t portMultiplier = SlotOf(state, deviceIndex).portMultiplier;
    if (IsDevice(state, deviceIndex))
        if (auto refused = Recheck(state, fw, ch, host, op, deviceIndex, portMultiplier))
            return *refused;

    const DeviceSlot slot = SlotOf(state, deviceIndex);
    const std::uint8_t imageType = fw.image.bytes[kTypeByteOffset];
    const std::string types = "SPI = " + Hex2(slot.spiTypeByte) + ", BIN = " + Hex2(imageType);
    op.SetStatus(types);
    // A port-multiplier bridge reports a type byte of its own.
    if (slot.spiTypeByte != imageType && portMultiplier == 0)
        return Refused(op, host, UpgradeOutcome::WrongType, "Incorrect Firmware Type! " + types,
                       true);
    if (const std::string tooLarge = EraseRefusal(state, deviceIndex, fw.image.Size());
        !tooLarge.empty())
        return Refused(op, host, UpgradeOutcome::TooLarge, tooLarge, true);
    if (host.IsClosing()) return ClosingResult();
    const ErasePlan plan = PlanErase(fw.image.Size(), FlashSizeOf(slot));

    UpgradeResult result;
    fw.progressCounter = 0;
    host.BeginProgress(kUpgradeLabel,
                       static_cast<std::uint32_t>(ProgressMaximumFor(fw.image.Size())));
    host.ShowPhase("Process 1 / 3");
    Phases phases(state, fw, ch, host, op, result, plan);
    result.outcome = phases.Run(options);
    host.EndProgress();

    if (result.Succeeded()) {
        result.finalText = kSuccessText;
        host.ShowMessage({kSuccessText, kSuccessCaption, MessageIcon::Exclamation});
    } else {
        result.finalText = phases.FailureText();
        host.ShowMessage({result.finalText, "Message", MessageIcon::None});
    }
    op.End();
    return result;
}

}  // namespace raid::firmware
