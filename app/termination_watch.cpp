#include "app/termination_watch.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>

namespace raid::app {
namespace {

int g_pipe[2] = {-1, -1};
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

void OnSignal(int signal) {
    const int saved = errno;
    const char byte = static_cast<char>(signal);
    // Async-signal-safe; a full pipe already carries a pending request.
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

TerminationWatch::TerminationWatch(QObject* parent) : QObject(parent) {
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : kSignals) ::sigaction(signal, &action, nullptr);
    notifier_ = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminationWatch::drain);
}

TerminationWatch::~TerminationWatch() {
    if (g_pipe[0] < 0) return;
    for (const int signal : kSignals) ::signal(signal, SIG_DFL);
    delete notifier_;
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

void TerminationWatch::drain() {
    char buffer[16];
    ssize_t n;
    while ((n = ::read(g_pipe[0], buffer, sizeof buffer)) > 0)
        for (ssize_t i = 0; i < n; ++i) Q_EMIT terminationRequested(buffer[i]);
}

}  // namespace raid::app
