#pragma once
// The one place where the service decides whether a caller may do what it
// asks: polkit's CheckAuthorization with the caller's bus name as the
// subject, never anything the caller says of itself. Without polkit on the
// bus, only root is allowed.
//
// Any local user may call the service, so the checks it has open are
// bounded: dbus-daemon lets one connection wait for 128 replies, and a
// caller whose agent never answers would otherwise hold every one of them.
// Checks beyond the limits wait in a queue per user, then are refused busy;
// a check whose caller left the bus, or that took too long, is cancelled
// (polkit then cancels its prompt). Root is authorized without asking.
#include <sys/types.h>

#include <QDBusConnection>
#include <QMap>
#include <QObject>
#include <QString>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace raid::service {

enum class Verdict {
    Authorized,
    NotAuthorized,  // polkit said no
    CanObtain,      // a password would do, but no one could be asked
    Dismissed,      // the person dismissed the password prompt
    Busy,           // a limit on open checks was reached; try again later
};

struct AuthorizationRequest {
    QString caller;  // the unique bus name of the caller
    const char* action = "";
    // Shown to an admin's rules (enclosure model and serial, for example)
    // and expanded in polkit's message ($(enclosure)).
    QMap<QString, QString> details;
    bool interactive = true;
};

struct CheckLimits {
    int interactivePerUser = 4;  // checks that may show a prompt
    int perUser = 16;            // open checks of one user
    int overall = 64;            // open checks of everyone
    int queuedPerUser = 32;      // waiting for one of the above; then busy
    // A prompt nobody answers is cancelled after this.
    std::chrono::milliseconds timeout = std::chrono::minutes(5);
    // Limit refusals told per minute (the rest are counted, then told).
    int refusalNotesPerMinute = 6;
    // Root is authorized without asking (tests that run as root ask).
    bool rootWithoutPolkit = true;
};

// Lives in the bus thread; every call and callback is in that thread.
class Authority : public QObject {
    Q_OBJECT
public:
    using Done = std::function<void(Verdict, const QString& why)>;
    // `note`: a line for the service's log (a refusal for a limit).
    Authority(QDBusConnection connection, CheckLimits limits,
              std::function<void(const std::string&)> note, QObject* parent = nullptr);
    ~Authority() override;

    // Calls `done` once, later, in this thread; never when the caller left
    // the bus before the answer (nobody is there to hear it).
    void Check(AuthorizationRequest request, Done done);

    // The caller's uid as the bus daemon knows it.
    std::optional<uid_t> CallerUid(const QString& caller);

    // Tells the log that a call of `uid` was refused for `limit` (this
    // one's, or another of the bus front's), at most so many a minute.
    void NoteRefusal(uid_t uid, const std::string& limit);

private Q_SLOTS:
    void OnNameOwnerChanged(const QString& name, const QString& oldOwner, const QString& newOwner);

private:
    struct Pending;
    struct User {
        int open = 0;
        int interactive = 0;
        std::deque<std::unique_ptr<Pending>> waiting;
    };
    bool MayStart(const User& user, const Pending& pending) const;
    void Start(std::unique_ptr<Pending> pending);
    void Finished(const QString& cancellationId, Verdict verdict, const QString& why);
    void Cancel(const QString& cancellationId);
    void StartWaiting();

    QDBusConnection connection_;
    CheckLimits limits_;
    std::function<void(const std::string&)> note_;
    std::map<uid_t, User> users_;
    std::map<QString, std::unique_ptr<Pending>> openChecks_;  // by cancellation id
    int open_ = 0;
    std::uint64_t nextId_ = 0;
    std::map<QString, uid_t> uids_;  // callers seen, until they leave
    // Rate limit of the refusal notes.
    std::chrono::steady_clock::time_point windowStart_{};
    int notesInWindow_ = 0;
    int unsaid_ = 0;
};

// The text of a limit refusal, as the busy error's message.
std::string LimitText(uid_t uid, const std::string& limit);

}  // namespace raid::service
