#include "firmware/checked_device.h"

#include <algorithm>

#include "common/text.h"

namespace raid::firmware {
namespace {

// Information reply bytes that name the enclosure: firmware and product
// codes (46..51, from reply bytes 88..93) and the controller's model text.
constexpr std::size_t kCodes = 46;
constexpr std::size_t kCodesLength = 6;
constexpr std::size_t kControllerModel = 160;
constexpr std::size_t kControllerModelLength = 40;

bool SameBytes(const Record512& a, const Record512& b, std::size_t from, std::size_t length) {
    return std::equal(a.begin() + static_cast<long>(from),
                      a.begin() + static_cast<long>(from + length),
                      b.begin() + static_cast<long>(from));
}

std::string TrimmedModel(const Record512& identify) {
    std::string model = text::ControllerModelText(identify);
    while (!model.empty() && model.back() == ' ') model.pop_back();
    return model;
}

}  // namespace

bool IsDevice(const AppState& state, int deviceIndex) {
    return deviceIndex >= 0 && deviceIndex < std::min(state.discovery.deviceCount, kDeviceSlots) &&
           state.discovery.DiskOf(deviceIndex) < kMaxDisks;
}

FirmwareTarget TargetOf(const AppState& state, int deviceIndex) {
    FirmwareTarget target;
    if (!IsDevice(state, deviceIndex)) return target;
    const int disk = state.discovery.DiskOf(deviceIndex);
    target.identifyRecord = state.discovery.identifyRecord[static_cast<std::size_t>(disk)];
    target.portMultiplier =
        state.discovery.deviceSlots[static_cast<std::size_t>(deviceIndex)].portMultiplier != 0;
    return target;
}

std::optional<CheckedDevice> CheckedDeviceOf(const AppState& state, int deviceIndex,
                                             platform::DiskSystem& disks,
                                             const Record512* identify) {
    if (!IsDevice(state, deviceIndex)) return std::nullopt;
    const int disk = state.discovery.DiskOf(deviceIndex);
    const Record512& known = state.discovery.identifyRecord[static_cast<std::size_t>(disk)];
    CheckedDevice d;
    d.identify = identify ? *identify : known;
    for (const platform::DiskInfo& info : disks.ListDisks())
        if (info.number == disk) d.devicePath = info.devicePath;
    // The model as discovery completed it (from INQUIRY when the controller
    // has none of its own).
    const std::string model = TrimmedModel(known);
    d.name = "Device" + std::to_string(deviceIndex + 1) + " (" +
             (model.empty() ? "" : model + " on ") +
             (d.devicePath.empty() ? "disk " + std::to_string(disk) : d.devicePath) + ")";
    return d;
}

bool SameEnclosure(const CheckedDevice& a, const CheckedDevice& b) {
    return a.devicePath == b.devicePath &&
           SameBytes(a.identify, b.identify, kCodes, kCodesLength) &&
           SameBytes(a.identify, b.identify, kControllerModel, kControllerModelLength);
}

std::string OtherEnclosureRefusal(const std::optional<CheckedDevice>& checked,
                                  const std::optional<CheckedDevice>& now) {
    if (!checked || !now || SameEnclosure(*checked, *now)) return {};
    return "The firmware file was checked for " + checked->name + ", not for " + now->name +
           ", which is about to be upgraded. Load the file again for this enclosure. Nothing "
           "was erased.";
}

}  // namespace raid::firmware
