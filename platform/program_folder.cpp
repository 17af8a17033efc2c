#include "platform/program_folder.h"

#include <cstdlib>
#include <string_view>
#include <system_error>

#ifndef RAID_INSTALLED_BINDIR
#define RAID_INSTALLED_BINDIR "/usr/local/bin"
#endif
#ifndef RAID_INSTALLED_LOGDIR
#define RAID_INSTALLED_LOGDIR "/var/log/TAVI_RAID_GUI"
#endif

namespace raid::platform {

std::filesystem::path ExecutableFolder() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || exe.empty()) return {};
    return exe.parent_path();
}

std::filesystem::path ServiceFolder(const char* variable, const std::filesystem::path& fallback) {
    const char* value = std::getenv(variable);
    if (value == nullptr) return fallback;
    const std::string_view all(value);
    const std::string_view first = all.substr(0, all.find(':'));
    // Only an absolute path: a relative one would follow the working folder.
    if (first.empty() || first.front() != '/') return fallback;
    return std::filesystem::path(first);
}

std::filesystem::path InstalledBinFolder() { return RAID_INSTALLED_BINDIR; }
std::filesystem::path InstalledLogFolder() { return RAID_INSTALLED_LOGDIR; }

std::filesystem::path ProgramDataFolder(const std::filesystem::path& executableFolder) {
    if (executableFolder.empty()) return {};
    std::error_code ec;
    // Compared as the file system sees them, so that /usr/bin reached
    // through a /bin link still counts as installed.
    if (std::filesystem::equivalent(executableFolder, InstalledBinFolder(), ec) && !ec)
        return InstalledLogFolder();
    return executableFolder;
}

}  // namespace raid::platform
