#pragma once
// The service's front on the system bus. It owns a thread with a Qt event
// loop that holds the connection and the bus objects; the monitor loop, the
// only code that talks to the enclosures, publishes what it polled and takes
// the authorized requests to run them in its own turn, so that no command
// ever interleaves with a poll.
#include <QDBusConnection>
#include <QDBusMessage>
#include <QThread>
#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "client/enclosure_access.h"
#include "client/mail_records.h"
#include "firmware/flash_step.h"
#include "platform/disk.h"
#include "service/authority.h"
#include "service/image_reader.h"

namespace raid::service {

class ManagerObject;
class EnclosureObject;
class FlashJob;

// The enclosure a request was authorized for. It runs only on that one:
// between the check and the run (a password prompt may take minutes) the
// enclosures may have been swapped, and the same index name another.
struct EnclosureTarget {
    std::string identity;  // as the metrics name it
    std::string path;      // its device
    std::string model;
    std::string firmware;
    std::array<std::string, 2> serials;  // its members'

    static EnclosureTarget Of(const client::DeviceStatus& device);
    bool SameEnclosure(const EnclosureTarget& other) const {
        return identity == other.identity && path == other.path && serials == other.serials;
    }
    // "Device1 (model, /dev/sdb, members S1 and S2)".
    std::string Text() const;
};

// A request that polkit allowed, waiting for the monitor loop. Moved, never
// copied: it may hold a caller's image.
struct BusRequest {
    enum class Kind {
        SetBuzzer,
        SetBackupPeriod,
        CheckFirmware,
        Flash,
        ReadFlash,
        // The e-mail settings and the test mail: no enclosure.
        MailSettings,
        SetMailSettings,
        TestMail,
    };
    BusRequest() = default;
    BusRequest(BusRequest&&) = default;
    BusRequest& operator=(BusRequest&&) = default;
    BusRequest(const BusRequest&) = delete;
    BusRequest& operator=(const BusRequest&) = delete;

    Kind kind = Kind::SetBuzzer;
    int index = 0;  // the enclosure
    EnclosureTarget target;
    bool mute = false;
    client::PeriodRequest period;
    std::vector<std::uint8_t> image;  // the service's own copy
    ImageBudget::Ticket imageTicket;  // the image's share of the budget
    bool backup = false;
    std::uint32_t length = 0;  // ReadFlash: 0 is the whole flash
    client::MailSettingsChanges mailChanges;
    QString starter;       // the caller's unique bus name
    QDBusMessage message;  // answered with BusFront::Answer
};

class BusFront {
public:
    BusFront();
    ~BusFront();
    BusFront(const BusFront&) = delete;
    BusFront& operator=(const BusFront&) = delete;

    // Connects to the system bus (DBUS_SYSTEM_BUS_ADDRESS when set), shows
    // what was published so far and owns the service's name. False, with
    // why, when there is no bus or the name is not given to this process.
    // Publish may be called before: it only keeps the snapshot then.
    // `note`: where the front's own lines go (a call refused for a limit).
    bool Start(std::string& why, std::function<void(const std::string&)> note = {});
    // The limits of the checks, before Start.
    void SetCheckLimits(const CheckLimits& limits) { checkLimits_ = limits; }
    void Stop();
    bool Running() const { return manager_ != nullptr; }

    // From the monitor loop: the enclosures as the last poll left them, the
    // machine's disks and the health bits with their texts.
    void Publish(std::vector<client::DeviceStatus> devices, std::vector<platform::DiskInfo> disks,
                 unsigned health, std::vector<std::string> healthTexts,
                 std::vector<client::SmartSectors> smart);
    void EventLine(const std::string& line);
    // "serving", or why calls are answered busy.
    void SetState(const std::string& state, bool serving);
    // Where the monitor keeps the event log's day files; the bus thread
    // serves them itself, as they touch no device.
    void SetLogFolder(const std::filesystem::path& folder);
    std::filesystem::path LogFolder() const;
    std::vector<BusRequest> TakeRequests();
    void Answer(const BusRequest& request, const client::SettingAnswer& answer);
    // CheckFirmware's answer: outcome, notes and the texts of the check.
    void AnswerCheck(const BusRequest& request, int outcome, const std::vector<std::string>& notes,
                     const QVariantMap& texts);
    // ReadFlash's answer: the bytes as a sealed memfd.
    void AnswerBytes(const BusRequest& request, const std::vector<std::uint8_t>& bytes);
    // Flash's answer: the job's path.
    void AnswerJob(const BusRequest& request, const QString& path);
    // GetMailSettings' answer: the settings, or why not.
    void AnswerMailSettings(const BusRequest& request, const client::MailSettingsAnswer& answer);
    // SetMailSettings' answer: nothing, or why not.
    void AnswerMailChanged(const BusRequest& request, const client::Answer& answer);
    // SendTestMail's answer, from the thread that sent it: the exchange too.
    void AnswerTestMail(const BusRequest& request, const client::TestMailAnswer& answer,
                        const std::vector<std::string>& transcript);
    // A refusal of `request` as a D-Bus error (`name`: client/bus_names.h).
    void Refuse(const BusRequest& request, const char* name, const std::string& why);

    // Jobs: the path the next one gets, its events sent as the Job
    // interface's signals, and its object, listed until long after it ends.
    QString NextJobPath();
    void JobStep(const QString& path, const firmware::FlashStep& step);
    void JobBackupReady(const QString& path);
    // `progress`: the job's last, signalled with the outcome.
    void JobCompleted(const QString& path, const client::Answer& answer, std::uint32_t progress);
    void AddJob(const QString& path, std::shared_ptr<FlashJob> job, int index,
                const QString& starter);

    // For the bus objects, in the bus thread.
    struct Snapshot {
        std::vector<client::DeviceStatus> devices;
        std::vector<platform::DiskInfo> disks;
        unsigned health = 0;
        std::vector<std::string> healthTexts;
        std::vector<client::SmartSectors> smart;  // of the monitored enclosures, once read
        std::string state = "starting";
        bool serving = false;
    };
    Snapshot Current() const;
    const client::DeviceStatus* Device(const Snapshot& snapshot, int index) const;
    void Queue(BusRequest request);
    QDBusConnection& Connection() { return connection_; }
    // In the bus thread, once Start has run.
    Authority& Checks() { return *authority_; }
    ImageBudget& Images() { return images_; }
    // Reads `size` bytes of image from `fd` into `request` off the bus
    // thread, then queues it, or refuses it when it cannot be read.
    void ReadThenQueue(BusRequest request, int fd, std::uint64_t size);

private:
    void ApplySnapshot();  // in the bus thread

    QThread thread_;
    QDBusConnection connection_;
    ManagerObject* manager_ = nullptr;  // lives in thread_
    std::vector<EnclosureObject*> enclosures_;
    std::vector<QObject*> jobs_;  // in thread_, oldest first
    std::atomic<unsigned> jobCount_{0};
    std::vector<client::DeviceStatus> shown_;  // what the bus objects show
    Authority* authority_ = nullptr;           // lives in thread_
    CheckLimits checkLimits_;
    ImageBudget images_;

    mutable std::mutex mutex_;
    Snapshot snapshot_;
    std::filesystem::path logFolder_;
    // When each job's progress was last signalled.
    std::map<QString, std::chrono::steady_clock::time_point> progressSent_;

    // Shared with the threads that read images, which may outlive the front.
    struct Inbox {
        std::mutex mutex;
        std::vector<BusRequest> requests;
    };
    std::shared_ptr<Inbox> inbox_ = std::make_shared<Inbox>();
};

}  // namespace raid::service
