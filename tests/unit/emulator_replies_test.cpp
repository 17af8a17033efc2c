// The emulated controller's status and setting replies, read back with the
// offsets the status poll and the probe decode.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "device/channel.h"
#include "sim/sim_disks.h"

namespace raid::sim {
namespace {

using device::ReplySector;
namespace cmd = device::cmd;

std::uint64_t BigEndian(const ReplySector& r, std::size_t offset, std::size_t size) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < size; ++i) v = (v << 8) | r[offset + i];
    return v;
}

// Text stored in ATA order: character k is byte k ^ 1 of the field.
std::string AtaText(const ReplySector& r, std::size_t offset, std::size_t size) {
    std::string s;
    for (std::size_t k = 0; k < size; ++k) s.push_back(static_cast<char>(r[offset + (k ^ 1)]));
    return s.substr(0, s.find_last_not_of(' ') + 1);
}

class EmulatorRepliesTest : public ::testing::Test {
protected:
    void Use(const std::string& scenario) {
        emulator = std::make_shared<ControllerEmulator>(*ScenarioEnclosure(scenario), &clock);
        disk = disks.AddEnclosure(emulator);
    }
    ReplySector Query(std::uint8_t code) {
        ReplySector out{};
        EXPECT_EQ(device::QueryController(ch, disk, code, out), device::kResultSuccess)
            << "code " << int{code};
        return out;
    }
    ReplySector Setting(std::uint8_t p1, std::uint8_t p2, std::uint8_t p3) {
        device::SetCommandParameters(ch, cmd::kSetting, p1, p2, p3);
        return Query(cmd::kSetting);
    }
    // The member port blocks in HDD order, by the firmware code's bit 4.
    std::size_t Hdd1Block(const ReplySector& info) const { return (info[91] & 0x10) ? 84 : 160; }

    platform::ManualClock clock;
    SimDiskSystem disks;
    std::shared_ptr<ControllerEmulator> emulator;
    int disk = 0;
    device::CommandChannel ch{disks, clock};
};

TEST_F(EmulatorRepliesTest, InformationReplyCarriesIdentityEnvironmentAndSchedule) {
    Use("raid1");
    const ReplySector r = Query(cmd::kInformation);
    const Enclosure m = emulator->WithModel([](Enclosure& e) { return e; });
    EXPECT_EQ(r[88], m.firmwareCode[0]);
    EXPECT_EQ(r[91], m.firmwareCode[3]);
    EXPECT_EQ(BigEndian(r, 92, 2), (m.productCode[0] << 8) | m.productCode[1]);
    EXPECT_EQ(r[124], 0);  // has sensors
    EXPECT_EQ(r[125], 0);
    EXPECT_EQ(r[127], m.temperature);
    EXPECT_EQ(BigEndian(r, 128, 2), m.fanRpm);
    EXPECT_EQ(r[130], 'Z');
    EXPECT_EQ(r[134] & 0xE0, 0xA0);
    EXPECT_EQ(r[134] & 0x1F, 24);  // hours per period unit
    EXPECT_EQ(r[136], 1);
    EXPECT_EQ(r[137], 7);
    EXPECT_EQ(r[138], 30);
    EXPECT_EQ(AtaText(r, 160, 40), "SIM RAID1 ENCLOSURE");
    std::uint64_t configured = 0;  // little-endian: the host copies it into its record as is
    for (int i = 5; i >= 0; --i)
        configured = (configured << 8) | r[200 + static_cast<std::size_t>(i)];
    EXPECT_EQ(configured, 1953525168u);  // mirror of two 1 TB disks
}

TEST_F(EmulatorRepliesTest, EnclosureWithoutOptionsSaysSo) {
    Use("nosensors");
    const ReplySector r = Query(cmd::kInformation);
    EXPECT_FALSE(r[124] == 0 && r[125] == 0);
    EXPECT_NE(r[130] & 0xF0, 0x50);
    EXPECT_NE(r[134] & 0xE0, 0xA0);
}

TEST_F(EmulatorRepliesTest, NamelessControllerLeavesTheModelEmpty) {
    Use("noname");
    const ReplySector r = Query(cmd::kInformation);
    EXPECT_EQ(r[160], 0);
    std::array<std::uint8_t, 36> inquiry{};
    ASSERT_TRUE(emulator->Inquiry(inquiry));
    EXPECT_EQ(std::string(inquiry.begin() + 16, inquiry.begin() + 32), "NONAME RAID BOX ");
}

TEST_F(EmulatorRepliesTest, ArrayStatusPlacesMembersByPortOrder) {
    Use("raid0");
    ReplySector info = Query(cmd::kInformation);
    ReplySector r = Query(cmd::kArrayStatus);
    EXPECT_EQ(r[80], 1);               // striping
    ASSERT_EQ(Hdd1Block(info), 160u);  // bit 4 clear by default
    EXPECT_EQ(r[160], 0);
    EXPECT_EQ(AtaText(r, 160 + 4, 40), "SIMDRIVE SD500");
    EXPECT_EQ(AtaText(r, 160 + 44, 20), "SD500B7001");
    EXPECT_EQ(AtaText(r, 84 + 44, 20), "SD500B7002");
    EXPECT_EQ(BigEndian(r, 160 + 70, 6), 976773168u);

    Use("portmultiplier");
    info = Query(cmd::kInformation);
    r = Query(cmd::kArrayStatus);
    ASSERT_EQ(Hdd1Block(info), 84u);
    EXPECT_EQ(AtaText(r, 84 + 4, 40), "SIM-SSD 256GB");
    EXPECT_EQ(AtaText(r, 160 + 4, 40), "SIM-DISK 1000GB");
}

TEST_F(EmulatorRepliesTest, ArrayStatusFollowsMemberStates) {
    Use("degraded");
    ReplySector r = Query(cmd::kArrayStatus);
    EXPECT_EQ(r[80], 2);      // mirroring
    EXPECT_EQ(r[84], 4);      // HDD2 (first block) pulled
    EXPECT_EQ(r[84 + 4], 0);  // an absent member shows no identity
    EXPECT_EQ(r[160], 0);

    EXPECT_EQ(emulator->Control("insert 2"), "");
    r = Query(cmd::kArrayStatus);
    EXPECT_EQ(r[84], 6);
    EXPECT_NE(r[84 + 4], 0);
}

TEST_F(EmulatorRepliesTest, RebuildProgressReportsAndAdvances) {
    Use("rebuild");
    ReplySector r = Query(cmd::kRebuildProgress);
    EXPECT_EQ(r[84], 2);
    const std::uint64_t total = BigEndian(r, 94, 6);
    ASSERT_EQ(total, 1953525168u);
    EXPECT_EQ(BigEndian(r, 119, 5) * 100 / total, 45u);
    r = Query(cmd::kRebuildProgress);
    EXPECT_EQ(BigEndian(r, 119, 5) * 100 / total, 46u);

    // Finishing the rebuild returns the member to the array.
    EXPECT_EQ(emulator->Control("rebuild 2 99"), "");
    Query(cmd::kRebuildProgress);
    r = Query(cmd::kRebuildProgress);
    EXPECT_NE(r[84], 2);
    EXPECT_EQ(Query(cmd::kArrayStatus)[84], 0);
}

TEST_F(EmulatorRepliesTest, HealthyMirrorReportsItsCapacityAsRebuildTotal) {
    Use("raid1");
    const ReplySector r = Query(cmd::kRebuildProgress);
    EXPECT_NE(r[84], 2);
    EXPECT_EQ(BigEndian(r, 94, 6), 1953525168u);
}

TEST_F(EmulatorRepliesTest, SettingCommandEchoesAndApplies) {
    Use("raid1");
    ReplySector r = Setting(0x33, 0xEF, 0xDF);
    EXPECT_EQ(r[81], 0x78);
    EXPECT_EQ(r[82], 0x33);
    EXPECT_EQ(r[83], 0x03);

    Setting(1, 'Y', 0xDF);
    EXPECT_EQ(Query(cmd::kInformation)[130], 'Y');
    Setting(1, 'Z', 0xDF);
    EXPECT_EQ(Query(cmd::kInformation)[130], 'Z');

    Setting(2, 3, 0xDF);
    r = Query(cmd::kInformation);
    EXPECT_EQ(r[131], 3);
    // Three days in ten-second ticks, as weeks and ticks.
    EXPECT_EQ(r[135] * 60480u + BigEndian(r, 132, 2), 3u * 24 * 360);
}

TEST_F(EmulatorRepliesTest, BuzzerAndPresetCommands) {
    Use("raid1");
    Query(cmd::kBuzzerMuteOn);
    const std::uint8_t muted = Query(cmd::kInformation)[130];
    EXPECT_NE(muted, 'Z');
    EXPECT_EQ(muted & 0xF0, 0x50);
    Query(cmd::kBuzzerMuteOff);
    EXPECT_EQ(Query(cmd::kInformation)[130], 'Z');

    const std::uint8_t expected[] = {0, 1, 7, 30};
    for (std::uint8_t code = cmd::kBackupPreset0; code <= cmd::kBackupPreset3; ++code) {
        Query(code);
        EXPECT_EQ(Query(cmd::kInformation)[131], expected[code - cmd::kBackupPreset0]);
    }
    device::SetCommandParameters(ch, cmd::kParamCommand76, 1, 2, 3);
    Query(cmd::kParamCommand76);
}

TEST_F(EmulatorRepliesTest, SettingFaultsSpoilSettingsButNotTheCapabilityQuery) {
    Use("raid1");
    ASSERT_EQ(emulator->Control("settingfault keep 3"), "");
    // Discovery's query is no setting: it answers and uses up no fault.
    EXPECT_EQ(Setting(0x33, 0xEF, 0xDF)[82], 0x33);
    EXPECT_EQ(Query(cmd::kBuzzerMuteOn)[device::kStatusOffset], device::kStatusSuccess);
    Query(cmd::kBackupPreset3);
    Setting(2, 3, 0xDF);
    ReplySector info = Query(cmd::kInformation);
    EXPECT_EQ(info[130], 'Z');
    EXPECT_EQ(info[131], 0);
    Query(cmd::kBuzzerMuteOn);  // the three are used up
    EXPECT_NE(Query(cmd::kInformation)[130], 'Z');

    ASSERT_EQ(emulator->Control("settingfault fail"), "");
    ReplySector out{};
    EXPECT_NE(device::QueryController(ch, disk, cmd::kBuzzerMuteOff, out), device::kResultSuccess);
    ASSERT_EQ(emulator->Control("settingfault noreply"), "");
    EXPECT_EQ(device::QueryController(ch, disk, cmd::kBuzzerMuteOff, out), device::kResultNoReply);
    EXPECT_NE(Query(cmd::kInformation)[130], 'Z');
    Query(cmd::kBuzzerMuteOff);
    EXPECT_EQ(Query(cmd::kInformation)[130], 'Z');
}

TEST_F(EmulatorRepliesTest, IdentificationIsSignedBySuccess) {
    Use("portmultiplier");
    const ReplySector r = Query(cmd::kIdentify);
    EXPECT_EQ(device::RecognizeSignature(r), device::kControllerPortMultiplier);
    EXPECT_EQ(r[device::kStatusOffset], device::kStatusSuccess);
}

}  // namespace
}  // namespace raid::sim
