// The SMART page on the offscreen platform: its controls by objectName,
// the rows and colours it draws from the tables, the verdict and 4K lines,
// cell selection, the disk selectors and the countdown line.
#include "app/smart_page.h"

#include <gtest/gtest.h>

#include <QHeaderView>
#include <QLabel>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <algorithm>
#include <string>
#include <vector>

#include "skin/skin.h"
#include "tests/unit/attribute_table.h"

namespace raid::smart {
namespace {

using literal::Table;

class SmartPageTest : public ::testing::Test {
protected:
    // What the window hands the page: the status page's bay texts, its
    // device, the exclusive-operation guard and panel 4.
    SmartPageHooks WindowHooks() {
        SmartPageHooks h;
        h.bayText = [](int disk) {
            return disk == 0 ? BayText{"HDD1", "SIM-DISK 1000GB"}
                             : BayText{"HDD2", "SIMDRIVE SD500"};
        };
        h.selectedDevice = [this] { return device; };
        h.selectorsEnabled = [this] { return selectorsEnabled; };
        h.statusPanel = [this](const std::string& text) { panel.push_back(text); };
        return h;
    }

    void Put(int dev, int disk, const literal::Blocks& b, std::uint32_t word106 = 0x6003) {
        std::copy(b.data.begin(), b.data.end(), state.DataBlock(dev, disk).begin());
        std::copy(b.thresholds.begin(), b.thresholds.end(),
                  state.ThresholdBlock(dev, disk).begin());
        state.Word106Code(dev, disk) = word106;
    }
    template <typename T>
    T* Find(const char* name) {
        T* widget = page.findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QString Text(const char* label) { return Find<QLabel>(label)->text(); }
    QTableWidget* Grid() { return Find<QTableWidget>("smartGrid"); }

    SmartState state;
    int device = 0;
    bool selectorsEnabled = true;
    std::vector<std::string> panel;
    SmartPage page{state, WindowHooks()};
};

TEST_F(SmartPageTest, ControlsAndGridsAsLaidOut) {
    EXPECT_EQ(page.objectName(), "smartPage");
    for (const char* name : {"smartDiskButton1", "smartDiskButton2", "smartHeadingLabel",
                             "smartVerdictLabel", "smart4kLabel", "smartCountdownLabel"})
        Find<QLabel>(name);

    const int widths[] = {145, 36, 36, 54, 75, 40};
    const char* titles[] = {"ID", "Value", "Worst", "Threshold", "RAW", "Status"};
    auto* heading = Find<QTableWidget>("smartHeadingGrid");
    QTableWidget* grid = Grid();
    ASSERT_EQ(heading->columnCount(), 6);
    ASSERT_EQ(grid->columnCount(), 6);
    for (int c = 0; c < 6; ++c) {
        EXPECT_EQ(heading->horizontalHeaderItem(c)->text(), titles[c]);
        EXPECT_EQ(heading->columnWidth(c), widths[c]);
        EXPECT_EQ(grid->columnWidth(c), widths[c]);
    }
    EXPECT_EQ(heading->rowCount() + 1, 2);  // the header is the fixed first row
    EXPECT_FALSE(heading->horizontalHeader()->isHidden());
    EXPECT_TRUE(grid->horizontalHeader()->isHidden());
    EXPECT_TRUE(grid->verticalHeader()->isHidden());
    EXPECT_EQ(grid->verticalHeader()->defaultSectionSize(), 16);
    EXPECT_EQ(grid->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(heading->x(), grid->x());
    EXPECT_EQ(heading->geometry().bottom() + 1, grid->y());
    // Everything fits the page.
    for (const QWidget* child : page.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        EXPECT_TRUE(page.rect().contains(child->geometry())) << child->objectName().toStdString();
}

TEST_F(SmartPageTest, RowsColoursVerdictAndFourKLine) {
    Put(0, 0,
        Table({{1, 100, 0, 6},
               {5, 30, 0, 36},
               {197, 100, 2, 0},
               {0xD2, 100, 1, 0},
               {0, 0, 0, 0},
               {199, 200, 5, 0}}));
    page.showSmartPage();
    QTableWidget* grid = Grid();
    ASSERT_FALSE(grid->isHidden());
    ASSERT_EQ(grid->rowCount(), 4);
    const char* expected[4][6] = {
        {"01-Raw read error rate", "100", "100", "6", "000000000000", "Good"},
        {"05-Reallocated sector count", "100", "30", "36", "000000000000", "Error"},
        {"C5-Current pending sector count", "100", "100", "0", "000000000002", "Alert"},
        {"D2h-UnKnown", "100", "100", "0", "000000000001", "Good"},
    };
    const QColor colours[4] = {Qt::white, Qt::red, Qt::yellow, Qt::white};
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 6; ++c) {
            const QTableWidgetItem* item = grid->item(r, c);
            ASSERT_NE(item, nullptr);
            EXPECT_EQ(item->text(), expected[r][c]) << r << "," << c;
            EXPECT_EQ(item->background().color(), colours[r]) << r << "," << c;
            EXPECT_EQ(item->textAlignment(), c == 0 ? int(Qt::AlignLeft | Qt::AlignTop)
                                                    : int(Qt::AlignHCenter | Qt::AlignTop));
        }
    }
    EXPECT_TRUE(
        grid->item(1, 3)->toolTip().contains("Error: worst value 30 is below the threshold 36."));
    EXPECT_TRUE(grid->item(2, 0)->toolTip().contains("Raw 000000000002 = 2 sectors"));

    EXPECT_EQ(Text("smartHeadingLabel"), " SMART - HDD1 : SIM-DISK 1000GB");
    auto* verdict = Find<QLabel>("smartVerdictLabel");
    EXPECT_EQ(verdict->text(), " Error ");
    EXPECT_EQ(verdict->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    auto* fourK = Find<QLabel>("smart4kLabel");
    EXPECT_EQ(fourK->text(), " 4K Sector supported : Yes ");
    EXPECT_EQ(fourK->toolTip(), "WORD[106]=0x6003");

    // Another device's table, warning in maroon and an absent second disk.
    Put(1, 0, Table({{197, 100, 1, 0}}), 0x4000);
    device = 1;
    page.showSmartPage();
    EXPECT_EQ(verdict->text(), " Warning ");
    EXPECT_EQ(verdict->palette().color(QPalette::WindowText), QColor(128, 0, 0));
    EXPECT_EQ(fourK->text(), " 4K Sector supported : No ");
    EXPECT_EQ(fourK->toolTip(), "WORD[106]=0x4000");
    Put(1, 0, Table({{194, 100, 35, 0}}), 0xFFFF);
    page.showSmartPage();
    EXPECT_EQ(verdict->text(), " Good ");
    EXPECT_EQ(verdict->palette().color(QPalette::WindowText), QColor(0, 0, 0));
    EXPECT_EQ(fourK->toolTip(), "Code=0xFFFF");
}

TEST_F(SmartPageTest, EmptyTableHidesTheGridAndClearsTheLines) {
    Put(0, 0, Table({{9, 88, 8760, 0}}));
    page.showSmartPage();
    ASSERT_FALSE(Grid()->isHidden());
    Put(0, 0, Table({}), 0xFFFF);
    page.showSmartPage();
    EXPECT_TRUE(Grid()->isHidden());
    EXPECT_EQ(Text("smartVerdictLabel"), "");
    EXPECT_EQ(Text("smart4kLabel"), "");
    EXPECT_EQ(Find<QLabel>("smart4kLabel")->toolTip(), "");
    EXPECT_EQ(Text("smartHeadingLabel"), " SMART - HDD1 : SIM-DISK 1000GB");
}

TEST_F(SmartPageTest, CellSelectionShowsNameOrRawValue) {
    Put(0, 0, Table({{9, 88, 0x2238, 0}, {194, 100, 0x1E001400023, 0}}));
    page.showSmartPage();
    QTableWidget* grid = Grid();
    // The first drawing with rows selects the first cell and focuses the grid.
    EXPECT_EQ(grid->currentRow(), 0);
    EXPECT_EQ(grid->currentColumn(), 0);
    EXPECT_EQ(page.focusWidget(), grid);
    EXPECT_EQ(panel, std::vector<std::string>{"09-Power-on hours count"});
    EXPECT_EQ(grid->toolTip(), "09-Power-on hours count");

    grid->setCurrentCell(1, 4);
    EXPECT_EQ(panel.back(), "01E001400023");
    EXPECT_EQ(grid->toolTip(), "01E001400023");
    grid->setCurrentCell(1, 2);
    EXPECT_EQ(grid->toolTip(), "");
    EXPECT_EQ(panel.size(), 2u);

    // A refresh keeps the selection; after the grid was hidden, the next
    // drawing selects the first cell again.
    page.showSmartPage();
    EXPECT_EQ(grid->currentRow(), 1);
    Put(0, 0, Table({}));
    page.showSmartPage();
    Put(0, 0, Table({{12, 100, 512, 0}}));
    page.showSmartPage();
    EXPECT_EQ(grid->currentRow(), 0);
    EXPECT_EQ(panel.back(), "0C-Power cycle count");
}

TEST_F(SmartPageTest, DiskSelectorsSwitchDiskAndPictures) {
    Put(0, 0, Table({{1, 100, 0, 6}}));
    Put(0, 1, Table({{5, 100, 8, 36}, {196, 100, 1, 0}}), 0x4000);
    page.showSmartPage();
    auto* hdd1 = Find<QLabel>("smartDiskButton1");
    auto* hdd2 = Find<QLabel>("smartDiskButton2");
    const auto look = [](const QLabel* button, const char* picture) {
        return !skin::Picture(picture).isNull() &&
               button->pixmap().cacheKey() == skin::Picture(picture).cacheKey();
    };
    EXPECT_TRUE(look(hdd1, "hdd1Selected"));
    EXPECT_TRUE(look(hdd2, "hdd2Unselected"));

    QTest::mouseClick(hdd2, Qt::LeftButton);
    EXPECT_EQ(state.selectedDisk, 1);
    EXPECT_TRUE(look(hdd1, "hdd1Unselected"));
    EXPECT_TRUE(look(hdd2, "hdd2Selected"));
    EXPECT_EQ(Text("smartHeadingLabel"), " SMART - HDD2 : SIMDRIVE SD500");
    EXPECT_EQ(Grid()->rowCount(), 2);
    EXPECT_EQ(Text("smartVerdictLabel"), " Warning ");

    // Held by an exclusive operation: clicks change nothing.
    selectorsEnabled = false;
    QTest::mouseClick(hdd1, Qt::LeftButton);
    EXPECT_EQ(state.selectedDisk, 1);
    EXPECT_EQ(Grid()->rowCount(), 2);
}

TEST_F(SmartPageTest, CountdownLine) {
    page.setCountdownText("Updates after 1 second.");
    EXPECT_EQ(Text("smartCountdownLabel"), "Updates after 1 second.");
    QSignalSpy dump(&page, &SmartPage::countdownDoubleClicked);
    QTest::mouseDClick(Find<QLabel>("smartCountdownLabel"), Qt::LeftButton);
    EXPECT_EQ(dump.count(), 1);
}

}  // namespace
}  // namespace raid::smart
