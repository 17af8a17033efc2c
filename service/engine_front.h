#pragma once
// What stands between the engine and its clients: the requests they were
// allowed to make, how each is answered, and where the engine tells what it
// polled. The bus front (service/bus_front.h) is one; a front in the same
// process is another. The engine calls a front only from its own thread,
// except where a method says otherwise.
#include <QDBusConnection>
#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "client/enclosure_access.h"
#include "client/mail_records.h"
#include "firmware/firmware_image.h"
#include "firmware/flash_step.h"
#include "platform/disk.h"

namespace raid::service {

class FlashJob;

// The enclosure a request was allowed for. It runs only on that one:
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

// Whom a request answers: the front that took it keeps there what it needs
// to reply (a bus message, the share of a budget the request holds).
struct RequestCaller {
    virtual ~RequestCaller() = default;
};

// A request a client was allowed to make, waiting for the engine. Moved,
// never copied: it may hold a caller's image.
struct EngineRequest {
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
        // Polls of the enclosure stop or start again: the window's device
        // selectors, in its own process only.
        SetPolled,
    };
    EngineRequest() = default;
    EngineRequest(EngineRequest&&) = default;
    EngineRequest& operator=(EngineRequest&&) = default;
    EngineRequest(const EngineRequest&) = delete;
    EngineRequest& operator=(const EngineRequest&) = delete;

    Kind kind = Kind::SetBuzzer;
    int index = 0;  // the enclosure
    EnclosureTarget target;
    bool mute = false;
    bool polled = true;
    client::PeriodRequest period;
    std::vector<std::uint8_t> image;  // the engine's own copy
    bool backup = false;
    std::uint32_t length = 0;  // ReadFlash: 0 is the whole flash
    client::MailSettingsChanges mailChanges;
    std::string starter;  // who asked, for the service's log
    std::shared_ptr<RequestCaller> caller;
};

// Why a request was not run.
enum class Refusal {
    Failed,           // the enclosure is gone or another, or the command failed
    Busy,             // it is being flashed, or a test mail is under way
    InvalidArgument,  // the request cannot be met as asked
};

// What the engine tells of the enclosures after a poll or a SMART read.
struct EngineSnapshot {
    std::vector<client::DeviceStatus> devices;
    std::vector<platform::DiskInfo> disks;
    unsigned health = 0;
    std::vector<std::string> healthTexts;
    std::vector<client::SmartSectors> smart;  // of the polled enclosures, once read
    client::PollTexts texts;
};

// Which of `snapshot`'s enclosures stands on `disk` (a disk number, a
// device path or a disk's name): `position` in snapshot.devices, or the
// outcome with why (kCannotOpen: no such disk; kFailed: no enclosure on it).
struct EnclosureLookup {
    int position = -1;
    int outcome = client::kDone;
    std::string why;
};
EnclosureLookup LookUpEnclosure(const EngineSnapshot& snapshot, const std::string& disk);

class EngineFront {
public:
    virtual ~EngineFront() = default;

    virtual void Publish(EngineSnapshot snapshot) = 0;
    // What a person at a window in this process would be shown in a box
    // ("No Device found !", with its caption); the service has nobody to
    // show it to, and its log says what matters.
    virtual void Notice(const std::string& /*text*/, const std::string& /*caption*/) {}
    virtual void EventLine(const std::string& line) = 0;
    // Where the engine keeps the event log's day files.
    virtual void SetLogFolder(const std::filesystem::path& folder) = 0;
    virtual std::vector<EngineRequest> TakeRequests() = 0;

    // Each request is answered once: with one of these or with Refuse.
    virtual void Answer(const EngineRequest& request, const client::SettingAnswer& answer) = 0;
    virtual void AnswerCheck(const EngineRequest& request, const client::Answer& answer,
                             const firmware::LoadTexts& texts) = 0;
    virtual void AnswerBytes(const EngineRequest& request,
                             const std::vector<std::uint8_t>& bytes) = 0;
    // A flash: the name of its job, before the job's first event.
    virtual void AnswerJob(const EngineRequest& request, const std::string& job) = 0;
    virtual void AnswerMailSettings(const EngineRequest& request,
                                    const client::MailSettingsAnswer& answer) = 0;
    virtual void AnswerMailChanged(const EngineRequest& request, const client::Answer& answer) = 0;
    // From the thread that sent the mail.
    virtual void AnswerTestMail(const EngineRequest& request, const client::TestMailAnswer& answer,
                                const std::vector<std::string>& transcript) = 0;
    virtual void Refuse(const EngineRequest& request, Refusal refusal, const std::string& why) = 0;

    // Flash jobs: the name the next one gets, its object, and its events
    // (from the job's worker thread).
    virtual std::string NextJobName() = 0;
    virtual void AddJob(const std::string& name, std::shared_ptr<FlashJob> job, int index,
                        const std::string& starter) = 0;
    virtual void JobStep(const std::string& name, const firmware::FlashStep& step) = 0;
    virtual void JobBackupReady(const std::string& name) = 0;
    // `progress`: the job's last, told with the outcome.
    virtual void JobCompleted(const std::string& name, const client::Answer& answer,
                              std::uint32_t progress) = 0;
    // Where a job asks logind to hold off a shutdown while it writes.
    virtual QDBusConnection SystemBus() = 0;
};

}  // namespace raid::service
