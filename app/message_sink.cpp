#include "app/message_sink.h"

#include <QMessageBox>

namespace raid::app {

void MessageBoxSink::Show(QWidget* parent, const QString& text, const QString& caption) {
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, parent);
    box.exec();
}

}  // namespace raid::app
