#pragma once
// The lines of the event log: member events, rebuild lines and the device
// information block. Pure formatting over a device's DeviceStatusRecord and
// IdentifyRecord; every dated line ends with the caller's time stamp.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/text.h"

namespace raid::eventlog {

// 83 hyphens.
inline constexpr std::string_view kSeparator =
    "-----------------------------------------------------------------------------------";

enum class MemberEvent { Removed, Initialized, Failed, Inserted };

// member: 0 = HDD1, 1 = HDD2.
// The event line of one member change and its detail lines (model, serial and
// capacity for Initialized and Failed).
std::vector<std::string> MemberEventLines(int deviceIndex, int member, MemberEvent event,
                                          text::Bytes record, const std::string& stamp);

// "D1 HDD2 --> HDD1 10%, <stamp>"; direction 0 = HDD1 being rebuilt.
std::string RebuildProgressLine(int deviceIndex, int direction, std::uint8_t percent,
                                const std::string& stamp);

// "D1 HDD2 --> HDD1 Done, <stamp>" after a rebuild that reached 99 %.
std::string RebuildDoneLine(int deviceIndex, int direction, const std::string& stamp);

// "D1 HDD1 OK, HDD2 OK, <stamp>" after a rebuild that ended elsewhere.
std::string RebuildOkLine(int deviceIndex, const std::string& stamp);

// The undated information block of a device: controller model, array mode
// and firmware, configured capacity and both members.
std::vector<std::string> DeviceInformationBlock(int deviceIndex, text::Bytes identifyRecord,
                                                text::Bytes record);

// What a log line tells, for a reader that sorts lines (desktop notices, the
// journal). The dated event lines begin "D<n> "; the information block's
// lines and the separators are undated.
enum class LineKind {
    Detail,     // an undated line: part of the information block
    Separator,  // kSeparator
    Started,    // "... has started from <stamp>"
    EnclosureFound,
    EnclosureRemoved,
    MemberRemoved,
    MemberInserted,
    MemberInitialized,
    MemberFailed,
    RebuildProgress,  // "D1 HDD2 --> HDD1 10%, <stamp>"
    RebuildDone,
    RebuildEnded,  // "D1 HDD1 OK, HDD2 OK, <stamp>"
    OtherEvent,    // dated, none of the above
};
struct LineEvent {
    LineKind kind = LineKind::Detail;
    int device = -1;  // 0 = D1; -1: none named
    int member = -1;  // 0 = HDD1; for a rebuild, the member being rebuilt
};
LineEvent ClassifyLine(std::string_view line);

// True for the log lines of a lost member ("D1 HDD2 was removed, 04<stamp>")
// and of a lost enclosure ("D1 Device was removed.<stamp>"): the events worth
// interrupting the desktop for. Every other line, its neighbours among them
// ("was inserted", "was failed", "New Device was found."), is false.
bool DeservesDesktopNotice(std::string_view line);

}  // namespace raid::eventlog
