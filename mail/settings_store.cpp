#include "mail/settings_store.h"

#include <sys/stat.h>

#include <cerrno>
#include <span>

#include "platform/program_folder.h"

namespace raid::mail {
namespace {

const char* const kWhat = "settings file";
// A damaged file is kept beside up to this size; anything larger is no
// settings export and is not written over either.
constexpr std::size_t kMaxKeptCopyBytes = 64 * 1024 * 1024;

}  // namespace

std::filesystem::path DefaultSettingsFile() {
    return platform::ServiceFolder("STATE_DIRECTORY", platform::kStateFolder) / "settings.reg";
}

SettingsStore::SettingsStore(std::filesystem::path file) : file_(std::move(file)) {
    if (file_ == DefaultSettingsFile()) seed_ = kAdminSettingsPath;
}

SettingsStore::SettingsStore(std::filesystem::path file, std::filesystem::path adminFile)
    : file_(std::move(file)), seed_(std::move(adminFile)) {}

std::filesystem::path SettingsStore::folder() const {
    return file_.has_parent_path() ? file_.parent_path() : std::filesystem::path(".");
}

SettingsStore::ReadResult SettingsStore::ReadDocument(RegDocument& doc, std::string& problem,
                                                      std::filesystem::path& from) const {
    std::string bytes;
    from = file_;
    int err = platform::ReadSmallFile(from, kMaxRegFileBytes, bytes);
    if (err == ENOENT && !seed_.empty()) {
        from = seed_;
        err = platform::ReadSmallFile(from, kMaxRegFileBytes, bytes);
    }
    if (err == ENOENT) return ReadResult::Missing;
    if (err != 0) {
        problem = platform::FileErrorText("Cannot read settings file", from, err);
        return ReadResult::Failed;
    }
    std::string reason;
    auto parsed = ParseRegText(
        std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), reason);
    if (!parsed) {
        problem = "The settings file " + from.string() + " is damaged (" + reason +
                  "); it is left as it is and no settings are used.";
        return ReadResult::Failed;
    }
    doc = std::move(*parsed);
    return ReadResult::Parsed;
}

std::optional<std::string> SettingsStore::Reload() {
    RegDocument doc;
    std::string problem;
    std::filesystem::path from;
    const ReadResult result = ReadDocument(doc, problem, from);
    document_ = std::move(doc);
    if (result != ReadResult::Failed) {
        lastProblem_.clear();
        return std::nullopt;
    }
    if (problem == lastProblem_) return std::nullopt;
    lastProblem_ = problem;
    return problem;
}

const RegKey* SettingsStore::Key() const { return document_.FindKey(kSettingsKeyPath); }

bool SettingsStore::KeyExists() const { return Key() != nullptr; }

bool SettingsStore::HasValue(std::string_view name) const {
    const RegKey* key = Key();
    return key != nullptr && key->Find(name) != nullptr;
}

std::optional<std::string> SettingsStore::ReadString(std::string_view name) const {
    const RegKey* key = Key();
    const RegValue* v = key ? key->Find(name) : nullptr;
    if (v == nullptr || v->type != RegType::String) return std::nullopt;
    return v->text;
}

std::optional<std::uint32_t> SettingsStore::ReadDword(std::string_view name) const {
    const RegKey* key = Key();
    const RegValue* v = key ? key->Find(name) : nullptr;
    if (v == nullptr || v->type != RegType::Dword) return std::nullopt;
    return v->number;
}

std::optional<std::vector<std::uint8_t>> SettingsStore::ReadBinary(std::string_view name) const {
    const RegKey* key = Key();
    const RegValue* v = key ? key->Find(name) : nullptr;
    if (v == nullptr || v->type != RegType::Binary) return std::nullopt;
    return v->bytes;
}

bool SettingsStore::Update(const std::function<void(RegKey&)>& edit, std::string& error) {
    // Refused before anything is read through the link or kept beside.
    if (auto refusal = platform::SymbolicLinkRefusal(file_, kWhat)) {
        error = std::move(*refusal);
        return false;
    }
    // Made as the service's StateDirectory= would be, for a machine
    // without systemd; the parent must exist.
    if (::mkdir(folder().c_str(), 0700) != 0 && errno != EEXIST) {
        error =
            platform::FileErrorText("Cannot make the folder of the settings file", folder(), errno);
        return false;
    }
    RegDocument doc;
    std::string problem;
    std::filesystem::path from;
    const ReadResult result = ReadDocument(doc, problem, from);
    if (result == ReadResult::Failed) {
        // Whatever made it unreadable, the old file is kept for its owner.
        std::filesystem::path aside = file_;
        aside += ".damaged";
        std::string bytes;
        const int err = platform::ReadSmallFile(from, kMaxKeptCopyBytes, bytes);
        if (err != 0) {
            error = platform::FileErrorText(
                "Cannot keep a copy of the settings file " + from.string() + " as", aside, err);
            return false;
        }
        if (!platform::WriteFileAtomically(aside, bytes, kSettingsFileMode,
                                           "copy of the damaged settings file", fault_, error))
            return false;
        doc = RegDocument{};
    }
    edit(doc.AddKey(kSettingsKeyPath));
    if (!platform::WriteFileAtomically(file_, FormatRegText(doc), kSettingsFileMode, kWhat, fault_,
                                       error)) {
        return false;
    }
    document_ = std::move(doc);
    lastProblem_.clear();
    return true;
}

}  // namespace raid::mail
