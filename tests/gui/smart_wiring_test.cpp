// The SMART page in the window: the dispatcher's two reads against the
// emulator, the page they redraw, the once-a-minute countdown and the dump
// behind the countdown line.
#include <gtest/gtest.h>

#include <QTableWidget>
#include <QTest>
#include <algorithm>
#include <fstream>
#include <iterator>

#include "main_window_fixture.h"
#include "smart/smart_state.h"

namespace raid::app::test {
namespace {

using Command = std::array<std::uint8_t, 4>;

constexpr std::uint8_t kDiskCommand = 0xB1;
constexpr std::uint8_t kDiskCommandData = 0xB2;
constexpr std::uint8_t kIdentify = 0xEC;

class SmartWiringTest : public MainWindowTest {
protected:
    // One enclosure found, its first status shown and both SMART reads done,
    // as after the first rounds of the monitoring thread.
    void StartWith(std::initializer_list<const char*> scenarios) {
        for (const char* s : scenarios) AddEnclosure(s);
        MakeWindow();
        RunDiscovery();
        ServeRequests();
        ASSERT_FALSE(window->state().shell.firstStatusPending);
    }
    void OpenSmartPage() {
        QTest::mouseClick(Button("smartPageButton"), Qt::LeftButton);
        ASSERT_EQ(window->CurrentPage(), kPageSmart);
    }
    std::uint8_t Requests() { return window->state().shell.pollRequestFlags.load(); }
    smart::SmartState& Tables() { return window->context().smart; }
    QTableWidget* Grid() { return Find<QTableWidget>("smartGrid"); }
    QString Text(const char* label) { return Find<QLabel>(label)->text(); }
    QString Cell(int row, int column) {
        const QTableWidgetItem* item = Grid()->item(row, column);
        return item != nullptr ? item->text() : QString();
    }
    // The row of attribute `label` ("C5-Current pending sector count"), -1 when not shown.
    int RowOf(const QString& label) {
        for (int r = 0; r < Grid()->rowCount(); ++r)
            if (Cell(r, 0) == label) return r;
        return -1;
    }
    // Sets the raw value of attribute `id` of member `member` of enclosure `k`.
    void SetRaw(int k, int member, std::uint8_t id, std::uint8_t raw) {
        disks->Emulator(k)->WithModel([&](sim::Enclosure& e) {
            auto& data = e.members[member].smartData;
            for (std::size_t at = 2; at + 12 <= 362; at += 12)
                if (data[at] == id) data[at + 5] = raw;
        });
    }
    // Disk commands (C0..C3) enclosure k executed since `from` of them.
    std::vector<Command> DiskCommands(int k, std::size_t from) {
        const auto all = disks->Emulator(k)->ExecutedCommandBytes();
        std::vector<Command> commands;
        std::copy_if(all.begin() + static_cast<long>(std::min(from, all.size())), all.end(),
                     std::back_inserter(commands), [](const Command& c) {
                         return c[0] == kDiskCommand || c[0] == kDiskCommandData;
                     });
        return commands;
    }
    std::size_t Executed(int k) { return disks->Emulator(k)->ExecutedCommandBytes().size(); }
    std::vector<std::uint8_t> Member(int k, int member) {
        return disks->Emulator(k)->WithModel(
            [&](sim::Enclosure& e) { return e.members[member].smartData; });
    }
};

std::vector<std::uint8_t> Copy(std::span<const std::uint8_t> block) {
    return {block.begin(), block.end()};
}

TEST_F(SmartWiringTest, DispatcherServesThresholdsBeforeData) {
    AddEnclosure("raid1");
    AddEnclosure("raid0");
    MakeWindow();
    RunDiscovery();
    ASSERT_EQ(window->state().discovery.deviceCount, 2);
    // Discovery asks for the status poll and both SMART reads.
    ASSERT_EQ(Requests() & poll::kWakeMask, 0x29);
    window->serveMonitorRequest();  // the status poll
    ASSERT_EQ(Requests() & poll::kWakeMask, poll::kSmartThresholds | poll::kSmartData);

    const std::size_t before[2] = {Executed(0), Executed(1)};
    window->serveMonitorRequest();
    EXPECT_EQ(Requests() & poll::kWakeMask, poll::kSmartData);
    EXPECT_TRUE(Tables().thresholdsRead);
    for (int k = 0; k < 2; ++k) {
        const auto commands = DiskCommands(k, before[k]);
        EXPECT_EQ(commands.size(), 2u * 5u) << k;  // per member: the command and four pages
        for (const Command& c : commands) EXPECT_EQ(c[1], smart::kFeatureReadThresholds) << k;
        EXPECT_TRUE(std::all_of(Tables().DataBlock(k, 0).begin(), Tables().DataBlock(k, 0).end(),
                                [](std::uint8_t b) { return b == 0; }))
            << "no data read yet: " << k;
    }

    const std::size_t middle[2] = {Executed(0), Executed(1)};
    window->serveMonitorRequest();
    EXPECT_EQ(Requests() & poll::kWakeMask, 0);
    for (int k = 0; k < 2; ++k) {
        const auto commands = DiskCommands(k, middle[k]);
        EXPECT_EQ(commands.size(), 2u * 10u) << k;  // IDENTIFY and data, five commands each
        for (const Command& c : commands)
            EXPECT_TRUE(c[1] == kIdentify || c[1] == smart::kFeatureReadData) << k;
        for (int member = 0; member < 2; ++member)
            EXPECT_EQ(Copy(Tables().DataBlock(k, member)), Member(k, member)) << k << member;
    }
    EXPECT_EQ(Tables().Word106Code(1, 0), 0x4000u);
    // Each read ends on the status page's device.
    EXPECT_EQ(window->state().discovery.currentDevice, 0);
}

TEST_F(SmartWiringTest, PageShowsTheSelectedDiskAndFollowsEachDataRead) {
    StartWith({"raid1"});
    // Nothing is drawn while the page is not shown.
    EXPECT_TRUE(Grid()->isHidden());
    OpenSmartPage();
    EXPECT_FALSE(Grid()->isHidden());
    ASSERT_EQ(Grid()->rowCount(), 9);
    EXPECT_EQ(Cell(0, 0), "01-Raw read error rate");
    EXPECT_EQ(Cell(0, 5), "Good");
    const int hours = RowOf("09-Power-on hours count");
    ASSERT_GE(hours, 0);
    EXPECT_EQ(Cell(hours, 4), "000000002238");
    EXPECT_EQ(Text("smartHeadingLabel"), " SMART - HDD1 : " + Text("hdd1ModelLabel"));
    EXPECT_TRUE(Text("hdd1ModelLabel").contains("SIM-DISK 1000GB"));
    EXPECT_EQ(Text("smartVerdictLabel"), " Good ");
    EXPECT_EQ(Text("smart4kLabel"), " 4K Sector supported : Yes ");
    EXPECT_EQ(Find<QLabel>("smart4kLabel")->toolTip(), "WORD[106]=0x6003");
    EXPECT_EQ(Grid()->currentRow(), 0);  // the first drawing selects the first cell

    // The other disk selector.
    QTest::mouseClick(Find<QLabel>("smartDiskButton2"), Qt::LeftButton);
    EXPECT_EQ(Tables().selectedDisk, 1);
    EXPECT_EQ(Text("smartHeadingLabel"), " SMART - HDD2 : " + Text("hdd2ModelLabel"));
    EXPECT_EQ(Cell(hours, 4), "000000002249");  // HDD2's own counter

    // A pending sector shows at the next data read, without a click.
    SetRaw(0, 1, 0xC5, 8);
    window->state().shell.pollRequestFlags |= poll::kSmartData;
    ServeRequests();
    const int pending = RowOf("C5-Current pending sector count");
    ASSERT_GE(pending, 0);
    EXPECT_EQ(Cell(pending, 4), "000000000008");
    EXPECT_EQ(Cell(pending, 5), "Alert");
    EXPECT_EQ(Text("smartVerdictLabel"), " Warning ");

    // Off the page a data read leaves it as it was, until it is opened again.
    QTest::mouseClick(Button("statusPageButton"), Qt::LeftButton);
    SetRaw(0, 1, 0xC5, 0);
    window->state().shell.pollRequestFlags |= poll::kSmartData;
    ServeRequests();
    EXPECT_EQ(Cell(pending, 5), "Alert");
    OpenSmartPage();
    EXPECT_EQ(Cell(pending, 5), "Good");
    EXPECT_EQ(Text("smartVerdictLabel"), " Good ");
}

TEST_F(SmartWiringTest, DiskSelectorsWaitWhileAnUpgradeHoldsADevice) {
    StartWith({"raid1"});
    OpenSmartPage();
    window->state().shell.operationDeviceIndex = 0;
    QTest::mouseClick(Find<QLabel>("smartDiskButton2"), Qt::LeftButton);
    EXPECT_EQ(Tables().selectedDisk, 0);
    EXPECT_TRUE(Text("smartHeadingLabel").startsWith(" SMART - HDD1 : "));
    // And the reads wait too.
    window->state().shell.pollRequestFlags |= poll::kSmartData;
    const std::size_t before = Executed(0);
    ServeRequests();
    EXPECT_EQ(Executed(0), before);
}

TEST_F(SmartWiringTest, CountdownTextsOnThePageAndTheRequestsAtZero) {
    StartWith({"raid1"});
    OpenSmartPage();
    ShellFlags& shell = window->state().shell;
    ASSERT_EQ(Requests() & poll::kWakeMask, 0);

    shell.smartCountdown = 2;
    window->onSmartCountdownTick();
    EXPECT_EQ(Text("smartCountdownLabel"), "Updates after 2 seconds.");
    window->onSmartCountdownTick();
    EXPECT_EQ(Text("smartCountdownLabel"), "Updates after 1 second.");
    EXPECT_EQ(shell.smartCountdown, 0);
    EXPECT_EQ(Requests() & poll::kWakeMask, 0);
    window->onSmartCountdownTick();
    EXPECT_EQ(Text("smartCountdownLabel"), "Updating...");
    // The thresholds were read, so only the data is asked for.
    EXPECT_EQ(Requests() & poll::kWakeMask, poll::kSmartData);
    EXPECT_EQ(shell.smartCountdown, 60);
    // While the read is pending the countdown stands still.
    window->onSmartCountdownTick();
    EXPECT_EQ(Text("smartCountdownLabel"), "Updating...");
    EXPECT_EQ(shell.smartCountdown, 60);
    ServeRequests();
    window->onSmartCountdownTick();
    EXPECT_EQ(Text("smartCountdownLabel"), "Updates after 60 seconds.");
    EXPECT_EQ(shell.smartCountdown, 59);

    // Off the page the line stays, the countdown goes on, the clock too.
    QTest::mouseClick(Button("statusPageButton"), Qt::LeftButton);
    clock->Advance(1000);
    window->onSmartCountdownTick();
    EXPECT_EQ(Text("smartCountdownLabel"), "Updates after 60 seconds.");
    EXPECT_EQ(shell.smartCountdown, 58);
    EXPECT_EQ(shell.nowTime, clock->WallNow());

    // Thresholds that did not come are asked for again with the data.
    Tables().thresholdsRead = false;
    shell.smartCountdown = 0;
    window->onSmartCountdownTick();
    EXPECT_EQ(Requests() & poll::kWakeMask, poll::kSmartThresholds | poll::kSmartData);
}

TEST_F(SmartWiringTest, CountdownLineDoubleClickSavesBothTables) {
    StartWith({"raid1"});
    OpenSmartPage();
    QTest::mouseDClick(Find<QLabel>("smartCountdownLabel"), Qt::LeftButton);
    const auto read = [](const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
    };
    const auto data = read(logFolder.path / "dSMART00.bin");
    const auto thresholds = read(logFolder.path / "sSMART00.bin");
    ASSERT_EQ(data.size(), 1024u);
    ASSERT_EQ(thresholds.size(), 1024u);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), Tables().dataTable.begin()));
    EXPECT_TRUE(std::equal(thresholds.begin(), thresholds.end(), Tables().thresholdTable.begin()));
    EXPECT_EQ(Find<QLabel>("statusPanel4")->text().toStdString(),
              "Svae File OK :" + (logFolder.path / "sSMART00.bin").string());
    // A second dump takes the next names.
    QTest::mouseDClick(Find<QLabel>("smartCountdownLabel"), Qt::LeftButton);
    EXPECT_TRUE(std::filesystem::exists(logFolder.path / "dSMART01.bin"));
    EXPECT_TRUE(std::filesystem::exists(logFolder.path / "sSMART01.bin"));
}

}  // namespace
}  // namespace raid::app::test
