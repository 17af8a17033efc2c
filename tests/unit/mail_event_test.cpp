#include "mail/mail_event.h"

#include <gtest/gtest.h>

#include <memory>

#include "tests/unit/mail_device_fixture.h"

namespace raid::mail {
namespace {

using test_support::MirrorWithHdd2Lost;
using test_support::PutAta;

TEST(RaiseMailEvent, LostMemberDescribesTheDeviceAndBothMembers) {
    auto app = MirrorWithHdd2Lost();
    MailState mail;
    mail.mailEventKind = 2;
    app->shell.mailRequestFlags = kRequestReload;
    RaiseMailEvent(*app, mail, {}, kKindDiskFail, 0, 1);

    EXPECT_EQ(mail.eventInfoBlock, test_support::kHdd2LostBlock);
    EXPECT_EQ(mail.mailEventKind, kKindDiskFail);
    // The pending reload stays requested next to the send.
    EXPECT_EQ(app->shell.mailRequestFlags.load(), kRequestReload | kRequestSend);
}

TEST(RaiseMailEvent, RemovedDeviceListsDetailsOnlyForPresentOrFailedMembers) {
    auto app = MirrorWithHdd2Lost();
    MailState mail;
    RaiseMailEvent(*app, mail, {}, kKindDeviceRemoved, 0, 0);
    ASSERT_EQ(mail.eventInfoBlock.size(), 10u);
    EXPECT_EQ(mail.eventInfoBlock[0], "Device1 RAID system fail.");
    EXPECT_EQ(mail.eventInfoBlock[5], "  HDD1 is present.(SATA6G)");
    EXPECT_EQ(mail.eventInfoBlock[9], "  HDD2 is absent. ");
    EXPECT_EQ(mail.mailEventKind, kKindDeviceRemoved);
    EXPECT_EQ(app->shell.mailRequestFlags.load(), kRequestSend);

    // Newly inserted HDD1 and failed HDD2: the failed one gets its details.
    Record512& r = app->monitor.deviceStatusRecord[3];
    r[rec::kDiskStateFlags] = diskstate::kHdd1Inserted | diskstate::kHdd2Failed;
    RaiseMailEvent(*app, mail, {}, kKindDeviceRemoved, 0, 0);
    const std::vector<std::string> tail(mail.eventInfoBlock.begin() + 5, mail.eventInfoBlock.end());
    const std::vector<std::string> expected{
        "HDD1 was inserted.",
        "  HDD2 was failed, Capacity too small.",
        "    Model no.: ST1000DM003",
        "    Serial no.: \"Z1D5K2AB            \"",
        "    Capacity : 976 MB(2000000 Sectors)",
    };
    EXPECT_EQ(tail, expected);
}

TEST(RaiseMailEvent, RevisionSpeedAndModeFallbacks) {
    auto app = MirrorWithHdd2Lost();
    Record512& id = app->discovery.identifyRecord[3];
    const std::uint8_t raw[8] = {0x10, 0x01, 0x25, 0x01, 0x00, 0x07, 0x41, 0x42};
    for (int i = 0; i < 8; ++i) id[46 + i] = raw[i];
    PutAta(id, 54, 40, "AB");  // never shortened below six characters
    Record512& r = app->monitor.deviceStatusRecord[3];
    r[rec::kArrayMode] = 9;
    r[rec::kSataSpeed] = 0x05;  // a speed code without a name
    MailState mail;
    RaiseMailEvent(*app, mail, {}, kKindDeviceRemoved, 0, 0);
    ASSERT_GE(mail.eventInfoBlock.size(), 6u);
    EXPECT_EQ(mail.eventInfoBlock[2], "Model# AB    ");
    EXPECT_EQ(mail.eventInfoBlock[3], "Undefine, F/W Rev. 100125010007");
    EXPECT_EQ(mail.eventInfoBlock[5], "  HDD1 is present.(SATA)");
}

TEST(RaiseMailEvent, SuppressedKindClearsTheBlockAndRequestsNothing) {
    auto app = MirrorWithHdd2Lost();
    MailState mail;
    mail.eventInfoBlock = {"earlier notification"};
    RaiseMailEvent(*app, mail, {.suppressMask = 0x1}, kKindDiskFail, 0, 0);
    EXPECT_TRUE(mail.eventInfoBlock.empty());
    EXPECT_EQ(mail.mailEventKind, kKindDiskFail);
    EXPECT_EQ(app->shell.mailRequestFlags.load(), 0);

    // The other kind still goes out; then it too is suppressed.
    RaiseMailEvent(*app, mail, {.suppressMask = 0x1}, kKindDeviceRemoved, 0, 0);
    EXPECT_FALSE(mail.eventInfoBlock.empty());
    EXPECT_EQ(app->shell.mailRequestFlags.load(), kRequestSend);
    app->shell.mailRequestFlags = 0;
    RaiseMailEvent(*app, mail, {.suppressMask = 0x2}, kKindDeviceRemoved, 0, 0);
    EXPECT_TRUE(mail.eventInfoBlock.empty());
    EXPECT_EQ(mail.mailEventKind, kKindDeviceRemoved);
    EXPECT_EQ(app->shell.mailRequestFlags.load(), 0);
}

TEST(RaiseMailEvent, DeviceWithoutEmailPageLeavesEverythingAsItWas) {
    auto app = MirrorWithHdd2Lost();
    app->discovery.deviceSlots[0].featureMask = 0x37;
    MailState mail;
    mail.eventInfoBlock = {"earlier notification"};
    RaiseMailEvent(*app, mail, {}, kKindDiskFail, 0, 0);
    EXPECT_EQ(mail.eventInfoBlock, std::vector<std::string>{"earlier notification"});
    EXPECT_EQ(app->shell.mailRequestFlags.load(), 0);
    // An index beyond the per-device table has no page either.
    RaiseMailEvent(*app, mail, {}, kKindDeviceRemoved, 200, 0);
    EXPECT_EQ(mail.eventInfoBlock.size(), 1u);
    EXPECT_EQ(app->shell.mailRequestFlags.load(), 0);
}

TEST(RaiseMailEvent, UnknownDeviceStillRequestsAMailWithoutDeviceLines) {
    auto app = MirrorWithHdd2Lost();
    MailState mail;
    mail.eventInfoBlock = {"earlier notification"};
    RaiseMailEvent(*app, mail, {}, kKindDeviceRemoved, 1, 0);  // count is 1
    EXPECT_TRUE(mail.eventInfoBlock.empty());
    EXPECT_EQ(mail.mailEventKind, kKindDeviceRemoved);
    EXPECT_EQ(app->shell.mailRequestFlags.load(), kRequestSend);

    // A table entry naming a disk beyond the records behaves the same.
    app->discovery.deviceTable[0] = kDeviceEntryRecognised | 0x0C;
    RaiseMailEvent(*app, mail, {}, kKindDiskFail, 0, 0);
    EXPECT_TRUE(mail.eventInfoBlock.empty());
    EXPECT_EQ(mail.mailEventKind, kKindDiskFail);
}

}  // namespace
}  // namespace raid::mail
