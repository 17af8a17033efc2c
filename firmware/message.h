#pragma once
// A modal message as the firmware and image-builder operations ask for it:
// the window shows it as a message box with an OK button, headless tools
// print it. The texts and captions are the program's own.
#include <cstdint>
#include <string>

namespace raid::firmware {

// The numbers are the Job interface's Step signal's (docs/dbus-interface.md).
enum class MessageIcon : std::uint32_t { None = 0, Error = 1, Exclamation = 2 };

struct Message {
    std::string text;
    std::string caption;  // may be empty: a box without caption text
    MessageIcon icon = MessageIcon::None;

    bool operator==(const Message&) const = default;
};

}  // namespace raid::firmware
