#include "app/message_sink.h"

#include <QMessageBox>

namespace raid::app {

namespace {

void ShowBox(QMessageBox::Icon icon, QWidget* parent, const QString& text, const QString& caption) {
    QMessageBox box(icon, caption, text, QMessageBox::Ok, parent);
    // Texts may quote a mail server's reply: never taken as rich text, so a
    // server cannot put a link or markup into the box.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

}  // namespace

void MessageBoxSink::Show(QWidget* parent, const QString& text, const QString& caption) {
    ShowBox(QMessageBox::NoIcon, parent, text, caption);
}

void MessageBoxSink::ShowWarning(QWidget* parent, const QString& text, const QString& caption) {
    ShowBox(QMessageBox::Warning, parent, text, caption);
}

void MessageBoxSink::ShowError(QWidget* parent, const QString& text, const QString& caption) {
    ShowBox(QMessageBox::Critical, parent, text, caption);
}

}  // namespace raid::app
