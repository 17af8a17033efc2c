#pragma once
// A modal message as the firmware and image-builder operations ask for it:
// the window shows it as a message box with an OK button, headless tools
// print it. The texts and captions are the program's own.
#include <string>

namespace raid::firmware {

enum class MessageIcon { None, Error, Exclamation };

struct Message {
    std::string text;
    std::string caption;  // may be empty: a box without caption text
    MessageIcon icon = MessageIcon::None;

    bool operator==(const Message&) const = default;
};

}  // namespace raid::firmware
