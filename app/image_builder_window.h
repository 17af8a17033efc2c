#pragma once
// The "Make Bin" window: the sub-code grid (add, reorder, delete, edit code
// types and update flags in place), the image size and the "Setting" tab;
// "Save Bin" builds the image with the image builder, saves it and hands it
// on (the Upgrade page checks it as a loaded file before it becomes the
// loaded image). Every control's objectName is its role name.
#include <QWidget>
#include <functional>
#include <optional>

#include "firmware/firmware_image.h"
#include "firmware/message.h"
#include "image_builder/image_builder.h"
#include "image_builder/sub_code_table.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QTableWidget;

namespace raid::tools {

struct ImageBuilderHooks {
    // Files to add (several at once), the dialog opened in `folder`; empty
    // when cancelled. Default: a file dialog.
    std::function<QStringList(const QString& folder)> chooseFiles;
    // The name to save under; empty when cancelled. Default: a file dialog.
    std::function<QString(const QString& folder)> chooseSaveName;
    // A modal message box. Default: QMessageBox.
    std::function<void(const firmware::Message&)> showMessage;
    // True while a flash operation runs, which a new image must not
    // interrupt; a build then ends with a message. Null: never.
    std::function<bool()> imageInUse;
};

class ImageBuilderWindow : public QWidget {
    Q_OBJECT
public:
    // `image` receives each build; it must outlive the window. The dialogs open in
    // `programFolder`. Without `fillerSeed` the filler is seeded with the
    // time the window is made.
    ImageBuilderWindow(firmware::FirmwareImage& image, QString programFolder,
                       ImageBuilderHooks hooks = {},
                       std::optional<std::uint32_t> fillerSeed = std::nullopt,
                       QWidget* parent = nullptr);

    const SubCodeTable& table() const { return table_; }

    // "Add Sub-code": chooses files and adds them to the table.
    void addSubCodes();
    // "Save Bin": builds the image into `image`, saves it, tells imageBuilt
    // and closes the window. A refused build changes and writes nothing.
    void saveBin();

Q_SIGNALS:
    // `image` holds a new build, saved as `savedPath` (empty: not saved).
    void imageBuilt(const QString& savedPath);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    QWidget* buildSubCodeTab();
    QWidget* buildSettingTab();
    void refreshGrid();
    void hideEditors();
    void onCellSelected(int row, int column);
    void openEditor(int row, int column);
    void storeCodeType();
    void storeUpdateFlag(int index);
    bool onGridKey(int key, const QString& text);
    void setPanel(int panel, const QString& text);
    void tell(const firmware::Message& message);
    BuilderSettings settingsFromControls() const;

    firmware::FirmwareImage& image_;
    QString programFolder_;
    ImageBuilderHooks hooks_;
    Filler filler_;
    SubCodeTable table_;
    int editRow_ = -1;

    QTableWidget* grid_ = nullptr;
    QLineEdit* codeTypeEditor_ = nullptr;
    QComboBox* updateFlagEditor_ = nullptr;
    QCheckBox* autoSizeBox_ = nullptr;
    QGroupBox* sizeGroup_ = nullptr;
    QRadioButton* sizeButtons_[4] = {};
    QCheckBox* raidModeByJumperBox_ = nullptr;
    QCheckBox* chip5080ABox_ = nullptr;
    QLineEdit* fansEdit_ = nullptr;
    QLineEdit* fanAlarmEdit_ = nullptr;
    QLineEdit* thermalSensorsEdit_ = nullptr;
    QLineEdit* thermalAlarmEdit_ = nullptr;
    QCheckBox* scheduleBackupBox_ = nullptr;
    QCheckBox* fastBackupBox_ = nullptr;
    QLabel* panels_[4] = {};
};

}  // namespace raid::tools
