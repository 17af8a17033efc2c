#include "sim/command_runner.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "sim/enclosure_data.h"

namespace raid::sim {
namespace {

namespace cmd = device::cmd;

// Offsets of the information reply.
constexpr std::size_t kInfoFirmwareCode = 88;
constexpr std::size_t kInfoProductCode = 92;
constexpr std::size_t kInfoSensors = 124;
constexpr std::size_t kInfoTemperature = 127;
constexpr std::size_t kInfoFanHigh = 128;
constexpr std::size_t kInfoFanLow = 129;
constexpr std::size_t kInfoBuzzer = 130;
constexpr std::size_t kInfoBackupPeriod = 131;
constexpr std::size_t kInfoMarker = 134;
constexpr std::size_t kInfoWeeks = 135;
constexpr std::size_t kInfoPresets = 136;
constexpr std::size_t kInfoModel = 160;
constexpr std::size_t kInfoModelSize = 40;
constexpr std::size_t kInfoCapacity = 200;
constexpr std::uint8_t kScheduleMarker = 0xA0;

// Offsets of the rebuild progress reply.
constexpr std::size_t kRebuildActive = 84;
constexpr std::uint8_t kRebuildRunning = 2;
constexpr std::size_t kRebuildTotal = 94;
constexpr std::size_t kRebuildDone = 119;

// Offsets of the array status reply and of a port block inside it.
constexpr std::size_t kArrayMode = 80;
constexpr std::size_t kPortBlocks = 84;
constexpr std::size_t kPortBlockSize = 76;
constexpr std::size_t kPortModel = 4;
constexpr std::size_t kPortSerial = 44;
constexpr std::size_t kPortCapacity = 70;

// Offsets of the setting answer (0x78).
constexpr std::size_t kSettingEcho = 81;
constexpr std::size_t kSettingParam = 82;
constexpr std::size_t kSettingCapability = 83;
constexpr std::uint8_t kSettingQuery = 0x33;
constexpr std::uint8_t kSettingBuzzer = 1;
constexpr std::uint8_t kSettingBackup = 2;

// The muted buzzer letter: any letter but 'Z' keeps the capability nibble 5.
constexpr char kBuzzerMuted = 'Y';
constexpr char kBuzzerSounding = 'Z';

constexpr std::uint32_t kSpiBlockSize = 128;
constexpr std::uint32_t kSpiEraseUnit = 4096;
constexpr std::uint32_t kTicksPerHour = 360;    // ten-second ticks
constexpr std::uint32_t kTicksPerWeek = 60480;  // 10,080 minutes

// ATA command bytes of the disk FIS.
constexpr std::size_t kFisCommand = 2;
constexpr std::size_t kFisFeature = 3;
constexpr std::uint8_t kAtaIdentify = 0xEC;
constexpr std::uint8_t kAtaSmart = 0xB0;
constexpr std::uint8_t kSmartReadData = 0xD0;
constexpr std::uint8_t kSmartReadThresholds = 0xD1;

struct Command {
    std::uint8_t code, c1, c2, c3;
    std::span<const std::uint8_t> payload;  // empty without payload
};

std::span<std::uint8_t> Field(Sector& reply, std::size_t offset, std::size_t size) {
    return std::span<std::uint8_t>(reply).subspan(offset, size);
}

Sector Signed(const Enclosure& model, std::uint8_t status) {
    Sector reply{};
    const device::Signature& sig = model.controllerType == device::kControllerPortMultiplier
                                       ? device::kPortMultiplierSignature
                                       : device::kRaidBridgeSignature;
    std::memcpy(reply.data() + device::kSignatureAOffset, sig.a, device::kSignatureSize);
    std::memcpy(reply.data() + device::kSignatureBOffset, sig.b, device::kSignatureSize);
    reply[device::kStatusOffset] = status;
    return reply;
}

bool IsRebuilding(const Enclosure& model) {
    return model.members[0].state == 1 || model.members[1].state == 1;
}

std::uint64_t RebuildTotal(const Enclosure& model) {
    return model.rebuildTotal != 0 ? model.rebuildTotal : ArrayCapacity(model);
}

// A member that can take ATA commands: present, being rebuilt or just inserted.
bool AnswersDiskCommands(const MemberDisk& disk) {
    return disk.state == 0 || disk.state == 1 || disk.state == 6;
}

// Members with these state codes show their identity in the array status.
bool ReportsIdentity(const MemberDisk& disk) {
    return AnswersDiskCommands(disk) || disk.state == 9;
}

void PutIdentity(Sector& reply, const Enclosure& model) {
    std::copy_n(model.firmwareCode, 4, reply.begin() + kInfoFirmwareCode);
    std::copy_n(model.productCode, 2, reply.begin() + kInfoProductCode);
    if (!model.controllerModel.empty())
        PutAtaText(Field(reply, kInfoModel, kInfoModelSize), model.controllerModel);
    // The host copies these bytes into its little-endian record as they are.
    PutLittleEndian(Field(reply, kInfoCapacity, 6), ArrayCapacity(model));
}

Sector Information(const Enclosure& model) {
    Sector reply = Signed(model, device::kStatusSuccess);
    PutIdentity(reply, model);
    if (!model.hasSensors) {
        reply[kInfoSensors] = 0xFF;
        reply[kInfoSensors + 1] = 0xFF;
    } else {
        reply[kInfoTemperature] = model.temperature;
        reply[kInfoFanHigh] = static_cast<std::uint8_t>(model.fanRpm >> 8);
        reply[kInfoFanLow] = static_cast<std::uint8_t>(model.fanRpm);
    }
    if (model.buzzerCapability) reply[kInfoBuzzer] = static_cast<std::uint8_t>(model.buzzerLetter);
    if (model.scheduleCapability) {
        reply[kInfoBackupPeriod] = model.backupPeriod;
        reply[kInfoBackupPeriod + 1] = static_cast<std::uint8_t>(model.backupTimeToNext >> 8);
        reply[kInfoBackupPeriod + 2] = static_cast<std::uint8_t>(model.backupTimeToNext);
        reply[kInfoMarker] = static_cast<std::uint8_t>(kScheduleMarker | (model.backupKind & 0x1F));
        reply[kInfoWeeks] = model.backupWeeks;
        std::copy_n(model.backupPresets, 3, reply.begin() + kInfoPresets);
    }
    return reply;
}

Sector RebuildProgress(Enclosure& model) {
    Sector reply = Signed(model, device::kStatusSuccess);
    const std::uint64_t total = RebuildTotal(model);
    reply[kRebuildActive] = IsRebuilding(model) ? kRebuildRunning : 0;
    PutBigEndian(Field(reply, kRebuildTotal, 6), total);
    PutBigEndian(Field(reply, kRebuildDone, 5), std::min(model.rebuildDone, total));
    AdvanceRebuild(model);
    return reply;
}

Sector ArrayStatus(const Enclosure& model) {
    Sector reply = Signed(model, device::kStatusSuccess);
    reply[kArrayMode] = model.arrayModeByte;
    for (int port = 0; port < 2; ++port) {
        const MemberDisk& disk = model.members[MemberAtPort(model, port)];
        const std::size_t base = kPortBlocks + static_cast<std::size_t>(port) * kPortBlockSize;
        reply[base] = disk.state;
        if (!ReportsIdentity(disk)) continue;
        PutAtaText(Field(reply, base + kPortModel, 40), disk.model);
        PutAtaText(Field(reply, base + kPortSerial, 20), disk.serial);
        PutBigEndian(Field(reply, base + kPortCapacity, 6), disk.capacitySectors);
    }
    return reply;
}

Sector Setting(Enclosure& model, const Command& c) {
    Sector reply = Signed(model, device::kStatusSuccess);
    reply[kSettingEcho] = cmd::kSetting;
    reply[kSettingParam] = c.c1;
    reply[kSettingCapability] = model.settingCapabilityBits;
    switch (c.c1) {
        case kSettingQuery:
            break;
        case kSettingBuzzer:
            model.buzzerLetter = static_cast<char>(c.c2);
            break;
        case kSettingBackup:
            SetBackupPeriod(model, c.c2);
            break;
        default:
            reply[device::kStatusOffset] = kStatusCommandFailed;
    }
    return reply;
}

std::uint32_t SpiAddress(const Command& c) {
    return ((std::uint32_t{c.c2} << 8) | c.c3) * kSpiBlockSize;
}

bool SpiBlockInRange(const Enclosure& model, std::uint32_t address) {
    return std::uint64_t{address} + kSpiBlockSize <= model.spiFlash.size();
}

// Whether `fault` hits the flash command `operation` at `address`: the same
// 128-byte block, or for an erase the same 4096-byte unit.
bool Hits(const SpiFault& fault, SpiOperation operation, std::uint32_t address) {
    const std::uint32_t unit = operation == SpiOperation::Erase ? kSpiEraseUnit : kSpiBlockSize;
    return fault.operation == operation && fault.address / unit == address / unit;
}

// The injected fault for this flash command, counted down.
std::optional<SpiFault> TakeSpiFault(ControllerMemory& memory, SpiOperation operation,
                                     std::uint32_t address) {
    for (auto it = memory.spiFaults.begin(); it != memory.spiFaults.end(); ++it) {
        if (!Hits(*it, operation, address)) continue;
        const SpiFault taken = *it;
        if (it->remaining > 0 && --it->remaining == 0) memory.spiFaults.erase(it);
        return taken;
    }
    return std::nullopt;
}

// The reply of a flash command that `fault` stops before it runs; none when
// the command runs (FlipBit is then the command's own business).
std::optional<Sector> StoppedSpiCommand(const Enclosure& model, ControllerMemory& memory,
                                        const std::optional<SpiFault>& fault) {
    if (!fault) return std::nullopt;
    switch (fault->kind) {
        case SpiFaultKind::FailStatus:
            return Signed(model, kStatusCommandFailed);
        case SpiFaultKind::BadStatus:
            return Signed(model, kStatusUnrecognised);
        case SpiFaultKind::NoReply:
            memory.withholdReply = true;
            return Signed(model, kStatusCommandFailed);
        case SpiFaultKind::Vanish:
            memory.unplug = true;
            return Signed(model, kStatusCommandFailed);
        case SpiFaultKind::ReplyReadFails:
            memory.failReplyRead = true;
            return std::nullopt;
        case SpiFaultKind::FlipBit:
            return std::nullopt;
    }
    return std::nullopt;
}

bool Flips(const std::optional<SpiFault>& fault) {
    return fault && fault->kind == SpiFaultKind::FlipBit;
}

Sector ReadSpi(const Enclosure& model, ControllerMemory& memory, const Command& c) {
    const std::uint32_t address = SpiAddress(c);
    const auto fault = TakeSpiFault(memory, SpiOperation::Read, address);
    if (auto stopped = StoppedSpiCommand(model, memory, fault)) return *stopped;
    if (!SpiBlockInRange(model, address)) return Signed(model, kStatusCommandFailed);
    Sector reply = Signed(model, device::kStatusSuccess);
    std::copy_n(model.spiFlash.begin() + address, kSpiBlockSize,
                reply.begin() + device::kDataWindowOffset);
    if (Flips(fault)) reply[device::kDataWindowOffset] ^= 0x01;
    return reply;
}

Sector EraseSpi(Enclosure& model, ControllerMemory& memory, const Command& c) {
    const std::uint32_t unit = SpiAddress(c) & ~(kSpiEraseUnit - 1);
    const auto fault = TakeSpiFault(memory, SpiOperation::Erase, unit);
    if (auto stopped = StoppedSpiCommand(model, memory, fault)) return *stopped;
    if (std::uint64_t{unit} + kSpiEraseUnit > model.spiFlash.size())
        return Signed(model, kStatusCommandFailed);
    std::fill_n(model.spiFlash.begin() + unit, kSpiEraseUnit, 0xFF);
    if (Flips(fault)) model.spiFlash[unit] ^= 0x01;
    return Signed(model, device::kStatusSuccess);
}

Sector WriteSpi(Enclosure& model, ControllerMemory& memory, const Command& c) {
    const std::uint32_t address = SpiAddress(c);
    const auto fault = TakeSpiFault(memory, SpiOperation::Program, address);
    if (auto stopped = StoppedSpiCommand(model, memory, fault)) return *stopped;
    if (c.payload.size() < kSpiBlockSize || !SpiBlockInRange(model, address))
        return Signed(model, kStatusCommandFailed);
    // Programming a NOR flash can only clear bits.
    for (std::uint32_t i = 0; i < kSpiBlockSize; ++i) {
        const std::uint8_t flip = Flips(fault) && i == 0 ? 0x01 : 0x00;
        model.spiFlash[address + i] &= static_cast<std::uint8_t>(c.payload[i] ^ flip);
    }
    return Signed(model, device::kStatusSuccess);
}

void Echo(Sector& reply, std::uint8_t code, std::uint8_t c1) {
    reply[device::kEchoCommandOffset] = code;
    reply[device::kEchoParamOffset] = c1;
}

// The injected fault for this disk command or page, counted down.
std::optional<DiskFault> TakeDiskFault(const Enclosure& model, ControllerMemory& memory,
                                       const Command& c, std::uint8_t page) {
    if (c.c2 > 1) return std::nullopt;
    const int member = MemberAtPort(model, c.c2);
    for (auto it = memory.diskFaults.begin(); it != memory.diskFaults.end(); ++it) {
        if (it->member != member || it->ata != c.c1 || it->page != page) continue;
        const DiskFault taken = *it;
        if (it->remaining > 0 && --it->remaining == 0) memory.diskFaults.erase(it);
        return taken;
    }
    return std::nullopt;
}

// The reply of a command spoilt by `fault`; none without a fault.
std::optional<Sector> SpoiltReply(const Enclosure& model, ControllerMemory& memory,
                                  const std::optional<DiskFault>& fault, std::uint8_t code,
                                  std::uint8_t c1) {
    if (!fault) return std::nullopt;
    Sector reply = Signed(model, kStatusCommandFailed);
    switch (fault->kind) {
        case DiskFaultKind::FailStatus:
            Echo(reply, code, c1);
            return reply;
        case DiskFaultKind::NoReply:
            memory.withholdReply = true;
            return reply;
        case DiskFaultKind::WrongEcho:
            reply[device::kStatusOffset] = device::kStatusSuccess;
            Echo(reply, code, 0);
            return reply;
    }
    return std::nullopt;
}

bool IsSettingCommand(const Command& c) {
    if (c.code >= cmd::kBuzzerMuteOn && c.code <= cmd::kBackupPreset3) return true;
    return c.code == cmd::kSetting && c.c1 != kSettingQuery;
}

// The reply of a setting command that an injected fault spoils; none when
// the command runs.
std::optional<Sector> SpoiltSetting(const Enclosure& model, ControllerMemory& memory,
                                    const Command& c) {
    if (!IsSettingCommand(c) || memory.settingFaults.empty()) return std::nullopt;
    auto& fault = memory.settingFaults.front();
    const SettingFaultKind kind = fault.kind;
    if (fault.remaining > 0 && --fault.remaining == 0)
        memory.settingFaults.erase(memory.settingFaults.begin());
    switch (kind) {
        case SettingFaultKind::KeepOld:
            return Signed(model, device::kStatusSuccess);
        case SettingFaultKind::NoReply:
            memory.withholdReply = true;
            return Signed(model, kStatusCommandFailed);
        case SettingFaultKind::FailStatus:
            return Signed(model, kStatusCommandFailed);
    }
    return std::nullopt;
}

Sector DiskCommand(const Enclosure& model, ControllerMemory& memory, const Command& c) {
    if (auto spoilt = SpoiltReply(model, memory, TakeDiskFault(model, memory, c, 0),
                                  cmd::kDiskCommand, c.c1)) {
        // A command the controller dropped changes nothing; any other answer
        // ends the last command's data.
        if (!memory.withholdReply) memory.diskDataValid = false;
        return *spoilt;
    }
    memory.diskDataValid = false;
    Sector failed = Signed(model, kStatusCommandFailed);
    Echo(failed, cmd::kDiskCommand, c.c1);
    if (c.c2 > 1 || c.payload.size() < device::kPayloadSize) return failed;
    const MemberDisk& disk = model.members[MemberAtPort(model, c.c2)];
    if (!AnswersDiskCommands(disk)) return failed;

    const std::uint8_t ata = c.payload[kFisCommand];
    const std::uint8_t feature = c.payload[kFisFeature];
    auto& data = memory.diskData;
    data.fill(0);
    if (ata == kAtaIdentify) {
        data = BuildIdentifyData(disk);
    } else if (ata == kAtaSmart && feature == kSmartReadData) {
        std::copy_n(disk.smartData.begin(), std::min(disk.smartData.size(), data.size()),
                    data.begin());
    } else if (ata == kAtaSmart && feature == kSmartReadThresholds) {
        std::copy_n(disk.smartThresholds.begin(),
                    std::min(disk.smartThresholds.size(), data.size()), data.begin());
    } else {
        return failed;
    }
    memory.diskDataValid = true;
    memory.diskDataAta = c.c1;
    memory.diskDataPort = c.c2;
    Sector reply = Signed(model, device::kStatusSuccess);
    Echo(reply, cmd::kDiskCommand, c.c1);
    return reply;
}

Sector DiskCommandData(const Enclosure& model, ControllerMemory& memory, const Command& c) {
    if (auto spoilt = SpoiltReply(model, memory, TakeDiskFault(model, memory, c, c.c3),
                                  cmd::kDiskCommandData, c.c1))
        return *spoilt;
    const bool matches = memory.diskDataValid && memory.diskDataAta == c.c1 &&
                         memory.diskDataPort == c.c2 && c.c3 >= 1 && c.c3 <= 4;
    Sector reply = Signed(model, matches ? device::kStatusSuccess : kStatusCommandFailed);
    Echo(reply, cmd::kDiskCommandData, c.c1);
    if (matches)
        std::copy_n(memory.diskData.begin() + (c.c3 - 1) * device::kPayloadSize,
                    device::kPayloadSize, reply.begin() + device::kDataWindowOffset);
    return reply;
}

}  // namespace

int MemberAtPort(const Enclosure& model, int port) {
    const bool hdd1First = (model.firmwareCode[3] & 0x10) != 0;
    return hdd1First ? port : 1 - port;
}

void SetBackupPeriod(Enclosure& model, std::uint8_t period) {
    const std::uint32_t unitHours = std::max(1, model.backupKind & 0x1F);
    const std::uint32_t ticks = std::uint32_t{period} * unitHours * kTicksPerHour;
    model.backupPeriod = period;
    model.backupWeeks = static_cast<std::uint8_t>(ticks / kTicksPerWeek);
    model.backupTimeToNext = static_cast<std::uint16_t>(ticks % kTicksPerWeek);
}

std::uint64_t SectorsAtPercent(std::uint64_t total, unsigned percent) {
    return (total * percent + 99) / 100;
}

void AdvanceRebuild(Enclosure& model) {
    if (!IsRebuilding(model)) return;
    const std::uint64_t total = RebuildTotal(model);
    model.rebuildDone =
        std::min(total, model.rebuildDone + SectorsAtPercent(total, model.rebuildStepPercent));
    if (model.rebuildDone < total) return;
    for (MemberDisk& m : model.members)
        if (m.state == 1) m.state = 0;
}

Sector RunCommand(Enclosure& model, ControllerMemory& memory, std::span<const std::uint8_t> block) {
    if (block.size() < device::kBlockSizeNoPayload) return Signed(model, kStatusUnknownCommand);
    Command c{block[12], block[13], block[14], block[15], {}};
    if (block.size() >= device::kBlockSizeWithPayload)
        c.payload = block.subspan(device::kBlockSizeNoPayload, device::kPayloadSize);
    if (auto spoilt = SpoiltSetting(model, memory, c)) return *spoilt;

    switch (c.code) {
        case cmd::kIdentify: {
            Sector reply = Signed(model, device::kStatusSuccess);
            PutIdentity(reply, model);
            return reply;
        }
        case cmd::kInformation:
            return Information(model);
        case cmd::kRebuildProgress:
            return RebuildProgress(model);
        case cmd::kArrayStatus:
            return ArrayStatus(model);
        case cmd::kReadSpi:
            return ReadSpi(model, memory, c);
        case cmd::kEraseSpi:
            return EraseSpi(model, memory, c);
        case cmd::kWriteSpi:
            return WriteSpi(model, memory, c);
        case cmd::kBuzzerMuteOn:
            model.buzzerLetter = kBuzzerMuted;
            return Signed(model, device::kStatusSuccess);
        case cmd::kBuzzerMuteOff:
            model.buzzerLetter = kBuzzerSounding;
            return Signed(model, device::kStatusSuccess);
        case cmd::kBackupPreset0:
        case cmd::kBackupPreset0 + 1:
        case cmd::kBackupPreset0 + 2:
        case cmd::kBackupPreset3: {
            const int entry = c.code - cmd::kBackupPreset0;
            SetBackupPeriod(model, entry == 0 ? 0 : model.backupPresets[entry - 1]);
            return Signed(model, device::kStatusSuccess);
        }
        case cmd::kParamCommand76:
        case cmd::kParamCommand77:
            return Signed(model, device::kStatusSuccess);
        case cmd::kSetting:
            return Setting(model, c);
        case cmd::kDiskCommand:
            return DiskCommand(model, memory, c);
        case cmd::kDiskCommandData:
            return DiskCommandData(model, memory, c);
        default:
            return Signed(model, kStatusUnknownCommand);
    }
}

}  // namespace raid::sim
