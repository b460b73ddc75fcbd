#pragma once

#include <cstdint>
#include <string>

namespace regbench::usb::i2cdev {

// What discovery learns of one i2c-dev node, without opening it.
struct AdapterRecord {
    std::string syspath;
    std::string devnode; // /dev/i2c-N
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    bool onUsb = false;  // the adapter sits on a USB device
    bool marked = false; // a udev rule set REGBENCH_I2C=1 on it

    // A bus that is not plainly a user-attached adapter is left alone unless the administrator marked it.
    bool eligible() const { return onUsb || marked; }
};

} // namespace regbench::usb::i2cdev
