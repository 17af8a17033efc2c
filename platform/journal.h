#pragma once
// Native journal entries for the service under systemd: each with its own
// priority and fields an admin can filter on, where lines on standard error
// would all share one priority and no fields.
#include <sys/types.h>

#include <string>
#include <vector>

namespace raid::platform {

// True when standard error is the journal's stream: systemd then sets
// JOURNAL_STREAM to that stream's "device:inode".
bool StandardErrorIsJournal();
// The same test for a stream's device and inode and the variable's value.
bool IsJournalStream(dev_t device, ino_t inode, const char* journalStream);

struct JournalField {
    std::string name;  // upper case, as the journal wants: "ENCLOSURE_SERIAL"
    std::string value;
};

// Sends one entry (MESSAGE, PRIORITY, SYSLOG_IDENTIFIER and `fields`);
// false when the journal cannot be reached.
bool SendJournalEntry(int priority, const std::string& message,
                      const std::vector<JournalField>& fields);

}  // namespace raid::platform
