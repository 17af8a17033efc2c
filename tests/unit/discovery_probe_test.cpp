// The probe of disks 0..9 against emulated enclosures: what it records for a
// found enclosure, which disks it refuses, and how it copes with controllers
// that stop answering.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "discovery/device_report.h"
#include "discovery/drive_enum.h"
#include "discovery/probe.h"
#include "discovery/spi_range.h"
#include "discovery/target_disk.h"
#include "sim/emulator.h"
#include "sim/enclosure_data.h"
#include "sim/sim_disks.h"

namespace raid::discovery {
namespace {

// A ManualClock that also tells which pauses the code under test took.
class RecordingClock final : public platform::Clock {
public:
    std::uint64_t NowMs() override { return inner.NowMs(); }
    void SleepMs(std::uint32_t ms) override {
        inner.Advance(ms);
        if (ms == kQueryPauseMs) ++queryPauses;
        if (onSleep) onSleep(ms);
    }
    std::chrono::system_clock::time_point WallNow() override { return inner.WallNow(); }

    platform::ManualClock inner;
    int queryPauses = 0;
    std::function<void(std::uint32_t)> onSleep;
};

std::uint64_t Le48(const Record512& r, std::size_t offset) {
    std::uint64_t v = 0;
    for (std::size_t k = 6; k-- > 0;) v = (v << 8) | r[offset + k];
    return v;
}

std::vector<std::uint8_t> Bytes(const Record512& r, std::size_t offset, std::size_t n) {
    return {r.begin() + static_cast<long>(offset), r.begin() + static_cast<long>(offset + n)};
}

std::vector<std::uint8_t> AtaField(const std::string& text, std::size_t n) {
    std::vector<std::uint8_t> field(n);
    sim::PutAtaText(field, text);
    return field;
}

sim::Enclosure Mirror() { return *sim::ScenarioEnclosure("raid1"); }

struct ProbeRig {
    RecordingClock clock;
    sim::SimDiskSystem disks;
    device::CommandChannel ch{disks, clock};
    AppState state;

    std::shared_ptr<sim::ControllerEmulator> Plug(sim::Enclosure e) {
        auto emu = std::make_shared<sim::ControllerEmulator>(std::move(e), &clock.inner);
        disks.AddEnclosure(emu);
        return emu;
    }
    int Probe() {
        state.discovery.physicalDiskCount = CountPhysicalDisks(ch);
        state.discovery.newDeviceCount = ProbeDisks(state, ch);
        return state.discovery.newDeviceCount;
    }
    // Makes the last probe's result the current device table.
    void Apply() {
        auto& d = state.discovery;
        d.deviceTable = d.newDeviceTable;
        d.deviceCount = d.newDeviceCount;
        d.previousIdentifyRecord = d.identifyRecord;
    }
};

TEST(ProbeDisks, FindsAnEnclosureBehindAPlainDiskAndRecordsWhatItSays) {
    ProbeRig rig;
    rig.disks.AddPlainDisk();
    sim::Enclosure e = Mirror();
    e.backupPeriod = 3;
    e.backupTimeToNext = 0x1234;
    e.backupWeeks = 2;
    auto emu = rig.Plug(e);

    ASSERT_EQ(rig.Probe(), 1);
    const auto& d = rig.state.discovery;
    EXPECT_EQ(d.newDeviceTable[0], 0x41u);
    EXPECT_EQ(d.probeEntry.load(), 0x41);
    // Identification, information, the two SPI chunks, the capability query,
    // the array status and (mirroring) the rebuild query, in this order.
    EXPECT_EQ(emu->ExecutedCommands(),
              (std::vector<std::uint8_t>{0x10, 0x11, 0x20, 0x20, 0x78, 0x17, 0x15}));
    EXPECT_EQ(rig.clock.queryPauses, 4);

    const auto& slot = d.deviceSlots[0];
    EXPECT_EQ(slot.optionCapability, 0x83);  // buzzer + schedule + 0x78 answer bits 0x03
    EXPECT_EQ(slot.featureMask, 0x37);
    EXPECT_EQ(slot.spiTypeByte, sim::kDefaultSpiTypeByte);
    EXPECT_EQ(slot.portMultiplier, 0);
    EXPECT_EQ(slot.modelFromController, 1);
    EXPECT_EQ(slot.memberOrder, 1);  // identify byte 49 bit 4 clear
    EXPECT_EQ(slot.hasSensors, 1);
    EXPECT_EQ(slot.scheduleKind, e.backupKind & 0x1F);
    EXPECT_EQ(std::vector<std::uint8_t>(slot.scheduleBytes, slot.scheduleBytes + 3),
              (std::vector<std::uint8_t>{1, 7, 30}));

    const auto& identify = d.identifyRecord[1];
    EXPECT_EQ(Bytes(identify, 46, 6),
              (std::vector<std::uint8_t>{0x10, 0x01, 0x26, 0x01, 0x27, 0x70}));
    EXPECT_EQ(ModelText(identify), "SIM RAID1 ENCLOSURE");

    const auto& r = rig.state.monitor.deviceStatusRecord[1];
    EXPECT_EQ(r[rec::kDiskNumber], 1);
    EXPECT_EQ(r[rec::kFilledMark], 0xA0);
    EXPECT_EQ(r[rec::kArrayMode], 1);
    EXPECT_EQ(r[rec::kDiskStateFlags], 0x22);
    EXPECT_EQ(r[rec::kRebuildFlags], 0);
    EXPECT_EQ(Le48(r, rec::kConfiguredCapacity), e.members[0].capacitySectors);
    EXPECT_EQ(Le48(r, rec::kHdd1Capacity), e.members[0].capacitySectors);
    EXPECT_EQ(Bytes(r, rec::kHdd1Model, 40), AtaField(e.members[0].model, 40));
    EXPECT_EQ(Bytes(r, rec::kHdd2Serial, 20), AtaField(e.members[1].serial, 20));
    EXPECT_EQ(r[rec::kOptionBits] & 0x01, 1);  // 'Z': buzzer not muted
    EXPECT_EQ(r[rec::kEnvironment], 0xA0);
    EXPECT_EQ(r[rec::kFanLow], e.fanRpm & 0xFF);
    EXPECT_EQ(r[rec::kFanHigh], e.fanRpm >> 8);
    EXPECT_EQ(r[rec::kTemperature], e.temperature);
    EXPECT_EQ(Bytes(r, rec::kSchedule, 4), (std::vector<std::uint8_t>{3, 0x12, 0x34, 2}));
    // The plain disk has no record.
    EXPECT_EQ(rig.state.monitor.deviceStatusRecord[0][rec::kFilledMark], 0);
}

TEST(ProbeDisks, EnclosureWithoutSensorsOrScheduleIsRecordedSo) {
    ProbeRig rig;
    sim::Enclosure e = Mirror();
    e.hasSensors = false;
    e.scheduleCapability = false;
    e.buzzerCapability = false;
    e.settingCapabilityBits = 0;
    rig.Plug(e);
    ASSERT_EQ(rig.Probe(), 1);
    const auto& slot = rig.state.discovery.deviceSlots[0];
    EXPECT_EQ(slot.optionCapability, 0x80);  // the 0x78 answer echoed, nothing more
    EXPECT_EQ(slot.featureMask, 0x3D);
    EXPECT_EQ(slot.hasSensors, 0);
    const auto& r = rig.state.monitor.deviceStatusRecord[0];
    EXPECT_EQ(r[rec::kEnvironment], 0xFF);
    EXPECT_EQ(Bytes(r, rec::kSchedule, 4), (std::vector<std::uint8_t>{0, 0, 0, 0}));
}

TEST(ProbeDisks, AnotherEnclosureInASlotInheritsNothingTheSameOneKeepsItsBookkeeping) {
    ProbeRig rig;
    rig.Plug(Mirror());
    ASSERT_EQ(rig.Probe(), 1);
    rig.Apply();
    auto& slot = rig.state.discovery.deviceSlots[0];
    ASSERT_EQ(slot.hasSensors, 1);
    ASSERT_NE(slot.optionCapability & 0x03, 0);
    slot.failureCount = 3;
    slot.optionChangePending = 1;

    // The same enclosure again: the poll's counts go on.
    ASSERT_EQ(rig.Probe(), 1);
    rig.Apply();
    EXPECT_EQ(slot.failureCount, 3);
    EXPECT_EQ(slot.optionChangePending, 1);

    // Swapped for a sensorless one without options on the same disk.
    rig.disks.RemoveDisk(0);
    sim::Enclosure other = *sim::ScenarioEnclosure("nosensors");
    other.buzzerCapability = false;
    other.scheduleCapability = false;
    other.settingCapabilityBits = 0;
    rig.Plug(other);
    ASSERT_EQ(rig.Probe(), 1);
    EXPECT_EQ(slot.hasSensors, 0);
    EXPECT_EQ(slot.optionCapability & 0x03, 0);
    EXPECT_EQ(slot.failureCount, 0);
    EXPECT_EQ(slot.optionChangePending, 0);
    EXPECT_EQ(rig.state.monitor.deviceStatusRecord[0][rec::kEnvironment], 0xFF);
}

TEST(ProbeDisks, PortMultiplierFlagComesFromTheInformationReply) {
    ProbeRig rig;
    rig.Plug(*sim::ScenarioEnclosure("portmultiplier"));
    ASSERT_EQ(rig.Probe(), 1);
    EXPECT_EQ(rig.state.discovery.deviceSlots[0].portMultiplier, 1);
}

TEST(ProbeDisks, ProductCodes0050And0005AreNotEnclosures) {
    for (std::uint8_t low : {std::uint8_t{0x05}, std::uint8_t{0x50}}) {
        ProbeRig rig;
        sim::Enclosure e = Mirror();
        e.productCode[0] = low;
        e.productCode[1] = 0x00;
        auto emu = rig.Plug(e);
        EXPECT_EQ(rig.Probe(), 0) << int(low);
        // Asked who it is, and left alone after the answer.
        EXPECT_EQ(emu->ExecutedCommands(), (std::vector<std::uint8_t>{0x10, 0x11}));
    }
    ProbeRig rig;
    sim::Enclosure e = Mirror();
    e.productCode[0] = 0x05;
    e.productCode[1] = 0x01;  // 0x0105 is one of ours
    rig.Plug(e);
    EXPECT_EQ(rig.Probe(), 1);
}

TEST(ProbeDisks, ModelFromInquiryIsPairSwappedAndPadded) {
    ProbeRig rig;
    sim::Enclosure e = Mirror();
    e.controllerModel = "";
    e.inquiryVendor = "ABCDEFGH";
    e.inquiryProduct = "IJKLMNOPQRSTUVWX";
    e.arrayModeByte = 1;  // striping: capacity from the members
    rig.Plug(e);
    ASSERT_EQ(rig.Probe(), 1);
    const auto& identify = rig.state.discovery.identifyRecord[0];
    std::string stored(identify.begin() + 54, identify.begin() + 94);
    EXPECT_EQ(stored, "BADCFEHGJILKNMPO" + std::string(24, ' '));
    EXPECT_EQ(ModelText(identify), "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(rig.state.discovery.deviceSlots[0].modelFromController, 0);
    // Without the controller's model, the array size is twice the smaller member.
    EXPECT_EQ(Le48(rig.state.monitor.deviceStatusRecord[0], rec::kConfiguredCapacity),
              2 * e.members[0].capacitySectors);
}

TEST(ProbeDisks, ControllerThatStopsAnsweringArrayStatusStillCounts) {
    ProbeRig rig;
    auto emu = rig.Plug(Mirror());
    // The disk goes silent during the pause before the array status query.
    rig.clock.onSleep = [&](std::uint32_t ms) {
        const auto done = emu->ExecutedCommands();
        if (ms == kQueryPauseMs && !done.empty() && done.back() == 0x78) emu->FailAllReads(true);
    };
    ASSERT_EQ(rig.Probe(), 1);
    EXPECT_EQ(rig.state.discovery.newDeviceTable[0], 0x40u);
    const auto executed = emu->ExecutedCommands();
    EXPECT_EQ(std::count(executed.begin(), executed.end(), 0x17), 0);
    const auto& r = rig.state.monitor.deviceStatusRecord[0];
    EXPECT_EQ(r[rec::kFilledMark], 0);  // the array fields were not filled
    EXPECT_EQ(r[rec::kEnvironment], 0xA0);
}

TEST(ProbeDisks, MembersAreBlankedOnlyInAFreshRecord) {
    ProbeRig rig;
    sim::Enclosure e = Mirror();
    e.members[1].state = 4;  // HDD2 absent from the start
    auto emu = rig.Plug(e);
    ASSERT_EQ(rig.Probe(), 1);
    const auto& r = rig.state.monitor.deviceStatusRecord[0];
    EXPECT_EQ(Bytes(r, rec::kHdd2Model, 40), std::vector<std::uint8_t>(40, ' '));
    EXPECT_EQ(r[rec::kDiskStateFlags], 0x42);
    EXPECT_EQ(Le48(r, rec::kConfiguredCapacity), e.members[0].capacitySectors);

    // HDD1 is pulled before the next discovery: the filled record keeps it.
    ASSERT_EQ(emu->Control("pull 1"), "");
    ASSERT_EQ(rig.Probe(), 1);
    EXPECT_EQ(Bytes(r, rec::kHdd1Model, 40), AtaField(e.members[0].model, 40));
    EXPECT_EQ(r[rec::kDiskStateFlags] & 0x0F, 0x04);
}

TEST(ProbeDisks, RebuildingMirrorRecordsProgressAndTracking) {
    ProbeRig rig;
    const sim::Enclosure e = *sim::ScenarioEnclosure("rebuild");
    rig.Plug(e);
    ASSERT_EQ(rig.Probe(), 1);
    EXPECT_EQ(rig.state.monitor.deviceStatusRecord[0][rec::kRebuildPercent],
              e.rebuildDone * 100 / e.rebuildTotal);
    EXPECT_EQ(rig.state.discovery.deviceSlots[0].rebuildTracking, 1);

    // A rebuild over nothing reports a total of 0: no division, 0 percent.
    ProbeRig empty;
    sim::Enclosure none = *sim::ScenarioEnclosure("rebuild");
    none.rebuildTotal = 0;
    none.rebuildDone = 0;
    none.members[0].capacitySectors = none.members[1].capacitySectors = 0;
    empty.Plug(none);
    ASSERT_EQ(empty.Probe(), 1);
    EXPECT_EQ(empty.state.monitor.deviceStatusRecord[0][rec::kRebuildPercent], 0);
}

TEST(ProbeDisks, DeviceUnderExclusiveOperationIsNeverProbed) {
    ProbeRig rig;
    rig.Plug(Mirror());
    sim::Enclosure other = Mirror();
    other.controllerModel = "SECOND ENCLOSURE";
    auto held = rig.Plug(other);
    ASSERT_EQ(rig.Probe(), 2);
    rig.state.discovery.newDeviceCount = 2;
    rig.Apply();
    const Record512 heldIdentify = rig.state.discovery.identifyRecord[1];
    rig.state.discovery.deviceSlots[1].spiTypeByte = 0x77;  // what the upgrade relies on

    rig.state.shell.firstStatusPending = false;
    rig.state.shell.exclusiveOperation = true;
    rig.state.shell.operationDeviceIndex = 1;
    held->ClearTrace();
    EXPECT_EQ(rig.Probe(), 2);
    EXPECT_TRUE(held->Trace().empty());
    const auto& d = rig.state.discovery;
    EXPECT_EQ(d.newDeviceTable[1], 0x41u);
    EXPECT_EQ(d.identifyRecord[1], heldIdentify);
    EXPECT_EQ(d.deviceSlots[1].spiTypeByte, 0x77);
}

TEST(ProbeDisks, StopsOnceTheBaselineCountOfDisksWasOpened) {
    ProbeRig rig;
    rig.Plug(Mirror());
    rig.Plug(Mirror());
    auto third = rig.Plug(Mirror());
    rig.state.discovery.physicalDiskCount = 2;
    EXPECT_EQ(ProbeDisks(rig.state, rig.ch), 2);
    EXPECT_TRUE(third->Trace().empty());
}

TEST(ProbeDisks, ClosingAbortsBeforeTheNextDisk) {
    ProbeRig rig;
    auto first = rig.Plug(Mirror());
    auto second = rig.Plug(Mirror());
    rig.state.discovery.physicalDiskCount = 2;
    rig.clock.onSleep = [&](std::uint32_t) {
        if (!first->ExecutedCommands().empty()) rig.state.shell.closing = true;
    };
    EXPECT_EQ(ProbeDisks(rig.state, rig.ch), 1);
    EXPECT_TRUE(second->Trace().empty());
}

TEST(RunDiscovery, ProbesOnceMoreWhenNothingWasFound) {
    ProbeRig rig;
    rig.disks.AddPlainDisk();
    rig.state.discovery.physicalDiskCount = 1;
    EXPECT_EQ(RunDiscovery(rig.state, rig.ch), 0);
    // Each probe opens the plain disk twice: the open test and the query.
    EXPECT_EQ(rig.disks.OpenCount(), 4);
    EXPECT_EQ(rig.state.discovery.newDeviceCount, 0);

    ProbeRig found;
    found.Plug(Mirror());
    found.state.discovery.physicalDiskCount = 1;
    EXPECT_EQ(RunDiscovery(found.state, found.ch), 1);
    EXPECT_EQ(found.disks.OpenCount(), 1 + 5 + 1);  // open test, 5 queries, SPI read
}

TEST(ServeDetectRequest, RunsOnlyWhenAskedAndReportsDone) {
    ProbeRig rig;
    rig.Plug(Mirror());
    rig.state.shell.detectRequest = false;
    EXPECT_FALSE(ServeDetectRequest(rig.state, rig.ch));
    rig.state.shell.detectRequest = true;
    rig.state.shell.detectBusy = true;
    EXPECT_TRUE(ServeDetectRequest(rig.state, rig.ch));
    EXPECT_FALSE(rig.state.shell.detectRequest.load());
    EXPECT_FALSE(rig.state.shell.detectBusy.load());
    EXPECT_TRUE(rig.state.shell.detectDone.load());
    EXPECT_EQ(rig.state.discovery.newDeviceCount, 1);
}

TEST(TargetDiskTest, ProbeEntryWhileDetectingElseCurrentDevice) {
    AppState s;
    s.discovery.deviceTable = {0x42, 0x45};
    s.discovery.deviceCount = 2;
    s.discovery.currentDevice = 1;
    s.discovery.probeEntry = 0x43;
    s.shell.detecting = true;
    EXPECT_EQ(TargetDisk(s), 3);
    s.shell.detecting = false;
    EXPECT_EQ(TargetDisk(s), 5);
}

// --- ReadSpiRange ---

struct SpiRig : ProbeRig {
    std::vector<std::string> status;
    std::vector<std::string> messages;
    Notices notices{
        [this](const std::string& t, const std::string& c) { messages.push_back(c + "|" + t); },
        [this](const std::string& t) { status.push_back(t); }};
};

constexpr std::uint32_t kReadSpiCommandLba = 0x220;  // C0 = 0x20 in the knock sequence

TEST(ReadSpiRangeTest, ReadsWholeChunksOfTheFlash) {
    SpiRig rig;
    sim::Enclosure e = Mirror();
    e.spiFlash = sim::DefaultFlashImage();
    for (std::size_t k = 0; k < 256; ++k) e.spiFlash[k] = static_cast<std::uint8_t>(k * 7);
    rig.Plug(e);
    std::vector<std::uint8_t> dest(256);
    std::uint32_t progress = 0;
    ASSERT_TRUE(ReadSpiRange(rig.ch, 0, 0, 256, dest, rig.notices, &progress));
    EXPECT_TRUE(std::equal(dest.begin(), dest.end(), e.spiFlash.begin()));
    EXPECT_EQ(progress, 2u);
    EXPECT_TRUE(rig.status.empty());
}

TEST(ReadSpiRangeTest, RetriesAChunkAndReportsEachFailure) {
    SpiRig rig;
    auto emu = rig.Plug(Mirror());
    emu->FailReadAt(kReadSpiCommandLba, 2);
    std::vector<std::uint8_t> dest(128);
    EXPECT_TRUE(ReadSpiRange(rig.ch, 0, 0x1F000, 128, dest, rig.notices));
    EXPECT_EQ(rig.status, (std::vector<std::string>{"ReadSPI fail 1 times, Address = 1F000",
                                                    "ReadSPI fail 2 times, Address = 1F000"}));
}

TEST(ReadSpiRangeTest, GivesUpAfterNineAttempts) {
    SpiRig rig;
    auto emu = rig.Plug(Mirror());
    emu->FailReadAt(kReadSpiCommandLba, 100);
    std::vector<std::uint8_t> dest(256);
    EXPECT_FALSE(ReadSpiRange(rig.ch, 0, 0x80, 256, dest, rig.notices));
    ASSERT_EQ(rig.status.size(), 10u);
    EXPECT_EQ(rig.status[8], "ReadSPI fail 9 times, Address = 0080");
    EXPECT_EQ(rig.status[9], "ReadSPI fail, Address = 0080");
}

TEST(ReadSpiRangeTest, RefusesShortBufferAndMissingDisk) {
    SpiRig rig;
    auto emu = rig.Plug(Mirror());
    std::vector<std::uint8_t> dest(200);  // 256 bytes need two whole chunks
    EXPECT_FALSE(ReadSpiRange(rig.ch, 0, 0, 256, dest, rig.notices));
    EXPECT_TRUE(emu->Trace().empty());
    EXPECT_FALSE(ReadSpiRange(rig.ch, 5, 0, 128, dest, rig.notices));
    EXPECT_EQ(rig.messages, (std::vector<std::string>{"Error|Invalid Drive"}));
}

}  // namespace
}  // namespace raid::discovery
