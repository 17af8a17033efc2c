#pragma once
// The machine-wide settings file: one registry key in the registry editor's
// export format. It stands in for the registry key of the Windows program;
// the e-mail settings are its only user.
//
// Not thread-safe: one owner (the main window, or a headless tool) reads and
// writes it from one thread.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mail/reg_file.h"
#include "platform/small_file.h"

namespace raid::mail {

// An administrator's settings file: read while the machine's own file does
// not exist yet, never written.
inline constexpr char kAdminSettingsPath[] = "/etc/TAVI_RAID_GUI/settings.reg";
// The machine's settings file, which the programs write: settings.reg in the
// service's state folder ($STATE_DIRECTORY, else /var/lib/raid-monitor).
std::filesystem::path DefaultSettingsFile();
inline constexpr char kSettingsKeyPath[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\TAVI_RAID_GUI";

// The settings file holds secrets (the scrambled SMTP password).
inline constexpr mode_t kSettingsFileMode = 0600;

class SettingsStore {
public:
    // The machine's file (DefaultSettingsFile()) starts from the
    // administrator's file while it does not exist; any other file stands
    // alone.
    explicit SettingsStore(std::filesystem::path file = DefaultSettingsFile());
    // `file`, starting from `adminFile` while it does not exist.
    SettingsStore(std::filesystem::path file, std::filesystem::path adminFile);

    const std::filesystem::path& file() const { return file_; }
    // The folder of the settings file.
    std::filesystem::path folder() const;

    // Reads the file again. A missing file means no key. A file that cannot
    // be read or does not parse is left untouched and counts as no key; the
    // returned text says why, once: the same problem is not told again until
    // the file has been read without one.
    std::optional<std::string> Reload();

    // The key was in the file at the last Reload or has been written since.
    bool KeyExists() const;

    // The key has a value of that name (of any type).
    bool HasValue(std::string_view name) const;

    // A value of the key; nullopt when it is missing or of another type.
    std::optional<std::string> ReadString(std::string_view name) const;
    std::optional<std::uint32_t> ReadDword(std::string_view name) const;
    std::optional<std::vector<std::uint8_t>> ReadBinary(std::string_view name) const;

    // Reads the file afresh (so that values written meanwhile by another
    // program stay), applies `edit` to the key (created when missing) and
    // replaces the file atomically with mode 0600 (its folder made 0700 when
    // missing). A file that did not parse is first kept beside as
    // "<name>.damaged" (mode 0600 too); so is a damaged administrator's file,
    // beside the machine's file rather than in /etc. A symbolic
    // link at the file's name, its folder or the copy's name is refused, not
    // followed. On failure returns false with `error` (the file and the
    // reason); neither the file nor what this store holds has changed.
    bool Update(const std::function<void(RegKey&)>& edit, std::string& error);

    // Makes a step of the next writes fail (tests).
    void setWriteFault(platform::WriteFault fault) { fault_ = std::move(fault); }

private:
    enum class ReadResult { Parsed, Missing, Failed };
    // Reads the file, or the administrator's file while the file is
    // missing; `from` says which was read.
    ReadResult ReadDocument(RegDocument& doc, std::string& problem,
                            std::filesystem::path& from) const;
    const RegKey* Key() const;

    std::filesystem::path file_;
    std::filesystem::path seed_;  // the administrator's file; empty: none
    RegDocument document_;
    std::string lastProblem_;  // the problem last told, until a clean read
    platform::WriteFault fault_;
};

}  // namespace raid::mail
