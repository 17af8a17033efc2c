// Which udev events restart the device-change debounce.
#include "platform/device_event_filter.h"

#include <gtest/gtest.h>

namespace raid::platform {
namespace {

TEST(DeviceEventFilter, AddAndRemoveAlwaysCount) {
    DeviceEventFilter f;
    EXPECT_TRUE(f.Counts("add", "usb", "1-1", std::nullopt));
    EXPECT_TRUE(f.Counts("remove", "usb", "1-1", std::nullopt));
    EXPECT_TRUE(f.Counts("add", "block", "sdb", "1953525168\n"));
    EXPECT_TRUE(f.Counts("remove", "block", "sdb", std::nullopt));
    EXPECT_FALSE(f.Counts("bind", "usb", "1-1:1.0", std::nullopt));
}

TEST(DeviceEventFilter, ChangeOfADiskWhoseMediaStaysIsIgnored) {
    // udev's "change" after a disk opened for writing was closed.
    DeviceEventFilter f;
    f.Seed("sdb", "1953525168\n");
    EXPECT_FALSE(f.Counts("change", "block", "sdb", "1953525168\n"));
    EXPECT_FALSE(f.Counts("change", "block", "sdb", "1953525168\n"));
    // Unreadable size: nothing is known to have changed.
    EXPECT_FALSE(f.Counts("change", "block", "sdb", std::nullopt));
    EXPECT_FALSE(f.Counts("change", "block", "sdb", "garbage"));
}

TEST(DeviceEventFilter, LoopDeviceGainingAndLosingItsBackingFileCounts) {
    DeviceEventFilter f;
    f.Seed("loop3", "0\n");
    EXPECT_TRUE(f.Counts("change", "block", "loop3", "2097152\n"));  // losetup
    EXPECT_FALSE(f.Counts("change", "block", "loop3", "2097152\n"));
    EXPECT_TRUE(f.Counts("change", "block", "loop3", "0\n"));  // losetup -d
    EXPECT_FALSE(f.Counts("change", "block", "loop3", "0\n"));
    // A device never seen before that shows media has appeared.
    EXPECT_TRUE(f.Counts("change", "block", "loop9", "8"));
}

}  // namespace
}  // namespace raid::platform
