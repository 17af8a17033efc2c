#include "platform/device_event_filter.h"

#include <charconv>

namespace raid::platform {
namespace {

std::optional<bool> MediaOf(const std::optional<std::string>& sizeText) {
    if (!sizeText) return std::nullopt;
    std::uint64_t size = 0;
    const char* first = sizeText->data();
    const char* last = first + sizeText->size();
    while (last > first && (last[-1] == '\n' || last[-1] == ' ')) --last;
    const auto [ptr, ec] = std::from_chars(first, last, size);
    if (ec != std::errc() || ptr != last) return std::nullopt;
    return size != 0;
}

}  // namespace

void DeviceEventFilter::Seed(const std::string& sysname,
                             const std::optional<std::string>& sizeText) {
    if (const auto media = MediaOf(sizeText)) hasMedia_[sysname] = *media;
}

bool DeviceEventFilter::Counts(const std::string& action, const std::string& subsystem,
                               const std::string& sysname,
                               const std::optional<std::string>& sizeText) {
    if (action == "add" || action == "remove") {
        if (subsystem == "block") {
            if (action == "remove") {
                hasMedia_.erase(sysname);
            } else if (const auto media = MediaOf(sizeText)) {
                hasMedia_[sysname] = *media;
            }
        }
        return true;
    }
    if (action != "change" || subsystem != "block") return false;
    const auto media = MediaOf(sizeText);
    if (!media) return false;
    const auto known = hasMedia_.find(sysname);
    const bool before = known != hasMedia_.end() && known->second;
    hasMedia_[sysname] = *media;
    return before != *media;
}

}  // namespace raid::platform
