// The main window's controls: the skinned frame, the page-button column, the
// six pages of the page stack and the status bar. Each control carries its
// role name as objectName.
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressBar>
#include <QRadioButton>
#include <QStackedWidget>
#include <QStatusBar>
#include <iterator>

#include "app/email_page.h"
#include "app/layout_parts.h"
#include "app/main_window.h"
#include "app/picture_button.h"
#include "app/smart_page.h"
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

// A subsystem's own page takes the place and the caption of the stack's
// empty one.
void ReplacePage(QStackedWidget* pages, QWidget* empty, QWidget* page) {
    page->setWindowTitle(empty->windowTitle());
    const int index = pages->indexOf(empty);
    pages->removeWidget(empty);
    delete empty;
    pages->insertWidget(index, page);
}

}  // namespace

QLabel* MainWindow::makeLabel(const QString& name, QWidget* parent, const QRect& geometry,
                              const QString& text) {
    auto* label = new QLabel(text, parent);
    if (!name.isEmpty()) label->setObjectName(name);
    label->setGeometry(geometry);
    return label;
}

PictureButton* MainWindow::makePicture(const QString& name, QWidget* parent,
                                       const QRect& geometry) {
    auto* picture = new PictureButton(name, parent);
    picture->setGeometry(geometry);
    picture->setPicture(skin::Picture(name));
    return picture;
}

void MainWindow::makeCompanions(const QString& name) {
    for (const char* look : {"Selected", "Unselected"}) {
        auto* companion = new QLabel(this);
        companion->setObjectName(name + look);
        companion->setPixmap(skin::Picture(name + look));
        companion->hide();
    }
}

QPixmap MainWindow::companionPicture(const QString& name) const {
    const auto* companion = findChild<QLabel*>(name, Qt::FindDirectChildrenOnly);
    return companion != nullptr ? companion->pixmap() : QPixmap();
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
        makeLabel("background", this, QRect(0, 0, skin::kBackgroundWidth, skin::kBackgroundHeight));
    background_->setScaledContents(true);
    for (const char* name : {"backgroundRaid", "backgroundOem", "backgroundHybrid"}) {
        auto* look = makeLabel(name, this, background_->geometry());
        look->setPixmap(skin::Picture(name));
        look->hide();
    }
    auto* banner =
        makeLabel("titleBanner", this, QRect(0, 0, skin::kBannerWidth, skin::kBannerHeight));
    banner->setPixmap(skin::Picture("titleBanner"));

    for (std::size_t i = 0; i < pageButtons_.size(); ++i) {
        const QString name = kPageButtonNames[i];
        makeCompanions(name);
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
        makeCompanions(name);
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
    buildStatusPage(pages_->widget(kPageStatus));
    buildSetupPage(pages_->widget(kPageSetup));
    buildUpgradePage(pages_->widget(kPageUpgrade));
    buildEmailPage(pages_->widget(kPageEmail));
    buildAboutPage(pages_->widget(kPageAbout));
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

void MainWindow::buildStatusPage(QWidget* page) {
    const QFont base = font();
    device1Picture_ =
        makePicture("device1Picture", page, QRect(14, 10, skin::kDeviceWidth, skin::kDeviceHeight));
    device2Picture_ = makePicture("device2Picture", page,
                                  QRect(144, 10, skin::kDeviceWidth, skin::kDeviceHeight));
    device1Box_ = new QCheckBox("Device1", page);
    device1Box_->setObjectName("device1Box");
    device1Box_->setGeometry(30, 98, 100, 20);
    device2Box_ = new QCheckBox("Device2", page);
    device2Box_->setObjectName("device2Box");
    device2Box_->setGeometry(160, 98, 100, 20);
    for (QWidget* selector : std::initializer_list<QWidget*>{device1Box_, device2Box_,
                                                             device1Picture_, device2Picture_})
        selector->setToolTipDuration(6000);

    // The state box at the top right: health or rebuild progress, with the
    // controller's firmware below it.
    Card(page, "stateFrame", QRect(282, 10, 164, 88));
    auto* health = makeLabel("healthLabel", page, QRect(286, 14, 156, 80));
    health->setAlignment(Qt::AlignCenter);
    health->setFont(Bold(base, 14));
    Caption(page, "firmwareCaption", QRect(284, 102, 70, 18), "Firmware");
    makeLabel("firmwareLabel", page, QRect(340, 102, 104, 18))
        ->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    deviceNoteLabel_ = makeLabel("deviceNoteLabel", page, QRect(284, 120, 160, 14));
    deviceNoteLabel_->setAlignment(Qt::AlignRight | Qt::AlignTop);
    deviceNoteLabel_->setFont(Sized(base, 8));

    Rule(page, 136);
    Caption(page, "arrayModeCaption", QRect(14, 146, 76, 20), "Array Mode");
    makeLabel("arrayModeLabel", page, QRect(92, 142, 190, 28))->setFont(Bold(base, 13));
    Caption(page, "capacityCaption", QRect(284, 146, 60, 20), "Capacity");
    auto* configured = makeLabel("configuredCapacityLabel", page, QRect(340, 142, 104, 28));
    configured->setFont(Bold(base, 12));
    configured->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    // One row per member: bay, capacity (with its line break the label is
    // two lines high) and model.
    const struct {
        const char* name;
        const char* member;
        const char* capacity;
        const char* model;
        int top;
    } members[2] = {{"hdd1", "HDD1", "hdd1CapacityLabel", "hdd1ModelLabel", 178},
                    {"hdd2", "HDD2", "hdd2CapacityLabel", "hdd2ModelLabel", 222}};
    for (const auto& m : members) {
        Card(page, QString(m.name) + "Frame", QRect(14, m.top, 432, 38));
        // All three start on the same line, whatever their fonts.
        auto* bay =
            makeLabel(QString(m.name) + "Caption", page, QRect(24, m.top + 10, 46, 20), m.member);
        bay->setFont(Bold(base, 10));
        auto* capacity = makeLabel(m.capacity, page, QRect(76, m.top + 10, 84, 40));
        capacity->setFont(Bold(base, 10));
        auto* model = makeLabel(m.model, page, QRect(164, m.top + 10, 276, 20));
        model->setFont(Sized(base, 10));
        for (QLabel* label : {bay, capacity, model})
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }

    Rule(page, 268);
    sensorsPanel_ = new QFrame(page);
    sensorsPanel_->setObjectName("sensorsPanel");
    sensorsPanel_->setGeometry(14, 274, 300, 24);
    makeLabel("fanCaption", sensorsPanel_, QRect(0, 3, 30, 18), "Fan:");
    makeLabel("fanSpeedLabel", sensorsPanel_, QRect(34, 3, 44, 18))->setFont(Bold(base, 10));
    Caption(sensorsPanel_, "fanUnit", QRect(80, 3, 34, 18), "RPM");
    makeLabel("temperatureCaption", sensorsPanel_, QRect(132, 3, 86, 18), "Temperature:");
    makeLabel("temperatureLabel", sensorsPanel_, QRect(220, 3, 28, 18))->setFont(Bold(base, 10));
    Caption(sensorsPanel_, "temperatureUnit", QRect(248, 3, 30, 18), QString::fromUtf8("\u00B0C"));
    buzzerMuteBox_ = new QCheckBox("Buzzer Mute", page);
    buzzerMuteBox_->setObjectName("buzzerMuteBox");
    buzzerMuteBox_->setGeometry(14, 312, 160, 22);

    eventLogButton_ = makePicture("eventLogButton", page, Action(346, 306));
    eventLogButton_->hide();  // shown once a device is found
    wirePressedLook(eventLogButton_, false);

    detectionNotice_ = makeLabel("detectionNotice", page, QRect(0, 150, skin::kPanelWidth, 40));
    detectionNotice_->setAlignment(Qt::AlignCenter);
    detectionNotice_->setFont(Bold(base, 16));

    // Why no enclosure can be reached, and what to do; hidden while they can.
    // Above the member rows, which it covers while there is nothing to show.
    accessNoticeLabel_ =
        makeLabel("accessNoticeLabel", page, QRect(12, 150, skin::kPanelWidth - 24, 132));
    accessNoticeLabel_->setAlignment(Qt::AlignCenter);
    accessNoticeLabel_->setWordWrap(true);
    accessNoticeLabel_->setStyleSheet(
        "QLabel { background: #fff8e1; border: 1px solid #c9a227; padding: 8px; }");
    accessNoticeLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    accessNoticeLabel_->hide();
}

void MainWindow::buildSetupPage(QWidget* page) {
    const QFont base = font();
    // The sub-page tabs: only the schedule one is used; it takes the place
    // of the initialize tab when the page opens.
    auto* initializeTab = new PictureButton("initializeTab", page);
    initializeTab->setGeometry(14, 8, skin::kTabWidth, skin::kTabHeight);
    initializeTab->setPicture(skin::Picture("initializeTabUnselected"));
    makeCompanions("scheduleTab");
    auto* scheduleTab = new PictureButton("scheduleTab", page);
    scheduleTab->setGeometry(14 + skin::kTabWidth + 6, 8, skin::kTabWidth, skin::kTabHeight);
    scheduleTab->setPicture(skin::Picture("scheduleTabUnselected"));
    scheduleTab->hide();
    scheduleBackupBox_ = new QCheckBox("Schedule Backup enable", page);
    scheduleBackupBox_->setObjectName("scheduleBackupBox");
    scheduleBackupBox_->setGeometry(280, 12, 170, 22);

    auto* subPages = new QStackedWidget(page);
    subPages->setObjectName("setupSubPages");
    subPages->setGeometry(0, 40, skin::kPanelWidth, 252);
    auto* initialize = new QWidget(subPages);
    initialize->setObjectName("initializeSubPage");
    subPages->addWidget(initialize);
    auto* schedule = new QWidget(subPages);
    schedule->setObjectName("scheduleSubPage");
    subPages->addWidget(schedule);
    setupPanel_ = new QFrame(initialize);
    setupPanel_->setObjectName("setupPanel");
    setupPanel_->setGeometry(14, 44, 434, 200);

    // The current period and the time to the next backup.
    Card(schedule, "backupStateFrame", QRect(14, 8, 432, 62));
    auto* period = makeLabel("backupPeriodLabel", schedule, QRect(26, 14, 412, 24));
    period->setFont(Bold(base, 11));
    auto* wait = makeLabel("backupWaitLabel", schedule, QRect(26, 40, 412, 22));
    wait->setFont(Sized(base, 10));
    wait->hide();

    // The choices. The two lower presets move down when the enclosure takes
    // no user period (SetupPage::updatePresetControls).
    Card(schedule, "periodChoiceFrame", QRect(14, 86, 432, 148));
    Caption(schedule, "periodChoiceCaption", QRect(26, 94, 300, 20), "Schedule Backup Period");
    const struct {
        const char* name;
        const char* caption;
        int left;
        int top;
    } choices[5] = {{"periodOffButton", "Off", 40, 124},
                    {"firstPresetButton", "1 day", 220, 124},
                    {"secondPresetButton", "7 days", 40, 152},
                    {"thirdPresetButton", "30 days", 220, 152},
                    {"userPeriodButton", "User Period", 40, 190}};
    auto* group = new QButtonGroup(schedule);
    for (const auto& c : choices) {
        auto* button = new QRadioButton(c.caption, schedule);
        button->setObjectName(c.name);
        button->setGeometry(c.left, c.top, 116, 22);
        group->addButton(button);
    }
    periodDaysBox_ = new QComboBox(schedule);
    periodDaysBox_->setObjectName("periodDaysBox");
    periodDaysBox_->setGeometry(160, 188, 60, 26);
    makeLabel("periodDaysLabel", schedule, QRect(226, 190, 50, 22), "Day - ");
    auto* periodHours = new QComboBox(schedule);
    periodHours->setObjectName("periodHoursBox");
    periodHours->setGeometry(278, 188, 60, 26);
    makeLabel("periodHoursLabel", schedule, QRect(344, 190, 50, 22), "Hour");

    auto* set = makePicture("applyPeriodButton", page, Action(340, 300));
    set->hide();  // shown with the period display
    wirePressedLook(set, true);
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
    if (options_.service) {
        hooks.storeThroughService = [this](client::MailSettingsChanges changes) {
            storeMailSettingsThroughService(std::move(changes));
        };
        hooks.testThroughService = [this] { sendTestMailThroughService(); };
    }
    emailPage_ = new mail::EmailPage(mailSettings_, mail_, *settingsStore_, context_->state.shell,
                                     applicationTitle().toStdString(), std::move(hooks), pages_);
    ReplacePage(pages_, page, emailPage_);
    connect(mailSender_, &mail::MailSender::statusText, this,
            [this](int panel, const QString& text) { SetStatusPanel(panel, text.toStdString()); });
    connect(mailSender_, &mail::MailSender::finished, this, &MainWindow::onTestMailFinished);
}

void MainWindow::buildAboutPage(QWidget* page) {
    const QFont base = font();
    auto* logo = makePicture(
        "productLogo", page,
        QRect((skin::kPanelWidth - skin::kLogoWidth) / 2, 20, skin::kLogoWidth, skin::kLogoHeight));
    logo->setCursor(Qt::ArrowCursor);
    productNameLabel_ = makeLabel("productNameLabel", page, QRect(0, 160, skin::kPanelWidth, 32));
    productNameLabel_->setAlignment(Qt::AlignCenter);
    productNameLabel_->setFont(Bold(base, 15));
    versionLabel_ = makeLabel("versionLabel", page, QRect(0, 198, skin::kPanelWidth, 24));
    versionLabel_->setAlignment(Qt::AlignCenter);
    versionLabel_->setFont(Bold(base, 11));
    makeLabel("aboutUpperNoteLabel", page, QRect(0, 240, skin::kPanelWidth, 20))
        ->setAlignment(Qt::AlignCenter);
    makeLabel("aboutLowerNoteLabel", page, QRect(0, 264, skin::kPanelWidth, 20))
        ->setAlignment(Qt::AlignCenter);
}

void MainWindow::buildSmartPage(QWidget* page) {
    smartPage_ = new smart::SmartPage(context_->smart, smartPageHooks(), pages_);
    ReplacePage(pages_, page, smartPage_);
    connect(smartPage_, &smart::SmartPage::countdownDoubleClicked, this,
            &MainWindow::saveSmartDumps);
}

void MainWindow::wirePressedLook(PictureButton* button, bool keepsPressedBit) {
    // The picture sinks 2 pixels while the mouse holds it. The apply button sinks
    // only when its pressed bit is clear, so repeated downs cannot push it
    // further.
    connect(button, &PictureButton::pressed, this, [this, button, keepsPressedBit] {
        if (keepsPressedBit) {
            if (applyPeriodPressed_) return;
            applyPeriodPressed_ = true;
        }
        button->move(button->x(), button->y() + 2);
    });
    connect(button, &PictureButton::released, this, [this, button, keepsPressedBit] {
        if (keepsPressedBit) applyPeriodPressed_ = false;
        button->move(button->x(), button->y() - 2);
    });
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
