#include "app/about_page.h"

#include <QLabel>

#include "app/layout_parts.h"
#include "app/picture_button.h"
#include "skin/skin.h"

namespace raid::app {

AboutPage::AboutPage(QWidget* parent) : QWidget(parent) {
    setObjectName("aboutPage");
    const QFont base = font();
    auto* logo = MakePicture(
        "productLogo", this,
        QRect((skin::kPanelWidth - skin::kLogoWidth) / 2, 20, skin::kLogoWidth, skin::kLogoHeight));
    logo->setCursor(Qt::ArrowCursor);
    productNameLabel_ = MakeLabel("productNameLabel", this, QRect(0, 160, skin::kPanelWidth, 32));
    productNameLabel_->setAlignment(Qt::AlignCenter);
    productNameLabel_->setFont(Bold(base, 15));
    versionLabel_ = MakeLabel("versionLabel", this, QRect(0, 198, skin::kPanelWidth, 24));
    versionLabel_->setAlignment(Qt::AlignCenter);
    versionLabel_->setFont(Bold(base, 11));
    auto* upperNote = MakeLabel("aboutUpperNoteLabel", this, QRect(0, 240, skin::kPanelWidth, 20));
    upperNote->setAlignment(Qt::AlignCenter);
    auto* lowerNote = MakeLabel("aboutLowerNoteLabel", this, QRect(0, 264, skin::kPanelWidth, 20));
    lowerNote->setAlignment(Qt::AlignCenter);
    for (QWidget* unused : std::initializer_list<QWidget*>{logo, upperNote, lowerNote})
        unused->hide();
}

void AboutPage::setProductName(const QString& name) { productNameLabel_->setText(name); }

void AboutPage::setVersionText(const QString& version) { versionLabel_->setText(version); }

}  // namespace raid::app
