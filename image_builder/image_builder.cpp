#include "image_builder/image_builder.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "image_builder/number_text.h"

namespace raid::tools {
namespace {

using firmware::Message;
using firmware::MessageIcon;

// Offsets in the configuration block.
constexpr std::size_t kBlockVersion = 1;
constexpr std::uint8_t kConfigVersion = 0xA0;
constexpr std::size_t kEntries = 2;
constexpr std::size_t kEntrySize = 5;
constexpr std::size_t kSlotsEnd = 52;
constexpr std::size_t kFixedByte = 55;
constexpr std::size_t kJumperMode = 56;
constexpr std::size_t kJumperMask = 57;
constexpr std::size_t kZeroFrom = 58;
constexpr std::size_t kZeroTo = 128;
constexpr std::size_t kChip = 107;
constexpr std::size_t kSensorsAndFans = 108;
constexpr std::size_t kFanAlarm = 109;
constexpr std::size_t kThermalAlarm = 111;
constexpr std::size_t kFunctionFlags = 113;
constexpr std::size_t kMaker = 114;
constexpr std::size_t kChecksum = 254;
constexpr char kMakerText[] = "KELVOR";  // with its terminating zero
constexpr std::uint8_t kUpdateMark = 0x5A;

void PutLittleEndian(std::span<std::uint8_t> field, std::uint64_t value) {
    for (auto& b : field) {
        b = static_cast<std::uint8_t>(value);
        value >>= 8;
    }
}

std::string Hex(std::uint64_t value) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(value));
    return buf;
}

Message Refusal(std::string text) { return {std::move(text), "Error", MessageIcon::Error}; }

// Reads one table file; none after telling why.
std::optional<std::vector<std::uint8_t>> ReadSlotFile(firmware::FileSource& source,
                                                      const std::string& path,
                                                      std::vector<Message>& messages) {
    const firmware::FileBytesRequest request{
        kSlotSize,
        "The file " + path + " is larger than " + Hex(kSlotSize) +
            " bytes, the room of one slot. Nothing was written.",
        "GetASPISupportInfo:"};
    return firmware::ReadFileBytes(source, path, request,
                                   [&](const Message& m) { messages.push_back(m); });
}

// Why an image with configuration offset L, size S and `subCodes` slots
// cannot be placed; empty when it can.
std::string PlacementRefusal(std::uint32_t configOffset, std::uint64_t size, int subCodes) {
    const std::uint64_t slotsEnd = std::uint64_t{kSlotSize} * (subCodes + 1);
    if (subCodes > kMaxSubCodes)
        return "At most " + std::to_string(kMaxSubCodes) + " sub-codes fit in an image.";
    if (slotsEnd > configOffset)
        return "The sub-code slots end at " + Hex(slotsEnd) +
               ", past the configuration block the boot loader places at " + Hex(configOffset) +
               ". Nothing was written.";
    if (size < std::uint64_t{configOffset} + kConfigRoom)
        return "The chosen size " + Hex(size) + " is below " + Hex(configOffset + kConfigRoom) +
               ", the end of the configuration room. Nothing was written.";
    if (size > kLargestImage)
        return "The image would be " + Hex(size) + " bytes, more than the " + Hex(kLargestImage) +
               " the controller's flash commands can address. Nothing was written.";
    return {};
}

void WriteBlockFields(std::span<std::uint8_t> block, const SubCodeTable& table,
                      const BuilderSettings& settings) {
    PutLittleEndian(block.subspan(kSlotsEnd, 3), std::uint64_t{kSlotSize} * (table.count + 1));
    block[kFixedByte] = 0x3F;
    block[kJumperMode] = settings.raidModeByJumper ? 0xF1 : 0x11;
    block[kJumperMask] = settings.raidModeByJumper ? 0xFF : 0x3F;
    std::fill(block.begin() + kZeroFrom, block.begin() + kZeroTo, 0);
    block[kChip] = settings.chip5080A ? 0x80 : 0x85;
    block[kSensorsAndFans] =
        static_cast<std::uint8_t>((settings.thermalSensors & 0x0F) << 4 | (settings.fans & 0x0F));
    PutLittleEndian(block.subspan(kFanAlarm, 2), settings.fanAlarmRpm);
    block[kThermalAlarm] = settings.thermalAlarmC;
    block[kFunctionFlags] = FunctionFlags(table, settings);
    std::copy(std::begin(kMakerText), std::end(kMakerText), block.begin() + kMaker);
    PutLittleEndian(block.subspan(kChecksum, 2), BlockChecksum(block));
}

}  // namespace

std::string ApplySettingTexts(BuilderSettings& settings, const SettingTexts& texts) {
    struct Field {
        const char* name;
        const std::string& text;
        std::uint32_t max;
    };
    const Field fields[] = {{"the fans supported", texts.fans, 15},
                            {"the fan alarm limit", texts.fanAlarm, 0xFFFF},
                            {"the thermal sensors supported", texts.thermalSensors, 15},
                            {"the thermal alarm limit", texts.thermalAlarm, 0xFF}};
    std::uint32_t values[4] = {};
    for (std::size_t i = 0; i < 4; ++i) {
        const auto v = ParseNumberText(fields[i].text, fields[i].max);
        if (!v) return NumberRefusal(fields[i].name, fields[i].text, fields[i].max);
        values[i] = *v;
    }
    settings.fans = static_cast<std::uint8_t>(values[0]);
    settings.fanAlarmRpm = static_cast<std::uint16_t>(values[1]);
    settings.thermalSensors = static_cast<std::uint8_t>(values[2]);
    settings.thermalAlarmC = static_cast<std::uint8_t>(values[3]);
    return {};
}

std::uint64_t ImageSizeFor(ImageSize size, std::uint32_t configOffset) {
    switch (size) {
        case ImageSize::Bits1M:
            return 0x20000;
        case ImageSize::Bits2M:
            return 0x40000;
        case ImageSize::Bits4M:
            return 0x80000;
        case ImageSize::Bits8M:
            return 0x100000;
        case ImageSize::Auto:
            break;
    }
    return std::uint64_t{configOffset} + kConfigRoom;
}

std::uint8_t FunctionFlags(const SubCodeTable& table, const BuilderSettings& settings) {
    std::uint8_t flags = 0;
    if (settings.scheduleBackup) flags |= 0x80;
    if (settings.fastBackup) flags |= 0x40;
    for (int k = 1; k <= std::min(table.count, kMaxSubCodes); ++k) {
        const int t = table.entries[static_cast<std::size_t>(k)].codeType & 0x0F;
        if (t < 4) flags |= static_cast<std::uint8_t>(1u << t);
    }
    return flags;
}

std::uint16_t BlockChecksum(std::span<const std::uint8_t> block) {
    std::uint16_t sum = 0;
    for (std::size_t i = 0; i < std::min<std::size_t>(block.size(), kChecksum); ++i)
        sum = static_cast<std::uint16_t>(sum + block[i]);
    return sum;
}

BuiltImage BuildImage(const SubCodeTable& table, const BuilderSettings& settings, Filler& filler,
                      firmware::FileSource& source) {
    BuiltImage built;
    const auto boot = ReadSlotFile(source, table.entries[0].path, built.messages);
    if (!boot) return built;
    if (boot->size() < kConfigOffsetField + 3) {
        built.messages.push_back(Refusal("The boot loader " + table.entries[0].path +
                                         " is too short to say where the configuration block "
                                         "goes. Nothing was written."));
        return built;
    }
    const std::uint32_t l = firmware::ConfigBlockOffset(*boot);
    const std::uint64_t size = ImageSizeFor(settings.size, l);
    if (auto why = PlacementRefusal(l, size, table.count); !why.empty()) {
        built.messages.push_back(Refusal(std::move(why)));
        return built;
    }
    built.configOffset = l;

    // Bytes no rule covers stay erased.
    std::vector<std::uint8_t> image(size, 0xFF);
    for (std::uint32_t i = kFillerStart; i < l + kBlockSize; ++i) image[i] = filler.Next();
    const auto block = std::span(image).subspan(l, kBlockSize);
    for (int i = 0; i < kMaxSubCodes; ++i) block[kEntries + kEntrySize * i] = 0xFF;
    std::copy(boot->begin(), boot->end(), image.begin());
    block[0] = 0x00;
    block[kBlockVersion] = kConfigVersion;

    for (int k = 1; k <= table.count; ++k) {
        const SubCodeEntry& entry = table.entries[static_cast<std::size_t>(k)];
        const auto code = ReadSlotFile(source, entry.path, built.messages);
        if (!code) return built;
        const std::uint32_t slot = kSlotSize * static_cast<std::uint32_t>(k);
        std::copy(code->begin(), code->end(), image.begin() + slot);
        const auto field = block.subspan(kEntries + kEntrySize * (k - 1), kEntrySize);
        field[0] = entry.codeType;
        PutLittleEndian(field.subspan(1, 3), slot);
        field[4] = entry.update ? kUpdateMark : 0x00;
    }
    WriteBlockFields(block, table, settings);
    built.bytes = std::move(image);
    return built;
}

std::filesystem::path SaveNameFor(const std::filesystem::path& chosen) {
    std::filesystem::path name = chosen;
    return name.replace_extension(".bin");
}

SaveResult SaveImage(const std::filesystem::path& chosen, std::span<const std::uint8_t> image) {
    SaveResult result;
    result.savedAs = SaveNameFor(chosen);
    std::ofstream out(result.savedAs, std::ios::binary | std::ios::trunc);
    if (out)
        out.write(reinterpret_cast<const char*>(image.data()), static_cast<long>(image.size()));
    if (out) out.close();
    if (!out) {
        result.messages.push_back({"Fail to create file", "Error", MessageIcon::Error});
        return result;
    }
    result.ok = true;
    result.statusText = "Svae File OK :" + result.savedAs.string();
    return result;
}

}  // namespace raid::tools
