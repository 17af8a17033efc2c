// The service's bus front in this process, on a private bus with a polkit
// stand-in whose answers the test holds back and releases: what a pending
// check may touch when the objects change under it.
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
        front_.Stop();
        QDBusConnection::disconnectFromBus("front");
    }

    QDBusMessage Mock(const QString& method, const QVariantList& args = {}) {
        QDBusMessage call = QDBusMessage::createMethodCall(kPolkit, kPolkitPath,
                                                           "org.freedesktop.DBus.Mock", method);
        call.setArguments(args);
        return client_.call(call, QDBus::Block, 5000);
    }

    PrivateSessionBus bus_;
    std::unique_ptr<BusProcess> polkit_;
    QDBusConnection client_{QString()};
    service::BusFront front_;
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

}  // namespace
}  // namespace raid::test_support
