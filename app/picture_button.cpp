#include "app/picture_button.h"

#include <QMouseEvent>

namespace raid::app {

PictureButton::PictureButton(const QString& name, QWidget* parent) : QLabel(parent) {
    setObjectName(name);
    setScaledContents(true);
    setCursor(Qt::PointingHandCursor);
}

void PictureButton::setPicture(const QPixmap& picture) {
    picture_ = picture;
    setPixmap(picture);
}

void PictureButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QLabel::mousePressEvent(event);
    down_ = true;
    Q_EMIT pressed();
}

void PictureButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !down_) return QLabel::mouseReleaseEvent(event);
    down_ = false;
    Q_EMIT released();
    // A click counts when the button goes up over the picture, as with a
    // push button.
    if (rect().contains(event->position().toPoint())) Q_EMIT clicked();
}

}  // namespace raid::app
