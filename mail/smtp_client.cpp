#include "mail/smtp_client.h"

#include <QSslCertificate>
#include <QSslCipher>
#include <QSslConfiguration>
#include <QSslSocket>
#include <algorithm>
#include <cctype>
#include <initializer_list>
#include <map>
#include <mutex>
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

std::string RefusalText(const RefusedRecipient& r) {
    return "The mail server refused RCPT TO <" + r.address + ">: " + r.reply;
}

std::string Reasons(const QList<QSslError>& errors) {
    std::string reasons;
    for (const QSslError& e : errors) {
        if (!reasons.empty()) reasons += "; ";
        reasons += e.errorString().toStdString();
    }
    return reasons;
}

// The TLS settings of every connection with `caFile` (empty: the system's
// store alone), built once per process: loading a CA store costs more than
// all the rest of a send. Never destroyed, so that a sender thread still
// running at exit finds it.
std::optional<QSslConfiguration> TlsConfiguration(const std::string& caFile, std::string& error) {
    static std::mutex lock;
    static auto* built = new std::map<std::string, QSslConfiguration>();
    std::lock_guard<std::mutex> guard(lock);
    if (const auto it = built->find(caFile); it != built->end()) return it->second;
    QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
    conf.setPeerVerifyMode(QSslSocket::VerifyPeer);
    if (!caFile.empty()) {
        const auto extra = QSslCertificate::fromPath(Q(caFile), QSsl::Pem);
        if (extra.isEmpty()) {
            error = "No CA certificate in " + caFile;
            return std::nullopt;
        }
        conf.setCaCertificates(QSslConfiguration::systemCaCertificates() + extra);
    }
    return built->emplace(caFile, conf).first->second;
}

// One connection to the mail host and the exchange over it. Every wait is
// bounded by the stage limit and looks at the stop flag between slices.
class Session {
public:
    Session(const SmtpOptions& options, Millis limit, const SmtpEvents& events)
        : options_(options), limit_(limit), events_(events) {
        // Opportunistic TLS takes a certificate that does not verify, as
        // mail servers do among themselves; the person is warned.
        QObject::connect(&socket_, &QSslSocket::sslErrors, &socket_,
                         [this](const QList<QSslError>& errors) {
                             if (!tolerateCertificate_) return;
                             certificateProblems_ = Reasons(errors);
                             socket_.ignoreSslErrors();
                         });
    }
    ~Session() { Close(); }

    const std::string& error() const { return error_; }
    const std::vector<std::string>& warnings() const { return warnings_; }
    // The opportunistic TLS handshake failed: this connection is lost, a
    // new one may go in clear.
    bool tlsBroken() const { return tlsBroken_; }
    bool Offers(std::string_view extension) const {
        return ehlo_ && OffersExtension(*ehlo_, extension);
    }

    bool Open(const std::string& host, quint16 port, Security security) {
        host_ = host + ":" + std::to_string(port);
        Note("connecting to " + host_ + (security == Security::Tls ? " with TLS" : ""));
        if (security == Security::Tls && !ConfigureTls(false)) return false;
        // The name lookup counts against the connect stage's limit.
        const Steady::time_point deadline = Steady::now() + limit_;
        HostLookup lookup(host, options_.resolve);
        std::optional<LookupResult> found;
        while (!(found = lookup.Wait(Millis(Slice(deadline))))) {
            if (Steady::now() >= deadline) {
                return Fail("The name of the mail server " + host_ + " was not looked up within " +
                            DurationText(limit_));
            }
            if (!Waiting(deadline, "looking up " + host)) return false;
        }
        if (found->addresses.empty()) {
            return Fail("Cannot find the mail server " + host_ + ": " + found->error);
        }
        std::string why;
        for (const std::string& address : found->addresses) {
            socket_.abort();
            if (security == Security::Tls) {
                socket_.connectToHostEncrypted(Q(address), port, Q(host));
            } else {
                socket_.connectToHost(Q(address), port);
            }
            while (socket_.state() != QAbstractSocket::ConnectedState) {
                if (!Waiting(deadline, "connecting to " + host_)) return false;
                if (!socket_.waitForConnected(Slice(deadline)) &&
                    socket_.state() == QAbstractSocket::UnconnectedState) {
                    why = socket_.errorString().toStdString();
                    break;
                }
            }
            if (socket_.state() == QAbstractSocket::ConnectedState) break;
        }
        if (socket_.state() != QAbstractSocket::ConnectedState) {
            return Fail("Cannot connect to the mail server " + host_ + ": " + why);
        }
        // Certificates are checked against the name, not the address.
        socket_.setPeerVerifyName(Q(host));
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

    // STARTTLS, the handshake, and EHLO again over TLS. `mandatory` (the
    // STARTTLS security): anything short of that ends the send. Otherwise a
    // server without STARTTLS, one that refuses it, or a system without TLS
    // leaves the connection in clear, and a failed handshake breaks it
    // (tlsBroken). `verify`: a certificate that does not verify ends the
    // send; else it is a warning.
    bool StartTls(const std::string& name, bool mandatory, bool verify) {
        const auto inClear = [this](std::string why) {
            Note("going on without TLS: " + why);
            clearReason_ = std::move(why);
            return true;
        };
        if (!Offers("STARTTLS")) {
            if (mandatory) return Fail("The mail server " + host_ + " does not offer STARTTLS");
            return inClear("the mail server " + host_ + " does not offer STARTTLS");
        }
        if (!mandatory && !QSslSocket::supportsSsl()) {
            return inClear("TLS is not available on this system (Qt found no TLS back end)");
        }
        if (!ConfigureTls(!verify) || !Line("STARTTLS", "STARTTLS")) return false;
        const auto reply = Read("STARTTLS");
        if (!reply) return false;
        if (reply->code != 220) {
            if (mandatory) return Fail("The mail server refused STARTTLS: " + reply->Text());
            return inClear("the mail server " + host_ + " refused STARTTLS: " + reply->Text());
        }
        // Anything the server sent before the handshake could be injected
        // by a man in the middle: it is dropped, unread.
        reader_.Clear();
        socket_.readAll();
        socket_.startClientEncryption();
        if (!Handshake()) {
            tlsBroken_ = !mandatory && !Stopped();
            return false;
        }
        return Hello(name);
    }

    // Refuses to go on in clear.
    bool RequireTls() {
        if (socket_.isEncrypted()) return true;
        return Fail("TLS is required, but " + clearReason_ + ": the mail was not sent");
    }

    // Goes on in clear after a failed opportunistic handshake on another
    // connection, for `why`.
    void SkipTls(std::string why) {
        Note("connecting again, without TLS: " + why);
        clearReason_ = std::move(why);
    }

    bool Authenticate(const std::string& user, const std::string& password) {
        if (authenticated_ ||
            std::find(mechanisms_.begin(), mechanisms_.end(), "LOGIN") == mechanisms_.end()) {
            return true;
        }
        if (!socket_.isEncrypted()) Warn("The password went unencrypted: " + clearReason_);
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

    // "RCPT to:<...>" for each address; a refused one is added to
    // `refused`. False when the connection fails or none is taken.
    bool Recipients(const std::vector<std::string>& addresses,
                    std::vector<RefusedRecipient>& refused) {
        std::size_t taken = 0;
        for (const std::string& address : addresses) {
            const std::string stage = "RCPT TO <" + address + ">";
            if (!Line("RCPT to:<" + address + ">", stage)) return false;
            const auto reply = Read(stage);
            if (!reply) return false;
            if (reply->code / 100 == 2) {
                ++taken;
            } else {
                refused.push_back({address, reply->Text()});
            }
        }
        if (taken > 0) return true;
        std::string all;
        for (const RefusedRecipient& r : refused) {
            all += (all.empty() ? "" : "; ") + RefusalText(r);
        }
        return Fail(all);
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
    void Warn(const std::string& text) {
        Note("warning: " + text);
        warnings_.push_back(text);
    }
    bool Stopped() const { return options_.stop != nullptr && options_.stop->load(); }

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
        if (Stopped()) {
            responsive_ = false;
            return Fail("The send was stopped (" + stage + ")");
        }
        if (Steady::now() < deadline) return true;
        responsive_ = false;
        return Fail("No answer from the mail server " + host_ + " within " + DurationText(limit_) +
                    " (" + stage + ")");
    }

    // `tolerate`: a certificate that does not verify is a warning.
    bool ConfigureTls(bool tolerate) {
        if (!QSslSocket::supportsSsl()) {
            return Fail("TLS is not available on this system (Qt found no TLS back end)");
        }
        std::string why;
        const auto conf = TlsConfiguration(options_.caFile, why);
        if (!conf) return Fail(why);
        socket_.setSslConfiguration(*conf);
        tolerateCertificate_ = tolerate;
        return true;
    }

    bool Handshake() {
        const Steady::time_point deadline = Steady::now() + limit_;
        Note("TLS handshake");
        while (!socket_.isEncrypted()) {
            if (!Waiting(deadline, "the TLS handshake")) return false;
            if (socket_.waitForEncrypted(Slice(deadline))) break;
            const auto errors = socket_.sslHandshakeErrors();
            if ((!errors.isEmpty() && !tolerateCertificate_) ||
                socket_.state() != QAbstractSocket::ConnectedState) {
                std::string reasons = tolerateCertificate_ ? std::string() : Reasons(errors);
                if (reasons.empty()) reasons = socket_.errorString().toStdString();
                responsive_ = false;
                return Fail("The TLS handshake with the mail server " + host_ +
                            " failed: " + reasons);
            }
        }
        const QSslCipher cipher = socket_.sessionCipher();
        Note("TLS established (" + cipher.protocolString().toStdString() + ", " +
             cipher.name().toStdString() + ")");
        if (!certificateProblems_.empty()) {
            Warn("The certificate of the mail server " + host_ + " did not verify (" +
                 certificateProblems_ + "); the connection was encrypted all the same");
        }
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
    std::vector<std::string> warnings_;
    std::string clearReason_;          // why the connection is not encrypted
    std::string certificateProblems_;  // of a certificate taken all the same
    bool tolerateCertificate_ = false;
    bool tlsBroken_ = false;
    bool connected_ = false;
    bool announced_ = false;
    bool responsive_ = true;  // no time-out, no garbage: a "Quit" may be sent
    bool authenticated_ = false;
};

// The recipients a send goes to: the job's, without empty entries.
std::vector<std::string> Recipients(const MailJob& job) {
    std::vector<std::string> out;
    for (const std::string& r : job.recipients) {
        if (!r.empty()) out.push_back(r);
    }
    return out;
}

std::optional<std::string> JobProblem(const MailJob& job) {
    const auto check = [](const std::string& address) -> std::optional<std::string> {
        if (const auto why = AddressProblem(address)) {
            return "Cannot send with the address \"" + SingleLine(address) + "\": " + *why;
        }
        return std::nullopt;
    };
    if (job.settings.host.empty()) return "No e-mail host (SMTP) is set";
    const std::vector<std::string> recipients = Recipients(job);
    if (recipients.empty()) return "No recipient address is set";
    if (auto p = check(job.settings.senderAddress)) return p;
    for (const std::string& r : recipients) {
        if (auto p = check(r)) return p;
    }
    if (job.settings.host.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
        return "The e-mail host holds a line break";
    }
    return std::nullopt;
}

// One connection's try at the whole exchange. `clearReason`: an earlier
// connection's opportunistic handshake failed for it, so this one stays in
// clear.
SendReport Attempt(const MailJob& job, const SmtpOptions& options, const SmtpEvents& events,
                   quint16 port, const std::string& helo, const std::string* clearReason,
                   bool& tlsBroken) {
    const MailSettings& s = job.settings;
    const std::vector<std::string> recipients = Recipients(job);
    MessageHeader header;
    header.senderName = s.senderName;
    header.senderAddress = s.senderAddress;
    header.to = recipients;
    header.subject = job.message.subject;
    header.date = options.clock ? options.clock->WallNow() : std::chrono::system_clock::now();
    std::random_device random;
    const std::uint64_t unique = (static_cast<std::uint64_t>(random()) << 32) | random();
    const std::string domain = AddressDomain(s.senderAddress);
    header.messageId = MakeMessageId(header.date, domain.empty() ? helo : domain, unique);

    SendReport report;
    Session session(options, StageTimeout(job, options), events);
    if (clearReason) session.SkipTls(*clearReason);
    // Only STARTTLS the person asked for, or "Require TLS", insists on a
    // verified certificate.
    const bool explicitStartTls = s.security == Security::StartTls;
    const bool tryStartTls = explicitStartTls || (s.security == Security::None && !clearReason);
    bool ok = session.Open(s.host, port, s.security) && session.Hello(helo) &&
              (!tryStartTls ||
               session.StartTls(helo, explicitStartTls, explicitStartTls || s.requireTls)) &&
              (!s.requireTls || session.RequireTls()) && session.Command("Rset", "RSET", {}) &&
              (!job.authenticate || session.Authenticate(s.account, s.password));
    // 8 bits go as they are only to a server that takes them.
    const bool eightBit = HasEightBitText(job.message.body) && session.Offers("8BITMIME");
    ok = ok &&
         session.Command("Mail from:<" + s.senderAddress + ">" + (eightBit ? " BODY=8BITMIME" : ""),
                         "MAIL FROM", {250}) &&
         session.Recipients(recipients, report.refused) && session.Command("Data", "DATA", {354}) &&
         session.Transfer(FormatMessage(header, job.message.body, eightBit));
    session.Close();
    // With TLS required there is no going on in clear.
    tlsBroken = session.tlsBroken() && !s.requireTls;
    report.sent = ok;
    report.error = session.error();
    report.warnings = session.warnings();
    return report;
}

}  // namespace

std::vector<std::string> SendNotes(const SendReport& report) {
    std::vector<std::string> notes;
    if (report.sent) {
        for (const RefusedRecipient& r : report.refused) {
            notes.push_back(RefusalText(r) + "; the mail went to the other recipients");
        }
    }
    notes.insert(notes.end(), report.warnings.begin(), report.warnings.end());
    return notes;
}

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
    bool tlsBroken = false;
    report = Attempt(job, options, events, *port, helo, nullptr, tlsBroken);
    // A server whose STARTTLS is broken took mail in clear before it was
    // tried, and still does.
    if (tlsBroken) {
        std::string why = report.error;
        why.front() = static_cast<char>(std::tolower(static_cast<unsigned char>(why.front())));
        report = Attempt(job, options, events, *port, helo, &why, tlsBroken);
    }
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
