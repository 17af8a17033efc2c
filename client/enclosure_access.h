#pragma once
// The one way the command line (and later the window) acts on enclosures.
// Two implementations: in this process, opening the disks (service/
// local_access.h, when no service runs), and through the service on the
// system bus (client/bus_access.h). Callers print an answer the same way
// whichever served it, so output and exit codes match in both modes.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "client/enclosure_records.h"
#include "firmware/flash_step.h"

namespace raid::client {

// What an operation came to. The values are raidctl's exit codes; the
// service sends them as they are (docs/dbus-interface.md).
enum Outcome : int {
    kDone = 0,
    kNotSent = 1,       // the enclosure has no such setting, or it does not fit
    kCannotOpen = 2,    // DISK is not a disk, or disks could not be opened
    kFailed = 3,        // no enclosure, or the command or its poll failed
    kSmartError = 4,    // a member's SMART verdict is Error
    kRefused = 5,       // the firmware image is not for the enclosure
    kNotTaken = 6,      // answered, but the enclosure still has its old setting
    kUnavailable = 69,  // the service went away or answered nonsense
    kBusy = 75,         // the enclosure or the service is busy
    kNotAuthorized = 77,
};

struct Answer {
    int outcome = kDone;
    // Why, one line each, for a person (raidctl puts "raidctl: " before each).
    std::vector<std::string> notes;
    // Refused by polkit, but a password would do: a caller at a terminal may
    // start an authentication agent and ask again.
    bool authenticationWouldDo = false;
};

struct StatusAnswer : Answer {
    // Empty with `noneFound`: no enclosure ("No Drive found! "); `problem`
    // then says why when disks could not be opened.
    std::vector<DeviceStatus> devices;
    bool noneFound = false;
    std::string problem;
    // In this process only: what the last poll and discovery showed.
    PollTexts texts;
};

// Every polled enclosure of `answer.devices` whose poll failed: a note
// ("Device1 (disk 2 (/dev/sdb)) did not answer the status poll"), and the
// answer fails.
void NoteUnansweredPolls(StatusAnswer& answer);

// A setting: `devices` holds the enclosure as the poll after it read it,
// when it came that far.
using SettingAnswer = StatusAnswer;

struct SmartAnswer : Answer {
    std::optional<SmartSectors> smart;
};

struct HealthAnswer : Answer {
    unsigned mask = 0;  // the health bits of `monitor --once`
};

// backup-period's choice: off, preset 1..3, or a user period.
struct PeriodRequest {
    std::uint8_t preset = 0;  // 0: off (unless userPeriod)
    bool userPeriod = false;
    std::uint32_t days = 0;
    std::uint32_t hours = 0;
};

// check-firmware: the load's lines (checksum, codes) for the enclosure.
struct FirmwareCheckAnswer : Answer {
    std::vector<std::string> texts;  // in order, for standard output
    // The same by name, for the window's status panels ("Chksum:...",
    // "F:...", "C:..."); empty when the check did not set one.
    std::string checksum;
    std::string deviceCode;
    std::string fileCode;
    int index = -1;        // the enclosure: 0 = Device1
    std::string diskText;  // "disk 2 (/dev/sdb)"
};

// read-flash: the first bytes of the enclosure's flash.
struct FlashReadAnswer : Answer {
    std::vector<std::uint8_t> bytes;
};

struct FlashAnswer : Answer {
    bool detached = false;  // stopped following; the job goes on in the service
    std::string job;        // the job's object path, through the service
};

// jobs: the service's firmware jobs, running and lately ended, oldest first.
struct JobsAnswer : Answer {
    std::vector<JobRecord> jobs;
};

// What a flash tells its caller as it runs.
struct FlashHandlers {
    // One thing the upgrade shows, as it shows it.
    std::function<void(const firmware::FlashStep&)> step;
    // The bytes to be erased: true once they are stored. Nothing is erased
    // before.
    std::function<bool(const std::vector<std::uint8_t>& backup)> keepBackup;
    // Asked several times a second: true when the caller wants to stop. In
    // this process the upgrade stops there if nothing is erased yet and goes
    // on otherwise; through the service the caller stops following and the
    // job goes on.
    std::function<bool()> detach;
};

// The service's event log: the names of its day files ("yymmdd.log"), and
// one file's bytes.
struct DayFilesAnswer : Answer {
    std::vector<std::string> names;
};
struct DayFileAnswer : Answer {
    std::vector<std::uint8_t> bytes;
};

// How a caller wants to be asked for a password, where one is needed.
struct CallOptions {
    bool interactive = true;
};

// client/mail_records.h
struct MailSettingsAnswer;
struct MailSettingsChanges;
struct TestMailAnswer;

class EnclosureAccess {
public:
    virtual ~EnclosureAccess() = default;
    // The enclosures (all, or the one on `disk`: a number or a device path)
    // after a status poll.
    virtual StatusAnswer Status(const std::string& disk) = 0;
    // The SMART sectors of the enclosure on `disk`: read now in this
    // process, or as the service last read them (at most a minute ago).
    virtual SmartAnswer Smart(const std::string& disk) = 0;
    virtual SettingAnswer SetBuzzer(const std::string& disk, bool mute,
                                    const CallOptions& options) = 0;
    virtual SettingAnswer SetBackupPeriod(const std::string& disk, const PeriodRequest& period,
                                          const CallOptions& options) = 0;

    // Whether `image` would be accepted for the enclosure on `disk`; the
    // image is read by the caller, as the calling user.
    virtual FirmwareCheckAnswer CheckFirmware(const std::string& disk,
                                              const std::vector<std::uint8_t>& image) = 0;
    // The first `length` bytes of the enclosure's flash (0: the whole flash).
    virtual FlashReadAnswer ReadFlash(const std::string& disk, std::uint32_t length,
                                      const CallOptions& options) = 0;
    // Rewrites the enclosure's firmware with `image`; with `backup`, the bytes
    // to be erased go to handlers.keepBackup first.
    virtual FlashAnswer Flash(const std::string& disk, const std::vector<std::uint8_t>& image,
                              bool backup, FlashHandlers handlers, const CallOptions& options) = 0;
    // True when a flash goes on after its caller stops following it.
    virtual bool FlashOutlivesCaller() const = 0;
    // The flashes that went on without a caller to tell: the service's jobs.
    // In this process there are none, as a flash ends with its caller.
    virtual JobsAnswer Jobs() = 0;

    // The e-mail settings (client/mail_records.h) and the test mail, whose
    // exchange goes to `transcript` line by line.
    virtual MailSettingsAnswer MailSettings(const CallOptions& options) = 0;
    virtual Answer SetMailSettings(const MailSettingsChanges& changes,
                                   const CallOptions& options) = 0;
    virtual TestMailAnswer SendTestMail(
        const CallOptions& options, const std::function<void(const std::string&)>& transcript) = 0;

    // Stops or starts again the polls of the enclosure on `disk`: the
    // window's device selectors. Only the engine in the window's own
    // process takes it; the service polls what it watches.
    virtual Answer SetPolled(const std::string& /*disk*/, bool /*polled*/) {
        Answer answer;
        answer.outcome = kNotSent;
        answer.notes = {"the service chooses which enclosures it polls"};
        return answer;
    }

    // The event log's day files, where a service keeps them; in this
    // process the window reads its own log folder instead.
    virtual DayFilesAnswer DayFiles() { return NotKept<DayFilesAnswer>(); }
    virtual DayFileAnswer ReadDayFile(const std::string& /*name*/) {
        return NotKept<DayFileAnswer>();
    }

private:
    template <typename A>
    static A NotKept() {
        A answer;
        answer.outcome = kNotSent;
        answer.notes = {"no event log is kept here"};
        return answer;
    }
};

}  // namespace raid::client
