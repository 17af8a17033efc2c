#include "app/layout_parts.h"

#include <QFrame>
#include <QLabel>
#include <QPalette>

#include "skin/skin.h"

namespace raid::app {

QFont Bold(QFont font, int pointSize) {
    font.setBold(true);
    font.setPointSize(pointSize);
    return font;
}

QFont Sized(QFont font, int pointSize) {
    font.setPointSize(pointSize);
    return font;
}

QRect Action(int left, int top) {
    return QRect(left, top, skin::kActionWidth, skin::kActionHeight);
}

// A white rounded box behind a group of labels of the Status page.
void Card(QWidget* page, const QString& name, const QRect& geometry) {
    auto* card = new QFrame(page);
    card->setObjectName(name);
    card->setGeometry(geometry);
    card->setStyleSheet(QString("QFrame#%1 { background: #ffffff; border: 1px solid #c9d0db;"
                                " border-radius: 6px; }")
                            .arg(name));
}

// A small grey caption in front of a value.
void Caption(QWidget* parent, const QString& name, const QRect& geometry, const QString& text) {
    auto* caption = new QLabel(text, parent);
    caption->setObjectName(name);
    caption->setGeometry(geometry);
    caption->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    QPalette p = caption->palette();
    p.setColor(QPalette::WindowText, QColor(0x5a, 0x63, 0x72));
    caption->setPalette(p);
}

void Rule(QWidget* page, int top) {
    auto* rule = new QFrame(page);
    rule->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    rule->setGeometry(14, top, 432, 4);
}

}  // namespace raid::app
