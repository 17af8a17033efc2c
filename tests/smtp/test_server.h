#pragma once
// Runs tests/smtp/smtp_test_server.py (python3-aiosmtpd) on the loopback
// address for one test, and makes TLS certificates with openssl.
#include <QString>
#include <QStringList>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "mail/mail_settings.h"

namespace raid::test_support {

// A message the server accepted: its envelope and its data as received.
struct ReceivedMessage {
    std::string mailFrom;
    std::vector<std::string> rcptTos;
    std::string login;  // empty when the session did not authenticate
    std::string data;
};

// A child program started with fork and exec, its output on a pipe.
// QProcess starts children the vfork way: the child's steps land in the
// parent's ThreadSanitizer state, which then loses sight of the parent's
// locks, and the thread tests run this server under it.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess() { Kill(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // argv[0] is looked up in PATH. Standard output comes through the pipe;
    // errors go where this program's go.
    bool Start(const std::vector<std::string>& argv, std::string& error);
    // The next line of output without its end, or nullopt at the end of the
    // output or after `limit`.
    std::optional<std::string> ReadLine(std::chrono::milliseconds limit);
    void Kill();

private:
    // False at the end of the output or at `deadline`.
    bool ReadMore(std::chrono::steady_clock::time_point deadline);

    int pid_ = -1;
    int out_ = -1;
    std::string buffer_;
};

class TestSmtpServer {
public:
    // The Python that has aiosmtpd, or why there is none (for the failure).
    static std::optional<QString> Python(std::string& whyNot);

    explicit TestSmtpServer(std::filesystem::path folder) : folder_(std::move(folder)) {}
    ~TestSmtpServer();

    // Starts the server with these options; false with `error` when it does
    // not come up within 10 s.
    bool Start(const QStringList& options, std::string& error);
    quint16 port() const { return port_; }

    // Command lines received so far, one a line.
    std::string Commands() const;
    std::vector<ReceivedMessage> Messages() const;

private:
    std::filesystem::path folder_;
    ChildProcess process_;
    quint16 port_ = 0;
};

// What the e-mail page would hold for a server on 127.0.0.1:`port`: sender
// "RAID Box" <raid@example.com>, login "raid" / "s3cret" (the server's),
// authentication off, recipients ops@example.com and boss@example.com,
// stage limit `timeOut` seconds.
mail::MailPageFields LoopbackPageFields(quint16 port, const std::string& timeOut = "10");

// Stores `fields` in the settings file `file` as the page's OK does; false
// with `error` when it cannot.
bool StoreMailSettings(const std::filesystem::path& file, mail::MailPageFields fields,
                       std::string& error);

// A test CA and two server certificates signed by it: one for 127.0.0.1,
// one for another host.
struct TestCertificates {
    std::filesystem::path caFile, serverCert, serverKey, otherCert, otherKey;
};

// Makes them in `folder` with openssl; nullopt with `error` when it cannot.
std::optional<TestCertificates> MakeTestCertificates(const std::filesystem::path& folder,
                                                     std::string& error);

}  // namespace raid::test_support
