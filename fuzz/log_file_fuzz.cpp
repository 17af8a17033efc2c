// A day's log file may be damaged or not a log at all: any bytes become
// lines, however the reads cut them, and lines read back as written.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "eventlog/log_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace raid::eventlog;
    if (size == 0) return 0;
    // The first byte chooses the read size, as short reads cut the file.
    const std::size_t piece = data[0] + 1u;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    LogLineSplitter whole;
    whole.Feed(bytes);
    const auto lines = whole.Finish();
    LogLineSplitter pieces;
    for (std::size_t pos = 0; pos < bytes.size(); pos += piece)
        pieces.Feed(bytes.substr(pos, piece));
    if (pieces.Finish() != lines) std::abort();

    // Written back and read again, lines without CR or LF are unchanged.
    LogLineSplitter again;
    again.Feed(SerializeLines(lines));
    const auto reread = again.Finish();
    if (reread.size() != lines.size()) std::abort();
    for (std::size_t k = 0; k < lines.size(); ++k)
        if (lines[k].find('\r') == std::string::npos && reread[k] != lines[k]) std::abort();
    return 0;
}
