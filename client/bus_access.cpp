#include "client/bus_access.h"

#include <unistd.h>

#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusUnixFileDescriptor>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "client/bus_names.h"
#include "client/bus_types.h"
#include "client/mail_wire.h"
#include "client/status_wire.h"
#include "manager1_proxy.h"

namespace raid::client {
namespace {

// Long enough for a person to type a password at polkit's prompt.
constexpr int kInteractiveTimeoutMs = 10 * 60 * 1000;
constexpr int kQuietTimeoutMs = 2 * 60 * 1000;

QVariantMap OptionsOf(const CallOptions& options) {
    return {{bus::kNoInteraction, !options.interactive}};
}

// A D-Bus error as an outcome and a line for the person.
void Refusal(const QDBusError& error, Answer& answer) {
    const QString name = error.name();
    const std::string message = error.message().toStdString();
    if (name == bus::kErrorNotAuthorized || name == bus::kErrorCanObtain ||
        name == bus::kErrorDismissed) {
        answer.outcome = kNotAuthorized;
        answer.authenticationWouldDo = name == bus::kErrorCanObtain;
        answer.notes.push_back("not authorized: " + message);
    } else if (name == bus::kErrorBusy) {
        answer.outcome = kBusy;
        answer.notes.push_back("busy: " + message);
    } else if (name == bus::kErrorInvalidArgument) {
        answer.outcome = kNotSent;
        answer.notes.push_back(message);
    } else if (name == bus::kErrorNoSuchDisk) {
        answer.outcome = kCannotOpen;
        answer.notes.push_back(message);
    } else if (name == bus::kErrorNoEnclosure || name == bus::kErrorFailed) {
        answer.outcome = kFailed;
        answer.notes.push_back(message);
    } else {
        answer.outcome = kUnavailable;
        answer.notes.push_back(NoAnswerText(message));
    }
}

void Nonsense(Answer& answer) {
    answer.outcome = kUnavailable;
    answer.notes.push_back(InvalidAnswerText());
}

// Every object the service lists, with its properties; none after saying
// why in `answer`.
std::optional<ManagedObjects> ManagedObjectsOf(const QDBusConnection& connection, Answer& answer) {
    OrgFreedesktopDBusObjectManagerInterface manager(bus::kServiceName, bus::kManagerPath,
                                                     connection);
    auto reply = manager.GetManagedObjects();
    reply.waitForFinished();
    if (reply.isError()) {
        Refusal(reply.error(), answer);
        return std::nullopt;
    }
    return reply.value();
}

// The statuses of every enclosure object the service lists, by index.
bool ListEnclosures(const QDBusConnection& connection, std::vector<DeviceStatus>& devices,
                    Answer& answer) {
    const auto objects = ManagedObjectsOf(connection, answer);
    if (!objects) return false;
    const auto enclosures = DecodeEnclosures(*objects);
    if (!enclosures) return Nonsense(answer), false;
    for (const auto& [path, status] : *enclosures) devices.push_back(status);
    std::sort(devices.begin(), devices.end(),
              [](const auto& a, const auto& b) { return a.index < b.index; });
    return true;
}

// The enclosure object on `disk`, after checking that there is one.
std::optional<QDBusObjectPath> FindEnclosure(const QDBusConnection& connection,
                                             const std::string& disk, const CallOptions& options,
                                             StatusAnswer& answer) {
    std::vector<DeviceStatus> all;
    if (!ListEnclosures(connection, all, answer)) return std::nullopt;
    if (all.empty()) {
        answer.noneFound = true;
        answer.outcome = kFailed;
        return std::nullopt;
    }
    OrgRaidenclosureManager1ManagerInterface manager(bus::kServiceName, bus::kManagerPath,
                                                     connection);
    // A link such as /dev/disk/by-id/... is followed here, where the caller
    // named it: the service matches the device paths it lists.
    std::string named = disk;
    if (!disk.empty() && disk.front() == '/') {
        std::error_code ec;
        const auto real = std::filesystem::canonical(disk, ec);
        if (!ec) named = real.string();
    }
    auto reply = manager.FindEnclosure(QString::fromStdString(named), OptionsOf(options));
    reply.waitForFinished();
    if (reply.isError()) {
        Refusal(reply.error(), answer);
        // Said of the name the caller gave, as in this process.
        std::string& note = answer.notes.back();
        if (named != disk && reply.error().name() == bus::kErrorNoSuchDisk &&
            note.rfind(named + " ", 0) == 0)
            note.replace(0, named.size(), disk);
        return std::nullopt;
    }
    return reply.value();
}

// FindEnclosure for a call that answers with less than a status: the
// refusal, or that no enclosure is there, said in `answer`.
std::optional<QDBusObjectPath> EnclosureOn(const QDBusConnection& connection,
                                           const std::string& disk, Answer& answer) {
    StatusAnswer found;
    const auto path = FindEnclosure(connection, disk, CallOptions{false}, found);
    if (path) return path;
    answer.outcome = found.outcome;
    answer.notes = found.notes;
    if (found.noneFound)
        answer.notes.push_back("disk " + disk + " holds no enclosure (see 'raidctl list')");
    return std::nullopt;
}

SettingAnswer SettingReply(QDBusPendingReply<uint, QStringList, QVariantMap>& reply) {
    SettingAnswer answer;
    reply.waitForFinished();
    if (reply.isError()) {
        Refusal(reply.error(), answer);
        return answer;
    }
    const uint outcome = reply.argumentAt<0>();
    if (outcome > kNotTaken) return Nonsense(answer), answer;
    answer.outcome = static_cast<int>(outcome);
    for (const QString& note : reply.argumentAt<1>()) answer.notes.push_back(note.toStdString());
    const QVariantMap status = reply.argumentAt<2>();
    if (!status.isEmpty()) {
        const auto decoded = DecodeStatus(status);
        if (!decoded) return Nonsense(answer), answer;
        answer.devices.push_back(*decoded);
    }
    return answer;
}

template <typename Call>
SettingAnswer OnEnclosure(const QDBusConnection& connection, const std::string& disk,
                          const CallOptions& options, Call call) {
    SettingAnswer answer;
    const auto path = FindEnclosure(connection, disk, options, answer);
    if (!path) return answer;
    OrgRaidenclosureManager1EnclosureInterface enclosure(bus::kServiceName, path->path(),
                                                         connection);
    enclosure.setTimeout(options.interactive ? kInteractiveTimeoutMs : kQuietTimeoutMs);
    auto reply = call(enclosure);
    return SettingReply(reply);
}

// The manager, waiting as long as a person at polkit's prompt may take.
struct Manager : OrgRaidenclosureManager1ManagerInterface {
    Manager(const QDBusConnection& connection, const CallOptions& options)
        : OrgRaidenclosureManager1ManagerInterface(bus::kServiceName, bus::kManagerPath,
                                                   connection) {
        setTimeout(options.interactive ? kInteractiveTimeoutMs : kQuietTimeoutMs);
    }
};

// The reply is in, or `answer` says why not.
template <typename Reply>
bool Arrived(Reply& reply, Answer& answer) {
    reply.waitForFinished();
    if (!reply.isError()) return true;
    Refusal(reply.error(), answer);
    return false;
}

}  // namespace

BusAccess::BusAccess(const QDBusConnection& connection) : connection_(connection) {
    RegisterBusTypes();
}

bool BusAccess::ServiceRuns(const QDBusConnection& connection) {
    if (!connection.isConnected()) return false;
    const auto reply = connection.interface()->isServiceRegistered(bus::kServiceName);
    return reply.isValid() && reply.value();
}

StatusAnswer BusAccess::Status(const std::string& disk) {
    StatusAnswer answer;
    std::vector<DeviceStatus> all;
    if (!ListEnclosures(connection_, all, answer)) return answer;
    if (all.empty()) {
        answer.noneFound = true;
        answer.outcome = kFailed;
        return answer;
    }
    if (!disk.empty()) {
        const auto path = FindEnclosure(connection_, disk, CallOptions{false}, answer);
        if (!path) return answer;
        OrgRaidenclosureManager1EnclosureInterface enclosure(bus::kServiceName, path->path(),
                                                             connection_);
        // Every enclosure on that disk, as the in-process status shows them.
        const int diskNumber = enclosure.disk();
        std::erase_if(all, [diskNumber](const DeviceStatus& s) { return s.disk != diskNumber; });
    }
    answer.devices = std::move(all);
    NoteUnansweredPolls(answer);
    return answer;
}

SmartAnswer BusAccess::Smart(const std::string& disk) {
    SmartAnswer answer;
    const auto path = EnclosureOn(connection_, disk, answer);
    if (!path) return answer;
    OrgRaidenclosureManager1EnclosureInterface enclosure(bus::kServiceName, path->path(),
                                                         connection_);
    auto reply = enclosure.GetSmart(OptionsOf(CallOptions{false}));
    reply.waitForFinished();
    if (reply.isError()) {
        Refusal(reply.error(), answer);
        return answer;
    }
    answer.smart = DecodeSmart(reply.value());
    if (!answer.smart) Nonsense(answer);
    return answer;
}

FirmwareCheckAnswer BusAccess::CheckFirmware(const std::string& disk,
                                             const std::vector<std::uint8_t>& image) {
    FirmwareCheckAnswer answer;
    const auto path = EnclosureOn(connection_, disk, answer);
    if (!path) return answer;
    OrgRaidenclosureManager1EnclosureInterface enclosure(bus::kServiceName, path->path(),
                                                         connection_);
    answer.index = enclosure.index();
    const std::string device = enclosure.device().toStdString();
    answer.diskText =
        "disk " + std::to_string(enclosure.disk()) + (device.empty() ? "" : " (" + device + ")");
    const int fd = SealedMemfd("raidctl-firmware", image);
    if (fd < 0) {
        answer.outcome = kFailed;
        answer.notes.push_back("cannot hand the image over: " + std::string(std::strerror(errno)));
        return answer;
    }
    auto reply =
        enclosure.CheckFirmware(QDBusUnixFileDescriptor(fd), OptionsOf(CallOptions{false}));
    ::close(fd);
    reply.waitForFinished();
    if (reply.isError()) {
        Refusal(reply.error(), answer);
        return answer;
    }
    const uint outcome = reply.argumentAt<0>();
    if (outcome != 0 && outcome != 5) return Nonsense(answer), answer;
    answer.outcome = static_cast<int>(outcome);
    for (const QString& note : reply.argumentAt<1>()) answer.notes.push_back(note.toStdString());
    const QVariantMap texts = reply.argumentAt<2>();
    for (const char* key : {"file", "checksum", "deviceCode", "fileCode"}) {
        const QString text = texts.value(key).toString();
        if (!text.isEmpty()) answer.texts.push_back(text.toStdString());
    }
    answer.checksum = texts.value("checksum").toString().toStdString();
    answer.deviceCode = texts.value("deviceCode").toString().toStdString();
    answer.fileCode = texts.value("fileCode").toString().toStdString();
    return answer;
}

FlashAnswer BusAccess::Flash(const std::string& disk, const std::vector<std::uint8_t>& image,
                             bool backup, FlashHandlers handlers, const CallOptions& options) {
    FlashAnswer answer;
    StatusAnswer found;
    const auto path = FindEnclosure(connection_, disk, CallOptions{false}, found);
    if (!path) {
        answer.outcome = found.outcome;
        answer.notes = found.notes;
        return answer;
    }
    FlashFollower follower(connection_, std::move(handlers));
    return follower.Run(path->path(), image, backup, options);
}

FlashReadAnswer BusAccess::ReadFlash(const std::string& disk, std::uint32_t length,
                                     const CallOptions& options) {
    // As much as the service may send: the whole addressable flash.
    constexpr std::size_t kMaxFlashBytes = 16 * 1024 * 1024;
    FlashReadAnswer answer;
    const auto path = EnclosureOn(connection_, disk, answer);
    if (!path) return answer;
    OrgRaidenclosureManager1EnclosureInterface enclosure(bus::kServiceName, path->path(),
                                                         connection_);
    enclosure.setTimeout(options.interactive ? kInteractiveTimeoutMs : kQuietTimeoutMs);
    auto reply = enclosure.ReadFlash(length, OptionsOf(options));
    reply.waitForFinished();
    if (reply.isError()) {
        Refusal(reply.error(), answer);
        return answer;
    }
    const QDBusUnixFileDescriptor fd = reply.value();
    auto bytes = fd.isValid() ? ReadAll(fd.fileDescriptor(), kMaxFlashBytes) : std::nullopt;
    if (!bytes || bytes->empty() || (length != 0 && bytes->size() != length))
        return Nonsense(answer), answer;
    answer.bytes = std::move(*bytes);
    return answer;
}

JobsAnswer BusAccess::Jobs() {
    JobsAnswer answer;
    auto& jobs = answer.jobs;
    const auto objects = ManagedObjectsOf(connection_, answer);
    if (!objects) return answer;
    for (auto it = objects->cbegin(); it != objects->cend(); ++it) {
        const auto iface = it->constFind(bus::kJobInterface);
        if (iface == it->cend()) continue;
        JobRecord job;
        job.path = it.key().path().toStdString();
        const QString enclosure = iface->value("Enclosure").value<QDBusObjectPath>().path();
        bool ok = false;
        job.index = enclosure.section('/', -1).toInt(&ok);
        if (!ok) job.index = -1;
        job.finished = iface->value("Finished").toBool();
        job.outcome = static_cast<int>(iface->value("Outcome").toUInt());
        for (const QString& n : iface->value("Notes").toStringList())
            job.notes.push_back(n.toStdString());
        job.progress = iface->value("Progress").toUInt();
        job.total = iface->value("Total").toUInt();
        jobs.push_back(std::move(job));
    }
    // By number: /jobs/2 before /jobs/10.
    std::sort(jobs.begin(), jobs.end(), [](const JobRecord& a, const JobRecord& b) {
        return std::pair(a.path.size(), a.path) < std::pair(b.path.size(), b.path);
    });
    return answer;
}

SettingAnswer BusAccess::SetBuzzer(const std::string& disk, bool mute, const CallOptions& options) {
    return OnEnclosure(connection_, disk, options, [&](auto& enclosure) {
        return enclosure.SetBuzzer(mute, OptionsOf(options));
    });
}

SettingAnswer BusAccess::SetBackupPeriod(const std::string& disk, const PeriodRequest& period,
                                         const CallOptions& options) {
    const QString choice = period.userPeriod ? "user" : period.preset == 0 ? "off" : "preset";
    return OnEnclosure(connection_, disk, options, [&](auto& enclosure) {
        return enclosure.SetBackupPeriod(choice, period.preset, period.days, period.hours,
                                         OptionsOf(options));
    });
}

MailSettingsAnswer BusAccess::MailSettings(const CallOptions& options) {
    MailSettingsAnswer answer;
    auto reply = Manager(connection_, options).GetMailSettings(OptionsOf(options));
    if (!Arrived(reply, answer)) return answer;
    const auto decoded = DecodeMailSettings(reply.value());
    if (!decoded) return Nonsense(answer), answer;
    answer.settings = *decoded;
    return answer;
}

DayFilesAnswer BusAccess::DayFiles() {
    DayFilesAnswer answer;
    auto reply =
        Manager(connection_, CallOptions{false}).ListDayFiles(OptionsOf(CallOptions{false}));
    if (!Arrived(reply, answer)) return answer;
    for (const QString& name : reply.value()) answer.names.push_back(name.toStdString());
    return answer;
}

DayFileAnswer BusAccess::ReadDayFile(const std::string& name) {
    DayFileAnswer answer;
    auto reply = Manager(connection_, CallOptions{false})
                     .ReadDayFile(QString::fromStdString(name), OptionsOf(CallOptions{false}));
    if (!Arrived(reply, answer)) return answer;
    const QByteArray bytes = reply.value();
    answer.bytes.assign(bytes.begin(), bytes.end());
    return answer;
}

Answer BusAccess::SetMailSettings(const MailSettingsChanges& changes, const CallOptions& options) {
    Answer answer;
    auto reply = Manager(connection_, options)
                     .SetMailSettings(EncodeMailChanges(changes), OptionsOf(options));
    Arrived(reply, answer);
    return answer;
}

TestMailAnswer BusAccess::SendTestMail(const CallOptions& options,
                                       const std::function<void(const std::string&)>& transcript) {
    TestMailAnswer answer;
    // Every stage of the exchange may take the settings' time-out; the
    // service answers once it is over.
    Manager manager(connection_, CallOptions{true});
    auto reply = manager.SendTestMail(OptionsOf(options));
    if (!Arrived(reply, answer)) return answer;
    const uint outcome = reply.argumentAt<0>();
    if (outcome != kDone && outcome != kFailed) return Nonsense(answer), answer;
    for (const QString& line : reply.argumentAt<1>()) transcript(line.toStdString());
    answer.outcome = static_cast<int>(outcome);
    auto& notes = outcome == kDone ? answer.warnings : answer.notes;
    for (const QString& note : reply.argumentAt<2>()) notes.push_back(note.toStdString());
    answer.sentTo = reply.argumentAt<3>().toStdString();
    return answer;
}

}  // namespace raid::client
