#pragma once
// Small building blocks of the window's page layouts, shared by the pages
// that main_window_layout.cpp and the page files build.
#include <QFont>
#include <QRect>
#include <QString>

class QWidget;

namespace raid::app {

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

}  // namespace raid::app
