#include "monitor/status_decode.h"

#include <gtest/gtest.h>

#include <cstring>

namespace raid::monitor {
namespace {

using device::ReplySector;

// An array status reply with both port blocks filled.
ReplySector ArrayReply(std::uint8_t mode, std::uint8_t firstState, std::uint8_t secondState) {
    ReplySector r{};
    r[80] = mode;
    r[84] = firstState;
    r[160] = secondState;
    std::memcpy(&r[84 + 4], "FIRST MODEL", 11);
    std::memcpy(&r[160 + 4], "SECOND MODEL", 12);
    std::memcpy(&r[84 + 44], "SER1", 4);
    std::memcpy(&r[160 + 44], "SER2", 4);
    // Capacities 0x0000_3A38_6030 and 0x0000_0001_0000, big-endian.
    const std::uint8_t c1[6] = {0x00, 0x00, 0x3A, 0x38, 0x60, 0x30};
    const std::uint8_t c2[6] = {0x00, 0x00, 0x00, 0x01, 0x00, 0x00};
    std::memcpy(&r[84 + 70], c1, 6);
    std::memcpy(&r[160 + 70], c2, 6);
    return r;
}

std::uint64_t Capacity(const Record512& rec, std::size_t off) {
    std::uint64_t v = 0;
    for (int i = 5; i >= 0; --i) v = (v << 8) | rec[off + static_cast<std::size_t>(i)];
    return v;
}

TEST(ArrayStatusDecode, ModeBytesMapToModeCodes) {
    const std::pair<std::uint8_t, std::uint8_t> cases[] = {
        {0, 3}, {1, 0}, {2, 1}, {3, 63}, {5, 63}};
    for (auto [byte, code] : cases) {
        Record512 rec{};
        DecodeArrayStatus(rec, ArrayReply(byte, 0, 0), true, MemberFill::Poll);
        EXPECT_EQ(rec[rec::kArrayMode], code) << int(byte);
    }
}

TEST(ArrayStatusDecode, PortOrderFollowsIdentifyBit) {
    Record512 rec{};
    DecodeArrayStatus(rec, ArrayReply(2, 0, 9), /*hdd1First=*/false, MemberFill::Poll);
    // HDD1 is the second block (failed), HDD2 the first (present).
    EXPECT_EQ(rec[rec::kHdd1State], 9);
    EXPECT_EQ(rec[rec::kHdd2State], 0);
    EXPECT_EQ(rec[rec::kDiskStateFlags], diskstate::kHdd1Failed | diskstate::kHdd2Present);
    EXPECT_EQ(0, std::memcmp(&rec[rec::kHdd1Model], "SECOND MODEL", 12));
    EXPECT_EQ(0, std::memcmp(&rec[rec::kHdd2Model], "FIRST MODEL", 11));
    EXPECT_EQ(Capacity(rec, rec::kHdd1Capacity), 0x10000u);
    EXPECT_EQ(Capacity(rec, rec::kHdd2Capacity), 0x3A386030u);
}

TEST(ArrayStatusDecode, AbsentMemberKeepsItsLastTextsInThePoll) {
    Record512 rec{};
    DecodeArrayStatus(rec, ArrayReply(2, 0, 0), true, MemberFill::Poll);
    auto reply = ArrayReply(2, 0, 7);
    std::memcpy(&reply[160 + 4], "CHANGED MODEL", 13);
    DecodeArrayStatus(rec, reply, true, MemberFill::Poll);
    EXPECT_EQ(rec[rec::kHdd2State], 7);
    EXPECT_EQ(rec[rec::kDiskStateFlags], diskstate::kHdd1Present | diskstate::kHdd2Absent);
    EXPECT_EQ(0, std::memcmp(&rec[rec::kHdd2Model], "SECOND MODEL", 12));
    EXPECT_EQ(0, std::memcmp(&rec[rec::kHdd2Serial], "SER2", 4));
    EXPECT_EQ(Capacity(rec, rec::kHdd2Capacity), 0x10000u);
}

TEST(ArrayStatusDecode, DiscoveryBlanksMembersThatAreNotInUse) {
    Record512 rec{};
    rec.fill(0xAA);
    DecodeArrayStatus(rec, ArrayReply(2, 6, 0), true, MemberFill::DiscoveryFresh);
    // Newly inserted HDD1: blanked on a first fill; HDD2 copied.
    EXPECT_EQ(rec[rec::kHdd1Model], ' ');
    EXPECT_EQ(rec[rec::kHdd1Model + 39], ' ');
    EXPECT_EQ(rec[rec::kHdd1Serial + 19], ' ');
    EXPECT_EQ(Capacity(rec, rec::kHdd1Capacity), 0u);
    EXPECT_EQ(rec[rec::kDiskStateFlags], diskstate::kHdd1Inserted | diskstate::kHdd2Present);

    Record512 again{};
    again.fill(0xAA);
    DecodeArrayStatus(again, ArrayReply(2, 6, 0), true, MemberFill::DiscoveryAlreadyFilled);
    EXPECT_EQ(again[rec::kHdd1Model], 0xAA);
}

TEST(ArrayStatusDecode, RebuildFlagsComeFromStateOne) {
    Record512 rec{};
    DecodeArrayStatus(rec, ArrayReply(2, 0, 1), true, MemberFill::Poll);
    EXPECT_EQ(rec[rec::kRebuildFlags], 0x02);
    DecodeArrayStatus(rec, ArrayReply(2, 1, 0), true, MemberFill::Poll);
    EXPECT_EQ(rec[rec::kRebuildFlags], 0x01);
    DecodeArrayStatus(rec, ArrayReply(2, 0, 0), true, MemberFill::Poll);
    EXPECT_EQ(rec[rec::kRebuildFlags], 0x00);
}

TEST(RebuildProgress, PercentIsTruncatedAndSafeWithoutTotal) {
    ReplySector r{};
    r[84] = 2;
    r[98] = 0x03;  // total 1000 = 0x3E8 at 94..99
    r[99] = 0xE8;
    r[122] = 0x01;  // done 333 = 0x14D at 119..123
    r[123] = 0x4D;
    EXPECT_EQ(RebuildPercent(r), 33);
    r[98] = r[99] = 0;
    EXPECT_EQ(RebuildPercent(r), 0);
    // The largest counts the reply can carry do not overflow.
    for (std::size_t i = 94; i < 100; ++i) r[i] = 0xFF;
    for (std::size_t i = 119; i < 124; ++i) r[i] = 0xFF;
    EXPECT_EQ(RebuildPercent(r), 0);  // 2^40 of 2^48 is below 1 %
    // More sectors done than the total: finished, never a wrapped byte.
    for (std::size_t i = 94; i < 100; ++i) r[i] = 0;
    r[99] = 100;  // total 100, done 2^40 - 1
    EXPECT_EQ(RebuildPercent(r), 100);
    for (std::size_t i = 119; i < 124; ++i) r[i] = 0;
    r[123] = 103;
    EXPECT_EQ(RebuildPercent(r), 100);
}

TEST(InformationDecode, SensorsBuzzerAndSchedule) {
    ReplySector r{};
    r[127] = 41;
    r[128] = 0x09;
    r[129] = 0x60;
    r[130] = 'Z';
    r[131] = 7;
    r[132] = 0x01;
    r[133] = 0x02;
    r[134] = 0xA1;
    r[135] = 3;
    Record512 rec{};
    DecodeInformation(rec, r, true);
    EXPECT_EQ(rec[rec::kTemperature], 41);
    EXPECT_EQ(rec[rec::kFanHigh] * 256 + rec[rec::kFanLow], 0x0960);
    EXPECT_EQ(rec[rec::kOptionBits] & 1, 1);
    EXPECT_EQ(rec[rec::kSchedule], 7);
    EXPECT_EQ(rec[rec::kSchedule + 3], 3);

    r[130] = 'Y';
    r[134] = 0x41;
    DecodeInformation(rec, r, true);
    EXPECT_EQ(rec[rec::kOptionBits] & 1, 0);
    EXPECT_EQ(rec[rec::kSchedule], 0);
    EXPECT_EQ(rec[rec::kSchedule + 3], 0);

    // Without the capability the buzzer bit is left alone.
    rec[rec::kOptionBits] = 1;
    DecodeInformation(rec, r, false);
    EXPECT_EQ(rec[rec::kOptionBits] & 1, 1);
}

}  // namespace
}  // namespace raid::monitor
