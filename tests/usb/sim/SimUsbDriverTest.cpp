// The simulated bridge's own rules that the window tests cannot reach: the single pending reply, requests
// the bridge refuses, dead handles and callbacks that only ever come later from the event loop.
#include "usb/sim/SimUsbDriver.h"

#include <QElapsedTimer>
#include <QTest>

#include <functional>
#include <memory>

using regbench::usb::sim::SimUsbDriver;
namespace UsbStatus = regbench::usb::UsbStatus;
using Handles = std::vector<std::uint32_t>;
using Io = std::pair<std::uint32_t, QByteArray>; // status, bytes moved

class TestSimUsbDriver : public QObject {
    Q_OBJECT

    std::unique_ptr<SimUsbDriver> sim;
    std::uint32_t driverHandle = 0;
    Handles attached, detached;
    std::function<bool()> onAttach; // answers the offer; unset: accept

    std::uint32_t open() {
        regbench::usb::EventTable t;
        t.AttachCallback = [this](std::uint32_t handle, const regbench::usb::DeviceInfo&, void*) {
            attached.push_back(handle);
            return !onAttach || onAttach();
        };
        t.DetachCallback = [this](std::uint32_t handle, void*) { detached.push_back(handle); };
        const regbench::usb::MatchEntry match{regbench::usb::BridgeVendorId, regbench::usb::BridgeProductId};
        return sim->WDU_VB_Init(&driverHandle, &match, 1, t, 1, nullptr);
    }
    // Sends `hex` on handle 1 as a request, or reads a reply there when it is null.
    Io transfer(const char* hex) {
        const std::uint32_t pipe = hex ? SimUsbDriver::RequestPipe : SimUsbDriver::ReplyPipe;
        QByteArray bytes = hex ? QByteArray::fromHex(hex) : QByteArray(10, 0);
        auto* data = bytes.isEmpty() ? nullptr : reinterpret_cast<std::uint8_t*>(bytes.data());
        std::uint32_t count = 0;
        const std::uint32_t status =
            sim->WDU_Transfer(1, pipe, pipe >> 7, 0, data, std::uint32_t(bytes.size()), &count, {}, 30000);
        return {status, bytes.left(count)};
    }
    std::uint32_t send(const char* hex) { return transfer(hex).first; }
    Io receive() { return transfer(nullptr); }
    static void settle() {
        // One pass handles what is posted; the second what the callbacks posted in turn.
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }

private slots:
    void init() {
        sim = std::make_unique<SimUsbDriver>();
        sim->setTimeoutCap(30); // a reply that never comes must not hold the test for 30 s
        attached = detached = {};
        onAttach = nullptr;
    }

    // Sent again and left unread, the reply must give way to the next one; the scratch register (0x5A from
    // reset) must be untouched.
    void refusedRequests_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("read, write address") << QByteArray("013800") << QByteArray("40ff");
        QTest::newRow("write, read address") << QByteArray("00397f33") << QByteArray("40");
        QTest::newRow("unknown op") << QByteArray("02387f33") << QByteArray("80");
        QTest::newRow("read too long") << QByteArray("01397f00") << QByteArray("80");
        QTest::newRow("write too short") << QByteArray("00387f") << QByteArray("80");
        QTest::newRow("empty") << QByteArray() << QByteArray("80");
    }
    void refusedRequests() {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        open();
        QCOMPARE(send(request.constData()), UsbStatus::Success);
        QCOMPARE(receive().second, QByteArray::fromHex(reply));
        send(request.constData());
        send("01397f");
        QCOMPARE(receive().second, QByteArray::fromHex("005a"));
    }

    void aTakenReplyIsGoneAndTheWaitIsCapped() {
        open();
        send("013901");
        QCOMPARE(receive().second, QByteArray::fromHex("0012"));
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(receive().first, UsbStatus::Timeout);
        QVERIFY(timer.elapsed() >= 29); // yet a real wait
    }

    void deadHandles_data() {
        QTest::addColumn<bool>("accept");
        QTest::addColumn<bool>("uninit");
        QTest::addColumn<std::uint32_t>("status");
        QTest::addColumn<Handles>("detaches");
        QTest::newRow("refused") << false << false << UsbStatus::InvalidHandle << Handles{};
        QTest::newRow("unplugged") << true << false << UsbStatus::DeviceGone << Handles{1};
        QTest::newRow("uninit, then unplugged") << true << true << UsbStatus::InvalidHandle << Handles{};
    }
    void deadHandles() {
        QFETCH(bool, accept);
        QFETCH(bool, uninit);
        QFETCH(std::uint32_t, status);
        QFETCH(Handles, detaches);
        onAttach = [accept] { return accept; };
        open();
        settle();
        send("013900");
        if (uninit) {
            sim->WDU_VB_Uninit(driverHandle);
        }
        sim->unplugBridge(1);
        QCOMPARE(receive().first, status); // the pending reply went with the handle
        QCOMPARE(send("013900"), status);
        regbench::usb::DeviceInfo info;
        QCOMPARE(sim->WDU_GetDeviceInfo(1, &info), status);
        QCOMPARE(sim->WDU_SetInterface(1, 0, 0), status);
        settle();
        QCOMPARE(detached, detaches);
    }

    void callbacksComeOnlyFromTheEventLoop() {
        open(); // offers the bridge it plugs in as handle 1
        sim->WDU_VB_Uninit(driverHandle);
        settle();
        QVERIFY(attached.empty()); // nothing after uninit
        QCOMPARE(open(), UsbStatus::Success);
        sim->WDU_VB_Uninit(driverHandle + 1); // not ours: ignored
        QVERIFY(attached.empty());
        settle();
        QCOMPARE(attached, Handles{2});                         // handles are never reused
        sim->plugBridge(regbench::usb::BridgeVendorId, 0xBEEF); // never offered
        sim->plugBridge();
        sim->unplugBridge(1);
        QVERIFY(attached.size() == 1 && detached.empty());
        settle();
        QVERIFY(attached == (Handles{2, 3}) && detached == Handles{2});
    }
};

QTEST_GUILESS_MAIN(TestSimUsbDriver)
#include "SimUsbDriverTest.moc"
