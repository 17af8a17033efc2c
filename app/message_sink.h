#pragma once
// Where the window's modal message boxes go. The program shows them with
// QMessageBox; window tests install a sink that records text and caption, so
// a refused close or the system-information box does not block a test.
#include <QString>

class QWidget;

namespace raid::app {

class MessageSink {
public:
    virtual ~MessageSink() = default;
    // A modal box with an OK button. An empty caption shows no caption text.
    virtual void Show(QWidget* parent, const QString& text, const QString& caption) = 0;
    // The same with the exclamation icon; a sink that draws no icons shows
    // it as any other box.
    virtual void ShowWarning(QWidget* parent, const QString& text, const QString& caption) {
        Show(parent, text, caption);
    }
    // The same with the error icon.
    virtual void ShowError(QWidget* parent, const QString& text, const QString& caption) {
        Show(parent, text, caption);
    }
};

class MessageBoxSink final : public MessageSink {
public:
    void Show(QWidget* parent, const QString& text, const QString& caption) override;
    void ShowWarning(QWidget* parent, const QString& text, const QString& caption) override;
    void ShowError(QWidget* parent, const QString& text, const QString& caption) override;
};

}  // namespace raid::app
