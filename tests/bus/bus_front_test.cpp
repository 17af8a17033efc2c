// The service's bus front in this process, on a private bus with a polkit
// stand-in whose answers the test holds back and releases: what a pending
// check may touch when the objects change under it, and what a client's
// watch makes of its signals.
#include "service/bus_front.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingReply>
#include <chrono>
#include <functional>

#include "client/bus_names.h"
#include "client/bus_types.h"
#include "client/enclosure_watch.h"
#include "tests/bus/private_system_bus.h"

namespace raid::test_support {
namespace {

using namespace std::chrono_literals;
namespace bus = client::bus;
const QString kPolkit = "org.freedesktop.PolicyKit1";
const QString kPolkitPath = "/org/freedesktop/PolicyKit1/Authority";

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

class BusFrontTest : public testing::Test {
protected:
    void SetUp() override {
        if (QCoreApplication::instance() == nullptr) {
            static int argc = 1;
            static char name[] = "bus_tests";
            static char* argv[] = {name, nullptr};
            new QCoreApplication(argc, argv);  // lives as long as the process
        }
        polkit_ = bus_.StartMock({"--template", "polkitd"});
        ASSERT_TRUE(bus_.WaitForName(kPolkit.toStdString())) << polkit_->Output();
        // The front connects to "the system bus": this one.
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", bus_.address().c_str(), 1);
        client_ = QDBusConnection::connectToBus(QString::fromStdString(bus_.address()), "front");
        ASSERT_TRUE(client_.isConnected());
    }
    void TearDown() override {
        watch_.reset();
        front_.Stop();
        QDBusConnection::disconnectFromBus("front");
    }

    QDBusMessage Mock(const QString& method, const QVariantList& args = {}) {
        QDBusMessage call = QDBusMessage::createMethodCall(kPolkit, kPolkitPath,
                                                           "org.freedesktop.DBus.Mock", method);
        call.setArguments(args);
        return client_.call(call, QDBus::Block, 5000);
    }

    // The front serving `devices`, and a watch on it that has read them.
    void ServeToWatch(const std::vector<client::DeviceStatus>& devices) {
        front_.Publish({devices, {}, 0, {}, {}, {}});
        std::string why;
        ASSERT_TRUE(front_.Start(why)) << why;
        front_.SetState("serving", true);
        watch_ = std::make_unique<client::BusWatch>(client_);
        ASSERT_TRUE(PumpUntil([&] { return watch_->devices().size() == devices.size(); }));
    }

    PrivateSessionBus bus_;
    std::unique_ptr<BusProcess> polkit_;
    QDBusConnection client_{QString()};
    service::BusFront front_;
    std::unique_ptr<client::BusWatch> watch_;
};

TEST_F(BusFrontTest, AnEnclosureGoneWhileItsCheckIsPendingIsNeverTouchedAfter) {
    Mock("SetAllowed", {QStringList{bus::kActionReadStatus}});
    Mock("SimulateHang", {true});
    client::DeviceStatus enclosure;
    enclosure.path = "/dev/sdz";
    front_.Publish({{enclosure}, {}, 0, {}, {}, {}});
    service::CheckLimits limits;
    limits.rootWithoutPolkit = false;  // this test runs as root, and wants polkit asked
    front_.SetCheckLimits(limits);
    std::string why;
    ASSERT_TRUE(front_.Start(why)) << why;
    front_.SetState("serving", true);

    QDBusMessage ask =
        QDBusMessage::createMethodCall(bus::kServiceName, QString(bus::kEnclosuresPath) + "/0",
                                       bus::kEnclosureInterface, "GetSmart");
    ask << QVariantMap();
    QDBusPendingCall call = client_.asyncCall(ask, 10000);
    ASSERT_TRUE(PumpUntil([&] { return Mock("HaveHangingCalls").arguments().value(0).toBool(); }));

    front_.Publish({});  // unplugged: its object is deleted
    ASSERT_TRUE(PumpUntil([&] {
        QDBusMessage list =
            QDBusMessage::createMethodCall(bus::kServiceName, QString(bus::kEnclosuresPath) + "/0",
                                           "org.freedesktop.DBus.Properties", "GetAll");
        list << QString(bus::kEnclosureInterface);
        return client_.call(list, QDBus::Block, 2000).type() == QDBusMessage::ErrorMessage;
    }));
    Mock("ReleaseHangingCalls");
    ASSERT_TRUE(PumpUntil([&] { return call.isFinished(); }));
    EXPECT_TRUE(call.isError());
    EXPECT_EQ(call.error().name(), bus::kErrorFailed) << call.error().message().toStdString();
}

TEST_F(BusFrontTest, AWatchAppliesTheSignalsWithoutReadingEveryObjectAgain) {
    client::DeviceStatus first, second;
    first.path = "/dev/sdy";
    second.index = 1;
    second.path = "/dev/sdz";
    ServeToWatch({first, second});
    const int seeds = watch_->seeds();

    first.temperature = 41;
    front_.Publish({{first, second}, {}, 0, {}, {}, {}});
    ASSERT_TRUE(PumpUntil([&] { return watch_->devices()[0].temperature == 41; }));
    front_.Publish({{first}, {}, 0, {}, {}, {}});
    ASSERT_TRUE(PumpUntil([&] { return watch_->devices().size() == 1; }));
    EXPECT_EQ(watch_->devices()[0].path, "/dev/sdy");
    EXPECT_EQ(watch_->seeds(), seeds);
}

TEST_F(BusFrontTest, AStatusThatDoesNotDecodeMakesTheWatchReadEveryObjectAgain) {
    client::DeviceStatus enclosure;
    enclosure.path = "/dev/sdz";
    ServeToWatch({enclosure});
    const QString path = QString(bus::kEnclosuresPath) + "/0";
    QDBusMessage changed =
        QDBusMessage::createSignal(path, "org.freedesktop.DBus.Properties", "PropertiesChanged");
    changed << QString(bus::kEnclosureInterface)
            << QVariantMap{{"Status", QVariantMap{{"index", "zero"}}}} << QStringList();
    QDBusMessage added = QDBusMessage::createSignal(
        bus::kManagerPath, "org.freedesktop.DBus.ObjectManager", "InterfacesAdded");
    added << QVariant::fromValue(QDBusObjectPath(QString(bus::kEnclosuresPath) + "/1"))
          << QVariant::fromValue(
                 client::InterfaceMap{{bus::kEnclosureInterface, {{"Status", QString("none")}}}});
    // From the service's own connection: a watch hears no other sender.
    QDBusConnection service("raid-service");
    for (const QDBusMessage& hostile : {changed, added}) {
        const int seeds = watch_->seeds();
        ASSERT_TRUE(service.send(hostile));
        ASSERT_TRUE(PumpUntil([&] { return watch_->seeds() > seeds; }));
        ASSERT_TRUE(PumpUntil([&] { return watch_->devices().size() == 1; }));
        EXPECT_EQ(watch_->devices()[0].path, "/dev/sdz");
    }
}

}  // namespace
}  // namespace raid::test_support
