#include <gtest/gtest.h>

#include <vector>

#include "device/protocol.h"

namespace raid::device {
namespace {

TEST(KnockSequence, IdentifyQuerySpellsTheBlockInOrder) {
    const auto block = BuildCommandBlock(0x04, 0x10, 0xCF, 0xDF, 0xEF, {});
    const std::vector<std::uint8_t> expectedHead{0x43, 0x00, 0x71, 0x00, 0xA7, 0x00, 0xDF, 0x00,
                                                 0x00, 0x04, 0xEF, 0xFF, 0x10, 0xCF, 0xDF, 0xEF};
    ASSERT_EQ(block.size(), 20u);
    EXPECT_EQ(std::vector<std::uint8_t>(block.begin(), block.begin() + 16), expectedHead);
    const std::uint32_t crc = CommandCrc(expectedHead);
    // zlib's CRC-32 of these sixteen bytes, computed independently.
    EXPECT_EQ(block[16], crc >> 24);
    EXPECT_EQ(block[19], crc & 0xFF);

    const auto lbas = BuildKnockSequence(block);
    std::vector<std::uint32_t> expected{0x43,  0x71,  0xA7,  0xDF,  0x100, 0x104,
                                        0x1EF, 0x1FF, 0x210, 0x2CF, 0x2DF, 0x2EF};
    for (int i = 0; i < 4; ++i) expected.push_back(0x400 + ((crc >> (24 - 8 * i)) & 0xFF));
    EXPECT_EQ(lbas, expected);
}

TEST(KnockSequence, PayloadBytesCarryRole3AndTheHeaderSaysSo) {
    std::vector<std::uint8_t> payload(128, 0x00);
    payload[0] = 0xAB;
    const auto block = BuildCommandBlock(0x05, 0x25, 0x01, 0x00, 0x20, payload);
    ASSERT_EQ(block.size(), 148u);
    EXPECT_EQ(block[8], 1);
    const auto lbas = BuildKnockSequence(block);
    ASSERT_EQ(lbas.size(), 144u);
    EXPECT_EQ(lbas[12], 0x3ABu);
    EXPECT_EQ(lbas[13], 0x300u);
    EXPECT_EQ(lbas[139], 0x300u);
    EXPECT_GE(lbas[140], 0x400u);
}

TEST(KnockSequence, MalformedBlockGivesNoSequence) {
    std::vector<std::uint8_t> shortBlock(19, 0);
    EXPECT_TRUE(BuildKnockSequence(shortBlock).empty());
}

TEST(ReplyStatusTest, KnownValuesPassOthersBecomeF4) {
    for (std::uint8_t v : {0x00, 0x10, 0x20, 0xC0, 0xD0, 0xE0, 0xF0, 0xFF})
        EXPECT_EQ(ReplyStatus(v), v);
    EXPECT_EQ(ReplyStatus(0x33), 0xF4);
    EXPECT_EQ(ReplyStatus(0x21), 0xF4);
}

TEST(DiskFis, IdentifyAndSmartForms) {
    const auto id = BuildDiskFis(0xEC);
    EXPECT_EQ(id[0], 0x27);
    EXPECT_EQ(id[1], 0x80);
    EXPECT_EQ(id[2], 0xEC);
    EXPECT_EQ(id[3], 0x00);
    EXPECT_EQ(id[12], 0x01);
    const auto smart = BuildDiskFis(0xD0);
    EXPECT_EQ(smart[2], 0xB0);
    EXPECT_EQ(smart[3], 0xD0);
    EXPECT_EQ(smart[5], 0x4F);
    EXPECT_EQ(smart[6], 0xC2);
    EXPECT_EQ(smart[7], 0xE0);
    for (std::size_t i = 20; i < smart.size(); ++i) EXPECT_EQ(smart[i], 0) << i;
}

}  // namespace
}  // namespace raid::device
