#include "app/mail_client_window.h"

namespace raid::app {

TForm7::TForm7(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("TForm7");
    setAttribute(Qt::WA_QuitOnClose, false);
}

}  // namespace raid::app
