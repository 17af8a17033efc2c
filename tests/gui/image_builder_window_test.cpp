// The "Make Bin" window on the offscreen platform: its controls by
// objectName, adding files, the grid's keys and in-cell editors, and "Save
// Bin" building the same bytes as the image builder and saving them.
#include "app/image_builder_window.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <vector>

namespace raid::tools {
namespace {

constexpr std::uint32_t kSeed = 1234;

void WriteBytes(const QString& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path.toStdString(), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
}

std::vector<std::uint8_t> ReadBytes(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class ImageBuilderWindowTest : public ::testing::Test {
protected:
    ImageBuilderWindowTest() {
        std::vector<std::uint8_t> boot(0x4000, 0x11);
        boot[16] = 0x00;
        boot[17] = 0x80;
        boot[18] = 0x07;  // L = 0x078000
        WriteBytes(Path("spihead.bin"), boot);
        WriteBytes(Path("SUB_01.BIN"), std::vector<std::uint8_t>(0x5000, 0x22));
        WriteBytes(Path("SUB_1A.BIN"), std::vector<std::uint8_t>(0x6000, 0x33));
    }
    QString Path(const char* name) const { return dir.filePath(name); }
    ImageBuilderHooks Hooks() {
        ImageBuilderHooks h;
        h.chooseFiles = [this](const QString& folder) {
            folders.push_back(folder);
            return toAdd;
        };
        h.chooseSaveName = [this](const QString&) { return saveName; };
        h.showMessage = [this](const firmware::Message& m) { messages.push_back(m); };
        return h;
    }
    template <typename T>
    T* Find(const char* name) {
        T* w = window.findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QTableWidget* Grid() { return Find<QTableWidget>("subCodeGrid"); }
    QString Cell(int row, int column) { return Grid()->item(row, column)->text(); }
    QString Panel(int i) {
        return Find<QLabel>(QString("builderStatusPanel%1").arg(i).toLatin1().constData())->text();
    }
    void AddAll() {
        toAdd = {Path("SUB_01.BIN"), Path("SUB_1A.BIN"), Path("spihead.bin")};
        window.addSubCodes();
    }
    void Key(Qt::Key key) { QTest::keyClick(Grid(), key); }

    QTemporaryDir dir;
    QStringList toAdd;
    QString saveName;
    std::vector<QString> folders;
    std::vector<firmware::Message> messages;
    firmware::FirmwareImage image;
    ImageBuilderWindow window{image, "/opt/raid", Hooks(), kSeed};
};

TEST_F(ImageBuilderWindowTest, ControlsAsLaidOut) {
    EXPECT_EQ(window.windowTitle(), "Make Bin");
    EXPECT_EQ(Find<QPushButton>("addSubCodeButton")->text(), "Add Sub-code");
    EXPECT_EQ(Find<QPushButton>("saveBinButton")->text(), "Save Bin");
    auto* autoSize = Find<QCheckBox>("autoSizeBox");
    EXPECT_EQ(autoSize->text(), "Bin Size Auto-detected");
    EXPECT_TRUE(autoSize->isChecked());
    auto* group = Find<QGroupBox>("binSizeGroup");
    EXPECT_EQ(group->title(), "  Bin Size  ");
    auto* eightM = Find<QRadioButton>("size8MBitsButton");
    EXPECT_EQ(eightM->text(), "8M Bits");
    EXPECT_FALSE(group->isEnabled());
    EXPECT_FALSE(eightM->isEnabled());
    autoSize->setChecked(false);
    EXPECT_TRUE(group->isEnabled());
    EXPECT_TRUE(eightM->isEnabled());

    EXPECT_EQ(Find<QCheckBox>("raidModeByJumperBox")->text(), "RAID Mode setting by  jumper");
    EXPECT_TRUE(Find<QCheckBox>("raidModeByJumperBox")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>("chip5080ABox")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>("scheduleBackupBox")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>("fastBackupBox")->isChecked());
    EXPECT_EQ(Find<QLineEdit>("fansEdit")->text(), "1");
    EXPECT_EQ(Find<QLineEdit>("fanAlarmEdit")->text(), "2000");
    EXPECT_EQ(Find<QLineEdit>("thermalSensorsEdit")->text(), "1");
    EXPECT_EQ(Find<QLineEdit>("thermalAlarmEdit")->text(), "50");
    EXPECT_FALSE(Find<QLineEdit>("codeTypeEditor")->isVisible());
    EXPECT_FALSE(Find<QComboBox>("updateFlagEditor")->isVisible());

    ASSERT_EQ(Grid()->rowCount(), 12);
    ASSERT_EQ(Grid()->columnCount(), 4);
    EXPECT_EQ(Cell(0, 1), "Subcode file");
    EXPECT_EQ(Cell(0, 2), "Code Type");
    EXPECT_EQ(Cell(1, 0), "Boot Loader");
    EXPECT_EQ(Cell(2, 0), "SubCode-0");
}

TEST_F(ImageBuilderWindowTest, AddingFilesFillsTheGrid) {
    AddAll();
    EXPECT_EQ(folders, std::vector<QString>{"/opt/raid"});
    EXPECT_EQ(Cell(1, 1), "spihead.bin");
    EXPECT_EQ(Cell(1, 2), "");
    EXPECT_EQ(Cell(2, 1), "SUB_01.BIN");
    EXPECT_EQ(Cell(2, 2), "01h");
    EXPECT_EQ(Cell(3, 2), "1Ah");
    EXPECT_EQ(Cell(3, 3), "TRUE");
    EXPECT_EQ(Cell(4, 1), "");

    Grid()->setCurrentCell(3, 1);
    EXPECT_EQ(Panel(2), "2");
    EXPECT_EQ(Panel(3), Path("SUB_1A.BIN"));
    Grid()->setCurrentCell(3, 2);
    EXPECT_EQ(Panel(3), "1A");

    // Eleven sub-codes are refused as a whole.
    toAdd = QStringList(9, Path("SUB_01.BIN"));
    window.addSubCodes();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(window.table().count, 2);
}

TEST_F(ImageBuilderWindowTest, GridKeysAndEditors) {
    window.show();
    AddAll();
    Grid()->setFocus();
    Grid()->setCurrentCell(3, 2);
    Key(Qt::Key_Plus);
    EXPECT_EQ(Cell(2, 2), "1Ah");
    EXPECT_EQ(Grid()->currentRow(), 2);
    Key(Qt::Key_Minus);
    EXPECT_EQ(Cell(3, 2), "1Ah");
    EXPECT_EQ(Grid()->currentRow(), 3);

    // The code type editor takes decimal or hex with H, and stays open for
    // a correction after anything else.
    Key(Qt::Key_Return);
    auto* editor = Find<QLineEdit>("codeTypeEditor");
    ASSERT_TRUE(editor->isVisible());
    EXPECT_EQ(editor->text(), "1Ah");
    editor->setText("zz");
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_TRUE(editor->isVisible());
    editor->setText("26");
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_FALSE(editor->isVisible());
    EXPECT_EQ(Cell(3, 2), "1Ah");
    Grid()->cellDoubleClicked(3, 2);
    ASSERT_TRUE(editor->isVisible());
    editor->setText("2FH");
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_EQ(Cell(3, 2), "2Fh");

    // The flag editor.
    Grid()->setCurrentCell(3, 3);
    Key(Qt::Key_Enter);
    auto* flag = Find<QComboBox>("updateFlagEditor");
    ASSERT_TRUE(flag->isVisible());
    EXPECT_EQ(flag->currentIndex(), 1);
    flag->activated(0);
    EXPECT_FALSE(flag->isVisible());
    EXPECT_EQ(Cell(3, 3), "FALSE");

    // No editor on the boot loader's row.
    Grid()->setCurrentCell(1, 2);
    Key(Qt::Key_Return);
    EXPECT_FALSE(editor->isVisible());

    Grid()->setCurrentCell(2, 1);
    Key(Qt::Key_Delete);
    EXPECT_EQ(Cell(2, 1), "SUB_1A.BIN");
    EXPECT_EQ(Cell(3, 1), "");
    EXPECT_EQ(window.table().count, 1);
}

TEST_F(ImageBuilderWindowTest, SaveBinBuildsTheSameBytesAsTheBuilderAndSavesThem) {
    AddAll();
    Find<QCheckBox>("scheduleBackupBox")->setChecked(true);
    window.show();
    saveName = Path("image.rom");
    QSignalSpy built(&window, &ImageBuilderWindow::imageBuilt);
    Find<QPushButton>("saveBinButton")->click();

    EXPECT_TRUE(messages.empty());
    ASSERT_EQ(built.size(), 1);
    ASSERT_EQ(image.Size(), 0x80000u);
    EXPECT_EQ(ReadBytes(Path("image.bin")), image.bytes);
    EXPECT_EQ(Panel(0), "524288");
    EXPECT_EQ(Panel(1), "491520");
    EXPECT_EQ(Panel(2), "524288");
    EXPECT_EQ(Panel(3), "Svae File OK :" + Path("image.bin"));
    EXPECT_FALSE(window.isVisible());

    BuilderSettings settings;
    settings.scheduleBackup = true;
    Filler filler(kSeed);
    firmware::PosixFileSource source;
    EXPECT_EQ(BuildImage(window.table(), settings, filler, source).bytes, image.bytes);
    EXPECT_EQ(image.bytes[0x78000 + 113], 0x80 | 0x02);  // type 1A has low bits 0xA
}

TEST_F(ImageBuilderWindowTest, ARefusedBuildChangesAndWritesNothing) {
    AddAll();
    image.bytes = {1, 2, 3};
    saveName = Path("image.bin");
    Find<QLineEdit>("fansEdit")->setText("16");
    window.saveBin();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "Error");
    EXPECT_EQ(image.bytes, (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_FALSE(QFile::exists(Path("image.bin")));

    Find<QLineEdit>("fansEdit")->setText("1");
    Find<QCheckBox>("autoSizeBox")->setChecked(false);
    Find<QRadioButton>("size2MBitsButton")->setChecked(true);  // below L + 0x8000
    window.saveBin();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(image.bytes.size(), 3u);
    EXPECT_FALSE(QFile::exists(Path("image.bin")));
}

}  // namespace
}  // namespace raid::tools
