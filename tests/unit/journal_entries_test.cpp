// The service's lines as journal entries: which lines make one entry, the
// priority and fields of each kind of event, notes, and the state line of
// STATUS=.
#include "service/journal_entries.h"

#include <gtest/gtest.h>
#include <syslog.h>

#include <ostream>

#include "eventlog/event_lines.h"

namespace raid::service {
namespace {

std::string Field(const JournalEntry& e, const std::string& name) {
    for (const auto& f : e.fields)
        if (f.name == name) return f.value;
    return "(none)";
}

TEST(EventJournal, EachEventIsOneEntryWithItsDetailsAndItsPriority) {
    EventJournal journal([](int index) {
        return std::vector<platform::JournalField>{
            {"ENCLOSURE_DISK", "/dev/sd" + std::string(1, char('b' + index))}};
    });
    const std::string sep(eventlog::kSeparator);
    for (const char* line :
         {sep.c_str(), "RAID GUI v1 has started from 12/08/26 11:23:23",
          "Device1 information :", "Model# SIM RAID1", "  HDD2 is present.(SATA)00", sep.c_str(),
          "D1 HDD2 was removed, 04, 12/08/26 11:24:00",
          "D1 HDD2 was inserted, 00, 12/08/26 11:25:00",
          "D2 HDD1 was initialized (SATA2), 00, 12/08/26 11:26:00", "  Model no.: SIM-DISK",
          "D2 HDD2 --> HDD1 43%, 12/08/26 11:27:00", "D2 Device was removed.12/08/26 11:28:00",
          "D1 HDD1 was failed, Capacity too small.09, 12/08/26 11:29:00"})
        journal.Line(line);
    const auto entries = journal.Take();
    ASSERT_EQ(entries.size(), 7u);
    EXPECT_TRUE(journal.Take().empty());

    // The start banner: one entry, its block a field; no separators.
    EXPECT_EQ(entries[0].message, "RAID GUI v1 has started from 12/08/26 11:23:23");
    EXPECT_EQ(entries[0].priority, LOG_INFO);
    EXPECT_EQ(Field(entries[0], "DETAIL"),
              "Device1 information :\nModel# SIM RAID1\n  HDD2 is present.(SATA)00");
    EXPECT_EQ(Field(entries[0], "ENCLOSURE"), "(none)");

    const JournalEntry& lost = entries[1];
    EXPECT_EQ(lost.priority, LOG_ERR);
    EXPECT_EQ(Field(lost, "EVENT"), "member-removed");
    EXPECT_EQ(Field(lost, "ENCLOSURE"), "Device1");
    EXPECT_EQ(Field(lost, "ENCLOSURE_DISK"), "/dev/sdb");
    EXPECT_EQ(Field(lost, "MEMBER_SLOT"), "HDD2");
    EXPECT_EQ(Field(lost, "MESSAGE_ID").size(), 32u);
    EXPECT_EQ(Field(lost, "DETAIL"), "(none)");

    EXPECT_EQ(entries[2].priority, LOG_INFO);
    EXPECT_NE(Field(entries[2], "MESSAGE_ID"), Field(lost, "MESSAGE_ID"));
    EXPECT_EQ(entries[3].priority, LOG_NOTICE);
    EXPECT_EQ(Field(entries[3], "DETAIL"), "  Model no.: SIM-DISK");
    EXPECT_EQ(Field(entries[3], "ENCLOSURE_DISK"), "/dev/sdc");
    // A rebuild names the member being rebuilt.
    EXPECT_EQ(Field(entries[4], "EVENT"), "rebuild-progress");
    EXPECT_EQ(Field(entries[4], "MEMBER_SLOT"), "HDD1");
    EXPECT_EQ(entries[5].priority, LOG_WARNING);
    EXPECT_EQ(Field(entries[5], "EVENT"), "enclosure-removed");
    EXPECT_EQ(entries[6].priority, LOG_ERR);
    EXPECT_EQ(Field(entries[6], "MEMBER_SLOT"), "HDD1");
}

TEST(EventJournal, NotesKeepTheirPriorityAndLoseTheirPrefix) {
    std::vector<JournalEntry> sent;
    {
        JournalNotes notes([&sent](const JournalEntry& e) { sent.push_back(e); });
        std::ostream err(&notes);
        err << "raidctl: Device2 (disk 3 (/dev/sdd)) did not answer the status poll\n"
            << "raidctl: Device2 answers again\n"
            << "raidctl: Cannot write log file /var/log/x: No space left on device\n"
            << "raidctl: monitoring Device1";
        err.flush();
    }
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[0].message, "Device2 (disk 3 (/dev/sdd)) did not answer the status poll");
    EXPECT_EQ(sent[0].priority, LOG_WARNING);
    EXPECT_EQ(Field(sent[0], "ENCLOSURE"), "Device2");
    EXPECT_EQ(sent[1].priority, LOG_NOTICE);
    EXPECT_EQ(sent[2].priority, LOG_ERR);
    EXPECT_EQ(sent[3].message, "monitoring Device1");
    EXPECT_EQ(sent[3].priority, LOG_INFO);
}

TEST(StatusText, SaysTheStateInALine) {
    MonitorReport report;
    EXPECT_EQ(StatusText(report), "no enclosure; waiting for one");
    MonitoredEnclosure healthy;
    healthy.status.polled = healthy.status.pollOk = true;
    for (int k = 0; k < 2; ++k) {
        healthy.status.members[k].name = k == 0 ? "HDD1" : "HDD2";
        healthy.status.members[k].stateClass = "present";
    }
    report.enclosures.push_back(healthy);
    EXPECT_EQ(StatusText(report), "1 enclosure: healthy");
    MonitoredEnclosure degraded = healthy;
    degraded.status.members[0].stateClass = "absent";
    degraded.status.members[1].rebuilding = true;
    degraded.status.rebuildPercent = 43;
    report.enclosures.push_back(degraded);
    EXPECT_EQ(StatusText(report), "2 enclosures: 1 degraded, rebuilding 43%");
    report.enclosures[0].status.pollOk = false;
    report.enclosures[1].smart[1] = SmartVerdict::Error;
    EXPECT_EQ(StatusText(report),
              "2 enclosures: 1 not answering, 1 degraded, rebuilding 43%, 1 member with SMART "
              "Error");
}

}  // namespace
}  // namespace raid::service
