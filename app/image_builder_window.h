#pragma once
// The "Make Bin" firmware image builder window. Created hidden at start-up;
// no control of the main window opens it. Its controls come with the image
// builder.
#include <QWidget>

namespace raid::app {

class ImageBuilderWindow : public QWidget {
    Q_OBJECT
public:
    explicit ImageBuilderWindow(QWidget* parent = nullptr);
};

}  // namespace raid::app
