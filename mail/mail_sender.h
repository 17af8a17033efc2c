#pragma once
// Sends one mail job at a time on a thread of its own, for a send that
// starts on the main thread (the page's Test): the window keeps running and
// hears of the send's stages and end through queued signals. The e-mail
// thread calls SendNotificationMail directly instead.
#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <thread>

#include "mail/smtp_client.h"

namespace raid::mail {

class MailSender : public QObject {
    Q_OBJECT
public:
    explicit MailSender(SmtpOptions options = {}, QObject* parent = nullptr);
    // Stops a running send (it ends within about 100 ms) and waits for it.
    ~MailSender() override;

    // Starts sending `job`; false (and the job dropped, freeing SendBusy)
    // while a send of this sender is still running. Main thread only.
    bool send(MailJob job);
    bool busy() const { return running_.load(); }

Q_SIGNALS:
    // Status bar text for a stage of the send (StatusBarText).
    void statusText(int panel, const QString& text);
    // The send is over; SendBusy is free again. `notes`: SendNotes.
    void finished(bool sent, const QString& error, bool testMail, const QStringList& notes);

private:
    SmtpOptions options_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> running_{false};
    std::thread worker_;
};

}  // namespace raid::mail
