#pragma once
// The subject and body templates of the four notification kinds: small text
// files in the template folder, one list entry a line, written with CR LF
// and read with either line end.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace raid::mail {

inline constexpr int kEventKinds = 4;

// Template files larger than this are not templates and read as empty.
inline constexpr std::size_t kMaxTemplateBytes = 256 * 1024;

struct EventTemplate {
    std::vector<std::string> subject;  // only the first line is mailed
    std::vector<std::string> body;
};

// "Hard Disks Fail", "Device Removed", "Over Heat", "Fan Fail" for kinds
// 1..4; empty for any other kind.
std::string EventKindCaption(int kind);

// <folder>"EmailSubject <caption>.txt" and <folder>"EmailContens <caption>.txt".
std::filesystem::path SubjectFile(const std::filesystem::path& folder, int kind);
std::filesystem::path BodyFile(const std::filesystem::path& folder, int kind);

// The lines of a template file, as UTF-8 (a file in a Windows code page is
// read as Latin-1). A missing, unreadable or oversized file, or a folder or
// FIFO in its place, yields no lines.
std::vector<std::string> ReadTemplateFile(const std::filesystem::path& path);

// The lines of a template file's bytes, as ReadTemplateFile gives them.
std::vector<std::string> TemplateLines(std::string_view bytes);

// Writes the lines, each ended by CR LF, replacing the file atomically.
// False with `error` on failure.
bool WriteTemplateFile(const std::filesystem::path& path, const std::vector<std::string>& lines,
                       std::string& error);

// Removes the file if there is one. False with `error` when it stays.
bool RemoveTemplateFile(const std::filesystem::path& path, std::string& error);

}  // namespace raid::mail
