#include "tests/smtp/test_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "sim/fuse/sim_mount.h"

namespace raid::test_support {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

QString Q(const fs::path& p) { return QString::fromStdString(p.string()); }

constexpr int kRunLimitMs = 20000;

bool Run(const QString& program, const QStringList& args, std::string& error) {
    std::vector<std::string> argv{sim::fuse::FindProgram(program.toStdString())};
    for (const QString& a : args) argv.push_back(a.toStdString());
    const sim::fuse::CommandResult r = sim::fuse::RunCommand(argv, kRunLimitMs);
    if (r.exitCode != 0) {
        error = program.toStdString() + " " + args.join(' ').toStdString() + ": " + r.err + r.out;
        return false;
    }
    return true;
}

}  // namespace

std::optional<QString> TestSmtpServer::Python(std::string& whyNot) {
    static bool anyPython = false;
    static const std::optional<QString> found = [] {
        // Debian's interpreter first: the package installs for it, and a
        // Python of one's own in PATH may lack the module.
        for (const std::string& candidate :
             {std::string("/usr/bin/python3"), sim::fuse::FindProgram("python3")}) {
            if (candidate.empty() || !fs::exists(candidate)) continue;
            anyPython = true;
            if (sim::fuse::RunCommand({candidate, "-c", "import aiosmtpd"}, kRunLimitMs).exitCode ==
                0) {
                return std::optional<QString>(QString::fromStdString(candidate));
            }
        }
        return std::optional<QString>();
    }();
    if (!found) {
        whyNot = std::string(anyPython ? "python3 has no aiosmtpd module"
                                       : "no python3 interpreter was found") +
                 ": the SMTP tests need its server (scripts/install-deps.sh installs "
                 "python3-aiosmtpd; or apt-get install python3-aiosmtpd)";
    }
    return found;
}

TestSmtpServer::~TestSmtpServer() = default;

bool TestSmtpServer::Start(const QStringList& options, std::string& error) {
    const auto python = Python(error);
    if (!python) return false;
    fs::create_directories(folder_);
    std::vector<std::string> argv{python->toStdString(), SMTP_TEST_SERVER, "--dir",
                                  folder_.string()};
    for (const QString& o : options) argv.push_back(o.toStdString());
    if (!process_.Start(argv, error)) return false;
    while (const auto line = process_.ReadLine(std::chrono::seconds(10))) {
        if (line->starts_with("READY ")) {
            port_ = static_cast<quint16>(std::stoul(line->substr(6)));
            return port_ != 0;
        }
    }
    error = "the test SMTP server did not start";
    return false;
}

bool ChildProcess::Start(const std::vector<std::string>& argv, std::string& error) {
    Kill();
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    // Built before the fork: the child of a threaded program may only make
    // async-signal-safe calls.
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        error = std::string("fork: ") + std::strerror(errno);
        ::close(fds[0]);
        ::close(fds[1]);
        return false;
    }
    if (pid == 0) {
        ::dup2(fds[1], STDOUT_FILENO);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    pid_ = pid;
    out_ = fds[0];
    buffer_.clear();
    return true;
}

bool ChildProcess::ReadMore(std::chrono::steady_clock::time_point deadline) {
    if (out_ < 0) return false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{out_, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        char chunk[4096];
        const ssize_t n = ::read(out_, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        buffer_.append(chunk, static_cast<std::size_t>(n));
        return true;
    }
}

std::optional<std::string> ChildProcess::ReadLine(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto end = buffer_.find('\n');
        if (end != std::string::npos) {
            std::string line = buffer_.substr(0, end);
            buffer_.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return line;
        }
        if (!ReadMore(deadline)) return std::nullopt;
    }
}

void ChildProcess::Kill() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    if (out_ >= 0) {
        ::close(out_);
        out_ = -1;
    }
}

std::string TestSmtpServer::Commands() const { return ReadAll(folder_ / "commands.log"); }

std::vector<ReceivedMessage> TestSmtpServer::Messages() const {
    std::vector<ReceivedMessage> out;
    for (int n = 1;; ++n) {
        const fs::path stem = folder_ / ("message-" + std::to_string(n));
        if (!fs::exists(stem.string() + ".eml")) return out;
        const auto meta =
            QJsonDocument::fromJson(QByteArray::fromStdString(ReadAll(stem.string() + ".json")))
                .object();
        ReceivedMessage m;
        m.mailFrom = meta["mail_from"].toString().toStdString();
        for (const auto& r : meta["rcpt_tos"].toArray())
            m.rcptTos.push_back(r.toString().toStdString());
        m.login = meta["login"].toString().toStdString();
        m.data = ReadAll(stem.string() + ".eml");
        out.push_back(std::move(m));
    }
}

mail::MailPageFields LoopbackPageFields(quint16 port, const std::string& timeOut) {
    mail::MailPageFields f;
    f.settings.host = "127.0.0.1";
    f.settings.port = std::to_string(port);
    f.settings.senderName = "RAID Box";
    f.settings.senderAddress = "raid@example.com";
    f.settings.timeOut = timeOut;
    f.settings.account = "raid";
    f.settings.password = "s3cret";
    f.addresses = {"ops@example.com", "boss@example.com"};
    return f;
}

bool StoreMailSettings(const fs::path& file, mail::MailPageFields fields, std::string& error) {
    mail::SettingsStore store(file);
    mail::MailSettingsState state;
    ShellFlags flags;
    if (const auto problem = mail::CheckMailSettingsAtStartup(store, state, flags)) {
        error = *problem;
        return false;
    }
    if (const auto problem = mail::SaveMailSettings(store, state, flags, fields)) {
        error = *problem;
        return false;
    }
    return true;
}

std::optional<TestCertificates> MakeTestCertificates(const fs::path& folder, std::string& error) {
    fs::create_directories(folder);
    TestCertificates c{folder / "ca.pem", folder / "server.pem", folder / "server.key",
                       folder / "other.pem", folder / "other.key"};
    const fs::path caKey = folder / "ca.key";
    const QStringList ecKey{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
    if (!Run("openssl",
             QStringList{"req", "-x509"} + ecKey +
                 QStringList{"-keyout", Q(caKey), "-out", Q(c.caFile), "-days", "2", "-subj",
                             "/CN=RAID manager test CA", "-addext",
                             "basicConstraints=critical,CA:TRUE", "-addext",
                             "keyUsage=critical,keyCertSign,cRLSign"},
             error)) {
        return std::nullopt;
    }
    const auto issue = [&](const fs::path& cert, const fs::path& key, const QString& name,
                           const QString& altNames) {
        const fs::path request = folder / (cert.stem().string() + ".csr");
        const fs::path extensions = folder / (cert.stem().string() + ".ext");
        std::ofstream(extensions) << "subjectAltName=" << altNames.toStdString() << "\n"
                                  << "extendedKeyUsage=serverAuth\n";
        return Run("openssl",
                   QStringList{"req"} + ecKey +
                       QStringList{"-keyout", Q(key), "-out", Q(request), "-subj", "/CN=" + name},
                   error) &&
               Run("openssl",
                   {"x509", "-req", "-in", Q(request), "-CA", Q(c.caFile), "-CAkey", Q(caKey),
                    "-CAcreateserial", "-out", Q(cert), "-days", "2", "-extfile", Q(extensions)},
                   error);
    };
    if (!issue(c.serverCert, c.serverKey, "127.0.0.1",
               "IP:127.0.0.1,DNS:127.0.0.1,DNS:localhost") ||
        !issue(c.otherCert, c.otherKey, "mail.other.example", "DNS:mail.other.example")) {
        return std::nullopt;
    }
    return c;
}

}  // namespace raid::test_support
