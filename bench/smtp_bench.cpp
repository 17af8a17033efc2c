// Real time of one mail through the program's SMTP client, from connecting
// to "Quit", against the tests' SMTP server on the loopback address
// (python3-aiosmtpd): plain, with AUTH LOGIN, with STARTTLS and the test CA
// besides the system's store, and with the STARTTLS a server offers
// unasked checked against the system's store alone (the certificate does
// not verify there: a warning). The figure is the client's and the local
// server's cost, without any network.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <cstdio>
#include <memory>

#include "mail/smtp_client.h"
#include "tests/smtp/test_server.h"

namespace {

using namespace raid;

QTemporaryDir* folder = nullptr;
std::optional<test_support::TestCertificates> certificates;

// One server per benchmark, with `options`.
std::unique_ptr<test_support::TestSmtpServer> Serve(const QStringList& options,
                                                    benchmark::State& state) {
    static int n = 0;
    auto server = std::make_unique<test_support::TestSmtpServer>(folder->path().toStdString() +
                                                                 "/server" + std::to_string(++n));
    std::string error;
    if (!server->Start(options, error)) {
        state.SkipWithError(error.c_str());
        return nullptr;
    }
    return server;
}

void SendLoop(benchmark::State& state, const QStringList& serverOptions, mail::Security security,
              bool authenticate, bool testCa = true) {
    const auto server = Serve(serverOptions, state);
    if (!server) return;
    mail::MailJob job;
    job.settings.host = "127.0.0.1";
    job.settings.port = std::to_string(server->port());
    job.settings.security = security;
    job.settings.senderName = "RAID Box";
    job.settings.senderAddress = "raid@example.com";
    job.settings.account = "raid";
    job.settings.password = "s3cret";
    job.authenticate = authenticate;
    job.testMail = true;
    job.recipients = {"raid@example.com"};
    job.message.subject = "[RAID GUI v0.50.11-5 Message] Mail Test ";
    job.message.body = {"[RAID GUI v0.50.11-5] E-Mail test!", "\n=========== [System Information]"};
    mail::SmtpOptions options;
    options.heloName = "bench.test";
    if (certificates && testCa) options.caFile = certificates->caFile.string();
    for (auto _ : state) {
        const mail::SendReport report = mail::SendNotificationMail(job, options);
        if (!report.sent) {
            state.SkipWithError(report.error.c_str());
            break;
        }
    }
}

void BM_TestMailPlain(benchmark::State& state) { SendLoop(state, {}, mail::Security::None, false); }
BENCHMARK(BM_TestMailPlain)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_TestMailAuthLogin(benchmark::State& state) {
    SendLoop(state, {"--auth", "LOGIN"}, mail::Security::None, true);
}
BENCHMARK(BM_TestMailAuthLogin)->Unit(benchmark::kMillisecond)->UseRealTime();

// Against a server that offers STARTTLS with the test certificate.
void StartTlsLoop(benchmark::State& state, mail::Security security, bool testCa) {
    if (!certificates) {
        state.SkipWithError("no test certificates (openssl)");
        return;
    }
    SendLoop(state,
             {"--starttls", QString::fromStdString(certificates->serverCert.string()),
              QString::fromStdString(certificates->serverKey.string())},
             security, false, testCa);
}

void BM_TestMailStartTls(benchmark::State& state) {
    StartTlsLoop(state, mail::Security::StartTls, true);
}
BENCHMARK(BM_TestMailStartTls)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_TestMailUnaskedStartTlsSystemStore(benchmark::State& state) {
    StartTlsLoop(state, mail::Security::None, false);
}
BENCHMARK(BM_TestMailUnaskedStartTlsSystemStore)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    std::string why;
    if (!test_support::TestSmtpServer::Python(why)) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return 0;
    }
    QTemporaryDir dir;
    folder = &dir;
    std::string error;
    certificates = test_support::MakeTestCertificates(dir.path().toStdString() + "/tls", error);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
