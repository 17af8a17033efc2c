#pragma once
// Finding a page's controls among the window's children by their role name.
#include <QWidget>
#include <stdexcept>
#include <string>

namespace raid::app {

// The child of `window` named `name`; a page that misses a control is a
// programming error, named with `page`.
template <typename T>
T* PageControl(QWidget& window, const char* name, const char* page) {
    T* widget = window.findChild<T*>(name);
    if (widget == nullptr) throw std::logic_error(std::string(page) + " control missing: " + name);
    return widget;
}

}  // namespace raid::app
