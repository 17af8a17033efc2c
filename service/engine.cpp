#include "service/engine.h"

#include <algorithm>
#include <array>
#include <optional>
#include <ostream>
#include <system_error>
#include <thread>

#include "device/channel.h"
#include "discovery/device_change_debounce.h"
#include "discovery/device_report.h"
#include "discovery/discovery_host.h"
#include "discovery/drive_enum.h"
#include "discovery/headless.h"
#include "discovery/probe.h"
#include "firmware/checked_device.h"
#include "firmware/firmware_image.h"
#include "firmware/flash_read.h"
#include "firmware/upgrade.h"
#include "monitor/dispatcher.h"
#include "monitor/status_poll.h"
#include "platform/small_file.h"
#include "service/enclosure_settings.h"
#include "service/engine_front.h"
#include "service/flash_job.h"
#include "service/journal_entries.h"
#include "service/log_monitor_host.h"
#include "service/mail_access.h"
#include "service/monitor_mail.h"
#include "service/monitor_report.h"
#include "smart/attributes.h"
#include "smart/countdown.h"
#include "smart/read_smart.h"
#include "smart/smart_host.h"
#include "smart/smart_state.h"

namespace raid::service {
namespace {

using discovery::DiskText;

constexpr std::uint32_t kSmartTickMs = 1000;
constexpr std::uint32_t kPingMs = 1000;

std::string DeviceName(int index) { return "Device" + std::to_string(index + 1); }

// How many of the enclosures discovery found the engine watches: the one
// place that limits it (the poll's selectors hold Device1 and Device2).
int WatchedCount(const AppState& state) {
    return std::min(state.discovery.deviceCount, kShownDevices);
}

// Says on `err` when a monitored device stops answering and when it answers
// again; the event log has no line for either.
class AnswerWatch {
public:
    void Update(const AppState& state, const LogMonitorHost& host,
                const std::vector<platform::DiskInfo>& disks, std::ostream& err) {
        const int polled = WatchedCount(state);
        if (enclosures_.size() < static_cast<std::size_t>(polled))
            enclosures_.resize(static_cast<std::size_t>(polled));
        for (int i = 0; i < polled; ++i) {
            if (!host.IsSelectorChecked(i)) continue;
            const bool answered = Answered(state, i);
            Answering& e = enclosures_[static_cast<std::size_t>(i)];
            if (!answered && !e.silent) {
                ++e.failures;
                err << "raidctl: " << DeviceName(i) << " ("
                    << DiskText(state.discovery.DiskOf(i), disks)
                    << ") did not answer the status poll\n";
            } else if (!answered) {
                ++e.failures;
            } else if (e.silent) {
                err << "raidctl: " << DeviceName(i) << " answers again\n";
            }
            e.silent = !answered;
        }
    }
    // A new device table: what was said of the old devices no longer holds.
    void Reset() { enclosures_.clear(); }
    std::uint64_t Failures(int index) const {
        const auto i = static_cast<std::size_t>(index);
        return i < enclosures_.size() ? enclosures_[i].failures : 0;
    }

    static bool Answered(const AppState& state, int index) {
        return (state.monitor.changedDeviceMask & (1u << index)) != 0;
    }

private:
    struct Answering {
        bool silent = false;
        std::uint64_t failures = 0;
    };
    std::vector<Answering> enclosures_;
};

void DescribeRun(const AppState& state, const std::vector<platform::DiskInfo>& disks,
                 const std::filesystem::path& logDir, const RunPlan& plan, std::ostream& err) {
    const auto& d = state.discovery;
    err << "raidctl: monitoring";
    for (int i = 0; i < WatchedCount(state); ++i)
        err << (i ? ", " : " ") << DeviceName(i) << " (" << DiskText(d.DiskOf(i), disks) << ")";
    err << "; a poll every " << plan.intervalMs << " ms";
    if (plan.polls != 0) err << ", " << plan.polls << (plan.polls == 1 ? " poll" : " polls");
    err << "; event log in " << logDir.string() << "\n";
    if (d.deviceCount > WatchedCount(state))
        err << "raidctl: only Device1 and Device2 are monitored; "
            << d.deviceCount - WatchedCount(state) << " more found\n";
}

SmartVerdict VerdictOf(const smart::SmartState& tables, int device, int member) {
    if (!tables.dataRead || !tables.thresholdsRead) return SmartVerdict::Unknown;
    const smart::SmartView view = smart::BuildSmartView(tables.DataBlock(device, member),
                                                        tables.ThresholdBlock(device, member),
                                                        tables.Word106Code(device, member));
    if (view.rows.empty()) return SmartVerdict::Unknown;
    if ((view.overall & smart::kStatusError) != 0) return SmartVerdict::Error;
    return view.overall < 2 ? SmartVerdict::Good : SmartVerdict::Warning;
}

}  // namespace

// The engine's loop: the polls' and SMART reads' timers as deadlines on one
// thread's clock, and the subsystems' hosts with nothing to show.
class Engine::Loop final : private discovery::DiscoveryHost, private smart::SmartHost {
public:
    Loop(RunContext& ctx, const RunPlan& plan, const MonitorOptions& options)
        : ctx_(ctx),
          plan_(plan),
          options_(options),
          clock_(ctx.clock, std::this_thread::get_id(), [this] { CheckInterrupt(); }),
          ch_(ctx.disks, clock_),
          host_(
              LogContext(), [this](const std::string& line) { PrintLine(line); },
              [this](int index) { SayDropped(index); }) {
        if (plan.verbose)
            host_.trace = [this](const std::string& text) {
                ctx_.err << "raidctl: poll " << text << "\n";
            };
        host_.showPanel = [this](int panel, const std::string& text) { SetPanel(panel, text); };
        host_.showMessage = [this](const std::string& text, const std::string& caption) {
            if (options_.front) options_.front->Notice(text, caption);
        };
        notices_.message = host_.showMessage;
        notices_.statusText = [this](const std::string& text) { SetPanel(4, text); };
    }

    // Engine's steps (engine.h).
    std::optional<int> Start();
    bool Turn();
    // Sleeps to the next deadline; false when a stop was asked first.
    bool Wait();
    int Finish();
    int Run();

private:
    eventlog::EventLogContext LogContext() {
        return eventlog::EventLogContext{
            state_,
            ctx_.clock,
            options_.logDir,
            "RAID GUI " + state_.shell.versionText,
            options_.timeStamp,
            [this](int kind, int device, int member) { RaiseMail(kind, device, member); },
            [this](const std::string& message) { ctx_.err << "raidctl: " << message << "\n"; },
        };
    }

    void PrintLine(const std::string& line) {
        if (options_.front) options_.front->EventLine(line);
        if (options_.journal) {
            journal_.Line(line);
        } else if (plan_.printLine) {
            plan_.printLine(done_ + 1, line);
        } else {
            ctx_.out << line << "\n";
        }
    }
    void SayDropped(int index) {
        ctx_.err << "raidctl: " << DeviceName(index)
                 << " did not answer repeatedly and is no longer monitored\n";
    }

    bool StopRequested() { return options_.stop && options_.stop(done_); }
    void RaiseMail(int kind, int device, int member) {
        if (mail_) {
            mail_->Raise(kind, device, member);
        } else if (options_.raiseMail) {
            options_.raiseMail(kind, device, member);
        }
    }
    void Say(const std::string& text) { ctx_.err << "raidctl: " << text << "\n"; }
    // At the end: a send under way is waited for, unless monitoring was
    // interrupted.
    void FinishMail();
    // At the end: a flash is never cut short.
    void WaitForJobs();
    void CheckInterrupt() {
        if (options_.interrupted && options_.interrupted()) state_.shell.closing = true;
    }
    void Notify(const std::string& what) {
        if (options_.notify) options_.notify(what);
    }
    // Clients are served once what they would be told is true; until the
    // first poll that asked the enclosures, they would hear of polls that
    // did not answer.
    void ServeClients() {
        if (serving_) return;
        serving_ = true;
        if (options_.serveClients) options_.serveClients();
    }
    bool AnyToPoll() const {
        for (int i = 0; i < WatchedCount(state_); ++i)
            if (host_.IsSelectorChecked(i)) return true;
        return false;
    }
    // The watchdog hears from the loop after every poll and at least once a
    // second while it waits, also with no enclosure to poll; a poll that
    // hangs stops the pings.
    void Ping() {
        lastPing_ = ctx_.clock.NowMs();
        Notify("WATCHDOG=1");
    }

    void ServePoll();
    void AfterPoll();
    // The bus: what the last poll read, and the requests polkit allowed.
    void Publish();
    void ServeEngineRequests();
    // The e-mail settings and the test mail: false for any other request.
    bool ServeMailRequest(EngineRequest& request);
    // Firmware: a check answered at once, a flash as a job of its own.
    void CheckFirmware(const EngineRequest& request);
    void StartFlash(const EngineRequest& request, const std::string& where);
    // A read of the flash, in this turn as any other command.
    void ReadFlash(const EngineRequest& request);
    void EndFinishedJobs();
    bool Flashing(int index) const;
    void ServeDeviceChanges(std::uint64_t now);
    MonitorReport Report() const;
    // A turn of the poll interval with nothing to poll: the metrics say so.
    void EmptyPoll();
    // The end of --once: the health bits said and returned.
    int SayHealth(unsigned mask);
    void WriteMetrics() {
        if (!options_.metricsFile.empty()) WriteMetrics(Report());
    }
    void WriteMetrics(const MonitorReport& report);
    // The state in a line, when it changed.
    void TellStatus(const MonitorReport& report) {
        std::string status = StatusText(report);
        if (status == lastStatus_) return;
        Notify("STATUS=" + status);
        lastStatus_ = std::move(status);
    }
    // The log lines gathered since the last call, as journal entries.
    void TellJournal() {
        if (!options_.journal) return;
        for (const JournalEntry& entry : journal_.Take()) options_.journal(entry);
    }

    void SetPanel(int panel, const std::string& text) {
        if (panel < 0 || panel >= static_cast<int>(texts_.panels.size())) return;
        texts_.panels[static_cast<std::size_t>(panel)] = text;
        texts_.panelsSet |= static_cast<std::uint8_t>(1u << panel);
    }
    client::PollTexts Texts() const {
        client::PollTexts texts = texts_;
        texts.detecting = state_.shell.detectBusy.load();
        return texts;
    }
    // A selector ticked or unticked in the window's process.
    void SetPolled(const EngineRequest& request);
    // The first discovery: at once, or armed for the loop's turns.
    void DiscoverFirst();

    // DiscoveryHost: no window; the selectors are the poll host's.
    void SetStatusPanel(int panel, const std::string& text) override { SetPanel(panel, text); }
    void SetDeviceSelector(int index, bool present) override {
        if (index >= 0 && index < kShownDevices)
            host_.selectors[static_cast<std::size_t>(index)] = present;
    }
    std::string DetectionNoticeText() const override { return texts_.notice; }
    bool DetectionNoticeVisible() const override { return texts_.noticeVisible; }
    void SetDetectionNoticeText(const std::string& text) override { texts_.notice = text; }
    void SetDetectionNoticeVisible(bool visible) override { texts_.noticeVisible = visible; }
    void SetPageButtonsEnabled(bool) override {}
    void SetUpgradeButtonEnabled(bool) override {}
    void ShowEventLogButton() override {}
    void RefreshDeviceSummary() override;
    void ShowStatusPage() override {}
    void SetStatusTimeReference(TimePoint) override {}
    void EnablePollTimers() override;
    void StopSmartCountdown() override { smartTicking_ = false; }
    int CountLogicalDrives() override {
        return discovery::ListLogicalDrives(state_.discovery, ctx_.disks);
    }
    int CountPhysicalDisks() override { return discovery::CountPhysicalDisks(ch_); }
    TimePoint Now() override { return ctx_.clock.WallNow(); }
    void RaiseMailEvent(int kind, int device, int member) override {
        RaiseMail(kind, device, member);
    }
    void Pump() override { CheckInterrupt(); }

    // SmartHost: the SMART page is never shown.
    bool DeviceSwitchInProgress() const override { return false; }
    bool IsSelectorChecked(int index) const override { return host_.IsSelectorChecked(index); }
    int SelectedDevice() const override { return 0; }
    bool SmartPageShown() const override { return false; }
    void ShowSmartPage() override {}

    RunContext& ctx_;
    const RunPlan& plan_;
    const MonitorOptions& options_;
    AppState state_;
    smart::SmartState smart_;
    platform::PumpingClock clock_;
    device::CommandChannel ch_;
    LogMonitorHost host_;
    monitor::MonitorHandlers handlers_;
    AnswerWatch answers_;
    std::vector<platform::DiskInfo> disks_;
    std::unique_ptr<MonitorMail> mail_;
    // Which enclosure an event names, beyond its number: what the journal's
    // reader filters on.
    EventJournal journal_{[this](int index) {
        std::vector<platform::JournalField> fields;
        if (index >= WatchedCount(state_)) return fields;
        const DeviceStatus s = DescribeDevice(state_, index, disks_);
        // The metrics' `enclosure` label: one name to look for in both.
        fields.push_back({"ENCLOSURE_ID", EnclosureIdentity(state_, index, disks_)});
        if (const platform::DiskInfo* info = DiskInfoOf(state_, index, disks_);
            info != nullptr && !info->serial.empty())
            fields.push_back({"ENCLOSURE_SERIAL", info->serial});
        fields.push_back({"ENCLOSURE_MODEL", s.model});
        if (!s.path.empty()) fields.push_back({"ENCLOSURE_DISK", s.path});
        return fields;
    }};
    std::vector<std::shared_ptr<FlashJob>> jobs_;  // running
    bool serving_ = false;
    std::string lastStatus_;
    discovery::Notices notices_;
    client::PollTexts texts_;
    client::PollTexts publishedTexts_;
    bool following_ = false;

    std::uint32_t done_ = 0;
    bool polling_ = false;
    bool smartTicking_ = false;
    std::uint64_t nextPoll_ = 0;
    std::uint64_t nextChangeTick_ = 0;
    std::uint64_t nextSmartTick_ = 0;
    std::uint64_t lastPing_ = 0;
    std::optional<TimePoint> lastPollEnd_;
};

void Engine::Loop::RefreshDeviceSummary() {
    // A discovery after a device change: say what is monitored now.
    disks_ = ctx_.disks.ListDisks();
    answers_.Reset();
    DescribeRun(state_, disks_, options_.logDir, plan_, ctx_.err);
}

void Engine::Loop::EnablePollTimers() {
    polling_ = true;
    smartTicking_ = true;
    const std::uint64_t now = ctx_.clock.NowMs();
    nextPoll_ = now + plan_.intervalMs;
    nextSmartTick_ = now + kSmartTickMs;
}

void Engine::Loop::ServePoll() {
    const bool first = state_.shell.firstStatusPending.load();
    nextPoll_ = ctx_.clock.NowMs() + plan_.intervalMs;
    monitor::StatusPoll(state_, ch_, clock_, host_);
    if (state_.shell.closing.load()) return;  // cut short: nothing to count
    ++done_;
    // The first poll only reports the devices for the start header.
    if (!first) answers_.Update(state_, host_, disks_, ctx_.err);
    AfterPoll();
    if (!first) ServeClients();
}

void Engine::Loop::AfterPoll() {
    lastPollEnd_ = ctx_.clock.WallNow();
    const MonitorReport report = Report();
    WriteMetrics(report);
    Publish();
    Ping();
    TellJournal();
    TellStatus(report);
    ctx_.out.flush();
    ctx_.err.flush();
}

void Engine::Loop::EmptyPoll() {
    nextPoll_ = ctx_.clock.NowMs() + plan_.intervalMs;
    lastPollEnd_ = ctx_.clock.WallNow();
    WriteMetrics();
}

MonitorReport Engine::Loop::Report() const {
    MonitorReport report;
    report.lastPollEnd = lastPollEnd_;
    for (int i = 0; i < WatchedCount(state_); ++i) {
        MonitoredEnclosure e;
        e.status = DescribeDevice(state_, i, disks_);
        e.status.polled = host_.IsSelectorChecked(i);
        e.status.pollOk = e.status.polled && AnswerWatch::Answered(state_, i);
        for (int k = 0; k < smart::kSmartDisks; ++k)
            if (e.status.members[k].stateClass == "present")
                e.smart[static_cast<std::size_t>(k)] = VerdictOf(smart_, i, k);
        e.pollFailures = answers_.Failures(i);
        e.flashing = Flashing(i);
        e.identity = EnclosureIdentity(state_, i, disks_);
        if (const platform::DiskInfo* info = DiskInfoOf(state_, i, disks_)) {
            e.serial = info->serial;
            e.port = info->port;
        }
        report.enclosures.push_back(std::move(e));
    }
    return report;
}

void Engine::Loop::Publish() {
    if (options_.front == nullptr) return;
    const MonitorReport report = Report();
    std::vector<client::DeviceStatus> devices;
    for (const auto& e : report.enclosures) devices.push_back(e.status);
    const unsigned mask = HealthMask(report);
    std::vector<client::SmartSectors> smart;
    if (smart_.thresholdsRead || smart_.dataRead)
        for (const auto& d : devices)
            if (d.index < smart::kSmartDevices)
                smart.push_back(SmartSectorsOf(state_, smart_, d.index, disks_));
    publishedTexts_ = Texts();
    options_.front->Publish(
        {std::move(devices), disks_, mask, HealthTexts(mask), std::move(smart), publishedTexts_});
}

bool Engine::Loop::Flashing(int index) const {
    return std::any_of(jobs_.begin(), jobs_.end(), [index](const auto& job) {
        return job->index() == index && !job->Finished();
    });
}

void Engine::Loop::ServeEngineRequests() {
    if (options_.front == nullptr) return;
    for (EngineRequest& request : options_.front->TakeRequests()) {
        if (ServeMailRequest(request)) continue;
        if (request.kind == EngineRequest::Kind::SetPolled) {
            SetPolled(request);
            continue;
        }
        const int index = request.index;
        const std::string where =
            DeviceName(index) + " on " + DiskText(state_.discovery.DiskOf(index), disks_);
        if (index >= WatchedCount(state_)) {
            options_.front->Refuse(request, Refusal::Failed, where + " is gone");
            continue;
        }
        // Only the enclosure it was authorized for: another may stand at
        // its index since.
        if (const EnclosureTarget standing =
                EnclosureTarget::Of(DescribeDevice(state_, index, disks_));
            !request.target.SameEnclosure(standing)) {
            options_.front->Refuse(request, Refusal::Failed,
                                   where +
                                       " is not the enclosure this was authorized for: it was " +
                                       request.target.Text() + ", it is now " + standing.Text() +
                                       "; nothing was sent to it");
            continue;
        }
        // From the first erase to the last compare nothing else reaches it.
        if (Flashing(index)) {
            options_.front->Refuse(request, Refusal::Busy,
                                   where + " is busy: its firmware is being rewritten");
            continue;
        }
        switch (request.kind) {
            case EngineRequest::Kind::SetBuzzer:
                options_.front->Answer(request, SetBuzzer(state_, ch_, clock_, index, disks_, where,
                                                          request.mute, &host_));
                break;
            case EngineRequest::Kind::SetBackupPeriod:
                options_.front->Answer(request, SetBackupPeriod(state_, ch_, clock_, index, disks_,
                                                                where, request.period, &host_));
                break;
            case EngineRequest::Kind::CheckFirmware:
                CheckFirmware(request);
                break;
            case EngineRequest::Kind::Flash:
                StartFlash(request, where);
                break;
            case EngineRequest::Kind::ReadFlash:
                ReadFlash(request);
                break;
            case EngineRequest::Kind::MailSettings:
            case EngineRequest::Kind::SetMailSettings:
            case EngineRequest::Kind::TestMail:
            case EngineRequest::Kind::SetPolled:
                break;  // served above
        }
        Publish();
    }
    EndFinishedJobs();
}

bool Engine::Loop::ServeMailRequest(EngineRequest& request) {
    using Kind = EngineRequest::Kind;
    if (request.kind != Kind::MailSettings && request.kind != Kind::SetMailSettings &&
        request.kind != Kind::TestMail)
        return false;
    EngineFront& front = *options_.front;
    if (!mail_) {
        front.Refuse(request, Refusal::Failed, "this monitor sends no e-mail");
        return true;
    }
    switch (request.kind) {
        case Kind::MailSettings:
            front.AnswerMailSettings(request, ReadMailSettings(mail_->SettingsFile()));
            break;
        case Kind::SetMailSettings: {
            const client::Answer answer =
                ChangeMailSettings(mail_->SettingsFile(), request.mailChanges);
            // The next mail goes with what was stored, as after SIGHUP.
            if (answer.outcome == client::kDone) mail_->RequestReload();
            front.AnswerMailChanged(request, answer);
            break;
        }
        default: {
            auto held = std::make_shared<EngineRequest>(std::move(request));
            const bool started =
                mail_->StartTestMail([&front, held](const client::TestMailAnswer& answer,
                                                    const std::vector<std::string>& transcript) {
                    front.AnswerTestMail(*held, answer, transcript);
                });
            if (!started) front.Refuse(*held, Refusal::Busy, "a test mail is being sent");
            break;
        }
    }
    return true;
}

void Engine::Loop::SetPolled(const EngineRequest& request) {
    const int index = request.index;
    if (index < 0 || index >= std::min(WatchedCount(state_), kShownDevices)) {
        options_.front->Refuse(request, Refusal::Failed, DeviceName(index) + " is not polled here");
        return;
    }
    // A flash's end ticks it again: until then it stays unpolled.
    if (request.polled && Flashing(index)) {
        options_.front->Refuse(request, Refusal::Busy,
                               DeviceName(index) + " is busy: its firmware is being rewritten");
        return;
    }
    host_.selectors[static_cast<std::size_t>(index)] = request.polled;
    // Ticking it again gives a device that stopped answering a fresh start.
    if (request.polled)
        state_.discovery.deviceSlots[static_cast<std::size_t>(index)].failureCount = 0;
    options_.front->Answer(request, {});
    Publish();
}

void Engine::Loop::DiscoverFirst() {
    if (!options_.discoverInTurns) {
        discovery::DiscoverOnce(state_, ch_);
        return;
    }
    ShellFlags& shell = state_.shell;
    discovery::TakeDriveBaselines(state_.discovery, ch_);
    shell.detectDone = false;
    shell.detectBusy = true;
    shell.detectRequest = true;
    shell.detecting = true;
    SetDetectionNoticeText("Drive detecting");
    SetDetectionNoticeVisible(true);
}

void Engine::Loop::CheckFirmware(const EngineRequest& request) {
    const ImageCheck check = CheckImage(state_, request.index, request.image);
    options_.front->AnswerCheck(request, check.answer, check.load.texts);
}

void Engine::Loop::ReadFlash(const EngineRequest& request) {
    const auto length =
        request.length ? request.length : firmware::WholeFlashLength(state_, request.index);
    if (!length) {
        options_.front->Refuse(request, Refusal::InvalidArgument,
                               firmware::FlashSizeUnknownText(state_, request.index));
        return;
    }
    // A whole flash takes a while: the watchdog hears from the loop meanwhile.
    class ReadHost final : public firmware::QuietUpgradeHost {
    public:
        explicit ReadHost(Engine::Loop& run) : run_(run) {}
        void Pump() override {
            if (run_.ctx_.clock.NowMs() >= run_.lastPing_ + kPingMs) run_.Ping();
        }

    private:
        Engine::Loop& run_;
    } host(*this);
    firmware::FirmwareState fw;
    const firmware::FlashReadResult r =
        firmware::ReadFlash(state_, fw, ch_, host, request.index, 0, *length);
    if (!r.ok) {
        options_.front->Refuse(request, Refusal::Failed, r.failureText);
        return;
    }
    options_.front->AnswerBytes(request, r.bytes);
}

void Engine::Loop::StartFlash(const EngineRequest& request, const std::string& where) {
    const int index = request.index;
    std::string refusal;
    auto fw = FlashableImage(state_, index, request.image, ctx_.disks, refusal);
    if (!fw) {
        options_.front->Refuse(request, Refusal::Failed, refusal);
        return;
    }
    EngineFront& front = *options_.front;
    const std::string name = front.NextJobName();
    FlashJob::Events events;
    events.step = [&front, name](const firmware::FlashStep& step) { front.JobStep(name, step); };
    events.backupReady = [&front, name] { front.JobBackupReady(name); };
    events.completed = [&front, name](const client::Answer& answer, std::uint32_t progress) {
        front.JobCompleted(name, answer, progress);
    };
    events.say = [this](const std::string& text) { Say(text); };
    Say(where + ": rewriting its firmware for " + request.starter);
    // Its polls stop until the job ends; the job has its own channel.
    host_.selectors[static_cast<std::size_t>(index)] = false;
    auto job = std::make_shared<FlashJob>(state_, index, std::move(*fw), ctx_.disks, ctx_.clock,
                                          front.SystemBus(), request.backup, std::move(events));
    jobs_.push_back(job);
    front.AddJob(name, job, index, request.starter);
    // The answer goes before the job's first signal.
    front.AnswerJob(request, name);
    job->Start();
}

void Engine::Loop::EndFinishedJobs() {
    for (auto it = jobs_.begin(); it != jobs_.end();) {
        if (!(*it)->Finished()) {
            ++it;
            continue;
        }
        const int index = (*it)->index();
        const auto outcome = (*it)->Outcome();
        Say(DeviceName(index) + ": the firmware job ended with " +
            std::to_string(outcome ? outcome->outcome : -1) +
            (outcome && !outcome->notes.empty() ? " (" + outcome->notes.front() + ")" : ""));
        it = jobs_.erase(it);
        // Polled again at once: the controller may have restarted.
        host_.selectors[static_cast<std::size_t>(index)] = true;
        state_.shell.pollRequestFlags |= poll::kStatusPoll;
    }
}

void Engine::Loop::WriteMetrics(const MonitorReport& report) {
    if (options_.metricsFile.empty()) return;
    std::string error;
    if (!platform::WriteFileAtomically(options_.metricsFile, MetricsText(report), 0644,
                                       "metrics file", {}, error)) {
        ctx_.err << "raidctl: " << error << "\n";
    }
}

void Engine::Loop::ServeDeviceChanges(std::uint64_t now) {
    if (options_.deviceEvents && options_.deviceEvents()) discovery::OnDeviceChangeMessage(state_);
    bool ticked = false;
    if (now >= nextChangeTick_) {
        nextChangeTick_ = now + discovery::kDeviceChangeTickMs;
        discovery::OnDeviceChangeTick(state_, *this);
        ticked = true;
    }
    // The window's detection thread, run in turn as soon as it is asked
    // (the first at once): the next tick applies it.
    if (state_.shell.detectRequest.load()) {
        discovery::ServeDetectRequest(state_, ch_, notices_);
        ticked = true;
    }
    // The notice and the panels change only with these, not at every turn.
    if (ticked && Texts() != publishedTexts_) Publish();
}

std::optional<int> Engine::Loop::Start() {
    std::error_code ec;
    if (options_.logDir.empty() || !std::filesystem::is_directory(options_.logDir, ec)) {
        ctx_.err << "raidctl: the log folder " << options_.logDir.string()
                 << " does not exist or is not a folder\n";
        return kRunBadLogFolder;
    }
    if (options_.front) options_.front->SetLogFolder(options_.logDir);
    following_ = static_cast<bool>(options_.deviceEvents) || options_.discoverInTurns;
    if (options_.mail) {
        mail_ = std::make_unique<MonitorMail>(
            state_, options_.mail->settingsFile, [this](const std::string& text) { Say(text); },
            options_.mail->smtp);
        mail_->CheckSettings();
    }
    DiscoverFirst();
    disks_ = ctx_.disks.ListDisks();
    // At once: a file an earlier run left must not speak for this one.
    WriteMetrics();
    if (state_.discovery.deviceCount == 0 && !options_.discoverInTurns &&
        (!following_ || plan_.once)) {
        const std::string problem = discovery::PermissionProblem(ctx_.disks);
        ctx_.err << "raidctl: No Drive found! - nothing to monitor\n";
        if (!problem.empty()) ctx_.err << "raidctl: " << problem << "\n";
        EmptyPoll();
        if (plan_.once) return SayHealth(health::kNoEnclosure);
        return problem.empty() ? kRunNoEnclosure : kRunCannotOpen;
    }
    if (options_.discoverInTurns) {
        // Applied by a device-change tick, which then starts the polls.
    } else if (state_.discovery.deviceCount == 0) {
        ctx_.err << "raidctl: No Drive found! - waiting for an enclosure\n";
    } else {
        DescribeRun(state_, disks_, options_.logDir, plan_, ctx_.err);
        // As after the window's first discovery: a poll and both SMART reads.
        state_.shell.pollRequestFlags |= discovery::kPollAfterDiscovery;
        EnablePollTimers();
    }

    handlers_.StatusPoll = [this] { ServePoll(); };
    handlers_.SmartThresholds = [this] {
        smart::ReadSmart(state_, smart_, ch_, *this, smart::kFeatureReadThresholds);
    };
    handlers_.SmartData = [this] {
        smart::ReadSmart(state_, smart_, ch_, *this, smart::kFeatureReadData);
        if (done_ > 0) WriteMetrics();
        Publish();
    };
    host_.OpenToday();
    Publish();
    TellJournal();
    TellStatus(Report());
    Notify("READY=1");
    if (!AnyToPoll() || options_.discoverInTurns) ServeClients();
    Ping();
    nextChangeTick_ = ctx_.clock.NowMs() + discovery::kDeviceChangeTickMs;
    return std::nullopt;
}

bool Engine::Loop::Turn() {
    if (StopRequested()) return false;
    CheckInterrupt();
    if (state_.shell.closing.load()) return false;
    if (options_.reloadRequested && options_.reloadRequested()) {
        Say("reading the e-mail settings again");
        if (mail_) mail_->RequestReload();
    }
    if (mail_) mail_->Serve();
    ServeEngineRequests();

    const std::uint64_t now = ctx_.clock.NowMs();
    if (now >= lastPing_ + kPingMs) Ping();
    // A discovery would talk to an enclosure being flashed: it waits.
    if (following_ && jobs_.empty()) ServeDeviceChanges(now);
    if (smartTicking_ && now >= nextSmartTick_) {
        nextSmartTick_ = now + kSmartTickMs;
        smart::StepSmartCountdown(state_.shell, false, smart_.thresholdsRead);
    }
    if (polling_ && now >= nextPoll_) state_.shell.pollRequestFlags |= poll::kStatusPoll;
    if (!polling_ && now >= nextPoll_) EmptyPoll();
    // The first poll shows what discovery read; --once wants the answer
    // of a poll that asks the controllers, at once.
    if (plan_.once && done_ == 1) state_.shell.pollRequestFlags |= poll::kStatusPoll;
    while (monitor::WorkerShouldDispatch(state_) && !state_.shell.closing.load()) {
        const std::uint32_t before = done_;
        monitor::DispatchOnce(state_, handlers_);
        // Asked after every poll, before anything else runs.
        if (done_ != before && ((plan_.polls != 0 && done_ >= plan_.polls) || StopRequested()))
            break;
    }
    if (plan_.polls != 0 && done_ >= plan_.polls) return false;
    if (plan_.once && done_ > 1 && (state_.shell.pollRequestFlags.load() & poll::kWakeMask) == 0)
        return false;
    return !state_.shell.closing.load();
}

bool Engine::Loop::Wait() {
    // Sleep to the next deadline, in slices.
    const std::uint64_t now = ctx_.clock.NowMs();
    std::uint64_t next = now + kMonitorWaitSliceMs;
    next = std::min(next, std::max(now, nextPoll_));
    if (following_) next = std::min(next, std::max(now, nextChangeTick_));
    if (smartTicking_) next = std::min(next, std::max(now, nextSmartTick_));
    if (next > now) {
        if (StopRequested()) return false;
        ctx_.clock.SleepMs(static_cast<std::uint32_t>(next - now));
    }
    return true;
}

int Engine::Loop::Finish() {
    Notify("STOPPING=1");
    WaitForJobs();
    FinishMail();
    TellJournal();
    ctx_.out.flush();
    ctx_.err.flush();
    return plan_.once ? SayHealth(HealthMask(Report())) : kRunOk;
}

int Engine::Loop::Run() {
    if (const auto early = Start()) return *early;
    while (Turn() && Wait()) {
    }
    return Finish();
}

void Engine::Loop::WaitForJobs() {
    if (jobs_.empty()) return;
    Say("waiting for the firmware job to end: stopping in the middle would leave the flash in "
        "an unknown state");
    Notify("STATUS=waiting for a firmware job to end");
    // The unit's stop timeout is that of a stop without a job; the service
    // manager is told, once a second, to wait a minute more. A job always
    // ends: every command and retry of a flash has its own limit.
    std::optional<std::uint64_t> extended;
    while (!jobs_.empty()) {
        Ping();
        if (!extended || ctx_.clock.NowMs() - *extended >= 1000) {
            extended = ctx_.clock.NowMs();
            Notify("EXTEND_TIMEOUT_USEC=60000000");
        }
        ctx_.clock.SleepMs(kMonitorWaitSliceMs);
        EndFinishedJobs();
        ServeEngineRequests();
    }
}

void Engine::Loop::FinishMail() {
    if (!mail_) return;
    // The notifications raised by the last polls are sent, and their ends
    // told.
    mail_->Serve();
    while (mail_->Busy() && !state_.shell.closing.load()) {
        CheckInterrupt();
        ctx_.clock.SleepMs(kMonitorWaitSliceMs / 10);
        mail_->Serve();
    }
    mail_->Stop();
    mail_->Serve();
}

int Engine::Loop::SayHealth(unsigned mask) {
    for (const std::string& text : HealthTexts(mask)) ctx_.err << "raidctl: " << text << "\n";
    return static_cast<int>(mask);
}

Engine::Engine(RunContext& ctx, const RunPlan& plan, const MonitorOptions& options)
    : loop_(std::make_unique<Loop>(ctx, plan, options)) {}

Engine::~Engine() = default;

int Engine::Run() { return loop_->Run(); }
std::optional<int> Engine::Start() { return loop_->Start(); }
bool Engine::Turn() { return loop_->Turn(); }
int Engine::Finish() { return loop_->Finish(); }

int RunMonitor(RunContext& ctx, const RunPlan& plan, const MonitorOptions& options) {
    return Engine(ctx, plan, options).Run();
}

}  // namespace raid::service
