#pragma once
// What a mail server sent may hold any byte. Before such text goes to a
// terminal or the journal, its control characters become visible escapes,
// so that a reply can neither move the cursor nor forge a log line.
#include <string>
#include <string_view>

namespace raid::mail {

// `text` with every C0 control character, DEL and UTF-8 encoded C1 control
// written as \xNN (one escape per byte); all else unchanged.
std::string EscapeControlCharacters(std::string_view text);

}  // namespace raid::mail
