#pragma once
// The journal's native socket, bound by a test: a program under test sends
// its entries here as it would to journald, and the test reads them as
// journald does (datagrams of "KEY=value" lines and binary fields, entries
// too large for a datagram as a sealed memfd). A socket already there (a
// running journald's) is moved aside meanwhile and put back after. Needs
// root; tests that use it take turns.
#include <map>
#include <string>
#include <vector>

namespace raid::test_support {

class JournalSocket {
public:
    using Entry = std::map<std::string, std::string>;

    JournalSocket();
    ~JournalSocket();
    JournalSocket(const JournalSocket&) = delete;
    JournalSocket& operator=(const JournalSocket&) = delete;

    // Empty once bound; else why not.
    const std::string& Error() const { return error_; }
    // Every entry received so far, in order.
    const std::vector<Entry>& Entries();

    // The parse of one datagram or memfd; false when it is not the
    // journal's native format.
    static bool Parse(const std::string& payload, Entry& entry);

private:
    int fd_ = -1;
    bool movedAside_ = false;
    std::string error_;
    std::vector<Entry> entries_;
};

}  // namespace raid::test_support
