// raidctl check-firmware, flash, read-flash and make-bin against the
// emulated enclosure: what each prints, what reaches the flash and the
// files, the exit codes, and when nothing may be erased.
#include "cli/raidctl_firmware.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/raidctl_args.h"
#include "cli/raidctl_make_bin.h"
#include "device/protocol.h"
#include "sim/emulator.h"
#include "sim/sim_disks.h"
#include "tests/unit/firmware_files.h"
#include "tests/unit/raidctl_run.h"
#include "tests/unit/scratch_folder.h"

namespace raid::cli {
namespace {

using raid::test_support::FirmwareFile;
using test_support::CliRun;
constexpr auto Write = raid::test_support::WriteFileBytes;
constexpr auto Read = raid::test_support::ReadFileBytes;

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A terminal whose user answers `answer`.
FlashOptions Answering(const std::string& answer) {
    FlashOptions o;
    o.terminal = true;
    o.readAnswer = [answer] { return std::optional<std::string>(answer); };
    return o;
}

FlashOptions Interrupted(std::function<bool()> interrupted) {
    FlashOptions o;
    o.interrupted = std::move(interrupted);
    return o;
}

class RaidctlFirmwareTest : public ::testing::Test {
protected:
    RaidctlFirmwareTest() {
        emulator =
            std::make_shared<sim::ControllerEmulator>(*sim::ScenarioEnclosure("raid1"), &clock);
        disks.AddEnclosure(emulator);
    }
    std::string Path(const char* name) const { return (folder.path() / name).string(); }
    std::vector<std::uint8_t> Flash() {
        return emulator->WithModel([](const sim::Enclosure& m) { return m.spiFlash; });
    }
    // A firmware file the enclosure accepts, of `size` bytes.
    std::string GoodFile(std::size_t size, std::uint8_t typeByte = 0x5A) {
        image = FirmwareFile({.size = size, .typeByte = typeByte});
        Write(Path("fw.bin"), image);
        return Path("fw.bin");
    }
    CliRun Run(int (*command)(Context&, const Arguments&), std::vector<std::string_view> words) {
        return test_support::RunCommand(command, disks, clock, std::move(words));
    }
    CliRun Flash(std::vector<std::string_view> words, FlashOptions options = {}) {
        const ParseResult parsed = ParseArguments(words);
        EXPECT_TRUE(parsed.ok()) << parsed.error;
        std::ostringstream out, err;
        Context ctx{disks, clock, {}, out, err};
        CliRun run;
        run.code = RunFlash(ctx, parsed.args, options);
        run.out = out.str();
        run.err = err.str();
        return run;
    }

    platform::ManualClock clock;
    sim::SimDiskSystem disks;
    std::shared_ptr<sim::ControllerEmulator> emulator;
    raid::test_support::ScratchFolder folder{"raidctl_firmware"};
    std::vector<std::uint8_t> image;
};

TEST_F(RaidctlFirmwareTest, CheckFirmwarePrintsTheTextsAndTheVerdict) {
    const std::string file = GoodFile(0x200);
    CliRun r = Run(RunCheckFirmware, {"check-firmware", "0", file});
    EXPECT_EQ(r.code, kExitOk) << r.err;
    EXPECT_TRUE(Has(r.out, "File:" + file + "\n"));
    EXPECT_TRUE(Has(r.out, "Chksum:"));
    EXPECT_TRUE(Has(r.out, "F:10012601\nC:14010100\n"));
    EXPECT_TRUE(Has(r.out, "accepted for Device1"));

    Write(Path("bad.bin"), FirmwareFile({.signature = false}));
    r = Run(RunCheckFirmware, {"check-firmware", "0", Path("bad.bin")});
    EXPECT_EQ(r.code, kExitRefused);
    EXPECT_EQ(r.err,
              "raidctl: refused: Threr are METADATA_SINGATURE error in the firmware file. Please "
              "check it.\n");

    r = Run(RunCheckFirmware, {"check-firmware", "0", Path("missing.bin")});
    EXPECT_EQ(r.code, kExitRefused);
    EXPECT_EQ(r.err, "raidctl: refused: Fail to open firmware file\n");

    r = Run(RunCheckFirmware, {"check-firmware", "7", file});
    EXPECT_EQ(r.code, kExitCannotOpen);
}

TEST_F(RaidctlFirmwareTest, AConfigurationBlockPastTheFileIsRefusedBeforeAnyErase) {
    const auto before = Flash();
    Write(Path("cut.bin"), FirmwareFile({.size = 0x2000, .configOffset = 0x7E000}));
    const char* const refusal =
        "raidctl: refused: The firmware file ends at 0x2000, before its configuration block at "
        "0x7E000. The file is not complete. Please check it.\n";
    CliRun r = Run(RunCheckFirmware, {"check-firmware", "0", Path("cut.bin")});
    EXPECT_EQ(r.code, kExitRefused);
    EXPECT_EQ(r.err, refusal);
    r = Flash({"flash", "0", Path("cut.bin"), "--yes", "--backup", Path("backup.bin")});
    EXPECT_EQ(r.code, kExitRefused);
    EXPECT_EQ(r.err, refusal);
    EXPECT_FALSE(std::filesystem::exists(Path("backup.bin")));
    EXPECT_EQ(Flash(), before);
}

TEST_F(RaidctlFirmwareTest, FlashWithBackupThenReadFlashGivesBackTheImage) {
    const auto before = Flash();
    const std::string file = GoodFile(0x2000 + 0x40);
    const CliRun r = Flash({"flash", "0", file, "--yes", "--backup", Path("backup.bin")});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    EXPECT_TRUE(Has(r.out, "saved 32768 bytes of flash to " + Path("backup.bin")));
    EXPECT_TRUE(Has(r.out, "Process 1 / 3\n"));
    EXPECT_TRUE(Has(r.out, "progress 100% (138/138) Process 3 / 3\n"));
    EXPECT_TRUE(Has(r.out, "SPI Verify OK\n"));
    EXPECT_TRUE(Has(r.out, "Firmware Upgrade 3/3 completed!"));
    EXPECT_EQ(Read(Path("backup.bin")),
              std::vector<std::uint8_t>(before.begin(), before.begin() + 0x8000));

    const CliRun read =
        Run(RunReadFlash, {"read-flash", "0", Path("out.bin"), "--length", "0x2040"});
    ASSERT_EQ(read.code, kExitOk) << read.err;
    EXPECT_EQ(Read(Path("out.bin")), image);
    // Without --length: the whole 4M-bit part its type byte implies.
    EXPECT_EQ(Run(RunReadFlash, {"read-flash", "0", Path("all.bin")}).code, kExitOk);
    EXPECT_EQ(Read(Path("all.bin")), Flash());
}

TEST_F(RaidctlFirmwareTest, NothingIsErasedWhenTheRunMayNotGoOn) {
    const auto before = Flash();
    const std::string file = GoodFile(0x2000);
    // Off a terminal nobody can confirm.
    CliRun r = Flash({"flash", "0", file});
    EXPECT_EQ(r.code, kExitUsage);
    EXPECT_EQ(r.err, "raidctl: flash: no terminal to confirm on; give --yes\n");
    // On a terminal the answer is no.
    r = Flash({"flash", "0", file}, Answering("n"));
    EXPECT_EQ(r.code, kExitCommandFailed);
    EXPECT_TRUE(Has(r.out, "[y/N]"));
    // The type byte differs.
    r = Flash({"flash", "0", GoodFile(0x2000, 0x11), "--yes"});
    EXPECT_EQ(r.code, kExitRefused);
    EXPECT_EQ(r.err, "raidctl: refused: Incorrect Firmware Type! SPI = 5A, BIN = 11\n");
    // The image is larger than the part.
    r = Flash({"flash", "0", GoodFile(0x80080), "--yes"});
    EXPECT_EQ(r.code, kExitRefused);
    EXPECT_TRUE(Has(r.err, "is larger than the flash (80000 bytes). Nothing was erased.")) << r.err;
    // The backup cannot be written: its folder is missing (and is not made),
    r = Flash({"flash", "0", GoodFile(0x2000), "--yes", "--backup", Path("no/such/dir/b.bin")});
    EXPECT_EQ(r.code, kExitCommandFailed);
    EXPECT_TRUE(Has(r.err, "Cannot write backup file " + Path("no/such/dir/b.bin") +
                               ": No such file or directory\n"));
    EXPECT_TRUE(Has(r.err, "SPI Backup Fail.; nothing was erased"));
    EXPECT_FALSE(std::filesystem::exists(Path("no")));
    // or a symbolic link stands at its name (flash runs as root),
    std::filesystem::create_symlink(Path("elsewhere.bin"), Path("link.bin"));
    r = Flash({"flash", "0", GoodFile(0x2000), "--yes", "--backup", Path("link.bin")});
    EXPECT_EQ(r.code, kExitCommandFailed);
    EXPECT_TRUE(Has(r.err, "Cannot write backup file " + Path("link.bin") +
                               ": it is a symbolic link, and links are not followed when writing"))
        << r.err;
    EXPECT_FALSE(std::filesystem::exists(Path("elsewhere.bin")));
    // or a step on the way to having it on disk fails, down to the folder's fsync.
    using platform::WriteStep;
    for (const WriteStep step : {WriteStep::CreateTemporary, WriteStep::WriteData,
                                 WriteStep::SyncData, WriteStep::Rename, WriteStep::SyncFolder}) {
        FlashOptions failing;
        failing.backupFault = [step](WriteStep s) { return s == step ? EIO : 0; };
        r = Flash({"flash", "0", GoodFile(0x2000), "--yes", "--backup", Path("b.bin")}, failing);
        EXPECT_EQ(r.code, kExitCommandFailed) << static_cast<int>(step);
        EXPECT_TRUE(
            Has(r.err, "Cannot write backup file " + Path("b.bin") + ": Input/output error\n"))
            << r.err;
        EXPECT_TRUE(Has(r.err, "nothing was erased")) << static_cast<int>(step);
    }
    // A signal before the erase stops the run there.
    r = Flash({"flash", "0", GoodFile(0x2000), "--yes"}, Interrupted([] { return true; }));
    EXPECT_EQ(r.code, kExitCommandFailed);
    EXPECT_TRUE(Has(r.err, "nothing was erased"));
    EXPECT_EQ(Flash(), before);
}

TEST_F(RaidctlFirmwareTest, ASignalDuringTheFlashIsRefusedAndAVanishedDeviceSaysWhereItStopped) {
    const std::string file = GoodFile(0x2000);
    emulator->InjectSpiFault(
        {sim::SpiOperation::Program, 0x1000, sim::SpiFaultKind::FailStatus, 1});
    // The signal comes once the erase has begun.
    const auto erasing = [this] {
        for (const auto& c : emulator->ExecutedCommandBytes())
            if (c[0] == device::cmd::kEraseSpi) return true;
        return false;
    };
    CliRun r = Flash({"flash", "0", file, "--yes"}, Interrupted(erasing));
    EXPECT_EQ(r.code, kExitOk) << r.err;
    EXPECT_TRUE(Has(r.out, "raidctl: interrupt refused: Process 1 / 3 is under way;"));
    EXPECT_TRUE(Has(r.out, "WriteSPI fail1 times, Address = 1000\n"));

    emulator->InjectSpiFault({sim::SpiOperation::Program, 0x1800, sim::SpiFaultKind::Vanish, 1});
    r = Flash({"flash", "0", file, "--yes"});
    EXPECT_EQ(r.code, kExitFlashUnknown);
    EXPECT_EQ(r.err,
              "raidctl: WriteSPI fail, Address = 1800: the flash is in an unknown state: do not "
              "unplug, run flash again\n");
}

TEST_F(RaidctlFirmwareTest, MakeBinOptionsFollowTheWindowsRules) {
    std::vector<std::uint8_t> boot(0x4000, 0x11);
    boot[16] = 0x00;
    boot[17] = 0x80;
    boot[18] = 0x07;  // L = 0x078000
    Write(Path("spihead.bin"), boot);
    Write(Path("SUB_01.BIN"), std::vector<std::uint8_t>(0x5000, 0x22));
    Write(Path("SUB_1A.BIN"), std::vector<std::uint8_t>(0x6000, 0x33));
    const std::string sub01 = Path("SUB_01.BIN"), sub1a = Path("SUB_1A.BIN") + ":3:FALSE";
    CliRun r = Run(RunMakeBin, {"make-bin", "--boot", Path("spihead.bin"), "--sub", sub01, "--sub",
                                sub1a, "--setting", "schedule-backup=on", "--setting",
                                "fan-alarm=7D0H", "--seed", "99", "--out", Path("image.rom")});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    EXPECT_TRUE(Has(r.out, "Svae File OK :" + Path("image.bin")));
    const auto bytes = Read(Path("image.bin"));
    ASSERT_EQ(bytes.size(), 0x80000u);
    const std::uint8_t* block = &bytes[0x78000];
    EXPECT_EQ(block[2], 0x01);
    EXPECT_EQ(block[6], 0x5A);  // TRUE by default
    EXPECT_EQ(block[7], 0x03);
    EXPECT_EQ(block[11], 0x00);  // FALSE as given
    EXPECT_EQ(block[109] | block[110] << 8, 2000);
    EXPECT_EQ(block[113], 0x8A);

    std::string error;
    Arguments a;
    a.bootFile = Path("spihead.bin");
    for (const char* size : {"1M", "0x40000", "524288", "8M", "auto"}) {
        a.imageSize = size;
        EXPECT_TRUE(ReadMakeBinOptions(a, error)) << size << ": " << error;
    }
    const struct {
        const char* size;
        const char* setting;
        const char* expected;
    } refused[] = {{"3M", "fans=1", "--size 3M"},
                   {"auto", "fans=16", "is not a number for the fans supported"},
                   {"auto", "fans=0x1", "is not a number for the fans supported"},
                   {"auto", "buzzer=on", "unknown setting"},
                   {"auto", "fast-backup=maybe", "give on or off"}};
    for (const auto& c : refused) {
        a.imageSize = c.size;
        a.settings = {c.setting};
        EXPECT_FALSE(ReadMakeBinOptions(a, error)) << c.setting;
        EXPECT_TRUE(Has(error, c.expected)) << error;
    }
    // The builder's own refusals write nothing.
    r = Run(RunMakeBin, {"make-bin", "--boot", Path("spihead.bin"), "--size", "1M", "--out",
                         Path("small.bin")});
    EXPECT_EQ(r.code, kExitRefused);
    EXPECT_FALSE(std::filesystem::exists(Path("small.bin")));
}

}  // namespace
}  // namespace raid::cli
