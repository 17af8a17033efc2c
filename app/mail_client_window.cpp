#include "app/mail_client_window.h"

namespace raid::app {

MailClientWindow::MailClientWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("mailClientWindow");
    setAttribute(Qt::WA_QuitOnClose, false);
}

}  // namespace raid::app
