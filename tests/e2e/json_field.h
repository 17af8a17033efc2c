#pragma once
// Reading raidctl's one-line JSON in the end-to-end tests.
#include <optional>
#include <string>
#include <vector>

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

// The objects of a flat JSON array of objects (no nested objects).
inline std::vector<std::string> JsonObjects(const std::string& json) {
    std::vector<std::string> objects;
    std::size_t at = 0;
    while ((at = json.find('{', at)) != std::string::npos) {
        const auto end = json.find('}', at);
        if (end == std::string::npos) break;
        objects.push_back(json.substr(at, end - at + 1));
        at = end + 1;
    }
    return objects;
}

// The first object of a flat JSON array whose `key` is `value`, empty when
// none is: other enclosures on the machine are listed too, so a test finds
// its own by its device path.
inline std::string JsonObjectWith(const std::string& json, const std::string& key,
                                  const std::string& value) {
    for (const std::string& object : JsonObjects(json))
        if (JsonField(object, key) == value) return object;
    return {};
}

// The number field `key` of that object; -1 when there is none.
inline int JsonNumberWith(const std::string& json, const std::string& key, const std::string& value,
                          const std::string& field) {
    const std::optional<std::string> number = JsonField(JsonObjectWith(json, key, value), field);
    return number ? std::stoi(*number) : -1;
}

}  // namespace raid::test_support
