#include "support/Testbed.h"

#include "EmulatedAdapter.h"

#include <linux/i2c-dev.h>
#include <linux/i2c.h>

#include <array>
#include <cerrno>
#include <cstddef>
#include <vector>

namespace regbench::tests {

namespace {

constexpr const char* SlaveKey = "i2c-slave-address";

QString message(bool read, unsigned address, const std::uint8_t* bytes, int length) {
    const QString to = QString::number(address, 16).rightJustified(2, QLatin1Char('0'));
    return read ? QStringLiteral("r%1[%2]").arg(to).arg(length)
                : "w" + to + ' ' + QByteArray(reinterpret_cast<const char*>(bytes), length).toHex(' ');
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

} // namespace

// One adapter and the chip on its bus.
struct AdapterDevice {
    AdapterBus state;
    std::uint8_t pointer = 0; // the chip's register address
    bool stalled = false;
    std::vector<UMockdevIoctlClient*> held;

    ~AdapterDevice() { unplug(); }
    void unplug() { endHeld(true); }
    void hold(bool on) {
        stalled = on;
        if (!on)
            endHeld(false);
    }
    int waiting() const { return static_cast<int>(held.size()); }

    void ioctl(UMockdevIoctlClient* client, bool removed) {
        if (removed)
            return umockdev_ioctl_client_complete(client, -1, ENODEV);
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
        switch (umockdev_ioctl_client_get_request(client)) {
        case I2C_FUNCS:
            *as<unsigned long>(resolve(arg, 0, sizeof(unsigned long))) =
                I2C_FUNC_SMBUS_BYTE_DATA | (state.plainI2c ? I2C_FUNC_I2C : 0);
            return umockdev_ioctl_client_complete(client, 0, 0);
        case I2C_SLAVE: { // the address is the argument itself; the kernel keeps it per open file
            const gsize address = *reinterpret_cast<gsize*>(arg->data);
            if (state.claimed && address == state.chip)
                return umockdev_ioctl_client_complete(client, -1, EBUSY);
            g_object_set_data(G_OBJECT(client), SlaveKey, GSIZE_TO_POINTER(address));
            return umockdev_ioctl_client_complete(client, 0, 0);
        }
        case I2C_RDWR:
        case I2C_SMBUS:
            if (!stalled)
                return transact(client);
            held.push_back(static_cast<UMockdevIoctlClient*>(g_object_ref(client)));
            return;
        default:
            return umockdev_ioctl_client_complete(client, -1, ENOTTY);
        }
    }
    void transact(UMockdevIoctlClient* client) {
        if (state.fault != 0)
            return umockdev_ioctl_client_complete(client, -1, state.fault);
        QStringList trace;
        const int result = umockdev_ioctl_client_get_request(client) == I2C_RDWR ? rdwr(client, trace)
                                                                                 : smbus(client, trace);
        state.transactions << trace.join(QStringLiteral(", "));
        umockdev_ioctl_client_complete(client, result < 0 ? -1 : result, result < 0 ? -result : 0);
    }
    // Returns the number of messages, or -errno. A message's fields are read before its buf is resolved,
    // which rewrites the pointer.
    int rdwr(UMockdevIoctlClient* client, QStringList& trace) {
        const Memory call = resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(i2c_rdwr_ioctl_data));
        const int count = static_cast<int>(as<i2c_rdwr_ioctl_data>(call)->nmsgs);
        const Memory msgs = resolve(call.get(), offsetof(i2c_rdwr_ioctl_data, msgs), count * sizeof(i2c_msg));
        for (int i = 0; i < count; ++i) {
            const i2c_msg m = as<i2c_msg>(msgs)[i];
            const Memory buffer = resolve(msgs.get(), i * sizeof(i2c_msg) + offsetof(i2c_msg, buf), m.len);
            std::uint8_t* bytes = as<std::uint8_t>(buffer);
            const bool read = (m.flags & I2C_M_RD) != 0;
            trace << message(read, m.addr, bytes, m.len);
            // Other flags change the bus's layout (no repeated start, a stop...), which no access needs.
            if ((m.flags & ~I2C_M_RD) != 0)
                return -EOPNOTSUPP;
            if (m.addr != state.chip)
                return -ENXIO;
            for (int k = 0; k < m.len; ++k) {
                if (read)
                    bytes[k] = state.registers[pointer++];
                else if (k == 0)
                    pointer = bytes[0];
                else
                    state.registers[pointer++] = bytes[k];
            }
        }
        return count;
    }
    int smbus(UMockdevIoctlClient* client, QStringList& trace) {
        const Memory call = resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(i2c_smbus_ioctl_data));
        const i2c_smbus_ioctl_data c = *as<i2c_smbus_ioctl_data>(call);
        const Memory data = resolve(call.get(), offsetof(i2c_smbus_ioctl_data, data), sizeof(i2c_smbus_data));
        std::uint8_t& value = as<i2c_smbus_data>(data)->byte;
        const auto slave = unsigned(GPOINTER_TO_SIZE(g_object_get_data(G_OBJECT(client), SlaveKey)));
        const std::array<std::uint8_t, 2> bytes = {c.command, value};
        const bool read = c.read_write == I2C_SMBUS_READ;
        trace << message(false, slave, bytes.data(), read ? 1 : 2); // the same bytes on the bus as I2C_RDWR's
        if (read)
            trace << message(true, slave, nullptr, 1);
        if (slave != state.chip || c.size != I2C_SMBUS_BYTE_DATA)
            return -ENXIO;
        if (read)
            value = state.registers[c.command];
        else
            state.registers[c.command] = value;
        return 0;
    }
    // Held transactions end with ENODEV when the adapter goes, or go on the bus when it resumes.
    void endHeld(bool removed) {
        for (UMockdevIoctlClient* client : held) {
            removed ? umockdev_ioctl_client_complete(client, -1, ENODEV) : transact(client);
            g_object_unref(client);
        }
        held.clear();
    }
};

template class Emulated<AdapterDevice, AdapterBus>;

int EmulatedAdapter::add(Parent parent, bool marked) {
    const int bus = bed_->count();
    // The records of the devices above, the nearest first as umockdev-record writes them; path ends at the
    // device the adapter hangs on. A driver is bound as the kernel shows it: the device's link to it.
    QString path = QStringLiteral("/devices"), above;
    QString chain = QString::fromLatin1(DevicesAbove.at(static_cast<std::size_t>(parent)));
    chain.replace(QStringLiteral("%1"), QStringLiteral("1-%1").arg(bus + 2))
        .replace("%2", QString::number(bus));
    for (const QString& device : chain.split(';')) {
        const QStringList f = device.split(' '); // name subsystem driver
        path += '/' + f[0];
        QString text = QStringLiteral("\nP: %1\nE: SUBSYSTEM=%2\n").arg(path, f[1]);
        if (f[1] == "usb" && !f[0].contains(':'))
            text += QStringLiteral("E: DEVTYPE=usb_device\nA: idVendor=%1\nA: idProduct=%2\n")
                        .arg(VendorId, 0, 16)
                        .arg(ProductId + bus, 0, 16);
        if (f[2] != "-")
            text += QStringLiteral("L: driver=%1bus/%2/drivers/%3\n")
                        .arg(QStringLiteral("../").repeated(path.count('/')), f[1], f[2]);
        above.prepend(text);
    }
    path += QStringLiteral("/i2c-") + QString::number(bus);
    // The device first and then its parents, as umockdev-record writes them; =00 makes the node a file.
    const QString text = QStringLiteral("P: %1/i2c-dev/i2c-%2\nN: i2c-%2=00\nE: SUBSYSTEM=i2c-dev\n"
                                        "E: DEVNAME=/dev/i2c-%2\nE: MAJOR=89\nE: MINOR=%2\n"
                                        "E: REGBENCH_I2C=%3\nA: dev=89:%2\n\nP: %1\nE: SUBSYSTEM=i2c\n"
                                        "E: DEVTYPE=i2c_adapter\n")
                             .arg(path, QString::number(bus), QString::number(int(marked)));
    return bed_->add("/dev/i2c-" + QByteArray::number(bus),
                     QStringLiteral("/sys%1/i2c-dev/i2c-%2").arg(path).arg(bus).toLatin1(),
                     (text + above).toLatin1());
}

void EmulatedAdapter::mark(int bus) {
    bed_->change(bus, "REGBENCH_I2C", "1");
}

} // namespace regbench::tests
