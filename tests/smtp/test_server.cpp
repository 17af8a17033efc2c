#include "tests/smtp/test_server.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <fstream>
#include <sstream>

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

bool Run(const QString& program, const QStringList& args, std::string& error) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(20000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        error = program.toStdString() + " " + args.join(' ').toStdString() + ": " +
                p.readAllStandardError().toStdString() + p.errorString().toStdString();
        return false;
    }
    return true;
}

}  // namespace

std::optional<QString> TestSmtpServer::Python(std::string& whyNot) {
    static const std::optional<QString> found = [] {
        // Debian's interpreter first: the package installs for it, and a
        // Python of one's own in PATH may lack the module.
        for (const char* candidate : {"/usr/bin/python3", "python3"}) {
            QProcess p;
            p.start(candidate, {"-c", "import aiosmtpd"});
            if (p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit &&
                p.exitCode() == 0) {
                return std::optional<QString>(candidate);
            }
        }
        return std::optional<QString>();
    }();
    if (!found) {
        whyNot =
            "python3-aiosmtpd is not installed (apt-get install python3-aiosmtpd); the SMTP "
            "tests need its server";
    }
    return found;
}

TestSmtpServer::~TestSmtpServer() {
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

bool TestSmtpServer::Start(const QStringList& options, std::string& error) {
    const auto python = Python(error);
    if (!python) return false;
    fs::create_directories(folder_);
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(*python, QStringList{SMTP_TEST_SERVER, "--dir", Q(folder_)} + options);
    while (process_.waitForReadyRead(10000)) {
        if (!process_.canReadLine()) continue;
        const QString line = QString::fromUtf8(process_.readLine()).trimmed();
        if (line.startsWith("READY ")) {
            port_ = static_cast<quint16>(line.mid(6).toUInt());
            return port_ != 0;
        }
    }
    error = "the test SMTP server did not start: " + process_.errorString().toStdString();
    return false;
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
