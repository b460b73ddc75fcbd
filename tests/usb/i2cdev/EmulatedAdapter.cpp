#include "support/Testbed.h"

#include "EmulatedAdapter.h"

#include "usb/BridgeProtocol.h"

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
#include <vector>

namespace regbench::tests {

namespace {

constexpr unsigned ChipAddress = usb::BridgeProtocol::ChipAddress;
constexpr const char* SlaveKey = "i2c-slave-address";

QString message(bool read, unsigned address, const std::uint8_t* bytes, int length) {
    const QString to = QString::number(address, 16).rightJustified(2, QLatin1Char('0'));
    if (read)
        return QStringLiteral("r%1[%2]").arg(to).arg(length);
    const QByteArray data(reinterpret_cast<const char*>(bytes), length);
    return QStringLiteral("w") + to + QLatin1Char(' ') + QString::fromLatin1(data.toHex(' '));
}

// The devices above an adapter, from the top, as "name subsystem driver" ("-" for none), in the order of
// Parent. %1 is the USB device's name, %2 the bus number.
constexpr std::array<const char*, 7> DevicesAbove = {
    "usb1/%1 usb usb;%1:1.0 usb i2c-tiny-usb",
    "usb1/%1 usb usb;%1:1.0 usb usbhid;0003:10C4:EA90.00%2 hid cp2112",
    "usb1/%1 usb usb",
    "usb1/%1 usb usb;%1:1.0 usb em28xx",
    "usb1/%1 usb usb;%1:1.0 usb acme_io",
    "usb1/%1 usb usb;%1:1.0 usb i2c-tiny-usb;i2c-9%2 i2c -;9%2-0070 i2c pca954x",
    "pci0000:00/0000:00:1f.%2 pci i801_smbus"};

// The records of the devices above an adapter, the nearest first as umockdev-record writes them; path ends
// at the device the adapter hangs on. A driver is bound as the kernel shows it: the device's link to it.
QString recordsAbove(EmulatedAdapter::Parent parent, int bus, const QString& sys, QString& path) {
    QString records;
    QString chain = QString::fromLatin1(DevicesAbove.at(static_cast<std::size_t>(parent)));
    chain.replace(QStringLiteral("%1"), QStringLiteral("1-%1").arg(bus + 2))
        .replace("%2", QString::number(bus));
    for (const QString& device : chain.split(';')) {
        const QStringList f = device.split(' '); // name subsystem driver
        path += '/' + f[0];
        QString text = QStringLiteral("\nP: %1\nE: SUBSYSTEM=%2\n").arg(path, f[1]);
        if (f[1] == "usb" && !f[0].contains(':'))
            text += QStringLiteral("E: DEVTYPE=usb_device\nA: idVendor=%1\nA: idProduct=%2\n")
                        .arg(EmulatedAdapter::VendorId, 0, 16)
                        .arg(EmulatedAdapter::ProductId + bus, 0, 16);
        records.prepend(text);
        const QString drivers = QStringLiteral("bus/%1/drivers/%2").arg(f[1], f[2]);
        if (f[2] != "-" && QDir(sys).mkpath(drivers) && QDir(sys).mkpath(path.mid(1)))
            ::symlink(
                QFile::encodeName(QStringLiteral("../").repeated(path.count('/')) + drivers).constData(),
                QFile::encodeName(sys + path + QStringLiteral("/driver")).constData());
    }
    return records;
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
        case I2C_SLAVE:         // the address is the argument itself; the kernel keeps it per open file
        case I2C_SLAVE_FORCE: { // only FORCE takes an address that a driver holds
            const gsize address = *reinterpret_cast<gsize*>(arg->data);
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
            // Other flags change the bus's layout (no repeated start, a stop...), which no access needs.
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
    QString path = QStringLiteral("/devices");
    const QString above = recordsAbove(parent, bus, d->testbed.root() + QStringLiteral("/sys"), path);
    path += QStringLiteral("/i2c-") + QString::number(bus);
    a.syspath = ("/sys" + path + "/i2c-dev/i2c-" + n).toLatin1();
    // The device first and then its parents, as umockdev-record writes them; =00 makes the node a file.
    const QString text = QStringLiteral("P: %1/i2c-dev/i2c-%2\nN: i2c-%2=00\nE: SUBSYSTEM=i2c-dev\n"
                                        "E: DEVNAME=/dev/i2c-%2\nE: MAJOR=89\nE: MINOR=%2\n"
                                        "E: REGBENCH_I2C=%3\nA: dev=89:%2\n\nP: %1\nE: SUBSYSTEM=i2c\n"
                                        "E: DEVTYPE=i2c_adapter\n")
                             .arg(path)
                             .arg(bus)
                             .arg(marked ? 1 : 0);
    umockdev_testbed_add_from_string(d->testbed.get(), (text + above).toLatin1().constData(), nullptr);
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
