// How the emulated controller follows read addresses: which sequences it takes
// as commands and when block 17 carries a reply.
#include <gtest/gtest.h>

#include <vector>

#include "device/protocol.h"
#include "sim/emulator.h"
#include "sim/enclosure_data.h"

namespace raid::sim {
namespace {

using device::kReplyLba;
using device::kSeparatorLba;

class EmulatorDecoderTest : public ::testing::Test {
protected:
    // Reads `lbas` as the host would, separators included where given.
    void ReadAll(const std::vector<std::uint32_t>& lbas) {
        for (std::uint32_t lba : lbas) ASSERT_TRUE(emulator.Read(lba, sector));
    }
    // Reads the sequence with a separator between equal neighbours.
    void Knock(const std::vector<std::uint32_t>& lbas) {
        std::uint32_t previous = 0;
        for (std::uint32_t lba : lbas) {
            if (lba == previous) ReadAll({kSeparatorLba});
            ReadAll({lba});
            previous = lba;
        }
    }
    static std::vector<std::uint32_t> Sequence(std::uint8_t code) {
        return device::BuildKnockSequence(
            device::BuildCommandBlock(0x04, code, 0xCF, 0xDF, 0xEF, {}));
    }
    bool ReplyInBlock17() {
        EXPECT_TRUE(emulator.Read(kReplyLba, sector));
        return device::RecognizeSignature(sector) >= 0;
    }

    ControllerEmulator emulator{*ScenarioEnclosure("raid1")};
    std::vector<std::uint8_t> sector = std::vector<std::uint8_t>(512);
};

TEST_F(EmulatorDecoderTest, Block17IsOrdinaryDataBeforeAnyCommand) {
    ASSERT_TRUE(emulator.Read(kReplyLba, sector));
    std::vector<std::uint8_t> ordinary(512);
    OrdinarySector(kReplyLba, ordinary);
    EXPECT_EQ(sector, ordinary);
    ASSERT_TRUE(emulator.Read(0, sector));
    EXPECT_EQ(sector[510], 0x55);  // an empty MBR
    EXPECT_EQ(sector[511], 0xAA);
}

TEST_F(EmulatorDecoderTest, ReplyStaysUntilTheNextCommandStarts) {
    Knock(Sequence(device::cmd::kInformation));
    EXPECT_TRUE(ReplyInBlock17());
    ReadAll({kSeparatorLba, 1234, 5});
    EXPECT_TRUE(ReplyInBlock17());
    ReadAll({0x43});
    EXPECT_FALSE(ReplyInBlock17());
    EXPECT_EQ(emulator.ExecutedCommands(), std::vector<std::uint8_t>{device::cmd::kInformation});
}

TEST_F(EmulatorDecoderTest, WrongCrcIsIgnored) {
    auto lbas = Sequence(device::cmd::kInformation);
    lbas.back() ^= 0x01;
    Knock(lbas);
    EXPECT_FALSE(ReplyInBlock17());
    EXPECT_TRUE(emulator.ExecutedCommands().empty());
}

TEST_F(EmulatorDecoderTest, StrayReadInsideASequenceDropsIt) {
    auto lbas = Sequence(device::cmd::kInformation);
    lbas.insert(lbas.begin() + 9, 0);  // e.g. the system reading the partition table
    Knock(lbas);
    EXPECT_FALSE(ReplyInBlock17());
    EXPECT_TRUE(emulator.ExecutedCommands().empty());
}

TEST_F(EmulatorDecoderTest, FreshPreambleRestartsAHalfSentSequence) {
    const auto full = Sequence(device::cmd::kArrayStatus);
    Knock(std::vector<std::uint32_t>(full.begin(), full.begin() + 7));
    Knock(full);
    EXPECT_TRUE(ReplyInBlock17());
    EXPECT_EQ(emulator.ExecutedCommands(), std::vector<std::uint8_t>{device::cmd::kArrayStatus});
}

TEST_F(EmulatorDecoderTest, RepeatWithoutSeparatorIsInvisible) {
    std::vector<std::uint8_t> payload(128, 0x00);
    const auto lbas = device::BuildKnockSequence(
        device::BuildCommandBlock(0x05, device::cmd::kWriteSpi, 0x01, 0x00, 0x00, payload));
    ReadAll(lbas);  // no separators: the controller sees one 0x300, not 128
    ReadAll({kSeparatorLba});
    EXPECT_FALSE(ReplyInBlock17());
    Knock(lbas);
    EXPECT_TRUE(ReplyInBlock17());
}

TEST_F(EmulatorDecoderTest, SeparatorsBetweenDistinctAddressesDoNoHarm) {
    for (std::uint32_t lba : Sequence(device::cmd::kInformation)) ReadAll({kSeparatorLba, lba});
    EXPECT_TRUE(ReplyInBlock17());
}

TEST_F(EmulatorDecoderTest, FailedReadNeverReachesTheController) {
    const auto lbas = Sequence(device::cmd::kInformation);
    emulator.FailReadAt(lbas[5]);
    for (std::size_t i = 0; i < lbas.size(); ++i) {
        const bool ok = emulator.Read(lbas[i], sector);
        EXPECT_EQ(ok, i != 5);
    }
    EXPECT_FALSE(ReplyInBlock17());
    EXPECT_EQ(emulator.Trace().size(), lbas.size() + 1);
}

TEST_F(EmulatorDecoderTest, TooSmallBufferFailsTheRead) {
    std::vector<std::uint8_t> small(100);
    EXPECT_FALSE(emulator.Read(0, small));
}

TEST_F(EmulatorDecoderTest, UnknownCommandGetsAFailureStatus) {
    Knock(device::BuildKnockSequence(device::BuildCommandBlock(0x04, 0x42, 0xCF, 0xDF, 0xEF, {})));
    ASSERT_TRUE(ReplyInBlock17());
    EXPECT_NE(sector[device::kStatusOffset], device::kStatusSuccess);
    EXPECT_NE(device::ReplyStatus(sector[device::kStatusOffset]), device::kResultUnknownStatus);
}

}  // namespace
}  // namespace raid::sim
