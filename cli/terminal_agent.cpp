#include "cli/terminal_agent.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <systemd/sd-login.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

extern char** environ;

namespace raid::cli {
namespace {

constexpr const char* kAgent = "/usr/bin/pkttyagent";
// pkttyagent closes the notify descriptor once it is registered.
constexpr int kRegisterWaitMs = 5000;

}  // namespace

TerminalAgent::~TerminalAgent() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
}

bool TerminalAgent::Start(std::string& why) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        why = std::string("cannot start ") + kAgent + ": " + std::strerror(errno);
        return false;
    }
    // The child keeps the write end open across exec under a fixed number.
    const std::string notifyFd = std::to_string(3);
    const std::string process = std::to_string(::getpid());
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 3);
    std::vector<std::string> words{kAgent, "--process", process, "--notify-fd", notifyFd};
    // In a login session the desktop's own agent, where one runs, asks
    // instead. polkitd asks a fallback agent only for a caller in a session,
    // so outside one (a container, no logind) the agent must not be one.
    char* session = nullptr;
    if (sd_pid_get_session(0, &session) >= 0) words.push_back("--fallback");
    std::free(session);
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, kAgent, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        ::close(pipeFds[0]);
        why = std::string("cannot start ") + kAgent + ": " + std::strerror(spawned);
        return false;
    }
    pid_ = pid;
    pollfd p{pipeFds[0], POLLIN, 0};
    char byte = 0;
    bool registered = false;
    for (;;) {
        const int n = ::poll(&p, 1, kRegisterWaitMs);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // the agent did not say it is ready
        const ssize_t got = ::read(pipeFds[0], &byte, 1);
        if (got < 0 && errno == EINTR) continue;
        registered = got == 0;  // closed: registered
        break;
    }
    ::close(pipeFds[0]);
    int status = 0;
    if (!registered || ::waitpid(pid_, &status, WNOHANG) == pid_) {
        why = std::string(kAgent) + " did not register with polkit";
        return false;
    }
    return true;
}

template <typename Call>
auto AgentRetryAccess::WithAgent(const client::CallOptions& options, Call call)
    -> decltype(call()) {
    auto answer = call();
    if (!answer.authenticationWouldDo || !options.interactive || !terminal_ || agent_)
        return answer;
    agent_ = std::make_unique<TerminalAgent>();
    std::string why;
    if (!agent_->Start(why)) {
        answer.notes.push_back(why);
        return answer;
    }
    return call();
}

client::SettingAnswer AgentRetryAccess::SetBuzzer(const std::string& disk, bool mute,
                                                  const client::CallOptions& options) {
    return WithAgent(options, [&] { return inner_.SetBuzzer(disk, mute, options); });
}

client::SettingAnswer AgentRetryAccess::SetBackupPeriod(const std::string& disk,
                                                        const client::PeriodRequest& period,
                                                        const client::CallOptions& options) {
    return WithAgent(options, [&] { return inner_.SetBackupPeriod(disk, period, options); });
}

client::FlashReadAnswer AgentRetryAccess::ReadFlash(const std::string& disk, std::uint32_t length,
                                                    const client::CallOptions& options) {
    return WithAgent(options, [&] { return inner_.ReadFlash(disk, length, options); });
}

client::FlashAnswer AgentRetryAccess::Flash(const std::string& disk,
                                            const std::vector<std::uint8_t>& image, bool backup,
                                            client::FlashHandlers handlers,
                                            const client::CallOptions& options) {
    return WithAgent(options, [&] { return inner_.Flash(disk, image, backup, handlers, options); });
}

client::MailSettingsAnswer AgentRetryAccess::MailSettings(const client::CallOptions& options) {
    return WithAgent(options, [&] { return inner_.MailSettings(options); });
}

client::Answer AgentRetryAccess::SetMailSettings(const client::MailSettingsChanges& changes,
                                                 const client::CallOptions& options) {
    return WithAgent(options, [&] { return inner_.SetMailSettings(changes, options); });
}

client::TestMailAnswer AgentRetryAccess::SendTestMail(
    const client::CallOptions& options, const std::function<void(const std::string&)>& transcript) {
    return WithAgent(options, [&] { return inner_.SendTestMail(options, transcript); });
}

}  // namespace raid::cli
