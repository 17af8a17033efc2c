// ATA pass-through to the member disks: IDENTIFY and SMART in four pages.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "device/channel.h"
#include "sim/sim_disks.h"

namespace raid::sim {
namespace {

using device::ReplySector;

class EmulatorDiskCommandTest : public ::testing::Test {
protected:
    void Use(const std::string& scenario) {
        emulator = std::make_shared<ControllerEmulator>(*ScenarioEnclosure(scenario), &clock);
        disk = disks.AddEnclosure(emulator);
    }
    // IssueDiskCommand then pages 1..4, as the SMART reader does.
    std::array<std::uint8_t, 512> Fetch(std::uint8_t ata, std::uint8_t port) {
        std::array<std::uint8_t, 512> data{};
        ReplySector r{};
        EXPECT_EQ(device::IssueDiskCommand(ch, disk, ata, port, r), device::kResultSuccess);
        EXPECT_EQ(r[76], 0xB1);
        EXPECT_EQ(r[77], ata);
        for (std::uint8_t page = 1; page <= 4; ++page) {
            EXPECT_EQ(device::ReadDiskCommandData(ch, disk, ata, port, page, r),
                      device::kResultSuccess);
            EXPECT_EQ(r[76], 0xB2);
            EXPECT_EQ(r[77], ata);
            std::copy_n(r.begin() + 80, 128, data.begin() + (page - 1) * 128);
        }
        return data;
    }
    static std::string AtaText(const std::array<std::uint8_t, 512>& d, std::size_t off,
                               std::size_t size) {
        std::string s;
        for (std::size_t k = 0; k < size; ++k) s.push_back(static_cast<char>(d[off + (k ^ 1)]));
        return s.substr(0, s.find_last_not_of(' ') + 1);
    }

    platform::ManualClock clock;
    SimDiskSystem disks;
    std::shared_ptr<ControllerEmulator> emulator;
    int disk = 0;
    device::CommandChannel ch{disks, clock};
};

TEST_F(EmulatorDiskCommandTest, IdentifyPagesHoldWord106AndTexts) {
    Use("raid0");
    // Port order bit clear: port 1 is HDD1.
    const auto id = Fetch(0xEC, 1);
    EXPECT_EQ(id[212] | (id[213] << 8), 0x4000);
    EXPECT_EQ(AtaText(id, 54, 40), "SIMDRIVE SD500");
    EXPECT_EQ(AtaText(id, 20, 20), "SD500B7001");
    EXPECT_EQ(AtaText(id, 46, 8), "SD02");
    std::uint8_t sum = 0;
    for (std::uint8_t b : id) sum = static_cast<std::uint8_t>(sum + b);
    EXPECT_EQ(sum, 0);
    EXPECT_EQ(AtaText(Fetch(0xEC, 0), 20, 20), "SD500B7002");
}

TEST_F(EmulatorDiskCommandTest, SmartDataAndThresholdsMatchTheModel) {
    Use("raid1");
    const auto data = Fetch(0xD0, 0);
    const auto thresholds = Fetch(0xD1, 0);
    const auto model = emulator->WithModel([](Enclosure& e) { return e.members[1]; });
    EXPECT_TRUE(std::equal(data.begin(), data.end(), model.smartData.begin()));
    EXPECT_TRUE(std::equal(thresholds.begin(), thresholds.end(), model.smartThresholds.begin()));
    // Entry 0 of both blocks is the same attribute.
    EXPECT_NE(data[2], 0);
    EXPECT_EQ(data[2], thresholds[2]);
}

TEST_F(EmulatorDiskCommandTest, AbsentMemberAnswersWithAFailure) {
    Use("degraded");  // HDD2 pulled; it sits at port 0
    ReplySector r{};
    const std::uint8_t result = device::IssueDiskCommand(ch, disk, 0xEC, 0, r);
    EXPECT_NE(result, device::kResultSuccess);
    EXPECT_NE(result, device::kResultNoReply);
    EXPECT_EQ(r[76], 0xB1);
    EXPECT_EQ(r[77], 0xEC);
    EXPECT_NE(device::ReadDiskCommandData(ch, disk, 0xEC, 0, 2, r), device::kResultSuccess);
}

TEST_F(EmulatorDiskCommandTest, PagesNeedAMatchingCommandFirst) {
    Use("raid1");
    ReplySector r{};
    EXPECT_NE(device::ReadDiskCommandData(ch, disk, 0xD0, 0, 1, r), device::kResultSuccess);
    ASSERT_EQ(device::IssueDiskCommand(ch, disk, 0xD0, 0, r), device::kResultSuccess);
    EXPECT_NE(device::ReadDiskCommandData(ch, disk, 0xD1, 0, 1, r), device::kResultSuccess);
    EXPECT_NE(device::ReadDiskCommandData(ch, disk, 0xD0, 1, 1, r), device::kResultSuccess);
    EXPECT_NE(device::ReadDiskCommandData(ch, disk, 0xD0, 0, 5, r), device::kResultSuccess);
    EXPECT_EQ(device::ReadDiskCommandData(ch, disk, 0xD0, 0, 4, r), device::kResultSuccess);
}

TEST_F(EmulatorDiskCommandTest, Word106IsSetPerMember) {
    Use("raid1");  // HDD1 answers at port 1
    ASSERT_EQ(emulator->Control("word106 1 4000"), "");
    const auto hdd1 = Fetch(0xEC, 1);
    const auto hdd2 = Fetch(0xEC, 0);
    EXPECT_EQ(hdd1[212] | (hdd1[213] << 8), 0x4000);
    EXPECT_EQ(hdd2[212] | (hdd2[213] << 8), 0x6003);
}

TEST_F(EmulatorDiskCommandTest, InjectedFaultsSpoilTheirCommandOrPageOnly) {
    Use("raid1");
    ReplySector r{};
    // A failure status, echoed; once, and only for that member and code.
    ASSERT_EQ(emulator->Control("diskfault 1 EC 0 fail"), "");
    EXPECT_EQ(device::IssueDiskCommand(ch, disk, 0xEC, 0, r), device::kResultSuccess);
    EXPECT_EQ(device::IssueDiskCommand(ch, disk, 0xD0, 1, r), device::kResultSuccess);
    EXPECT_EQ(device::IssueDiskCommand(ch, disk, 0xEC, 1, r), 0xC0);
    EXPECT_EQ(r[76], 0xB1);
    EXPECT_EQ(r[77], 0xEC);
    EXPECT_EQ(device::ReadDiskCommandData(ch, disk, 0xEC, 1, 1, r), 0xC0);
    EXPECT_EQ(device::IssueDiskCommand(ch, disk, 0xEC, 1, r), device::kResultSuccess);

    // A page that never answers, for good; the other pages still do.
    ASSERT_EQ(emulator->Control("diskfault 2 D1 3 silent always"), "");
    ASSERT_EQ(device::IssueDiskCommand(ch, disk, 0xD1, 0, r), device::kResultSuccess);
    for (int attempt = 0; attempt < 3; ++attempt)
        EXPECT_EQ(device::ReadDiskCommandData(ch, disk, 0xD1, 0, 3, r), device::kResultNoReply);
    EXPECT_EQ(device::ReadDiskCommandData(ch, disk, 0xD1, 0, 4, r), device::kResultSuccess);

    // A reply that does not echo the ATA code, and leaves no data behind.
    ASSERT_EQ(emulator->Control("diskfault 2 D0 0 echo"), "");
    EXPECT_EQ(device::IssueDiskCommand(ch, disk, 0xD0, 0, r), device::kResultSuccess);
    EXPECT_EQ(r[76], 0xB1);
    EXPECT_EQ(r[77], 0x00);
    EXPECT_NE(device::ReadDiskCommandData(ch, disk, 0xD0, 0, 1, r), device::kResultSuccess);
}

}  // namespace
}  // namespace raid::sim
