// The i2c-dev backend's own ways against adapters emulated at the kernel interface: which adapters it
// offers, how a request goes on the bus and how the bus's failures are answered. What every backend does is
// checked in tests/usb/UsbDriverContractTest.cpp.
#include "usb/i2cdev/I2cDevDriver.h"
#include "EmulatedAdapter.h"
#include "support/LayerRig.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <algorithm>
#include <cerrno>

using namespace regbench::usb;
using regbench::tests::EmulatedAdapter;
using enum EmulatedAdapter::Parent;

// A backend opened on the layer's rig.
struct Rig : regbench::tests::Layer {
    Rig() : Layer(backend) {}
    i2cdev::I2cDevDriver backend;
    std::size_t offered(std::uint16_t productId) const {
        return std::ranges::count(infos, productId, [](auto& i) { return i.Descriptor.idProduct; });
    }
};

// A read goes on the bus as a write of the address and a read after a repeated start, in one transaction.
constexpr const char* Read = "013905";
constexpr const char* Write = "0038053c";
constexpr const char* OnBusRead = "w1c 05, r1c[1]";
struct Transaction {
    const char* name;
    bool plainI2c; // false: the adapter offers the SMBus byte-data calls only
    int fault;     // errno of every transaction
    const char *request, *reply, *onBus;
    bool claimed = false; // a kernel driver binds to the chip after a first access
    std::uint8_t chip = 0x1C;
};
const Transaction Transactions[] = {
    {"write", true, 0, Write, "00", "w1c 05 3c"},
    {"no ack, EREMOTEIO", false, EREMOTEIO, Write, "40", ""},
    {"bus error, EIO", true, EIO, Read, "80ff", ""},
    {"chip claimed by a driver", true, 0, Read, "80ff", OnBusRead, true},
    {"chip claimed by a driver, SMBus only", false, 0, Write, "80", OnBusRead, true},
    {"write of a chip at 0x48, SMBus only", false, 0, "0090053c", "00", "w48 05 3c", false, 0x48},
    {"no chip at 0x1C, it is at 0x48", true, 0, Read, "40ff", "w1c 05", false, 0x48}};

class I2cDevDriverTest : public QObject {
    Q_OBJECT

private slots:
    void offersOnlyEligibleAdapters() {
        EmulatedAdapter adapters;
        adapters.add(TinyUsb);
        // Buses of parts that their drivers run: never to be touched.
        for (auto other : {TvTuner, VideoCapture, OtherUsb, Multiplexer, Pci})
            adapters.add(other);
        adapters.add(Pci, true);
        Rig rig;
        rig.onAttach = [&rig](std::uint32_t) { return rig.attached.size() != 4; };
        QCOMPARE(rig.init(), UsbStatus::Success);
        QTRY_COMPARE(rig.attached.size(), 2u);
        adapters.add(TvTuner);
        adapters.add(Cp2112);
        QTRY_COMPARE(rig.attached.size(), 3u); // events come in order: the unmarked bus 7 was passed over
        adapters.mark(7);
        QTRY_COMPARE(rig.attached.size(), 4u);

        const std::uint16_t usb = EmulatedAdapter::ProductId;
        QCOMPARE(rig.offered(0), 1u);
        QCOMPARE(rig.offered(usb) + rig.offered(usb + 7) + rig.offered(usb + 8), 3u);
        for (int bus = 0; bus < 9; ++bus)
            QCOMPARE(adapters.ioctls(bus), 0); // discovery probes nothing

        adapters.mark(7); // `udevadm trigger` again: a refusal stands
        adapters.add(TinyUsb);
        QTRY_COMPARE(rig.attached.size(), 5u);
        QCOMPARE(rig.offered(usb + 9), 1u); // and not bus 7 again before it
    }

    // The rule opens the adapters the layer takes, and besides them only the bridge and what is marked.
    void ruleOpensWhatIsTaken() {
        QFile file(QStringLiteral(REGBENCH_UDEV_RULE));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray rule = file.readAll();
        QByteArray opened;
        for (const auto driver : i2cdev::AdapterDrivers)
            opened += "DRIVERS==\"" + QByteArray(driver.data(), qsizetype(driver.size())) +
                      "\", TAG+=\"uaccess\"\n";
        QVERIFY(rule.contains(opened));
        QCOMPARE(rule.count("TAG+=\"uaccess\""), opened.count('\n') + 2);
    }

    void transaction_data() {
        QTest::addColumn<int>("row");
        for (int i = 0; i < int(std::size(Transactions)); ++i)
            QTest::newRow(Transactions[i].name) << i;
    }

    void transaction() {
        QFETCH(int, row);
        const Transaction& t = Transactions[row];
        EmulatedAdapter adapters;
        adapters.add();
        adapters.edit([&](auto& bus) {
            bus.plainI2c = t.plainI2c;
            bus.fault = t.fault;
            bus.registers[5] = 0xA0;
            bus.chip = t.chip;
        });
        Rig rig;
        QCOMPARE(rig.init(), UsbStatus::Success);
        QTRY_COMPARE(rig.attached.size(), 1u);
        if (t.claimed) { // after a first access; the kernel refuses only a claim, never I2C_RDWR or I2C_SMBUS
            QCOMPARE(rig.exchange(rig.attached[0], Read), "00a0");
            adapters.edit([](auto& bus) { bus.claimed = true; });
        }

        QCOMPARE(rig.exchange(rig.attached[0], t.request), QByteArray(t.reply));
        QCOMPARE(adapters.state().transactions.join(QLatin1Char(';')), QString(t.onBus));
        const bool written = QByteArray(t.request).startsWith("00") && QByteArray(t.reply) == "00";
        QCOMPARE(adapters.state().registers[5], std::uint8_t(written ? 0x3C : 0xA0));
    }

    // A chip at 0x48 read and written through the chosen adapter: on the bus, message for message what the
    // kernel's own tools send (they run as processes of their own, served by the same emulation).
    void sameTrafficAsI2cTools() {
#ifdef __SANITIZE_THREAD__
        QSKIP("ThreadSanitizer cannot start a process from one that runs threads; no thread of ours is in it");
#endif
        EmulatedAdapter adapters;
        adapters.add();
        adapters.add();
        adapters.edit([](auto& bus) { bus.chip = 0x48; }, 1);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // No sanitizer's runtime for them: they are not built with it.
        environment.insert("LD_PRELOAD",
                           environment.value("LD_PRELOAD").split(':').filter("umockdev").join(':'));
        for (const char* tool : {"i2cget -y 1 0x48 5", "i2cset -y 1 0x48 5 0x3c"}) {
            QStringList words = QString::fromLatin1(tool).split(' ');
            QProcess process;
            process.setProcessEnvironment(environment);
            process.start("/usr/sbin/" + words.takeFirst(), words);
            QVERIFY(process.waitForFinished(10000) && process.exitCode() == 0);
        }
        const QStringList byTools = adapters.state(1).transactions;
        Rig rig;
        rig.backend.chooseBus(1, {});
        QCOMPARE(rig.init(), UsbStatus::Success);
        QTRY_COMPARE(rig.attached.size(), 1u);
        QCOMPARE(rig.exchange(rig.attached[0], "019105"), "003c");
        QCOMPARE(rig.exchange(rig.attached[0], "0090053c"), "00");
        QCOMPARE(adapters.state(1).transactions, byTools + byTools); // the tools' messages, then the layer's
        QCOMPARE(byTools, (QStringList{"w48 05, r48[1]", "w48 05 3c"}));
    }

    // --bus: that adapter alone, and only while it is eligible; a bus that is not gets one line saying how
    // to mark it, and nothing goes to it.
    void chosenBus() {
        EmulatedAdapter adapters;
        for (auto parent : {TinyUsb, TinyUsb, Pci})
            adapters.add(parent);
        for (int bus : {1, 2}) {
            Rig rig;
            QStringList told;
            rig.backend.chooseBus(bus, [&told](const QString& line) { told << line; });
            QCOMPARE(rig.init(), UsbStatus::Success);
            // Adapters come in order: once bus 1 is offered or bus 2 told of, the others were passed over.
            QTRY_COMPARE(rig.attached.size() + std::size_t(told.size()), 1u);
            QCOMPARE(rig.attached.size(), bus == 1 ? 1u : 0u);
            QCOMPARE(rig.offered(EmulatedAdapter::ProductId + 1), bus == 1 ? 1u : 0u);
            QCOMPARE(told.size(), bus == 1 ? 0 : 1);
        }
        QCOMPARE(adapters.ioctls(2), 0);
        adapters.mark(2); // the rule told of, and `udevadm trigger`
        Rig rig;
        rig.backend.chooseBus(2, {});
        QCOMPARE(rig.init(), UsbStatus::Success);
        QTRY_COMPARE(rig.attached.size(), 1u);
    }
};

int main(int argc, char* argv[]) {
    return regbench::tests::runEmulated<QCoreApplication, I2cDevDriverTest>(argc, argv);
}

#include "I2cDevDriverTest.moc"
