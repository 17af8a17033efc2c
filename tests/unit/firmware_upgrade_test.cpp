// The firmware upgrade against the emulated enclosure: what it erases,
// programs and reads, the texts and progress it shows, the retries, the
// type check, the backup before erasing, and when it does nothing at all.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <algorithm>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "firmware/checked_device.h"
#include "firmware/flash_read.h"
#include "firmware/spi_ranges.h"
#include "firmware/upgrade.h"
#include "service/flash_job.h"
#include "sim/enclosure_data.h"
#include "tests/unit/firmware_files.h"
#include "tests/unit/firmware_rig.h"

namespace raid::firmware {
namespace {

using test_support::FirmwareRig;
using test_support::FlashImage;
namespace cmd = device::cmd;

const Message kSuccess{
    "Firmware Upgrade 3/3 completed!\n\nPlease power off this device or the system,\nand power "
    "on it to enable the new firmware!",
    "Firmware Upgrade Message", MessageIcon::Exclamation};

std::vector<std::uint32_t> Addresses(const std::vector<std::array<std::uint8_t, 4>>& commands) {
    std::vector<std::uint32_t> out;
    for (const auto& c : commands) out.push_back(FirmwareRig::Address(c));
    return out;
}

std::vector<std::uint32_t> Steps(std::uint32_t from, std::uint32_t to, std::uint32_t step) {
    std::vector<std::uint32_t> out;
    for (std::uint32_t a = from; a < to; a += step) out.push_back(a);
    return out;
}

bool AllErased(const std::vector<std::uint8_t>& flash, std::size_t from, std::size_t to) {
    return std::all_of(flash.begin() + static_cast<long>(from),
                       flash.begin() + static_cast<long>(to),
                       [](std::uint8_t b) { return b == 0xFF; });
}

bool Holds(const std::vector<std::uint8_t>& flash, const std::vector<std::uint8_t>& image) {
    return std::equal(image.begin(), image.end(), flash.begin());
}

TEST(FirmwareUpgrade, SmallImageRunsAllThreePhases) {
    FirmwareRig rig;
    rig.fw.image.bytes = FlashImage(0x2000);
    const UpgradeResult r = RunUpgrade(rig.state, rig.fw, rig.ch, rig.host, 0);

    EXPECT_EQ(r.outcome, UpgradeOutcome::Done);
    EXPECT_EQ(Addresses(rig.Commands(cmd::kEraseSpi)), Steps(0, 0x8000, 0x1000));
    EXPECT_EQ(Addresses(rig.Commands(cmd::kWriteSpi)), Steps(0, 0x2000, 0x80));
    // The flash's first 256 bytes read afresh for its type, then the read-back.
    std::vector<std::uint32_t> reads{0, 0x80};
    for (const std::uint32_t a : Steps(0, 0x2000, 0x80)) reads.push_back(a);
    EXPECT_EQ(Addresses(rig.Commands(cmd::kReadSpi)), reads);
    const auto flash = rig.Flash();
    EXPECT_TRUE(Holds(flash, rig.fw.image.bytes));
    EXPECT_TRUE(AllErased(flash, 0x2000, 0x8000));

    EXPECT_EQ(rig.host.events,
              (std::vector<std::string>{
                  "selectors off", "status SPI = 5A, BIN = 5A", "begin Firmware Update... 290",
                  "phase Process 1 / 3", "progress 8", "status SPI Erase OK", "phase Process 2 / 3",
                  "progress 72", "status SPI Program OK", "phase Process 3 / 3", "progress 136",
                  "status SPI Verify OK", "end",
                  "message Firmware Upgrade Message: " + kSuccess.text, "selectors on"}));
    EXPECT_EQ(rig.host.messages, std::vector<Message>{kSuccess});
    EXPECT_EQ(r.finalText, kSuccess.text);
    EXPECT_FALSE(rig.state.shell.exclusiveOperation.load());
    EXPECT_EQ(rig.state.shell.operationDeviceIndex.load(), kNoOperationDevice);
    EXPECT_TRUE(rig.fw.image.Loaded());  // the image stays for another run
}

TEST(FirmwareUpgrade, EraseRule) {
    EXPECT_EQ(EraseLength(0x2000), 0x4000u);
    EXPECT_EQ(EraseLength(0x1FFF), 0x2000u);
    EXPECT_EQ(EraseRangeFor(0x2000).length, 0x8000u);
    EXPECT_EQ(EraseRangeFor(0xE000).length, 0x20000u);  // E = 0x10000, still doubled
    EXPECT_EQ(EraseRangeFor(0x10000).length, 0x12000u);
    EXPECT_EQ(ProgressMaximumFor(0x2000), 290u);

    FirmwareRig rig;
    const auto before = rig.Flash();
    rig.fw.image.bytes = FlashImage(0x20000);
    EXPECT_EQ(RunUpgrade(rig.state, rig.fw, rig.ch, rig.host, 0).outcome, UpgradeOutcome::Done);
    EXPECT_EQ(Addresses(rig.Commands(cmd::kEraseSpi)), Steps(0, 0x22000, 0x1000));
    const auto flash = rig.Flash();
    EXPECT_TRUE(Holds(flash, rig.fw.image.bytes));
    EXPECT_TRUE(AllErased(flash, 0x20000, 0x22000));
    EXPECT_TRUE(std::equal(flash.begin() + 0x22000, flash.end(), before.begin() + 0x22000));
}

TEST(FirmwareUpgrade, ALastPartialChunkIsPaddedWithTheErasedState) {
    FirmwareRig rig;
    rig.fw.image.bytes = FlashImage(0x1F40 + 0x33);
    ASSERT_EQ(RunUpgrade(rig.state, rig.fw, rig.ch, rig.host, 0).outcome, UpgradeOutcome::Done);
    EXPECT_EQ(rig.Commands(cmd::kWriteSpi).size(), 63u);
    EXPECT_EQ(rig.Commands(cmd::kReadSpi).size(), 2u + 63u);  // the type byte read again first
    const auto flash = rig.Flash();
    EXPECT_TRUE(Holds(flash, rig.fw.image.bytes));
    EXPECT_TRUE(AllErased(flash, rig.fw.image.bytes.size(), 0x2000));
}

TEST(FirmwareUpgrade, AChunkThatFailsTwiceIsRetriedAndTheRunGoesOn) {
    FirmwareRig rig;
    rig.fw.image.bytes = FlashImage(0x2000);
    rig.emulator->FailSpiProgramAt(0x80, 2);
    EXPECT_EQ(RunUpgrade(rig.state, rig.fw, rig.ch, rig.host, 0).outcome, UpgradeOutcome::Done);
    const auto& texts = rig.host.statusTexts;
    const auto first =
        std::find(texts.begin(), texts.end(), "WriteSPI fail1 times, Address = 0080");
    ASSERT_NE(first, texts.end());
    ASSERT_NE(first + 1, texts.end());
    EXPECT_EQ(first[1], "WriteSPI fail2 times, Address = 0080");
    EXPECT_EQ(first[2], "SPI Program OK");
    EXPECT_EQ(rig.Commands(cmd::kWriteSpi).size(), 66u);
    EXPECT_TRUE(Holds(rig.Flash(), rig.fw.image.bytes));
}

TEST(FirmwareUpgrade, TypeCheck) {
    {
        FirmwareRig rig;
        rig.fw.image.bytes = FlashImage(0x2000, 0x11);
        const auto before = rig.Flash();
        const UpgradeResult r = RunUpgrade(rig.state, rig.fw, rig.ch, rig.host, 0);
        EXPECT_EQ(r.outcome, UpgradeOutcome::WrongType);
        // The operation ends before the message.
        EXPECT_EQ(rig.host.events,
                  (std::vector<std::string>{
                      "selectors off", "status SPI = 5A, BIN = 11", "selectors on",
                      "message Message: Incorrect Firmware Type! SPI = 5A, BIN = 11"}));
        EXPECT_TRUE(rig.Commands(cmd::kEraseSpi).empty());
        EXPECT_EQ(rig.Flash(), before);
    }
    {
        FirmwareRig rig(*sim::ScenarioEnclosure("portmultiplier"));
        ASSERT_EQ(rig.state.discovery.deviceSlots[0].portMultiplier, 1);
        rig.fw.image.bytes = FlashImage(0x2000, 0x11);
        EXPECT_EQ(RunUpgrade(rig.state, rig.fw, rig.ch, rig.host, 0).outcome, UpgradeOutcome::Done);
        EXPECT_EQ(rig.host.messages, std::vector<Message>{kSuccess});
        EXPECT_TRUE(Holds(rig.Flash(), rig.fw.image.bytes));
    }
}

TEST(FirmwareUpgrade, NothingIsSentWhenItCannotOrMustNotStart) {
    FirmwareRig rig;
    // No image.
    UpgradeResult r = RunUpgrade(rig.state, rig.fw, rig.ch, rig.host, 0);
    EXPECT_EQ(r.outcome, UpgradeOutcome::NoImage);
    EXPECT_EQ(
        rig.host.events,
        (std::vector<std::string>{
            "selectors off", "message Message: Please Load Firmware File First ", "selectors on"}));

    // Another operation holds the flag: not even the selectors change.
    rig.host.events.clear();
    rig.fw.image.bytes = FlashImage(0x2000);
    rig.state.shell.exclusiveOperation = true;
    EXPECT_EQ(RunUpgrade(rig.state, rig.fw, rig.ch, rig.host, 0).outcome, UpgradeOutcome::Busy);
    EXPECT_TRUE(rig.host.events.empty());
    rig.state.shell.exclusiveOperation = false;

    // The program is closing.
    rig.host.closing = true;
    EXPECT_EQ(RunUpgrade(rig.state, rig.fw, rig.ch, rig.host, 0).outcome, UpgradeOutcome::Closing);
    EXPECT_FALSE(rig.state.shell.exclusiveOperation.load());

    // Larger than the flash part, or than the flash commands can address
    // on a part of unknown size.
    rig.host.closing = false;
    rig.fw.image.bytes = FlashImage(sim::kSpiFlashSize + 0x80);
    EXPECT_EQ(RunUpgrade(rig.state, rig.fw, rig.ch, rig.host, 0).outcome, UpgradeOutcome::TooLarge);
    EXPECT_EQ(
        rig.host.messages.back().text,
        "The image (80080 bytes) is larger than the flash (80000 bytes). Nothing was erased.");
    rig.state.discovery.deviceSlots[0].spiTypeByte = 0x77;
    rig.fw.image.bytes = FlashImage(0x800080, 0x77);
    EXPECT_EQ(RunUpgrade(rig.state, rig.fw, rig.ch, rig.host, 0).outcome, UpgradeOutcome::TooLarge);
    EXPECT_NE(rig.host.messages.back().text.find("the flash the commands can address (800000"),
              std::string::npos);

    EXPECT_TRUE(rig.emulator->Trace().empty());
}

TEST(FirmwareUpgrade, ASecondStartFromAPumpDoesNothing) {
    FirmwareRig rig;
    rig.fw.image.bytes = FlashImage(0x2000);
    std::vector<UpgradeOutcome> nested;
    rig.host.onPump = [&] {
        if (rig.host.pumps % 500 == 1)
            nested.push_back(RunUpgrade(rig.state, rig.fw, rig.ch, rig.host, 0).outcome);
    };
    EXPECT_EQ(RunUpgrade(rig.state, rig.fw, rig.ch, rig.host, 0).outcome, UpgradeOutcome::Done);
    ASSERT_GT(nested.size(), 10u);
    EXPECT_TRUE(std::all_of(nested.begin(), nested.end(),
                            [](UpgradeOutcome o) { return o == UpgradeOutcome::Busy; }));
    EXPECT_EQ(rig.Commands(cmd::kEraseSpi).size(), 8u);
    EXPECT_EQ(rig.Commands(cmd::kWriteSpi).size(), 64u);
    EXPECT_EQ(rig.host.messages, std::vector<Message>{kSuccess});
    // The pump was the host's only while the upgrade ran.
    EXPECT_FALSE(rig.ch.pump);
}

TEST(FirmwareUpgrade, BackupBeforeErasing) {
    FirmwareRig rig;
    const auto before = rig.Flash();
    rig.fw.image.bytes = FlashImage(0x2000);
    UpgradeResult r =
        RunUpgrade(rig.state, rig.fw, rig.ch, rig.host, 0, {.backupFirst = true, .keepBackup = {}});
    EXPECT_EQ(r.outcome, UpgradeOutcome::Done);
    EXPECT_EQ(r.backup, std::vector<std::uint8_t>(before.begin(), before.begin() + 0x8000));

    // A backup that cannot be read: nothing is erased.
    FirmwareRig failing;
    const auto intact = failing.Flash();
    failing.fw.image.bytes = FlashImage(0x2000);
    ASSERT_EQ(failing.emulator->Control("spifault read 3000 fail always"), "");
    r = RunUpgrade(failing.state, failing.fw, failing.ch, failing.host, 0,
                   {.backupFirst = true, .keepBackup = {}});
    EXPECT_EQ(r.outcome, UpgradeOutcome::BackupFailed);
    EXPECT_EQ(r.finalText, "ReadSPI fail, Address = 3000");
    EXPECT_TRUE(r.backup.empty());
    EXPECT_EQ(failing.host.statusTexts.back(), "SPI Backup Fail.");
    EXPECT_TRUE(failing.Commands(cmd::kEraseSpi).empty());
    EXPECT_EQ(failing.Flash(), intact);
}

TEST(FirmwareUpgrade, AChipSizedImageErasesUpToTheFlashEndAndNoFurther) {
    // The erase rule asks for 8 KiB past the image: on a part of known size
    // it stops at the part's end.
    {
        FirmwareRig rig;
        rig.fw.image.bytes = FlashImage(sim::kSpiFlashSize);
        EXPECT_EQ(EraseRefusal(rig.state, 0, sim::kSpiFlashSize), "");
        const UpgradeResult r = RunUpgrade(rig.state, rig.fw, rig.ch, rig.host, 0);
        EXPECT_EQ(r.outcome, UpgradeOutcome::Done);
        EXPECT_EQ(r.warning, "");
        EXPECT_EQ(Addresses(rig.Commands(cmd::kEraseSpi)), Steps(0, sim::kSpiFlashSize, 0x1000));
        EXPECT_EQ(rig.Flash(), rig.fw.image.bytes);
    }
    // A part whose size is not known, and which refuses every address past
    // its end: the refused steps lie past the image, whose bytes are all
    // erased, so the upgrade goes on and says so.
    constexpr std::size_t kSmallPart = 0x40000;
    sim::Enclosure model = *sim::ScenarioEnclosure("raid1");
    model.spiFlash.assign(kSmallPart, 0xFF);
    model.spiFlash[0x95] = 0x33;
    FirmwareRig rig(model);
    ASSERT_FALSE(WholeFlashLength(rig.state, 0));
    rig.fw.image.bytes = FlashImage(kSmallPart, 0x33);
    const UpgradeResult r = RunUpgrade(rig.state, rig.fw, rig.ch, rig.host, 0);
    EXPECT_EQ(r.outcome, UpgradeOutcome::Done);
    EXPECT_EQ(r.warning,
              "SPI Erase OK up to 40000; past the image's end the flash refused the erase at 40000 "
              "(its end, its size not being known)");
    EXPECT_EQ(rig.host.messages, std::vector<Message>{kSuccess});
    EXPECT_EQ(rig.Flash(), rig.fw.image.bytes);

    // An erase that fails where the image lies still fails the upgrade.
    FirmwareRig failing(model);
    failing.fw.image.bytes = FlashImage(kSmallPart - 0x1000, 0x33);
    ASSERT_EQ(failing.emulator->Control("spifault erase 3E000 fail always"), "");
    EXPECT_EQ(RunUpgrade(failing.state, failing.fw, failing.ch, failing.host, 0).outcome,
              UpgradeOutcome::EraseFailed);
}

TEST(FirmwareUpgrade, TheDeviceIsReadAgainRightBeforeTheErase) {
    // A type byte that could not be read at discovery nor now refuses the
    // upgrade, also on a port-multiplier bridge; a read that succeeds now
    // clears the earlier failure.
    for (const char* scenario : {"raid1", "portmultiplier"}) {
        FirmwareRig rig(*sim::ScenarioEnclosure(scenario));
        ASSERT_EQ(rig.emulator->Control("spifault read 80 fail 18"), "");
        discovery::DiscoverOnce(rig.state, rig.ch);
        ASSERT_EQ(rig.state.discovery.deviceSlots[0].spiTypeRead, 0);
        rig.executedBefore = rig.emulator->ExecutedCommandBytes().size();
        const auto before = rig.Flash();
        rig.fw.image.bytes = FlashImage(0x2000);
        UpgradeResult r = RunUpgrade(rig.state, rig.fw, rig.ch, rig.host, 0);
        EXPECT_EQ(r.outcome, UpgradeOutcome::TypeUnknown) << scenario;
        EXPECT_EQ(r.finalText,
                  "The flash type of Device1 cannot be read (byte 95 of its flash), so the image "
                  "cannot be checked against it. Nothing was erased.");
        EXPECT_TRUE(rig.Commands(cmd::kEraseSpi).empty());
        EXPECT_EQ(rig.Flash(), before);
        r = RunUpgrade(rig.state, rig.fw, rig.ch, rig.host, 0);
        EXPECT_EQ(r.outcome, UpgradeOutcome::Done) << scenario;
        EXPECT_EQ(rig.state.discovery.deviceSlots[0].spiTypeRead, 1);
    }

    // The type and product as read now decide, not what discovery found.
    FirmwareRig rig;
    rig.fw.image.bytes = FlashImage(0x2000);
    rig.emulator->WithModel([](sim::Enclosure& m) {
        m.spiFlash[0x95] = 0x11;
        return 0;
    });
    EXPECT_EQ(RunUpgrade(rig.state, rig.fw, rig.ch, rig.host, 0).outcome,
              UpgradeOutcome::WrongType);
    EXPECT_EQ(rig.host.messages.back().text, "Incorrect Firmware Type! SPI = 11, BIN = 5A");
    rig.emulator->WithModel([](sim::Enclosure& m) {
        m.spiFlash[0x95] = 0x5A;
        m.firmwareCode[0] = 0x14;  // past the threshold: the product counts
        m.productCode[0] = 0x12;
        return 0;
    });
    rig.fw.image.bytes = test_support::FirmwareFile({.size = 0x2000});
    EXPECT_EQ(RunUpgrade(rig.state, rig.fw, rig.ch, rig.host, 0).outcome,
              UpgradeOutcome::WrongProduct);
    EXPECT_EQ(rig.host.messages.back(),
              (Message{"The firmware is not for this product.\nPlease check it.", "Error",
                       MessageIcon::Error}));

    // An image checked for another enclosure of the same product.
    rig.emulator->WithModel([](sim::Enclosure& m) {
        m.productCode[0] = 0x27;
        return 0;
    });
    rig.fw.checkedFor = CheckedDeviceOf(rig.state, 0, rig.disks);
    ASSERT_TRUE(rig.fw.checkedFor);
    rig.fw.checkedFor->devicePath = "/dev/sdz";
    rig.fw.checkedFor->name = "Device2 (OTHER on /dev/sdz)";
    const UpgradeResult r = RunUpgrade(rig.state, rig.fw, rig.ch, rig.host, 0);
    EXPECT_EQ(r.outcome, UpgradeOutcome::OtherEnclosure);
    EXPECT_NE(r.finalText.find("checked for Device2 (OTHER on /dev/sdz), not for Device1 ("),
              std::string::npos)
        << r.finalText;
    EXPECT_TRUE(rig.Commands(cmd::kEraseSpi).empty());
}

TEST(FirmwareUpgrade, ABackupThatCannotBeKeptStopsTheRunBeforeErasing) {
    FirmwareRig rig;
    const auto before = rig.Flash();
    rig.fw.image.bytes = FlashImage(0x2000);
    std::vector<std::uint8_t> kept;
    UpgradeOptions options{.backupFirst = true, .keepBackup = [&](const auto& backup) {
                               kept = backup;
                               return false;
                           }};
    const UpgradeResult r = RunUpgrade(rig.state, rig.fw, rig.ch, rig.host, 0, options);
    EXPECT_EQ(r.outcome, UpgradeOutcome::BackupFailed);
    EXPECT_EQ(r.finalText, "SPI Backup Fail.");
    EXPECT_EQ(kept, std::vector<std::uint8_t>(before.begin(), before.begin() + 0x8000));
    EXPECT_TRUE(rig.Commands(cmd::kEraseSpi).empty());
    EXPECT_EQ(rig.Flash(), before);
}

// The service's job runs on a copy of the device table: its backup and
// read-back must reach the enclosure, wherever its disk is.
TEST(FirmwareUpgrade, AServiceJobReadsTheEnclosureItFlashesNotDiskZero) {
    FirmwareRig rig(*sim::ScenarioEnclosure("raid1"), 1);
    ASSERT_EQ(rig.state.discovery.DiskOf(0), 1);
    const auto before = rig.Flash();
    rig.fw.image.bytes = FlashImage(0x2000);
    std::optional<client::Answer> outcome;
    std::vector<std::uint8_t> backup;
    {
        service::FlashJob* started = nullptr;
        service::FlashJob::Events events;
        events.backupReady = [&] { started->ConfirmBackup(true); };
        events.completed = [&](const client::Answer& a, std::uint32_t) { outcome = a; };
        service::FlashJob job(rig.state, 0, rig.fw, rig.disks, rig.clock,
                              QDBusConnection("raid-no-bus"), true, events);
        started = &job;
        job.Start();
        while (!job.Finished()) std::this_thread::yield();
        backup = job.Backup();
    }
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->outcome, 0) << (outcome->notes.empty() ? "" : outcome->notes.back());
    EXPECT_EQ(backup, std::vector<std::uint8_t>(before.begin(), before.begin() + 0x8000));
    EXPECT_TRUE(Holds(rig.Flash(), rig.fw.image.bytes));
}

TEST(FirmwareRangeLoops, DeviceChecksAndTheDiskThatWillNotOpen) {
    FirmwareRig rig;
    test_support::RecordingUpgradeHost& host = rig.host;
    const auto notices = NoticesFor(host);
    const std::vector<std::uint8_t> data(0x100, 0);

    rig.state.shell.operationDeviceIndex = 1;  // one device only
    EXPECT_FALSE(EraseSpiRange(rig.state, rig.ch, 0, 0x1000, notices));
    EXPECT_EQ(host.statusTexts.back(), "No Upgrade Mode!!!");
    EXPECT_EQ(host.messages.back(), (Message{"No Upgrade Mode !", "Message"}));

    rig.state.discovery.deviceCount = 0;
    EXPECT_FALSE(WriteSpiRange(rig.state, rig.ch, 0, 0x100, data, notices));
    EXPECT_EQ(host.statusTexts.back(), "Device not found!!!");
    EXPECT_EQ(host.messages.back(), (Message{"No Device found !", "Message"}));

    rig.state.discovery.deviceCount = 1;
    rig.state.shell.operationDeviceIndex = 0;
    rig.disks.SetOpenError(0, platform::OpenError::PermissionDenied);
    std::vector<std::uint8_t> dest(0x100);
    EXPECT_FALSE(ReadSpiRange(rig.state, rig.ch, 0, 0x100, dest, notices));
    EXPECT_EQ(host.messages.back(), (Message{"Invalid Drive", "Error"}));
    EXPECT_TRUE(rig.emulator->Trace().empty());

    // A range that would wrap the 16-bit block number is refused outright.
    rig.disks.SetOpenError(0, platform::OpenError::None);
    EXPECT_FALSE(EraseSpiRange(rig.state, rig.ch, 0x7FF000, 0x2000, notices));
    EXPECT_TRUE(rig.emulator->Trace().empty());
    EXPECT_EQ(AddressText(0x80), "0080");
    EXPECT_EQ(AddressText(0x1F000), "1F000");
}

TEST(FirmwareUpgrade, ADiskThatWillNotOpenEndsThePhaseWithItsOwnText) {
    FirmwareRig rig;
    rig.fw.image.bytes = FlashImage(0x2000);
    rig.disks.SetOpenError(0, platform::OpenError::PermissionDenied);
    const UpgradeResult r = RunUpgrade(rig.state, rig.fw, rig.ch, rig.host, 0);
    // The device is asked again before anything is erased.
    EXPECT_EQ(r.outcome, UpgradeOutcome::NoAnswer);
    ASSERT_EQ(rig.host.messages.size(), 1u);
    EXPECT_EQ(
        rig.host.messages[0].text.rfind("Device1 could not be opened again before the erase (", 0),
        0u)
        << rig.host.messages[0].text;
    EXPECT_TRUE(rig.emulator->Trace().empty());
}

}  // namespace
}  // namespace raid::firmware
