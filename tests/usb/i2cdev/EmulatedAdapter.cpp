// Before any Qt header, which would turn glib's "signals" members into a keyword.
#include <umockdev.h>

#include "EmulatedAdapter.h"

#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <deque>
#include <mutex>

namespace regbench::tests {

namespace {

constexpr unsigned ChipAddress = 0x1C;
constexpr const char* SlaveKey = "i2c-slave-address";

QString address(unsigned value) {
    return QString::number(value, 16).rightJustified(2, QLatin1Char('0'));
}

QString written(unsigned to, const std::uint8_t* bytes, int length) {
    const QByteArray data(reinterpret_cast<const char*>(bytes), length);
    return QStringLiteral("w") + address(to) + QLatin1Char(' ') + QString::fromLatin1(data.toHex(' '));
}

QString read(unsigned from, int length) {
    return QStringLiteral("r%1[%2]").arg(address(from)).arg(length);
}

} // namespace

struct EmulatedAdapter::Impl {
    struct Adapter {
        Impl* owner = nullptr;
        UMockdevIoctlBase* handler = nullptr;
        QByteArray top;     // the first device of its sysfs chain
        QByteArray syspath; // its i2c-dev device
        QByteArray node;
        std::array<std::uint8_t, 256> registers{};
        std::uint8_t pointer = 0; // the chip's register address
        bool plainI2c = true;
        int fault = 0;
        bool stalled = false;
        bool removed = false;
        std::vector<UMockdevIoctlClient*> held;
        QStringList transactions;
        int ioctls = 0;
    };

    static gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user);
    void handle(Adapter& a, UMockdevIoctlClient* client);
    void transact(Adapter& a, UMockdevIoctlClient* client);
    int rdwr(Adapter& a, UMockdevIoctlData* arg, QStringList& trace);
    int smbus(Adapter& a, UMockdevIoctlClient* client, QStringList& trace);
    QByteArray addDevice(const char* subsystem, const QByteArray& name, const QByteArray& parent,
                         const char* attribute, const char* value, const char* devtype);
    Adapter& at(int bus) { return adapters.at(static_cast<std::size_t>(bus)); }

    mutable std::mutex mutex;
    UMockdevTestbed* testbed = nullptr;
    std::deque<Adapter> adapters;
};

gboolean EmulatedAdapter::Impl::onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user) {
    auto* a = static_cast<Adapter*>(user);
    const std::lock_guard lock(a->owner->mutex);
    ++a->ioctls;
    a->owner->handle(*a, client);
    return TRUE;
}

void EmulatedAdapter::Impl::handle(Adapter& a, UMockdevIoctlClient* client) {
    if (a.removed)
        return umockdev_ioctl_client_complete(client, -1, ENODEV);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    switch (umockdev_ioctl_client_get_request(client)) {
    case I2C_FUNCS: {
        UMockdevIoctlData* functions = umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned long), nullptr);
        const unsigned long value = I2C_FUNC_SMBUS_BYTE_DATA | (a.plainI2c ? I2C_FUNC_I2C : 0);
        std::memcpy(functions->data, &value, sizeof value);
        g_object_unref(functions);
        return umockdev_ioctl_client_complete(client, 0, 0);
    }
    case I2C_SLAVE: // the address is the argument itself; the kernel keeps it per open file
    case I2C_SLAVE_FORCE: {
        unsigned long slave = 0;
        std::memcpy(&slave, arg->data, sizeof slave);
        g_object_set_data(G_OBJECT(client), SlaveKey, GUINT_TO_POINTER(slave));
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

void EmulatedAdapter::Impl::transact(Adapter& a, UMockdevIoctlClient* client) {
    if (a.fault != 0)
        return umockdev_ioctl_client_complete(client, -1, a.fault);
    QStringList trace;
    int result = 0;
    if (umockdev_ioctl_client_get_request(client) == I2C_RDWR)
        result = rdwr(a, umockdev_ioctl_client_get_arg(client), trace);
    else
        result = smbus(a, client, trace);
    a.transactions.push_back(trace.join(QStringLiteral(", ")));
    umockdev_ioctl_client_complete(client, result < 0 ? -1 : result, result < 0 ? -result : 0);
}

// Returns the number of messages, or -errno. Fields are read before buf is resolved, which rewrites it.
int EmulatedAdapter::Impl::rdwr(Adapter& a, UMockdevIoctlData* arg, QStringList& trace) {
    UMockdevIoctlData* data = umockdev_ioctl_data_resolve(arg, 0, sizeof(i2c_rdwr_ioctl_data), nullptr);
    const int count = static_cast<int>(reinterpret_cast<i2c_rdwr_ioctl_data*>(data->data)->nmsgs);
    UMockdevIoctlData* messages = umockdev_ioctl_data_resolve(data, offsetof(i2c_rdwr_ioctl_data, msgs),
                                                              count * sizeof(i2c_msg), nullptr);
    bool acknowledged = true;
    for (int i = 0; i < count && acknowledged; ++i) {
        const i2c_msg m = reinterpret_cast<i2c_msg*>(messages->data)[i];
        UMockdevIoctlData* buffer = umockdev_ioctl_data_resolve(
            messages, i * sizeof(i2c_msg) + offsetof(i2c_msg, buf), m.len, nullptr);
        acknowledged = m.addr == ChipAddress;
        const bool reading = (m.flags & I2C_M_RD) != 0;
        trace << (reading ? read(m.addr, m.len) : written(m.addr, buffer->data, m.len));
        for (int k = 0; k < m.len && acknowledged; ++k) {
            if (reading)
                buffer->data[k] = a.registers[a.pointer++];
            else if (k == 0)
                a.pointer = buffer->data[0];
            else
                a.registers[a.pointer++] = buffer->data[k];
        }
        g_object_unref(buffer);
    }
    g_object_unref(messages);
    g_object_unref(data);
    return acknowledged ? count : -ENXIO;
}

int EmulatedAdapter::Impl::smbus(Adapter& a, UMockdevIoctlClient* client, QStringList& trace) {
    UMockdevIoctlData* args = umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0,
                                                          sizeof(i2c_smbus_ioctl_data), nullptr);
    const i2c_smbus_ioctl_data call = *reinterpret_cast<i2c_smbus_ioctl_data*>(args->data);
    UMockdevIoctlData* data = umockdev_ioctl_data_resolve(args, offsetof(i2c_smbus_ioctl_data, data),
                                                          sizeof(i2c_smbus_data), nullptr);
    auto* value = reinterpret_cast<i2c_smbus_data*>(data->data);
    const unsigned slave = GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(client), SlaveKey));
    const bool acknowledged = slave == ChipAddress && call.size == I2C_SMBUS_BYTE_DATA;
    if (call.read_write == I2C_SMBUS_READ) {
        trace << written(slave, &call.command, 1) << read(slave, 1);
        if (acknowledged)
            value->byte = a.registers[call.command];
    } else {
        const std::array<std::uint8_t, 2> bytes = {call.command, value->byte};
        trace << written(slave, bytes.data(), 2);
        if (acknowledged)
            a.registers[call.command] = value->byte;
    }
    g_object_unref(data);
    g_object_unref(args);
    return acknowledged ? 0 : -ENXIO;
}

QByteArray EmulatedAdapter::Impl::addDevice(const char* subsystem, const QByteArray& name,
                                            const QByteArray& parent, const char* attribute,
                                            const char* value, const char* devtype) {
    gchar* path = umockdev_testbed_add_device(
        testbed, subsystem, name.constData(), parent.isEmpty() ? nullptr : parent.constData(), attribute,
        value, nullptr, devtype != nullptr ? "DEVTYPE" : nullptr, devtype, nullptr);
    const QByteArray result(path);
    g_free(path);
    return result;
}

EmulatedAdapter::EmulatedAdapter() : d(std::make_unique<Impl>()) {
    d->testbed = umockdev_testbed_new();
}

EmulatedAdapter::~EmulatedAdapter() {
    {
        const std::lock_guard lock(d->mutex);
        for (Impl::Adapter& a : d->adapters) {
            g_signal_handlers_disconnect_by_data(a.handler, &a);
            for (UMockdevIoctlClient* client : a.held) {
                umockdev_ioctl_client_complete(client, -1, ENODEV);
                g_object_unref(client);
            }
        }
    }
    g_object_unref(d->testbed);
    for (Impl::Adapter& a : d->adapters)
        g_object_unref(a.handler);
}

bool EmulatedAdapter::underWrapper() {
    return qgetenv("LD_PRELOAD").contains("libumockdev-preload");
}

int EmulatedAdapter::add(Parent parent, bool marked) {
    const std::lock_guard lock(d->mutex);
    const int bus = static_cast<int>(d->adapters.size());
    const QByteArray n = QByteArray::number(bus);
    Impl::Adapter& a = d->adapters.emplace_back();
    a.owner = d.get();
    a.node = "/dev/i2c-" + n;
    a.handler = umockdev_ioctl_base_new();
    g_signal_connect(a.handler, "handle-ioctl", reinterpret_cast<GCallback>(&Impl::onIoctl), &a);
    umockdev_testbed_attach_ioctl(d->testbed, a.node.constData(), a.handler, nullptr); // before the node
    QByteArray below;
    if (parent == Parent::Usb) {
        const QByteArray usb = "1-" + QByteArray::number(bus + 2);
        const QByteArray vid = QByteArray::number(VendorId, 16).rightJustified(4, '0');
        const QByteArray pid = QByteArray::number(ProductId + bus, 16).rightJustified(4, '0');
        a.top = d->addDevice("usb", "usb1/" + usb, {}, "idVendor", vid.constData(), "usb_device");
        umockdev_testbed_set_attribute(d->testbed, a.top.constData(), "idProduct", pid.constData());
        below = d->addDevice("usb", usb + ":1.0", a.top, "bInterfaceNumber", "00", "usb_interface");
    } else {
        a.top = d->addDevice("pci", "pci0000:00/0000:00:1f." + n, {}, "vendor", "0x8086", nullptr);
        below = a.top;
    }
    const QByteArray adapter = d->addDevice("i2c", "i2c-" + n, below, "name", "Emulated", "i2c_adapter");
    gchar* path = umockdev_testbed_add_device(
        d->testbed, "i2c-dev", ("i2c-dev/i2c-" + n).constData(), adapter.constData(), "name", "Emulated",
        "dev", ("89:" + n).constData(), nullptr, "DEVNAME", a.node.constData(), "MAJOR", "89", "MINOR",
        n.constData(), marked ? "REGBENCH_I2C" : nullptr, "1", nullptr);
    a.syspath = path;
    g_free(path);
    // The testbed records the node's numbers but makes no file for it.
    gchar* root = umockdev_testbed_get_root_dir(d->testbed);
    const QByteArray file = QByteArray(root) + a.node;
    g_mkdir_with_parents((QByteArray(root) + "/dev").constData(), 0755);
    g_file_set_contents(file.constData(), "", 0, nullptr);
    g_free(root);
    return bus;
}

void EmulatedAdapter::mark(int bus) {
    QByteArray syspath;
    {
        const std::lock_guard lock(d->mutex);
        syspath = d->at(bus).syspath;
    }
    umockdev_testbed_set_property(d->testbed, syspath.constData(), "REGBENCH_I2C", "1");
    umockdev_testbed_uevent(d->testbed, syspath.constData(), "change");
}

void EmulatedAdapter::remove(int bus) {
    QByteArray syspath;
    QByteArray top;
    QString file = nodeFile(bus);
    {
        const std::lock_guard lock(d->mutex);
        Impl::Adapter& a = d->at(bus);
        a.removed = true;
        for (UMockdevIoctlClient* client : a.held) {
            umockdev_ioctl_client_complete(client, -1, ENODEV);
            g_object_unref(client);
        }
        a.held.clear();
        syspath = a.syspath;
        top = a.top;
    }
    // The event needs the device's properties, so it goes out before the device is taken away.
    umockdev_testbed_uevent(d->testbed, syspath.constData(), "remove");
    umockdev_testbed_remove_device(d->testbed, top.constData());
    ::unlink(file.toLocal8Bit().constData());
}

QString EmulatedAdapter::nodeFile(int bus) const {
    const std::lock_guard lock(d->mutex);
    gchar* root = umockdev_testbed_get_root_dir(d->testbed);
    const QString file = QString::fromUtf8(root) + QString::fromLatin1(d->at(bus).node);
    g_free(root);
    return file;
}

void EmulatedAdapter::setRegister(std::uint8_t reg, std::uint8_t value, int bus) {
    const std::lock_guard lock(d->mutex);
    d->at(bus).registers[reg] = value;
}

std::uint8_t EmulatedAdapter::registerValue(std::uint8_t reg, int bus) const {
    const std::lock_guard lock(d->mutex);
    return d->adapters.at(static_cast<std::size_t>(bus)).registers[reg];
}

void EmulatedAdapter::setPlainI2c(bool plain, int bus) {
    const std::lock_guard lock(d->mutex);
    d->at(bus).plainI2c = plain;
}

void EmulatedAdapter::setFault(int error, int bus) {
    const std::lock_guard lock(d->mutex);
    d->at(bus).fault = error;
}

void EmulatedAdapter::setStalled(bool stalled, int bus) {
    const std::lock_guard lock(d->mutex);
    Impl::Adapter& a = d->at(bus);
    a.stalled = stalled;
    if (stalled)
        return;
    for (UMockdevIoctlClient* client : a.held) {
        d->transact(a, client);
        g_object_unref(client);
    }
    a.held.clear();
}

int EmulatedAdapter::heldTransactions(int bus) const {
    const std::lock_guard lock(d->mutex);
    return static_cast<int>(d->adapters.at(static_cast<std::size_t>(bus)).held.size());
}

QStringList EmulatedAdapter::transactions(int bus) const {
    const std::lock_guard lock(d->mutex);
    return d->adapters.at(static_cast<std::size_t>(bus)).transactions;
}

int EmulatedAdapter::ioctls(int bus) const {
    const std::lock_guard lock(d->mutex);
    return d->adapters.at(static_cast<std::size_t>(bus)).ioctls;
}

void EmulatedAdapter::clearRecords(int bus) {
    const std::lock_guard lock(d->mutex);
    d->at(bus).transactions.clear();
    d->at(bus).ioctls = 0;
}

} // namespace regbench::tests
