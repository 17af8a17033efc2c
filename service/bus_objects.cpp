#include "service/bus_objects.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <functional>

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

// Checks the caller of `message` with polkit for `action`, then runs
// `granted` (which sends the reply), or answers the refusal. The reply is
// always sent later, from the bus thread.
void Authorize(BusFront& front, const QDBusMessage& message, const char* action,
               const QVariantMap& options, const client::DeviceStatus* enclosure,
               std::function<void()> granted) {
    AuthorizationRequest ask;
    ask.caller = message.service();
    ask.action = action;
    ask.interactive = Interactive(options);
    if (enclosure != nullptr) {
        // For an admin's rule that names one enclosure.
        ask.details.insert("enclosure.model", QString::fromStdString(enclosure->model));
        ask.details.insert("enclosure.device", QString::fromStdString(enclosure->path));
        ask.details.insert("enclosure.firmware", QString::fromStdString(enclosure->firmware));
        // The controller reports no serial of its own; its members' serials
        // name the enclosure's contents.
        ask.details.insert("enclosure.hdd1.serial",
                           QString::fromStdString(enclosure->members[0].serial));
        ask.details.insert("enclosure.hdd2.serial",
                           QString::fromStdString(enclosure->members[1].serial));
    }
    CheckAuthorization(
        front.Connection(), ask,
        [&front, message, granted = std::move(granted)](Verdict verdict, const QString& why) {
            if (verdict == Verdict::Authorized) {
                granted();
            } else {
                front.Connection().send(message.createErrorReply(ErrorNameOf(verdict), why));
            }
        });
}

// A setting: allowed requests go to the monitor loop, which answers them.
void AuthorizeSetting(BusFront& front, const QDBusMessage& message, const char* action,
                      BusRequest request, const QVariantMap& options) {
    const auto now = front.Current();
    if (!now.serving) {
        front.Connection().send(
            message.createErrorReply(bus::kErrorBusy, QString::fromStdString(now.state)));
        return;
    }
    request.message = message;
    const auto* enclosure = front.Device(now, request.index);
    Authorize(front, message, action, options, enclosure,
              [&front, request = std::move(request)] { front.Queue(request); });
}

}  // namespace

QString ManagerObject::version() const { return QString::fromStdString(ShellFlags{}.versionText); }

QString ManagerObject::state() const { return QString::fromStdString(front_.Current().state); }

QDBusObjectPath ManagerObject::FindEnclosure(const QString& disk, const QVariantMap& options) {
    setDelayedReply(true);
    Authorize(front_, message(), bus::kActionReadStatus, options, nullptr,
              [this, disk, message = message()] { Find(message, disk); });
    return {};
}

void ManagerObject::Find(const QDBusMessage& message, const QString& disk) {
    const auto reply = [&](const QDBusMessage& answer) { front_.Connection().send(answer); };
    const auto now = front_.Current();
    const int number = DiskNumberOf(disk, now.disks);
    const bool listed = std::any_of(now.disks.begin(), now.disks.end(),
                                    [number](const auto& d) { return d.number == number; });
    if (!listed)
        return reply(message.createErrorReply(
            bus::kErrorNoSuchDisk,
            disk + " is not one of the physical disks (see 'raidctl disks')"));
    for (const auto& d : now.devices)
        if (d.disk == number)
            return reply(message.createReply(QVariant::fromValue(
                QDBusObjectPath(QString(bus::kEnclosuresPath) + "/" + QString::number(d.index)))));
    QString where = "disk " + QString::number(number);
    for (const auto& d : now.disks)
        if (d.number == number) where += " (" + QString::fromStdString(d.devicePath) + ")";
    reply(message.createErrorReply(bus::kErrorNoEnclosure,
                                   where + " holds no enclosure (see 'raidctl list')"));
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

QVariantMap EnclosureObject::GetSmart(const QVariantMap& options) {
    setDelayedReply(true);
    const int index = index_;
    Authorize(
        front_, message(), bus::kActionReadStatus, options, nullptr,
        [this, index, message = message()] {
            const auto now = front_.Current();
            for (const auto& s : now.smart) {
                if (s.index != index) continue;
                front_.Connection().send(message.createReply(QVariant(client::EncodeSmart(s))));
                return;
            }
            front_.Connection().send(message.createErrorReply(
                bus::kErrorFailed,
                index >= kShownDevices
                    ? "Device" + QString::number(index + 1) +
                          " is not monitored: SMART is read for Device1 and Device2 only"
                    : QString("the service has not read SMART yet; try again in a minute")));
        });
    return {};
}

uint EnclosureObject::SetBuzzer(bool mute, const QVariantMap& options, QStringList&, QVariantMap&) {
    setDelayedReply(true);
    BusRequest request;
    request.kind = BusRequest::Kind::SetBuzzer;
    request.index = index_;
    request.mute = mute;
    AuthorizeSetting(front_, message(), bus::kActionSetBuzzer, std::move(request), options);
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
    AuthorizeSetting(front_, message(), bus::kActionSetBackupPeriod, std::move(request), options);
    return 0;
}

}  // namespace raid::service
