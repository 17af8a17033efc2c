// The emulated SPI flash: erase units, bit-clearing programs, read-back and
// injected program failures, all through the host's flash commands.
#include <gtest/gtest.h>

#include <memory>

#include "device/channel.h"
#include "sim/enclosure_data.h"
#include "sim/sim_disks.h"

namespace raid::sim {
namespace {

using device::SpiBlock;

class EmulatorSpiTest : public ::testing::Test {
protected:
    EmulatorSpiTest() {
        emulator = std::make_shared<ControllerEmulator>(*ScenarioEnclosure("raid1"), &clock);
        disks.AddEnclosure(emulator);
        handle = device::OpenDevice(ch, 0);
    }
    SpiBlock ReadBlock(std::uint32_t address) {
        SpiBlock out{};
        EXPECT_EQ(device::ReadSPI(ch, *handle, address, out), device::kResultSuccess);
        return out;
    }
    static SpiBlock Filled(std::uint8_t value) {
        SpiBlock b;
        b.fill(value);
        return b;
    }

    platform::ManualClock clock;
    SimDiskSystem disks;
    std::shared_ptr<ControllerEmulator> emulator;
    device::CommandChannel ch{disks, clock};
    std::unique_ptr<platform::DiskHandle> handle;
};

TEST_F(EmulatorSpiTest, DefaultImageCarriesTheTypeByte) {
    ASSERT_TRUE(handle);
    EXPECT_EQ(ReadBlock(0x80)[0x95 - 0x80], kDefaultSpiTypeByte);
}

TEST_F(EmulatorSpiTest, EraseClearsExactlyOneUnit) {
    const SpiBlock before = ReadBlock(0x1000 - 0x80);
    ASSERT_NE(before, Filled(0xFF));
    // Any block address inside the unit erases the whole unit.
    ASSERT_EQ(device::EraseSPI(ch, *handle, 0x1800), device::kResultSuccess);
    for (std::uint32_t a = 0x1000; a < 0x2000; a += 0x80) EXPECT_EQ(ReadBlock(a), Filled(0xFF));
    EXPECT_EQ(ReadBlock(0x1000 - 0x80), before);
    EXPECT_NE(ReadBlock(0x2000), Filled(0xFF));
}

TEST_F(EmulatorSpiTest, ProgramCanOnlyClearBits) {
    ASSERT_EQ(device::EraseSPI(ch, *handle, 0x4000), device::kResultSuccess);
    SpiBlock data{};
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 3);
    ASSERT_EQ(device::WriteSPI(ch, *handle, 0x4080, data), device::kResultSuccess);
    EXPECT_EQ(ReadBlock(0x4080), data);
    EXPECT_EQ(ReadBlock(0x4000), Filled(0xFF));

    // A second program over it ANDs; it cannot bring erased bits back.
    ASSERT_EQ(device::WriteSPI(ch, *handle, 0x4080, Filled(0xF0)), device::kResultSuccess);
    const SpiBlock now = ReadBlock(0x4080);
    for (std::size_t i = 0; i < now.size(); ++i) EXPECT_EQ(now[i], data[i] & 0xF0) << i;
}

TEST_F(EmulatorSpiTest, InjectedProgramFailureLeavesFlashAndRecovers) {
    ASSERT_EQ(device::EraseSPI(ch, *handle, 0x0000), device::kResultSuccess);
    emulator->FailSpiProgramAt(0x80, 2);
    const SpiBlock data = Filled(0x12);
    EXPECT_NE(device::WriteSPI(ch, *handle, 0x80, data), device::kResultSuccess);
    EXPECT_NE(device::WriteSPI(ch, *handle, 0x80, data), device::kResultSuccess);
    EXPECT_EQ(ReadBlock(0x80), Filled(0xFF));
    // Other blocks are not affected.
    EXPECT_EQ(device::WriteSPI(ch, *handle, 0x100, data), device::kResultSuccess);
    EXPECT_EQ(device::WriteSPI(ch, *handle, 0x80, data), device::kResultSuccess);
    EXPECT_EQ(ReadBlock(0x80), data);
}

TEST_F(EmulatorSpiTest, FaultsThatStopTheCommandLeaveTheFlashAndTellTheHost) {
    ASSERT_EQ(device::EraseSPI(ch, *handle, 0x0000), device::kResultSuccess);
    const SpiBlock data = Filled(0x12);
    struct Case {
        const char* line;
        std::uint8_t result;
    };
    // Each spoils the program of block 0x80 once; the next program goes through.
    for (const Case& c : {Case{"spifault program 80 fail", 0xC0},
                          Case{"spifault program 80 status", device::kResultUnknownStatus},
                          Case{"spifault program 80 noreply", device::kResultNoReply}}) {
        SCOPED_TRACE(c.line);
        ASSERT_EQ(emulator->Control(c.line), "");
        EXPECT_EQ(device::WriteSPI(ch, *handle, 0x80, data), c.result);
        EXPECT_EQ(ReadBlock(0x80), Filled(0xFF));
    }
    EXPECT_EQ(device::WriteSPI(ch, *handle, 0xC0, data), device::kResultSuccess);  // same block
    EXPECT_EQ(ReadBlock(0x80), data);
}

TEST_F(EmulatorSpiTest, AFailedReplyReadHidesACommandThatRan) {
    ASSERT_EQ(device::EraseSPI(ch, *handle, 0x2000), device::kResultSuccess);
    emulator->InjectSpiFault({SpiOperation::Program, 0x2100, SpiFaultKind::ReplyReadFails, 1});
    EXPECT_EQ(device::WriteSPI(ch, *handle, 0x2100, Filled(0x34)), device::kResultReplyReadFailed);
    EXPECT_EQ(ReadBlock(0x2100), Filled(0x34));

    emulator->InjectSpiFault({SpiOperation::Erase, 0x2FFF, SpiFaultKind::ReplyReadFails, 1});
    EXPECT_EQ(device::EraseSPI(ch, *handle, 0x2000), device::kResultReplyReadFailed);
    EXPECT_EQ(ReadBlock(0x2100), Filled(0xFF));
}

TEST_F(EmulatorSpiTest, AFlippedBitLandsWhereTheOperationPutsIt) {
    ASSERT_EQ(device::EraseSPI(ch, *handle, 0x3000), device::kResultSuccess);
    const SpiBlock data = Filled(0x5A);
    SpiBlock flipped = data;
    flipped[0] ^= 0x01;

    // Read: only the data sent back is wrong, once.
    ASSERT_EQ(device::WriteSPI(ch, *handle, 0x3000, data), device::kResultSuccess);
    emulator->InjectSpiFault({SpiOperation::Read, 0x3000, SpiFaultKind::FlipBit, 1});
    EXPECT_EQ(ReadBlock(0x3000), flipped);
    EXPECT_EQ(ReadBlock(0x3000), data);

    // Program: the flash keeps a wrong bit.
    emulator->InjectSpiFault({SpiOperation::Program, 0x3080, SpiFaultKind::FlipBit, 1});
    EXPECT_EQ(device::WriteSPI(ch, *handle, 0x3080, data), device::kResultSuccess);
    EXPECT_EQ(ReadBlock(0x3080)[0], 0x5B);

    // Erase: the unit's first bit stays programmed.
    emulator->InjectSpiFault({SpiOperation::Erase, 0x3000, SpiFaultKind::FlipBit, 1});
    EXPECT_EQ(device::EraseSPI(ch, *handle, 0x3000), device::kResultSuccess);
    SpiBlock erased = Filled(0xFF);
    erased[0] = 0xFE;
    EXPECT_EQ(ReadBlock(0x3000), erased);
}

TEST_F(EmulatorSpiTest, AVanishingEnclosureTakesItsDiskAlong) {
    disks.AddPlainDisk();
    ASSERT_EQ(emulator->Control("spifault erase 5000 vanish"), "");
    EXPECT_EQ(device::EraseSPI(ch, *handle, 0x4000), device::kResultSuccess);
    EXPECT_EQ(device::EraseSPI(ch, *handle, 0x5000), device::kResultKnockReadFailed);
    EXPECT_TRUE(emulator->Unplugged());
    SpiBlock out{};
    EXPECT_NE(device::ReadSPI(ch, *handle, 0, out), device::kResultSuccess);
    // The plain disk behind it moves down to number 0.
    ASSERT_EQ(disks.ListDisks().size(), 1u);
    EXPECT_EQ(disks.Emulator(0), nullptr);
}

TEST_F(EmulatorSpiTest, AddressesPastTheFlashFail) {
    SpiBlock out{};
    EXPECT_NE(device::ReadSPI(ch, *handle, kSpiFlashSize, out), device::kResultSuccess);
    EXPECT_NE(device::EraseSPI(ch, *handle, kSpiFlashSize), device::kResultSuccess);
    EXPECT_EQ(device::ReadSPI(ch, *handle, kSpiFlashSize - 0x80, out), device::kResultSuccess);
}

}  // namespace
}  // namespace raid::sim
