#include "app/unit5.h"

#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

namespace raid::app {

TForm5::TForm5(QWidget* parent) : QDialog(parent) {
    setObjectName("TForm5");
    setWindowTitle("Event Log");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(465, 273);
    setModal(true);

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName("Memo1");
    Memo1->setGeometry(0, 0, 465, 241);
    Memo1->setReadOnly(true);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont memoFont = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    memoFont.setBold(true);
    Memo1->setFont(memoFont);

    Button1 = new QPushButton("Real Time Log", this);
    Button1->setObjectName("Button1");
    Button1->setGeometry(8, 245, 140, 25);
    Button2 = new QPushButton("View Log File", this);
    Button2->setObjectName("Button2");
    Button2->setGeometry(317, 245, 140, 25);

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(1000);
}

}  // namespace raid::app
