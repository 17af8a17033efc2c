#pragma once
// TForm2: the "Make Bin" firmware image builder. Created hidden at start-up;
// no control of the main window opens it. Its controls come with the image
// builder.
#include <QWidget>

namespace raid::app {

class TForm2 : public QWidget {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr);
};

}  // namespace raid::app
