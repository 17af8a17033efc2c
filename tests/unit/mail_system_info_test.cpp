#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "mail/system_info.h"

namespace raid::mail {
namespace {

namespace fs = std::filesystem;

// A private sysfs tree holding only the files a test writes.
class FakeSysfs {
public:
    FakeSysfs() {
        static int counter = 0;
        root_ = fs::temp_directory_path() /
                ("mail_sysfs_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
        fs::create_directories(root_ / "class/dmi/id");
    }
    ~FakeSysfs() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    void Write(const std::string& name, const std::string& content) {
        std::ofstream(root_ / "class/dmi/id" / name) << content;
    }
    std::string root() const { return root_.string(); }

private:
    fs::path root_;
};

HostSources Fake(const std::string& root, std::optional<std::string> host,
                 std::vector<InterfaceAddresses> interfaces) {
    HostSources s;
    s.sysfsRoot = root;
    s.hostName = [host] { return host; };
    s.interfaces = [interfaces] { return interfaces; };
    return s;
}

TEST(SystemInfoBlock, ShowsBoardHostAndTheFirstInterfaceWithAddresses) {
    FakeSysfs sysfs;
    sysfs.Write("board_vendor", "ACME Computer Inc.\n");
    sysfs.Write("board_name", "B550M PRO  \n");
    const auto block =
        BuildSystemInfoBlock(Fake(sysfs.root(), "bench-07",
                                  {{"enp2s0", {}},
                                   {"enp3s0", {"192.168.1.20", "fe80::a00:27ff:fe4e:66a1"}},
                                   {"wlan0", {"10.0.0.5"}}}));
    const std::vector<std::string> expected{
        "\n=========== [System Information] ==============",
        "\nMotherBoard : ACME Computer Inc. - B550M PRO",
        "\nSystem Name : bench-07",
        "\nIP Address  : 192.168.1.20, fe80::a00:27ff:fe4e:66a1",
        "\n===============================================",
    };
    EXPECT_EQ(block, expected);
}

TEST(SystemInfoBlock, UnavailableItemsAreEmptyButKeepTheirLabels) {
    const std::vector<std::string> empty{
        "\n=========== [System Information] ==============",
        "\nMotherBoard :  - ",
        "\nSystem Name : ",
        "\nIP Address  : ",
        "\n===============================================",
    };
    // Nothing there at all.
    EXPECT_EQ(BuildSystemInfoBlock(Fake("/nonexistent/sysfs", std::nullopt, {})), empty);
    // Sources that were never given.
    HostSources none;
    none.sysfsRoot = "/nonexistent/sysfs";
    EXPECT_EQ(BuildSystemInfoBlock(none), empty);

    // Only the vendor is known: the board part stays empty after " - ".
    FakeSysfs sysfs;
    sysfs.Write("board_vendor", "ACME\n");
    const auto block = BuildSystemInfoBlock(Fake(sysfs.root(), "h", {{"eth0", {}}}));
    ASSERT_EQ(block.size(), 5u);
    EXPECT_EQ(block[1], "\nMotherBoard : ACME - ");
    EXPECT_EQ(block[3], "\nIP Address  : ");
}

TEST(QueryManagementProperty, AnswersOnlyTheKnownProperties) {
    FakeSysfs sysfs;
    sysfs.Write("board_vendor", "ACME\n");
    sysfs.Write("board_name", "Z1\n");
    const auto s = Fake(sysfs.root(), "host1", {{"eth0", {"10.1.1.1"}}});
    EXPECT_EQ(QueryManagementProperty("Win32_BaseBoard", "Manufacturer", s), "ACME");
    EXPECT_EQ(QueryManagementProperty("Win32_BaseBoard", "Product", s), "Z1");
    EXPECT_EQ(QueryManagementProperty("Win32_Bus", "SystemName", s), "host1");
    EXPECT_EQ(QueryManagementProperty("Win32_NetworkAdapterConfiguration", "IPAddress", s),
              "10.1.1.1");
    // Exact names only, as the management service compares them.
    EXPECT_EQ(QueryManagementProperty("Win32_BaseBoard", "manufacturer", s), "");
    EXPECT_EQ(QueryManagementProperty("Win32_BaseBoard", "SerialNumber", s), "");
    EXPECT_EQ(QueryManagementProperty("Win32_Processor", "Name", s), "");
}

TEST(SystemSources, ListInterfacesWithAddressesAndNoLoopback) {
    for (const auto& adapter : SystemInterfaces()) {
        EXPECT_NE(adapter.name, "lo");
        EXPECT_FALSE(adapter.addresses.empty()) << adapter.name;
        for (const auto& a : adapter.addresses) {
            EXPECT_NE(a, "127.0.0.1");
            EXPECT_NE(a, "::1");
        }
    }
    const auto block = BuildSystemInfoBlock(SystemHostSources());
    ASSERT_EQ(block.size(), 5u);
    for (const auto& line : block) EXPECT_EQ(line.front(), '\n');
}

}  // namespace
}  // namespace raid::mail
