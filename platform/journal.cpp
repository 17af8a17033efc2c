#include "platform/journal.h"

#include <sys/stat.h>
#include <sys/uio.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace raid::platform {

bool IsJournalStream(dev_t device, ino_t inode, const char* journalStream) {
    if (journalStream == nullptr) return false;
    const std::string_view text(journalStream);
    const auto colon = text.find(':');
    if (colon == std::string_view::npos) return false;
    unsigned long long dev = 0, ino = 0;
    const char* end = text.data() + text.size();
    const auto [devEnd, devError] = std::from_chars(text.data(), text.data() + colon, dev);
    const auto [inoEnd, inoError] = std::from_chars(text.data() + colon + 1, end, ino);
    if (devError != std::errc{} || devEnd != text.data() + colon || inoError != std::errc{} ||
        inoEnd != end)
        return false;
    return dev == static_cast<unsigned long long>(device) &&
           ino == static_cast<unsigned long long>(inode);
}

bool StandardErrorIsJournal() {
    struct stat st {};
    // A stream handed on to a child, or redirected, is no longer the journal's.
    if (::fstat(STDERR_FILENO, &st) != 0) return false;
    return IsJournalStream(st.st_dev, st.st_ino, std::getenv("JOURNAL_STREAM"));
}

bool SendJournalEntry(int priority, const std::string& message,
                      const std::vector<JournalField>& fields) {
    std::vector<std::string> items;
    items.reserve(fields.size() + 3);
    items.push_back("MESSAGE=" + message);
    items.push_back("PRIORITY=" + std::to_string(priority));
    items.push_back("SYSLOG_IDENTIFIER=raidctl");
    for (const JournalField& f : fields) items.push_back(f.name + "=" + f.value);
    std::vector<iovec> vectors;
    vectors.reserve(items.size());
    for (std::string& item : items) vectors.push_back({item.data(), item.size()});
    // Values with line feeds (an event's details) go in the protocol's
    // binary form; entries past a datagram's size as a sealed memfd.
    return sd_journal_sendv(vectors.data(), static_cast<int>(vectors.size())) == 0;
}

}  // namespace raid::platform
