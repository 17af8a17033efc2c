#pragma once
// Drawing of the skin pictures, used by the build-time painter only.
#include <QImage>
#include <string_view>

namespace raid::skin {

// Draws the picture `name` of the catalogue at the given size; a null image
// for a name it does not know. Needs a QGuiApplication (fonts).
QImage PaintPicture(std::string_view name, int width, int height);

}  // namespace raid::skin
