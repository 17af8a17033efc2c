#include "service/monitor_mail.h"

#include "mail/server_text.h"
#include "mail/system_info.h"
#include "service/mail_access.h"

namespace raid::service {
namespace {

// The window's title, which the subjects of its mails carry.
const char* const kAppTitle = "RAID GUI v0.50.11-5";

}  // namespace

MonitorMail::MonitorMail(AppState& state, const std::string& settingsFile,
                         std::function<void(const std::string&)> say, mail::SmtpOptions options)
    : state_(state),
      store_(settingsFile.empty() ? mail::DefaultSettingsFile()
                                  : std::filesystem::path(settingsFile)),
      say_(std::move(say)),
      options_(std::move(options)) {
    mail_.systemInfoBlock = mail::BuildSystemInfoBlock(mail::SystemHostSources());
    options_.stop = &stop_;
}

MonitorMail::~MonitorMail() { Stop(); }

void MonitorMail::CheckSettings() {
    if (const auto problem = mail::CheckMailSettingsAtStartup(store_, settings_, state_.shell))
        say_(mail::EscapeControlCharacters(*problem));
}

void MonitorMail::Raise(int kind, int device, int member) {
    mail::RaiseMailEvent(state_, mail_, {settings_.suppressMask}, static_cast<std::uint8_t>(kind),
                         static_cast<std::uint8_t>(device), static_cast<std::uint8_t>(member));
}

void MonitorMail::RequestReload() { state_.shell.mailRequestFlags |= mail::kRequestReload; }

bool MonitorMail::Busy() const {
    return (sender_.joinable() && !done_.load()) || !mail_.pending.empty();
}

bool MonitorMail::StartTestMail(TestMailDone done) {
    if (testSender_.joinable() && testDone_.load()) testSender_.join();
    if (testSender_.joinable() || stop_.load()) return false;
    testDone_ = false;
    // The options carry the stop flag: a stopping monitor ends the send too.
    testSender_ = std::thread([this, done = std::move(done), options = options_,
                               file = SettingsFile()] {
        std::vector<std::string> transcript;
        const client::TestMailAnswer answer = SendTestMail(
            file, options, [&transcript](const std::string& line) { transcript.push_back(line); });
        done(answer, transcript);
        testDone_ = true;
    });
    return true;
}

void MonitorMail::Serve() {
    if (sender_.joinable() && done_.load()) sender_.join();
    if (testSender_.joinable() && testDone_.load()) testSender_.join();
    if (!sender_.joinable()) {
        std::optional<mail::SendReport> report;
        {
            std::lock_guard<std::mutex> lock(resultLock_);
            report = std::move(result_);
            result_.reset();
        }
        if (report && report->sent) {
            say_((report->refused.empty() ? "e-mail sent: " : "e-mail sent only in part: ") +
                 subject_);
            for (const std::string& note : mail::SendNotes(*report))
                say_("e-mail: " + mail::EscapeControlCharacters(note));
        }
        // The error may quote the server: the journal gets it escaped.
        if (report && !report->sent)
            say_("e-mail not sent: " + mail::EscapeControlCharacters(report->error));
    }
    if (stop_.load() && !sender_.joinable() && !mail_.pending.empty()) {
        const std::size_t n = mail_.pending.size();
        say_("e-mail not sent: the monitor stopped with " + std::to_string(n) +
             (n == 1 ? " notification" : " notifications") + " waiting");
        mail_.pending.clear();
    }
    if (state_.shell.mailRequestFlags.load() == 0 || sender_.joinable() || stop_.load()) return;

    mail::MailPassResult pass =
        mail::MailPass(state_.shell, mail_, settings_, store_, kAppTitle, {});
    for (const std::string& problem : pass.problems) say_(mail::EscapeControlCharacters(problem));
    if (!pass.job) return;
    subject_ = pass.job->message.subject;
    done_ = false;
    sender_ = std::thread([this, job = std::move(*pass.job)]() mutable {
        mail::SendReport report = mail::SendNotificationMail(job, options_);
        {
            std::lock_guard<std::mutex> lock(resultLock_);
            result_ = std::move(report);
        }
        // SendBusy is free once the job, with its claim, is gone.
        job = {};
        done_ = true;
    });
}

void MonitorMail::Stop() {
    stop_ = true;
    // Serve tells how the stopped send ended.
    if (sender_.joinable()) sender_.join();
    if (testSender_.joinable()) testSender_.join();
}

}  // namespace raid::service
