// Control lines and named scenarios of the emulator.
#include <gtest/gtest.h>

#include <string>

#include "device/protocol.h"
#include "sim/emulator.h"
#include "sim/enclosure_data.h"

namespace raid::sim {
namespace {

Enclosure Model(ControllerEmulator& e) {
    return e.WithModel([](Enclosure& m) { return m; });
}

TEST(EmulatorControlTest, MemberStates) {
    ControllerEmulator e(*ScenarioEnclosure("raid1"));
    EXPECT_EQ(e.Control("pull 2"), "");
    EXPECT_EQ(Model(e).members[1].state, 4);
    EXPECT_EQ(e.Control("insert 2\n"), "");  // a line from the control file
    EXPECT_EQ(Model(e).members[1].state, 6);
    EXPECT_EQ(e.Control("fail 1"), "");
    EXPECT_EQ(Model(e).members[0].state, 9);
    EXPECT_EQ(e.Control("  present   1 "), "");
    EXPECT_EQ(Model(e).members[0].state, 0);

    EXPECT_EQ(e.Control("rebuild 2 30"), "");
    Enclosure m = Model(e);
    EXPECT_EQ(m.members[1].state, 1);
    EXPECT_EQ(m.rebuildDone * 100 / m.rebuildTotal, 30u);
    EXPECT_EQ(e.Control("rebuild-done"), "");
    EXPECT_EQ(Model(e).members[1].state, 0);
}

TEST(EmulatorControlTest, ArrayAndEnvironment) {
    ControllerEmulator e(*ScenarioEnclosure("raid1"));
    const std::pair<const char*, std::uint8_t> modes[] = {
        {"mode raid0", 1}, {"mode JBOD", 0}, {"mode bypass", 3}, {"mode raid1", 2}};
    for (const auto& [line, byte] : modes) {
        EXPECT_EQ(e.Control(line), "") << line;
        EXPECT_EQ(Model(e).arrayModeByte, byte) << line;
    }
    EXPECT_EQ(e.Control("temp 55"), "");
    EXPECT_EQ(e.Control("fan 3100"), "");
    EXPECT_EQ(e.Control("buzzer Y"), "");
    EXPECT_EQ(e.Control("backup 7"), "");
    const Enclosure m = Model(e);
    EXPECT_EQ(m.temperature, 55);
    EXPECT_EQ(m.fanRpm, 3100);
    EXPECT_EQ(m.buzzerLetter, 'Y');
    EXPECT_EQ(m.backupPeriod, 7);
}

// Sends the information command's knock sequence; false when a read failed.
bool SendInformation(ControllerEmulator& e, std::vector<std::uint8_t>& sector) {
    std::uint32_t previous = 0;
    for (std::uint32_t lba : device::BuildKnockSequence(
             device::BuildCommandBlock(0x04, device::cmd::kInformation, 0xCF, 0xDF, 0xEF, {}))) {
        if (lba == previous) e.Read(device::kSeparatorLba, sector);
        if (!e.Read(lba, sector)) return false;
        previous = lba;
    }
    return true;
}

TEST(EmulatorControlTest, FaultLinesReachTheReadPath) {
    ControllerEmulator e(*ScenarioEnclosure("raid1"));
    std::vector<std::uint8_t> sector(512);
    EXPECT_EQ(e.Control("silent on"), "");
    EXPECT_FALSE(e.Read(0, sector));
    EXPECT_EQ(e.Control("silent off"), "");
    EXPECT_TRUE(e.Read(0, sector));
    EXPECT_EQ(e.Control("readfail 5fff 2"), "");
    EXPECT_FALSE(e.Read(0x5FFF, sector));
    EXPECT_FALSE(e.Read(0x5FFF, sector));
    EXPECT_TRUE(e.Read(0x5FFF, sector));

    // Status override and a corrupt signature on the next reply.
    EXPECT_EQ(e.Control("status 33"), "");
    EXPECT_EQ(e.Control("badsig 1"), "");
    ASSERT_TRUE(SendInformation(e, sector));
    ASSERT_TRUE(e.Read(device::kReplyLba, sector));
    EXPECT_EQ(device::RecognizeSignature(sector), -1);
    ASSERT_TRUE(e.Read(device::kReplyLba, sector));
    EXPECT_EQ(device::RecognizeSignature(sector), 0);
    EXPECT_EQ(sector[device::kStatusOffset], 0x33);
    EXPECT_EQ(e.Control("status off"), "");
    ASSERT_TRUE(e.Read(device::kReplyLba, sector));
    EXPECT_EQ(sector[device::kStatusOffset], device::kStatusSuccess);
}

TEST(EmulatorControlTest, CommandFaultSpoilsOnlyTheCommandItCounts) {
    ControllerEmulator e(*ScenarioEnclosure("raid1"));
    std::vector<std::uint8_t> sector(512);
    EXPECT_EQ(e.Control("cmdfault badsig 1"), "");
    ASSERT_TRUE(SendInformation(e, sector));
    ASSERT_TRUE(e.Read(device::kReplyLba, sector));
    EXPECT_EQ(device::RecognizeSignature(sector), 0);
    // The second command's reply stays spoiled however often it is read.
    ASSERT_TRUE(SendInformation(e, sector));
    for (int read = 0; read < 3; ++read) {
        ASSERT_TRUE(e.Read(device::kReplyLba, sector));
        EXPECT_EQ(device::RecognizeSignature(sector), -1);
    }
    ASSERT_TRUE(SendInformation(e, sector));
    ASSERT_TRUE(e.Read(device::kReplyLba, sector));
    EXPECT_EQ(device::RecognizeSignature(sector), 0);
    EXPECT_EQ(e.CompletedCommands(), 3u);

    // A failed knock read: the command never runs.
    EXPECT_EQ(e.Control("cmdfault knockfail"), "");
    EXPECT_FALSE(SendInformation(e, sector));
    EXPECT_EQ(e.ExecutedCommands().size(), 3u);
    EXPECT_EQ(e.Control("cmdfault vanish"), "");
    EXPECT_FALSE(SendInformation(e, sector));
    EXPECT_TRUE(e.Unplugged());
}

TEST(EmulatorControlTest, GarbageIsRefusedAndChangesNothing) {
    ControllerEmulator e(*ScenarioEnclosure("raid1"));
    const Enclosure before = Model(e);
    const std::string garbage[] = {
        "",
        "   \n",
        "pull",
        "pull 0",
        "pull 3",
        "pull -1",
        "pull 1 2",
        "pull 99999999999999999999999",
        "rebuild 1",
        "rebuild 1 101",
        "rebuild x 5",
        "mode raid5",
        "mode",
        "silent maybe",
        "noreply -4",
        "status 1FF",
        "status zz",
        "delay 1e9",
        "temp 300",
        "fan 70000",
        "buzzer ZZ",
        "buzzer 7",
        "readfail",
        "spifail 10 0x",
        "word106 1",
        "word106 3 6003",
        "word106 1 10000",
        "diskfault 1 EC 0",
        "diskfault 1 EC 5 fail",
        "diskfault 1 ECC 0 fail",
        "diskfault 0 EC 0 fail",
        "diskfault 1 EC 0 explode",
        "diskfault 1 EC 0 fail 0",
        "diskfault 1 EC 0 fail never",
        "diskfault 1 EC 0 fail 2 3",
        "spifault read 80",
        "spifault copy 80 flip",
        "spifault read 80 melt",
        "spifault read zz flip",
        "spifault erase 1000 vanish 0",
        "spifault erase 1000 vanish 2 3",
        "settingfault",
        "settingfault melt",
        "settingfault keep 0",
        "settingfault keep never",
        "settingfault keep 2 3",
        "cmdfault",
        "cmdfault melt",
        "cmdfault noreply x",
        "cmdfault noreply 1 2",
        "explode now",
        std::string("pull \0 1", 8),
        std::string(100000, 'x'),
        "\xff\xfe\x01 2",
    };
    for (const std::string& line : garbage) EXPECT_NE(e.Control(line), "") << line.substr(0, 40);
    const Enclosure after = Model(e);
    EXPECT_EQ(after.members[0].state, before.members[0].state);
    EXPECT_EQ(after.members[1].state, before.members[1].state);
    EXPECT_EQ(after.arrayModeByte, before.arrayModeByte);
    EXPECT_EQ(after.temperature, before.temperature);
    EXPECT_EQ(after.buzzerLetter, before.buzzerLetter);
    EXPECT_EQ(after.members[0].word106, before.members[0].word106);
}

TEST(EmulatorScenarioTest, EveryNamedScenarioExistsAndIsComplete) {
    const auto names = ScenarioNames();
    for (const char* required :
         {"raid1", "raid0", "rebuild", "degraded", "portmultiplier", "noname"})
        EXPECT_NE(std::find(names.begin(), names.end(), required), names.end()) << required;
    for (const auto& name : names) {
        const auto e = ScenarioEnclosure(name);
        ASSERT_TRUE(e) << name;
        EXPECT_EQ(e->spiFlash.size(), kSpiFlashSize) << name;
        EXPECT_EQ(e->members[0].smartData.size(), 512u) << name;
    }
    EXPECT_FALSE(ScenarioEnclosure("no such scenario"));
}

TEST(EmulatorScenarioTest, ScenariosDifferWhereTheyShould) {
    const Enclosure raid1 = *ScenarioEnclosure("raid1");
    const Enclosure raid0 = *ScenarioEnclosure("raid0");
    EXPECT_EQ(raid1.arrayModeByte, 2);
    EXPECT_EQ(raid0.arrayModeByte, 1);
    EXPECT_NE(raid0.members[0].model, raid1.members[0].model);
    EXPECT_EQ(raid0.members[0].capacitySectors, 976773168u);
    EXPECT_EQ(ScenarioEnclosure("rebuild")->members[1].state, 1);
    EXPECT_EQ(ScenarioEnclosure("degraded")->members[1].state, 4);
    EXPECT_EQ(ScenarioEnclosure("portmultiplier")->controllerType, 1);
    EXPECT_TRUE(ScenarioEnclosure("noname")->controllerModel.empty());
}

}  // namespace
}  // namespace raid::sim
