#pragma once
// How discovery's device work tells the user something without knowing about
// windows. Both calls may come from the detection thread: the window hands
// them over to its own thread. Empty functions mean "tell nobody".
#include <functional>
#include <string>

namespace raid::discovery {

struct Notices {
    // A message box with OK button; `caption` may be empty (no caption text).
    std::function<void(const std::string& text, const std::string& caption)> message;
    // Status bar panel 4, the last-result line.
    std::function<void(const std::string& text)> statusText;

    void Message(const std::string& text, const std::string& caption) const {
        if (message) message(text, caption);
    }
    void Status(const std::string& text) const {
        if (statusText) statusText(text);
    }
};

}  // namespace raid::discovery
