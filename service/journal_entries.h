#pragma once
// The service's event-log lines and notes as journal entries: a priority per
// event (a lost member stands out in `journalctl -p warning`), fields to
// filter on (EVENT, ENCLOSURE, MEMBER_SLOT, a MESSAGE_ID per kind of event),
// and an event's undated lines (the information block) in its DETAIL field
// rather than as lines of their own. The day log keeps every line as it is.
#include <functional>
#include <optional>
#include <streambuf>
#include <string>
#include <vector>

#include "platform/journal.h"
#include "service/monitor_report.h"

namespace raid::service {

struct JournalEntry {
    int priority = 6;  // syslog's: 3 err, 4 warning, 5 notice, 6 info
    std::string message;
    std::vector<platform::JournalField> fields;
};

// Gathers the log lines of a poll into entries: each dated line with the
// undated lines after it; separators are dropped.
class EventJournal {
public:
    // Fields naming device `index` (0 = Device1) beyond its number, such as
    // its serial; may be empty.
    using EnclosureFields = std::function<std::vector<platform::JournalField>(int index)>;
    explicit EventJournal(EnclosureFields enclosureFields = {})
        : enclosureFields_(std::move(enclosureFields)) {}

    void Line(const std::string& line);
    // The entries gathered so far, the last one too; none are kept.
    std::vector<JournalEntry> Take();

private:
    void Close();

    EnclosureFields enclosureFields_;
    std::vector<JournalEntry> done_;
    std::optional<JournalEntry> open_;
    std::string detail_;
};

// The notes a stream is given, a line each, as journal entries (NoteEntry),
// the "raidctl: " before each dropped.
class JournalNotes final : public std::streambuf {
public:
    using Send = std::function<void(const JournalEntry&)>;
    explicit JournalNotes(Send send) : send_(std::move(send)) {}
    ~JournalNotes() override { sync(); }

protected:
    int overflow(int c) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;
    int sync() override;

private:
    Send send_;
    std::string line_;
};

// A note of the service ("Device1 (disk 2) did not answer the status poll"),
// without the "raidctl: " of standard error.
JournalEntry NoteEntry(const std::string& note);

// The state in a line, for the service manager's STATUS=: "2 enclosures: 1
// degraded, rebuilding 43%".
std::string StatusText(const MonitorReport& report);

}  // namespace raid::service
