#include "app/image_builder_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include "image_builder/number_text.h"

namespace raid::tools {
namespace {

const char* const kFileFilter = "Binary code (*.bin);;All files (*.*)";

QString Q(const std::string& s) { return QString::fromStdString(s); }

std::uint32_t TimeSeed() { return static_cast<std::uint32_t>(QDateTime::currentSecsSinceEpoch()); }

ImageBuilderHooks WithDefaults(ImageBuilderHooks hooks, QWidget* window) {
    if (!hooks.chooseFiles)
        hooks.chooseFiles = [window](const QString& folder) {
            return QFileDialog::getOpenFileNames(window, "Open", folder, kFileFilter);
        };
    if (!hooks.chooseSaveName)
        hooks.chooseSaveName = [window](const QString& folder) {
            return QFileDialog::getSaveFileName(window, "Save As", folder, kFileFilter);
        };
    if (!hooks.showMessage)
        hooks.showMessage = [window](const firmware::Message& m) {
            const auto icon = m.icon == firmware::MessageIcon::Error         ? QMessageBox::Critical
                              : m.icon == firmware::MessageIcon::Exclamation ? QMessageBox::Warning
                                                                             : QMessageBox::NoIcon;
            QMessageBox box(icon, Q(m.caption), Q(m.text), QMessageBox::Ok, window);
            box.exec();
        };
    return hooks;
}

template <typename W>
W* Named(W* widget, const char* name) {
    widget->setObjectName(name);
    return widget;
}

}  // namespace

ImageBuilderWindow::ImageBuilderWindow(firmware::FirmwareImage& image, QString programFolder,
                                       ImageBuilderHooks hooks,
                                       std::optional<std::uint32_t> fillerSeed, QWidget* parent)
    : QWidget(parent, Qt::Window),
      image_(image),
      programFolder_(std::move(programFolder)),
      hooks_(WithDefaults(std::move(hooks), this)),
      filler_(fillerSeed.value_or(TimeSeed())) {
    setObjectName("imageBuilderWindow");
    setWindowTitle("Make Bin");
    // A maintenance tool: closing it must not end the program.
    setAttribute(Qt::WA_QuitOnClose, false);
    buildControls();
    refreshGrid();
}

void ImageBuilderWindow::buildControls() {
    auto* layout = new QVBoxLayout(this);
    auto* tabs = Named(new QTabWidget(this), "builderTabs");
    tabs->addTab(buildSubCodeTab(), "Sub-code");
    tabs->addTab(buildSettingTab(), "Setting");
    layout->addWidget(tabs);

    auto* bar = Named(new QStatusBar(this), "builderStatusBar");
    bar->setSizeGripEnabled(false);
    for (int i = 0; i < 4; ++i) {
        panels_[i] = new QLabel(bar);
        panels_[i]->setObjectName(QString("builderStatusPanel%1").arg(i));
        panels_[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        bar->addWidget(panels_[i], i == 3 ? 1 : 0);
    }
    layout->addWidget(bar);
    resize(560, 440);
}

QWidget* ImageBuilderWindow::buildSubCodeTab() {
    auto* tab = new QWidget;
    auto* layout = new QVBoxLayout(tab);

    grid_ = Named(new QTableWidget(kGridRows, kGridColumns, tab), "subCodeGrid");
    grid_->horizontalHeader()->hide();
    grid_->verticalHeader()->hide();
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->setSelectionMode(QAbstractItemView::SingleSelection);
    grid_->setColumnWidth(0, 90);
    grid_->setColumnWidth(1, 200);
    for (int r = 0; r < kGridRows; ++r)
        for (int c = 0; c < kGridColumns; ++c) {
            auto* item = new QTableWidgetItem;
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            // The title row and column look fixed.
            if (r == 0 || c == 0) item->setBackground(palette().button());
            grid_->setItem(r, c, item);
        }
    grid_->installEventFilter(this);
    connect(grid_, &QTableWidget::currentCellChanged, this,
            [this](int row, int column, int, int) { onCellSelected(row, column); });
    connect(grid_, &QTableWidget::cellDoubleClicked, this, &ImageBuilderWindow::openEditor);
    layout->addWidget(grid_);

    codeTypeEditor_ = Named(new QLineEdit(grid_->viewport()), "codeTypeEditor");
    // Enter is taken here: a line edit passes it on to the grid, which
    // would open the editor again.
    codeTypeEditor_->installEventFilter(this);
    updateFlagEditor_ = Named(new QComboBox(grid_->viewport()), "updateFlagEditor");
    updateFlagEditor_->addItems({"FALSE", "TRUE"});
    connect(updateFlagEditor_, &QComboBox::activated, this, &ImageBuilderWindow::storeUpdateFlag);
    hideEditors();

    auto* row = new QHBoxLayout;
    auto* add = Named(new QPushButton("Add Sub-code", tab), "addSubCodeButton");
    auto* save = Named(new QPushButton("Save Bin", tab), "saveBinButton");
    connect(add, &QPushButton::clicked, this, &ImageBuilderWindow::addSubCodes);
    connect(save, &QPushButton::clicked, this, &ImageBuilderWindow::saveBin);
    autoSizeBox_ = Named(new QCheckBox("Bin Size Auto-detected", tab), "autoSizeBox");
    autoSizeBox_->setChecked(true);
    sizeGroup_ = Named(new QGroupBox("  Bin Size  ", tab), "binSizeGroup");
    auto* sizes = new QHBoxLayout(sizeGroup_);
    const char* const kSizeNames[4] = {"size1MBitsButton", "size2MBitsButton", "size4MBitsButton",
                                       "size8MBitsButton"};
    const char* const kSizeCaptions[4] = {"1M Bits", "2M Bits", "4M Bits", "8M Bits"};
    for (int i = 0; i < 4; ++i) {
        sizeButtons_[i] = Named(new QRadioButton(kSizeCaptions[i], sizeGroup_), kSizeNames[i]);
        sizes->addWidget(sizeButtons_[i]);
    }
    sizeButtons_[2]->setChecked(true);
    const auto followAutoSize = [this](bool automatic) {
        sizeGroup_->setEnabled(!automatic);
        for (QRadioButton* b : sizeButtons_) b->setEnabled(!automatic);
    };
    connect(autoSizeBox_, &QCheckBox::toggled, this, followAutoSize);
    followAutoSize(true);
    row->addWidget(add);
    row->addWidget(save);
    row->addWidget(autoSizeBox_);
    layout->addLayout(row);
    layout->addWidget(sizeGroup_);
    return tab;
}

QWidget* ImageBuilderWindow::buildSettingTab() {
    const BuilderSettings defaults;
    auto* tab = new QWidget;
    auto* form = new QFormLayout(tab);
    raidModeByJumperBox_ =
        Named(new QCheckBox("RAID Mode setting by  jumper", tab), "raidModeByJumperBox");
    raidModeByJumperBox_->setChecked(defaults.raidModeByJumper);
    chip5080ABox_ = Named(new QCheckBox("TAVI5080A chip", tab), "chip5080ABox");
    chip5080ABox_->setChecked(defaults.chip5080A);
    form->addRow(raidModeByJumperBox_);
    form->addRow(chip5080ABox_);
    const auto edit = [&](const char* name, const char* label, unsigned value) {
        auto* e = Named(new QLineEdit(QString::number(value), tab), name);
        form->addRow(label, e);
        return e;
    };
    fansEdit_ = edit("fansEdit", "Fans supported", defaults.fans);
    fanAlarmEdit_ = edit("fanAlarmEdit", "Fan alarm limit (RPM)", defaults.fanAlarmRpm);
    thermalSensorsEdit_ =
        edit("thermalSensorsEdit", "Thermal sensors supported", defaults.thermalSensors);
    thermalAlarmEdit_ =
        edit("thermalAlarmEdit", "Thermal alarm limit (\u00B0C)", defaults.thermalAlarmC);
    scheduleBackupBox_ = Named(new QCheckBox("Schedule Backup", tab), "scheduleBackupBox");
    fastBackupBox_ = Named(new QCheckBox("Fast Backup", tab), "fastBackupBox");
    form->addRow(scheduleBackupBox_);
    form->addRow(fastBackupBox_);
    return tab;
}

void ImageBuilderWindow::refreshGrid() {
    for (int r = 0; r < kGridRows; ++r)
        for (int c = 0; c < kGridColumns; ++c)
            grid_->item(r, c)->setText(Q(GridCellText(table_, r, c)));
}

void ImageBuilderWindow::hideEditors() {
    codeTypeEditor_->hide();
    updateFlagEditor_->hide();
    editRow_ = -1;
}

void ImageBuilderWindow::setPanel(int panel, const QString& text) { panels_[panel]->setText(text); }

void ImageBuilderWindow::tell(const firmware::Message& message) { hooks_.showMessage(message); }

void ImageBuilderWindow::onCellSelected(int row, int column) {
    hideEditors();
    refreshGrid();
    if (row < 0) return;
    setPanel(2, QString::number(row - 1));
    if (table_.IsUsedRow(row)) setPanel(3, Q(CellDetailText(table_, row, column)));
}

void ImageBuilderWindow::openEditor(int row, int column) {
    if (!table_.IsSubCodeRow(row) || (column != 2 && column != 3)) return;
    hideEditors();
    editRow_ = row;
    const QRect cell = grid_->visualRect(grid_->model()->index(row, column));
    if (column == 2) {
        codeTypeEditor_->setGeometry(cell);
        codeTypeEditor_->setText(grid_->item(row, column)->text());
        codeTypeEditor_->show();
        codeTypeEditor_->setFocus();
    } else {
        updateFlagEditor_->setGeometry(cell);
        updateFlagEditor_->setCurrentIndex(table_.AtRow(row).update ? 1 : 0);
        updateFlagEditor_->show();
        updateFlagEditor_->setFocus();
    }
}

void ImageBuilderWindow::storeCodeType() {
    const QString text = codeTypeEditor_->text();
    const auto value = ParseNumberText(text.toStdString(), 0xFF);
    if (!value) {
        // The editor stays open for a correction.
        tell({NumberRefusal("the code type", text.toStdString(), 0xFF), "Error",
              firmware::MessageIcon::Error});
        return;
    }
    SetCodeType(table_, editRow_, static_cast<std::uint8_t>(*value));
    hideEditors();
    refreshGrid();
    grid_->setFocus();
}

void ImageBuilderWindow::storeUpdateFlag(int index) {
    SetUpdateFlag(table_, editRow_, index == 1);
    hideEditors();
    refreshGrid();
    grid_->setFocus();
}

bool ImageBuilderWindow::onGridKey(int key, const QString& text) {
    const int row = grid_->currentRow();
    const int column = grid_->currentColumn();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        openEditor(row, column);
        return true;
    }
    if (text == "+" || key == Qt::Key_Plus) {
        if (MoveRowUp(table_, row)) grid_->setCurrentCell(row - 1, column);
        refreshGrid();
        return true;
    }
    if (text == "-" || key == Qt::Key_Minus) {
        if (MoveRowDown(table_, row)) grid_->setCurrentCell(row + 1, column);
        refreshGrid();
        return true;
    }
    if (key == Qt::Key_Delete) {
        DeleteRow(table_, row);
        onCellSelected(row, column);
        return true;
    }
    return false;
}

bool ImageBuilderWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return QWidget::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    if (watched == codeTypeEditor_ &&
        (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
        storeCodeType();
        return true;
    }
    if (watched == grid_ && onGridKey(key->key(), key->text())) return true;
    return QWidget::eventFilter(watched, event);
}

void ImageBuilderWindow::addSubCodes() {
    const QStringList chosen = hooks_.chooseFiles(programFolder_);
    if (chosen.isEmpty()) return;
    std::vector<std::string> paths;
    for (const QString& p : chosen) paths.push_back(p.toStdString());
    const std::string refusal = AddFiles(table_, paths);
    if (!refusal.empty()) tell({refusal, "Error", firmware::MessageIcon::Error});
    refreshGrid();
}

BuilderSettings ImageBuilderWindow::settingsFromControls() const {
    BuilderSettings s;
    s.size = ImageSize::Auto;
    if (!autoSizeBox_->isChecked()) {
        const ImageSize kSizes[4] = {ImageSize::Bits1M, ImageSize::Bits2M, ImageSize::Bits4M,
                                     ImageSize::Bits8M};
        for (int i = 0; i < 4; ++i)
            if (sizeButtons_[i]->isChecked()) s.size = kSizes[i];
    }
    s.raidModeByJumper = raidModeByJumperBox_->isChecked();
    s.chip5080A = chip5080ABox_->isChecked();
    s.scheduleBackup = scheduleBackupBox_->isChecked();
    s.fastBackup = fastBackupBox_->isChecked();
    return s;
}

void ImageBuilderWindow::saveBin() {
    BuilderSettings settings = settingsFromControls();
    const std::string refusal = ApplySettingTexts(
        settings,
        {fansEdit_->text().toStdString(), fanAlarmEdit_->text().toStdString(),
         thermalSensorsEdit_->text().toStdString(), thermalAlarmEdit_->text().toStdString()});
    if (!refusal.empty()) {
        tell({refusal, "Error", firmware::MessageIcon::Error});
        return;
    }
    firmware::PosixFileSource source;
    BuiltImage built = BuildImage(table_, settings, filler_, source);
    for (const firmware::Message& m : built.messages) tell(m);
    if (!built.Ok()) return;
    if (hooks_.imageInUse && hooks_.imageInUse()) {
        tell({"Firmware is upgrading, please wait a moment.", "Message",
              firmware::MessageIcon::None});
        return;
    }

    const QString size = QString::number(built.bytes.size());
    setPanel(1, QString::number(built.configOffset));
    setPanel(0, size);
    image_.bytes = std::move(built.bytes);

    QString savedPath;
    const QString chosen = hooks_.chooseSaveName(programFolder_);
    if (!chosen.isEmpty()) {
        const QString name = Q(SaveNameFor(chosen.toStdString()).string());
        setPanel(3, name);
        setPanel(2, size);
        const SaveResult saved = SaveImage(chosen.toStdString(), image_.bytes);
        for (const firmware::Message& m : saved.messages) tell(m);
        if (saved.ok) {
            setPanel(3, Q(saved.statusText));
            savedPath = name;
        }
    }
    Q_EMIT imageBuilt(savedPath);
    close();
}

}  // namespace raid::tools
