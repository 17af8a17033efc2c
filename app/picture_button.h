#pragma once
// A picture that acts as a button, as the skinned window's page buttons and
// action pictures do. The picture is scaled to the widget's size; a disabled
// picture ignores the mouse.
#include <QLabel>
#include <QPixmap>

namespace raid::app {

class PictureButton : public QLabel {
    Q_OBJECT
public:
    PictureButton(const QString& name, QWidget* parent);

    void setPicture(const QPixmap& picture);
    // The picture last set, unscaled (what the companion images hand over).
    const QPixmap& picture() const { return picture_; }

Q_SIGNALS:
    void clicked();
    void pressed();
    void released();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QPixmap picture_;
    bool down_ = false;
};

}  // namespace raid::app
