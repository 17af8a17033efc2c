#pragma once
// Small files read whole, and written so that readers see either the old or
// the new content whole: a temporary file in the same folder, fsync, rename,
// fsync of the folder. A crash or a full disk leaves the old file as it was.
//
// The service writes as root into folders others may reach, so no symbolic
// link is followed: neither one at the file's own name nor the folder the
// file goes into, if that is a link (such a write is refused and the error
// says so). Folders further up are taken as they are, as only their owners
// can change them.
#include <sys/stat.h>
#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace raid::platform {

// The steps of a write, for tests that make one fail.
enum class WriteStep { CreateTemporary, WriteData, SyncData, Rename, SyncFolder };

// Returns the errno that `step` fails with, or 0 to let it run.
using WriteFault = std::function<int(WriteStep)>;

// What a write may do besides replacing the file. Settings make their own
// folders and count the write as done once renamed; a copy that must be on
// disk before something else is changed (a flash backup) wants neither.
struct WriteRules {
    bool makeFolders = true;
    bool folderSyncRequired = false;
};

// Replaces `path` by `bytes`, the file getting `mode`. Missing folders on
// the way are created with mode 0700 when `rules.makeFolders`. On failure
// returns false with `error` ("Cannot write <what> <path>: <reason>"); the
// temporary file is removed and `path` is untouched, except when only the
// folder's fsync failed (`rules.folderSyncRequired`): `path` then holds
// `bytes` but may not survive a crash. `written`, when given, receives the
// new file's status.
bool WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes, mode_t mode,
                         std::string_view what, const WriteFault& fault, std::string& error,
                         const WriteRules& rules = {}, struct stat* written = nullptr);

// Why WriteFileAtomically would refuse `path` for a symbolic link, in its
// words; nullopt when neither the name nor its folder is one.
std::optional<std::string> SymbolicLinkRefusal(const std::filesystem::path& path,
                                               std::string_view what);

// Reads a whole regular file of at most `maxBytes` into `bytes`. Returns 0,
// ENOENT when there is none, or the errno of the failure (EFBIG when larger,
// EINVAL when no regular file).
int ReadSmallFile(const std::filesystem::path& path, std::size_t maxBytes, std::string& bytes);

// "<what> <path>: <reason of errno>".
std::string FileErrorText(std::string_view what, const std::filesystem::path& path, int err);

}  // namespace raid::platform
