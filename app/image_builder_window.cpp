#include "app/image_builder_window.h"

namespace raid::app {

TForm2::TForm2(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("TForm2");
    setWindowTitle("Make Bin");
    // Never shown by the program, so it must not keep it running either.
    setAttribute(Qt::WA_QuitOnClose, false);
}

}  // namespace raid::app
