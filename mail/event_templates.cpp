#include "mail/event_templates.h"

#include <cerrno>
#include <cstdio>

#include "mail/unicode_text.h"
#include "platform/small_file.h"

namespace raid::mail {
namespace {

// Templates are no secret, but they live in the settings folder (0700).
constexpr mode_t kTemplateFileMode = 0644;

std::filesystem::path TemplateFile(const std::filesystem::path& folder, const char* prefix,
                                   int kind) {
    return folder / (std::string(prefix) + EventKindCaption(kind) + ".txt");
}

}  // namespace

std::string EventKindCaption(int kind) {
    switch (kind) {
        case 1:
            return "Hard Disks Fail";
        case 2:
            return "Device Removed";
        case 3:
            return "Over Heat";
        case 4:
            return "Fan Fail";
        default:
            return {};
    }
}

std::filesystem::path SubjectFile(const std::filesystem::path& folder, int kind) {
    return TemplateFile(folder, "EmailSubject ", kind);
}

std::filesystem::path BodyFile(const std::filesystem::path& folder, int kind) {
    return TemplateFile(folder, "EmailContens ", kind);
}

std::vector<std::string> ReadTemplateFile(const std::filesystem::path& path) {
    std::string bytes;
    if (platform::ReadSmallFile(path, kMaxTemplateBytes, bytes) != 0) return {};
    return TemplateLines(bytes);
}

std::vector<std::string> TemplateLines(std::string_view bytes) {
    const std::string text = TextAsUtf8(bytes);
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        const bool last = end == std::string::npos;
        if (last) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

bool WriteTemplateFile(const std::filesystem::path& path, const std::vector<std::string>& lines,
                       std::string& error) {
    std::string bytes;
    for (const std::string& line : lines) bytes += line + "\r\n";
    return platform::WriteFileAtomically(path, bytes, kTemplateFileMode, "template file", {},
                                         error);
}

bool RemoveTemplateFile(const std::filesystem::path& path, std::string& error) {
    if (::remove(path.c_str()) == 0 || errno == ENOENT) return true;
    error = platform::FileErrorText("Cannot delete template file", path, errno);
    return false;
}

}  // namespace raid::mail
