#include "client/flash_follower.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDBusConnectionInterface>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusUnixFileDescriptor>
#include <QEventLoop>
#include <QTimer>
#include <cerrno>
#include <cstring>

#include "client/bus_names.h"

namespace raid::client {
namespace {

constexpr int kDetachCheckMs = 100;
// A backup is at most the whole addressable flash.
constexpr std::size_t kMaxBackup = 16 * 1024 * 1024;

}  // namespace

const char* const kServiceEndedDuringFlash =
    "the monitor service stopped during the firmware upgrade: its end is unknown, and the flash "
    "may be in an unknown state. Do not unplug the enclosure or power it off; start the service "
    "again and flash once more";

int SealedMemfd(const char* name, const std::vector<std::uint8_t>& bytes) {
    const int fd = ::memfd_create(name, MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0) return -1;
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ::close(fd);
            return -1;
        }
        done += static_cast<std::size_t>(n);
    }
    // Nobody can change the image once it is handed over.
    if (::fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::optional<std::vector<std::uint8_t>> ReadAll(int fd, std::size_t limit) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0 ||
        static_cast<std::size_t>(st.st_size) > limit)
        return std::nullopt;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(st.st_size));
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n =
            ::pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::nullopt;
        done += static_cast<std::size_t>(n);
    }
    return bytes;
}

FlashFollower::FlashFollower(const QDBusConnection& connection, Handlers handlers)
    : connection_(connection), handlers_(std::move(handlers)) {}

FlashAnswer FlashFollower::Run(const QString& enclosure, const std::vector<std::uint8_t>& image,
                               bool backup, const CallOptions& options) {
    FlashAnswer answer;
    // Subscribed before the job exists, so that no step is missed.
    for (const auto& [name, slot] : {std::pair{"Step", SLOT(onStep(QDBusMessage))},
                                     std::pair{"BackupReady", SLOT(onBackupReady(QDBusMessage))},
                                     std::pair{"Completed", SLOT(onCompleted(QDBusMessage))}})
        connection_.connect(bus::kServiceName, QString(), bus::kJobInterface, name, this, slot);

    const int fd = SealedMemfd("raidctl-firmware", image);
    if (fd < 0) {
        answer.outcome = kFailed;
        answer.notes.push_back("cannot hand the image over: " + std::string(std::strerror(errno)));
        return answer;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(bus::kServiceName, enclosure,
                                                       bus::kEnclosureInterface, "Flash");
    call << QVariant::fromValue(QDBusUnixFileDescriptor(fd))
         << QVariantMap{{"backup", backup}, {bus::kNoInteraction, !options.interactive}};
    ::close(fd);
    const QDBusMessage reply = connection_.call(call, QDBus::Block, 10 * 60 * 1000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1) {
        answer.outcome = reply.errorName() == bus::kErrorBusy ? kBusy
                         : reply.errorName().startsWith(QString(bus::kErrorNotAuthorized))
                             ? kNotAuthorized
                             : kFailed;
        answer.authenticationWouldDo = reply.errorName() == bus::kErrorCanObtain;
        std::string text = reply.errorMessage().toStdString();
        if (answer.outcome == kNotAuthorized) text = "not authorized: " + text;
        if (answer.outcome == kBusy) text = "busy: " + text;
        // The service's own check refused the image: as the in-process refusal.
        if (text.rfind("refused: ", 0) == 0) answer.outcome = 5;
        answer.notes.push_back(text);
        return answer;
    }
    job_ = reply.arguments()[0].value<QDBusObjectPath>().path();
    answer.job = job_.toStdString();
    for (const QDBusMessage& early : std::exchange(early_, {})) {
        if (early.member() == "Step") onStep(early);
        if (early.member() == "BackupReady") onBackupReady(early);
        if (early.member() == "Completed") onCompleted(early);
    }

    // A service that ends during its job (killed, crashed) never sends
    // Completed: the flash's end is then unknown, and is said so.
    QDBusServiceWatcher gone(bus::kServiceName, connection_,
                             QDBusServiceWatcher::WatchForUnregistration);
    QObject::connect(&gone, &QDBusServiceWatcher::serviceUnregistered, this, [this] {
        if (done_) return;
        FlashAnswer lost;
        lost.outcome = kUnavailable;
        lost.notes.push_back(kServiceEndedDuringFlash);
        done_ = std::move(lost);
    });
    // Gone before the watch began.
    if (!connection_.interface()->isServiceRegistered(bus::kServiceName).value())
        Q_EMIT gone.serviceUnregistered(bus::kServiceName);
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done_) loop.quit();
        if (handlers_.detach && handlers_.detach()) {
            answer.detached = true;
            loop.quit();
        }
    });
    check.start(kDetachCheckMs);
    if (!done_) loop.exec();
    if (done_) {
        done_->job = answer.job;
        return *done_;
    }
    return answer;
}

void FlashFollower::onStep(const QDBusMessage& message) {
    if (job_.isEmpty()) return early_.push_back(message);
    const auto args = message.arguments();
    if (message.path() != job_ || args.size() != 5) return;
    if (handlers_.step)
        handlers_.step({.kind = static_cast<firmware::FlashStepKind>(args[0].toUInt()),
                        .caption = args[1].toString().toStdString(),
                        .text = args[2].toString().toStdString(),
                        .value = args[3].toUInt(),
                        .icon = static_cast<firmware::MessageIcon>(args[4].toUInt())});
}

void FlashFollower::onBackupReady(const QDBusMessage& message) {
    if (job_.isEmpty()) return early_.push_back(message);
    if (message.path() != job_ || backupAsked_) return;
    backupAsked_ = true;
    const QDBusMessage reply = connection_.call(
        QDBusMessage::createMethodCall(bus::kServiceName, job_, bus::kJobInterface, "GetBackup"));
    std::optional<std::vector<std::uint8_t>> bytes;
    if (reply.type() == QDBusMessage::ReplyMessage && reply.arguments().size() == 1) {
        const auto fd = reply.arguments()[0].value<QDBusUnixFileDescriptor>();
        if (fd.isValid()) bytes = ReadAll(fd.fileDescriptor(), kMaxBackup);
    }
    const bool stored = bytes && handlers_.keepBackup && handlers_.keepBackup(*bytes);
    QDBusMessage confirm = QDBusMessage::createMethodCall(bus::kServiceName, job_,
                                                          bus::kJobInterface, "ConfirmBackup");
    confirm << stored;
    connection_.call(confirm);
}

void FlashFollower::onCompleted(const QDBusMessage& message) {
    if (job_.isEmpty()) return early_.push_back(message);
    const auto args = message.arguments();
    if (message.path() != job_ || args.size() != 2) return;
    FlashAnswer answer;
    const uint outcome = args[0].toUInt();
    answer.outcome = outcome <= 7 ? static_cast<int>(outcome) : kUnavailable;
    for (const QString& note : args[1].toStringList()) answer.notes.push_back(note.toStdString());
    done_ = answer;
}

}  // namespace raid::client
