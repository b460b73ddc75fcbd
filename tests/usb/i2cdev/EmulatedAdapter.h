#pragma once

#include <QStringList>

#include <cstdint>
#include <memory>
#include <vector>

namespace regbench::tests {

// I2C adapters emulated at the kernel interface with umockdev, each with a chip at 0x1C on its bus: sysfs
// entries (under a USB device or a PCI one), a /dev/i2c-N node and its ioctls (I2C_FUNCS, I2C_SLAVE,
// I2C_RDWR, I2C_SMBUS) answered as the kernel and the chip would. Adapters are numbered as their buses,
// 0, 1, ... The process must run under umockdev-wrapper (see underWrapper). All members are thread-safe.
class EmulatedAdapter {
public:
    enum class Parent { Usb, Pci };
    static constexpr std::uint16_t VendorId = 0x1209;
    static constexpr std::uint16_t ProductId = 0x7A1C;

    // Sets up the empty testbed; create it before the layer opens its udev monitor.
    EmulatedAdapter();
    ~EmulatedAdapter();
    EmulatedAdapter(const EmulatedAdapter&) = delete;
    EmulatedAdapter& operator=(const EmulatedAdapter&) = delete;

    static bool underWrapper();

    // Plugs in an adapter; marked sets the udev property REGBENCH_I2C=1 on it. Returns its bus number. The
    // USB device of a USB adapter has the IDs VendorId and ProductId + its bus number.
    int add(Parent parent = Parent::Usb, bool marked = false);
    // Sets the mark afterwards and announces it with a "change" event, as `udevadm trigger` would.
    void mark(int bus);
    // Unplugs it: a "remove" event, transactions held by setStalled end with ENODEV, later ones too.
    void remove(int bus = 0);
    QString nodeFile(int bus = 0) const;

    void setRegister(std::uint8_t reg, std::uint8_t value, int bus = 0);
    std::uint8_t registerValue(std::uint8_t reg, int bus = 0) const;
    // false: I2C_FUNCS offers the SMBus byte-data calls but no plain I2C.
    void setPlainI2c(bool plain, int bus = 0);
    // Every transaction fails with this errno (0: none).
    void setFault(int error, int bus = 0);
    // Transactions wait, holding their caller in the ioctl, until this is turned off again.
    void setStalled(bool stalled, int bus = 0);
    int heldTransactions(int bus = 0) const;

    // Each transaction as it went on the bus, one message after another: "w1c 05, r1c[1]", "w1c 05 3c".
    QStringList transactions(int bus = 0) const;
    // Every ioctl that reached the node, transaction or not.
    int ioctls(int bus = 0) const;
    void clearRecords(int bus = 0);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace regbench::tests
