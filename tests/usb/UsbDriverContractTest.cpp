// The contract of the USB layer (usb/UsbDriver.h): one table of cases, run on every backend, the simulator
// in-process and libusb and i2c-dev against devices emulated at the kernel interface. Each backend comes with
// a rig that plugs bridges in, unplugs them and makes them hold their replies; the cases see nothing else.
#include "EmulatedAdapter.h"
#include "EmulatedBridge.h"
#include "support/LayerRig.h"
#include "usb/HandOver.h"
#include "usb/i2cdev/I2cDevDriver.h"
#include "usb/libusb/LibusbDriver.h"
#include "usb/sim/SimUsbDriver.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#include <QTimer>

#include <sys/resource.h>
#include <unistd.h>

#include <functional>
#include <memory>

using namespace regbench::usb;
using regbench::tests::Layer;

namespace {

// A backend and the bridges behind it, numbered 0, 1, ... in the order they were plugged in.
struct Rig {
    virtual ~Rig() = default;
    virtual UsbDriver& driver() = 0;
    virtual void plug() = 0;
    virtual void unplug(int bridge) = 0;
    virtual void hold(bool on) = 0;     // bridge 0 answers no request until released
    virtual bool transferWaiting() = 0; // a transfer waits on bridge 0
    // Takes the permission of bridge 0's device node away, or grants it; false where there is no node.
    virtual bool deny(bool) { return false; }
    // Has another program hold bridge 0's interface, or let it go; false where nothing claims one.
    virtual bool takeClaim(bool) { return false; }
    virtual int reached() { return 0; }            // what reached bridge 0: its node's ioctls
    virtual void chipAt(std::uint8_t address) = 0; // where the chip behind every bridge answers
};

struct SimRig : Rig {
    SimRig() { sim.setAutoPlug(false); }
    UsbDriver& driver() override { return sim; }
    void plug() override { ids.push_back(sim.plugBridge()); }
    void unplug(int bridge) override { sim.unplugBridge(ids.at(static_cast<std::size_t>(bridge))); }
    void hold(bool on) override { sim.setDropReplies(on); }
    bool transferWaiting() override { return sim.transferWaiting(); }
    void chipAt(std::uint8_t address) override { sim.setChipAddress(address); }
    sim::SimUsbDriver sim;
    std::vector<int> ids;
};

template <class Emulation, class Backend> struct EmulatedRig : Rig {
    UsbDriver& driver() override { return backend; }
    void plug() override { devices.add(); }
    void unplug(int bridge) override { devices.remove(bridge); }
    void hold(bool on) override { devices.hold(on); }
    bool transferWaiting() override { return devices.waiting() > 0; }
    bool deny(bool on) override { return devices.deny(on); }
    int reached() override { return devices.ioctls(); }
    void chipAt(std::uint8_t address) override {
        devices.edit([address](auto& state) { state.chip = address; });
    }
    Emulation devices; // before the backend opens libusb or its udev monitor
    Backend backend;
};
struct LibusbRig : EmulatedRig<regbench::tests::EmulatedBridge, libusb::LibusbDriver> {
    bool takeClaim(bool on) override {
        devices.edit([on](regbench::tests::BridgeState& s) { s.claimTaken = on; });
        return true;
    }
};

// Plugs a bridge in and opens the layer, whose offer comes from the event loop, not from inside Init.
void attachOne(Rig& rig, Layer& layer) {
    rig.plug();
    QCOMPARE(layer.init(), UsbStatus::Success);
    QVERIFY(layer.attached.empty());
    QTRY_COMPARE(layer.attached.size(), 1u);
}

// Init's checks, arguments before state; a backend that cannot watch for devices says so instead of opening
// a session that never hears of one; closing only with the session's handle, once.
void openAndClose(Rig& rig, Layer& layer) {
    UsbDriver& d = layer.driver;
    rig.plug();
    const MatchEntry match{BridgeVendorId, BridgeProductId};
    std::uint32_t handle = 0xDEAD;
    // Called first also for UndefinedBehaviorSanitizer, whose first check of a virtual call needs a file
    // descriptor of its own.
    QCOMPARE(d.WDU_VB_Init(nullptr, &match, 1, {}, 1, nullptr), UsbStatus::InvalidArgument);
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    rlimit none = limit;
    none.rlim_cur = static_cast<rlim_t>(::dup(0)); // the lowest free descriptor: all below it are taken
    ::close(static_cast<int>(none.rlim_cur));
    setrlimit(RLIMIT_NOFILE, &none);
    const std::uint32_t deaf = layer.init();
    setrlimit(RLIMIT_NOFILE, &limit);
    QVERIFY(deaf != UsbStatus::Success);
    QCOMPARE(d.WDU_VB_Init(&handle, nullptr, 1, {}, 1, nullptr), UsbStatus::InvalidArgument);
    QCOMPARE(layer.init(), UsbStatus::Success);
    QCOMPARE(d.WDU_VB_Init(&handle, &match, 0, {}, 1, nullptr), UsbStatus::InvalidArgument);
    QCOMPARE(d.WDU_VB_Init(&handle, &match, 1, {}, 1, nullptr), UsbStatus::Busy);
    QCOMPARE(handle, 0xDEADu);
    QTRY_COMPARE(layer.attached.size(), 1u);
    d.WDU_VB_Uninit(layer.driverHandle + 1);
    QCOMPARE(layer.exchange(layer.attached[0], "00387f3c"), "00");
    layer.uninit();
    layer.uninit();
    QCOMPARE(layer.exchange(layer.attached[0], "01397f"), "error e0000001");
    QCOMPARE(layer.init(), UsbStatus::Success);
    QTRY_COMPARE(layer.attached.size(), 2u);
    QVERIFY(layer.attached[1] != layer.attached[0]);
    QVERIFY(layer.detached.empty());
}

// The handle works inside the callback, and transfers check their arguments before the handle and the
// device's pipes after it.
void offerAndTransfer(Rig& rig, Layer& layer) {
    UsbDriver& d = layer.driver;
    std::pair<std::uint32_t, std::uint32_t> inside{UsbStatus::Other, UsbStatus::Other};
    layer.onAttach = [&](std::uint32_t handle) {
        DeviceInfo info;
        inside = {d.WDU_GetDeviceInfo(handle, &info), d.WDU_SetInterface(handle, 0, 0)};
        return true;
    };
    attachOne(rig, layer);
    QCOMPARE(inside, std::pair(UsbStatus::Success, UsbStatus::Success));
    const std::vector<PipeInfo>& pipes = layer.infos[0].ActiveInterfaces.at(0).ActiveAltSetting.Pipes;
    QVERIFY(pipes.size() == 2 && pipes[0].Number == 0x02 && pipes[1].Number == 0x82);
    QVERIFY(pipes[0].Type == PipeType::Bulk && pipes[1].Type == PipeType::Bulk);
    const std::uint32_t h = layer.attached[0];
    QCOMPARE(layer.exchange(h, "00387f3c"), "00");
    QCOMPARE(layer.exchange(h, "013b7f"), "40ff"); // no chip answers at 0x1D
    QCOMPARE(layer.exchange(h, "01017f"), "80");   // nor is a reserved address put on the bus

    std::uint8_t byte = 0;
    std::uint32_t done = 0xDEAD;
    const auto transfer = [&](std::uint32_t handle, std::uint32_t pipe, std::uint32_t in, std::uint8_t* at) {
        return d.WDU_Transfer(handle, pipe, in, 0, at, 1, &done, {}, 1000);
    };
    QCOMPARE(transfer(0, 0x02, 2, &byte), UsbStatus::InvalidArgument);
    QCOMPARE(done, 0u);
    QCOMPARE(transfer(0, 0x02, 0, nullptr), UsbStatus::InvalidArgument);
    QCOMPARE(d.WDU_GetDeviceInfo(0, nullptr), UsbStatus::InvalidArgument);
    QCOMPARE(transfer(0, 0x02, 0, &byte), UsbStatus::InvalidHandle);
    QCOMPARE(transfer(h, 0x04, 0, &byte), UsbStatus::NotFound);
    QCOMPARE(transfer(h, 0x82, 0, &byte), UsbStatus::InvalidArgument);
    QCOMPARE(d.WDU_SetInterface(h, 1, 0), UsbStatus::NotFound);
    QCOMPARE(d.WDU_SetInterface(0, 0, 0), UsbStatus::InvalidHandle);

    std::uint8_t request[] = {0x01, 0x39, 0x7f}, reply[2] = {};
    QCOMPARE(d.WDU_Transfer(h, 0x02, 0, 0, request, 3, nullptr, {}, 30000), UsbStatus::Success);
    QCOMPARE(d.WDU_Transfer(h, 0x82, 1, 0, reply, 2, nullptr, {}, 30000), UsbStatus::Success);
    QVERIFY(reply[0] == 0 && reply[1] == 0x3c);
    // A request is carried out at the address it names: moved, the chip answers there and no longer here.
    rig.chipAt(0x48);
    QCOMPARE(layer.exchange(h, "00907f5a"), "00");
    QCOMPARE(layer.exchange(h, "01917f"), "005a");
    QCOMPARE(layer.exchange(h, "01397f"), "40ff");
}

// A refused device is released; a gone one answers DeviceGone for good and comes back under a new handle.
// Then nothing wakes the thread until the next event, or a core would spin: wake-ups are counted, as a loaded
// machine would blur CPU time; 1 when idle, about 100,000 when spinning.
void refusedAndGone(Rig& rig, Layer& layer) {
    rig.plug();
    rig.plug();
    layer.onAttach = [&layer](std::uint32_t) { return layer.attached.size() != 2; }; // refuses the second
    QCOMPARE(layer.init(), UsbStatus::Success);
    QTRY_COMPARE(layer.attached.size(), 2u);
    const std::uint32_t held = layer.attached[0], refused = layer.attached[1];
    DeviceInfo info;
    QCOMPARE(layer.driver.WDU_GetDeviceInfo(refused, &info), UsbStatus::InvalidHandle);
    QCOMPARE(layer.driver.WDU_GetDeviceInfo(held, &info), UsbStatus::Success);
    rig.unplug(0);
    rig.unplug(1);
    QTRY_COMPARE(layer.detached, std::vector{held});
    QCOMPARE(layer.driver.WDU_GetDeviceInfo(held, &info), UsbStatus::DeviceGone);
    rig.plug();
    QTRY_COMPARE(layer.attached.size(), 3u);
    QCOMPARE(layer.exchange(layer.attached[2], "00387f3c"), "00");
    QCOMPARE(layer.exchange(held, "01397f"), "error e0000002");
    QCOMPARE(layer.exchange(refused, "01397f"), "error e0000001");
    int wakes = 0;
    QEventLoop idle;
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake, &idle,
                     [&wakes] { ++wakes; });
    QTimer::singleShot(300, &idle, &QEventLoop::quit);
    idle.exec();
    QVERIFY2(wakes < 20, QByteArray::number(wakes));
}

// Sends a request whose reply bridge 0 holds and waits for the reply, ms at most, which ends with status and
// brings replyHex. Once the transfer waits, `then` runs from the event loop (a transfer's wait handles
// events) and must end the wait at once; without it, the wait lasts its time-out.
void awaitHeld(Rig& rig, Layer& layer, std::uint32_t status, const QByteArray& replyHex, std::uint32_t ms,
               const std::function<void()>& then = {}) {
    rig.hold(true);
    QByteArray request = QByteArray::fromHex("01397f"), reply(10, '\xEE');
    QCOMPARE(layer.transfer(layer.attached[0], 0x02, request), UsbStatus::Success);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (then && rig.transferWaiting()) {
            poll.stop();
            then();
        }
    });
    poll.start(5);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(layer.transfer(layer.attached[0], 0x82, reply, ms), status);
    QCOMPARE(reply.toHex(), replyHex);
    QVERIFY2(then ? clock.elapsed() < 5000 : clock.elapsed() >= ms - 10, QByteArray::number(clock.elapsed()));
}

// A reply that does not come times out, and a late one never passes for the answer to the next request.
// Unplugged while a transfer waits for its reply, the transfer ends at once.
void heldReply(Rig& rig, Layer& layer) {
    attachOne(rig, layer);
    const std::uint32_t h = layer.attached[0];
    awaitHeld(rig, layer, UsbStatus::Timeout, {}, 100);
    rig.hold(false);
    QCOMPARE(layer.exchange(h, "00387e11"), "00");
    QCOMPARE(layer.exchange(h, "01397e"), "0011");
    awaitHeld(rig, layer, UsbStatus::DeviceGone, {}, 5000, [&rig] { rig.unplug(0); });
    QTRY_COMPARE(layer.detached, std::vector{h});
}

// While a transfer waits, events go on (the poll runs), but arrivals wait for it to return; closing the
// layer ends the wait at once and drops the waiting arrival.
void closedMidTransfer(Rig& rig, Layer& layer) {
    attachOne(rig, layer);
    std::size_t attachedAtClose = 0;
    awaitHeld(rig, layer, UsbStatus::InvalidHandle, {}, 5000, [&] {
        rig.plug();
        QTimer::singleShot(150, [&] {
            attachedAtClose = layer.attached.size();
            layer.uninit();
        });
    });
    QCOMPARE(attachedAtClose, 1u);
    QTest::qWait(100);
    QVERIFY(layer.attached.size() == 1 && layer.detached.empty());
}

// A transfer asked for while another waits is refused and touches nothing of it: the first one's reply, once
// it comes, lands in the first one's buffer, and the second one's buffer and count stay as they were.
void secondWhileOneWaits(Rig& rig, Layer& layer) {
    attachOne(rig, layer);
    QCOMPARE(layer.exchange(layer.attached[0], "00387f5a"), "00");
    std::uint8_t other[] = {0x00, 0x38, 0x7e, 0x11};
    std::uint32_t moved = 0xDEAD, refused = UsbStatus::Success;
    awaitHeld(rig, layer, UsbStatus::Success, "005a", 5000, [&] {
        refused = layer.driver.WDU_Transfer(layer.attached[0], 0x82, 1, 0, other, 4, &moved, {}, 5000);
        rig.hold(false);
    });
    QCOMPARE(refused, UsbStatus::Busy);
    QVERIFY(other[0] == 0 && other[1] == 0x38 && other[2] == 0x7e && other[3] == 0x11 && moved == 0);
}

// Closing drops the arrivals not yet delivered, also when a callback closes the layer.
void closedWithArrivalsQueued(Rig& rig, Layer& layer) {
    rig.plug();
    rig.plug();
    QCOMPARE(layer.init(), UsbStatus::Success);
    layer.uninit();
    QTest::qWait(100);
    QVERIFY(layer.attached.empty());
    layer.onAttach = [&layer](std::uint32_t) {
        layer.uninit();
        return true;
    };
    QCOMPARE(layer.init(), UsbStatus::Success);
    QTRY_COMPARE(layer.attached.size(), 1u);
    QTest::qWait(100);
    QCOMPARE(layer.attached.size(), 1u);
    QCOMPARE(layer.exchange(layer.attached[0], "01397f"), "error e0000001");
}

// A bridge out of reach (its node without permission, its interface held by another program) is offered all
// the same, for the rule's sake; every access answers why, and a denied node is not even reached. Access
// possible meanwhile (the rule applied, the other program ended) works at the next access, without plugging
// in again. The test runs without root's rights (see main), so that file modes apply.
template <std::uint32_t Why> void outOfReachThenFreed(Rig& rig, Layer& layer) {
    const auto take = [&rig](bool on) { return Why == UsbStatus::Busy ? rig.takeClaim(on) : rig.deny(on); };
    rig.plug();
    if (!take(true))
        QSKIP("this backend has no device node to deny nor interface to claim");
    QCOMPARE(layer.init(), UsbStatus::Success);
    QTRY_COMPARE(layer.attached.size(), 1u);
    DeviceInfo info;
    QCOMPARE(layer.driver.WDU_GetDeviceInfo(layer.attached[0], &info), Why);
    QCOMPARE(layer.exchange(layer.attached[0], "013900"), "error " + QByteArray::number(Why, 16));
    QVERIFY(Why == UsbStatus::Busy || rig.reached() == 0);
    QVERIFY(layer.driver.VB_Stat2Str(UsbStatus::NoPermission).contains("60-regbench.rules"));
    QVERIFY(take(false));
    QCOMPARE(layer.exchange(layer.attached[0], "013900"), "0000");
}

template <class R> constexpr auto make = []() -> std::unique_ptr<Rig> { return std::make_unique<R>(); };
const std::pair<const char*, std::unique_ptr<Rig> (*)()> Backends[] = {
    {"sim", make<SimRig>},
    {"libusb", make<LibusbRig>},
    {"i2cdev", make<EmulatedRig<regbench::tests::EmulatedAdapter, i2cdev::I2cDevDriver>>}};

const std::pair<const char*, void (*)(Rig&, Layer&)> Cases[] = {
    {"open and close", openAndClose},
    {"offer and transfer", offerAndTransfer},
    {"refused and gone, then quiet", refusedAndGone},
    {"held reply, removed mid-transfer", heldReply},
    {"closed mid-transfer", closedMidTransfer},
    {"second transfer while one waits", secondWhileOneWaits},
    {"closed with arrivals queued", closedWithArrivalsQueued},
    {"denied, then granted", outOfReachThenFreed<UsbStatus::NoPermission>},
    {"claim refused, then freed", outOfReachThenFreed<UsbStatus::Busy>}};

} // namespace

class UsbDriverContractTest : public QObject {
    Q_OBJECT
private slots:
    void contract_data() {
        QTest::addColumn<int>("backend");
        QTest::addColumn<int>("test");
        for (int b = 0; b < int(std::size(Backends)); ++b)
            for (int c = 0; c < int(std::size(Cases)); ++c)
                QTest::addRow("%s: %s", Backends[b].first, Cases[c].first) << b << c;
    }

    void contract() {
        QFETCH(int, backend);
        QFETCH(int, test);
        const std::unique_ptr<Rig> rig = Backends[backend].second();
        Layer layer(rig->driver());
        Cases[test].second(*rig, layer);
    }

    // libusb's own: only the accepted bridge keeps its interface claimed, and closing releases it.
    void libusbClaimsOnlyTheHeldBridge() {
        LibusbRig rig;
        Layer layer(rig.backend);
        layer.onAttach = [&layer](std::uint32_t) { return layer.attached.size() == 1; };
        rig.plug();
        rig.plug();
        QCOMPARE(layer.init(), UsbStatus::Success);
        QTRY_COMPARE(layer.attached.size(), 2u);
        QCOMPARE(int(rig.devices.state(0).claimed) + int(rig.devices.state(1).claimed), 1);
        layer.uninit();
        QVERIFY(!rig.devices.state(0).claimed && !rig.devices.state(1).claimed);
    }

    // What is still queued when a work item closes the session goes with the hand-over, before the backend
    // tears its library down after it (libusb's device references, say).
    void handOverReleasesQueuedWorkWithItself() {
        std::unique_ptr<HandOver> handOver = HandOver::create();
        QVERIFY(handOver);
        auto held = std::make_shared<int>();
        const std::weak_ptr<int> watch = held;
        bool releasedWithIt = false;
        handOver->post([&] {
            handOver.reset();
            releasedWithIt = watch.expired();
        });
        handOver->post([held = std::move(held)] { QFAIL("ran after its hand-over went"); });
        QTRY_VERIFY(!handOver);
        QVERIFY(releasedWithIt);
    }
};

int main(int argc, char* argv[]) {
    return regbench::tests::runEmulated<QCoreApplication, UsbDriverContractTest>(argc, argv, true);
}

#include "UsbDriverContractTest.moc"
