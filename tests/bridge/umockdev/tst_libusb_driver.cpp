#include "EmulatedBridge.h"
#include "bridge/LibusbDriver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

using namespace regbench::bridge;
using Watch = LibusbDriver::DeviceWatch;

Q_DECLARE_METATYPE(Watch)

namespace {

constexpr std::array<std::uint8_t, SetupPacketSize> NoSetup{};
constexpr std::uint32_t Patient = 5000; // ms; for transfers that should finish at once

std::uint8_t* bytes(QByteArray& a) {
    return reinterpret_cast<std::uint8_t*>(a.data());
}

// A driver with callbacks that record what they were given.
struct Rig {
    explicit Rig(Watch watch = Watch::Automatic) : driver(watch) {}

    std::uint32_t init() {
        EventTable table;
        table.AttachCallback = [this](std::uint32_t handle, const DeviceInfo& info, void*) {
            attached.push_back(handle);
            infos.push_back(info);
            return onAttach ? onAttach(handle) : true;
        };
        table.DetachCallback = [this](std::uint32_t handle, void*) {
            detached.push_back(handle);
            if (onDetach)
                onDetach(handle);
        };
        const MatchEntry match{BridgeVendorId, BridgeProductId};
        return driver.WDU_VB_Init(&driverHandle, &match, 1, table, 1, nullptr);
    }
    void uninit() { driver.WDU_VB_Uninit(driverHandle); }

    std::uint32_t send(std::uint32_t handle, QByteArray request) {
        std::uint32_t done = 0;
        return driver.WDU_Transfer(handle, 0x02, 0, 0, bytes(request),
                                   static_cast<std::uint32_t>(request.size()), &done, NoSetup, Patient);
    }
    // Returns the register's value, or -1 when the access failed.
    int readRegister(std::uint32_t handle, std::uint8_t address) {
        QByteArray reply(3, 0);
        std::uint32_t done = 0;
        if (send(handle, QByteArray::fromHex("0139") + static_cast<char>(address)) != UsbStatus::Success ||
            driver.WDU_Transfer(handle, 0x82, 1, 0, bytes(reply), 3, &done, NoSetup, Patient) !=
                UsbStatus::Success)
            return -1;
        return done == 2 && reply.at(0) == 0 ? static_cast<std::uint8_t>(reply.at(1)) : -1;
    }

    LibusbDriver driver;
    std::uint32_t driverHandle = 0;
    std::vector<std::uint32_t> attached;
    std::vector<DeviceInfo> infos;
    std::vector<std::uint32_t> detached;
    std::function<bool(std::uint32_t)> onAttach;
    std::function<void(std::uint32_t)> onDetach;
};

// Unplugs the bridge if still alive after 10 s, so that a transfer that ignores its time-out ends anyway.
class Watchdog {
public:
    explicit Watchdog(EmulatedBridge& bridge)
        : thread_([this, &bridge] {
              std::unique_lock lock(mutex_);
              if (!wake_.wait_for(lock, std::chrono::seconds(10), [this] { return done_; }))
                  bridge.remove();
          }) {}
    ~Watchdog() {
        {
            const std::lock_guard lock(mutex_);
            done_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
    std::thread thread_;
};

} // namespace

class LibusbDriverTest : public QObject {
    Q_OBJECT

private slots:
    void bridgePresentAtStartIsOfferedThroughTheQueue();
    void arrivalRemovalAndReplug_data();
    void arrivalRemovalAndReplug();
    void secondBridgeIsRefusedAndReleased();
    void requestAndReplyBytes_data();
    void requestAndReplyBytes();
    void replyThatNeverComesTimesOut();
    void transferStatuses_data();
    void transferStatuses();
    void controlPipe_data();
    void controlPipe();
    void unplugDuringPendingTransfer();
    void uninitDropsQueuedCallbacks();
    void callbacksMayCallTheLayer();
    void statusTexts();
};

void LibusbDriverTest::bridgePresentAtStartIsOfferedThroughTheQueue() {
    EmulatedBridge bridge;
    bridge.add();
    Rig rig;
    QCOMPARE(rig.init(), UsbStatus::Success);
    QVERIFY(rig.driverHandle > 0);
    QVERIFY(rig.attached.empty()); // never from inside WDU_VB_Init
    QCoreApplication::processEvents();
    QCOMPARE(rig.attached, std::vector<std::uint32_t>{1});
    QVERIFY(bridge.interfaceClaimed());

    DeviceInfo info;
    QCOMPARE(rig.driver.WDU_GetDeviceInfo(1, &info), UsbStatus::Success);
    for (const DeviceInfo& i : {rig.infos.at(0), info}) {
        QCOMPARE(i.Descriptor.idVendor, BridgeVendorId);
        QCOMPARE(i.Descriptor.idProduct, BridgeProductId);
        QCOMPARE(i.ActiveInterfaces.size(), 1u);
        const AlternateSettingInfo& setting = i.ActiveInterfaces[0].ActiveAltSetting;
        QCOMPARE(setting.Descriptor.bNumEndpoints, 2);
        QCOMPARE(setting.Pipes.size(), 2u);
        QCOMPARE(setting.Pipes[0].Number, 0x02u);
        QCOMPARE(setting.Pipes[1].Number, 0x82u);
        for (const PipeInfo& pipe : setting.Pipes) {
            QCOMPARE(pipe.Type, PipeType::Bulk);
            QCOMPARE(pipe.MaximumPacketSize, 64u);
        }
    }
}

void LibusbDriverTest::arrivalRemovalAndReplug_data() {
    QTest::addColumn<Watch>("watch");
    QTest::newRow("hot-plug") << Watch::Automatic;
    QTest::newRow("listing every second") << Watch::Polling;
}

void LibusbDriverTest::arrivalRemovalAndReplug() {
    QFETCH(Watch, watch);
    EmulatedBridge bridge;
    Rig rig(watch);
    QCOMPARE(rig.init(), UsbStatus::Success);
    QTest::qWait(50);
    QVERIFY(rig.attached.empty());

    const int b = bridge.add();
    bridge.setRegister(0x05, 0xA0, b);
    QTRY_COMPARE(rig.attached.size(), 1u);
    const std::uint32_t first = rig.attached[0];
    QCOMPARE(rig.readRegister(first, 0x05), 0xA0);

    bridge.remove(b);
    QTRY_COMPARE(rig.detached, std::vector<std::uint32_t>{first});
    DeviceInfo info;
    QCOMPARE(rig.driver.WDU_GetDeviceInfo(first, &info), UsbStatus::DeviceGone);

    bridge.readd(b);
    QTRY_COMPARE(rig.attached.size(), 2u);
    const std::uint32_t second = rig.attached[1];
    QVERIFY(second != first && second != 0);
    QCOMPARE(rig.readRegister(second, 0x05), 0xA0);
    QCOMPARE(rig.readRegister(first, 0x05), -1);
}

void LibusbDriverTest::secondBridgeIsRefusedAndReleased() {
    EmulatedBridge bridge;
    bridge.add();
    bridge.add();
    bridge.setRegister(0x05, 0x11, 0);
    bridge.setRegister(0x05, 0x22, 1);
    Rig rig;
    std::uint32_t held = 0;
    std::uint32_t setInterfaceStatus = UsbStatus::Other;
    rig.onAttach = [&](std::uint32_t handle) {
        if (held != 0)
            return false;
        held = handle;
        setInterfaceStatus = rig.driver.WDU_SetInterface(handle, 0, 0); // as an attach callback may do
        return true;
    };
    QCOMPARE(rig.init(), UsbStatus::Success);
    QTRY_COMPARE(rig.attached.size(), 2u);
    QCOMPARE(setInterfaceStatus, UsbStatus::Success);
    const std::uint32_t refused = rig.attached[0] == held ? rig.attached[1] : rig.attached[0];

    QCOMPARE(int(bridge.interfaceClaimed(0)) + int(bridge.interfaceClaimed(1)), 1);
    DeviceInfo info;
    QCOMPARE(rig.driver.WDU_GetDeviceInfo(refused, &info), UsbStatus::InvalidHandle);
    QCOMPARE(rig.readRegister(refused, 0x05), -1);
    QCOMPARE(rig.readRegister(held, 0x05), bridge.interfaceClaimed(0) ? 0x11 : 0x22);
}

void LibusbDriverTest::requestAndReplyBytes_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("replyStatus"); // -1: the bridge's own
    QTest::addColumn<std::uint32_t>("replyLength");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("read") << QByteArray::fromHex("013905") << -1 << 3u << QByteArray::fromHex("00a0");
    QTest::newRow("read into a larger buffer")
        << QByteArray::fromHex("013905") << -1 << 64u << QByteArray::fromHex("00a0");
    QTest::newRow("read, no acknowledge")
        << QByteArray::fromHex("013905") << 0x40 << 3u << QByteArray::fromHex("40a0");
    QTest::newRow("write") << QByteArray::fromHex("00381007") << -1 << 4u << QByteArray::fromHex("00");
    QTest::newRow("write, I2C error")
        << QByteArray::fromHex("00381007") << 0x80 << 4u << QByteArray::fromHex("80");
}

void LibusbDriverTest::requestAndReplyBytes() {
    QFETCH(QByteArray, request);
    QFETCH(int, replyStatus);
    QFETCH(std::uint32_t, replyLength);
    QFETCH(QByteArray, reply);
    EmulatedBridge bridge;
    bridge.add();
    bridge.setRegister(0x05, 0xA0);
    if (replyStatus >= 0)
        bridge.setReplyStatus(static_cast<std::uint8_t>(replyStatus));
    Rig rig;
    QCOMPARE(rig.init(), UsbStatus::Success);
    QTRY_COMPARE(rig.attached.size(), 1u);
    const std::uint32_t handle = rig.attached[0];

    std::uint32_t done = 0xDEAD;
    QCOMPARE(rig.driver.WDU_Transfer(handle, 0x02, 0, 0, bytes(request), std::uint32_t(request.size()), &done,
                                     NoSetup, Patient),
             UsbStatus::Success);
    QCOMPARE(done, std::uint32_t(request.size()));
    QByteArray buffer(int(replyLength), 0);
    QCOMPARE(rig.driver.WDU_Transfer(handle, 0x82, 1, 0, bytes(buffer), replyLength, &done, NoSetup, Patient),
             UsbStatus::Success);
    QCOMPARE(done, std::uint32_t(reply.size()));
    QCOMPARE(buffer, reply + QByteArray(buffer.size() - reply.size(), 0));
    QCOMPARE(bridge.outTransfers(), std::vector<QByteArray>{request});
    QCOMPARE(bridge.inRequests(), std::vector<std::uint32_t>{replyLength});
    if (request.at(0) == 0 && replyStatus < 0)
        QCOMPARE(bridge.registerValue(0x10), 0x07);
}

void LibusbDriverTest::replyThatNeverComesTimesOut() {
    EmulatedBridge bridge;
    bridge.add();
    bridge.setDropReplies(true);
    Rig rig;
    QCOMPARE(rig.init(), UsbStatus::Success);
    QTRY_COMPARE(rig.attached.size(), 1u);
    const std::uint32_t handle = rig.attached[0];

    QCOMPARE(rig.send(handle, QByteArray::fromHex("013905")), UsbStatus::Success);
    QByteArray buffer(3, 0);
    std::uint32_t done = 0xDEAD;
    std::uint32_t status = UsbStatus::Other;
    qint64 elapsed = 0;
    {
        const Watchdog watchdog(bridge); // should the time-out be ignored, the test fails instead of hanging
        QElapsedTimer clock;
        clock.start();
        status = rig.driver.WDU_Transfer(handle, 0x82, 1, 0, bytes(buffer), 3, &done, NoSetup, 100);
        elapsed = clock.elapsed();
    }
    QCOMPARE(status, UsbStatus::Timeout);
    QCOMPARE(done, 0u);
    QVERIFY2(elapsed >= 100, qPrintable(QString::number(elapsed)));
    QVERIFY2(elapsed < 1000, qPrintable(QString::number(elapsed))); // ample slack for a loaded machine

    // The cancelled transfer is cleaned up: the next access gets its own reply.
    bridge.setDropReplies(false);
    bridge.setRegister(0x05, 0x5A);
    QCOMPARE(rig.readRegister(handle, 0x05), 0x5A);
}

void LibusbDriverTest::transferStatuses_data() {
    QTest::addColumn<int>("urbError");         // 0: none
    QTest::addColumn<std::uint32_t>("handle"); // 0: the bridge's
    QTest::addColumn<std::uint32_t>("pipe");
    QTest::addColumn<std::uint32_t>("readFlag");
    QTest::addColumn<bool>("nullBuffer");
    QTest::addColumn<std::uint32_t>("length");
    QTest::addColumn<std::uint32_t>("status");
    QTest::newRow("stall") << -EPIPE << 0u << 0x82u << 1u << false << 3u << UsbStatus::Stall;
    QTest::newRow("babble") << -EOVERFLOW << 0u << 0x82u << 1u << false << 3u << UsbStatus::Overflow;
    QTest::newRow("protocol error") << -EPROTO << 0u << 0x82u << 1u << false << 3u << UsbStatus::IoError;
    QTest::newRow("unknown handle") << 0 << 99u << 0x82u << 1u << false << 3u << UsbStatus::InvalidHandle;
    QTest::newRow("pipe against read flag")
        << 0 << 0u << 0x82u << 0u << false << 3u << UsbStatus::InvalidArgument;
    QTest::newRow("read flag out of range")
        << 0 << 0u << 0x82u << 2u << false << 3u << UsbStatus::InvalidArgument;
    QTest::newRow("pipe not in the interface")
        << 0 << 0u << 0x85u << 1u << false << 3u << UsbStatus::NotFound;
    QTest::newRow("pipe out of range")
        << 0 << 0u << 0x182u << 1u << false << 3u << UsbStatus::InvalidArgument;
    QTest::newRow("zero length, no buffer") << 0 << 0u << 0x02u << 0u << true << 0u << UsbStatus::Success;
    QTest::newRow("no buffer for a length")
        << 0 << 0u << 0x02u << 0u << true << 3u << UsbStatus::InvalidArgument;
}

void LibusbDriverTest::transferStatuses() {
    QFETCH(int, urbError);
    QFETCH(std::uint32_t, handle);
    QFETCH(std::uint32_t, pipe);
    QFETCH(std::uint32_t, readFlag);
    QFETCH(bool, nullBuffer);
    QFETCH(std::uint32_t, length);
    QFETCH(std::uint32_t, status);
    EmulatedBridge bridge;
    bridge.add();
    if (urbError != 0)
        bridge.setInTransferError(urbError);
    Rig rig;
    QCOMPARE(rig.init(), UsbStatus::Success);
    QTRY_COMPARE(rig.attached.size(), 1u);
    if (handle == 0)
        handle = rig.attached[0];

    QByteArray buffer(3, 0);
    std::uint32_t done = 0xDEAD;
    QCOMPARE(rig.driver.WDU_Transfer(handle, pipe, readFlag, 0, nullBuffer ? nullptr : bytes(buffer), length,
                                     &done, NoSetup, Patient),
             status);
    QCOMPARE(done, 0u);
    // Whatever happened, the device still works afterwards.
    bridge.setInTransferError(std::nullopt);
    QCOMPARE(rig.readRegister(rig.attached[0], 0x00), 0x00);
}

void LibusbDriverTest::controlPipe_data() {
    QTest::addColumn<QByteArray>("setup");
    QTest::addColumn<std::uint32_t>("readFlag");
    QTest::addColumn<std::uint32_t>("length");
    QTest::addColumn<std::uint32_t>("status");
    QTest::addColumn<int>("received");
    QTest::newRow("device descriptor")
        << QByteArray::fromHex("8006000100001200") << 1u << 64u << UsbStatus::Success << 18;
    QTest::newRow("its first 8 bytes")
        << QByteArray::fromHex("8006000100000800") << 1u << 64u << UsbStatus::Success << 8;
    QTest::newRow("unknown request") << QByteArray::fromHex("c0ff000000000100") << 1u << 64u
                                     << UsbStatus::Stall << 0;
    QTest::newRow("direction against setup")
        << QByteArray::fromHex("8006000100001200") << 0u << 64u << UsbStatus::InvalidArgument << 0;
    QTest::newRow("buffer shorter than asked")
        << QByteArray::fromHex("8006000100001200") << 1u << 8u << UsbStatus::InvalidArgument << 0;
}

void LibusbDriverTest::controlPipe() {
    QFETCH(QByteArray, setup);
    QFETCH(std::uint32_t, readFlag);
    QFETCH(std::uint32_t, length);
    QFETCH(std::uint32_t, status);
    QFETCH(int, received);
    EmulatedBridge bridge;
    bridge.add();
    Rig rig;
    QCOMPARE(rig.init(), UsbStatus::Success);
    QTRY_COMPARE(rig.attached.size(), 1u);

    std::array<std::uint8_t, SetupPacketSize> packet{};
    std::copy(setup.begin(), setup.end(), packet.begin());
    QByteArray buffer(int(length), 0);
    std::uint32_t done = 0xDEAD;
    QCOMPARE(rig.driver.WDU_Transfer(rig.attached[0], 0, readFlag, 0, bytes(buffer), length, &done, packet,
                                     Patient),
             status);
    QCOMPARE(done, std::uint32_t(received));
    if (received > 0) {
        const std::uint16_t vendor = BridgeVendorId;
        QCOMPARE(buffer.left(2), QByteArray::fromHex("1201"));
        QCOMPARE(std::uint8_t(buffer.at(8)) | std::uint8_t(buffer.at(9)) << 8, received > 8 ? vendor : 0);
    }
}

void LibusbDriverTest::unplugDuringPendingTransfer() {
    EmulatedBridge bridge;
    bridge.add();
    bridge.setDropReplies(true); // the IN transfer stays pending until the unplug
    Rig rig;
    QCOMPARE(rig.init(), UsbStatus::Success);
    QTRY_COMPARE(rig.attached.size(), 1u);
    const std::uint32_t handle = rig.attached[0];
    QCOMPARE(rig.send(handle, QByteArray::fromHex("013905")), UsbStatus::Success);

    std::thread unplugger([&bridge] {
        for (int i = 0; i < 2000 && bridge.pendingInTransfers() == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        bridge.remove();
    });
    QByteArray buffer(3, 0);
    std::uint32_t done = 0xDEAD;
    const std::uint32_t status =
        rig.driver.WDU_Transfer(handle, 0x82, 1, 0, bytes(buffer), 3, &done, NoSetup, 20000);
    unplugger.join();
    QVERIFY2(status == UsbStatus::DeviceGone || status == UsbStatus::IoError,
             qPrintable(QString::number(status, 16)));
    QCOMPARE(done, 0u);
    QCOMPARE(rig.send(handle, QByteArray::fromHex("013905")), UsbStatus::DeviceGone);
    QTRY_COMPARE(rig.detached, std::vector<std::uint32_t>{handle});
    QVERIFY(!bridge.interfaceClaimed());

    bridge.setDropReplies(false);
    bridge.setRegister(0x07, 0x42);
    bridge.readd();
    QTRY_COMPARE(rig.attached.size(), 2u);
    QVERIFY(rig.attached[1] != handle);
    QCOMPARE(rig.readRegister(rig.attached[1], 0x07), 0x42);
}

void LibusbDriverTest::uninitDropsQueuedCallbacks() {
    EmulatedBridge bridge;
    bridge.add();
    {
        Rig rig;
        QCOMPARE(rig.init(), UsbStatus::Success); // the arrival is queued now
        rig.uninit();
        rig.uninit(); // harmless twice
        QTest::qWait(100);
        QVERIFY(rig.attached.empty());
        DeviceInfo info;
        QCOMPARE(rig.driver.WDU_GetDeviceInfo(1, &info), UsbStatus::InvalidHandle);

        // The same driver opens again, and closing releases what it held.
        QCOMPARE(rig.init(), UsbStatus::Success);
        QTRY_COMPARE(rig.attached.size(), 1u);
        QVERIFY(bridge.interfaceClaimed());
        const std::uint32_t handle = rig.attached[0];
        bridge.remove();
        // Give the removal time to be queued; the test holds either way.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        rig.uninit();
        QTest::qWait(100);
        QVERIFY(rig.detached.empty());
        QCOMPARE(rig.driver.WDU_GetDeviceInfo(handle, &info), UsbStatus::InvalidHandle);
    }
    {
        bridge.readd();
        Rig rig; // closed by its destructor with a device held
        QCOMPARE(rig.init(), UsbStatus::Success);
        QTRY_COMPARE(rig.attached.size(), 1u);
    }
    QVERIFY(!bridge.interfaceClaimed());
}

void LibusbDriverTest::callbacksMayCallTheLayer() {
    EmulatedBridge bridge;
    bridge.add();
    Rig rig;
    std::uint32_t infoStatus = UsbStatus::Other;
    std::uint32_t goneStatus = UsbStatus::Other;
    rig.onAttach = [&](std::uint32_t handle) {
        DeviceInfo info;
        infoStatus = rig.driver.WDU_GetDeviceInfo(handle, &info);
        return true;
    };
    rig.onDetach = [&](std::uint32_t handle) {
        goneStatus = rig.send(handle, QByteArray::fromHex("013905"));
    };
    QCOMPARE(rig.init(), UsbStatus::Success);
    QTRY_COMPARE(rig.attached.size(), 1u);
    QCOMPARE(infoStatus, UsbStatus::Success);
    bridge.remove();
    QTRY_COMPARE(rig.detached.size(), 1u);
    QCOMPARE(goneStatus, UsbStatus::DeviceGone);

    // Closing the layer from inside a callback ends it cleanly; nothing is called afterwards.
    rig.onAttach = [&](std::uint32_t) {
        rig.uninit();
        return true;
    };
    bridge.add();
    QTRY_COMPARE(rig.attached.size(), 2u);
    QTest::qWait(50);
    QCOMPARE(rig.attached.size(), 2u);
    DeviceInfo info;
    QCOMPARE(rig.driver.WDU_GetDeviceInfo(rig.attached[1], &info), UsbStatus::InvalidHandle);
    QVERIFY(!bridge.interfaceClaimed(1));
}

void LibusbDriverTest::statusTexts() {
    LibusbDriver driver;
    QVERIFY(driver.VB_Stat2Str(UsbStatus::NoPermission).contains("60-regbench.rules"));
    for (std::uint32_t status : {UsbStatus::Success, UsbStatus::Timeout, UsbStatus::DeviceGone, 0x1234u})
        QCOMPARE(driver.VB_Stat2Str(status), usbStatusText(status));
}

int main(int argc, char** argv) {
    if (!EmulatedBridge::underWrapper()) {
        std::fputs("Not under umockdev-wrapper: skipped\n", stderr);
        return 77;
    }
    QCoreApplication app(argc, argv);
    LibusbDriverTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_libusb_driver.moc"
