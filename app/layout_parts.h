#pragma once
// Small building blocks of the window's page layouts, shared by the window's
// frame (main_window_layout.cpp) and the pages.
#include <QFont>
#include <QPixmap>
#include <QRect>
#include <QString>

class QLabel;
class QWidget;

namespace raid::app {

class PictureButton;

QFont Bold(QFont font, int pointSize);
QFont Sized(QFont font, int pointSize);
// The geometry of an action button with its top-left corner at (left, top).
QRect Action(int left, int top);
// A white rounded box behind a group of labels of the Status page.
void Card(QWidget* page, const QString& name, const QRect& geometry);
// A small grey caption in front of a value.
void Caption(QWidget* parent, const QString& name, const QRect& geometry, const QString& text);
// A sunken horizontal line across a page at `top`.
void Rule(QWidget* page, int top);

// A label named `name` (unnamed when empty) at `geometry`.
QLabel* MakeLabel(const QString& name, QWidget* parent, const QRect& geometry,
                  const QString& text = QString());
// A picture button named `name` showing the skin picture of that name.
PictureButton* MakePicture(const QString& name, QWidget* parent, const QRect& geometry);
// The hidden "<name>Selected" and "<name>Unselected" labels that hold a
// button's two looks, as direct children of `owner`.
void MakeCompanions(QWidget* owner, const QString& name);
// The picture of `owner`'s companion `name` ("device1Selected", ...); null
// when there is none.
QPixmap CompanionPicture(const QWidget& owner, const QString& name);
// The picture sinks 2 pixels while the mouse holds it. With `pressedBit` it
// sinks only while the bit is clear, so repeated downs cannot push it further.
void WirePressedLook(PictureButton* button, bool* pressedBit = nullptr);

}  // namespace raid::app
