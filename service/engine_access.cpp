#include "service/engine_access.h"

#include <QMetaObject>
#include <QPointer>
#include <atomic>
#include <chrono>
#include <future>
#include <map>
#include <mutex>
#include <ostream>
#include <thread>

#include "eventlog/day_log.h"
#include "service/engine_front.h"
#include "service/flash_job.h"

namespace raid::service {
namespace {

constexpr auto kWaitSlice = std::chrono::milliseconds(50);
const char* const kEngineEnded = "the engine in this process has stopped";

// How the engine answered one request.
struct LocalReply {
    std::optional<Refusal> refusal;
    std::string why;
    client::SettingAnswer setting;
    client::Answer answer;
    firmware::LoadTexts texts;
    std::vector<std::uint8_t> bytes;
    std::string job;
    client::MailSettingsAnswer mail;
    client::TestMailAnswer testMail;
    std::vector<std::string> transcript;
};

struct LocalCaller final : RequestCaller {
    std::promise<LocalReply> promise;
    std::atomic<bool> answered{false};
    client::FlashHandlers handlers;  // a flash's

    void Reply(LocalReply reply) {
        if (!answered.exchange(true)) promise.set_value(std::move(reply));
    }
};

LocalCaller& CallerOf(const EngineRequest& request) {
    return static_cast<LocalCaller&>(*request.caller);
}

int OutcomeOf(Refusal refusal) {
    switch (refusal) {
        case Refusal::Busy:
            return client::kBusy;
        case Refusal::InvalidArgument:
            return client::kNotSent;
        case Refusal::Failed:
            break;
    }
    return client::kFailed;
}

}  // namespace

// The front in this process: requests queued for the engine's loop, answers
// handed back to the waiting callers, and what the engine publishes told
// through the watch.
class LocalFront final : public EngineFront {
public:
    // Made in the watch's thread, which the watch tells in.
    explicit LocalFront(client::EnclosureWatch& watch) : watch_(&watch) {}

    struct Job {
        std::shared_ptr<FlashJob> job;
        int index = -1;
        client::FlashHandlers handlers;
        std::optional<client::Answer> outcome;
        std::uint32_t progress = 0;
    };

    void Publish(EngineSnapshot snapshot) override {
        {
            std::lock_guard lock(mutex_);
            snapshot_ = std::move(snapshot);
        }
        TellEnclosures();
    }
    void Notice(const std::string& text, const std::string& caption) override {
        Tell([text = QString::fromStdString(text),
              caption = QString::fromStdString(caption)](client::EnclosureWatch& w) {
            Q_EMIT w.notice(text, caption);
        });
    }
    void EventLine(const std::string& line) override {
        Tell([text = QString::fromStdString(line)](client::EnclosureWatch& w) {
            Q_EMIT w.eventLine(text);
        });
    }
    void SetLogFolder(const std::filesystem::path& folder) override {
        std::lock_guard lock(mutex_);
        logFolder_ = folder;
    }
    std::vector<EngineRequest> TakeRequests() override {
        std::lock_guard lock(mutex_);
        return std::exchange(requests_, {});
    }
    void Answer(const EngineRequest& request, const client::SettingAnswer& answer) override {
        LocalReply reply;
        reply.setting = answer;
        CallerOf(request).Reply(std::move(reply));
    }
    void AnswerCheck(const EngineRequest& request, const client::Answer& answer,
                     const firmware::LoadTexts& texts) override {
        LocalReply reply;
        reply.answer = answer;
        reply.texts = texts;
        CallerOf(request).Reply(std::move(reply));
    }
    void AnswerBytes(const EngineRequest& request,
                     const std::vector<std::uint8_t>& bytes) override {
        LocalReply reply;
        reply.bytes = bytes;
        CallerOf(request).Reply(std::move(reply));
    }
    void AnswerJob(const EngineRequest& request, const std::string& job) override {
        {
            // Before the job's first event: AddJob came first, Start comes after.
            std::lock_guard lock(mutex_);
            if (auto it = jobs_.find(job); it != jobs_.end())
                it->second.handlers = CallerOf(request).handlers;
        }
        LocalReply reply;
        reply.job = job;
        CallerOf(request).Reply(std::move(reply));
    }
    void AnswerMailSettings(const EngineRequest& request,
                            const client::MailSettingsAnswer& answer) override {
        LocalReply reply;
        reply.mail = answer;
        CallerOf(request).Reply(std::move(reply));
    }
    void AnswerMailChanged(const EngineRequest& request, const client::Answer& answer) override {
        LocalReply reply;
        reply.answer = answer;
        CallerOf(request).Reply(std::move(reply));
    }
    void AnswerTestMail(const EngineRequest& request, const client::TestMailAnswer& answer,
                        const std::vector<std::string>& transcript) override {
        LocalReply reply;
        reply.testMail = answer;
        reply.transcript = transcript;
        CallerOf(request).Reply(std::move(reply));
    }
    void Refuse(const EngineRequest& request, Refusal refusal, const std::string& why) override {
        LocalReply reply;
        reply.refusal = refusal;
        reply.why = why;
        CallerOf(request).Reply(std::move(reply));
    }

    std::string NextJobName() override { return "job" + std::to_string(++jobCount_); }
    void AddJob(const std::string& name, std::shared_ptr<FlashJob> job, int index,
                const std::string&) override {
        std::lock_guard lock(mutex_);
        Job& added = jobs_[name];
        added.job = std::move(job);
        added.index = index;
    }
    void JobStep(const std::string& name, const firmware::FlashStep& step) override {
        const auto tell = HandlersOf(name).step;
        if (tell) tell(step);
    }
    void JobBackupReady(const std::string& name) override {
        std::shared_ptr<FlashJob> job;
        {
            std::lock_guard lock(mutex_);
            if (auto it = jobs_.find(name); it != jobs_.end()) job = it->second.job;
        }
        if (!job) return;
        const auto keep = HandlersOf(name).keepBackup;
        job->ConfirmBackup(keep && keep(job->Backup()));
    }
    void JobCompleted(const std::string& name, const client::Answer& answer,
                      std::uint32_t progress) override {
        {
            std::lock_guard lock(mutex_);
            if (auto it = jobs_.find(name); it != jobs_.end()) {
                it->second.outcome = answer;
                it->second.progress = progress;
            }
        }
        ended_.notify_all();
    }
    // Unset: a flash goes without logind's inhibitor and says so.
    QDBusConnection SystemBus() override {
        std::lock_guard lock(mutex_);
        return systemBus_.value_or(QDBusConnection(QString()));
    }
    void UseSystemBus(std::optional<QDBusConnection> bus) {
        std::lock_guard lock(mutex_);
        systemBus_ = std::move(bus);
    }

    // The callers' side.
    void Queue(EngineRequest request) {
        std::lock_guard lock(mutex_);
        requests_.push_back(std::move(request));
    }
    EngineSnapshot Current() const {
        std::lock_guard lock(mutex_);
        return snapshot_;
    }
    std::filesystem::path LogFolder() const {
        std::lock_guard lock(mutex_);
        return logFolder_;
    }
    // The job's outcome once it ended; `stop` is asked in between.
    std::optional<client::Answer> AwaitJob(const std::string& name,
                                           const std::function<bool()>& stop) {
        std::unique_lock lock(mutex_);
        for (;;) {
            auto it = jobs_.find(name);
            if (it == jobs_.end()) return std::nullopt;
            if (it->second.outcome) return it->second.outcome;
            if (ManualOwner()) {
                // The owner's thread waits: the engine turns here.
                lock.unlock();
                manualTurn_();
                lock.lock();
                // The job's own thread gets its turn too.
                ended_.wait_for(lock, std::chrono::milliseconds(1));
            } else {
                ended_.wait_for(lock, kWaitSlice);
            }
            if (stop && stop()) {
                const auto job = jobs_.find(name)->second.job;
                lock.unlock();
                job->StarterLeft();
                lock.lock();
            }
        }
    }
    // The caller stopped waiting: its handlers go, on its own thread. They
    // may hold what holds this front (the window's calls hold the access),
    // which would keep the job, and its thread, from ever being ended.
    void ForgetCaller(const std::string& name) {
        client::FlashHandlers released;
        std::lock_guard lock(mutex_);
        if (auto it = jobs_.find(name); it != jobs_.end())
            released = std::exchange(it->second.handlers, {});
    }
    std::vector<client::JobRecord> JobRecords() const {
        std::lock_guard lock(mutex_);
        std::vector<client::JobRecord> records;
        for (const auto& [name, job] : jobs_) {
            client::JobRecord r;
            r.path = name;
            r.index = job.index;
            r.finished = job.outcome.has_value();
            if (job.outcome) {
                r.outcome = job.outcome->outcome;
                r.notes = job.outcome->notes;
            }
            r.progress = job.outcome ? job.progress : job.job->Progress();
            r.total = job.job->Total();
            records.push_back(std::move(r));
        }
        return records;
    }
    // Requests the engine will never take: answered, so no caller waits.
    void RefuseLeft() {
        for (const EngineRequest& request : TakeRequests())
            Refuse(request, Refusal::Failed, kEngineEnded);
    }
    // Once the engine's first poll asked the enclosures: before, a status
    // would tell of polls that did not run.
    void Serve() {
        {
            std::lock_guard lock(mutex_);
            serving_ = true;
        }
        servingNow_.notify_all();
        TellEnclosures();
        Tell([](client::EnclosureWatch& w) { Q_EMIT w.serviceAppeared(); });
    }
    bool Serving() const {
        std::lock_guard lock(mutex_);
        return serving_;
    }
    bool AwaitServing(std::chrono::milliseconds limit, const std::function<bool()>& ended) {
        const auto until = std::chrono::steady_clock::now() + limit;
        std::unique_lock lock(mutex_);
        while (!serving_ && !ended() && std::chrono::steady_clock::now() < until)
            servingNow_.wait_for(lock, kWaitSlice);
        return serving_;
    }
    void LetGoOfWatch() {
        std::lock_guard lock(mutex_);
        watch_.clear();
    }
    // The engine's loop has returned: nothing queued from now on is taken.
    void MarkEnded() {
        engineEnded_ = true;
        RefuseLeft();
        // A window that did not stop the engine learns that it has ended.
        Tell([](client::EnclosureWatch& w) {
            w.setEnclosures(client::EnclosureWatch::Standing::Unreadable, {},
                            "the monitoring in this process has ended");
        });
    }
    bool EngineEnded() const { return engineEnded_.load(); }
    // A manual engine turns on its owner's thread while that thread waits.
    void SetManualTurn(std::function<void()> turn) {
        owner_ = std::this_thread::get_id();
        manualTurn_ = std::move(turn);
    }
    // A manual engine's owner's thread, which turns it while it waits.
    bool ManualOwner() const { return manualTurn_ && std::this_thread::get_id() == owner_; }
    // Waits a slice for `ready`, turning a manual engine meanwhile when
    // called on its owner's thread.
    template <typename Future>
    bool AwaitSlice(Future& ready) {
        if (ManualOwner()) {
            manualTurn_();
            return ready.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready;
        }
        return ready.wait_for(kWaitSlice) == std::future_status::ready;
    }

private:
    // The watch keeps what the engine published, as the bus watch keeps
    // what the service's signals carry.
    void TellEnclosures() {
        std::vector<client::DeviceStatus> devices;
        client::PollTexts texts;
        bool serving = false;
        {
            // Only what the watch keeps: not the disks' list or the SMART sectors.
            std::lock_guard lock(mutex_);
            devices = snapshot_.devices;
            texts = snapshot_.texts;
            serving = serving_;
        }
        using Standing = client::EnclosureWatch::Standing;
        Tell([devices = std::move(devices), texts = std::move(texts),
              serving](client::EnclosureWatch& w) {
            w.setEnclosures(serving ? Standing::Serving : Standing::NotServing, devices,
                            serving ? "" : "starting", texts);
        });
    }
    client::FlashHandlers HandlersOf(const std::string& name) {
        std::lock_guard lock(mutex_);
        auto it = jobs_.find(name);
        return it != jobs_.end() ? it->second.handlers : client::FlashHandlers{};
    }
    template <typename Signal>
    void Tell(Signal signal) {
        std::lock_guard lock(mutex_);
        if (watch_.isNull()) return;
        QPointer<client::EnclosureWatch> watch(watch_);
        QMetaObject::invokeMethod(
            watch_.data(),
            [watch, signal] {
                if (watch) signal(*watch);
            },
            Qt::QueuedConnection);
    }

    mutable std::mutex mutex_;
    std::condition_variable ended_;
    std::condition_variable servingNow_;
    QPointer<client::EnclosureWatch> watch_;
    std::atomic<bool> engineEnded_{false};
    std::vector<EngineRequest> requests_;
    EngineSnapshot snapshot_;
    std::filesystem::path logFolder_;
    std::map<std::string, Job> jobs_;
    std::atomic<unsigned> jobCount_{0};
    bool serving_ = false;
    std::optional<QDBusConnection> systemBus_;
    std::function<void()> manualTurn_;
    std::thread::id owner_;
};

namespace {

// The seam over the front: each call queued for the engine's loop and
// waited for.
class EngineAccess final : public client::EnclosureAccess {
public:
    // Holds the front: a caller that keeps the access longer than the
    // engine is answered that the engine has stopped.
    explicit EngineAccess(std::shared_ptr<LocalFront> front) : front_(std::move(front)) {}

    client::StatusAnswer Status(const std::string& disk) override {
        client::StatusAnswer answer;
        if (!front_->Serving()) {
            answer.outcome = client::kBusy;
            answer.notes.push_back("busy: starting");
            return answer;
        }
        const EngineSnapshot now = front_->Current();
        answer.devices = now.devices;
        answer.texts = now.texts;
        if (!disk.empty()) {
            const EnclosureLookup found = LookUpEnclosure(now, disk);
            if (found.outcome != client::kDone) {
                answer.outcome = found.outcome;
                answer.notes.push_back(found.why);
                answer.devices.clear();
                return answer;
            }
            const int diskNumber = now.devices[static_cast<std::size_t>(found.position)].disk;
            std::erase_if(answer.devices,
                          [diskNumber](const auto& s) { return s.disk != diskNumber; });
        }
        if (answer.devices.empty()) {
            answer.noneFound = true;
            answer.outcome = client::kFailed;
        }
        client::NoteUnansweredPolls(answer);
        return answer;
    }
    client::SmartAnswer Smart(const std::string& disk) override {
        client::SmartAnswer answer;
        const EngineSnapshot now = front_->Current();
        const EnclosureLookup found = LookUpEnclosure(now, disk);
        if (found.outcome != client::kDone) return Failed<client::SmartAnswer>(found);
        const int index = now.devices[static_cast<std::size_t>(found.position)].index;
        for (const auto& s : now.smart)
            if (s.index == index) answer.smart = s;
        if (!answer.smart) {
            answer.outcome = client::kFailed;
            answer.notes.push_back("SMART has not been read yet; try again in a minute");
        }
        return answer;
    }
    client::SettingAnswer SetBuzzer(const std::string& disk, bool mute,
                                    const client::CallOptions&) override {
        EngineRequest request;
        request.kind = EngineRequest::Kind::SetBuzzer;
        request.mute = mute;
        return Setting(disk, std::move(request));
    }
    client::SettingAnswer SetBackupPeriod(const std::string& disk,
                                          const client::PeriodRequest& period,
                                          const client::CallOptions&) override {
        EngineRequest request;
        request.kind = EngineRequest::Kind::SetBackupPeriod;
        request.period = period;
        return Setting(disk, std::move(request));
    }
    client::Answer SetPolled(const std::string& disk, bool polled) override {
        EngineRequest request;
        request.kind = EngineRequest::Kind::SetPolled;
        request.polled = polled;
        client::Answer answer;
        if (const auto reply = Ask(disk, std::move(request), answer)) answer = reply->setting;
        return answer;
    }
    client::FirmwareCheckAnswer CheckFirmware(const std::string& disk,
                                              const std::vector<std::uint8_t>& image) override {
        EngineRequest request;
        request.kind = EngineRequest::Kind::CheckFirmware;
        request.image = image;
        client::FirmwareCheckAnswer answer;
        const auto reply = Ask(disk, std::move(request), answer);
        if (!reply) return answer;
        static_cast<client::Answer&>(answer) = reply->answer;
        answer.checksum = reply->texts.checksum;
        answer.deviceCode = reply->texts.deviceCode;
        answer.fileCode = reply->texts.fileCode;
        for (const std::string* text : {&reply->texts.file, &reply->texts.checksum,
                                        &reply->texts.deviceCode, &reply->texts.fileCode})
            if (!text->empty()) answer.texts.push_back(*text);
        return answer;
    }
    client::FlashReadAnswer ReadFlash(const std::string& disk, std::uint32_t length,
                                      const client::CallOptions&) override {
        EngineRequest request;
        request.kind = EngineRequest::Kind::ReadFlash;
        request.length = length;
        client::FlashReadAnswer answer;
        if (const auto reply = Ask(disk, std::move(request), answer)) answer.bytes = reply->bytes;
        return answer;
    }
    client::FlashAnswer Flash(const std::string& disk, const std::vector<std::uint8_t>& image,
                              bool backup, client::FlashHandlers handlers,
                              const client::CallOptions&) override {
        EngineRequest request;
        request.kind = EngineRequest::Kind::Flash;
        request.image = image;
        request.backup = backup;
        request.starter = "this process";
        auto caller = std::make_shared<LocalCaller>();
        caller->handlers = handlers;
        client::FlashAnswer answer;
        const auto reply = Ask(disk, std::move(request), answer, caller);
        if (!reply) return answer;
        answer.job = reply->job;
        // In this process the flash ends with its caller: a caller that
        // stops following before anything is erased stops it, and one that
        // stops after waits for its end.
        const auto outcome = front_->AwaitJob(reply->job, handlers.detach);
        front_->ForgetCaller(reply->job);
        if (!outcome) return Unavailable<client::FlashAnswer>();
        static_cast<client::Answer&>(answer) = *outcome;
        return answer;
    }
    bool FlashOutlivesCaller() const override { return false; }
    client::JobsAnswer Jobs() override {
        client::JobsAnswer answer;
        answer.jobs = front_->JobRecords();
        return answer;
    }

    client::MailSettingsAnswer MailSettings(const client::CallOptions&) override {
        EngineRequest request;
        request.kind = EngineRequest::Kind::MailSettings;
        client::MailSettingsAnswer answer;
        if (const auto reply = Ask({}, std::move(request), answer)) answer = reply->mail;
        return answer;
    }
    client::Answer SetMailSettings(const client::MailSettingsChanges& changes,
                                   const client::CallOptions&) override {
        EngineRequest request;
        request.kind = EngineRequest::Kind::SetMailSettings;
        request.mailChanges = changes;
        client::Answer answer;
        if (const auto reply = Ask({}, std::move(request), answer)) answer = reply->answer;
        return answer;
    }
    client::TestMailAnswer SendTestMail(
        const client::CallOptions&,
        const std::function<void(const std::string&)>& transcript) override {
        EngineRequest request;
        request.kind = EngineRequest::Kind::TestMail;
        client::TestMailAnswer answer;
        const auto reply = Ask({}, std::move(request), answer);
        if (!reply) return answer;
        if (transcript)
            for (const auto& line : reply->transcript) transcript(line);
        return reply->testMail;
    }

    client::DayFilesAnswer DayFiles() override {
        client::DayFilesAnswer answer;
        if (const auto folder = front_->LogFolder(); !folder.empty())
            answer.names = eventlog::ListDayLogs(folder);
        return answer;
    }
    client::DayFileAnswer ReadDayFile(const std::string& name) override {
        client::DayFileAnswer answer;
        std::string why = "no event log is kept here";
        const auto folder = front_->LogFolder();
        // A name that is not a day file's is refused for that, folder or not.
        std::optional<std::vector<std::uint8_t>> bytes;
        if (!folder.empty() || !eventlog::IsDayLogName(name))
            bytes = eventlog::ReadDayLog(folder, name, eventlog::kMaxDayFileBytes, why);
        if (bytes) {
            answer.bytes = *bytes;
        } else {
            answer.outcome = client::kFailed;
            answer.notes.push_back(why);
        }
        return answer;
    }

private:
    template <typename A>
    static A Failed(const EnclosureLookup& found) {
        A answer;
        answer.outcome = found.outcome;
        answer.notes.push_back(found.why);
        return answer;
    }
    template <typename A>
    static A Unavailable() {
        A answer;
        answer.outcome = client::kUnavailable;
        answer.notes.push_back(kEngineEnded);
        return answer;
    }

    client::SettingAnswer Setting(const std::string& disk, EngineRequest request) {
        client::SettingAnswer answer;
        if (const auto reply = Ask(disk, std::move(request), answer)) answer = reply->setting;
        return answer;
    }

    // Queues `request` for the enclosure on `disk` (none for an empty
    // `disk`) and waits for its answer; none, with why in `answer`, when it
    // was refused or never ran.
    std::optional<LocalReply> Ask(const std::string& disk, EngineRequest request,
                                  client::Answer& answer,
                                  std::shared_ptr<LocalCaller> caller = {}) {
        if (!disk.empty()) {
            const EngineSnapshot now = front_->Current();
            const EnclosureLookup found = LookUpEnclosure(now, disk);
            if (found.outcome != client::kDone) {
                answer.outcome = found.outcome;
                answer.notes.push_back(found.why);
                return std::nullopt;
            }
            const auto& device = now.devices[static_cast<std::size_t>(found.position)];
            request.index = device.index;
            request.target = EnclosureTarget::Of(device);
        }
        if (!caller) caller = std::make_shared<LocalCaller>();
        auto future = caller->promise.get_future();
        request.caller = caller;
        front_->Queue(std::move(request));
        while (!front_->AwaitSlice(future)) {
            if (front_->EngineEnded()) {
                front_->RefuseLeft();
                if (future.wait_for(kWaitSlice) != std::future_status::ready) {
                    answer = Unavailable<client::Answer>();
                    return std::nullopt;
                }
            }
        }
        LocalReply reply = future.get();
        if (reply.refusal) {
            answer.outcome = OutcomeOf(*reply.refusal);
            answer.notes.push_back(reply.why);
            return std::nullopt;
        }
        return reply;
    }

    std::shared_ptr<LocalFront> front_;
};

}  // namespace

struct InProcessEngine::Runner {
    explicit Runner(InProcessSetup& setup, LocalFront& front)
        // The log lines are told through the watch; only the notes are kept.
        : ctx{setup.disks, setup.clock, discarded,
              setup.notes != nullptr ? *setup.notes : discarded} {
        plan.intervalMs = setup.intervalMs;
        options.logDir = setup.logDir;
        options.timeStamp = setup.timeStamp;
        options.mail = setup.mail;
        options.deviceEvents = setup.deviceEvents;
        options.discoverInTurns = setup.discoverInTurns;
        options.stop = [this](std::uint32_t) { return stop.load(); };
        options.interrupted = [this] { return stop.load(); };
        options.front = &front;
        options.serveClients = [&front] { front.Serve(); };
    }
    void End(LocalFront& front, int exitCode) {
        code = exitCode;
        ended = true;
        front.MarkEnded();
    }

    std::atomic<bool> stop{false};
    std::atomic<bool> ended{false};
    std::atomic<int> code{0};
    // No buffer: what goes here is dropped, and nothing grows over a long run.
    std::ostream discarded{nullptr};
    RunContext ctx;
    RunPlan plan;
    MonitorOptions options;
    std::unique_ptr<Engine> engine;  // a manual one's
    std::thread thread;
};

InProcessEngine::InProcessEngine(InProcessSetup setup)
    : setup_(std::move(setup)),
      watch_(std::make_unique<client::EnclosureWatch>()),
      front_(std::make_shared<LocalFront>(*watch_)) {
    runner_ = std::make_unique<Runner>(setup_, *front_);
    Runner* runner = runner_.get();
    // Known before the engine's thread starts: a window reads the day's
    // lines as soon as it is made.
    front_->SetLogFolder(setup_.logDir);
    front_->UseSystemBus(setup_.systemBus);
    access_ = std::make_shared<EngineAccess>(front_);
    if (setup_.manual) {
        runner->engine = std::make_unique<Engine>(runner->ctx, runner->plan, runner->options);
        front_->SetManualTurn([this] { Turn(); });
        if (const auto early = runner->engine->Start()) runner->End(*front_, *early);
        return;
    }
    runner->thread = std::thread([this, runner] {
        runner->End(*front_, RunMonitor(runner->ctx, runner->plan, runner->options));
    });
}

InProcessEngine::~InProcessEngine() {
    runner_->stop = true;
    front_->LetGoOfWatch();
    if (runner_->thread.joinable()) runner_->thread.join();
    if (runner_->engine && !runner_->ended.load())
        runner_->End(*front_, runner_->engine->Finish());
    front_->RefuseLeft();
}

void InProcessEngine::Stop() { runner_->stop = true; }

bool InProcessEngine::Turn() {
    Runner& runner = *runner_;
    if (!runner.engine || runner.ended.load()) return false;
    if (!runner.engine->Turn()) runner.End(*front_, runner.engine->Finish());
    return !runner.ended.load();
}

bool InProcessEngine::AwaitServing(std::chrono::milliseconds limit) {
    if (runner_->engine) {
        Turn();
        return front_->Serving();
    }
    return front_->AwaitServing(limit, [this] { return runner_->ended.load(); });
}

std::optional<int> InProcessEngine::Ended() const {
    if (!runner_->ended.load()) return std::nullopt;
    return runner_->code.load();
}

}  // namespace raid::service
