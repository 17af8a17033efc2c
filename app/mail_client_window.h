#pragma once
// The never-shown window that holds the SMTP client and the message object;
// its tab texts name the notification kinds. Its contents come with the
// e-mail subsystem.
#include <QWidget>

namespace raid::app {

class MailClientWindow : public QWidget {
    Q_OBJECT
public:
    explicit MailClientWindow(QWidget* parent = nullptr);
};

}  // namespace raid::app
