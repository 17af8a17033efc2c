// ReadSmart against emulated enclosures: word 106 and its error codes, the
// blocks it fills or keeps, retries, port order, the exact commands of one
// refresh, and when it does nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "discovery/headless.h"
#include "sim/emulator.h"
#include "sim/sim_disks.h"
#include "smart/attributes.h"
#include "smart/read_smart.h"

namespace raid::smart {
namespace {

using Command = std::array<std::uint8_t, 4>;

class FakeSmartHost final : public SmartHost {
public:
    bool DeviceSwitchInProgress() const override { return deviceSwitch; }
    bool IsSelectorChecked(int index) const override {
        return selectors.at(static_cast<std::size_t>(index));
    }
    int SelectedDevice() const override { return selected; }
    bool SmartPageShown() const override { return pageShown; }
    void ShowSmartPage() override { ++pageDrawings; }

    bool deviceSwitch = false;
    std::array<bool, 2> selectors{true, true};
    int selected = 0;
    bool pageShown = false;
    int pageDrawings = 0;
};

struct SmartRig {
    platform::ManualClock clock;
    sim::SimDiskSystem disks;
    device::CommandChannel ch{disks, clock};
    AppState state;
    SmartState smart;
    FakeSmartHost host;
    std::vector<std::shared_ptr<sim::ControllerEmulator>> emus;

    explicit SmartRig(std::initializer_list<const char*> scenarios) {
        for (const char* name : scenarios) {
            emus.push_back(
                std::make_shared<sim::ControllerEmulator>(*sim::ScenarioEnclosure(name), &clock));
            disks.AddEnclosure(emus.back());
        }
        discovery::DiscoverOnce(state, ch);
        done.assign(emus.size(), 0);
        Mark();
    }
    sim::ControllerEmulator& Emu(std::size_t k = 0) { return *emus.at(k); }
    void Control(const std::string& line, std::size_t k = 0) {
        ASSERT_EQ(Emu(k).Control(line), "") << line;
    }
    bool Read(std::uint8_t feature) { return ReadSmart(state, smart, ch, host, feature); }
    // Commands enclosure k received since the last Mark.
    std::vector<Command> Commands(std::size_t k = 0) {
        const auto all = Emu(k).ExecutedCommandBytes();
        return {all.begin() + static_cast<long>(done[k]), all.end()};
    }
    void Mark() {
        for (std::size_t k = 0; k < emus.size(); ++k)
            done[k] = emus[k]->ExecutedCommandBytes().size();
    }
    std::vector<std::uint8_t> Member(std::size_t k, int member, bool thresholds) {
        return Emu(k).WithModel([&](sim::Enclosure& e) {
            return thresholds ? e.members[member].smartThresholds : e.members[member].smartData;
        });
    }
    std::vector<std::size_t> done;
};

std::vector<std::uint8_t> Copy(std::span<const std::uint8_t> block) {
    return {block.begin(), block.end()};
}

// Marks a block so that a test sees which bytes a read left alone.
constexpr std::uint8_t kOld = 0x77;
void MarkOld(std::span<std::uint8_t> block) { std::fill(block.begin(), block.end(), kOld); }
bool AllAre(std::span<const std::uint8_t> block, std::uint8_t value) {
    return std::all_of(block.begin(), block.end(), [value](auto b) { return b == value; });
}

// The commands that read one disk at `port`: the command, then pages 1..4.
std::vector<Command> DiskRead(std::uint8_t ata, std::uint8_t port) {
    std::vector<Command> c{{0xB1, ata, port, 0x00}};
    for (std::uint8_t page = 1; page <= 4; ++page) c.push_back({0xB2, ata, port, page});
    return c;
}

std::vector<Command> Join(std::initializer_list<std::vector<Command>> parts) {
    std::vector<Command> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

std::size_t Count(const std::vector<Command>& commands, const Command& which) {
    return static_cast<std::size_t>(std::count(commands.begin(), commands.end(), which));
}

TEST(ReadSmart, OneRefreshSendsExactlyTheseCommands) {
    // raid1: port order bit clear, so HDD1 answers at port 1.
    SmartRig rig({"raid1"});
    ASSERT_EQ(rig.state.discovery.deviceSlots[0].memberOrder, 1);
    EXPECT_TRUE(rig.Read(kFeatureReadThresholds));
    EXPECT_TRUE(rig.Read(kFeatureReadData));
    EXPECT_EQ(rig.Commands(), Join({DiskRead(0xD1, 1), DiskRead(0xD1, 0), DiskRead(0xEC, 1),
                                    DiskRead(0xD0, 1), DiskRead(0xEC, 0), DiskRead(0xD0, 0)}));
    EXPECT_TRUE(rig.smart.thresholdsRead);
    EXPECT_TRUE(rig.smart.dataRead);
}

TEST(ReadSmart, BlocksFollowTheMembersWhateverThePortOrder) {
    for (const char* scenario : {"raid1", "portmultiplier"}) {
        SmartRig rig({scenario});
        ASSERT_TRUE(rig.Read(kFeatureReadThresholds));
        ASSERT_TRUE(rig.Read(kFeatureReadData));
        for (int member = 0; member < 2; ++member) {
            EXPECT_EQ(Copy(rig.smart.DataBlock(0, member)), rig.Member(0, member, false))
                << scenario << member;
            EXPECT_EQ(Copy(rig.smart.ThresholdBlock(0, member)), rig.Member(0, member, true))
                << scenario << member;
        }
        // The two members' counters differ, so a swap would show.
        EXPECT_NE(rig.Member(0, 0, false), rig.Member(0, 1, false));
        const std::uint8_t hdd1Port = rig.state.discovery.deviceSlots[0].memberOrder != 0 ? 1 : 0;
        EXPECT_EQ(rig.Commands().front(), (Command{0xB1, 0xD1, hdd1Port, 0})) << scenario;
    }
}

TEST(ReadSmart, Word106GivesTheFourKLine) {
    SmartRig rig({"raid1", "raid0"});
    rig.Control("word106 2 4000");
    ASSERT_TRUE(rig.Read(kFeatureReadData));
    EXPECT_EQ(rig.smart.Word106Code(0, 0), 0x6003u);
    EXPECT_EQ(rig.smart.Word106Code(0, 1), 0x4000u);
    EXPECT_EQ(rig.smart.Word106Code(1, 0), 0x4000u);
    EXPECT_EQ(FourKSectorLine(rig.smart.Word106Code(0, 0)).text, " 4K Sector supported : Yes ");
    EXPECT_EQ(FourKSectorLine(rig.smart.Word106Code(0, 1)).text, " 4K Sector supported : No ");
}

TEST(ReadSmart, AbsentDiskIsZeroedInTheTableBeingRead) {
    SmartRig rig({"degraded"});  // HDD2 pulled
    auto data = rig.smart.DataBlock(0, 1);
    auto thresholds = rig.smart.ThresholdBlock(0, 1);
    MarkOld(data);
    MarkOld(thresholds);

    ASSERT_TRUE(rig.Read(kFeatureReadThresholds));
    EXPECT_TRUE(AllAre(thresholds, 0));
    EXPECT_TRUE(AllAre(data, kOld));
    EXPECT_EQ(rig.smart.Word106Code(0, 1), kWord106Absent);
    EXPECT_TRUE(rig.smart.thresholdsRead);

    ASSERT_TRUE(rig.Read(kFeatureReadData));
    EXPECT_TRUE(AllAre(data, 0));
    EXPECT_TRUE(rig.smart.dataRead);  // an absent disk is no failure
    const FourKLine line = FourKSectorLine(rig.smart.Word106Code(0, 1));
    EXPECT_EQ(line.text, " 4K Sector supported : Unknown ");
    EXPECT_EQ(line.hint, "Code=0xFFFF");
    // Only HDD1 (port 1) was asked.
    for (const Command& c : rig.Commands()) EXPECT_EQ(c[2], 1);
}

TEST(ReadSmart, Word106ErrorCodes) {
    struct Case {
        const char* fault;  // on HDD1
        std::uint32_t code;
        std::size_t identifyPages;  // page reads of IDENTIFY sent
    };
    const Case cases[] = {
        {"diskfault 1 EC 0 fail", kWord106IdentifyFailed, 0},
        {"diskfault 1 EC 0 silent", kWord106IdentifyFailed, 0},
        {"diskfault 1 EC 0 echo", Word106EchoCode(0xB1, 0x00), 0},
        {"diskfault 1 EC 2 fail always", kWord106PageFailed, 4 + 3},
        {"diskfault 1 EC 2 echo always", Word106EchoCode(0xB2, 0x00), 4 + 3},
        {"diskfault 1 EC 2 silent 3", 0x6003, 4 + 3},  // the fourth try arrives
        {"diskfault 1 EC 3 fail always", 0x6003, 4 + 3},
    };
    for (const Case& c : cases) {
        SmartRig rig({"raid1"});
        rig.Control(c.fault);
        ASSERT_TRUE(rig.Read(kFeatureReadData));
        EXPECT_EQ(rig.smart.Word106Code(0, 0), c.code) << c.fault;
        EXPECT_EQ(rig.smart.Word106Code(0, 1), 0x6003u) << c.fault;
        std::size_t pages = 0;
        for (const Command& cmd : rig.Commands()) pages += cmd[0] == 0xB2 && cmd[1] == 0xEC;
        EXPECT_EQ(pages, c.identifyPages + 4) << c.fault;  // + HDD2's four
        // A missing word 106 does not hold up the data.
        EXPECT_EQ(Copy(rig.smart.DataBlock(0, 0)), rig.Member(0, 0, false)) << c.fault;
    }
}

TEST(ReadSmart, CommandIsTriedFourTimesWithIdentifyBeforeEach) {
    SmartRig rig({"raid1"});
    rig.Control("diskfault 1 D0 0 fail always");
    auto block = rig.smart.DataBlock(0, 0);
    MarkOld(block);
    ASSERT_TRUE(rig.Read(kFeatureReadData));
    const auto commands = rig.Commands();
    EXPECT_EQ(Count(commands, {0xB1, 0xD0, 1, 0}), 4u);
    EXPECT_EQ(Count(commands, {0xB1, 0xEC, 1, 0}), 4u);
    EXPECT_EQ(Count(commands, {0xB2, 0xD0, 1, 1}), 0u);
    EXPECT_TRUE(AllAre(block, kOld));
    EXPECT_FALSE(rig.smart.dataRead);
    // HDD2 is read as usual afterwards.
    EXPECT_EQ(Copy(rig.smart.DataBlock(0, 1)), rig.Member(0, 1, false));

    // Thresholds: a command that comes through on the third try is no failure,
    // one that never does is.
    rig.Control("diskfault 2 D1 0 fail 2");
    rig.Mark();
    ASSERT_TRUE(rig.Read(kFeatureReadThresholds));
    EXPECT_EQ(Count(rig.Commands(), {0xB1, 0xD1, 0, 0}), 3u);
    EXPECT_TRUE(rig.smart.thresholdsRead);
    rig.Control("diskfault 2 D1 0 silent always");
    rig.Mark();
    ASSERT_TRUE(rig.Read(kFeatureReadThresholds));
    EXPECT_EQ(Count(rig.Commands(), {0xB1, 0xD1, 0, 0}), 4u);
    EXPECT_FALSE(rig.smart.thresholdsRead);
}

TEST(ReadSmart, PageThatNeverAnswersKeepsItsOldBytes) {
    SmartRig rig({"raid1"});
    rig.Control("diskfault 1 D1 3 silent 4");
    auto block = rig.smart.ThresholdBlock(0, 0);
    MarkOld(block);
    ASSERT_TRUE(rig.Read(kFeatureReadThresholds));

    EXPECT_FALSE(rig.smart.thresholdsRead);
    EXPECT_EQ(Count(rig.Commands(), {0xB2, 0xD1, 1, 3}), 4u);
    EXPECT_EQ(Count(rig.Commands(), {0xB1, 0xD1, 1, 0}), 1u);  // no retry of the command
    const auto model = rig.Member(0, 0, true);
    for (std::size_t i = 0; i < 512; ++i) {
        const bool page3 = i >= 256 && i < 384;
        ASSERT_EQ(block[i], page3 ? kOld : model[i]) << i;
    }
    // The next threshold read, with the page answering again, completes.
    ASSERT_TRUE(rig.Read(kFeatureReadThresholds));
    EXPECT_TRUE(rig.smart.thresholdsRead);
    EXPECT_EQ(Copy(block), model);
}

TEST(ReadSmart, PagesAndCommandsThatEchoAnotherCommandAreFailures) {
    SmartRig rig({"raid1"});
    // A page whose reply echoes the wrong command carries no data of ours.
    rig.Control("diskfault 1 D0 2 echo always");
    auto block = rig.smart.DataBlock(0, 0);
    MarkOld(block);
    ASSERT_TRUE(rig.Read(kFeatureReadData));
    EXPECT_FALSE(rig.smart.dataRead);
    EXPECT_EQ(Count(rig.Commands(), {0xB2, 0xD0, 1, 2}), 4u);
    const auto model = rig.Member(0, 0, false);
    for (std::size_t i = 0; i < 512; ++i) {
        const bool page2 = i >= 128 && i < 256;
        ASSERT_EQ(block[i], page2 ? kOld : model[i]) << i;
    }

    // A command echoed wrongly is sent again, like one that failed.
    rig.Control("diskfault 1 D1 0 echo 2");
    rig.Mark();
    ASSERT_TRUE(rig.Read(kFeatureReadThresholds));
    EXPECT_EQ(Count(rig.Commands(), {0xB1, 0xD1, 1, 0}), 3u);
    EXPECT_TRUE(rig.smart.thresholdsRead);
    EXPECT_EQ(Copy(rig.smart.ThresholdBlock(0, 0)), rig.Member(0, 0, true));
}

TEST(ReadSmart, ThirdEnclosureGetsNoCommands) {
    SmartRig rig({"raid1", "raid0", "raid1"});
    ASSERT_EQ(rig.state.discovery.deviceCount, 3);
    rig.host.selected = 1;
    ASSERT_TRUE(rig.Read(kFeatureReadData));
    ASSERT_TRUE(rig.Read(kFeatureReadThresholds));
    // Per disk: IDENTIFY, data and thresholds, five commands each.
    EXPECT_EQ(rig.Commands(0).size(), 30u);
    EXPECT_EQ(rig.Commands(1).size(), 30u);
    EXPECT_TRUE(rig.Commands(2).empty());
    EXPECT_EQ(rig.state.discovery.currentDevice, 1);  // the status page's device again
    EXPECT_EQ(Copy(rig.smart.DataBlock(1, 1)), rig.Member(1, 1, false));
}

TEST(ReadSmart, DoesNothingWhenItMustNot) {
    struct Case {
        const char* what;
        std::function<void(SmartRig&)> arrange;
    };
    const Case cases[] = {
        {"exclusive operation", [](SmartRig& r) { r.state.shell.operationDeviceIndex = 0; }},
        {"device switch", [](SmartRig& r) { r.host.deviceSwitch = true; }},
        {"no device", [](SmartRig& r) { r.state.discovery.deviceCount = 0; }},
        {"no selector ticked",
         [](SmartRig& r) {
             r.host.selectors = {false, false};
         }},
    };
    for (const Case& c : cases) {
        SmartRig rig({"raid1"});
        rig.state.discovery.currentDevice = 0;
        c.arrange(rig);
        EXPECT_FALSE(rig.Read(kFeatureReadData)) << c.what;
        EXPECT_FALSE(rig.Read(kFeatureReadThresholds)) << c.what;
        EXPECT_TRUE(rig.Commands().empty()) << c.what;
    }
    SmartRig rig({"raid1"});
    rig.host.selectors = {false, true};
    EXPECT_FALSE(rig.Read(0xB0)) << "not a read feature";
    EXPECT_TRUE(rig.Commands().empty());
    EXPECT_TRUE(rig.Read(kFeatureReadThresholds)) << "one selector ticked is enough";
}

TEST(ReadSmart, DataReadRedrawsAShownPage) {
    SmartRig rig({"raid1"});
    rig.host.pageShown = true;
    ASSERT_TRUE(rig.Read(kFeatureReadThresholds));
    EXPECT_EQ(rig.host.pageDrawings, 0);
    ASSERT_TRUE(rig.Read(kFeatureReadData));
    EXPECT_EQ(rig.host.pageDrawings, 1);
    rig.host.pageShown = false;
    ASSERT_TRUE(rig.Read(kFeatureReadData));
    EXPECT_EQ(rig.host.pageDrawings, 1);
}

TEST(ReadSmart, StopsSendingWhenTheWindowClosesMeanwhile) {
    SmartRig rig({"raid1", "raid1"});
    // The window's events run between reads: one of them closes it.
    int pumps = 0;
    rig.ch.pump = [&] {
        if (++pumps == 100) rig.state.shell.closing = true;
    };
    rig.smart.thresholdsRead = true;
    ASSERT_TRUE(rig.Read(kFeatureReadThresholds));
    EXPECT_FALSE(rig.smart.thresholdsRead);
    // The command under way when it closed is the last one.
    EXPECT_EQ(rig.Commands(0), (std::vector<Command>{{0xB1, 0xD1, 1, 0}}));
    EXPECT_TRUE(rig.Commands(1).empty());
}

}  // namespace
}  // namespace raid::smart
