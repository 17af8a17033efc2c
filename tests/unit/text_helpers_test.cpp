#include <gtest/gtest.h>

#include <array>
#include <ctime>
#include <string>
#include <vector>

#include "common/text.h"
#include "tests/unit/test_files_and_time.h"

namespace raid::text {
namespace {

using raid::test_support::Local;

std::vector<std::uint8_t> Swapped(std::string s, std::size_t width) {
    s.resize(width, ' ');
    std::vector<std::uint8_t> out(width);
    for (std::size_t k = 0; k < width; ++k) out[k] = static_cast<std::uint8_t>(s[k ^ 1u]);
    return out;
}

TEST(TextAta, CharacterKIsByteKXorOneAndEndsAtFirstZero) {
    const std::vector<std::uint8_t> field{'B', 'A', 'D', 'C', 0, 'E', 'G', 'F'};
    EXPECT_EQ(AtaText(field), "ABCDE");
    // An odd field's last byte has no partner: it reads as the end.
    const std::vector<std::uint8_t> odd{'B', 'A', 'C'};
    EXPECT_EQ(AtaText(odd), "AB");
    EXPECT_EQ(AtaText({}), "");
}

TEST(TextAta, ModelsLoseTrailingBlanksButKeepSixCharacters) {
    EXPECT_EQ(MemberModelText(Swapped("WDC WD5000AAKS-00A7B2", 40)), "WDC WD5000AAKS-00A7B2");
    EXPECT_EQ(MemberModelText(Swapped("JM2X", 40)), "JM2X  ");
    EXPECT_EQ(MemberModelText(Swapped("AB  CD", 40)), "AB  CD");
    // A zero ends the model before any trimming.
    auto model = Swapped("ABCDEFGH  XYZ", 40);
    model[11] = 0;  // character 10 ('X')
    EXPECT_EQ(MemberModelText(model), "ABCDEFGH");

    std::array<std::uint8_t, 512> identify{};
    const auto ctl = Swapped("RAID Bridge 2B", 40);
    std::copy(ctl.begin(), ctl.end(), identify.begin() + 54);
    EXPECT_EQ(ControllerModelText(identify), "RAID Bridge 2B");
    // A short identify record reads as zeros past its end.
    EXPECT_EQ(ControllerModelText(std::span(identify).first(60)), "RAID B");
    EXPECT_EQ(ControllerModelText(std::span(identify).first(20)), "");
}

TEST(TextAta, SerialIsNotTrimmed) {
    EXPECT_EQ(SerialText(Swapped("     WD-WCAS12345678", 20)), "     WD-WCAS12345678");
    EXPECT_EQ(SerialText(Swapped("S1", 20)), "S1                  ");
    EXPECT_EQ(SerialText(std::vector<std::uint8_t>(20, 0)), "");
}

TEST(TextCapacity, MegabytesBelowTwoToTheTwentyOneSectorsElseGigabytes) {
    EXPECT_EQ(CapacityText(976773168), "465 GB");
    EXPECT_EQ(CapacityText(2000000), "976 MB");
    EXPECT_EQ(CapacityText(2097151), "1023 MB");
    EXPECT_EQ(CapacityText(2097152), "1 GB");
    EXPECT_EQ(CapacityText(0), "0 MB");
    EXPECT_EQ(CapacityItem(976773168), "465 GB(976773168 Sectors)");
    EXPECT_EQ(CapacityItem(2000000), "976 MB(2000000 Sectors)");
}

TEST(TextCapacity, OnlyTheLowFiveBytesCount) {
    const std::vector<std::uint8_t> field{0x30, 0x60, 0x38, 0x3A, 0x00, 0x01};
    EXPECT_EQ(Capacity40(field), 976773168u);
    const std::vector<std::uint8_t> top{0, 0, 0, 0, 0x01, 0xFF};
    EXPECT_EQ(Capacity40(top), 0x100000000u);
    const std::vector<std::uint8_t> shortField{0x10, 0x01};
    EXPECT_EQ(Capacity40(shortField), 0x110u);
}

TEST(TextFirmware, PrintableBytesAreSwappedOthersGiveHexDigits) {
    std::array<std::uint8_t, 512> identify{};
    identify[46] = 0x10;
    identify[47] = 0x01;
    identify[48] = 0x25;
    identify[49] = 0x01;
    EXPECT_EQ(FirmwareText(identify), "100125.1");
    identify[48] = 0x26;
    identify[49] = 0xAF;  // only the low nibble counts
    EXPECT_EQ(FirmwareText(identify), "100126.F");
    const auto fw = Swapped("V1.02.03", 8);
    std::copy(fw.begin(), fw.end(), identify.begin() + 46);
    EXPECT_EQ(FirmwareText(identify), "V1.02.03");
    identify[53] = 0x1F;  // one control character switches to the hex form
    EXPECT_EQ(FirmwareText(identify), "315630.E");
    EXPECT_EQ(FirmwareText(std::span(identify).first(48)), "315600.0");
}

TEST(TextCodes, ModeStateSataAndDuration) {
    EXPECT_EQ(ArrayModeText(0), "Striping(RAID0)");
    EXPECT_EQ(ArrayModeText(1), "Mirroring(RAID1)");
    EXPECT_EQ(ArrayModeText(2), "NRAID");
    EXPECT_EQ(ArrayModeText(3), "JBOD");
    EXPECT_EQ(ArrayModeText(63), "Bypass");
    EXPECT_EQ(ArrayModeText(4), "Undefine");
    EXPECT_EQ(ArrayModeText(255), "Undefine");

    EXPECT_EQ(StateCodeText(4), "04");
    EXPECT_EQ(StateCodeText(0xAB), "AB");

    EXPECT_EQ(SataText(0), "");
    EXPECT_EQ(SataText(1), "1.5G");
    EXPECT_EQ(SataText(2), "3G");
    EXPECT_EQ(SataText(3), "6G");
    EXPECT_EQ(SataText(4), "");

    EXPECT_EQ(DurationText(30, 1), "30 hours");
    EXPECT_EQ(DurationText(1, 1), "1 hour");
    EXPECT_EQ(DurationText(5, 12), "60 hours");
    EXPECT_EQ(DurationText(1, 24), "1 day");
    EXPECT_EQ(DurationText(2, 24), "2 days");
    EXPECT_EQ(DurationText(7, 168), "49 days");
    EXPECT_EQ(DurationText(0, 24), "0 day");
}

TEST(TextTime, FileDateAndFixedPattern) {
    const TimePoint t = Local(2024, 3, 5, 7, 8, 9);
    EXPECT_EQ(FileDateText(t), "240305");
    EXPECT_EQ(PatternDateTimeFormatter("%d/%m/%Y %H:%M:%S")(t), "05/03/2024 07:08:09");
    EXPECT_EQ(FileDateText(Local(2031, 12, 31, 23, 59, 59)), "311231");
    // The user's locale decides the form; the time of day is in it either way.
    const std::string c = LocaleDateTimeFormatter()(t);
    EXPECT_NE(c.find("07:08:09"), std::string::npos) << c;
}

}  // namespace
}  // namespace raid::text
