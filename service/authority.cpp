#include "service/authority.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QTimer>

namespace raid::service {
namespace {

using Details = QMap<QString, QString>;
constexpr unsigned kAllowUserInteraction = 1;
const QString kPolkit = "org.freedesktop.PolicyKit1";
const QString kPolkitPath = "/org/freedesktop/PolicyKit1/Authority";
const QString kPolkitInterface = "org.freedesktop.PolicyKit1.Authority";
// polkit answers a cancelled check at once; this only frees a slot whose
// answer never comes.
constexpr auto kReplySlack = std::chrono::seconds(30);

QDBusArgument BusNameSubject(const QString& name) {
    QDBusArgument subject;
    subject.beginStructure();
    subject << QString("system-bus-name");
    subject.beginMap(QMetaType::fromType<QString>(), QMetaType::fromType<QDBusVariant>());
    subject.beginMapEntry();
    subject << QString("name") << QDBusVariant(name);
    subject.endMapEntry();
    subject.endMap();
    subject.endStructure();
    return subject;
}

// polkit's answer as a verdict and a line saying why.
std::pair<Verdict, QString> VerdictOf(const QDBusMessage& reply, const QString& action) {
    bool authorized = false;
    bool challenge = false;
    Details details;
    if (reply.arguments().size() == 1) {
        const auto arg = reply.arguments()[0].value<QDBusArgument>();
        if (arg.currentSignature() == "(bba{ss})") {
            arg.beginStructure();
            arg >> authorized >> challenge >> details;
            arg.endStructure();
        }
    }
    if (authorized) return {Verdict::Authorized, QString()};
    if (details.value("polkit.dismissed") == "true")
        return {Verdict::Dismissed, action + ": the authentication was dismissed"};
    if (challenge)
        return {Verdict::CanObtain, action + ": authentication is required, and no one was asked"};
    return {Verdict::NotAuthorized, action + ": polkit refused"};
}

}  // namespace

struct Authority::Pending {
    uid_t uid = 0;
    AuthorizationRequest request;
    Done done;
    QString cancellationId;
    bool timedOut = false;
    bool callerLeft = false;
};

std::string LimitText(uid_t uid, const std::string& limit) {
    return "the service is busy: user " + std::to_string(uid) + " has " + limit +
           "; try again later";
}

Authority::Authority(QDBusConnection connection, CheckLimits limits,
                     std::function<void(const std::string&)> note, QObject* parent)
    : QObject(parent), connection_(std::move(connection)), limits_(limits), note_(std::move(note)) {
    static const bool registered = [] {
        qDBusRegisterMetaType<Details>();
        return true;
    }();
    (void)registered;
    // One match rule for every caller that leaves, whatever their number.
    connection_.connect("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                        "NameOwnerChanged", this,
                        SLOT(OnNameOwnerChanged(QString, QString, QString)));
}

Authority::~Authority() {
    connection_.disconnect("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                           "NameOwnerChanged", this,
                           SLOT(OnNameOwnerChanged(QString, QString, QString)));
    // Open prompts go with the service.
    for (const auto& [id, pending] : openChecks_) Cancel(id);
}

std::optional<uid_t> Authority::CallerUid(const QString& caller) {
    if (const auto known = uids_.find(caller); known != uids_.end()) return known->second;
    const auto uid = connection_.interface()->serviceUid(caller);
    if (!uid.isValid()) return std::nullopt;
    // Unique names are never reused: kept until NameOwnerChanged says it left.
    if (caller.startsWith(':')) uids_[caller] = uid.value();
    return uid.value();
}

void Authority::Check(AuthorizationRequest request, Done done) {
    const auto later = [this](Done d, Verdict v, QString why) {
        QMetaObject::invokeMethod(
            this, [d = std::move(d), v, why = std::move(why)] { d(v, why); }, Qt::QueuedConnection);
    };
    const auto uid = CallerUid(request.caller);
    if (!uid) return later(std::move(done), Verdict::NotAuthorized, "the caller left the bus");
    // As systemd's own services do: root needs no one's word, and is never
    // held behind other callers' checks.
    if (*uid == 0 && limits_.rootWithoutPolkit)
        return later(std::move(done), Verdict::Authorized, QString());

    auto pending = std::make_unique<Pending>();
    pending->uid = *uid;
    pending->request = std::move(request);
    pending->done = std::move(done);
    User& user = users_[*uid];
    if (MayStart(user, *pending)) return Start(std::move(pending));
    if (static_cast<int>(user.waiting.size()) >= limits_.queuedPerUser) {
        const std::string limit =
            std::to_string(limits_.queuedPerUser) + " calls waiting for an authorization check";
        NoteRefusal(*uid, limit);
        return later(std::move(pending->done), Verdict::Busy,
                     QString::fromStdString(LimitText(*uid, limit)));
    }
    user.waiting.push_back(std::move(pending));
}

bool Authority::MayStart(const User& user, const Pending& pending) const {
    return open_ < limits_.overall && user.open < limits_.perUser &&
           (!pending.request.interactive || user.interactive < limits_.interactivePerUser);
}

void Authority::Start(std::unique_ptr<Pending> pending) {
    User& user = users_[pending->uid];
    ++user.open;
    if (pending->request.interactive) ++user.interactive;
    ++open_;
    pending->cancellationId = "raid-check-" + QString::number(++nextId_);
    const AuthorizationRequest& r = pending->request;
    QDBusMessage call = QDBusMessage::createMethodCall(kPolkit, kPolkitPath, kPolkitInterface,
                                                       "CheckAuthorization");
    call << QVariant::fromValue(BusNameSubject(r.caller)) << QString(r.action)
         << QVariant::fromValue(r.details) << uint(r.interactive ? kAllowUserInteraction : 0u)
         << pending->cancellationId;
    const QString id = pending->cancellationId;
    const QString action = r.action;
    const QString caller = r.caller;
    openChecks_[id] = std::move(pending);

    const auto limit = std::chrono::duration_cast<std::chrono::milliseconds>(limits_.timeout);
    const auto replyLimit =
        limit + std::chrono::duration_cast<std::chrono::milliseconds>(kReplySlack);
    auto* watcher = new QDBusPendingCallWatcher(
        connection_.asyncCall(call, static_cast<int>(replyLimit.count())), this);
    QTimer::singleShot(limit, watcher, [this, id] {
        if (auto it = openChecks_.find(id); it != openChecks_.end()) {
            it->second->timedOut = true;
            Cancel(id);
        }
    });
    QObject::connect(
        watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, id, action, caller] {
            watcher->deleteLater();
            const QDBusMessage reply = watcher->reply();
            if (reply.type() != QDBusMessage::ErrorMessage) {
                const auto [verdict, why] = VerdictOf(reply, action);
                return Finished(id, verdict, why);
            }
            const QString name = reply.errorName();
            if (name == "org.freedesktop.DBus.Error.ServiceUnknown" ||
                name == "org.freedesktop.DBus.Error.NameHasNoOwner") {
                // Without polkit the kernel's word on the caller decides.
                const auto uid = CallerUid(caller);
                const bool root = uid && *uid == 0;
                return Finished(id, root ? Verdict::Authorized : Verdict::NotAuthorized,
                                root
                                    ? QString()
                                    : action + ": polkit is not running, so only root may do this");
            }
            const auto it = openChecks_.find(id);
            if (it != openChecks_.end() && it->second->timedOut)
                return Finished(
                    id, Verdict::NotAuthorized,
                    action + ": nobody answered the authentication within " +
                        QString::number(
                            std::chrono::duration_cast<std::chrono::seconds>(limits_.timeout)
                                .count()) +
                        " s");
            Finished(id, Verdict::NotAuthorized,
                     action + ": polkit did not answer: " + reply.errorMessage());
        });
}

void Authority::Finished(const QString& id, Verdict verdict, const QString& why) {
    const auto it = openChecks_.find(id);
    if (it == openChecks_.end()) return;
    std::unique_ptr<Pending> pending = std::move(it->second);
    openChecks_.erase(it);
    User& user = users_[pending->uid];
    --user.open;
    if (pending->request.interactive) --user.interactive;
    --open_;
    if (!pending->callerLeft) pending->done(verdict, why);
    StartWaiting();
}

void Authority::Cancel(const QString& id) {
    QDBusMessage call = QDBusMessage::createMethodCall(kPolkit, kPolkitPath, kPolkitInterface,
                                                       "CancelCheckAuthorization");
    call << id;
    connection_.send(call);  // the check's own answer frees its slot
}

void Authority::StartWaiting() {
    // Users take turns: one check each per round, while any may start.
    bool started = true;
    while (started && open_ < limits_.overall) {
        started = false;
        for (auto& [uid, user] : users_) {
            auto it = std::find_if(user.waiting.begin(), user.waiting.end(),
                                   [&](const auto& p) { return MayStart(user, *p); });
            if (it == user.waiting.end()) continue;
            std::unique_ptr<Pending> next = std::move(*it);
            user.waiting.erase(it);
            Start(std::move(next));
            started = true;
            if (open_ >= limits_.overall) break;
        }
    }
    for (auto it = users_.begin(); it != users_.end();)
        it = it->second.open == 0 && it->second.waiting.empty() ? users_.erase(it) : std::next(it);
}

void Authority::OnNameOwnerChanged(const QString& name, const QString&, const QString& newOwner) {
    if (!name.startsWith(':') || !newOwner.isEmpty()) return;
    uids_.erase(name);
    // Its waiting calls need no answer; its open checks are cancelled, and
    // polkit cancels their prompts.
    for (auto& [uid, user] : users_)
        std::erase_if(user.waiting, [&](const auto& p) { return p->request.caller == name; });
    for (auto& [id, pending] : openChecks_) {
        if (pending->request.caller != name || pending->callerLeft) continue;
        pending->callerLeft = true;
        Cancel(id);
    }
}

void Authority::NoteRefusal(uid_t uid, const std::string& limit) {
    const auto now = std::chrono::steady_clock::now();
    if (now - windowStart_ >= std::chrono::minutes(1)) {
        if (unsaid_ > 0 && note_)
            note_(std::to_string(unsaid_) +
                  " more calls were refused for a limit in the last "
                  "minute");
        windowStart_ = now;
        notesInWindow_ = 0;
        unsaid_ = 0;
    }
    if (notesInWindow_ >= limits_.refusalNotesPerMinute) {
        ++unsaid_;
        return;
    }
    ++notesInWindow_;
    if (note_) note_("refused a call of user " + std::to_string(uid) + ": it has " + limit);
}

}  // namespace raid::service
