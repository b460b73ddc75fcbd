#include "usb/i2cdev/I2cDevDriver.h"
#include "EmulatedAdapter.h"
#include "usb/BridgeIds.h"

#include <QCoreApplication>
#include <QTest>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>

using namespace regbench::usb;
using regbench::tests::EmulatedAdapter;
using regbench::usb::i2cdev::I2cDevDriver;
using Parent = EmulatedAdapter::Parent;

namespace {

// A driver with callbacks that record what they were given.
struct Rig {
    std::uint32_t init() {
        EventTable table;
        table.AttachCallback = [this](std::uint32_t handle, const DeviceInfo& info, void*) {
            attached.push_back(handle);
            infos.push_back(info);
            return onAttach ? onAttach(handle) : true;
        };
        table.DetachCallback = [this](std::uint32_t handle, void*) { detached.push_back(handle); };
        const MatchEntry match{BridgeVendorId,
                               BridgeProductId}; // not consulted: adapters have IDs of their own
        return driver.WDU_VB_Init(&driverHandle, &match, 1, table, 1, nullptr);
    }
    std::uint32_t send(std::uint32_t handle, QByteArray request, std::uint32_t timeoutMs = 5000) {
        std::uint32_t done = 0;
        return driver.WDU_Transfer(handle, 0x02, 0, 0, reinterpret_cast<std::uint8_t*>(request.data()),
                                   std::uint32_t(request.size()), &done, {}, timeoutMs);
    }
    // The reply's bytes, after the status.
    std::uint32_t receive(std::uint32_t handle, QByteArray& reply, std::uint32_t timeoutMs = 5000) {
        QByteArray buffer(10, 0);
        std::uint32_t done = 0xDEAD;
        const std::uint32_t status =
            driver.WDU_Transfer(handle, 0x82, 1, 0, reinterpret_cast<std::uint8_t*>(buffer.data()),
                                std::uint32_t(buffer.size()), &done, {}, timeoutMs);
        reply = buffer.left(int(done));
        return status;
    }
    QByteArray exchange(std::uint32_t handle, const QByteArray& request) {
        QByteArray reply;
        if (send(handle, request) != UsbStatus::Success || receive(handle, reply) != UsbStatus::Success)
            return "failed";
        return reply;
    }

    I2cDevDriver driver;
    std::uint32_t driverHandle = 0;
    std::vector<std::uint32_t> attached;
    std::vector<DeviceInfo> infos;
    std::vector<std::uint32_t> detached;
    std::function<bool(std::uint32_t)> onAttach;
};

} // namespace

class I2cDevDriverTest : public QObject {
    Q_OBJECT

private slots:
    void offersOnlyEligibleAdapters();
    void transaction_data();
    void transaction();
    void heldTransaction_data();
    void heldTransaction();
    void refusedAdapterAndClosing();
};

void I2cDevDriverTest::offersOnlyEligibleAdapters() {
    EmulatedAdapter adapters;
    adapters.add(Parent::Usb);
    adapters.add(Parent::Pci); // a PC's SMBus, say: never to be touched
    adapters.add(Parent::Pci, true);
    Rig rig;
    QCOMPARE(rig.init(), UsbStatus::Success);
    QVERIFY(rig.attached.empty()); // the caller is not ready for callbacks inside WDU_VB_Init
    QTRY_COMPARE(rig.attached.size(), 2u);
    adapters.add(Parent::Pci);
    adapters.add(Parent::Usb);
    QTRY_COMPARE(rig.attached.size(), 3u); // events come in order: the unmarked bus 3 was passed over
    adapters.mark(3);
    QTRY_COMPARE(rig.attached.size(), 4u);

    std::vector<std::uint16_t> products;
    for (const DeviceInfo& info : rig.infos) {
        products.push_back(info.Descriptor.idProduct);
        QCOMPARE(info.Descriptor.idVendor, products.back() == 0 ? 0 : EmulatedAdapter::VendorId);
        const AlternateSettingInfo& setting = info.ActiveInterfaces.at(0).ActiveAltSetting;
        QCOMPARE(setting.Descriptor.bNumEndpoints, 2);
        QCOMPARE(setting.Pipes.at(0).Number, 0x02u);
        QCOMPARE(setting.Pipes.at(1).Number, 0x82u);
    }
    const std::uint16_t usb0 = EmulatedAdapter::ProductId;
    const std::uint32_t handle =
        rig.attached.at(std::find(products.begin(), products.end(), usb0) - products.begin());
    std::sort(products.begin(), products.end());
    QCOMPARE(products, (std::vector<std::uint16_t>{0, 0, usb0, std::uint16_t(usb0 + 4)}));
    for (int bus = 0; bus < 5; ++bus)
        QCOMPARE(adapters.ioctls(bus), 0); // discovery probes nothing

    DeviceInfo info;
    QCOMPARE(rig.driver.WDU_GetDeviceInfo(handle, &info), UsbStatus::Success);
    adapters.remove(0);
    QTRY_COMPARE(rig.detached, std::vector<std::uint32_t>{handle});
    QCOMPARE(rig.driver.WDU_GetDeviceInfo(handle, &info), UsbStatus::DeviceGone);
    QCOMPARE(adapters.ioctls(1), 0);
}

void I2cDevDriverTest::transaction_data() {
    QTest::addColumn<bool>("plainI2c");
    QTest::addColumn<int>("fault");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply"); // as hex, or "gone" for the device-gone status
    QTest::addColumn<QStringList>("bus");
    const QByteArray read = QByteArray::fromHex("013905");
    const QByteArray write = QByteArray::fromHex("0038053c");
    const QStringList readOnBus{"w1c 05, r1c[1]"};
    const QStringList writeOnBus{"w1c 05 3c"};
    QTest::newRow("read") << true << 0 << read << QByteArray("00a0") << readOnBus;
    QTest::newRow("read, SMBus only") << false << 0 << read << QByteArray("00a0") << readOnBus;
    QTest::newRow("write") << true << 0 << write << QByteArray("00") << writeOnBus;
    QTest::newRow("write, SMBus only") << false << 0 << write << QByteArray("00") << writeOnBus;
    QTest::newRow("no ack, ENXIO") << true << ENXIO << read << QByteArray("40ff") << QStringList();
    QTest::newRow("no ack, EREMOTEIO") << false << EREMOTEIO << write << QByteArray("40") << QStringList();
    QTest::newRow("bus error, EIO") << true << EIO << read << QByteArray("80ff") << QStringList();
    QTest::newRow("bus error, ETIMEDOUT") << true << ETIMEDOUT << write << QByteArray("80") << QStringList();
    QTest::newRow("bus error, EAGAIN") << false << EAGAIN << read << QByteArray("80ff") << QStringList();
    QTest::newRow("adapter gone, ENODEV") << true << ENODEV << read << QByteArray("gone") << QStringList();
    QTest::newRow("other address") << true << 0 << QByteArray::fromHex("013b05") << QByteArray("80")
                                   << QStringList();
    QTest::newRow("short request") << true << 0 << QByteArray::fromHex("0038") << QByteArray("80")
                                   << QStringList();
}

void I2cDevDriverTest::transaction() {
    QFETCH(bool, plainI2c);
    QFETCH(int, fault);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    QFETCH(QStringList, bus);
    EmulatedAdapter adapters;
    adapters.add();
    adapters.setPlainI2c(plainI2c);
    adapters.setFault(fault);
    adapters.setRegister(5, 0xA0);
    Rig rig;
    QCOMPARE(rig.init(), UsbStatus::Success);
    QTRY_COMPARE(rig.attached.size(), 1u);
    const std::uint32_t handle = rig.attached[0];

    QCOMPARE(rig.send(handle, request), UsbStatus::Success);
    QByteArray received;
    const std::uint32_t status = rig.receive(handle, received);
    if (reply == "gone") {
        QCOMPARE(status, UsbStatus::DeviceGone);
        QCOMPARE(rig.send(handle, request), UsbStatus::DeviceGone);
    } else {
        QCOMPARE(status, UsbStatus::Success);
        QCOMPARE(received.toHex(), reply);
    }
    QCOMPARE(adapters.transactions(), bus);
    QCOMPARE(adapters.registerValue(5), std::uint8_t(bus == QStringList{"w1c 05 3c"} ? 0x3C : 0xA0));
}

void I2cDevDriverTest::heldTransaction_data() {
    QTest::addColumn<bool>("unplug");
    QTest::newRow("chip holds the bus past the time-out") << false;
    QTest::newRow("adapter unplugged meanwhile") << true;
}

void I2cDevDriverTest::heldTransaction() {
    QFETCH(bool, unplug);
    EmulatedAdapter adapters;
    adapters.add();
    adapters.setRegister(5, 0xA0);
    adapters.setRegister(6, 0xB1);
    adapters.setStalled(true);
    Rig rig;
    QCOMPARE(rig.init(), UsbStatus::Success);
    QTRY_COMPARE(rig.attached.size(), 1u);
    const std::uint32_t handle = rig.attached[0];
    QCOMPARE(rig.send(handle, QByteArray::fromHex("013905")), UsbStatus::Success);
    QTRY_COMPARE(adapters.heldTransactions(), 1);
    if (unplug)
        adapters.remove();

    // Freed after 10 s at the latest, so that a lost time-out fails the test instead of hanging it.
    std::atomic<bool> returned = false;
    std::thread watchdog([&] {
        for (int i = 0; i < 2000 && !returned; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        adapters.setStalled(false);
    });
    QByteArray reply;
    const std::uint32_t status = rig.receive(handle, reply, 100);
    const std::uint32_t nextRequest = rig.send(handle, QByteArray::fromHex("013906"), 100);
    returned = true;
    watchdog.join();
    QVERIFY(reply.isEmpty());
    if (unplug) {
        QCOMPARE(status, UsbStatus::DeviceGone);
        QCOMPARE(nextRequest, UsbStatus::DeviceGone);
        QTRY_COMPARE(rig.detached, std::vector<std::uint32_t>{handle});
        adapters.setRegister(6, 0xB1, adapters.add()); // the place is free again, under a new handle
        QTRY_COMPARE(rig.attached.size(), 2u);
        QCOMPARE(rig.exchange(rig.attached[1], QByteArray::fromHex("013906")).toHex(), "00b1");
        return;
    }
    QCOMPARE(status, UsbStatus::Timeout);
    QCOMPARE(nextRequest, UsbStatus::Timeout); // the bus is still held
    // The late answer to register 5 must not pass for the answer to register 6.
    QCOMPARE(rig.exchange(handle, QByteArray::fromHex("013906")).toHex(), "00b1");
}

void I2cDevDriverTest::refusedAdapterAndClosing() {
    EmulatedAdapter adapters;
    adapters.add();
    adapters.add();
    Rig rig;
    rig.onAttach = [&rig](std::uint32_t) { return rig.attached.size() == 1; };
    QCOMPARE(rig.init(), UsbStatus::Success);
    QTRY_COMPARE(rig.attached.size(), 2u);
    DeviceInfo info;
    QCOMPARE(rig.driver.WDU_GetDeviceInfo(rig.attached[1], &info), UsbStatus::InvalidHandle);
    QCOMPARE(rig.exchange(rig.attached[0], QByteArray::fromHex("013900")).toHex(), "0000");
    rig.driver.WDU_VB_Uninit(rig.driverHandle);
    QCOMPARE(rig.driver.WDU_GetDeviceInfo(rig.attached[0], &info), UsbStatus::InvalidHandle);

    // Closed from inside a callback, the layer must neither crash nor offer the second adapter.
    rig.attached.clear();
    rig.onAttach = [&rig](std::uint32_t) {
        rig.driver.WDU_VB_Uninit(rig.driverHandle);
        return true;
    };
    QCOMPARE(rig.init(), UsbStatus::Success);
    QTRY_COMPARE(rig.attached.size(), 1u);
    QTest::qWait(100);
    QCOMPARE(rig.attached.size(), 1u);
}

int main(int argc, char** argv) {
    if (!EmulatedAdapter::underWrapper()) {
        std::fputs("Not under umockdev-wrapper: skipped\n", stderr);
        return 77;
    }
    QCoreApplication app(argc, argv);
    I2cDevDriverTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "I2cDevDriverTest.moc"
