#include "support/Testbed.h"

#include "EmulatedAdapter.h"

#include <QDir>
#include <QFile>

#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <deque>
#include <mutex>
#include <utility>
#include <vector>

namespace regbench::tests {

namespace {

constexpr unsigned ChipAddress = 0x1C;
constexpr const char* SlaveKey = "i2c-slave-address";

QString message(bool read, unsigned address, const std::uint8_t* bytes, int length) {
    const QString to = QString::number(address, 16).rightJustified(2, QLatin1Char('0'));
    if (read)
        return QStringLiteral("r%1[%2]").arg(to).arg(length);
    const QByteArray data(reinterpret_cast<const char*>(bytes), length);
    return QStringLiteral("w") + to + QLatin1Char(' ') + QString::fromLatin1(data.toHex(' '));
}

// A device that provides the adapter, or one beside it.
struct Provider {
    QString name;
    const char* subsystem;
    const char* devtype;
    const char* driver; // bound to it, or null
    bool beside = false;
    QString attributes = {}; // umockdev-record's "A:" lines
};

// One device in sysfs as umockdev-record writes it.
QString record(const QString& path, const Provider& p) {
    QString text = QStringLiteral("P: %1\nE: SUBSYSTEM=%2\n").arg(path, QLatin1String(p.subsystem));
    if (p.devtype != nullptr)
        text += QStringLiteral("E: DEVTYPE=%1\n").arg(QLatin1String(p.devtype));
    if (p.driver != nullptr)
        text += QStringLiteral("E: DRIVER=%1\n").arg(QLatin1String(p.driver));
    return text + p.attributes;
}

// From the top down; each device that is not beside the chain is the parent of the next.
std::vector<Provider> providers(EmulatedAdapter::Parent parent, int bus) {
    using P = EmulatedAdapter::Parent;
    if (parent == P::Pci)
        return {{QStringLiteral("pci0000:00/0000:00:1f.%1").arg(bus), "pci", nullptr, "i801_smbus"}};
    const QString usb = QStringLiteral("1-%1").arg(bus + 2);
    const QString interface = usb + QStringLiteral(":1.0");
    const QString ids = QStringLiteral("A: idVendor=%1\nA: idProduct=%2\n")
                            .arg(EmulatedAdapter::VendorId, 0, 16)
                            .arg(EmulatedAdapter::ProductId + bus, 0, 16);
    std::vector<Provider> chain = {{QStringLiteral("usb1/") + usb, "usb", "usb_device", "usb", false, ids}};
    const QString mux = QString::number(bus + 100);
    switch (parent) {
    case P::Cp2112:
        chain.push_back({interface, "usb", "usb_interface", "usbhid"});
        chain.push_back({QStringLiteral("0003:10C4:EA90.%1").arg(bus + 1, 4, 16, QLatin1Char('0')), "hid",
                         nullptr, "cp2112"});
        break;
    case P::TvTuner: // its bus hangs on the USB device; the tuner's driver holds the interface beside it
        chain.push_back({interface, "usb", "usb_interface", "dvb_usb_rtl28xxu", true});
        break;
    case P::Multiplexer:
        chain.push_back({interface, "usb", "usb_interface", "i2c-tiny-usb"});
        chain.push_back({QStringLiteral("i2c-") + mux, "i2c", "i2c_adapter", nullptr});
        chain.push_back({mux + QStringLiteral("-0070"), "i2c", "i2c_client", "pca954x"});
        break;
    default:
        chain.push_back({interface, "usb", "usb_interface",
                         parent == P::TinyUsb        ? "i2c-tiny-usb"
                         : parent == P::VideoCapture ? "em28xx"
                         : parent == P::Display      ? "udl"
                                                     : "acme_io"});
    }
    return chain;
}

// The kernel's link from a device's folder to its driver's, from which udev reads the driver's name.
void bind(const QString& sys, const QString& path, const char* bus, const char* driver) {
    const QString drivers =
        QStringLiteral("bus/%1/drivers/%2").arg(QLatin1String(bus), QLatin1String(driver));
    QDir(sys).mkpath(drivers);
    const QString up = QStringLiteral("../").repeated(static_cast<int>(path.count(QLatin1Char('/'))));
    ::symlink(QFile::encodeName(up + drivers).constData(),
              QFile::encodeName(sys + path + "/driver").constData());
}

// A resolved piece of the caller's memory, released at the end of the scope; changes go back on completion.
struct Memory {
    Memory(UMockdevIoctlData* from, std::size_t offset, std::size_t size)
        : data(umockdev_ioctl_data_resolve(from, offset, size, nullptr)) {}
    ~Memory() { g_object_unref(data); }
    template <typename T> T* as() const { return reinterpret_cast<T*>(data->data); }
    UMockdevIoctlData* data;
};

} // namespace

struct EmulatedAdapter::Impl {
    struct Adapter {
        Impl* owner = nullptr;
        Bus bus;
        UMockdevIoctlBase* handler = nullptr;
        QByteArray syspath; // its i2c-dev device
        QByteArray node;
        std::uint8_t pointer = 0; // the chip's register address
        bool stalled = false;
        bool removed = false;
        std::vector<UMockdevIoctlClient*> held;
    };

    static gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user) {
        auto* a = static_cast<Adapter*>(user);
        const std::lock_guard lock(a->owner->mutex);
        ++a->bus.ioctls;
        a->owner->handle(*a, client);
        return TRUE;
    }
    void handle(Adapter& a, UMockdevIoctlClient* client) {
        if (a.removed)
            return umockdev_ioctl_client_complete(client, -1, ENODEV);
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
        switch (umockdev_ioctl_client_get_request(client)) {
        case I2C_FUNCS:
            *Memory(arg, 0, sizeof(unsigned long)).as<unsigned long>() =
                I2C_FUNC_SMBUS_BYTE_DATA | (a.bus.plainI2c ? I2C_FUNC_I2C : 0);
            return umockdev_ioctl_client_complete(client, 0, 0);
        case I2C_SLAVE: // the address is the argument itself; the kernel keeps it per open file
        case I2C_SLAVE_FORCE: {
            const gsize address = *reinterpret_cast<gsize*>(arg->data);
            // Only FORCE takes an address that a driver holds.
            if (a.bus.claimed && address == ChipAddress &&
                umockdev_ioctl_client_get_request(client) == I2C_SLAVE)
                return umockdev_ioctl_client_complete(client, -1, EBUSY);
            g_object_set_data(G_OBJECT(client), SlaveKey, GSIZE_TO_POINTER(address));
            return umockdev_ioctl_client_complete(client, 0, 0);
        }
        case I2C_RDWR:
        case I2C_SMBUS:
            if (!a.stalled)
                return transact(a, client);
            a.held.push_back(static_cast<UMockdevIoctlClient*>(g_object_ref(client)));
            return;
        default:
            return umockdev_ioctl_client_complete(client, -1, ENOTTY);
        }
    }
    void transact(Adapter& a, UMockdevIoctlClient* client) {
        if (a.bus.fault != 0)
            return umockdev_ioctl_client_complete(client, -1, a.bus.fault);
        QStringList trace;
        const int result = umockdev_ioctl_client_get_request(client) == I2C_RDWR
                               ? rdwr(a, umockdev_ioctl_client_get_arg(client), trace)
                               : smbus(a, client, trace);
        a.bus.transactions << trace.join(QStringLiteral(", "));
        umockdev_ioctl_client_complete(client, result < 0 ? -1 : result, result < 0 ? -result : 0);
    }
    // Returns the number of messages, or -errno. A message's fields are read before its buf is resolved,
    // which rewrites the pointer.
    int rdwr(Adapter& a, UMockdevIoctlData* arg, QStringList& trace) {
        const Memory call(arg, 0, sizeof(i2c_rdwr_ioctl_data));
        const int count = static_cast<int>(call.as<i2c_rdwr_ioctl_data>()->nmsgs);
        const Memory messages(call.data, offsetof(i2c_rdwr_ioctl_data, msgs), count * sizeof(i2c_msg));
        for (int i = 0; i < count; ++i) {
            const i2c_msg m = messages.as<i2c_msg>()[i];
            const Memory buffer(messages.data, i * sizeof(i2c_msg) + offsetof(i2c_msg, buf), m.len);
            std::uint8_t* bytes = buffer.as<std::uint8_t>();
            const bool read = (m.flags & I2C_M_RD) != 0;
            trace << message(read, m.addr, bytes, m.len);
            // Any other flag changes what goes on the bus (no repeated start, a stop, a 10-bit address,
            // acknowledges ignored), which this adapter does not offer and no register access needs.
            if ((m.flags & ~I2C_M_RD) != 0)
                return -EOPNOTSUPP;
            if (m.addr != ChipAddress)
                return -ENXIO;
            for (int k = 0; k < m.len; ++k) {
                if (read)
                    bytes[k] = a.bus.registers[a.pointer++];
                else if (k == 0)
                    a.pointer = bytes[0];
                else
                    a.bus.registers[a.pointer++] = bytes[k];
            }
        }
        return count;
    }
    int smbus(Adapter& a, UMockdevIoctlClient* client, QStringList& trace) {
        const Memory call(umockdev_ioctl_client_get_arg(client), 0, sizeof(i2c_smbus_ioctl_data));
        const i2c_smbus_ioctl_data c = *call.as<i2c_smbus_ioctl_data>();
        const Memory data(call.data, offsetof(i2c_smbus_ioctl_data, data), sizeof(i2c_smbus_data));
        std::uint8_t& value = data.as<i2c_smbus_data>()->byte;
        const auto slave =
            static_cast<unsigned>(GPOINTER_TO_SIZE(g_object_get_data(G_OBJECT(client), SlaveKey)));
        const std::array<std::uint8_t, 2> bytes = {c.command, value};
        const bool read = c.read_write == I2C_SMBUS_READ;
        trace << message(false, slave, bytes.data(), read ? 1 : 2); // the same bytes on the bus as I2C_RDWR's
        if (read)
            trace << message(true, slave, nullptr, 1);
        if (slave != ChipAddress || c.size != I2C_SMBUS_BYTE_DATA)
            return -ENXIO;
        if (read)
            value = a.bus.registers[c.command];
        else
            a.bus.registers[c.command] = value;
        return 0;
    }
    void endHeld(Adapter& a, bool removed) {
        for (UMockdevIoctlClient* client : a.held) {
            removed ? umockdev_ioctl_client_complete(client, -1, ENODEV) : transact(a, client);
            g_object_unref(client);
        }
        a.held.clear();
    }
    Adapter& at(int bus) { return adapters.at(static_cast<std::size_t>(bus)); }

    mutable std::mutex mutex;
    Testbed testbed;
    std::deque<Adapter> adapters;
};

EmulatedAdapter::EmulatedAdapter() : d(std::make_unique<Impl>()) {}

EmulatedAdapter::~EmulatedAdapter() {
    {
        const std::lock_guard lock(d->mutex);
        for (Impl::Adapter& a : d->adapters) {
            g_signal_handlers_disconnect_by_data(a.handler, &a);
            d->endHeld(a, true);
        }
    }
    for (Impl::Adapter& a : d->adapters)
        g_object_unref(a.handler);
}

int EmulatedAdapter::add(Parent parent, bool marked) {
    const std::lock_guard lock(d->mutex);
    const int bus = static_cast<int>(d->adapters.size());
    const QByteArray n = QByteArray::number(bus);
    Impl::Adapter& a = d->adapters.emplace_back();
    a.owner = d.get();
    a.node = "/dev/i2c-" + n;
    a.handler = d->testbed.handle(a.node, &Impl::onIoctl, &a);
    // Written as umockdev-record does, the device first and then its parents; =00 makes the node a file.
    QString path = QStringLiteral("/devices");
    QString parents;
    std::vector<std::pair<QString, Provider>> bound;
    for (const Provider& p : providers(parent, bus)) {
        const QString at = path + QLatin1Char('/') + p.name;
        parents.prepend(QLatin1Char('\n') + record(at, p));
        if (p.driver != nullptr)
            bound.emplace_back(at, p);
        if (!p.beside)
            path = at;
    }
    path += QStringLiteral("/i2c-") + QString::number(bus);
    a.syspath = ("/sys" + path + "/i2c-dev/i2c-" + n).toLatin1();
    const QString text = QStringLiteral("P: %1/i2c-dev/i2c-%2\nN: i2c-%2=00\nE: SUBSYSTEM=i2c-dev\n"
                                        "E: DEVNAME=/dev/i2c-%2\nE: MAJOR=89\nE: MINOR=%2\n"
                                        "E: REGBENCH_I2C=%3\nA: dev=89:%2\n\n")
                             .arg(path)
                             .arg(bus)
                             .arg(marked ? 1 : 0) +
                         record(path, {{}, "i2c", "i2c_adapter", nullptr}) + parents;
    umockdev_testbed_add_from_string(d->testbed.get(), text.toLatin1().constData(), nullptr);
    for (const auto& [at, p] : bound)
        bind(d->testbed.root() + QStringLiteral("/sys"), at, p.subsystem, p.driver);
    return bus;
}

void EmulatedAdapter::mark(int bus) {
    const QByteArray syspath = [&] {
        const std::lock_guard lock(d->mutex);
        return d->at(bus).syspath;
    }();
    umockdev_testbed_set_property(d->testbed.get(), syspath.constData(), "REGBENCH_I2C", "1");
    umockdev_testbed_uevent(d->testbed.get(), syspath.constData(), "change");
}

void EmulatedAdapter::remove(int bus) {
    std::unique_lock lock(d->mutex);
    Impl::Adapter& a = d->at(bus);
    a.removed = true;
    d->endHeld(a, true);
    const QByteArray syspath = a.syspath;
    lock.unlock();
    d->testbed.remove(syspath);
}

QString EmulatedAdapter::nodeFile(int bus) const {
    return d->testbed.root() + QStringLiteral("/dev/i2c-%1").arg(bus);
}

EmulatedAdapter::Bus EmulatedAdapter::state(int bus) const {
    const std::lock_guard lock(d->mutex);
    return d->at(bus).bus;
}

void EmulatedAdapter::edit(const std::function<void(Bus&)>& change, int bus) {
    const std::lock_guard lock(d->mutex);
    change(d->at(bus).bus);
}

void EmulatedAdapter::setStalled(bool stalled, int bus) {
    const std::lock_guard lock(d->mutex);
    d->at(bus).stalled = stalled;
    if (!stalled)
        d->endHeld(d->at(bus), false);
}

int EmulatedAdapter::heldTransactions(int bus) const {
    const std::lock_guard lock(d->mutex);
    return static_cast<int>(d->at(bus).held.size());
}

} // namespace regbench::tests
