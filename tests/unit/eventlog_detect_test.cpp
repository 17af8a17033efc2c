#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "common/state.h"
#include "common/text.h"
#include "discovery/device_changes.h"
#include "eventlog/detect_events.h"
#include "eventlog/event_lines.h"
#include "eventlog/log_file.h"
#include "platform/clock.h"
#include "tests/unit/test_files_and_time.h"

namespace raid::eventlog {
namespace {

using raid::test_support::Local;
using raid::test_support::ReadFile;
using raid::test_support::WriteFile;

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

const std::string kSep(kSeparator);
constexpr const char* kPattern = "%d/%m/%Y %H:%M:%S";

void PutAta(Record512& r, std::size_t off, std::size_t width, std::string s) {
    s.resize(width, ' ');
    for (std::size_t k = 0; k < width; ++k) r[off + k] = static_cast<std::uint8_t>(s[k ^ 1u]);
}

std::uint8_t ClassOf(std::uint8_t code) {
    if (code <= 1) return diskstate::kHdd1Present;
    if (code == 6) return diskstate::kHdd1Inserted;
    if (code == 9) return diskstate::kHdd1Failed;
    return diskstate::kHdd1Absent;
}

void PutCapacity(Record512& r, std::size_t off, std::uint64_t sectors) {
    for (int i = 0; i < 6; ++i) r[off + static_cast<std::size_t>(i)] = (sectors >> (8 * i)) & 0xFF;
}

// Sets a member's state code the way the status poll does: flags afresh,
// member texts kept while absent.
void SetState(Record512& r, int member, std::uint8_t code) {
    r[member == 0 ? rec::kHdd1State : rec::kHdd2State] = code;
    r[rec::kDiskStateFlags] =
        static_cast<std::uint8_t>(ClassOf(r[rec::kHdd1State]) | (ClassOf(r[rec::kHdd2State]) << 4));
    r[rec::kRebuildFlags] = static_cast<std::uint8_t>((r[rec::kHdd1State] == 1 ? 1 : 0) |
                                                      (r[rec::kHdd2State] == 1 ? 2 : 0));
}

void SetMember(Record512& r, int member, std::uint8_t code, const std::string& model,
               const std::string& serial, std::uint64_t sectors) {
    PutAta(r, member == 0 ? rec::kHdd1Model : rec::kHdd2Model, 40, model);
    PutAta(r, member == 0 ? rec::kHdd1Serial : rec::kHdd2Serial, 20, serial);
    PutCapacity(r, member == 0 ? rec::kHdd1Capacity : rec::kHdd2Capacity, sectors);
    SetState(r, member, code);
}

const Lines kDevice1Block = {
    "Device1 information :",
    "Model# RAID Bridge 2B",
    "Mirroring(RAID1), F/W Rev. 100125.1",
    "Configured Capacity : 465 GB(976773168 Sectors)",
    "  HDD1 is present.(SATA)00",
    "    Model no.: WDC WD5000AAKS-00A7B2",
    "    Serial no.: \"     WD-WCAS11111111\"",
    "    Capacity : 465 GB(976773168 Sectors)",
    "  HDD2 is present.(SATA)00",
    "    Model no.: ST3500418AS",
    "    Serial no.: \"            5VM22222\"",
    "    Capacity : 465 GB(976773168 Sectors)",
};

const Lines kDevice2Block = {
    "Device2 information :",
    "Model# JM2X  ",
    "Striping(RAID0), F/W Rev. V1.02.03",
    "Configured Capacity : 931 GB(1953546336 Sectors)",
    "  HDD1 is present.(SATA1.5G)00",
    "    Model no.: Hitachi HDS721010CLA332",
    "    Serial no.: \"      JP2911HZ3AAAAA\"",
    "    Capacity : 931 GB(1953525168 Sectors)",
    "  HDD2 is present.(SATA3G)00",
    "    Model no.: SAMSUNG HD103SJ",
    "    Serial no.: \"      S246J9AZ123456\"",
    "    Capacity : 931 GB(1953525168 Sectors)",
};

Lines Concat(std::initializer_list<Lines> parts) {
    Lines out;
    for (const Lines& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

class EventLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/eventlog_test.XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        root_ = tmpl;
        logFolder_ = root_;

        app_.discovery.deviceCount = 2;
        app_.discovery.deviceTable[0] = kDeviceEntryRecognised | 2;
        app_.discovery.deviceTable[1] = kDeviceEntryRecognised | 3;

        Record512& id1 = Identify(0);
        PutAta(id1, 54, 40, "RAID Bridge 2B");
        id1[46] = 0x10, id1[47] = 0x01, id1[48] = 0x25, id1[49] = 0x11;
        Record512& r1 = Rec(0);
        r1[rec::kArrayMode] = 1;
        PutCapacity(r1, rec::kConfiguredCapacity, 976773168);
        SetMember(r1, 0, 0, "WDC WD5000AAKS-00A7B2", "     WD-WCAS11111111", 976773168);
        SetMember(r1, 1, 0, "ST3500418AS", "            5VM22222", 976773168);

        Record512& id2 = Identify(1);
        PutAta(id2, 54, 40, "JM2X");
        PutAta(id2, 46, 8, "V1.02.03");
        Record512& r2 = Rec(1);
        r2[rec::kArrayMode] = 0;
        r2[rec::kSataSpeed] = 0x21;
        PutCapacity(r2, rec::kConfiguredCapacity, 1953546336);
        SetMember(r2, 0, 0, "Hitachi HDS721010CLA332", "      JP2911HZ3AAAAA", 1953525168);
        SetMember(r2, 1, 0, "SAMSUNG HD103SJ", "      S246J9AZ123456", 1953525168);
    }

    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    Record512& Rec(int device) { return app_.monitor.deviceStatusRecord[device + 2u]; }
    Record512& Identify(int device) { return app_.discovery.identifyRecord[device + 2u]; }

    // One event detection call, five seconds after the previous one.
    void Poll(std::uint8_t mask) {
        clock_.Advance(5000);
        EventLogContext ctx{
            app_,
            clock_,
            logFolder_,
            "RAID GUI v0.50.11-5",
            text::PatternDateTimeFormatter(kPattern),
            [this](int kind, int device, int member) { mails_.emplace_back(kind, device, member); },
            [this](const std::string& m) { errors_.push_back(m); }};
        DetectEvents(state_, ctx, mask);
    }
    // The first poll of a run: start header, then normal polls.
    void StartRun(std::uint8_t mask = 0x03) {
        app_.shell.firstStatusPending = true;
        Poll(mask);
        app_.shell.firstStatusPending = false;
    }

    std::string Stamp() { return text::PatternDateTimeFormatter(kPattern)(clock_.WallNow()); }
    fs::path Today() const { return logFolder_ / "240315.log"; }
    const Lines& LogLines() const { return state_.eventLogLines; }
    Lines NewLines(std::size_t from) const {
        return Lines(LogLines().begin() + from, LogLines().end());
    }
    void ExpectFileMatchesLines(const fs::path& p) {
        EXPECT_EQ(ReadFile(p), SerializeLines(LogLines()));
    }

    fs::path root_;
    fs::path logFolder_;
    AppState app_;
    // Noon minus the five seconds the first Poll adds.
    platform::ManualClock clock_{Local(2024, 3, 15, 11, 59, 55)};
    EventLogState state_;
    std::vector<std::tuple<int, int, int>> mails_;
    std::vector<std::string> errors_;
};

TEST_F(EventLogTest, StartWithTodaysFileAppendsHeaderAndRewritesTheFile) {
    WriteFile(Today(), "earlier line 1\r\nearlier line 2\r\n");
    StartRun();
    const Lines expected = Concat({{"earlier line 1", "earlier line 2", kSep,
                                    "RAID GUI v0.50.11-5 has started from 15/03/2024 12:00:00"},
                                   kDevice1Block,
                                   kDevice2Block,
                                   {kSep}});
    EXPECT_EQ(LogLines(), expected);
    ExpectFileMatchesLines(Today());
    EXPECT_EQ(state_.loggedDiskState[0], 0x22);
    EXPECT_EQ(state_.loggedDiskState[1], 0x22);
    EXPECT_TRUE(mails_.empty());
    EXPECT_TRUE(errors_.empty());

    // Nothing changed: nothing logged, file untouched.
    Poll(0x03);
    EXPECT_EQ(LogLines(), expected);
}

TEST_F(EventLogTest, StartHeaderIsWrittenOnceWhileTheFirstFullRefreshIsLate) {
    // Both devices unticked before the first poll: nothing clears the
    // first-status flag, poll after poll.
    app_.shell.firstStatusPending = true;
    Poll(0);
    const Lines once{kSep, "RAID GUI v0.50.11-5 has started from 15/03/2024 12:00:00", kSep};
    EXPECT_EQ(LogLines(), once);
    Poll(0);
    Poll(0);
    EXPECT_EQ(LogLines(), once);
    ExpectFileMatchesLines(Today());
}

TEST_F(EventLogTest, StartWithoutFileBeginsWithTheStartSeparatorOnly) {
    StartRun(0x01);  // the second device's poll failed
    const Lines expected =
        Concat({{kSep, "RAID GUI v0.50.11-5 has started from 15/03/2024 12:00:00"},
                kDevice1Block,
                {kSep}});
    EXPECT_EQ(LogLines(), expected);
    ExpectFileMatchesLines(Today());
}

TEST_F(EventLogTest, FirstCallAfterMidnightStartsTheNewFileWithoutStateLines) {
    clock_.SetWall(Local(2024, 3, 15, 23, 59, 53));
    StartRun();
    const fs::path yesterday = logFolder_ / "240315.log";
    const std::string yesterdayBytes = ReadFile(yesterday);

    SetState(Rec(0), 1, 4);  // HDD2 drops out in the poll that crosses midnight
    Poll(0x03);
    ASSERT_EQ(Stamp(), "16/03/2024 00:00:03");
    Lines block1 = kDevice1Block;
    block1.resize(8);
    block1.insert(block1.end(), {"  HDD2 is absent. 04", "    Model no.: ST3500418AS",
                                 "    Serial no.: \"            5VM22222\"",
                                 "    Capacity : 465 GB(976773168 Sectors)"});
    EXPECT_EQ(LogLines(), Concat({{kSep}, block1, kDevice2Block, {kSep}}));
    ExpectFileMatchesLines(logFolder_ / "240316.log");
    EXPECT_EQ(ReadFile(yesterday), yesterdayBytes);
    EXPECT_TRUE(mails_.empty());

    // The new day's header took no snapshot: the change is logged now.
    const std::size_t before = LogLines().size();
    Poll(0x03);
    EXPECT_EQ(NewLines(before), Lines{"D1 HDD2 was removed, 0416/03/2024 00:00:08"});
    EXPECT_EQ(mails_.size(), 1u);
}

TEST_F(EventLogTest, ANewDayLetsGoOfTheBusyDayBeforeIt) {
    // Evening: a member that comes and goes at every poll for hours.
    clock_.SetWall(Local(2024, 3, 15, 21, 0, 0));
    StartRun();
    for (int i = 0; i < 2000; ++i) {
        SetState(Rec(0), 1, i % 2 == 0 ? 4 : 0);
        Poll(0x03);
    }
    ASSERT_GT(LogLines().size(), 2000u);

    clock_.SetWall(Local(2024, 3, 15, 23, 59, 58));
    Poll(0x03);
    ASSERT_EQ(Stamp(), "16/03/2024 00:00:03");
    // The new day holds its header only, and no room for the old day's lines:
    // a week of runs would otherwise keep its busiest day's worth for good.
    EXPECT_LT(LogLines().size(), 40u);
    EXPECT_LT(LogLines().capacity(), 64u);
    ExpectFileMatchesLines(logFolder_ / "240316.log");
}

TEST_F(EventLogTest, MemberRemovedThenBackMailsAndRequestsThresholds) {
    StartRun();
    app_.shell.pollRequestFlags = 0x10;
    const std::size_t start = LogLines().size();

    SetState(Rec(0), 1, 4);
    Poll(0x03);
    EXPECT_EQ(NewLines(start), Lines{"D1 HDD2 was removed, 0415/03/2024 12:00:05"});
    ASSERT_EQ(mails_.size(), 1u);
    EXPECT_EQ(mails_[0], std::make_tuple(1, 0, 1));
    EXPECT_EQ(app_.shell.pollRequestFlags.load(), 0x10);
    EXPECT_EQ(state_.loggedDiskState[0], 0x42);

    const std::size_t mid = LogLines().size();
    SetState(Rec(0), 1, 0);
    Poll(0x03);
    EXPECT_EQ(NewLines(mid),
              (Lines{"D1 HDD2 was initialized, (SATA), 0015/03/2024 12:00:10",
                     "  Model no.: ST3500418AS", "  Serial no.: \"            5VM22222\"",
                     "  Capacity : 465 GB(976773168 Sectors)"}));
    EXPECT_EQ(app_.shell.pollRequestFlags.load(), 0x18);
    EXPECT_EQ(mails_.size(), 1u);
    ExpectFileMatchesLines(Today());
}

TEST_F(EventLogTest, AbsentToInsertedToPresentGivesOneLinePerPoll) {
    SetState(Rec(1), 0, 4);
    StartRun();
    const std::size_t start = LogLines().size();
    SetState(Rec(1), 0, 6);
    Poll(0x03);
    EXPECT_EQ(NewLines(start), Lines{"D2 HDD1 was inserted, 0615/03/2024 12:00:05"});

    const std::size_t mid = LogLines().size();
    SetState(Rec(1), 0, 0);
    Poll(0x03);
    EXPECT_EQ(NewLines(mid), (Lines{"D2 HDD1 was initialized (SATA1.5G), 0015/03/2024 12:00:10",
                                    "  Model no.: Hitachi HDS721010CLA332",
                                    "  Serial no.: \"      JP2911HZ3AAAAA\"",
                                    "  Capacity : 931 GB(1953525168 Sectors)"}));
    EXPECT_EQ(app_.shell.pollRequestFlags.load() & poll::kSmartThresholds, poll::kSmartThresholds);
}

TEST_F(EventLogTest, ChangesOfAFailedPollWaitAndUnsnapshottedStateCountsAsZero) {
    WriteFile(Today(), "x\r\n");
    app_.shell.firstStatusPending = false;
    SetState(Rec(0), 1, 9);
    Poll(0x02);  // device 0's poll failed: nothing for it yet
    // The 0xFF of device 1 counts as 0, so both present members are new.
    ASSERT_EQ(LogLines().size(), 1 + 8u);
    EXPECT_EQ(LogLines()[1], "D2 HDD1 was initialized (SATA1.5G), 0015/03/2024 12:00:00");
    EXPECT_EQ(LogLines()[5], "D2 HDD2 was initialized, (SATA3G), 0015/03/2024 12:00:00");

    const std::size_t before = LogLines().size();
    Poll(0x01);
    const Lines added = NewLines(before);
    ASSERT_EQ(added.size(), 8u);
    EXPECT_EQ(added[0], "D1 HDD1 was initialized (SATA), 0015/03/2024 12:00:05");
    EXPECT_EQ(added[4], "D1 HDD2 was failed, Capacity too small.0915/03/2024 12:00:05");
    EXPECT_EQ(added[5], "  Model no.: ST3500418AS");
    EXPECT_EQ(state_.loggedDiskState[0], 0x82);
}

TEST_F(EventLogTest, RebuildProgressLogsEachNewPercentAndTheEnd) {
    StartRun();
    const std::size_t start = LogLines().size();
    SetState(Rec(0), 1, 1);  // HDD2 being rebuilt from HDD1
    for (std::uint8_t pct : {10, 10, 11}) {
        Rec(0)[rec::kRebuildPercent] = pct;
        Poll(0x03);
    }
    Rec(0)[rec::kRebuildPercent] = 99;
    Poll(0x03);
    SetState(Rec(0), 1, 0);
    Poll(0x03);
    EXPECT_EQ(NewLines(start), (Lines{"D1 HDD1 --> HDD2 10%, 15/03/2024 12:00:05",
                                      "D1 HDD1 --> HDD2 11%, 15/03/2024 12:00:15",
                                      "D1 HDD1 --> HDD2 99%, 15/03/2024 12:00:20",
                                      "D1 HDD1 --> HDD2 Done, 15/03/2024 12:00:25"}));
    EXPECT_EQ(state_.lastLoggedPercent[0], kNoneLogged);

    // HDD1 rebuilt, ending after 97 %.
    const std::size_t second = LogLines().size();
    SetState(Rec(0), 0, 1);
    Rec(0)[rec::kRebuildPercent] = 97;
    Poll(0x03);
    SetState(Rec(0), 0, 0);
    Poll(0x03);
    EXPECT_EQ(NewLines(second), (Lines{"D1 HDD2 --> HDD1 97%, 15/03/2024 12:00:30",
                                       "D1 HDD1 OK, HDD2 OK, 15/03/2024 12:00:35"}));

    // A rebuild that ends with a member missing leaves no end line.
    SetState(Rec(0), 0, 1);
    Rec(0)[rec::kRebuildPercent] = 50;
    Poll(0x03);
    const std::size_t third = LogLines().size();
    SetState(Rec(0), 0, 4);
    Poll(0x03);
    EXPECT_EQ(NewLines(third), Lines{"D1 HDD1 was removed, 0415/03/2024 12:00:45"});
    EXPECT_EQ(state_.lastLoggedPercent[0], kNoneLogged);
    ExpectFileMatchesLines(Today());
}

TEST_F(EventLogTest, SettingsLinesWaitWhileNoDeviceExistsAndAreSavedAtOnceAfterwards) {
    app_.discovery.deviceCount = 0;
    StartRun(0);
    app_.monitor.settingsLogLines = {"D1 Buzzer Mute(setted): ON, 15/03/2024 12:00:01"};
    Poll(0);
    EXPECT_EQ(LogLines(),
              (Lines{kSep, "RAID GUI v0.50.11-5 has started from 15/03/2024 12:00:00", kSep}));
    EXPECT_EQ(app_.monitor.settingsLogLines.size(), 1u);

    // The device appears without a snapshot: its members first, then the settings.
    app_.discovery.deviceCount = 1;
    Poll(0x01);
    EXPECT_TRUE(app_.monitor.settingsLogLines.empty());
    ASSERT_EQ(LogLines().size(), 3 + 8 + 1u);
    EXPECT_EQ(LogLines()[3], "D1 HDD1 was initialized (SATA), 0015/03/2024 12:00:10");
    EXPECT_EQ(LogLines().back(), "D1 Buzzer Mute(setted): ON, 15/03/2024 12:00:01");
    ExpectFileMatchesLines(Today());

    // Settings alone reach the file: on a quiet system no event follows.
    app_.monitor.settingsLogLines = {"D1 Buzzer Mute(setted): OFF, 15/03/2024 12:00:12"};
    Poll(0x01);
    EXPECT_EQ(LogLines().back(), "D1 Buzzer Mute(setted): OFF, 15/03/2024 12:00:12");
    ExpectFileMatchesLines(Today());
    EXPECT_NE(ReadFile(Today()).find("Buzzer Mute(setted): OFF"), std::string::npos);
}

TEST_F(EventLogTest, DeviceChangeLinesStartANewHeaderAndSnapshot) {
    StartRun();
    app_.discovery.deviceChangeLines = {"D2 Device was removed.", "    Device had changed."};
    app_.discovery.deviceChangeLinesPending = true;
    app_.discovery.deviceCount = 1;
    SetState(Rec(0), 0, 4);  // taken by the snapshot, so no removed line
    const std::size_t start = LogLines().size();
    Poll(0x01);
    Lines block1 = kDevice1Block;
    block1.erase(block1.begin() + 4, block1.begin() + 8);
    block1.insert(
        block1.begin() + 4,
        {"  HDD1 is absent. 04", "    Model no.:WDC WD5000AAKS-00A7B2",
         "    Serial no.: \"     WD-WCAS11111111\"", "    Capacity : 465 GB(976773168 Sectors)"});
    EXPECT_EQ(NewLines(start), Concat({{kSep, "D2 Device was removed.15/03/2024 12:00:05",
                                        "    Device had changed.15/03/2024 12:00:05"},
                                       block1,
                                       {kSep}}));
    EXPECT_FALSE(app_.discovery.deviceChangeLinesPending);
    EXPECT_TRUE(app_.discovery.deviceChangeLines.empty());
    EXPECT_TRUE(mails_.empty());
}

// The window shows a desktop notice for the lines that say a member or an
// enclosure was lost, as the log writes them; of a busy log, no other line.
TEST_F(EventLogTest, OnlyLostMembersAndEnclosuresDeserveADesktopNotice) {
    StartRun();
    SetState(Rec(0), 1, 4);
    Poll(0x03);
    const std::string memberLost = Stamp();
    SetState(Rec(0), 1, 6);
    Poll(0x03);
    SetState(Rec(0), 1, 1);  // rebuilt from HDD1
    Rec(0)[rec::kRebuildPercent] = 50;
    Poll(0x03);
    SetState(Rec(0), 1, 0);
    Poll(0x03);
    SetState(Rec(1), 0, 9);
    Poll(0x03);
    SetState(Rec(1), 0, 4);
    Poll(0x03);
    const std::string failedMemberLost = Stamp();

    // The second enclosure unplugged and back, through the discovery's lines.
    DiscoveryState& d = app_.discovery;
    d.previousIdentifyRecord = d.identifyRecord;
    d.newDeviceTable = d.deviceTable;
    d.newDeviceCount = 1;
    discovery::LogDeviceChanges(d, {});
    d.deviceCount = 1;
    Poll(0x01);
    const std::string enclosureLost = Stamp();
    d.newDeviceCount = 2;
    discovery::LogDeviceChanges(d, {});
    d.deviceCount = 2;
    Poll(0x03);

    const auto has = [&](const std::string& text) {
        return std::any_of(LogLines().begin(), LogLines().end(),
                           [&](const std::string& l) { return l.find(text) != std::string::npos; });
    };
    for (const char* neighbour :
         {"D1 HDD2 was inserted, ", "D1 HDD2 was initialized, ", "D1 HDD1 --> HDD2 50%",
          "D1 HDD1 OK, HDD2 OK", "D2 HDD1 was failed, ", "D2 New Device was found.",
          "Device had changed."}) {
        ASSERT_TRUE(has(neighbour)) << neighbour;
    }
    Lines noticed;
    std::copy_if(LogLines().begin(), LogLines().end(), std::back_inserter(noticed),
                 DeservesDesktopNotice);
    EXPECT_EQ(noticed, (Lines{"D1 HDD2 was removed, 04" + memberLost,
                              "D2 HDD1 was removed, 04" + failedMemberLost,
                              "D2 Device was removed." + enclosureLost}));
}

TEST_F(EventLogTest, UnwritableFolderReportsOnceKeepsLinesAndSavesLater) {
    WriteFile(root_ / "blocker", "a regular file where a folder should be");
    logFolder_ = root_ / "blocker" / "logs";
    StartRun();
    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_NE(errors_[0].find("240315.log"), std::string::npos) << errors_[0];
    const std::size_t headerSize = LogLines().size();
    EXPECT_EQ(headerSize, 2 + kDevice1Block.size() + kDevice2Block.size() + 1);

    SetState(Rec(0), 1, 4);
    Poll(0x03);
    EXPECT_EQ(errors_.size(), 1u);
    ASSERT_EQ(LogLines().size(), headerSize + 1);
    EXPECT_EQ(LogLines()[0], kSep);
    EXPECT_EQ(mails_.size(), 1u);  // monitoring goes on

    fs::remove(root_ / "blocker");
    fs::create_directories(logFolder_);
    Poll(0x03);  // nothing new: the owed save is retried all the same
    ExpectFileMatchesLines(Today());
    EXPECT_EQ(LogLines().size(), headerSize + 1);
    EXPECT_EQ(errors_.size(), 1u);

    // A new failure after a success is reported again.
    fs::remove_all(logFolder_);
    WriteFile(logFolder_, "blocked again");
    SetState(Rec(0), 1, 0);
    Poll(0x03);
    EXPECT_EQ(errors_.size(), 2u);
}

TEST_F(EventLogTest, UnreadableDayFileIsNeverReplacedAndIsMergedOnceReadable) {
    fs::create_directory(Today());
    WriteFile(Today() / "inside", "keep me");
    StartRun();
    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_EQ(LogLines().front(), kSep);
    SetState(Rec(0), 1, 4);
    Poll(0x03);
    EXPECT_EQ(errors_.size(), 1u);
    EXPECT_EQ(ReadFile(Today() / "inside"), "keep me");
    const Lines ours = LogLines();

    fs::remove_all(Today());
    WriteFile(Today(), "from another run\n");
    Poll(0x03);
    EXPECT_EQ(LogLines(), Concat({{"from another run"}, ours}));
    ExpectFileMatchesLines(Today());
}

TEST_F(EventLogTest, AppendingGivesTheBytesOfAFullRewrite) {
    StartRun();
    EXPECT_EQ(state_.writer.lastSaveKind(), LogFileWriter::SaveKind::Rewritten);
    for (std::uint8_t code : {4, 6, 0}) {
        SetState(Rec(1), 1, code);
        app_.monitor.settingsLogLines = {"D2 Backup Period(Setted): 2d, x"};
        Poll(0x03);
        EXPECT_EQ(state_.writer.lastSaveKind(), LogFileWriter::SaveKind::Appended);
        ExpectFileMatchesLines(Today());
    }
    // Someone else wrote to the file: the next save rewrites it whole.
    {
        std::ofstream out(Today(), std::ios::binary | std::ios::app);
        out << "foreign line\r\n";
    }
    SetState(Rec(1), 1, 4);
    Poll(0x03);
    EXPECT_EQ(state_.writer.lastSaveKind(), LogFileWriter::SaveKind::Rewritten);
    ExpectFileMatchesLines(Today());
    // No temporary files are left behind.
    int files = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(logFolder_)) ++files;
    EXPECT_EQ(files, 1);
}

TEST_F(EventLogTest, LoadsEitherLineEndAndWritesCrLf) {
    WriteFile(Today(), std::string("first\nsecond\r\nthird with \0 inside", 33));
    StartRun();
    ASSERT_GE(LogLines().size(), 4u);
    EXPECT_EQ(LogLines()[0], "first");
    EXPECT_EQ(LogLines()[1], "second");
    EXPECT_EQ(LogLines()[2], std::string("third with \0 inside", 19));
    EXPECT_EQ(LogLines()[3], kSep);
    const std::string bytes = ReadFile(Today());
    EXPECT_EQ(bytes.rfind("first\r\nsecond\r\nthird with ", 0), 0u);
    std::size_t lf = 0, crlf = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '\n') continue;
        ++lf;
        if (i > 0 && bytes[i - 1] == '\r') ++crlf;
    }
    EXPECT_EQ(lf, LogLines().size());
    EXPECT_EQ(crlf, lf);
}

TEST(EventLines, InformationBlockMemberForms) {
    Record512 r{};
    Record512 identify{};
    PutAta(r, rec::kHdd1Model, 40, "MODEL-A");
    PutAta(r, rec::kHdd2Model, 40, "MODEL-B");
    PutAta(r, rec::kHdd2Serial, 20, "SER-B");
    r[rec::kArrayMode] = 9;
    // HDD1 absent and never seen (no serial), HDD2 failed.
    r[rec::kHdd1State] = 4;
    r[rec::kHdd2State] = 9;
    r[rec::kDiskStateFlags] = 0x84;
    EXPECT_EQ(
        DeviceInformationBlock(1, identify, r),
        (Lines{"Device2 information :", "Model# ", "Undefine, F/W Rev. 000000.0",
               "Configured Capacity : 0 MB(0 Sectors)", "  HDD1 is absent. 04",
               "  HDD2 was failed, Unmatched SSD.09", "    Model no.: MODEL-B",
               "    Serial no.: \"SER-B               \"", "    Capacity : 0 MB(0 Sectors)"}));
    // Inserted members have no indentation and no member lines; no bit, no line.
    r[rec::kHdd1State] = 6;
    r[rec::kDiskStateFlags] = 0x01;
    const Lines block = DeviceInformationBlock(0, identify, r);
    ASSERT_EQ(block.size(), 5u);
    EXPECT_EQ(block[4], "HDD1 was inserted.06");
    // A record too short for its fields reads as zeros.
    EXPECT_EQ(DeviceInformationBlock(0, identify, text::Bytes(r).first(10)).size(), 4u);
}

}  // namespace
}  // namespace raid::eventlog
