#pragma once
// TForm5: the event log viewer, a small modal window opened from Image0_Log.
// This is its frame; what it shows and its buttons' work come with the
// event log viewer.
#include <QDialog>

class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace raid::app {

class TForm5 : public QDialog {
    Q_OBJECT
public:
    explicit TForm5(QWidget* parent = nullptr);

private:
    QPlainTextEdit* Memo1 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QTimer* Timer1 = nullptr;
};

}  // namespace raid::app
