#pragma once
// Where a copy of the programs keeps its day logs and dumps. A copy run from
// its build folder keeps them beside itself; an installed copy's folder is
// not writable, so it uses the log folder of the build setting. Both
// programs of one machine thus share one log.
#include <filesystem>

namespace raid::platform {

// The folder of the running executable; empty when it cannot be found.
std::filesystem::path ExecutableFolder();

// `executableFolder` itself, unless it is the installed bin folder (the
// build setting): then the installed log folder.
std::filesystem::path ProgramDataFolder(const std::filesystem::path& executableFolder);

// The first folder a systemd directory variable names ($LOGS_DIRECTORY,
// $STATE_DIRECTORY, $RUNTIME_DIRECTORY: absolute paths separated by ':'),
// else `fallback`: the same folder under /var or /run when run without
// systemd.
std::filesystem::path ServiceFolder(const char* variable, const std::filesystem::path& fallback);

// The service's state (its e-mail settings) without systemd.
inline constexpr char kStateFolder[] = "/var/lib/raid-monitor";

// The build settings, for --help texts and tests.
std::filesystem::path InstalledBinFolder();
std::filesystem::path InstalledLogFolder();

}  // namespace raid::platform
