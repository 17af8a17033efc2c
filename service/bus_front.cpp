#include "service/bus_front.h"

#include <unistd.h>

#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QDBusUnixFileDescriptor>
#include <QMetaObject>
#include <cerrno>
#include <cstring>

#include "client/bus_names.h"
#include "client/flash_follower.h"
#include "client/mail_wire.h"
#include "client/status_wire.h"
#include "enclosure_adaptor.h"
#include "job_adaptor.h"
#include "manager_adaptor.h"
#include "service/bus_objects.h"
#include "service/flash_job.h"

namespace raid::service {
namespace {

namespace bus = client::bus;

QString EnclosurePath(int index) {
    return QString(bus::kEnclosuresPath) + "/" + QString::number(index);
}

void SendPropertiesChanged(QDBusConnection& connection, const QString& path, const char* interface,
                           const QVariantMap& changed) {
    QDBusMessage signal =
        QDBusMessage::createSignal(path, "org.freedesktop.DBus.Properties", "PropertiesChanged");
    signal << QString(interface) << changed << QStringList();
    connection.send(signal);
}

QStringList ListOf(const std::vector<std::string>& lines) {
    QStringList list;
    for (const auto& line : lines) list.push_back(QString::fromStdString(line));
    return list;
}

// Runs `work` in the thread of `context`, and waits for it.
template <typename Work>
void RunIn(QObject* context, Work work) {
    QMetaObject::invokeMethod(context, std::move(work), Qt::BlockingQueuedConnection);
}

}  // namespace

BusFront::BusFront() : connection_(QString()) { client::RegisterBusTypes(); }

BusFront::~BusFront() { Stop(); }

bool BusFront::Start(std::string& why, std::function<void(const std::string&)> note) {
    connection_ = QDBusConnection::connectToBus(QDBusConnection::SystemBus, "raid-service");
    if (!connection_.isConnected()) {
        why = "the system bus cannot be reached (" +
              connection_.lastError().message().toStdString() + ")";
        return false;
    }
    thread_.setObjectName("bus");
    thread_.start();
    manager_ = new ManagerObject(*this);
    manager_->moveToThread(&thread_);
    // The objects show what is published so far before the name is taken,
    // so that a client never sees a service without its enclosures.
    RunIn(manager_, [this, note = std::move(note)]() mutable {
        authority_ = new Authority(connection_, checkLimits_, std::move(note), manager_);
        new ManagerAdaptor(manager_);
        new ObjectManagerAdaptor(manager_);
        connection_.registerObject(bus::kManagerPath, manager_);
        ApplySnapshot();
    });
    const auto owned = connection_.interface()->registerService(
        bus::kServiceName, QDBusConnectionInterface::DontQueueService,
        QDBusConnectionInterface::DontAllowReplacement);
    if (!owned.isValid() || owned.value() != QDBusConnectionInterface::ServiceRegistered) {
        why =
            std::string("the name ") + bus::kServiceName + " was not given to this process (" +
            (owned.isValid() ? "another process owns it" : owned.error().message().toStdString()) +
            ")";
        Stop();
        return false;
    }
    return true;
}

void BusFront::Stop() {
    if (!thread_.isRunning()) return;
    RunIn(manager_, [this] {
        connection_.unregisterService(bus::kServiceName);
        connection_.unregisterObject(bus::kManagerPath, QDBusConnection::UnregisterTree);
        delete manager_;  // and the checks it has open
        manager_ = nullptr;
        authority_ = nullptr;
        enclosures_.clear();
        jobs_.clear();
    });
    thread_.quit();
    thread_.wait();
    QDBusConnection::disconnectFromBus("raid-service");
}

void BusFront::Publish(EngineSnapshot published) {
    {
        std::lock_guard lock(mutex_);
        static_cast<EngineSnapshot&>(snapshot_) = std::move(published);
    }
    if (manager_ != nullptr)
        QMetaObject::invokeMethod(
            manager_, [this] { ApplySnapshot(); }, Qt::QueuedConnection);
}

void BusFront::EventLine(const std::string& line) {
    if (manager_ == nullptr) return;
    QDBusMessage signal =
        QDBusMessage::createSignal(bus::kManagerPath, bus::kManagerInterface, "EventLine");
    signal << QString::fromStdString(line);
    connection_.send(signal);
}

void BusFront::SetState(const std::string& state, bool serving) {
    {
        std::lock_guard lock(mutex_);
        if (snapshot_.state == state && snapshot_.serving == serving) return;
        snapshot_.state = state;
        snapshot_.serving = serving;
    }
    if (manager_ != nullptr)
        SendPropertiesChanged(connection_, bus::kManagerPath, bus::kManagerInterface,
                              {{"State", QString::fromStdString(state)}});
}

void BusFront::SetLogFolder(const std::filesystem::path& folder) {
    std::lock_guard lock(mutex_);
    logFolder_ = folder;
}

std::filesystem::path BusFront::LogFolder() const {
    std::lock_guard lock(mutex_);
    return logFolder_;
}

std::vector<EngineRequest> BusFront::TakeRequests() {
    std::lock_guard lock(inbox_->mutex);
    return std::exchange(inbox_->requests, {});
}

void BusFront::Queue(EngineRequest request) {
    std::lock_guard lock(inbox_->mutex);
    inbox_->requests.push_back(std::move(request));
}

void BusFront::ReadThenQueue(EngineRequest request, int fd, std::uint64_t size) {
    auto held = std::make_shared<EngineRequest>(std::move(request));
    ReadImageInBackground(
        fd, size,
        [inbox = inbox_, connection = connection_, held](
            std::optional<std::vector<std::uint8_t>> bytes, const std::string& why) mutable {
            if (!bytes) {
                connection.send(
                    CallOf(*held).createErrorReply(bus::kErrorFailed, QString::fromStdString(why)));
                return;
            }
            held->image = std::move(*bytes);
            std::lock_guard lock(inbox->mutex);
            inbox->requests.push_back(std::move(*held));
        });
}

const QDBusMessage& CallOf(const EngineRequest& request) {
    return static_cast<const BusCaller&>(*request.caller).message;
}

void BusFront::Answer(const EngineRequest& request, const client::SettingAnswer& answer) {
    const QStringList notes = ListOf(answer.notes);
    const QVariantMap status =
        answer.devices.empty() ? QVariantMap() : client::EncodeStatus(answer.devices.front());
    QDBusMessage reply = CallOf(request).createReply();
    reply << uint(answer.outcome) << notes << status;
    connection_.send(reply);
}

void BusFront::AnswerCheck(const EngineRequest& request, const client::Answer& answer,
                           const firmware::LoadTexts& loaded) {
    QVariantMap texts;
    texts.insert("file", QString::fromStdString(loaded.file));
    texts.insert("checksum", QString::fromStdString(loaded.checksum));
    texts.insert("deviceCode", QString::fromStdString(loaded.deviceCode));
    texts.insert("fileCode", QString::fromStdString(loaded.fileCode));
    QDBusMessage reply = CallOf(request).createReply();
    reply << uint(answer.outcome) << ListOf(answer.notes) << texts;
    connection_.send(reply);
}

void BusFront::AnswerBytes(const EngineRequest& request, const std::vector<std::uint8_t>& bytes) {
    const int fd = client::SealedMemfd("raid-flash-read", bytes);
    if (fd < 0)
        return Refuse(request, bus::kErrorFailed,
                      std::string("the bytes cannot be handed over: ") + std::strerror(errno));
    QDBusUnixFileDescriptor handed(fd);  // a duplicate
    ::close(fd);
    connection_.send(CallOf(request).createReply(QVariant::fromValue(handed)));
}

void BusFront::AnswerJob(const EngineRequest& request, const std::string& job) {
    connection_.send(CallOf(request).createReply(
        QVariant::fromValue(QDBusObjectPath(QString::fromStdString(job)))));
}

namespace {

// The first note of a failed answer, as the error's message.
std::string WhyOf(const client::Answer& answer) {
    return answer.notes.empty() ? std::string("failed") : answer.notes.front();
}

}  // namespace

void BusFront::AnswerMailSettings(const EngineRequest& request,
                                  const client::MailSettingsAnswer& answer) {
    if (answer.outcome != client::kDone) return Refuse(request, bus::kErrorFailed, WhyOf(answer));
    connection_.send(
        CallOf(request).createReply(QVariant(client::EncodeMailSettings(answer.settings))));
}

void BusFront::AnswerMailChanged(const EngineRequest& request, const client::Answer& answer) {
    if (answer.outcome != client::kDone) return Refuse(request, bus::kErrorFailed, WhyOf(answer));
    connection_.send(CallOf(request).createReply());
}

void BusFront::AnswerTestMail(const EngineRequest& request, const client::TestMailAnswer& answer,
                              const std::vector<std::string>& transcript) {
    QDBusMessage reply = CallOf(request).createReply();
    reply << uint(answer.outcome) << ListOf(transcript)
          << ListOf(answer.outcome == client::kDone ? answer.warnings : answer.notes)
          << QString::fromStdString(answer.sentTo);
    connection_.send(reply);
}

void BusFront::Refuse(const EngineRequest& request, const char* name, const std::string& why) {
    connection_.send(CallOf(request).createErrorReply(name, QString::fromStdString(why)));
}

void BusFront::Refuse(const EngineRequest& request, Refusal refusal, const std::string& why) {
    switch (refusal) {
        case Refusal::Busy:
            return Refuse(request, bus::kErrorBusy, why);
        case Refusal::InvalidArgument:
            return Refuse(request, bus::kErrorInvalidArgument, why);
        case Refusal::Failed:
            break;
    }
    Refuse(request, bus::kErrorFailed, why);
}

std::string BusFront::NextJobName() {
    return std::string(bus::kJobsPath) + "/" + std::to_string(++jobCount_);
}

void BusFront::JobStep(const std::string& name, const firmware::FlashStep& step) {
    const QString path = QString::fromStdString(name);
    // A client that follows the properties alone sees the progress move, at
    // most four times a second; the last value goes with the completion.
    if (step.kind == firmware::FlashStepKind::Progress) {
        const auto now = std::chrono::steady_clock::now();
        bool due = false;
        {
            std::lock_guard lock(mutex_);
            auto& last = progressSent_[name];
            due = now - last >= std::chrono::milliseconds(250);
            if (due) last = now;
        }
        if (due)
            SendPropertiesChanged(connection_, path, bus::kJobInterface,
                                  {{"Progress", uint(step.value)}});
    }
    QDBusMessage signal = QDBusMessage::createSignal(path, bus::kJobInterface, "Step");
    signal << uint(step.kind) << QString::fromStdString(step.caption)
           << QString::fromStdString(step.text) << uint(step.value) << uint(step.icon);
    connection_.send(signal);
}

void BusFront::JobBackupReady(const std::string& name) {
    const QString path = QString::fromStdString(name);
    connection_.send(QDBusMessage::createSignal(path, bus::kJobInterface, "BackupReady"));
}

void BusFront::JobCompleted(const std::string& name, const client::Answer& answer,
                            std::uint32_t progress) {
    const QString path = QString::fromStdString(name);
    const QStringList notes = ListOf(answer.notes);
    {
        std::lock_guard lock(mutex_);
        progressSent_.erase(name);
    }
    SendPropertiesChanged(connection_, path, bus::kJobInterface,
                          {{"Progress", uint(progress)},
                           {"Finished", true},
                           {"Outcome", uint(answer.outcome)},
                           {"Notes", notes}});
    QDBusMessage signal = QDBusMessage::createSignal(path, bus::kJobInterface, "Completed");
    signal << uint(answer.outcome) << notes;
    connection_.send(signal);
}

void BusFront::AddJob(const std::string& name, std::shared_ptr<FlashJob> job, int index,
                      const std::string& starterName) {
    if (manager_ == nullptr) return;
    const QString path = QString::fromStdString(name);
    const QString starter = QString::fromStdString(starterName);
    RunIn(manager_, [this, path, job = std::move(job), index, starter]() mutable {
        // Finished jobs stay listed for a while, the oldest go first.
        constexpr std::size_t kKeptJobs = 16;
        while (jobs_.size() >= kKeptJobs) {
            auto* oldest = static_cast<JobObject*>(jobs_.front());
            if (!oldest->finished()) break;
            const QString oldPath = oldest->property("path").toString();
            connection_.unregisterObject(oldPath);
            Q_EMIT manager_->InterfacesRemoved(QDBusObjectPath(oldPath), {bus::kJobInterface});
            delete oldest;
            jobs_.erase(jobs_.begin());
        }
        auto* object = new JobObject(job, index, starter);
        object->setParent(manager_);
        object->setProperty("path", path);
        new JobAdaptor(object);
        connection_.registerObject(path, object);
        jobs_.push_back(object);
        // A starter that leaves before the backup is stored erases nothing.
        auto* watcher = new QDBusServiceWatcher(
            starter, connection_, QDBusServiceWatcher::WatchForUnregistration, object);
        QObject::connect(watcher, &QDBusServiceWatcher::serviceUnregistered, object,
                         [job] { job->StarterLeft(); });
        Q_EMIT manager_->InterfacesAdded(QDBusObjectPath(path),
                                         {{bus::kJobInterface, object->Properties()}});
    });
}

BusFront::Snapshot BusFront::Current() const {
    std::lock_guard lock(mutex_);
    return snapshot_;
}

const client::DeviceStatus* BusFront::Device(const Snapshot& snapshot, int index) const {
    for (const auto& d : snapshot.devices)
        if (d.index == index) return &d;
    return nullptr;
}

void BusFront::ApplySnapshot() {
    const Snapshot now = Current();
    // Enclosures gone: their objects go, with InterfacesRemoved.
    for (auto it = enclosures_.begin(); it != enclosures_.end();) {
        const int index = (*it)->index();
        if (Device(now, index) == nullptr) {
            connection_.unregisterObject(EnclosurePath(index));
            Q_EMIT manager_->InterfacesRemoved(QDBusObjectPath(EnclosurePath(index)),
                                               {bus::kEnclosureInterface});
            delete *it;
            it = enclosures_.erase(it);
        } else {
            ++it;
        }
    }
    for (const auto& d : now.devices) {
        const auto found = std::find_if(enclosures_.begin(), enclosures_.end(),
                                        [&](const auto* e) { return e->index() == d.index; });
        if (found == enclosures_.end()) {
            auto* object = new EnclosureObject(*this, d.index);
            object->setParent(manager_);
            new EnclosureAdaptor(object);
            connection_.registerObject(EnclosurePath(d.index), object);
            enclosures_.push_back(object);
            Q_EMIT manager_->InterfacesAdded(QDBusObjectPath(EnclosurePath(d.index)),
                                             {{bus::kEnclosureInterface, object->Properties()}});
            continue;
        }
        const auto before = std::find_if(shown_.begin(), shown_.end(),
                                         [&](const auto& s) { return s.index == d.index; });
        // Every property that changed, not only the status.
        const QVariantMap after = EnclosureProperties(d.index, d);
        const QVariantMap earlier =
            before == shown_.end() ? QVariantMap() : EnclosureProperties(d.index, *before);
        QVariantMap changed;
        for (auto it = after.begin(); it != after.end(); ++it)
            if (earlier.value(it.key()) != it.value()) changed.insert(it.key(), it.value());
        if (!changed.isEmpty())
            SendPropertiesChanged(connection_, EnclosurePath(d.index), bus::kEnclosureInterface,
                                  changed);
    }
    shown_ = now.devices;
}

}  // namespace raid::service
