#include "smart/read_smart.h"

#include <algorithm>
#include <optional>

#include "device/protocol.h"

namespace raid::smart {
namespace {

constexpr std::uint8_t kAtaIdentify = 0xEC;
constexpr std::uint8_t kPages = 4;
constexpr std::size_t kPageSize = device::kPayloadSize;
constexpr std::size_t kWord106Offset = 212;

bool Echoes(const device::ReplySector& reply, std::uint8_t command, std::uint8_t ata) {
    return reply[device::kEchoCommandOffset] == command && reply[device::kEchoParamOffset] == ata;
}

std::uint32_t EchoValue(const device::ReplySector& reply) {
    return Word106EchoCode(reply[device::kEchoCommandOffset], reply[device::kEchoParamOffset]);
}

void CopyPage(const device::ReplySector& reply, std::span<std::uint8_t> block, std::uint8_t page) {
    std::copy_n(reply.begin() + device::kDataWindowOffset, kPageSize,
                block.begin() + static_cast<std::ptrdiff_t>((page - 1) * kPageSize));
}

class SmartRead {
public:
    SmartRead(AppState& state, SmartState& smart, device::CommandChannel& ch, std::uint8_t feature)
        : state_(state), smart_(smart), ch_(ch), feature_(feature) {}

    // False when the read was cut short or a disk did not answer in full.
    bool ReadDevice(int device);

private:
    // Word 106 of the disk at `port`, or the code saying why it is missing.
    std::uint32_t ReadWord106(std::uint8_t port);
    // Issues the feature's command, at most four times; fills the block.
    bool ReadDisk(int device, int member, std::uint8_t port);

    // The channel's commands, not sent (and the read stopped) once Closing
    // is set or an exclusive operation holds a device.
    std::uint8_t Issue(std::uint8_t ata, std::uint8_t port);
    std::uint8_t Page(std::uint8_t ata, std::uint8_t port, std::uint8_t page);
    bool StopNow();

    AppState& state_;
    SmartState& smart_;
    device::CommandChannel& ch_;
    const std::uint8_t feature_;
    int disk_ = 0;
    device::ReplySector reply_{};
    bool stopped_ = false;
};

bool SmartRead::StopNow() {
    if (state_.shell.closing.load() ||
        state_.shell.operationDeviceIndex.load() != kNoOperationDevice)
        stopped_ = true;
    return stopped_;
}

std::uint8_t SmartRead::Issue(std::uint8_t ata, std::uint8_t port) {
    if (StopNow()) return device::kResultNoReply;
    return device::IssueDiskCommand(ch_, disk_, ata, port, reply_);
}

std::uint8_t SmartRead::Page(std::uint8_t ata, std::uint8_t port, std::uint8_t page) {
    if (StopNow()) return device::kResultNoReply;
    return device::ReadDiskCommandData(ch_, disk_, ata, port, page, reply_);
}

std::uint32_t SmartRead::ReadWord106(std::uint8_t port) {
    std::array<std::uint8_t, kSmartBlockSize> identify;
    identify.fill(0xFF);
    if (Issue(kAtaIdentify, port) != device::kResultSuccess) return kWord106IdentifyFailed;
    if (!Echoes(reply_, device::cmd::kDiskCommand, kAtaIdentify)) return EchoValue(reply_);

    std::optional<std::uint32_t> code;
    for (std::uint8_t page = 1; page <= kPages && !stopped_; ++page) {
        std::uint32_t whyNot = kWord106PageFailed;
        bool arrived = false;
        for (int attempt = 0; attempt < kSmartAttempts && !arrived && !stopped_; ++attempt) {
            const std::uint8_t result = Page(kAtaIdentify, port, page);
            arrived = result == device::kResultSuccess &&
                      Echoes(reply_, device::cmd::kDiskCommandData, kAtaIdentify);
            if (arrived)
                CopyPage(reply_, identify, page);
            else
                whyNot = result != device::kResultSuccess ? kWord106PageFailed : EchoValue(reply_);
        }
        // Page 2 holds word 106.
        if (!arrived && page == 2) code = whyNot;
    }
    if (code) return *code;
    return identify[kWord106Offset] | (std::uint32_t{identify[kWord106Offset + 1]} << 8);
}

bool SmartRead::ReadDisk(int device, int member, std::uint8_t port) {
    const auto block = feature_ == kFeatureReadData ? smart_.DataBlock(device, member)
                                                    : smart_.ThresholdBlock(device, member);
    for (int attempt = 0; attempt < kSmartAttempts; ++attempt) {
        if (feature_ == kFeatureReadData) {
            const std::uint32_t code = ReadWord106(port);
            if (stopped_) return false;
            smart_.Word106Code(device, member) = code;
        }
        // A reply that echoes another command is not this command's answer.
        if (Issue(feature_, port) != device::kResultSuccess ||
            !Echoes(reply_, device::cmd::kDiskCommand, feature_)) {
            if (stopped_) return false;
            continue;
        }
        bool complete = true;
        for (std::uint8_t page = 1; page <= kPages; ++page) {
            bool arrived = false;
            for (int tries = 0; tries < kSmartAttempts && !arrived; ++tries) {
                arrived = Page(feature_, port, page) == device::kResultSuccess &&
                          Echoes(reply_, device::cmd::kDiskCommandData, feature_);
                if (stopped_) return false;
            }
            // A page that never came keeps what the last read left there.
            if (arrived)
                CopyPage(reply_, block, page);
            else
                complete = false;
        }
        return complete;
    }
    return false;
}

bool SmartRead::ReadDevice(int device) {
    DiscoveryState& d = state_.discovery;
    d.currentDevice = device;
    disk_ = d.DiskOf(device);
    const std::uint8_t flags =
        disk_ < kMaxDisks
            ? state_.monitor
                  .deviceStatusRecord[static_cast<std::size_t>(disk_)][rec::kDiskStateFlags]
            : 0;
    const bool reversed = d.deviceSlots[static_cast<std::size_t>(device)].memberOrder != 0;

    bool complete = true;
    for (int member = 0; member < kSmartDisks && !stopped_; ++member) {
        const auto port = static_cast<std::uint8_t>(reversed ? 1 - member : member);
        const std::uint8_t presentBit =
            member == 0 ? diskstate::kHdd1Present : diskstate::kHdd2Present;
        if ((flags & presentBit) == 0) {
            const auto block = feature_ == kFeatureReadData ? smart_.DataBlock(device, member)
                                                            : smart_.ThresholdBlock(device, member);
            std::fill(block.begin(), block.end(), 0);
            smart_.Word106Code(device, member) = kWord106Absent;
            continue;
        }
        if (!ReadDisk(device, member, port)) complete = false;
    }
    return complete && !stopped_;
}

bool AnySelectorChecked(const SmartHost& host) {
    for (int i = 0; i < kShownDevices; ++i)
        if (host.IsSelectorChecked(i)) return true;
    return false;
}

}  // namespace

bool ReadSmart(AppState& state, SmartState& smart, device::CommandChannel& ch, SmartHost& host,
               std::uint8_t feature) {
    if (feature != kFeatureReadData && feature != kFeatureReadThresholds) return false;
    if (state.shell.operationDeviceIndex.load() != kNoOperationDevice ||
        host.DeviceSwitchInProgress() || state.discovery.deviceCount <= 0 ||
        !AnySelectorChecked(host))
        return false;

    SmartRead read(state, smart, ch, feature);
    bool failed = false;
    // Devices past the second have no place in the tables: see the header.
    const int devices = std::min(state.discovery.deviceCount, kSmartDevices);
    for (int device = 0; device < devices; ++device)
        if (!read.ReadDevice(device)) failed = true;

    if (feature == kFeatureReadData && host.SmartPageShown()) host.ShowSmartPage();
    if (feature == kFeatureReadThresholds) smart.thresholdsRead = !failed;
    if (feature == kFeatureReadData) smart.dataRead = !failed;
    state.discovery.currentDevice = host.SelectedDevice();
    return true;
}

}  // namespace raid::smart
