// The main window's controls: the skinned frame, the page-button column, the
// page stack with the six pages and the status bar. Each control carries its
// role name as objectName.
#include <QFrame>
#include <QLabel>
#include <QStackedWidget>
#include <QStatusBar>
#include <iterator>

#include "app/about_page.h"
#include "app/email_page.h"
#include "app/layout_parts.h"
#include "app/main_window.h"
#include "app/picture_button.h"
#include "app/setup_page.h"
#include "app/smart_page.h"
#include "app/status_page.h"
#include "app/upgrade_controller.h"
#include "app/upgrade_page.h"
#include "mail/mail_sender.h"
#include "skin/skin.h"

namespace raid::app {
namespace {

constexpr int kStatusBarHeight = skin::kWindowHeight - skin::kBackgroundHeight;

const char* const kPageButtonNames[6] = {"statusPageButton", "setupPageButton", "upgradePageButton",
                                         "emailPageButton",  "smartPageButton", "aboutPageButton"};
// The pages of the page stack, by page index: their names and captions.
const char* const kPageNames[6] = {"statusPage", "setupPage", "upgradePage",
                                   "emailPage",  "aboutPage", "smartPage"};
const char* const kPageCaptions[6] = {"Status", "schedule_backup", "Upgrade",
                                      "E-mail", "About",           "SMART"};

// A page widget takes the place and the caption of the stack's empty one.
void ReplacePage(QStackedWidget* pages, QWidget* empty, QWidget* page) {
    page->setWindowTitle(empty->windowTitle());
    const int index = pages->indexOf(empty);
    pages->removeWidget(empty);
    delete empty;
    pages->insertWidget(index, page);
}

}  // namespace

QPixmap MainWindow::companionPicture(const QString& name) const {
    return CompanionPicture(*this, name);
}

void MainWindow::buildWindow() {
    setObjectName("mainWindow");
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(skin::kWindowWidth, skin::kWindowHeight);

    // The background and its three looks; the shown one takes the picture of
    // the product's look (ApplyProductSkin).
    background_ =
        MakeLabel("background", this, QRect(0, 0, skin::kBackgroundWidth, skin::kBackgroundHeight));
    background_->setScaledContents(true);
    for (const char* name : {"backgroundRaid", "backgroundOem", "backgroundHybrid"}) {
        auto* look = MakeLabel(name, this, background_->geometry());
        look->setPixmap(skin::Picture(name));
        look->hide();
    }
    auto* banner =
        MakeLabel("titleBanner", this, QRect(0, 0, skin::kBannerWidth, skin::kBannerHeight));
    banner->setPixmap(skin::Picture("titleBanner"));

    for (std::size_t i = 0; i < pageButtons_.size(); ++i) {
        const QString name = kPageButtonNames[i];
        MakeCompanions(this, name);
        const QRect slot(skin::kButtonColumnLeft,
                         skin::kButtonColumnTop + static_cast<int>(i) * skin::kButtonPitch,
                         skin::kPageButtonWidth, skin::kPageButtonHeight);
        pageButtons_[i] = new PictureButton(name, this);
        pageButtons_[i]->setGeometry(slot);
        buttonSlots_[i] = slot.topLeft();  // the slots, recorded once
    }
    connect(pageButtons_[0], &PictureButton::clicked, this, &MainWindow::openStatusPage);
    connect(pageButtons_[1], &PictureButton::clicked, this, &MainWindow::openSetupPage);
    connect(pageButtons_[2], &PictureButton::clicked, this, &MainWindow::openUpgradePage);
    connect(pageButtons_[3], &PictureButton::clicked, this, &MainWindow::openEmailPage);
    connect(pageButtons_[4], &PictureButton::clicked, this, &MainWindow::openSmartPage);
    connect(pageButtons_[5], &PictureButton::clicked, this, &MainWindow::openAboutPage);
    for (const char* name : {"device1", "device2", "hdd1", "hdd2"}) {
        MakeCompanions(this, name);
    }

    pages_ = new QStackedWidget(this);
    pages_->setObjectName("pages");
    pages_->setGeometry(skin::kPanelLeft, skin::kPanelTop, skin::kPanelWidth, skin::kPanelHeight);
    for (std::size_t i = 0; i < std::size(kPageCaptions); ++i) {
        auto* page = new QWidget(pages_);
        page->setObjectName(kPageNames[i]);
        page->setWindowTitle(kPageCaptions[i]);
        pages_->addWidget(page);
    }
    statusPage_ = new StatusPage(*this, pages_);
    ReplacePage(pages_, pages_->widget(kPageStatus), statusPage_);
    setupPage_ = new SetupPage(*this, pages_);
    ReplacePage(pages_, pages_->widget(kPageSetup), setupPage_);
    upgradeController_ = std::make_unique<firmware::UpgradeController>(
        context_->state, context_->firmware, context_->channel);
    upgradePage_ = new UpgradePage(*this, *upgradeController_, pages_);
    ReplacePage(pages_, pages_->widget(kPageUpgrade), upgradePage_);
    buildEmailPage(pages_->widget(kPageEmail));
    aboutPage_ = new AboutPage(pages_);
    ReplacePage(pages_, pages_->widget(kPageAbout), aboutPage_);
    buildSmartPage(pages_->widget(kPageSmart));

    statusBar_ = new QStatusBar(this);
    statusBar_->setObjectName("statusBar");
    statusBar_->setSizeGripEnabled(false);
    statusBar_->setGeometry(0, skin::kBackgroundHeight, skin::kWindowWidth, kStatusBarHeight);
    const int widths[5] = {90, 110, 110, 110, 0};
    for (int i = 0; i < 5; ++i) {
        auto* panel = new QLabel(statusBar_);
        panel->setObjectName(QString("statusPanel%1").arg(i));
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        // The last-result line may quote a mail server: plain text only.
        panel->setTextFormat(Qt::PlainText);
        if (widths[i] > 0) {
            panel->setFixedWidth(widths[i]);
            statusBar_->addWidget(panel);
        } else {
            statusBar_->addWidget(panel, 1);  // the last-result line takes the rest
        }
        panel->installEventFilter(this);
        statusPanels_[static_cast<std::size_t>(i)] = panel;
    }
    statusBar_->installEventFilter(this);
}

void MainWindow::buildEmailPage(QWidget* page) {
    // The mail subsystem's own page; its test mail goes out on the sender's
    // thread.
    mailSender_ = new mail::MailSender(options_.smtp, this);
    mailSender_->setObjectName("mailSender");
    mail::EmailPageHooks hooks;
    hooks.message = [this](const std::string& text, const std::string& caption) {
        tellUser(QString::fromStdString(text), QString::fromStdString(caption));
    };
    hooks.sendTestMail = [this](mail::MailJob job) { mailSender_->send(std::move(job)); };
    // The engine in this process mails from the file the page edits here,
    // texts and password as they are; the service's settings are its own.
    hooks.storeThroughService = [this](client::MailSettingsChanges changes) {
        storeMailSettingsThroughService(std::move(changes));
    };
    hooks.testThroughService = [this] { sendTestMailThroughService(); };
    hooks.throughService = [this] { return clientMode() && !localEngine(); };
    hooks.stored = [this] { tellEngineMailStored(); };
    emailPage_ = new mail::EmailPage(mailSettings_, mail_, *settingsStore_, context_->state.shell,
                                     applicationTitle().toStdString(), std::move(hooks), pages_);
    ReplacePage(pages_, page, emailPage_);
    connect(mailSender_, &mail::MailSender::statusText, this,
            [this](int panel, const QString& text) { SetStatusPanel(panel, text.toStdString()); });
    connect(mailSender_, &mail::MailSender::finished, this, &MainWindow::onTestMailFinished);
}

void MainWindow::buildSmartPage(QWidget* page) {
    smartPage_ = new smart::SmartPage(context_->smart, smartPageHooks(), pages_);
    ReplacePage(pages_, page, smartPage_);
    connect(smartPage_, &smart::SmartPage::countdownDoubleClicked, this,
            &MainWindow::saveSmartDumps);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonDblClick &&
        (watched == statusBar_ || watched->parent() == statusBar_)) {
        showSystemInformation();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace raid::app
