// The event log viewer: following the day's lines as they grow and across a
// day change, the paused look, and viewing saved log files.
#include "app/event_log_viewer.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "main_window_fixture.h"

namespace raid::app::test {
namespace {

class EventLogViewerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        state.shell.pollRequestFlags = poll::kTimerArmed;
    }

    void Create() {
        viewer = std::make_unique<EventLogViewer>(lines, state);
        viewer->setMessageSink(&sink);
        viewer->setFileChooser([this](QWidget*) {
            ++chooserCalls;
            return chosen;
        });
    }
    void Open() {
        Create();
        viewer->show();
    }

    template <typename T>
    T* Find(const char* name) {
        T* widget = viewer->findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QPlainTextEdit* View() { return Find<QPlainTextEdit>("logView"); }
    QTimer* Timer() { return Find<QTimer>("refreshTimer"); }
    QString Shown() { return View()->toPlainText(); }
    QColor ViewColour() { return View()->palette().color(QPalette::Active, QPalette::Text); }
    QColor WindowTextColour() {
        return QApplication::palette(View()).color(QPalette::Active, QPalette::Text);
    }

    QString WriteFile(const char* name, const std::string& bytes) {
        const QString path = dir.filePath(name);
        std::ofstream(path.toStdString(), std::ios::binary) << bytes;
        return path;
    }

    QTemporaryDir dir;
    std::vector<std::string> lines;
    AppState state;
    RecordingSink sink;
    QString chosen;
    int chooserCalls = 0;
    std::unique_ptr<EventLogViewer> viewer;
};

TEST_F(EventLogViewerTest, EmptyLogShowsNothingUntilTheNextTickAfterLinesArrive) {
    Create();
    EXPECT_EQ(viewer->windowTitle(), "Event Log");
    EXPECT_EQ(viewer->size(), QSize(465, 273));
    EXPECT_EQ(View()->geometry(), QRect(0, 0, 465, 241));
    EXPECT_TRUE(View()->isReadOnly());
    EXPECT_EQ(Find<QPushButton>("realTimeButton")->text(), "Real Time Log");
    EXPECT_EQ(Find<QPushButton>("viewFileButton")->text(), "View Log File");
    EXPECT_EQ(Timer()->interval(), 1000);
    EXPECT_FALSE(Timer()->isActive());
    EXPECT_STREQ(kLogFileFilter, "Log File (*.log);;All File (*)");

    viewer->show();
    EXPECT_EQ(viewer->windowTitle(), "Event log - Real Time");
    EXPECT_EQ(ViewColour(), WindowTextColour());
    EXPECT_EQ(Shown(), "");
    EXPECT_TRUE(Timer()->isActive());

    lines = {"-----", "D1 HDD1 was removed, 04 1/1/25 10:00:00"};
    EXPECT_EQ(Shown(), "");
    viewer->onRefreshTick();
    EXPECT_EQ(Shown(), "-----\nD1 HDD1 was removed, 04 1/1/25 10:00:00");
    lines.push_back("D1 HDD1 was inserted, 01 1/1/25 10:00:05");
    viewer->onRefreshTick();
    viewer->onRefreshTick();  // nothing new: nothing added
    EXPECT_EQ(Shown(),
              "-----\nD1 HDD1 was removed, 04 1/1/25 10:00:00\n"
              "D1 HDD1 was inserted, 01 1/1/25 10:00:05");
    EXPECT_EQ(View()->document()->blockCount(), 3);
}

TEST_F(EventLogViewerTest, LinesAddedOneTickAtATimeKeepEmptyAndOddLinesApart) {
    Open();
    // An empty first line leaves the view looking empty; the next line must
    // still go below it. A stray CR inside a line must not split it.
    lines = {""};
    viewer->onRefreshTick();
    lines.push_back("a\rb");
    viewer->onRefreshTick();
    EXPECT_EQ(View()->document()->blockCount(), 2);
    EXPECT_EQ(View()->document()->findBlockByNumber(0).text(), "");
    EXPECT_TRUE(View()->document()->findBlockByNumber(1).text().startsWith(u'a'));
}

TEST_F(EventLogViewerTest, NewDayClearsAndRefillsOnTheNextTick) {
    lines = {"-----", "RAID GUI v0.50.11-5 has started from 1/1/25 23:59:00",
             "Device1 information :", "-----"};
    Open();
    EXPECT_EQ(View()->document()->blockCount(), 4);

    lines = {"-----", "Device1 information :", "-----"};
    viewer->onRefreshTick();
    EXPECT_EQ(Shown(), "-----\nDevice1 information :\n-----");

    lines.push_back("D1 HDD2 was removed, 04 1/2/25 00:00:05");
    viewer->onRefreshTick();
    EXPECT_EQ(Shown(),
              "-----\nDevice1 information :\n-----\nD1 HDD2 was removed, 04 1/2/25 00:00:05");
}

TEST_F(EventLogViewerTest, NewDayWithMoreLinesThanTheOldDayIsShownAfresh) {
    state.shell.nowTime = std::chrono::system_clock::time_point{} + std::chrono::hours(24 * 20000);
    lines = {"-----", "old day line"};
    Open();
    // Midnight: the new day's list already holds more lines than the old one.
    state.shell.nowTime += std::chrono::hours(24);
    lines = {"-----", "new day 1", "new day 2", "new day 3"};
    viewer->onRefreshTick();
    EXPECT_EQ(Shown(), "-----\nnew day 1\nnew day 2\nnew day 3");
    lines.push_back("new day 4");
    viewer->onRefreshTick();
    EXPECT_EQ(Shown(), "-----\nnew day 1\nnew day 2\nnew day 3\nnew day 4");
}

TEST_F(EventLogViewerTest, DisarmedPollTimerShowsPausedInGreyAndARunningPollIsNotRead) {
    state.shell.pollRequestFlags = 0;
    lines = {"one"};
    Open();
    EXPECT_EQ(viewer->windowTitle(), "Event log - Real Time( Paused )");
    EXPECT_NE(ViewColour(), WindowTextColour());
    EXPECT_EQ(Shown(), "one");

    // The list may be half changed while a poll runs: the tick leaves it.
    state.shell.pollRequestFlags = poll::kTimerArmed;
    state.shell.statusPollActive = true;
    lines.push_back("two");
    viewer->onRefreshTick();
    EXPECT_EQ(viewer->windowTitle(), "Event log - Real Time");
    EXPECT_EQ(ViewColour(), WindowTextColour());
    EXPECT_EQ(Shown(), "one");

    state.shell.statusPollActive = false;
    state.shell.pollRequestFlags = poll::kTimerArmed | poll::kStatusPoll;
    viewer->onRefreshTick();
    EXPECT_EQ(Shown(), "one\ntwo");

    state.shell.pollRequestFlags = poll::kStatusPoll;
    Find<QPushButton>("realTimeButton")->click();
    EXPECT_EQ(viewer->windowTitle(), "Event log - Real Time( Paused )");
    EXPECT_NE(ViewColour(), WindowTextColour());
}

TEST_F(EventLogViewerTest, CancelledFileDialogStopsLiveUpdatesUntilRealTimeLog) {
    lines = {"one"};
    Open();
    Find<QPushButton>("viewFileButton")->click();
    EXPECT_EQ(chooserCalls, 1);
    EXPECT_EQ(Shown(), "one");
    EXPECT_EQ(viewer->windowTitle(), "Event log - Real Time");
    EXPECT_FALSE(Timer()->isActive());

    lines.push_back("two");
    Find<QPushButton>("realTimeButton")->click();
    EXPECT_EQ(Shown(), "one\ntwo");
    EXPECT_TRUE(Timer()->isActive());
    lines.push_back("three");
    viewer->onRefreshTick();
    EXPECT_EQ(Shown(), "one\ntwo\nthree");
}

TEST_F(EventLogViewerTest, ViewsSavedFilesWithEitherLineEnd) {
    lines = {"live"};
    Open();

    chosen =
        WriteFile("250101.log", "-----\r\nD1 HDD1 was removed, 04 1/1/25 10:00:00\r\n\r\nend\r\n");
    Find<QPushButton>("viewFileButton")->click();
    EXPECT_EQ(Shown(), "-----\nD1 HDD1 was removed, 04 1/1/25 10:00:00\n\nend");
    EXPECT_EQ(viewer->windowTitle(), "Event log - 250101.log");
    EXPECT_FALSE(Timer()->isActive());

    chosen = WriteFile("old.txt", "first\nsecond\r\nlast without end");
    Find<QPushButton>("viewFileButton")->click();
    EXPECT_EQ(Shown(), "first\nsecond\nlast without end");
    EXPECT_EQ(viewer->windowTitle(), "Event log - old.txt");

    lines.push_back("more");
    Find<QPushButton>("realTimeButton")->click();
    EXPECT_EQ(Shown(), "live\nmore");
    EXPECT_EQ(viewer->windowTitle(), "Event log - Real Time");
    EXPECT_TRUE(sink.boxes.empty());
}

TEST_F(EventLogViewerTest, UnreadableFileIsReportedAndTheMemoKept) {
    lines = {"live"};
    Open();
    chosen = dir.filePath("missing.log");
    Find<QPushButton>("viewFileButton")->click();
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_TRUE(sink.boxes[0].text.contains("missing.log")) << sink.boxes[0].text.toStdString();
    EXPECT_EQ(Shown(), "live");
    EXPECT_EQ(viewer->windowTitle(), "Event log - Real Time");

    chosen = dir.path();  // opens, but reading a folder fails
    Find<QPushButton>("viewFileButton")->click();
    EXPECT_EQ(sink.boxes.size(), 2u);
    EXPECT_EQ(Shown(), "live");
    EXPECT_FALSE(Timer()->isActive());
}

TEST_F(EventLogViewerTest, LongLogIsShownWholeAndAFileChosenMeanwhileWins) {
    for (int i = 0; i < 100000; ++i) lines.push_back("line " + std::to_string(i));
    Open();
    QTextDocument* doc = View()->document();
    ASSERT_EQ(doc->blockCount(), 100000);
    EXPECT_EQ(doc->firstBlock().text(), "line 0");
    EXPECT_EQ(doc->lastBlock().text(), "line 99999");

    // Events run while the lines go in; a file chosen then must not be
    // followed by the rest of the live lines or a restarted timer.
    chosen = WriteFile("250101.log", "from file\r\n");
    QTimer::singleShot(0, viewer.get(), [this] { viewer->viewLogFile(); });
    Find<QPushButton>("realTimeButton")->click();
    EXPECT_EQ(Shown(), "from file");
    EXPECT_EQ(viewer->windowTitle(), "Event log - 250101.log");
    EXPECT_FALSE(Timer()->isActive());
}

}  // namespace
}  // namespace raid::app::test
