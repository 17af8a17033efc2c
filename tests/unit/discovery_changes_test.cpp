// Found/removed lines between two device lists, with devices told apart by
// their identification records.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "discovery/device_changes.h"

namespace raid::discovery {
namespace {

struct Mail {
    int kind, device, member;
    bool operator==(const Mail&) const = default;
};

// Builds the old and new lists from device names: device 'A' on a disk has
// identification byte 0 = 'A'. Disks are handed out in order of appearance.
class ChangeLog {
public:
    ChangeLog(const std::string& oldDevices, const std::string& newDevices) {
        for (std::size_t i = 0; i < oldDevices.size(); ++i) {
            d.deviceTable[i] = kDeviceEntryRecognised | static_cast<std::uint32_t>(i);
            d.previousIdentifyRecord[i][0] = static_cast<std::uint8_t>(oldDevices[i]);
        }
        d.deviceCount = static_cast<int>(oldDevices.size());
        for (std::size_t i = 0; i < newDevices.size(); ++i) {
            const std::size_t disk = 9 - i;  // other disks than before: only identity counts
            d.newDeviceTable[i] = kDeviceEntryRecognised | static_cast<std::uint32_t>(disk);
            d.identifyRecord[disk][0] = static_cast<std::uint8_t>(newDevices[i]);
        }
        d.newDeviceCount = static_cast<int>(newDevices.size());
    }

    std::vector<std::string> Run() {
        LogDeviceChanges(d, [this](int k, int dev, int m) { mails.push_back({k, dev, m}); });
        return d.deviceChangeLines;
    }

    DiscoveryState d;
    std::vector<Mail> mails;
};

const std::string kChanged = "    Device had changed.";

TEST(LogDeviceChanges, FirstDevicesAreFoundAndAskForAFullRedraw) {
    ChangeLog log("", "AB");
    EXPECT_EQ(log.Run(), (std::vector<std::string>{"D1 New Device was found.",
                                                   "D2 New Device was found.", kChanged}));
    EXPECT_TRUE(log.d.deviceChangeRedraw);
    EXPECT_TRUE(log.d.deviceChangeLinesPending);
    EXPECT_TRUE(log.mails.empty());
}

TEST(LogDeviceChanges, AllDevicesGoneQueuesARemovalMailEach) {
    ChangeLog log("AB", "");
    EXPECT_EQ(log.Run(), (std::vector<std::string>{"D1 Device was removed.",
                                                   "D2 Device was removed.", kChanged}));
    EXPECT_EQ(log.mails, (std::vector<Mail>{{2, 0, 0}, {2, 1, 0}}));
    EXPECT_FALSE(log.d.deviceChangeRedraw);
}

TEST(LogDeviceChanges, MiddleDeviceRemoved) {
    ChangeLog log("ABC", "AC");
    EXPECT_EQ(log.Run(), (std::vector<std::string>{"D2 Device was removed.", kChanged}));
    EXPECT_EQ(log.mails, (std::vector<Mail>{{2, 1, 0}}));
}

TEST(LogDeviceChanges, DeviceInsertedBeforeAKnownOne) {
    ChangeLog log("AC", "ABC");
    EXPECT_EQ(log.Run(), (std::vector<std::string>{"D2 New Device was found.", kChanged}));
    EXPECT_TRUE(log.mails.empty());
}

TEST(LogDeviceChanges, UnknownDevicesReplacingAKnownOne) {
    ChangeLog log("A", "BC");
    EXPECT_EQ(log.Run(),
              (std::vector<std::string>{"D1 Device was removed.", "D1 New Device was found.",
                                        "D2 New Device was found.", kChanged}));
    EXPECT_EQ(log.mails, (std::vector<Mail>{{2, 0, 0}}));
}

TEST(LogDeviceChanges, FirstOfTwoRemovedTheOtherMovesUp) {
    ChangeLog log("AB", "B");
    EXPECT_EQ(log.Run(), (std::vector<std::string>{"D1 Device was removed.", kChanged}));
    EXPECT_EQ(log.mails, (std::vector<Mail>{{2, 0, 0}}));
}

TEST(LogDeviceChanges, EqualCountsLogNothingEvenForOtherDevices) {
    ChangeLog log("AB", "CD");
    EXPECT_TRUE(log.Run().empty());
    EXPECT_TRUE(log.mails.empty());
    EXPECT_FALSE(log.d.deviceChangeLinesPending);
}

TEST(LogDeviceChanges, UnwrittenLinesGetAnotherClosingLine) {
    ChangeLog log("A", "AB");
    log.Run();
    // The event log has not written the lines yet when the next change comes.
    log.d.deviceTable = log.d.newDeviceTable;
    log.d.deviceCount = 2;
    log.d.previousIdentifyRecord = log.d.identifyRecord;
    log.d.newDeviceCount = 1;
    EXPECT_EQ(log.Run(), (std::vector<std::string>{"D2 New Device was found.", kChanged,
                                                   "D2 Device was removed.", kChanged}));
}

TEST(LogDeviceChanges, SensorReadingsThatMovedDoNotMakeAnotherDevice) {
    // A second enclosure is plugged in while the first one's temperature,
    // fan and backup countdown move.
    ChangeLog log("A", "AB");
    log.d.previousIdentifyRecord[0][100] = 0x55;  // identity bytes stay equal
    log.d.identifyRecord[9][100] = 0x55;
    for (std::size_t i = kLiveBytesFirst; i <= kLiveBytesLast; ++i) log.d.identifyRecord[9][i] = 7;
    EXPECT_EQ(log.Run(), (std::vector<std::string>{"D2 New Device was found.", kChanged}));
    EXPECT_TRUE(log.mails.empty());
}

TEST(SameIdentity, OnlyTheLiveBytesMayDiffer) {
    Record512 a{};
    Record512 b{};
    b[kLiveBytesFirst] = 1;
    b[kLiveBytesLast] = 1;
    EXPECT_TRUE(SameIdentity(a, b));
    for (std::size_t edge :
         {kLiveBytesFirst - 1, kLiveBytesLast + 1, std::size_t{0}, std::size_t{511}}) {
        Record512 c = a;
        c[edge] = 1;
        EXPECT_FALSE(SameIdentity(a, c)) << "byte " << edge;
    }
}

}  // namespace
}  // namespace raid::discovery
