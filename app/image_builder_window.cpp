#include "app/image_builder_window.h"

namespace raid::app {

ImageBuilderWindow::ImageBuilderWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("imageBuilderWindow");
    setWindowTitle("Make Bin");
    // Never shown by the program, so it must not keep it running either.
    setAttribute(Qt::WA_QuitOnClose, false);
}

}  // namespace raid::app
