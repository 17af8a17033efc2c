#include "monitor/status_decode.h"

#include <algorithm>

namespace raid::monitor {
namespace {

constexpr std::size_t kModeByte = 80;
constexpr std::size_t kFirstPortBlock = 84;
constexpr std::size_t kSecondPortBlock = 160;
constexpr std::size_t kPortModel = 4;
constexpr std::size_t kPortSerial = 44;
constexpr std::size_t kPortCapacity = 70;

struct MemberLayout {
    std::size_t stateOffset, serialOffset, modelOffset, capacityOffset;
    int shift;
};
constexpr MemberLayout kHdd1{rec::kHdd1State, rec::kHdd1Serial, rec::kHdd1Model, rec::kHdd1Capacity,
                             0};
constexpr MemberLayout kHdd2{rec::kHdd2State, rec::kHdd2Serial, rec::kHdd2Model, rec::kHdd2Capacity,
                             4};

// One member from its port block; returns its class bits in position.
std::uint8_t DecodeMember(Record512& record, const device::ReplySector& reply, std::size_t block,
                          const MemberLayout& m, MemberFill fill, std::uint8_t& rebuildBits) {
    const std::uint8_t raw = reply[block];
    record[m.stateOffset] = raw;
    const std::uint8_t cls = ClassifyMemberState(raw);
    if (raw == 1) rebuildBits |= static_cast<std::uint8_t>(1u << (m.shift / 4));
    const bool copy = fill == MemberFill::Poll
                          ? cls != diskstate::kHdd1Absent
                          : (cls & (diskstate::kHdd1Present | diskstate::kHdd1Failed)) != 0;
    if (copy) {
        std::copy_n(reply.begin() + static_cast<long>(block + kPortModel), 40,
                    record.begin() + static_cast<long>(m.modelOffset));
        std::copy_n(reply.begin() + static_cast<long>(block + kPortSerial), 20,
                    record.begin() + static_cast<long>(m.serialOffset));
        for (std::size_t k = 0; k < 6; ++k)
            record[m.capacityOffset + k] = reply[block + kPortCapacity + 5 - k];
    } else if (fill == MemberFill::DiscoveryFresh) {
        std::fill_n(record.begin() + static_cast<long>(m.modelOffset), 40, ' ');
        std::fill_n(record.begin() + static_cast<long>(m.serialOffset), 20, ' ');
        std::fill_n(record.begin() + static_cast<long>(m.capacityOffset), 6, 0);
    }
    return static_cast<std::uint8_t>(cls << m.shift);
}

}  // namespace

std::uint8_t ClassifyMemberState(std::uint8_t rawState) {
    switch (rawState) {
        case 0:
        case 1:
            return diskstate::kHdd1Present;
        case 6:
            return diskstate::kHdd1Inserted;
        case 9:
            return diskstate::kHdd1Failed;
        default:
            return diskstate::kHdd1Absent;
    }
}

std::uint8_t ArrayModeCode(std::uint8_t replyByte) {
    switch (replyByte) {
        case 0:
            return 3;
        case 1:
            return 0;
        case 2:
            return 1;
        default:
            return 63;
    }
}

void DecodeArrayStatus(Record512& record, const device::ReplySector& reply, bool hdd1First,
                       MemberFill fill) {
    record[rec::kArrayMode] = ArrayModeCode(reply[kModeByte]);
    const std::size_t hdd1Block = hdd1First ? kFirstPortBlock : kSecondPortBlock;
    const std::size_t hdd2Block = hdd1First ? kSecondPortBlock : kFirstPortBlock;
    std::uint8_t rebuild = 0;
    std::uint8_t flags = DecodeMember(record, reply, hdd1Block, kHdd1, fill, rebuild);
    flags |= DecodeMember(record, reply, hdd2Block, kHdd2, fill, rebuild);
    record[rec::kDiskStateFlags] = flags;
    record[rec::kRebuildFlags] = rebuild;
}

std::uint64_t ReadBigEndian(const device::ReplySector& reply, std::size_t offset,
                            std::size_t width) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < width && offset + i < reply.size(); ++i)
        v = (v << 8) | reply[offset + i];
    return v;
}

std::uint8_t RebuildPercent(const device::ReplySector& reply) {
    const std::uint64_t total = ReadBigEndian(reply, 94, 6);
    const std::uint64_t done = ReadBigEndian(reply, 119, 5);
    // A controller that reports no total has nothing to divide by: show 0
    // rather than guess.
    if (total == 0) return 0;
    // done < 2^40, so done * 100 fits in 64 bits. A count past the total
    // (the controller overshooting) is a finished rebuild, not a wrapped byte.
    return static_cast<std::uint8_t>(std::min<std::uint64_t>((done * 100) / total, 100));
}

void DecodeInformation(Record512& record, const device::ReplySector& reply, bool buzzerCapability) {
    record[rec::kFanLow] = reply[129];
    record[rec::kFanHigh] = reply[128];
    record[rec::kTemperature] = reply[127];
    if (buzzerCapability) {
        if (reply[130] == 'Z')
            record[rec::kOptionBits] |= 0x01;
        else
            record[rec::kOptionBits] &= static_cast<std::uint8_t>(~0x01);
    }
    if ((reply[134] & 0xE0) == 0xA0) {
        record[rec::kSchedule] = reply[131];
        record[rec::kSchedule + 1] = reply[132];
        record[rec::kSchedule + 2] = reply[133];
        record[rec::kSchedule + 3] = reply[135];
    } else {
        std::fill_n(record.begin() + rec::kSchedule, 4, 0);
    }
}

}  // namespace raid::monitor
