#include "service/bus_objects.h"

#include <QDBusConnection>
#include <QDBusMessage>

#include "client/bus_names.h"
#include "client/status_wire.h"
#include "common/state.h"
#include "service/authority.h"
#include "service/bus_front.h"

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
        default:
            return bus::kErrorNotAuthorized;
    }
}

// "2" or "/dev/sdb" (or "sdb") as raidctl's DISK: the disk number, or -1.
int DiskNumberOf(const QString& text, const std::vector<platform::DiskInfo>& disks) {
    bool isNumber = false;
    const int number = text.size() <= 6 ? text.toInt(&isNumber, 10) : -1;
    if (isNumber && number >= 0 && !text.startsWith('+')) return number;
    for (const auto& d : disks)
        if (QString::fromStdString(d.devicePath) == text || QString::fromStdString(d.name) == text)
            return d.number;
    return -1;
}

}  // namespace

QString ManagerObject::version() const { return QString::fromStdString(ShellFlags{}.versionText); }

QString ManagerObject::state() const { return QString::fromStdString(front_.Current().state); }

QDBusObjectPath ManagerObject::FindEnclosure(const QString& disk, const QVariantMap&) {
    const auto now = front_.Current();
    const int number = DiskNumberOf(disk, now.disks);
    const bool listed = std::any_of(now.disks.begin(), now.disks.end(),
                                    [number](const auto& d) { return d.number == number; });
    if (!listed) {
        sendErrorReply(bus::kErrorNoSuchDisk,
                       disk + " is not one of the physical disks (see 'raidctl disks')");
        return {};
    }
    for (const auto& d : now.devices)
        if (d.disk == number)
            return QDBusObjectPath(QString(bus::kEnclosuresPath) + "/" + QString::number(d.index));
    QString where = "disk " + QString::number(number);
    for (const auto& d : now.disks)
        if (d.number == number) where += " (" + QString::fromStdString(d.devicePath) + ")";
    sendErrorReply(bus::kErrorNoEnclosure, where + " holds no enclosure (see 'raidctl list')");
    return {};
}

uint ManagerObject::GetHealth(const QVariantMap&, QStringList& texts) {
    const auto now = front_.Current();
    for (const auto& t : now.healthTexts) texts.push_back(QString::fromStdString(t));
    return now.health;
}

client::ManagedObjects ManagerObject::GetManagedObjects() {
    client::ManagedObjects objects;
    for (const auto* child : findChildren<EnclosureObject*>(QString(), Qt::FindDirectChildrenOnly))
        objects.insert(
            QDBusObjectPath(QString(bus::kEnclosuresPath) + "/" + QString::number(child->index())),
            {{bus::kEnclosureInterface, child->Properties()}});
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

QVariantMap EnclosureObject::Properties() const {
    const client::DeviceStatus d = Record();
    return {{"Index", index_},
            {"Disk", d.disk},
            {"Device", QString::fromStdString(d.path)},
            {"Model", QString::fromStdString(d.model)},
            {"Firmware", QString::fromStdString(d.firmware)},
            {"Status", client::EncodeStatus(d)}};
}

namespace {

// Checks the caller with polkit, then hands the request to the monitor loop,
// or answers the refusal. The reply is always sent later.
void Authorize(BusFront& front, const QDBusMessage& message, const char* action, BusRequest request,
               const QVariantMap& options) {
    const auto now = front.Current();
    if (!now.serving) {
        front.Connection().send(
            message.createErrorReply(bus::kErrorBusy, QString::fromStdString(now.state)));
        return;
    }
    AuthorizationRequest ask;
    ask.caller = message.service();
    ask.action = action;
    ask.interactive = Interactive(options);
    if (const auto* d = front.Device(now, request.index)) {
        ask.details.insert("enclosure.model", QString::fromStdString(d->model));
        ask.details.insert("enclosure.device", QString::fromStdString(d->path));
        ask.details.insert("enclosure.firmware", QString::fromStdString(d->firmware));
    }
    request.message = message;
    CheckAuthorization(front.Connection(), ask,
                       [&front, request = std::move(request)](Verdict verdict, const QString& why) {
                           if (verdict == Verdict::Authorized) {
                               front.Queue(request);
                           } else {
                               front.Connection().send(
                                   request.message.createErrorReply(ErrorNameOf(verdict), why));
                           }
                       });
}

}  // namespace

uint EnclosureObject::SetBuzzer(bool mute, const QVariantMap& options, QStringList&, QVariantMap&) {
    setDelayedReply(true);
    BusRequest request;
    request.kind = BusRequest::Kind::SetBuzzer;
    request.index = index_;
    request.mute = mute;
    Authorize(front_, message(), bus::kActionSetBuzzer, std::move(request), options);
    return 0;
}

uint EnclosureObject::SetBackupPeriod(const QString& choice, uchar preset, uint days, uint hours,
                                      const QVariantMap& options, QStringList&, QVariantMap&) {
    setDelayedReply(true);
    BusRequest request;
    request.kind = BusRequest::Kind::SetBackupPeriod;
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
    Authorize(front_, message(), bus::kActionSetBackupPeriod, std::move(request), options);
    return 0;
}

}  // namespace raid::service
