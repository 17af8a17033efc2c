#pragma once
// The About page of the main window: the product's name and the program's
// version. It builds and owns its controls; the product's logo and the two
// note lines are built but stay hidden.
#include <QString>
#include <QWidget>

class QLabel;

namespace raid::app {

class AboutPage : public QWidget {
    Q_OBJECT
public:
    explicit AboutPage(QWidget* parent);

    void setProductName(const QString& name);
    void setVersionText(const QString& version);

private:
    QLabel* productNameLabel_ = nullptr;
    QLabel* versionLabel_ = nullptr;
};

}  // namespace raid::app
