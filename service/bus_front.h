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
#include "service/engine_front.h"
#include "service/image_reader.h"

namespace raid::service {

class ManagerObject;
class EnclosureObject;

// A request's caller on the bus: the call to answer, and the share of the
// image budget its image holds while the request lives.
struct BusCaller final : RequestCaller {
    explicit BusCaller(QDBusMessage call) : message(std::move(call)) {}
    QDBusMessage message;
    ImageBudget::Ticket imageTicket;
};

// The call a request taken by the bus front came in.
const QDBusMessage& CallOf(const EngineRequest& request);

class BusFront final : public EngineFront {
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

    // EngineFront.
    void Publish(EngineSnapshot snapshot) override;
    void EventLine(const std::string& line) override;
    // The bus thread serves the day files itself, as they touch no device.
    void SetLogFolder(const std::filesystem::path& folder) override;
    std::vector<EngineRequest> TakeRequests() override;
    void Answer(const EngineRequest& request, const client::SettingAnswer& answer) override;
    void AnswerCheck(const EngineRequest& request, const client::Answer& answer,
                     const firmware::LoadTexts& texts) override;
    // The bytes go as a sealed memfd.
    void AnswerBytes(const EngineRequest& request, const std::vector<std::uint8_t>& bytes) override;
    void AnswerJob(const EngineRequest& request, const std::string& job) override;
    void AnswerMailSettings(const EngineRequest& request,
                            const client::MailSettingsAnswer& answer) override;
    void AnswerMailChanged(const EngineRequest& request, const client::Answer& answer) override;
    void AnswerTestMail(const EngineRequest& request, const client::TestMailAnswer& answer,
                        const std::vector<std::string>& transcript) override;
    void Refuse(const EngineRequest& request, Refusal refusal, const std::string& why) override;
    // A job's name is its object path; its events are the Job interface's
    // signals, and its object is listed until long after it ends.
    std::string NextJobName() override;
    void AddJob(const std::string& name, std::shared_ptr<FlashJob> job, int index,
                const std::string& starter) override;
    void JobStep(const std::string& name, const firmware::FlashStep& step) override;
    void JobBackupReady(const std::string& name) override;
    void JobCompleted(const std::string& name, const client::Answer& answer,
                      std::uint32_t progress) override;
    QDBusConnection SystemBus() override { return connection_; }

    // "serving", or why calls are answered busy.
    void SetState(const std::string& state, bool serving);
    std::filesystem::path LogFolder() const;
    // A refusal of the call `request` came in as a D-Bus error (`name`:
    // client/bus_names.h).
    void Refuse(const EngineRequest& request, const char* name, const std::string& why);

    // For the bus objects, in the bus thread.
    struct Snapshot : EngineSnapshot {
        std::string state = "starting";
        bool serving = false;
    };
    Snapshot Current() const;
    const client::DeviceStatus* Device(const Snapshot& snapshot, int index) const;
    void Queue(EngineRequest request);
    QDBusConnection& Connection() { return connection_; }
    // In the bus thread, once Start has run.
    Authority& Checks() { return *authority_; }
    ImageBudget& Images() { return images_; }
    // Reads `size` bytes of image from `fd` into `request` off the bus
    // thread, then queues it, or refuses it when it cannot be read.
    void ReadThenQueue(EngineRequest request, int fd, std::uint64_t size);

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
    std::map<std::string, std::chrono::steady_clock::time_point> progressSent_;

    // Shared with the threads that read images, which may outlive the front.
    struct Inbox {
        std::mutex mutex;
        std::vector<EngineRequest> requests;
    };
    std::shared_ptr<Inbox> inbox_ = std::make_shared<Inbox>();
};

}  // namespace raid::service
