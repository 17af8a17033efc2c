// TForm1's controls: the skinned frame, the page-button column, the six pages
// of Notebook1 and the status bar. Controls carry their names as objectName.
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressBar>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTableWidget>

#include "app/main_window.h"
#include "app/picture_button.h"
#include "skin/skin.h"

namespace raid::app {
namespace {

constexpr int kStatusBarHeight = skin::kWindowHeight - skin::kBackgroundHeight;

const char* const kPageButtonNames[6] = {"Image_Sts",   "Image_Setup", "Image_FWUpg",
                                         "Image_Email", "Image_SMART", "Image_About"};
// Notebook1's page captions, by page index.
const char* const kPageCaptions[6] = {"Status", "schedule_backup", "Upgrade",
                                      "E-mail", "About",           "SMART"};

QFont Bold(QFont font, int pointSize) {
    font.setBold(true);
    font.setPointSize(pointSize);
    return font;
}

QFont Sized(QFont font, int pointSize) {
    font.setPointSize(pointSize);
    return font;
}

QRect Action(int left, int top) {
    return QRect(left, top, skin::kActionWidth, skin::kActionHeight);
}

// A white rounded box behind a group of labels of the Status page.
void Card(QWidget* page, const QString& name, const QRect& geometry) {
    auto* card = new QFrame(page);
    card->setObjectName(name);
    card->setGeometry(geometry);
    card->setStyleSheet(QString("QFrame#%1 { background: #ffffff; border: 1px solid #c9d0db;"
                                " border-radius: 6px; }")
                            .arg(name));
}

// A small grey caption in front of a value.
void Caption(QWidget* parent, const QString& name, const QRect& geometry, const QString& text) {
    auto* caption = new QLabel(text, parent);
    caption->setObjectName(name);
    caption->setGeometry(geometry);
    caption->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    QPalette p = caption->palette();
    p.setColor(QPalette::WindowText, QColor(0x5a, 0x63, 0x72));
    caption->setPalette(p);
}

void Rule(QWidget* page, int top) {
    auto* rule = new QFrame(page);
    rule->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    rule->setGeometry(14, top, 432, 4);
}

}  // namespace

QLabel* TForm1::MakeLabel(const QString& name, QWidget* parent, const QRect& geometry,
                          const QString& text) {
    auto* label = new QLabel(text, parent);
    if (!name.isEmpty()) label->setObjectName(name);
    label->setGeometry(geometry);
    return label;
}

PictureButton* TForm1::MakePicture(const QString& name, QWidget* parent, const QRect& geometry) {
    auto* picture = new PictureButton(name, parent);
    picture->setGeometry(geometry);
    picture->SetPicture(skin::Picture(name));
    return picture;
}

void TForm1::MakeCompanions(const QString& name) {
    for (const char* look : {"_Yellow", "_White"}) {
        auto* companion = new QLabel(this);
        companion->setObjectName(name + look);
        companion->setPixmap(skin::Picture(name + look));
        companion->hide();
    }
}

QPixmap TForm1::CompanionPicture(const QString& name) const {
    const auto* companion = findChild<QLabel*>(name, Qt::FindDirectChildrenOnly);
    return companion != nullptr ? companion->pixmap() : QPixmap();
}

void TForm1::BuildWindow() {
    setObjectName("TForm1");
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(skin::kWindowWidth, skin::kWindowHeight);

    // The background and its three looks; the shown one takes the picture of
    // the product's look (ApplyProductSkin).
    Image_Background = MakeLabel("Image_Background", this,
                                 QRect(0, 0, skin::kBackgroundWidth, skin::kBackgroundHeight));
    Image_Background->setScaledContents(true);
    for (const char* name :
         {"Image_Background_RAID", "Image_Background_OEM", "Image_Background_HyBrid"}) {
        auto* look = MakeLabel(name, this, Image_Background->geometry());
        look->setPixmap(skin::Picture(name));
        look->hide();
    }
    auto* banner =
        MakeLabel("Image_Title", this, QRect(0, 0, skin::kBannerWidth, skin::kBannerHeight));
    banner->setPixmap(skin::Picture("Image_Title"));

    for (std::size_t i = 0; i < pageButtons_.size(); ++i) {
        const QString name = kPageButtonNames[i];
        MakeCompanions(name);
        const QRect slot(skin::kButtonColumnLeft,
                         skin::kButtonColumnTop + static_cast<int>(i) * skin::kButtonPitch,
                         skin::kPageButtonWidth, skin::kPageButtonHeight);
        pageButtons_[i] = new PictureButton(name, this);
        pageButtons_[i]->setGeometry(slot);
        buttonSlots_[i] = slot.topLeft();  // the slots, recorded once
    }
    connect(pageButtons_[0], &PictureButton::clicked, this, &TForm1::Image_StsClick);
    connect(pageButtons_[1], &PictureButton::clicked, this, &TForm1::Image_SetupClick);
    connect(pageButtons_[2], &PictureButton::clicked, this, &TForm1::Image_FWUpgClick);
    connect(pageButtons_[3], &PictureButton::clicked, this, &TForm1::Image_EmailClick);
    connect(pageButtons_[4], &PictureButton::clicked, this, &TForm1::Image_SMARTClick);
    connect(pageButtons_[5], &PictureButton::clicked, this, &TForm1::Image_AboutClick);
    for (const char* name : {"Image0_D1", "Image0_D2", "Image5_HDD1", "Image5_HDD2"}) {
        MakeCompanions(name);
    }

    Notebook1 = new QStackedWidget(this);
    Notebook1->setObjectName("Notebook1");
    Notebook1->setGeometry(skin::kPanelLeft, skin::kPanelTop, skin::kPanelWidth,
                           skin::kPanelHeight);
    for (const char* caption : kPageCaptions) {
        auto* page = new QWidget(Notebook1);
        page->setObjectName(QString("Notebook1_") + caption);
        page->setWindowTitle(caption);
        Notebook1->addWidget(page);
    }
    BuildStatusPage(Notebook1->widget(kPageStatus));
    BuildSetupPage(Notebook1->widget(kPageSetup));
    BuildUpgradePage(Notebook1->widget(kPageUpgrade));
    BuildEmailPage(Notebook1->widget(kPageEmail));
    BuildAboutPage(Notebook1->widget(kPageAbout));
    BuildSmartPage(Notebook1->widget(kPageSmart));

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName("StatusBar1");
    StatusBar1->setSizeGripEnabled(false);
    StatusBar1->setGeometry(0, skin::kBackgroundHeight, skin::kWindowWidth, kStatusBarHeight);
    const int widths[5] = {90, 110, 110, 110, 0};
    for (int i = 0; i < 5; ++i) {
        auto* panel = new QLabel(StatusBar1);
        panel->setObjectName(QString("StatusBar1_Panel%1").arg(i));
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        if (widths[i] > 0) {
            panel->setFixedWidth(widths[i]);
            StatusBar1->addWidget(panel);
        } else {
            StatusBar1->addWidget(panel, 1);  // the last-result line takes the rest
        }
        panel->installEventFilter(this);
        statusPanels_[static_cast<std::size_t>(i)] = panel;
    }
    StatusBar1->installEventFilter(this);
}

void TForm1::BuildStatusPage(QWidget* page) {
    const QFont base = font();
    Image0_D1 =
        MakePicture("Image0_D1", page, QRect(14, 10, skin::kDeviceWidth, skin::kDeviceHeight));
    Image0_D2 =
        MakePicture("Image0_D2", page, QRect(144, 10, skin::kDeviceWidth, skin::kDeviceHeight));
    CheckBox1 = new QCheckBox("Device1", page);
    CheckBox1->setObjectName("CheckBox1");
    CheckBox1->setGeometry(30, 98, 100, 20);
    CheckBox3 = new QCheckBox("Device2", page);
    CheckBox3->setObjectName("CheckBox3");
    CheckBox3->setGeometry(160, 98, 100, 20);
    for (QWidget* selector :
         std::initializer_list<QWidget*>{CheckBox1, CheckBox3, Image0_D1, Image0_D2})
        selector->setToolTipDuration(6000);

    // The state box at the top right: health or rebuild progress, with the
    // controller's firmware below it.
    Card(page, "Frame_State", QRect(282, 10, 164, 88));
    auto* health = MakeLabel("Label18", page, QRect(286, 14, 156, 80));
    health->setAlignment(Qt::AlignCenter);
    health->setFont(Bold(base, 14));
    Caption(page, "Caption_Firmware", QRect(284, 102, 70, 18), "Firmware");
    MakeLabel("Label48", page, QRect(340, 102, 104, 18))
        ->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    StaticText10 = MakeLabel("StaticText10", page, QRect(284, 120, 160, 14));
    StaticText10->setAlignment(Qt::AlignRight | Qt::AlignTop);
    StaticText10->setFont(Sized(base, 8));

    Rule(page, 136);
    Caption(page, "Caption_Mode", QRect(14, 146, 76, 20), "Array Mode");
    MakeLabel("Label17", page, QRect(92, 142, 190, 28))->setFont(Bold(base, 13));
    Caption(page, "Caption_Capacity", QRect(284, 146, 60, 20), "Capacity");
    auto* configured = MakeLabel("Label27", page, QRect(340, 142, 104, 28));
    configured->setFont(Bold(base, 12));
    configured->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    // One row per member: bay, capacity (with its line break the label is
    // two lines high) and model.
    const struct {
        const char* member;
        const char* capacity;
        const char* model;
        int top;
    } members[2] = {{"HDD1", "Label25", "Label51", 178}, {"HDD2", "Label26", "Label52", 222}};
    for (const auto& m : members) {
        Card(page, QString("Frame_") + m.member, QRect(14, m.top, 432, 38));
        // All three start on the same line, whatever their fonts.
        auto* bay = MakeLabel(QString("Caption_") + m.member, page, QRect(24, m.top + 10, 46, 20),
                              m.member);
        bay->setFont(Bold(base, 10));
        auto* capacity = MakeLabel(m.capacity, page, QRect(76, m.top + 10, 84, 40));
        capacity->setFont(Bold(base, 10));
        auto* model = MakeLabel(m.model, page, QRect(164, m.top + 10, 276, 20));
        model->setFont(Sized(base, 10));
        for (QLabel* label : {bay, capacity, model})
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }

    Rule(page, 268);
    Panel11 = new QFrame(page);
    Panel11->setObjectName("Panel11");
    Panel11->setGeometry(14, 274, 300, 24);
    MakeLabel("Label4", Panel11, QRect(0, 3, 30, 18), "Fan:");
    MakeLabel("Label5", Panel11, QRect(34, 3, 44, 18))->setFont(Bold(base, 10));
    Caption(Panel11, "Unit_Fan", QRect(80, 3, 34, 18), "RPM");
    MakeLabel("Label6", Panel11, QRect(132, 3, 86, 18), "Temperature:");
    MakeLabel("Label7", Panel11, QRect(220, 3, 28, 18))->setFont(Bold(base, 10));
    Caption(Panel11, "Unit_Temperature", QRect(248, 3, 30, 18), QString::fromUtf8("\u00B0C"));
    CheckBox5 = new QCheckBox("Buzzer Mute", page);
    CheckBox5->setObjectName("CheckBox5");
    CheckBox5->setGeometry(14, 312, 160, 22);

    Image0_Log = MakePicture("Image0_Log", page, Action(346, 306));
    Image0_Log->hide();  // shown once a device is found
    WirePressedLook(Image0_Log, false);

    StaticText1 = MakeLabel("StaticText1", page, QRect(0, 150, skin::kPanelWidth, 40));
    StaticText1->setAlignment(Qt::AlignCenter);
    StaticText1->setFont(Bold(base, 16));
}

void TForm1::BuildSetupPage(QWidget* page) {
    ComboBox1 = new QComboBox(page);
    ComboBox1->setObjectName("ComboBox1");
    ComboBox1->setGeometry(24, 40, 72, 26);
    auto* combo2 = new QComboBox(page);
    combo2->setObjectName("ComboBox2");
    combo2->setGeometry(110, 40, 140, 26);
    Panel8 = new QFrame(page);
    Panel8->setObjectName("Panel8");
    Panel8->setGeometry(14, 84, 434, 200);
    CheckBox_Backup = new QCheckBox(page);
    CheckBox_Backup->setObjectName("CheckBox_Backup");
    CheckBox_Backup->setGeometry(24, 14, 200, 22);
    auto* set = MakePicture("Image1_Set", page, Action(340, 300));
    WirePressedLook(set, true);
}

void TForm1::BuildUpgradePage(QWidget* page) {
    Image2_D1 =
        MakePicture("Image2_D1", page, QRect(14, 10, skin::kDeviceWidth, skin::kDeviceHeight));
    Image2_D2 =
        MakePicture("Image2_D2", page, QRect(144, 10, skin::kDeviceWidth, skin::kDeviceHeight));
    connect(Image2_D1, &PictureButton::clicked, this, &TForm1::Image2_D1Click);
    connect(Image2_D2, &PictureButton::clicked, this, &TForm1::Image2_D2Click);
    for (PictureButton* selector : {Image2_D1, Image2_D2}) selector->setToolTipDuration(6000);
    MakeLabel("Label54", page, QRect(14, 110, 434, 20));
    auto* file = MakeLabel("Label12", page, QRect(14, 136, 434, 40));
    file->setWordWrap(true);
    file->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Panel1 = new QFrame(page);
    Panel1->setObjectName("Panel1");
    Panel1->setGeometry(14, 180, 434, 60);
    auto* progress = new QProgressBar(page);
    progress->setObjectName("ProgressBar1");
    progress->setGeometry(14, 252, 434, 18);
    progress->setRange(0, 100);
    progress->setValue(0);
    progress->setTextVisible(false);
    Image2_Load = MakePicture("Image2_Load", page, Action(100, 300));
    Image2_Upgrade = MakePicture("Image2_Upgrade", page, Action(260, 300));
    WirePressedLook(Image2_Load, false);
    WirePressedLook(Image2_Upgrade, false);
}

void TForm1::BuildEmailPage(QWidget* page) {
    const struct {
        const char* edit;
        const char* caption;
        const char* note;
        int top;
        int width;
    } fields[5] = {
        {"Edit2", "E-Mail Host (SMTP)", "", 24, 250}, {"Edit1", "Port", "( Default 25 )", 60, 70},
        {"Edit5", "Time Out", "(Sec)", 96, 70},       {"Edit3", "Name", "", 150, 250},
        {"Edit4", "E-Mail Address", "", 186, 250},
    };
    for (const auto& f : fields) {
        MakeLabel(QString("Caption_") + f.edit, page, QRect(20, f.top + 4, 140, 20), f.caption);
        auto* edit = new QLineEdit(page);
        edit->setObjectName(f.edit);
        edit->setGeometry(164, f.top, f.width, 26);
        if (f.note[0] != '\0') {
            MakeLabel(QString("Note_") + f.edit, page, QRect(164 + f.width + 8, f.top + 4, 110, 20),
                      f.note);
        }
    }
    page->findChild<QLineEdit*>("Edit5")->setMaxLength(2);
    auto* ok = MakePicture("Image3_OK", page, Action(228, 300));
    auto* ignore = MakePicture("Image3_Ignore", page, Action(342, 300));
    WirePressedLook(ok, false);
    WirePressedLook(ignore, false);
}

void TForm1::BuildAboutPage(QWidget* page) {
    const QFont base = font();
    auto* logo = MakePicture(
        "Image4_Logo", page,
        QRect((skin::kPanelWidth - skin::kLogoWidth) / 2, 20, skin::kLogoWidth, skin::kLogoHeight));
    logo->setCursor(Qt::ArrowCursor);
    Label63 = MakeLabel("Label63", page, QRect(0, 160, skin::kPanelWidth, 32));
    Label63->setAlignment(Qt::AlignCenter);
    Label63->setFont(Bold(base, 15));
    Label65 = MakeLabel("Label65", page, QRect(0, 198, skin::kPanelWidth, 24));
    Label65->setAlignment(Qt::AlignCenter);
    Label65->setFont(Bold(base, 11));
    MakeLabel("Label61", page, QRect(0, 240, skin::kPanelWidth, 20))->setAlignment(Qt::AlignCenter);
    MakeLabel("Label62", page, QRect(0, 264, skin::kPanelWidth, 20))->setAlignment(Qt::AlignCenter);
}

void TForm1::BuildSmartPage(QWidget* page) {
    Image5_HDD1 =
        MakePicture("Image5_HDD1", page, QRect(14, 10, skin::kDiskWidth, skin::kDiskHeight));
    Image5_HDD2 =
        MakePicture("Image5_HDD2", page, QRect(144, 10, skin::kDiskWidth, skin::kDiskHeight));
    MakeLabel("Label22", page, QRect(276, 8, 172, 18));
    MakeLabel("Label23", page, QRect(276, 28, 172, 18));
    MakeLabel("Label24", page, QRect(276, 48, 172, 18));
    auto* refresh = MakeLabel("Label21", page, QRect(14, 326, 300, 18));
    refresh->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    StringGrid4 = new QTableWidget(0, 6, page);
    StringGrid4->setObjectName("StringGrid4");
    StringGrid4->setGeometry(14, 90, 434, 200);
    StringGrid4->setHorizontalHeaderLabels({"ID", "Value", "Worst", "Threshold", "RAW", "Status"});
    StringGrid4->verticalHeader()->hide();
    StringGrid4->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringGrid4->setSelectionMode(QAbstractItemView::NoSelection);
    StringGrid4->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);

    auto* bar = new QTableWidget(1, 1, page);
    bar->setObjectName("StringGrid3");
    bar->setGeometry(14, 66, 434, 20);
    bar->horizontalHeader()->hide();
    bar->verticalHeader()->hide();
    bar->horizontalHeader()->setStretchLastSection(true);
    bar->verticalHeader()->setDefaultSectionSize(18);
    bar->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    bar->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    bar->setEditTriggers(QAbstractItemView::NoEditTriggers);
    bar->setSelectionMode(QAbstractItemView::NoSelection);
    bar->setFrameStyle(QFrame::NoFrame);
}

void TForm1::WirePressedLook(PictureButton* button, bool keepsPressedBit) {
    // The picture sinks 2 pixels while the mouse holds it. Image1_Set sinks
    // only when its pressed bit is clear, so repeated downs cannot push it
    // further.
    connect(button, &PictureButton::pressed, this, [this, button, keepsPressedBit] {
        if (keepsPressedBit) {
            if (image1SetPressed_) return;
            image1SetPressed_ = true;
        }
        button->move(button->x(), button->y() + 2);
    });
    connect(button, &PictureButton::released, this, [this, button, keepsPressedBit] {
        if (keepsPressedBit) image1SetPressed_ = false;
        button->move(button->x(), button->y() - 2);
    });
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonDblClick &&
        (watched == StatusBar1 || watched->parent() == StatusBar1)) {
        StatusBar1DblClick();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace raid::app
