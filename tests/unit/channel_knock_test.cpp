// The host side's read order, as the emulated controller records it.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "device/channel.h"
#include "sim/sim_disks.h"

namespace raid::device {
namespace {

class ChannelKnockTest : public ::testing::Test {
protected:
    ChannelKnockTest() {
        emulator =
            std::make_shared<sim::ControllerEmulator>(*sim::ScenarioEnclosure("raid1"), &clock);
        disk = disks.AddEnclosure(emulator);
    }

    // The reads of the knock sequence itself: everything before the first
    // reply poll (0x5FFF followed by block 17).
    std::vector<std::uint32_t> KnockReads() const {
        const auto trace = emulator->Trace();
        for (std::size_t i = 0; i + 1 < trace.size(); ++i)
            if (trace[i] == kSeparatorLba && trace[i + 1] == kReplyLba)
                return {trace.begin(), trace.begin() + static_cast<std::ptrdiff_t>(i)};
        return trace;
    }

    platform::ManualClock clock;
    sim::SimDiskSystem disks;
    std::shared_ptr<sim::ControllerEmulator> emulator;
    int disk = 0;
    CommandChannel ch{disks, clock};
};

TEST_F(ChannelKnockTest, IdentifyQueryReadsInTheDocumentedOrder) {
    ReplySector out{};
    ASSERT_EQ(QueryController(ch, disk, cmd::kIdentify, out), kResultSuccess);

    const std::vector<std::uint8_t> block{0x43, 0x00, 0x71, 0x00, 0xA7, 0x00, 0xDF, 0x00,
                                          0x00, 0x04, 0xEF, 0xFF, 0x10, 0xCF, 0xDF, 0xEF};
    const std::uint32_t crc = CommandCrc(block);
    std::vector<std::uint32_t> expected{0x43,  0x71,  0xA7,  0xDF,  0x100, 0x104,
                                        0x1EF, 0x1FF, 0x210, 0x2CF, 0x2DF, 0x2EF};
    for (int shift = 24; shift >= 0; shift -= 8)
        expected.push_back(0x400 + ((crc >> shift) & 0xFF));
    // The emulator answers at once, so one poll follows.
    expected.push_back(kSeparatorLba);
    expected.push_back(kReplyLba);
    EXPECT_EQ(emulator->Trace(), expected);
    EXPECT_EQ(emulator->ExecutedCommands(), std::vector<std::uint8_t>{cmd::kIdentify});
}

TEST_F(ChannelKnockTest, EqualNeighboursGetOneSeparatorAndTheFirstReadNone) {
    // Runs of equal payload bytes, then changing ones, so both cases occur.
    SpiBlock data{};
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = i < 40 ? 0x00 : static_cast<std::uint8_t>(i);
    auto handle = OpenDevice(ch, disk);
    ASSERT_TRUE(handle);
    ASSERT_EQ(WriteSPI(ch, *handle, 0x2000, data), kResultSuccess);

    const auto reads = KnockReads();
    ASSERT_FALSE(reads.empty());
    EXPECT_EQ(reads.front(), 0x43u);

    // Taking the separators out gives the plain sequence; each separator sits
    // between two equal addresses, and equal addresses never meet without one.
    std::vector<std::uint32_t> plain;
    std::size_t separators = 0;
    for (std::size_t i = 0; i < reads.size(); ++i) {
        if (reads[i] != kSeparatorLba) {
            if (i > 0) {
                EXPECT_NE(reads[i - 1], reads[i]) << "at " << i;
            }
            plain.push_back(reads[i]);
            continue;
        }
        ++separators;
        ASSERT_TRUE(i > 0 && i + 1 < reads.size());
        EXPECT_EQ(reads[i - 1], reads[i + 1]) << "separator at " << i;
    }
    const auto expected =
        BuildKnockSequence(BuildCommandBlock(0x05, cmd::kWriteSpi, 0x01, 0x00, 0x40, data));
    EXPECT_EQ(plain, expected);
    std::size_t equalNeighbours = 0;
    for (std::size_t i = 1; i < expected.size(); ++i)
        equalNeighbours += expected[i] == expected[i - 1];
    EXPECT_GE(equalNeighbours, 39u);  // forty equal payload bytes in a row
    EXPECT_EQ(separators, equalNeighbours);
    EXPECT_EQ(emulator->ExecutedCommands(), std::vector<std::uint8_t>{cmd::kWriteSpi});
}

TEST_F(ChannelKnockTest, ReadSpiSendsTheBlockNumberHighByteFirst) {
    auto handle = OpenDevice(ch, disk);
    ASSERT_TRUE(handle);
    SpiBlock out{};
    ASSERT_EQ(ReadSPI(ch, *handle, 0x1000, out), kResultSuccess);
    const auto reads = KnockReads();
    ASSERT_GE(reads.size(), 12u);
    EXPECT_EQ(std::vector<std::uint32_t>(reads.begin() + 4, reads.begin() + 8),
              (std::vector<std::uint32_t>{0x100, 0x104, 0x1EF, 0x1FF}));
    EXPECT_EQ(std::vector<std::uint32_t>(reads.begin() + 8, reads.begin() + 12),
              (std::vector<std::uint32_t>{0x220, 0x201, 0x200, 0x220}));
}

TEST_F(ChannelKnockTest, EraseAndDiskCommandsCarryTheirHeaders) {
    auto handle = OpenDevice(ch, disk);
    ASSERT_TRUE(handle);
    ASSERT_EQ(EraseSPI(ch, *handle, 0x3000), kResultSuccess);
    auto reads = KnockReads();
    ASSERT_GE(reads.size(), 12u);
    EXPECT_EQ(reads[5], 0x105u);
    EXPECT_EQ(std::vector<std::uint32_t>(reads.begin() + 8, reads.begin() + 12),
              (std::vector<std::uint32_t>{0x223, 0x201, 0x200, 0x260}));
    handle.reset();

    emulator->ClearTrace();
    ReplySector out{};
    ASSERT_EQ(IssueDiskCommand(ch, disk, 0xEC, 1, out), kResultSuccess);
    reads = KnockReads();
    ASSERT_GE(reads.size(), 15u);
    EXPECT_EQ(std::vector<std::uint32_t>(reads.begin() + 4, reads.begin() + 15),
              (std::vector<std::uint32_t>{0x101, 0x105, 0x1EF, 0x1FF, 0x2B1, 0x2EC, 0x201, 0x200,
                                          0x327, 0x380, 0x3EC}));
}

}  // namespace
}  // namespace raid::device
