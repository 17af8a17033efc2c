#include "client/mail_wire.h"

#include <QDBusArgument>
#include <QStringList>
#include <algorithm>

#include "mail/mail_settings.h"

namespace raid::client {
namespace {

// Longer texts are not settings anyone typed.
constexpr qsizetype kMaxText = 4096;

const char* const kSecurityNames[] = {"None", "STARTTLS", "SSL/TLS"};

// The two mailed kinds by their wire prefix, in kind order.
const char* const kEventKeys[] = {"DiskFail", "DeviceRemoved"};

QString Key(const char* prefix, const char* field) { return QString(prefix) + field; }

QStringList ListOf(const std::vector<std::string>& items) {
    QStringList list;
    for (const auto& item : items) list.push_back(QString::fromStdString(item));
    return list;
}

// The exact D-Bus type is required: a string where a switch belongs is
// refused, not converted.
bool Take(const QVariant& v, std::string& out) {
    if (v.metaType() != QMetaType::fromType<QString>()) return false;
    const QString text = v.toString();
    if (text.size() > kMaxText) return false;
    out = text.toStdString();
    return true;
}

bool Take(const QVariant& v, bool& out) {
    if (v.metaType() != QMetaType::fromType<bool>()) return false;
    out = v.toBool();
    return true;
}

bool Take(const QVariant& v, std::uint32_t& out) {
    if (v.metaType() != QMetaType::fromType<uint>()) return false;
    out = v.toUInt();
    return true;
}

// At most the page's recipients; an array of strings inside a variant may
// arrive as a QDBusArgument.
bool Take(const QVariant& v, std::vector<std::string>& out) {
    QStringList list;
    if (v.metaType() == QMetaType::fromType<QStringList>()) {
        list = v.toStringList();
    } else if (v.metaType() == QMetaType::fromType<QDBusArgument>()) {
        const auto arg = v.value<QDBusArgument>();
        if (arg.currentSignature() != "as") return false;
        arg >> list;
    } else {
        return false;
    }
    if (list.size() > static_cast<qsizetype>(mail::kMaxRecipients)) return false;
    out.clear();
    for (const QString& item : list) {
        if (item.size() > kMaxText) return false;
        out.push_back(item.toStdString());
    }
    return true;
}

bool IsSecurityName(const std::string& name) {
    return std::any_of(std::begin(kSecurityNames), std::end(kSecurityNames),
                       [&](const char* known) { return name == known; });
}

// Empty (the save's default) or a decimal number up to `max`.
bool IsNumberUpTo(const std::string& text, unsigned long max) {
    if (text.empty()) return true;
    if (text.size() > 5 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    return std::stoul(text) <= max;
}

// Reads the keys of `map` one by one: each must be known and of its type.
class Reader {
public:
    explicit Reader(const QVariantMap& map) : map_(map) {}

    template <typename T>
    bool Required(const QString& key, T& out) {
        const auto it = map_.constFind(key);
        ++used_;
        return it != map_.constEnd() && Take(*it, out);
    }

    // Absent is fine; present must fit. `why` names the first that does not.
    template <typename T>
    void Optional(const QString& key, std::optional<T>& out, const char* type) {
        const auto it = map_.constFind(key);
        if (it == map_.constEnd()) return;
        ++used_;
        T value{};
        if (!Take(*it, value)) return Fail(key, std::string("must be ") + type);
        out = std::move(value);
    }

    void Fail(const QString& key, const std::string& what) {
        if (why_.empty()) why_ = "\"" + key.toStdString() + "\" " + what;
    }

    // Every key was read: none unknown.
    bool AllKnown() const { return used_ == map_.size(); }
    const std::string& why() const { return why_; }

    std::string Unknown(const QStringList& known) const {
        for (auto it = map_.constBegin(); it != map_.constEnd(); ++it)
            if (!known.contains(it.key())) return it.key().toStdString();
        return {};
    }

private:
    const QVariantMap& map_;
    qsizetype used_ = 0;
    std::string why_;
};

}  // namespace

QVariantMap EncodeMailSettings(const MailSettingsRecord& s) {
    QVariantMap map{{"File", QString::fromStdString(s.file)}, {"Exists", s.exists}};
    if (!s.exists) return map;
    const auto text = [&map](const char* key, const std::string& value) {
        map.insert(key, QString::fromStdString(value));
    };
    text("Host", s.host);
    text("Port", s.port);
    text("Security", s.security);
    map.insert("RequireTLS", s.requireTls);
    text("TimeOut", s.timeOut);
    text("SenderName", s.senderName);
    text("SenderAddress", s.senderAddress);
    map.insert("Authentication", s.authentication);
    text("Account", s.account);
    text("Password", s.password);
    map.insert("Recipients", ListOf(s.recipients));
    for (std::size_t k = 0; k < s.events.size(); ++k) {
        map.insert(Key(kEventKeys[k], "Mailed"), s.events[k].mailed);
        map.insert(Key(kEventKeys[k], "Subject"), QString::fromStdString(s.events[k].subject));
        map.insert(Key(kEventKeys[k], "BodyLines"),
                   QVariant::fromValue<uint>(s.events[k].bodyLines));
    }
    text("TemplateFolder", s.templateFolder);
    return map;
}

std::optional<MailSettingsRecord> DecodeMailSettings(const QVariantMap& map) {
    MailSettingsRecord s;
    Reader r(map);
    if (!r.Required("File", s.file) || !r.Required("Exists", s.exists)) return std::nullopt;
    if (!s.exists) return r.AllKnown() ? std::optional(s) : std::nullopt;
    bool ok = r.Required("Host", s.host) && r.Required("Port", s.port) &&
              r.Required("Security", s.security) && r.Required("RequireTLS", s.requireTls) &&
              r.Required("TimeOut", s.timeOut) && r.Required("SenderName", s.senderName) &&
              r.Required("SenderAddress", s.senderAddress) &&
              r.Required("Authentication", s.authentication) && r.Required("Account", s.account) &&
              r.Required("Password", s.password) && r.Required("Recipients", s.recipients) &&
              r.Required("TemplateFolder", s.templateFolder);
    for (std::size_t k = 0; k < s.events.size() && ok; ++k) {
        auto& e = s.events[k];
        ok = r.Required(Key(kEventKeys[k], "Mailed"), e.mailed) &&
             r.Required(Key(kEventKeys[k], "Subject"), e.subject) &&
             r.Required(Key(kEventKeys[k], "BodyLines"), e.bodyLines);
    }
    const bool knownPassword =
        s.password == "set" || s.password == "empty" || s.password == "invalid";
    if (!ok || !r.AllKnown() || !IsSecurityName(s.security) || !knownPassword) return std::nullopt;
    return s;
}

QVariantMap EncodeMailChanges(const MailSettingsChanges& c) {
    QVariantMap map;
    const auto text = [&map](const char* key, const std::optional<std::string>& value) {
        if (value) map.insert(key, QString::fromStdString(*value));
    };
    const auto flag = [&map](const QString& key, const std::optional<bool>& value) {
        if (value) map.insert(key, *value);
    };
    text("Host", c.host);
    text("Port", c.port);
    text("Security", c.security);
    flag("RequireTLS", c.requireTls);
    text("TimeOut", c.timeOut);
    text("SenderName", c.senderName);
    text("SenderAddress", c.senderAddress);
    flag("Authentication", c.authentication);
    text("Account", c.account);
    text("Password", c.password);
    if (c.recipients) map.insert("Recipients", ListOf(*c.recipients));
    for (std::size_t k = 0; k < c.mailed.size(); ++k) {
        flag(Key(kEventKeys[k], "Mailed"), c.mailed[k]);
        if (c.subject[k])
            map.insert(Key(kEventKeys[k], "Subject"), QString::fromStdString(*c.subject[k]));
    }
    return map;
}

std::optional<MailSettingsChanges> DecodeMailChanges(const QVariantMap& map, std::string& why) {
    MailSettingsChanges c;
    Reader r(map);
    r.Optional("Host", c.host, "a string");
    r.Optional("Port", c.port, "a string");
    r.Optional("Security", c.security, "a string");
    r.Optional("RequireTLS", c.requireTls, "a boolean");
    r.Optional("TimeOut", c.timeOut, "a string");
    r.Optional("SenderName", c.senderName, "a string");
    r.Optional("SenderAddress", c.senderAddress, "a string");
    r.Optional("Authentication", c.authentication, "a boolean");
    r.Optional("Account", c.account, "a string");
    r.Optional("Password", c.password, "a string");
    r.Optional("Recipients", c.recipients,
               ("a list of at most " + std::to_string(mail::kMaxRecipients) + " strings").c_str());
    QStringList known = {"Host",    "Port",       "Security",      "RequireTLS",
                         "TimeOut", "SenderName", "SenderAddress", "Authentication",
                         "Account", "Password",   "Recipients"};
    for (std::size_t k = 0; k < c.mailed.size(); ++k) {
        r.Optional(Key(kEventKeys[k], "Mailed"), c.mailed[k], "a boolean");
        r.Optional(Key(kEventKeys[k], "Subject"), c.subject[k], "a string");
        known << Key(kEventKeys[k], "Mailed") << Key(kEventKeys[k], "Subject");
    }
    if (c.security && !IsSecurityName(*c.security))
        r.Fail("Security", "must be None, STARTTLS or SSL/TLS");
    if (c.port && !IsNumberUpTo(*c.port, 65535)) r.Fail("Port", "must be a port number");
    if (c.timeOut && !IsNumberUpTo(*c.timeOut, 99999))
        r.Fail("TimeOut", "must be a number of seconds");
    if (c.password && c.password->size() > mail::kMaxPasswordBytes)
        r.Fail("Password", "must be at most " + std::to_string(mail::kMaxPasswordBytes) + " bytes");
    if (!r.AllKnown()) r.Fail(QString::fromStdString(r.Unknown(known)), "is not a setting");
    if (map.isEmpty()) r.Fail("changes", "holds no setting");
    if (!r.why().empty()) {
        why = r.why();
        return std::nullopt;
    }
    return c;
}

}  // namespace raid::client
