#include "app/message_sink.h"

#include <QMessageBox>

namespace raid::app {

namespace {

void ShowBox(QMessageBox::Icon icon, QWidget* parent, const QString& text, const QString& caption) {
    QMessageBox box(icon, caption, text, QMessageBox::Ok, parent);
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
