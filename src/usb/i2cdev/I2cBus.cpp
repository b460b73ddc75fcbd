#include "usb/i2cdev/I2cBus.h"

#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <sys/ioctl.h>

#include <array>
#include <cerrno>
#include <utility>

namespace regbench::usb::i2cdev {

namespace {

constexpr unsigned long ByteData = I2C_FUNC_SMBUS_READ_BYTE_DATA | I2C_FUNC_SMBUS_WRITE_BYTE_DATA;

// The kernel answers with the number of messages it moved; anything short of all of them is a failed
// transfer.
int rdwr(int fd, i2c_msg* messages, int count) {
    i2c_rdwr_ioctl_data data{messages, static_cast<__u32>(count)};
    const int result = ::ioctl(fd, I2C_RDWR, &data);
    if (result < 0)
        return errno;
    return result == count ? 0 : EIO;
}

} // namespace

I2cBus::I2cBus(FileDescriptor node) : node_(std::move(node)) {}

int I2cBus::prepare(std::uint8_t chip) {
    if (!functionsKnown_) {
        unsigned long functions = 0;
        if (::ioctl(node_.get(), I2C_FUNCS, &functions) < 0)
            return errno;
        plainI2c_ = (functions & I2C_FUNC_I2C) != 0;
        if (!plainI2c_ && (functions & ByteData) != ByteData)
            return EOPNOTSUPP;
        functionsKnown_ = true;
    }
    // The kernel looks for a driver holding the address only here, never at I2C_RDWR or I2C_SMBUS, so the
    // claim is made before every access, as i2c-tools do: a driver that binds to the chip between two
    // accesses refuses the next one. Without FORCE: EBUSY then says that the chip is that driver's.
    if (::ioctl(node_.get(), I2C_SLAVE, static_cast<unsigned long>(chip)) < 0)
        return errno;
    return 0;
}

int I2cBus::readRegister(std::uint8_t chip, std::uint8_t reg, std::uint8_t& value) {
    if (const int error = prepare(chip); error != 0)
        return error;
    if (!plainI2c_)
        return smbusByteData(I2C_SMBUS_READ, reg, value);
    std::uint8_t address = reg;
    std::array<i2c_msg, 2> messages = {{{chip, 0, 1, &address}, {chip, I2C_M_RD, 1, &value}}};
    return rdwr(node_.get(), messages.data(), static_cast<int>(messages.size()));
}

int I2cBus::writeRegister(std::uint8_t chip, std::uint8_t reg, std::uint8_t value) {
    if (const int error = prepare(chip); error != 0)
        return error;
    if (!plainI2c_)
        return smbusByteData(I2C_SMBUS_WRITE, reg, value);
    std::array<std::uint8_t, 2> bytes = {reg, value};
    i2c_msg message{chip, 0, 2, bytes.data()};
    return rdwr(node_.get(), &message, 1);
}

int I2cBus::smbusByteData(std::uint8_t readWrite, std::uint8_t reg, std::uint8_t& value) {
    i2c_smbus_data data{};
    data.byte = value;
    i2c_smbus_ioctl_data args{readWrite, reg, I2C_SMBUS_BYTE_DATA, &data};
    if (::ioctl(node_.get(), I2C_SMBUS, &args) < 0)
        return errno;
    if (readWrite == I2C_SMBUS_READ)
        value = data.byte;
    return 0;
}

} // namespace regbench::usb::i2cdev
