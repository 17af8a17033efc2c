#include "mail/mail_sender.h"

namespace raid::mail {

MailSender::MailSender(SmtpOptions options, QObject* parent)
    : QObject(parent), options_(std::move(options)) {
    options_.stop = &stop_;
}

MailSender::~MailSender() {
    // The worker only posts to this object, never waits for the main
    // thread, so joining here cannot deadlock; the stop flag keeps it short.
    stop_ = true;
    if (worker_.joinable()) worker_.join();
}

bool MailSender::send(MailJob job) {
    if (running_.exchange(true)) return false;
    if (worker_.joinable()) worker_.join();  // the previous send, already over
    worker_ = std::thread([this, job = std::move(job)]() mutable {
        const SmtpEvents events = [this](SmtpEvent event) {
            if (const auto text = StatusBarText(event)) {
                QMetaObject::invokeMethod(
                    this,
                    [this, panel = text->panel, t = QString::fromStdString(text->text)] {
                        Q_EMIT statusText(panel, t);
                    },
                    Qt::QueuedConnection);
            }
        };
        const SendReport report = SendNotificationMail(job, options_, events);
        const bool testMail = job.testMail;
        {
            MailJob done = std::move(job);  // frees SendBusy before the end is told
        }
        running_ = false;
        QStringList notes;
        for (const std::string& note : SendNotes(report)) notes << QString::fromStdString(note);
        QMetaObject::invokeMethod(
            this,
            [this, report, testMail, notes] {
                Q_EMIT finished(report.sent, QString::fromStdString(report.error), testMail, notes);
            },
            Qt::QueuedConnection);
    });
    return true;
}

}  // namespace raid::mail
