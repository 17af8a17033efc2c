#include "app/layout_parts.h"

#include <QFrame>
#include <QLabel>
#include <QPalette>

#include "app/picture_button.h"
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

QLabel* MakeLabel(const QString& name, QWidget* parent, const QRect& geometry,
                  const QString& text) {
    auto* label = new QLabel(text, parent);
    if (!name.isEmpty()) label->setObjectName(name);
    label->setGeometry(geometry);
    return label;
}

PictureButton* MakePicture(const QString& name, QWidget* parent, const QRect& geometry) {
    auto* picture = new PictureButton(name, parent);
    picture->setGeometry(geometry);
    picture->setPicture(skin::Picture(name));
    return picture;
}

void MakeCompanions(QWidget* owner, const QString& name) {
    for (const char* look : {"Selected", "Unselected"}) {
        auto* companion = new QLabel(owner);
        companion->setObjectName(name + look);
        companion->setPixmap(skin::Picture(name + look));
        companion->hide();
    }
}

QPixmap CompanionPicture(const QWidget& owner, const QString& name) {
    const auto* companion = owner.findChild<QLabel*>(name, Qt::FindDirectChildrenOnly);
    return companion != nullptr ? companion->pixmap() : QPixmap();
}

void WirePressedLook(PictureButton* button, bool* pressedBit) {
    QObject::connect(button, &PictureButton::pressed, button, [button, pressedBit] {
        if (pressedBit != nullptr) {
            if (*pressedBit) return;
            *pressedBit = true;
        }
        button->move(button->x(), button->y() + 2);
    });
    QObject::connect(button, &PictureButton::released, button, [button, pressedBit] {
        if (pressedBit != nullptr) *pressedBit = false;
        button->move(button->x(), button->y() - 2);
    });
}

}  // namespace raid::app
