// What the SMART page shows for literal attribute tables: per-row status,
// texts and colours, the overall verdict, the 4K line and the tooltips.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "smart/attribute_tooltip.h"
#include "smart/attributes.h"
#include "smart/smart_state.h"
#include "tests/unit/attribute_table.h"

namespace raid::smart {
namespace {

using literal::Blocks;
using literal::Table;

SmartView View(const Blocks& b, std::uint32_t word106 = 0x6003) {
    return BuildSmartView(b.data, b.thresholds, word106);
}

std::vector<std::string> StatusColumn(const SmartView& v) {
    std::vector<std::string> texts;
    for (const SmartRow& r : v.rows) texts.push_back(r.cells[kStatusColumn]);
    return texts;
}

TEST(SmartVerdict, CountingAlertsAddUpAndErrorsWin) {
    struct Case {
        const char* what;
        Blocks table;
        const char* verdict;
        Rgb colour;
    };
    const Case cases[] = {
        {"no alert", Table({{5, 100, 0, 36}, {194, 100, 35, 0}}), " Good ", kBlack},
        {"one status-1 attribute", Table({{5, 100, 0, 36}, {196, 100, 3, 0}}), " Good ", kBlack},
        {"two status-1 attributes", Table({{196, 100, 1, 0}, {199, 200, 7, 0}}), " Warning ",
         kMaroon},
        {"one status-2 attribute", Table({{197, 100, 1, 0}}), " Warning ", kMaroon},
        {"one status-4 attribute (retries)", Table({{11, 100, 2, 0}}), " Warning ", kMaroon},
        {"one status-4 attribute (airflow)", Table({{190, 40, 60, 45}}), " Warning ", kMaroon},
        {"status 1 then status 4", Table({{196, 100, 1, 0}, {10, 100, 1, 51}}), " Warning ",
         kMaroon},
        {"status 16 among alerts", Table({{197, 100, 1, 0}, {7, 20, 0, 30}, {199, 200, 1, 0}}),
         " Error ", kRed},
        {"status 16 alone", Table({{8, 10, 0, 20}}), " Error ", kRed},
        {"eight status-2 attributes",
         Table({{197, 100, 1, 0},
                {197, 100, 1, 0},
                {197, 100, 1, 0},
                {197, 100, 1, 0},
                {197, 100, 1, 0},
                {197, 100, 1, 0},
                {197, 100, 1, 0},
                {197, 100, 1, 0}}),
         " Warning ", kMaroon},
        {"sixteen status-1 attributes",
         Table({{196, 100, 1, 0},
                {198, 100, 1, 0},
                {199, 100, 1, 0},
                {5, 100, 1, 0},
                {196, 100, 1, 0},
                {198, 100, 1, 0},
                {199, 100, 1, 0},
                {5, 100, 1, 0},
                {196, 100, 1, 0},
                {198, 100, 1, 0},
                {199, 100, 1, 0},
                {5, 100, 1, 0},
                {196, 100, 1, 0},
                {198, 100, 1, 0},
                {199, 100, 1, 0},
                {5, 100, 1, 0},
                {196, 100, 1, 0}}),
         " Warning ", kMaroon},
    };
    for (const Case& c : cases) {
        const Verdict v = View(c.table).verdict;
        EXPECT_EQ(v.text, c.verdict) << c.what;
        EXPECT_EQ(v.colour, c.colour) << c.what;
    }
}

TEST(SmartVerdict, RowStatusByIdAndThreshold) {
    // 5 with worst below threshold is an error whatever the raw value; its
    // raw count alone only alerts. 197 with a raw count alerts.
    const SmartView v = View(Table({{5, 30, 0, 36},
                                    {5, 100, 8, 36},
                                    {197, 100, 1, 0},
                                    {10, 40, 0, 51},
                                    {190, 46, 0, 45},
                                    {4, 1, 99, 200}}));
    EXPECT_EQ(StatusColumn(v),
              (std::vector<std::string>{"Error", "Alert", "Alert", "Error", "Good", "Good"}));
    EXPECT_EQ(v.rows[0].colour, kRed);
    EXPECT_EQ(v.rows[1].colour, kYellow);
    EXPECT_EQ(v.rows[2].colour, kYellow);
    EXPECT_EQ(v.rows[4].colour, kWhite);
    EXPECT_EQ(v.rows[2].status, kStatusPendingAlert);
    EXPECT_EQ(v.verdict.text, " Error ");

    EXPECT_EQ(View(Table({{197, 100, 2, 0}})).verdict.text, " Warning ");
}

TEST(SmartVerdict, ZeroThresholdsNeverGiveAnError) {
    Blocks b = Table({{5, 0, 0, 0}, {7, 0, 0, 0}, {8, 0, 0, 0}, {10, 0, 0, 0}, {190, 0, 0, 0}});
    std::fill(b.thresholds.begin(), b.thresholds.end(), 0);
    const SmartView v = View(b);
    EXPECT_EQ(StatusColumn(v), (std::vector<std::string>(5, "Good")));
    EXPECT_EQ(v.verdict.text, " Good ");
    // Thresholds never read are not shown as zeros.
    for (const SmartRow& r : v.rows) EXPECT_EQ(r.cells[3], "");
}

TEST(SmartVerdict, ThresholdsAreMatchedById) {
    // The threshold list in another order than the data: each attribute
    // takes the threshold of its own id.
    Blocks b = Table({{5, 30, 0, 0}, {7, 30, 0, 0}, {190, 40, 0, 0}});
    std::fill(b.thresholds.begin(), b.thresholds.end(), 0);
    const std::uint8_t listed[][2] = {{190, 45}, {5, 20}, {7, 36}};
    for (std::size_t k = 0; k < 3; ++k) {
        b.thresholds[2 + 12 * k] = listed[k][0];
        b.thresholds[3 + 12 * k] = listed[k][1];
    }
    const SmartView v = View(b);
    ASSERT_EQ(v.rows.size(), 3u);
    EXPECT_EQ(v.rows[0].cells[3], "20");
    EXPECT_EQ(v.rows[1].cells[3], "36");
    EXPECT_EQ(v.rows[2].cells[3], "45");
    EXPECT_EQ(StatusColumn(v), (std::vector<std::string>{"Good", "Error", "Alert"}));

    // An id the threshold list lacks has no threshold: nothing to cross,
    // nothing to show.
    b.thresholds[2 + 12] = 9;
    const SmartView missing = View(b);
    EXPECT_EQ(missing.rows[0].cells[3], "");
    EXPECT_EQ(missing.rows[0].attribute.threshold, std::nullopt);
    EXPECT_EQ(missing.rows[0].cells[kStatusColumn], "Good");
}

TEST(SmartVerdict, EmptyEntryEndsTheGridButLaterEntriesCount) {
    const Blocks b = Table({{5, 100, 0, 36}, {0, 0, 0, 0}, {197, 100, 4, 0}, {7, 1, 0, 30}});
    const SmartView v = View(b);
    ASSERT_EQ(v.rows.size(), 1u);
    EXPECT_EQ(v.rows[0].cells[0], "05-Reallocated sector count");
    EXPECT_EQ(v.verdict.text, " Error ");
    EXPECT_EQ(View(Table({{1, 100, 0, 6}, {0, 0, 0, 0}, {197, 100, 4, 0}})).verdict.text,
              " Warning ");
}

TEST(SmartVerdict, NoRowsShowNothing) {
    const SmartView v = View(Table({{0, 0, 0, 0}, {197, 100, 4, 0}}));
    EXPECT_TRUE(v.rows.empty());
    EXPECT_EQ(v.verdict.text, "");
    EXPECT_EQ(v.fourK.text, "");
    EXPECT_EQ(v.fourK.hint, "");
}

TEST(SmartRows, UnknownIdIsListedButLeftOutOfTheVerdict) {
    const SmartView v = View(Table({{0xD2, 1, 5, 50}, {196, 100, 1, 0}}));
    ASSERT_EQ(v.rows.size(), 2u);
    EXPECT_EQ(v.rows[0].cells[0], "D2h-UnKnown");
    EXPECT_EQ(v.rows[0].cells[kStatusColumn], "Good");
    EXPECT_EQ(v.rows[0].colour, kWhite);
    EXPECT_EQ(v.verdict.text, " Good ");
    EXPECT_EQ(AttributeName(0xD2), nullptr);
    EXPECT_EQ(AttributeLabel(0), "00h-UnKnown");
}

TEST(SmartRows, NameTableTakesTheFirstMatch) {
    EXPECT_EQ(AttributeLabel(1), "01-Raw read error rate");
    EXPECT_EQ(AttributeLabel(180), "B4-Unused Reserved Block Count Total");
    EXPECT_EQ(AttributeLabel(226), "E2-Load 'In'-time");
    EXPECT_EQ(AttributeLabel(232), "E8-Endurance Remaining");
    EXPECT_EQ(AttributeLabel(233), "E9-Power-On Hours");
    EXPECT_EQ(AttributeLabel(240), "F0-Head Flying Hours");
    EXPECT_EQ(AttributeLabel(254), "FE-Free Fall Protection");
    for (const std::uint8_t missing : {14, 179, 210, 213, 229, 243, 255})
        EXPECT_EQ(AttributeName(missing), nullptr) << int(missing);
}

TEST(SmartRows, CellsFromTheEntryBytes) {
    // One entry as the disk delivers it: id 9, flags, current 0x58, worst
    // 0x57, raw 01 02 03 04 05 06 (least significant first), reserved.
    std::vector<std::uint8_t> data(512, 0);
    const std::uint8_t entry[12] = {0x09, 0x32, 0x00, 0x58, 0x57, 0x01,
                                    0x02, 0x03, 0x04, 0x05, 0x06, 0xEE};
    std::copy(std::begin(entry), std::end(entry), data.begin() + 2);
    std::vector<std::uint8_t> thresholds(512, 0);
    thresholds[2] = 0x09;
    thresholds[3] = 0xFE;
    const SmartView v = BuildSmartView(data, thresholds, 0x6003);
    ASSERT_EQ(v.rows.size(), 1u);
    EXPECT_EQ(v.rows[0].cells,
              (std::array<std::string, kColumns>{"09-Power-on hours count", "88", "87", "254",
                                                 "060504030201", "Good"}));
    EXPECT_EQ(RawText(0xABCDEF), "000000ABCDEF");
}

TEST(SmartRows, ShortBlocksReadAsZeros) {
    // An entry cut off by the end of the block: its missing bytes are zero.
    const std::vector<std::uint8_t> data = {0x10, 0x00, 0x05, 0x33, 0x00, 0x64, 0x20, 0x07};
    const std::vector<std::uint8_t> thresholds = {0x10, 0x00, 0x05, 0x24};
    const SmartView v = BuildSmartView(data, thresholds, 0x6003);
    ASSERT_EQ(v.rows.size(), 1u);
    EXPECT_EQ(v.rows[0].cells[kRawColumn], "000000000007");
    EXPECT_EQ(v.rows[0].cells[kStatusColumn], "Error");  // worst 0x20 < 0x24
    EXPECT_TRUE(BuildSmartView({}, {}, 0).rows.empty());
    EXPECT_EQ(AttributeAt(data, thresholds, 30).id, 0);
    EXPECT_EQ(AttributeAt(data, thresholds, -1).id, 0);
}

TEST(SmartRows, SelectedCellTexts) {
    const SmartView v = View(Table({{194, 100, 0x1E001400023, 0}}));
    EXPECT_EQ(SelectedCellText(v.rows, 0, 0), "C2-Temperature");
    EXPECT_EQ(SelectedCellText(v.rows, 0, 4), "01E001400023");
    EXPECT_EQ(SelectedCellText(v.rows, 0, 1), std::nullopt);
    EXPECT_EQ(SelectedCellText(v.rows, 0, 5), std::nullopt);
    EXPECT_EQ(SelectedCellText(v.rows, 1, 0), std::nullopt);
    EXPECT_EQ(SelectedCellText(v.rows, -1, 0), std::nullopt);
}

TEST(SmartTexts, FourKLineAndHeading) {
    const struct {
        std::uint32_t code;
        const char* text;
        const char* hint;
    } cases[] = {
        {0x6003, " 4K Sector supported : Yes ", "WORD[106]=0x6003"},
        {0x4000, " 4K Sector supported : No ", "WORD[106]=0x4000"},
        {0x0000, " 4K Sector supported : No ", "WORD[106]=0x0"},
        {0xFFFF, " 4K Sector supported : Unknown ", "Code=0xFFFF"},
        {0xFFF7, " 4K Sector supported : Unknown ", "Code=0xFFF7"},
        {Word106EchoCode(0xB1, 0x00), " 4K Sector supported : Unknown ", "Code=0xB100"},
        // An echo of another command whose code is below 0x80 is no word 106.
        {Word106EchoCode(0x17, 0x00), " 4K Sector supported : Unknown ", "Code=0x1700"},
        {Word106EchoCode(0x60, 0x03), " 4K Sector supported : Unknown ", "Code=0x6003"},
    };
    for (const auto& c : cases) {
        const FourKLine line = FourKSectorLine(c.code);
        EXPECT_EQ(line.text, c.text) << std::hex << c.code;
        EXPECT_EQ(line.hint, c.hint) << std::hex << c.code;
    }
    EXPECT_EQ(View(Table({{1, 100, 0, 6}}), 0xFFFF).fourK.hint, "Code=0xFFFF");
    EXPECT_EQ(SmartHeading("HDD2", "SIM-DISK 1000GB"), " SMART - HDD2 : SIM-DISK 1000GB");
}

TEST(SmartTooltips, ExplainDecodeAndSayWhy) {
    const Attribute reallocated{5, 100, 100, 36, 8};
    EXPECT_EQ(AttributeTooltip(reallocated, AttributeStatus(reallocated)),
              "05-Reallocated sector count: sectors the disk found bad and replaced with spare "
              "ones.\nRaw 000000000008 = 8 sectors\nAlert: raw value 8: sectors were "
              "reallocated.");

    const Attribute seekErrors{7, 25, 20, 30, 0x1234};
    EXPECT_EQ(StatusReason(seekErrors, AttributeStatus(seekErrors)),
              "Error: worst value 20 is below the threshold 30.");
    EXPECT_EQ(DecodedRaw(seekErrors), "");  // the maker's own scale

    const Attribute airflow{190, 55, 40, 45, 0x2D1A0037};
    EXPECT_EQ(StatusReason(airflow, AttributeStatus(airflow)),
              "Alert: worst value 40 is below the threshold 45.");
    // Lowest and highest temperatures sit in the upper bytes.
    EXPECT_EQ(DecodedRaw(airflow), "55 \u00B0C");
    EXPECT_EQ(DecodedRaw({194, 100, 100, 0, 0x1E001400023}), "35 \u00B0C");
    EXPECT_EQ(DecodedRaw({231, 100, 100, 0, 0x128}), "40 \u00B0C");
    EXPECT_EQ(DecodedRaw({9, 88, 88, 0, 0x0003'0000'2238}), "8760 hours");
    EXPECT_EQ(DecodedRaw({199, 200, 200, 0, 3}), "3 errors");

    const std::string good = AttributeTooltip({12, 100, 100, 0, 512}, kStatusGood);
    EXPECT_EQ(good,
              "0C-Power cycle count: how often the disk was switched on.\nRaw "
              "000000000200 = 512 power cycles");
    const std::string unknown = AttributeTooltip({0xD2, 100, 100, 0, 1}, kStatusGood);
    EXPECT_EQ(unknown, "D2h-UnKnown: an attribute of the maker's own.\nRaw 000000000001");
}

}  // namespace
}  // namespace raid::smart
