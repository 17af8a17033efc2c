#include "service/bus_objects.h"

#include <unistd.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <algorithm>
#include <cstring>
#include <functional>

#include "client/bus_names.h"
#include "client/flash_follower.h"
#include "client/mail_wire.h"
#include "client/status_wire.h"
#include "common/state.h"
#include "common/version.h"
#include "eventlog/day_log.h"
#include "service/authority.h"
#include "service/bus_front.h"
#include "service/flash_job.h"

namespace raid::service {
namespace {

namespace bus = client::bus;

bool Interactive(const QVariantMap& options) {
    return !options.value(bus::kNoInteraction, false).toBool();
}

QString ErrorNameOf(Verdict verdict) {
    switch (verdict) {
        case Verdict::CanObtain:
            return bus::kErrorCanObtain;
        case Verdict::Dismissed:
            return bus::kErrorDismissed;
        case Verdict::Busy:
            return bus::kErrorBusy;
        default:
            return bus::kErrorNotAuthorized;
    }
}

// Checks the caller of `message` with polkit for `action`, then runs
// `granted` (which sends the reply), or answers the refusal. The reply is
// always sent later, from the bus thread. Nothing captured may be an object
// that a snapshot deletes: only the front and values.
void Authorize(BusFront& front, const QDBusMessage& message, const char* action,
               const QVariantMap& options, const EnclosureTarget* enclosure,
               std::function<void()> granted) {
    const auto now = front.Current();
    if (!now.serving) {
        front.Connection().send(
            message.createErrorReply(bus::kErrorBusy, QString::fromStdString(now.state)));
        return;
    }
    AuthorizationRequest ask;
    ask.caller = message.service();
    ask.action = action;
    // Reading is for anyone: such a check never waits for a person, and
    // never takes one of the few prompts a user may have open.
    ask.interactive = Interactive(options) && std::strcmp(action, bus::kActionReadStatus) != 0;
    if (enclosure != nullptr) {
        const auto text = [](const std::string& s) { return QString::fromStdString(s); };
        // For an admin's rule that names one enclosure, and for the prompt.
        ask.details.insert("enclosure.id", text(enclosure->identity));
        ask.details.insert("enclosure.model", text(enclosure->model));
        ask.details.insert("enclosure.device", text(enclosure->path));
        ask.details.insert("enclosure.firmware", text(enclosure->firmware));
        // The controller reports no serial of its own; its members' serials
        // name the enclosure's contents.
        ask.details.insert("enclosure.hdd1.serial", text(enclosure->serials[0]));
        ask.details.insert("enclosure.hdd2.serial", text(enclosure->serials[1]));
        ask.details.insert("enclosure", text(enclosure->model + " " + enclosure->identity + " on " +
                                             enclosure->path));
    }
    front.Checks().Check(std::move(ask), [&front, message, granted = std::move(granted)](
                                             Verdict verdict, const QString& why) {
        if (verdict == Verdict::Authorized) {
            granted();
        } else {
            front.Connection().send(message.createErrorReply(ErrorNameOf(verdict), why));
        }
    });
}

// Binds `request` to the enclosure standing at its index now.
void BindToEnclosure(const BusFront& front, EngineRequest& request) {
    const auto now = front.Current();
    if (const auto* d = front.Device(now, request.index)) request.target = EnclosureTarget::Of(*d);
}

// Allowed requests go to the monitor loop, which answers them.
void AuthorizeRequest(BusFront& front, const QDBusMessage& message, const char* action,
                      EngineRequest request, const QVariantMap& options, bool forEnclosure) {
    request.caller = std::make_shared<BusCaller>(message);
    if (forEnclosure) BindToEnclosure(front, request);
    const EnclosureTarget shown = request.target;
    auto held = std::make_shared<EngineRequest>(std::move(request));
    Authorize(front, message, action, options, forEnclosure ? &shown : nullptr,
              [&front, held] { front.Queue(std::move(*held)); });
}

// A setting of the enclosure the request names.
void AuthorizeSetting(BusFront& front, const QDBusMessage& message, const char* action,
                      EngineRequest request, const QVariantMap& options) {
    AuthorizeRequest(front, message, action, std::move(request), options, true);
}

// A request with the caller's image: polkit first, then the image is read
// within the budget, off this thread.
void AuthorizeImage(BusFront& front, const QDBusMessage& message, const char* action,
                    EngineRequest request, const QDBusUnixFileDescriptor& image,
                    const QVariantMap& options) {
    std::string why;
    const auto size = ImageSize(image.isValid() ? image.fileDescriptor() : -1, why);
    if (!size) {
        front.Connection().send(
            message.createErrorReply(bus::kErrorFailed, QString::fromStdString(why)));
        return;
    }
    request.caller = std::make_shared<BusCaller>(message);
    BindToEnclosure(front, request);
    const EnclosureTarget shown = request.target;
    auto held = std::make_shared<EngineRequest>(std::move(request));
    Authorize(front, message, action, options, &shown, [&front, held, image, size = *size] {
        const auto uid = front.Checks().CallerUid(CallOf(*held).service());
        std::string limit;
        auto ticket = uid ? front.Images().Reserve(*uid, size, limit) : std::nullopt;
        if (!ticket) {
            if (uid) front.Checks().NoteRefusal(*uid, limit);
            front.Connection().send(CallOf(*held).createErrorReply(
                bus::kErrorBusy,
                QString::fromStdString(uid ? LimitText(*uid, limit) : "the caller left the bus")));
            return;
        }
        static_cast<BusCaller&>(*held->caller).imageTicket = std::move(*ticket);
        front.ReadThenQueue(std::move(*held), image.fileDescriptor(), size);
    });
}

}  // namespace

QString ManagerObject::version() const { return QString::fromUtf8(kVersionText); }

QString ManagerObject::state() const { return QString::fromStdString(front_.Current().state); }

QDBusObjectPath ManagerObject::FindEnclosure(const QString& disk, const QVariantMap& options) {
    setDelayedReply(true);
    Authorize(front_, message(), bus::kActionReadStatus, options, nullptr,
              [this, disk, message = message()] { Find(message, disk); });
    return {};
}

void ManagerObject::Find(const QDBusMessage& message, const QString& disk) {
    const auto now = front_.Current();
    const EnclosureLookup found = LookUpEnclosure(now, disk.toStdString());
    const QString why = QString::fromStdString(found.why);
    if (found.outcome == client::kCannotOpen)
        front_.Connection().send(message.createErrorReply(bus::kErrorNoSuchDisk, why));
    else if (found.outcome != client::kDone)
        front_.Connection().send(message.createErrorReply(bus::kErrorNoEnclosure, why));
    else
        front_.Connection().send(message.createReply(QVariant::fromValue(QDBusObjectPath(
            QString(bus::kEnclosuresPath) + "/" +
            QString::number(now.devices[static_cast<std::size_t>(found.position)].index)))));
}

uint ManagerObject::GetHealth(const QVariantMap& options, QStringList&) {
    setDelayedReply(true);
    Authorize(front_, message(), bus::kActionReadStatus, options, nullptr,
              [this, message = message()] {
                  const auto now = front_.Current();
                  QStringList texts;
                  for (const auto& t : now.healthTexts) texts.push_back(QString::fromStdString(t));
                  front_.Connection().send(message.createReply({uint(now.health), texts}));
              });
    return 0;
}

QStringList ManagerObject::ListDayFiles(const QVariantMap& options) {
    setDelayedReply(true);
    Authorize(front_, message(), bus::kActionReadStatus, options, nullptr,
              [this, message = message()] {
                  QStringList names;
                  const auto folder = front_.LogFolder();
                  if (!folder.empty())
                      for (const auto& name : eventlog::ListDayLogs(folder))
                          names.push_back(QString::fromStdString(name));
                  front_.Connection().send(message.createReply(names));
              });
    return {};
}

QByteArray ManagerObject::ReadDayFile(const QString& name, const QVariantMap& options) {
    setDelayedReply(true);
    // Only a bare day file name: never a path a client chose.
    const std::string bare = name.toStdString();
    if (!eventlog::IsDayLogName(bare)) {
        connection().send(message().createErrorReply(
            bus::kErrorInvalidArgument, "not the name of a day file (yymmdd.log, no folder)"));
        return {};
    }
    Authorize(
        front_, message(), bus::kActionReadStatus, options, nullptr,
        [this, bare, message = message()] {
            const auto folder = front_.LogFolder();
            std::string why = "the service keeps no event log";
            const auto bytes = folder.empty()
                                   ? std::nullopt
                                   : eventlog::ReadDayLog(folder, bare, eventlog::kMaxDayFileBytes, why);
            front_.Connection().send(
                bytes ? message.createReply(QByteArray(reinterpret_cast<const char*>(bytes->data()),
                                                       static_cast<qsizetype>(bytes->size())))
                      : message.createErrorReply(bus::kErrorFailed, QString::fromStdString(why)));
        });
    return {};
}

QVariantMap ManagerObject::GetMailSettings(const QVariantMap& options) {
    setDelayedReply(true);
    EngineRequest request;
    request.kind = EngineRequest::Kind::MailSettings;
    AuthorizeRequest(front_, message(), bus::kActionMailSettings, std::move(request), options,
                     false);
    return {};
}

void ManagerObject::SetMailSettings(const QVariantMap& changes, const QVariantMap& options) {
    setDelayedReply(true);
    std::string why;
    auto decoded = client::DecodeMailChanges(changes, why);
    if (!decoded) {
        connection().send(
            message().createErrorReply(bus::kErrorInvalidArgument, QString::fromStdString(why)));
        return;
    }
    EngineRequest request;
    request.kind = EngineRequest::Kind::SetMailSettings;
    request.mailChanges = std::move(*decoded);
    AuthorizeRequest(front_, message(), bus::kActionMailSettings, std::move(request), options,
                     false);
}

uint ManagerObject::SendTestMail(const QVariantMap& options, QStringList&, QStringList&, QString&) {
    setDelayedReply(true);
    EngineRequest request;
    request.kind = EngineRequest::Kind::TestMail;
    AuthorizeRequest(front_, message(), bus::kActionTestMail, std::move(request), options, false);
    return 0;
}

client::ManagedObjects ManagerObject::GetManagedObjects() {
    client::ManagedObjects objects;
    if (const auto now = front_.Current(); !now.serving) {
        sendErrorReply(bus::kErrorBusy, QString::fromStdString(now.state));
        return objects;
    }
    for (const auto* child : findChildren<EnclosureObject*>(QString(), Qt::FindDirectChildrenOnly))
        objects.insert(
            QDBusObjectPath(QString(bus::kEnclosuresPath) + "/" + QString::number(child->index())),
            {{bus::kEnclosureInterface, child->Properties()}});
    for (const auto* job : findChildren<JobObject*>(QString(), Qt::FindDirectChildrenOnly))
        objects.insert(QDBusObjectPath(job->property("path").toString()),
                       {{bus::kJobInterface, job->Properties()}});
    return objects;
}

client::DeviceStatus EnclosureObject::Record() const {
    const auto now = front_.Current();
    const auto* d = front_.Device(now, index_);
    return d != nullptr ? *d : client::DeviceStatus{};
}

int EnclosureObject::disk() const { return Record().disk; }
QString EnclosureObject::device() const { return QString::fromStdString(Record().path); }
QString EnclosureObject::model() const { return QString::fromStdString(Record().model); }
QString EnclosureObject::firmware() const { return QString::fromStdString(Record().firmware); }
QVariantMap EnclosureObject::status() const { return client::EncodeStatus(Record()); }

QVariantMap EnclosureObject::Properties() const { return EnclosureProperties(index_, Record()); }

QVariantMap EnclosureProperties(int index, const client::DeviceStatus& d) {
    return {{"Index", index},
            {"Disk", d.disk},
            {"Device", QString::fromStdString(d.path)},
            {"Model", QString::fromStdString(d.model)},
            {"Firmware", QString::fromStdString(d.firmware)},
            {"Status", client::EncodeStatus(d)}};
}

QVariantMap EnclosureObject::GetSmart(const QVariantMap& options) {
    setDelayedReply(true);
    const int index = index_;
    BusFront& front = front_;
    // The enclosure may go while polkit thinks: the answer uses the front only.
    Authorize(
        front, message(), bus::kActionReadStatus, options, nullptr,
        [&front, index, message = message()] {
            const auto now = front.Current();
            for (const auto& s : now.smart) {
                if (s.index != index) continue;
                front.Connection().send(message.createReply(QVariant(client::EncodeSmart(s))));
                return;
            }
            front.Connection().send(message.createErrorReply(
                bus::kErrorFailed,
                index >= kShownDevices
                    ? "Device" + QString::number(index + 1) +
                          " is not monitored: SMART is read for Device1 and Device2 only"
                    : QString("the service has not read SMART yet; try again in a minute")));
        });
    return {};
}

uint EnclosureObject::CheckFirmware(const QDBusUnixFileDescriptor& image,
                                    const QVariantMap& options, QStringList&, QVariantMap&) {
    setDelayedReply(true);
    EngineRequest request;
    request.kind = EngineRequest::Kind::CheckFirmware;
    request.index = index_;
    AuthorizeImage(front_, message(), bus::kActionReadStatus, std::move(request), image, options);
    return 0;
}

QDBusObjectPath EnclosureObject::Flash(const QDBusUnixFileDescriptor& image,
                                       const QVariantMap& options) {
    setDelayedReply(true);
    EngineRequest request;
    request.kind = EngineRequest::Kind::Flash;
    request.index = index_;
    request.backup = options.value("backup", false).toBool();
    request.starter = message().service().toStdString();
    AuthorizeImage(front_, message(), bus::kActionFlash, std::move(request), image, options);
    return {};
}

QDBusUnixFileDescriptor EnclosureObject::ReadFlash(uint length, const QVariantMap& options) {
    setDelayedReply(true);
    // The whole addressable flash of any known chip; more is a mistake.
    constexpr uint kMaxFlashBytes = 16 * 1024 * 1024;
    if (length > kMaxFlashBytes) {
        connection().send(message().createErrorReply(
            bus::kErrorInvalidArgument,
            "the length must be at most " + QString::number(kMaxFlashBytes) + " bytes"));
        return {};
    }
    EngineRequest request;
    request.kind = EngineRequest::Kind::ReadFlash;
    request.index = index_;
    request.length = length;
    AuthorizeSetting(front_, message(), bus::kActionReadFlash, std::move(request), options);
    return {};
}

JobObject::JobObject(std::shared_ptr<FlashJob> job, int index, QString starter)
    : job_(std::move(job)), index_(index), starter_(std::move(starter)) {}

JobObject::~JobObject() = default;

QDBusObjectPath JobObject::enclosure() const {
    return QDBusObjectPath(QString(bus::kEnclosuresPath) + "/" + QString::number(index_));
}
bool JobObject::finished() const { return job_->Finished(); }
uint JobObject::outcome() const {
    const auto o = job_->Outcome();
    return o ? uint(o->outcome) : 0u;
}
QStringList JobObject::notes() const {
    QStringList list;
    if (const auto o = job_->Outcome())
        for (const auto& n : o->notes) list.push_back(QString::fromStdString(n));
    return list;
}
uint JobObject::progress() const { return job_->Progress(); }
uint JobObject::total() const { return job_->Total(); }

QVariantMap JobObject::Properties() const {
    return {{"Operation", operation()}, {"Enclosure", QVariant::fromValue(enclosure())},
            {"StartedBy", startedBy()}, {"Finished", finished()},
            {"Outcome", outcome()},     {"Notes", notes()},
            {"Progress", progress()},   {"Total", total()}};
}

bool JobObject::FromStarter() {
    if (message().service() == starter_) return true;
    sendErrorReply(bus::kErrorNotAuthorized, "only the client that started the job may do this");
    return false;
}

QDBusUnixFileDescriptor JobObject::GetBackup() {
    if (!FromStarter()) return {};
    const std::vector<std::uint8_t> backup = job_->Backup();
    const int fd = backup.empty() ? -1 : client::SealedMemfd("raid-flash-backup", backup);
    if (fd < 0) {
        sendErrorReply(bus::kErrorFailed, "the backup is not ready");
        return {};
    }
    QDBusUnixFileDescriptor result(fd);  // a duplicate
    ::close(fd);
    return result;
}

void JobObject::ConfirmBackup(bool stored) {
    if (FromStarter()) job_->ConfirmBackup(stored);
}

uint EnclosureObject::SetBuzzer(bool mute, const QVariantMap& options, QStringList&, QVariantMap&) {
    setDelayedReply(true);
    EngineRequest request;
    request.kind = EngineRequest::Kind::SetBuzzer;
    request.index = index_;
    request.mute = mute;
    AuthorizeSetting(front_, message(), bus::kActionSetBuzzer, std::move(request), options);
    return 0;
}

uint EnclosureObject::SetBackupPeriod(const QString& choice, uchar preset, uint days, uint hours,
                                      const QVariantMap& options, QStringList&, QVariantMap&) {
    setDelayedReply(true);
    EngineRequest request;
    request.kind = EngineRequest::Kind::SetBackupPeriod;
    request.index = index_;
    if (choice == "user") {
        request.period.userPeriod = true;
        request.period.days = days;
        request.period.hours = hours;
    } else if (choice == "preset" && preset >= 1 && preset <= 3) {
        request.period.preset = preset;
    } else if (choice != "off") {
        connection().send(message().createErrorReply(
            bus::kErrorFailed, "the choice must be off, preset (1 to 3) or user"));
        return 0;
    }
    AuthorizeSetting(front_, message(), bus::kActionSetBackupPeriod, std::move(request), options);
    return 0;
}

}  // namespace raid::service
