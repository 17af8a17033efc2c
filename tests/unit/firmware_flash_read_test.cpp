// Reading the flash without the window, and the numbered diagnostic dumps.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "firmware/dump_file.h"
#include "firmware/flash_read.h"
#include "sim/enclosure_data.h"
#include "tests/unit/firmware_rig.h"
#include "tests/unit/test_files_and_time.h"

namespace raid::firmware {
namespace {

using test_support::FirmwareRig;

TEST(FirmwareFlashRead, WholeFlashByTypeOrARange) {
    FirmwareRig rig;
    const auto whole = WholeFlashLength(rig.state, 0);
    ASSERT_EQ(whole, sim::kSpiFlashSize);
    EXPECT_FALSE(WholeFlashLength(rig.state, 1));  // no second device
    EXPECT_FALSE(FlashSizeOfType(0x11));

    FlashReadResult r = ReadFlash(rig.state, rig.fw, rig.ch, rig.host, 0, 0, *whole);
    ASSERT_TRUE(r.ok) << r.failureText;
    EXPECT_EQ(r.bytes, rig.Flash());
    EXPECT_EQ(rig.fw.progressCounter, sim::kSpiFlashSize / 128);

    // A range that ends inside a chunk gets exactly its bytes.
    r = ReadFlash(rig.state, rig.fw, rig.ch, rig.host, 0, 0x1000, 0x123);
    ASSERT_TRUE(r.ok);
    const auto flash = rig.Flash();
    EXPECT_EQ(r.bytes, std::vector<std::uint8_t>(flash.begin() + 0x1000, flash.begin() + 0x1123));
    EXPECT_FALSE(rig.state.shell.exclusiveOperation.load());
}

TEST(FirmwareFlashRead, FailuresSayWhy) {
    FirmwareRig rig;
    rig.emulator->InjectSpiFault(
        {sim::SpiOperation::Read, 0x2080, sim::SpiFaultKind::BadStatus, -1});
    FlashReadResult r = ReadFlash(rig.state, rig.fw, rig.ch, rig.host, 0, 0, 0x4000);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.bytes.empty());
    EXPECT_EQ(r.failureText, "ReadSPI fail, Address = 2080");

    r = ReadFlash(rig.state, rig.fw, rig.ch, rig.host, 1, 0, 0x100);
    EXPECT_EQ(r.failureText, "No Upgrade Mode!!!");

    rig.state.shell.exclusiveOperation = true;
    r = ReadFlash(rig.state, rig.fw, rig.ch, rig.host, 0, 0, 0x100);
    EXPECT_EQ(r.failureText, "Another flash operation holds the device.");
    EXPECT_TRUE(rig.state.shell.exclusiveOperation.load());  // not ours to clear
}

class DumpFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() /
              ("fw_dump_" + std::to_string(::getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::filesystem::path dir;
    test_support::RecordingUpgradeHost host;
};

TEST_F(DumpFileTest, NameSeries) {
    std::vector<std::string> names{"dSMART00.bin"};
    while (auto next = NextDumpName(names.back())) names.push_back(*next);
    ASSERT_EQ(names.size(), 36u);
    EXPECT_EQ(names[9], "dSMART09.bin");
    EXPECT_EQ(names[10], "dSMART0A.bin");
    EXPECT_EQ(names.back(), "dSMART0Z.bin");
    EXPECT_EQ(NextDumpName("dSMART0a.bin"), "dSMART0b.bin");
    EXPECT_FALSE(NextDumpName("dSMART0z.bin"));
    EXPECT_FALSE(NextDumpName("dSMART0_.bin"));
    EXPECT_FALSE(NextDumpName("short"));
}

TEST_F(DumpFileTest, SavesToTheFirstFreeNameAndGivesUpWhenAllAreTaken) {
    const std::vector<std::uint8_t> data{1, 2, 3}, thresholds{4, 5};
    SaveSmartDumps(dir, data, thresholds, host);
    SaveSmartDumps(dir, data, thresholds, host);
    EXPECT_EQ(test_support::ReadFile(dir / "dSMART01.bin"), "\x01\x02\x03");
    EXPECT_EQ(test_support::ReadFile(dir / "sSMART01.bin"), "\x04\x05");
    EXPECT_EQ(host.statusTexts.back(), "Svae File OK :" + (dir / "sSMART01.bin").string());

    for (std::string name = "dSMART02.bin"; name != "dSMART0Z.bin"; name = *NextDumpName(name))
        test_support::WriteFile(dir / name, "taken");
    test_support::WriteFile(dir / "dSMART0Z.bin", "taken");
    EXPECT_FALSE(SaveDumpFile(dir, "dSMART00.bin", data, host));
    EXPECT_EQ(host.statusTexts.back(), "Create File Error" + (dir / "dSMART0Z.bin").string());
    EXPECT_EQ(test_support::ReadFile(dir / "dSMART0Z.bin"), "taken");

    EXPECT_FALSE(SaveDumpFile(dir / "no such folder", "dSMART00.bin", data, host));
    EXPECT_EQ(host.messages.back(),
              (Message{"Fail to create file", "GetSPIFWInfo:", MessageIcon::Error}));
}

}  // namespace
}  // namespace raid::firmware
