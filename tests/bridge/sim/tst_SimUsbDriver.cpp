#include "bridge/SimUsbDriver.h"

#include <QElapsedTimer>
#include <QTest>

#include <memory>

using regbench::bridge::DeviceInfo;
using regbench::bridge::SimChip;
using regbench::bridge::SimUsbDriver;
namespace UsbStatus = regbench::bridge::UsbStatus;
using Handles = std::vector<std::uint32_t>;

namespace {

const regbench::bridge::MatchEntry BridgeMatch{regbench::bridge::BridgeVendorId,
                                               regbench::bridge::BridgeProductId};

// What the callbacks saw; tests answer attach through `accept` and may hook work into it.
struct Events {
    Handles attached, detached;
    std::vector<void*> userData;
    bool accept = true;
    std::function<void()> duringAttach;

    regbench::bridge::EventTable table() {
        regbench::bridge::EventTable t;
        t.AttachCallback = [this](std::uint32_t handle, const DeviceInfo&, void* user) {
            attached.push_back(handle);
            userData.push_back(user);
            if (duringAttach) {
                duringAttach();
            }
            return accept;
        };
        t.DetachCallback = [this](std::uint32_t handle, void*) { detached.push_back(handle); };
        t.UserData = this;
        return t;
    }
};

struct Io {
    std::uint32_t status = 0;
    std::uint32_t count = 0;
    QByteArray data;
};

Io transfer(SimUsbDriver& sim, std::uint32_t handle, std::uint32_t pipe, QByteArray buffer) {
    Io io;
    auto* bytes = buffer.isEmpty() ? nullptr : reinterpret_cast<std::uint8_t*>(buffer.data());
    io.status = sim.WDU_Transfer(handle, pipe, pipe >> 7, 0, bytes, std::uint32_t(buffer.size()), &io.count,
                                 {}, 30000);
    io.data = buffer.left(io.count);
    return io;
}
Io send(SimUsbDriver& sim, std::uint32_t handle, const QByteArray& request) {
    return transfer(sim, handle, 0x02, request);
}
Io receive(SimUsbDriver& sim, std::uint32_t handle, int length = 10) {
    return transfer(sim, handle, 0x82, QByteArray(length, '\0'));
}

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

void settle() {
    // One pass handles what is posted; the second what the callbacks posted in turn.
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

enum class Fault { None, Status, Data, Length, Drop };

// One request and its reply, with a fault set on the bridge and a reply buffer of `length` bytes.
struct Exchange {
    const char* request;
    const char* reply;
    Fault fault = Fault::None;
    int value = 0;
    int length = 10;
    std::uint32_t status = UsbStatus::Success;
};

struct TransferCase {
    std::uint32_t handle, pipe, readFlag;
    bool nullBuffer;
    std::uint32_t length, status;
};

} // namespace

Q_DECLARE_METATYPE(Exchange)
Q_DECLARE_METATYPE(TransferCase)

class TestSimUsbDriver : public QObject {
    Q_OBJECT

    std::unique_ptr<SimUsbDriver> sim;
    std::unique_ptr<Events> events;
    std::uint32_t driverHandle = 0;

    std::uint32_t open() {
        return sim->WDU_VB_Init(&driverHandle, &BridgeMatch, 1, events->table(), 1, nullptr);
    }

    void setFault(Fault fault, int value, bool on) {
        const auto byte = on ? std::optional(std::uint8_t(value)) : std::nullopt;
        if (fault == Fault::Status) {
            sim->setReplyStatus(byte);
        } else if (fault == Fault::Data) {
            sim->setReplyData(byte);
        } else if (fault == Fault::Length) {
            sim->setReplyLength(on ? std::optional(value) : std::nullopt);
        } else if (fault == Fault::Drop) {
            sim->setDropReplies(on);
        }
    }

private slots:
    void init() {
        sim = std::make_unique<SimUsbDriver>();
        events = std::make_unique<Events>();
        sim->setTimeoutCap(0);
    }

    void exchange_data() {
        QTest::addColumn<Exchange>("c");
        const auto S = Fault::Status, D = Fault::Data, L = Fault::Length;
        QTest::newRow("read id") << Exchange{"013900", "00b7"};
        QTest::newRow("write") << Exchange{"00387f33", "00"};
        QTest::newRow("write read-only acked") << Exchange{"003800ff", "00"};
        QTest::newRow("read, write address") << Exchange{"013800", "40ff"};
        QTest::newRow("write, read address") << Exchange{"00397f33", "40"};
        QTest::newRow("unknown op") << Exchange{"02397f", "80"};
        QTest::newRow("read too long") << Exchange{"01397f00", "80"};
        QTest::newRow("empty") << Exchange{"", "80"};
        QTest::newRow("one short") << Exchange{"013900", "00", Fault::None, 0, 1, UsbStatus::Overflow};
        QTest::newRow("no buffer") << Exchange{"013900", "", Fault::None, 0, 0, UsbStatus::Overflow};
        QTest::newRow("status C0") << Exchange{"013900", "c0b7", S, 0xC0};
        QTest::newRow("status 3F, write") << Exchange{"00387f01", "3f", S, 0x3F};
        QTest::newRow("data") << Exchange{"013900", "0012", D, 0x12};
        QTest::newRow("data, write") << Exchange{"00387f01", "00", D, 0x12};
        QTest::newRow("short") << Exchange{"013900", "00", L, 1};
        QTest::newRow("empty reply") << Exchange{"013900", "", L, 0};
        QTest::newRow("padded") << Exchange{"013900", "00b7a5a5", L, 4};
        QTest::newRow("dropped") << Exchange{"013900", "", Fault::Drop, 1, 3, UsbStatus::Timeout};
    }
    void exchange() {
        QFETCH(Exchange, c);
        const QByteArray request = hex(c.request);
        open();
        setFault(c.fault, c.value, true);
        for (int round = 0; round < 2; ++round) { // faults are sticky
            QCOMPARE(send(*sim, 1, request).count, std::uint32_t(request.size()));
            const Io in = receive(*sim, 1, c.length);
            QCOMPARE(in.status, c.status);
            QCOMPARE(in.data, hex(c.reply));
        }
        QCOMPARE(sim->transfers().front().out, request);
        QCOMPARE(receive(*sim, 1).status, UsbStatus::Timeout); // taken, even when cut
        setFault(c.fault, c.value, false);
        send(*sim, 1, hex("013900"));
        QCOMPARE(receive(*sim, 1).data, hex("00b7"));
    }

    void onlyOneReplyIsKept() {
        open();
        send(*sim, 1, hex("013900"));
        send(*sim, 1, hex("013901"));
        QCOMPARE(receive(*sim, 1).data, hex("0012"));
        QCOMPARE(receive(*sim, 1).status, UsbStatus::Timeout);
        send(*sim, 1, hex("00387f01")); // its reply is lost, and must not answer the read
        send(*sim, 1, hex("01397f"));
        QCOMPARE(receive(*sim, 1).data, hex("0001"));
    }

    void transferChecks_data() {
        QTest::addColumn<TransferCase>("c");
        QTest::newRow("unknown handle") << TransferCase{7, 0x02, 0, false, 3, UsbStatus::InvalidHandle};
        QTest::newRow("null buffer") << TransferCase{1, 0x02, 0, true, 3, UsbStatus::InvalidArgument};
        QTest::newRow("null buffer, empty") << TransferCase{1, 0x02, 0, true, 0, UsbStatus::Success};
        QTest::newRow("pipe 0") << TransferCase{1, 0x00, 0, false, 3, UsbStatus::NotFound};
        QTest::newRow("read flag on OUT") << TransferCase{1, 0x02, 1, false, 3, UsbStatus::InvalidArgument};
        QTest::newRow("write flag on IN") << TransferCase{1, 0x82, 0, false, 3, UsbStatus::InvalidArgument};
    }
    void transferChecks() {
        QFETCH(TransferCase, c);
        open();
        std::uint8_t buffer[4] = {1, 0x39, 0, 0};
        std::uint32_t count = 0xDEAD;
        const std::array<std::uint8_t, 8> setup{1, 2, 3, 4, 5, 6, 7, 8};
        QCOMPARE(sim->WDU_Transfer(c.handle, c.pipe, c.readFlag, 5, c.nullBuffer ? nullptr : buffer, c.length,
                                   &count, setup, 1234),
                 c.status);
        QCOMPARE(count, c.status == UsbStatus::Success ? c.length : 0u);
        const SimUsbDriver::TransferRecord& r = sim->transfers().at(0);
        QVERIFY(r.handle == c.handle && r.pipe == c.pipe && r.readFlag == c.readFlag && r.options == 5);
        QVERIFY(r.length == c.length && r.timeoutMs == 1234 && r.bufferNull == c.nullBuffer &&
                r.setup == setup);
        QCOMPARE(r.status, c.status);
        QCOMPARE(sim->WDU_Transfer(1, 0x02, 0, 0, buffer, 3, nullptr, {}, 0), UsbStatus::InvalidArgument);
    }

    void deviceInfo_data() {
        QTest::addColumn<int>("endpoints");
        QTest::newRow("both pipes") << 2;
        QTest::newRow("OUT only") << 1;
        QTest::newRow("no pipes") << 0;
    }
    void deviceInfo() {
        QFETCH(int, endpoints);
        open();
        sim->setEndpointCount(endpoints);
        DeviceInfo info;
        QCOMPARE(sim->WDU_GetDeviceInfo(1, &info), UsbStatus::Success);
        const auto& setting = info.ActiveInterfaces.at(0).ActiveAltSetting;
        QVERIFY(setting.Descriptor.bNumEndpoints == endpoints && int(setting.Pipes.size()) == endpoints);
        QVERIFY(endpoints < 2 || (setting.Pipes[0].Number == 0x02 && setting.Pipes[1].Number == 0x82 &&
                                  setting.Pipes[1].MaximumPacketSize == 64));
        QCOMPARE(send(*sim, 1, hex("013900")).status, endpoints ? UsbStatus::Success : UsbStatus::NotFound);
        sim->setDeviceInfoStatus(UsbStatus::IoError);
        QCOMPARE(sim->WDU_GetDeviceInfo(1, &info), UsbStatus::IoError);
        QCOMPARE(sim->WDU_GetDeviceInfo(1, &info), UsbStatus::IoError); // sticky
        QCOMPARE(sim->deviceInfoCalls(), 3);
    }

    void initFaults() {
        sim->setInitStatus(UsbStatus::NoPermission);
        driverHandle = 0xAAAA;
        QCOMPARE(open(), UsbStatus::NoPermission);
        QCOMPARE(driverHandle, 0xAAAAu);
        settle();
        QVERIFY(events->attached.empty());
        sim->setInitStatus(0);
        sim->setDriverHandleValue(0x80000000u);
        QCOMPARE(open(), UsbStatus::Success);
        QCOMPARE(driverHandle, 0x80000000u);
        QCOMPARE(open(), UsbStatus::Busy);
    }

    void deliveryIsQueued() {
        sim->setAutoPlug(false);
        const int early = sim->plugBridge();
        QCOMPARE(open(), UsbStatus::Success);
        QVERIFY(events->attached.empty());
        QTRY_COMPARE(events->attached, Handles{sim->deviceHandle(early)});
        QCOMPARE(events->userData.at(0), static_cast<void*>(events.get()));
        const int stranger = sim->plugBridge(regbench::bridge::BridgeVendorId, 0xBEEF);
        const int second = sim->plugBridge();
        QCOMPARE(events->attached.size(), std::size_t{1});
        QTRY_COMPARE(events->attached, (Handles{1, 2}));
        settle();
        QCOMPARE(events->attached.size(), std::size_t{2});
        QVERIFY(sim->deviceHandle(second) == 2 && sim->deviceHandle(stranger) == 0);
    }

    void refusedHandleIsReleased() {
        events->accept = false;
        std::uint32_t duringOffer = 0xFFFF;
        events->duringAttach = [&] { duringOffer = sim->WDU_SetInterface(1, 0, 1); };
        open();
        QTRY_COMPARE(events->attached.size(), std::size_t{1});
        QCOMPARE(duringOffer, UsbStatus::Success); // the offered handle works before the answer
        QCOMPARE(send(*sim, 1, hex("013900")).status, UsbStatus::InvalidHandle);
        QCOMPARE(sim->heldDevice(), -1);
        sim->unplugBridge(1);
        settle();
        QVERIFY(events->detached.empty());
    }

    void unplugAndReplug() {
        open();
        QTRY_COMPARE(events->attached.size(), std::size_t{1});
        sim->unplugAfterRequests(2);
        send(*sim, 1, hex("013900"));
        QCOMPARE(receive(*sim, 1).status, UsbStatus::Success);
        QCOMPARE(send(*sim, 1, hex("013900")).status, UsbStatus::Success);
        QCOMPARE(receive(*sim, 1).status, UsbStatus::DeviceGone); // gone at once, told later
        QVERIFY(events->detached.empty());
        QTRY_COMPARE(events->detached, Handles{1});
        const int again = sim->plugBridge();
        QTRY_COMPARE(events->attached, (Handles{1, 2}));
        QCOMPARE(sim->heldDevice(), again);
        DeviceInfo info;
        QCOMPARE(sim->WDU_GetDeviceInfo(1, &info), UsbStatus::DeviceGone);
        QCOMPARE(sim->WDU_GetDeviceInfo(2, &info), UsbStatus::Success);
    }

    void nothingAfterUninit() {
        open();
        sim->WDU_VB_Uninit(driverHandle);
        settle();
        QVERIFY(events->attached.empty());
        QCOMPARE(send(*sim, 1, hex("013900")).status, UsbStatus::InvalidHandle);
        open();
        QTRY_COMPARE(events->attached, Handles{2}); // handles are never reused
        sim->WDU_VB_Uninit(driverHandle + 1);       // not ours: ignored
        QCOMPARE(send(*sim, 2, hex("013900")).status, UsbStatus::Success);
        sim->unplugBridge(sim->heldDevice());
        sim->WDU_VB_Uninit(driverHandle);
        settle();
        QVERIFY(events->detached.empty());
        QVERIFY(sim->uninitCalls() == 3 && sim->lastUninitHandle() == driverHandle);
    }

    void removalDuringAttachStillDetaches() {
        // The attach callback waits in a nested event loop, as a pause of the window does.
        events->duringAttach = [this] {
            sim->unplugBridge(1);
            settle();
        };
        open();
        QTRY_COMPARE(events->detached, Handles{1});
        settle();
        QCOMPARE(events->detached.size(), std::size_t{1});
    }

    void waitIsCappedButReal() {
        open();
        sim->setTimeoutCap(30);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(receive(*sim, 1).status, UsbStatus::Timeout);
        QVERIFY(timer.elapsed() >= 29);
    }
};

QTEST_GUILESS_MAIN(TestSimUsbDriver)
#include "tst_SimUsbDriver.moc"
