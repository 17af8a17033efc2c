#include "app/unit7.h"

namespace raid::app {

TForm7::TForm7(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("TForm7");
    setAttribute(Qt::WA_QuitOnClose, false);
}

}  // namespace raid::app
