#include "mail/smtp_client.h"

#include <QSslCertificate>
#include <QSslCipher>
#include <QSslConfiguration>
#include <QSslSocket>
#include <algorithm>
#include <initializer_list>
#include <optional>
#include <random>

#include "mail/mail_message.h"
#include "mail/system_info.h"

namespace raid::mail {
namespace {

using Millis = std::chrono::milliseconds;
using Steady = std::chrono::steady_clock;

constexpr Millis kSlice{100};        // how often a wait looks at the stop flag
constexpr qint64 kReadChunk = 4096;  // the reply reader's bound grows by no more
constexpr Millis kQuitLimit{2000};   // a polite goodbye, not worth a long wait

std::string DurationText(Millis d) {
    return d.count() % 1000 == 0 ? std::to_string(d.count() / 1000) + " s"
                                 : std::to_string(d.count()) + " ms";
}

QString Q(const std::string& s) { return QString::fromStdString(s); }

// Port text to number: empty means the default of the security choice.
std::optional<quint16> PortNumber(const std::string& text, Security security) {
    if (text.empty()) return security == Security::Tls ? 465 : 25;
    if (text.size() > 5 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    const int port = std::stoi(text);
    if (port < 1 || port > 65535) return std::nullopt;
    return static_cast<quint16>(port);
}

// One connection to the mail host and the exchange over it. Every wait is
// bounded by the stage limit and looks at the stop flag between slices.
class Session {
public:
    Session(const SmtpOptions& options, Millis limit, const SmtpEvents& events)
        : options_(options), limit_(limit), events_(events) {}
    ~Session() { Close(); }

    const std::string& error() const { return error_; }

    bool Open(const std::string& host, quint16 port, Security security) {
        host_ = host + ":" + std::to_string(port);
        Note("connecting to " + host_ + (security == Security::Tls ? " with TLS" : ""));
        if (security != Security::None && !ConfigureTls()) return false;
        const Steady::time_point deadline = Steady::now() + limit_;
        if (security == Security::Tls) {
            socket_.connectToHostEncrypted(Q(host), port);
        } else {
            socket_.connectToHost(Q(host), port);
        }
        while (socket_.state() != QAbstractSocket::ConnectedState) {
            if (!Waiting(deadline, "connecting to " + host_)) return false;
            if (!socket_.waitForConnected(Slice(deadline)) &&
                socket_.state() == QAbstractSocket::UnconnectedState) {
                return Fail("Cannot connect to the mail server " + host_ + ": " +
                            socket_.errorString().toStdString());
            }
        }
        if (security == Security::Tls && !Handshake()) return false;
        Announce(SmtpEvent::Connected);
        connected_ = true;
        return Expect("the greeting", {220});
    }

    // EHLO, or HELO when EHLO is refused. Records what EHLO offers.
    bool Hello(const std::string& name) {
        if (!Line("ehlo " + name, "EHLO")) return false;
        const auto reply = Read("EHLO");
        if (!reply) return false;
        if (reply->code == 250) {
            ehlo_ = *reply;
            mechanisms_ = AuthMechanisms(*reply);
            return true;
        }
        ehlo_.reset();
        mechanisms_.clear();
        return Command("Helo " + name, "HELO", {250});
    }

    // STARTTLS, the handshake, and EHLO again over TLS.
    bool StartTls(const std::string& name) {
        if (!ehlo_ || !OffersExtension(*ehlo_, "STARTTLS")) {
            return Fail("The mail server " + host_ + " does not offer STARTTLS");
        }
        if (!Command("STARTTLS", "STARTTLS", {220})) return false;
        // Anything the server sent before the handshake could be injected
        // by a man in the middle: it is dropped, unread.
        reader_.Clear();
        socket_.readAll();
        socket_.startClientEncryption();
        return Handshake() && Hello(name);
    }

    bool Authenticate(const std::string& user, const std::string& password) {
        if (authenticated_ ||
            std::find(mechanisms_.begin(), mechanisms_.end(), "LOGIN") == mechanisms_.end()) {
            return true;
        }
        if (!Command("auth LOGIN", "AUTH LOGIN", {334}) ||
            !Command(Base64(user), "AUTH LOGIN (user name)", {334}) ||
            !Command(Base64(password), kPasswordStage, {235})) {
            return false;
        }
        authenticated_ = true;
        return true;
    }

    bool Command(const std::string& line, const std::string& stage,
                 std::initializer_list<int> accepted) {
        return Line(line, stage) && Expect(stage, accepted);
    }

    // The message and the final "."; TransferEnd only once it is accepted.
    bool Transfer(const std::string& message) {
        Announce(SmtpEvent::TransferBegin);
        Tell("C: <the message, " + std::to_string(message.size()) + " bytes>");
        Tell("C: .");
        if (!Write(message + ".\r\n", "the message") || !Expect("the end of the message", {250})) {
            return false;
        }
        Announce(SmtpEvent::TransferEnd);
        return true;
    }

    // "Quit" while the server still talks, then the connection is closed.
    // Errors of the goodbye are not the send's errors.
    void Close() {
        const std::string kept = error_;
        if (connected_ && responsive_ && socket_.state() == QAbstractSocket::ConnectedState) {
            limit_ = std::min(limit_, kQuitLimit);
            if (Line("Quit", "QUIT")) Read("QUIT");
        }
        error_ = kept;
        connected_ = false;
        authenticated_ = false;
        socket_.abort();
        if (announced_) Note("disconnected");
        Announce(SmtpEvent::Disconnected);
    }

private:
    static constexpr const char* kPasswordStage = "AUTH LOGIN (password)";

    void Tell(const std::string& line) const {
        if (options_.transcript) options_.transcript(line);
    }
    void Note(const std::string& text) const { Tell("-- " + text); }

    bool Fail(std::string text) {
        if (error_.empty()) error_ = std::move(text);
        return false;
    }

    int Slice(Steady::time_point deadline) const {
        const auto left = std::chrono::duration_cast<Millis>(deadline - Steady::now());
        return static_cast<int>(std::clamp(left, Millis(1), kSlice).count());
    }

    // False (with the error) once the deadline has passed or a stop is asked.
    bool Waiting(Steady::time_point deadline, const std::string& stage) {
        if (options_.stop != nullptr && options_.stop->load()) {
            responsive_ = false;
            return Fail("The send was stopped (" + stage + ")");
        }
        if (Steady::now() < deadline) return true;
        responsive_ = false;
        return Fail("No answer from the mail server " + host_ + " within " + DurationText(limit_) +
                    " (" + stage + ")");
    }

    bool ConfigureTls() {
        if (!QSslSocket::supportsSsl()) {
            return Fail("TLS is not available on this system (Qt found no TLS back end)");
        }
        QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
        conf.setPeerVerifyMode(QSslSocket::VerifyPeer);
        if (!options_.caFile.empty()) {
            const auto extra = QSslCertificate::fromPath(Q(options_.caFile), QSsl::Pem);
            if (extra.isEmpty()) return Fail("No CA certificate in " + options_.caFile);
            conf.setCaCertificates(QSslConfiguration::systemCaCertificates() + extra);
        }
        socket_.setSslConfiguration(conf);
        return true;
    }

    bool Handshake() {
        const Steady::time_point deadline = Steady::now() + limit_;
        Note("TLS handshake");
        while (!socket_.isEncrypted()) {
            if (!Waiting(deadline, "the TLS handshake")) return false;
            if (socket_.waitForEncrypted(Slice(deadline))) break;
            const auto errors = socket_.sslHandshakeErrors();
            if (!errors.isEmpty() || socket_.state() != QAbstractSocket::ConnectedState) {
                std::string reasons;
                for (const QSslError& e : errors) {
                    if (!reasons.empty()) reasons += "; ";
                    reasons += e.errorString().toStdString();
                }
                if (reasons.empty()) reasons = socket_.errorString().toStdString();
                responsive_ = false;
                return Fail("The TLS handshake with the mail server " + host_ +
                            " failed: " + reasons);
            }
        }
        const QSslCipher cipher = socket_.sessionCipher();
        Note("TLS established (" + cipher.protocolString().toStdString() + ", " +
             cipher.name().toStdString() + ")");
        return true;
    }

    bool Line(const std::string& text, const std::string& stage) {
        Tell(stage == kPasswordStage ? "C: <the password, Base64, not shown>" : "C: " + text);
        return Write(text + "\r\n", stage);
    }

    bool Write(const std::string& data, const std::string& stage) {
        if (socket_.write(data.data(), static_cast<qint64>(data.size())) !=
            static_cast<qint64>(data.size())) {
            return Fail("Cannot send " + stage + " to the mail server " + host_ + ": " +
                        socket_.errorString().toStdString());
        }
        const Steady::time_point deadline = Steady::now() + limit_;
        while (socket_.bytesToWrite() > 0 || socket_.encryptedBytesToWrite() > 0) {
            if (!Waiting(deadline, "sending " + stage)) return false;
            if (!socket_.waitForBytesWritten(Slice(deadline)) &&
                socket_.state() != QAbstractSocket::ConnectedState) {
                return Fail("The mail server " + host_ + " closed the connection (sending " +
                            stage + ")");
            }
        }
        return true;
    }

    std::optional<SmtpReply> Read(const std::string& stage) {
        const Steady::time_point deadline = Steady::now() + limit_;
        for (;;) {
            SmtpReply reply;
            std::string why;
            const auto status = reader_.Next(reply, why);
            if (status == ReplyReader::Status::Complete) {
                for (std::size_t i = 0; i < reply.lines.size(); ++i) {
                    Tell("S: " + std::to_string(reply.code) +
                         (i + 1 < reply.lines.size() ? "-" : " ") + reply.lines[i]);
                }
                return reply;
            }
            if (status == ReplyReader::Status::Malformed) {
                responsive_ = false;
                Fail("The mail server " + host_ + " gave no SMTP answer to " + stage + ": " + why);
                return std::nullopt;
            }
            if (socket_.bytesAvailable() > 0) {
                reader_.Feed(socket_.read(kReadChunk).toStdString());
                continue;
            }
            if (socket_.state() != QAbstractSocket::ConnectedState) {
                responsive_ = false;
                Fail("The mail server " + host_ +
                     " closed the connection (waiting for the answer to " + stage + ")");
                return std::nullopt;
            }
            if (!Waiting(deadline, "waiting for the answer to " + stage)) return std::nullopt;
            socket_.waitForReadyRead(Slice(deadline));
        }
    }

    bool Expect(const std::string& stage, std::initializer_list<int> accepted) {
        const auto reply = Read(stage);
        if (!reply) return false;
        if (accepted.size() == 0 ||
            std::find(accepted.begin(), accepted.end(), reply->code) != accepted.end()) {
            return true;
        }
        return Fail("The mail server refused " + stage + ": " + reply->Text());
    }

    void Announce(SmtpEvent event) {
        if (event == SmtpEvent::Connected) announced_ = true;
        if (event == SmtpEvent::Disconnected) {
            if (!announced_) return;
            announced_ = false;
        }
        if (events_) events_(event);
    }

    const SmtpOptions& options_;
    Millis limit_;
    const SmtpEvents& events_;
    QSslSocket socket_;
    ReplyReader reader_;
    std::string host_;
    std::string error_;
    std::optional<SmtpReply> ehlo_;
    std::vector<std::string> mechanisms_;
    bool connected_ = false;
    bool announced_ = false;
    bool responsive_ = true;  // no time-out, no garbage: a "Quit" may be sent
    bool authenticated_ = false;
};

std::optional<std::string> JobProblem(const MailJob& job) {
    const auto check = [](const std::string& address) -> std::optional<std::string> {
        if (const auto why = AddressProblem(address)) {
            return "Cannot send with the address \"" + SingleLine(address) + "\": " + *why;
        }
        return std::nullopt;
    };
    if (job.settings.host.empty()) return "No e-mail host (SMTP) is set";
    if (job.recipients.empty()) return "No recipient address is set";
    if (auto p = check(job.settings.senderAddress)) return p;
    for (const std::string& r : job.recipients) {
        if (auto p = check(r)) return p;
    }
    if (job.settings.host.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
        return "The e-mail host holds a line break";
    }
    return std::nullopt;
}

}  // namespace

std::chrono::milliseconds StageTimeout(const MailJob& job, const SmtpOptions& options) {
    if (options.stageTimeout.count() > 0) return options.stageTimeout;
    const std::string& t = job.settings.timeOut;
    if (!t.empty() && t.size() <= 2 &&
        std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        const int seconds = std::stoi(t);
        if (seconds > 0) return std::chrono::seconds(seconds);
    }
    return kDefaultStageTimeout;
}

SendReport SendNotificationMail(const MailJob& job, const SmtpOptions& options,
                                const SmtpEvents& events) {
    SendReport report;
    if (auto problem = JobProblem(job)) {
        report.error = *problem;
        return report;
    }
    const MailSettings& s = job.settings;
    const auto port = PortNumber(s.port, s.security);
    if (!port) {
        report.error = "The port \"" + SingleLine(s.port) + "\" is not a number from 1 to 65535";
        return report;
    }
    const std::string helo = HeloName(
        options.heloName.empty() ? SystemHostName().value_or(std::string()) : options.heloName);
    MessageHeader header;
    header.senderName = s.senderName;
    header.senderAddress = s.senderAddress;
    header.to = job.recipients;
    header.subject = job.message.subject;
    header.date = options.clock ? options.clock->WallNow() : std::chrono::system_clock::now();
    std::random_device random;
    const std::uint64_t unique = (static_cast<std::uint64_t>(random()) << 32) | random();
    const std::string domain = AddressDomain(s.senderAddress);
    header.messageId = MakeMessageId(header.date, domain.empty() ? helo : domain, unique);

    Session session(options, StageTimeout(job, options), events);
    bool ok = session.Open(s.host, *port, s.security) && session.Hello(helo) &&
              (s.security != Security::StartTls || session.StartTls(helo)) &&
              session.Command("Rset", "RSET", {}) &&
              (!job.authenticate || session.Authenticate(s.account, s.password)) &&
              session.Command("Mail from:<" + s.senderAddress + ">", "MAIL FROM", {250});
    for (std::size_t i = 0; ok && i < job.recipients.size(); ++i) {
        const std::string& r = job.recipients[i];
        ok = session.Command("RCPT to:<" + r + ">", "RCPT TO <" + r + ">", {250, 251});
    }
    ok = ok && session.Command("Data", "DATA", {354}) &&
         session.Transfer(FormatMessage(header, job.message.body));
    session.Close();
    report.sent = ok;
    report.error = session.error();
    return report;
}

std::optional<SendReport> ServeMailRequests(const ShellFlags& flags,
                                            const std::function<std::optional<MailJob>()>& runPass,
                                            const SmtpOptions& options, const SmtpEvents& events) {
    if (flags.mailRequestFlags.load() == 0) return std::nullopt;
    const std::optional<MailJob> job = runPass();
    if (!job) return std::nullopt;
    // The job keeps SendBusy until it is dropped at the end of this call.
    return SendNotificationMail(*job, options, events);
}

}  // namespace raid::mail
