#pragma once
// Reading raidctl's one-line JSON in the end-to-end tests.
#include <optional>
#include <string>

namespace raid::test_support {

// The text after "key": in a one-line JSON object, up to the next ',' or '}',
// without quotes.
inline std::optional<std::string> JsonField(const std::string& json, const std::string& key) {
    const std::string tag = "\"" + key + "\":";
    const auto at = json.find(tag);
    if (at == std::string::npos) return std::nullopt;
    const auto from = at + tag.size();
    const auto to = json.find_first_of(",}", from);
    std::string value = json.substr(from, to == std::string::npos ? std::string::npos : to - from);
    if (value.size() >= 2 && value.front() == '"') value = value.substr(1, value.size() - 2);
    return value;
}

}  // namespace raid::test_support
