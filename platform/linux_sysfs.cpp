#include "platform/linux_sysfs.h"

#include <sys/stat.h>

#include <charconv>
#include <fstream>

namespace raid::platform {

std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t maxBytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text(maxBytes, '\0');
    in.read(text.data(), static_cast<std::streamsize>(maxBytes));
    if (in.bad()) return std::nullopt;
    text.resize(static_cast<std::size_t>(in.gcount()));
    return text;
}

std::optional<std::string> ReadAttribute(const std::string& path, std::size_t maxBytes) {
    auto text = ReadWholeFile(path, maxBytes);
    if (!text) return std::nullopt;
    while (!text->empty()) {
        const char c = text->back();
        if (c != '\n' && c != '\r' && c != ' ' && c != '\t' && c != '\0') break;
        text->pop_back();
    }
    return text;
}

std::optional<std::uint64_t> ParseUnsigned(std::string_view text) {
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

bool PathExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::string DecodeMountField(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        const auto isOctal = [&](std::size_t k) {
            return k < field.size() && field[k] >= '0' && field[k] <= '7';
        };
        if (field[i] == '\\' && isOctal(i + 1) && isOctal(i + 2) && isOctal(i + 3)) {
            const int value =
                (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
            if (value <= 0xFF) {
                out.push_back(static_cast<char>(value));
                i += 3;
                continue;
            }
        }
        out.push_back(field[i]);
    }
    return out;
}

std::vector<MountEntry> ParseMounts(std::string_view text) {
    std::vector<MountEntry> entries;
    while (!text.empty()) {
        const std::size_t eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);

        std::string_view fields[2];
        std::size_t found = 0;
        std::size_t pos = 0;
        while (found < 2 && pos < line.size()) {
            while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
            const std::size_t start = pos;
            while (pos < line.size() && line[pos] != ' ' && line[pos] != '\t') ++pos;
            if (pos > start) fields[found++] = line.substr(start, pos - start);
        }
        if (found < 2) continue;
        entries.push_back({DecodeMountField(fields[0]), DecodeMountField(fields[1])});
    }
    return entries;
}

}  // namespace raid::platform
