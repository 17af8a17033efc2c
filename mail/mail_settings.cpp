#include "mail/mail_settings.h"

#include <algorithm>
#include <cstdio>

#include "mail/mail_event.h"

namespace raid::mail {
namespace {

constexpr std::size_t kKeyByte = 16;
constexpr char kRequireTlsValue[] = "RequireTLS";
constexpr std::size_t kCheckByte = 17;

std::string RecipientValueName(std::size_t n) {
    char name[32];
    std::snprintf(name, sizeof name, "ToAddr_%02zX", n);
    return name;
}

// Where the templates are: the stored folder when it is a folder of this
// system, else (missing, or a Windows path from a copied key) the settings
// file's folder.
std::string TemplateFolder(const SettingsStore& store, const std::optional<std::string>& stored) {
    std::string folder;
    if (stored && !stored->empty() && stored->front() == '/') {
        folder = *stored;
    } else {
        std::error_code ec;
        const std::filesystem::path absolute = std::filesystem::absolute(store.folder(), ec);
        folder = (ec ? store.folder() : absolute).lexically_normal().string();
    }
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

void ForgetSettings(const SettingsStore& store, MailSettingsState& state) {
    state.keyExists = false;
    state.loaded = false;
    state.settings = MailSettings{};
    state.recipients.clear();
    state.recipientCount = 0;
    state.suppressMask = 0;
    state.authState = kAuthOff;
    state.templateFolder = TemplateFolder(store, std::nullopt);
    state.templates = {};
}

// The password record a save writes into `record`, none when the stored one
// stays as it is. The page shows the stored password only as text, which
// cannot carry every byte (nor an unreadable record): unless the password was
// typed, the stored bytes are kept, and a changed switch only turns the check
// byte's low bit. An unreadable record cannot carry the switch: the problem
// is returned.
std::optional<std::string> RecordToStore(const MailSettingsState& state,
                                         const MailPageFields& fields,
                                         std::optional<PasswordRecord>& record) {
    const bool typed = (state.pageChangedBits & changed::kPassword) != 0;
    if (typed || !state.keyExists) {
        record = EncodePasswordRecord(fields.settings.password, fields.authentication,
                                      state.passwordRecord[kKeyByte]);
    } else if (fields.authentication != state.Authenticates()) {
        if (state.authState == kAuthInvalid) {
            return "The stored password cannot be read; type the password again to turn on "
                   "\"SMTP Login Authentication\".";
        }
        record = state.passwordRecord;
        (*record)[kCheckByte] ^= 1;
    }
    return std::nullopt;
}

void FinishLoad(MailSettingsState& state, ShellFlags& flags) {
    flags.mailRequestFlags.fetch_and(static_cast<std::uint8_t>(~kRequestReload));
    state.pageChangedBits = 0;
}

}  // namespace

const char* SecurityName(Security security) {
    switch (security) {
        case Security::StartTls:
            return "STARTTLS";
        case Security::Tls:
            return "SSL/TLS";
        case Security::None:
            break;
    }
    return "None";
}

Security ParseSecurity(std::string_view name) {
    if (name == "STARTTLS") return Security::StartTls;
    if (name == "SSL/TLS") return Security::Tls;
    return Security::None;
}

std::optional<std::string> CheckMailSettingsAtStartup(SettingsStore& store,
                                                      MailSettingsState& state, ShellFlags& flags) {
    std::optional<std::string> problem = store.Reload();
    state.keyExists = store.KeyExists();
    if (!state.keyExists) {
        state.templateFolder = TemplateFolder(store, std::nullopt);
        return problem;
    }
    const bool fillAccount = !store.HasValue("UserID");
    const bool fillSuppress = !store.HasValue("EMailSend");
    if (fillAccount || fillSuppress) {
        const std::string address = store.ReadString("Addr").value_or(std::string());
        const std::string account = address.substr(0, address.find('@'));
        std::string error;
        const bool written = store.Update(
            [&](RegKey& key) {
                if (fillAccount) key.Set(RegValue::String("UserID", account));
                if (fillSuppress) key.Set(RegValue::Dword("EMailSend", 0));
            },
            error);
        if (!written) problem = error;
    }
    state.suppressMask = 0;
    flags.mailRequestFlags.fetch_or(kRequestReload);
    return problem;
}

std::optional<std::string> LoadMailSettings(SettingsStore& store, MailSettingsState& state,
                                            ShellFlags& flags, const platform::PumpHook& pump) {
    const std::optional<std::string> problem = store.Reload();
    if (!store.KeyExists()) {
        ForgetSettings(store, state);
        FinishLoad(state, flags);
        return problem;
    }
    state.keyExists = true;
    const auto text = [&](const char* name) { return store.ReadString(name).value_or(""); };
    const std::uint32_t count =
        std::min<std::uint32_t>(store.ReadDword("ToAddrCount").value_or(0), kMaxRecipients);
    state.suppressMask = store.ReadDword("EMailSend").value_or(0);
    state.templateFolder = TemplateFolder(store, store.ReadString("FilePath"));

    MailSettings& s = state.settings;
    s.port = text("Port");
    s.host = text("SMTP");
    s.senderName = text("UserName");
    s.senderAddress = text("Addr");
    s.timeOut = text("TimeOut");
    s.security = ParseSecurity(text("Security"));
    s.requireTls = store.ReadDword(kRequireTlsValue).value_or(0) != 0;
    // A missing record leaves the bytes held in memory to be decoded.
    if (const auto bytes = store.ReadBinary("ProductID")) {
        std::copy_n(bytes->begin(), std::min(bytes->size(), state.passwordRecord.size()),
                    state.passwordRecord.begin());
    }
    const DecodedPassword decoded = DecodePasswordRecord(state.passwordRecord);
    s.password = decoded.password;
    state.authState = decoded.authState;
    s.account = text("UserID");

    state.recipientCount = count;
    state.recipients.clear();
    for (std::size_t n = 0; n < count; ++n)
        state.recipients.push_back(text(RecipientValueName(n).c_str()));

    for (int kind = 1; kind <= kEventKinds; ++kind) {
        if (pump) pump();
        EventTemplate& t = state.templates[static_cast<std::size_t>(kind)];
        t.subject = ReadTemplateFile(SubjectFile(state.templateFolder, kind));
        t.body = ReadTemplateFile(BodyFile(state.templateFolder, kind));
    }
    state.loaded = true;
    FinishLoad(state, flags);
    return problem;
}

std::optional<std::string> SaveMailSettings(SettingsStore& store, MailSettingsState& state,
                                            ShellFlags& flags, MailPageFields& fields) {
    MailSettings& f = fields.settings;
    if (f.port.empty()) {
        f.port = f.security == Security::Tls ? "465" : "25";
        state.pageChangedBits |= changed::kPort;
    }
    if (f.timeOut.empty()) {
        f.timeOut = "0";
        state.pageChangedBits |= changed::kTimeOut;
    }
    const bool existed = state.keyExists;
    std::uint16_t bits = state.pageChangedBits;
    const std::uint32_t mask =
        (fields.suppressDiskFail ? 1u : 0u) | (fields.suppressDeviceRemoved ? 2u : 0u);
    std::optional<PasswordRecord> record;
    if (auto problem = RecordToStore(state, fields, record)) return problem;
    if (fields.authentication != state.Authenticates()) bits |= changed::kPassword;
    const bool newRecipients = fields.addresses != state.recipients;
    if (newRecipients) bits |= changed::kRecipients;
    const bool typed = (state.pageChangedBits & changed::kPassword) != 0;
    bool dropped = false;

    // The templates go beside the file written: a key read from an
    // administrator's file may name a folder this program never writes.
    const std::string folder = TemplateFolder(store, std::nullopt);
    std::string error;
    const bool written = store.Update(
        [&](RegKey& key) {
            const auto put = [&](std::uint16_t bit, const char* name, const std::string& value) {
                if (!existed || (bits & bit) != 0) key.Set(RegValue::String(name, value));
            };
            // Against the file as it is now, before the new values go in.
            const auto moved = [&](std::uint16_t bit, const char* name, const std::string& value) {
                const RegValue* stored = key.Find(name);
                return existed && (bits & bit) != 0 &&
                       (stored == nullptr || stored->type != RegType::String ||
                        stored->text != value);
            };
            // A password was given for one server and account: it must not
            // go to another one that it was never typed for.
            dropped = !typed && (moved(changed::kHost, "SMTP", f.host) ||
                                 moved(changed::kAccount, "UserID", f.account));
            put(changed::kPort, "Port", f.port);
            put(changed::kHost, "SMTP", f.host);
            put(changed::kSenderName, "UserName", f.senderName);
            put(changed::kSenderAddress, "Addr", f.senderAddress);
            put(changed::kTimeOut, "TimeOut", f.timeOut);
            put(changed::kAccount, "UserID", f.account);
            put(changed::kSecurity, "Security", SecurityName(f.security));
            // Older files lack it; a missing value reads as off.
            if (!existed || (bits & changed::kRequireTls) != 0) {
                key.Set(RegValue::Dword(kRequireTlsValue, f.requireTls ? 1 : 0));
            }
            key.Set(RegValue::Dword("EMailSend", mask));
            if (dropped) {
                record =
                    EncodePasswordRecord("", fields.authentication, state.passwordRecord[kKeyByte]);
            }
            if (record) key.Set(RegValue::Binary("ProductID", {record->begin(), record->end()}));
            // Values beyond a shorter list stay in the key; the count hides them.
            if (newRecipients || !existed) {
                key.Set(RegValue::Dword("ToAddrCount",
                                        static_cast<std::uint32_t>(fields.addresses.size())));
            }
            if (newRecipients) {
                for (std::size_t n = 0; n < fields.addresses.size(); ++n) {
                    key.Set(RegValue::String(RecipientValueName(n), fields.addresses[n]));
                }
            }
            key.Set(RegValue::String("FilePath", folder));
        },
        error);
    if (!written) return error;
    if (dropped) f.password.clear();
    state.templateFolder = folder;
    state.pageChangedBits = bits;
    state.suppressMask = mask;
    state.keyExists = true;
    state.loaded = false;
    flags.mailRequestFlags.fetch_or(kRequestReload);

    // The settings file is written; a template that fails is told, and OK
    // writes every template again.
    for (int kind = 1; kind <= 2; ++kind) {
        const EventTemplate& page = fields.events[static_cast<std::size_t>(kind - 1)];
        const std::string subject = page.subject.empty() ? std::string() : page.subject.front();
        const auto subjectFile = SubjectFile(state.templateFolder, kind);
        const auto bodyFile = BodyFile(state.templateFolder, kind);
        bool ok = true;
        if (!subject.empty()) {
            state.templates[static_cast<std::size_t>(kind)].subject = {subject};
            ok = WriteTemplateFile(subjectFile, {subject}, error);
        } else {
            ok = RemoveTemplateFile(subjectFile, error);
        }
        ok = ok && (page.body.empty() ? RemoveTemplateFile(bodyFile, error)
                                      : WriteTemplateFile(bodyFile, page.body, error));
        if (!ok) return error;
    }
    return std::nullopt;
}

}  // namespace raid::mail
