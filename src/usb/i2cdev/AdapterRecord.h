#pragma once

#include "usb/i2cdev/AdapterDrivers.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

namespace regbench::usb::i2cdev {

// What discovery learns of one i2c-dev node, without opening it.
struct AdapterRecord {
    std::string syspath;
    std::string devnode;        // /dev/i2c-N
    std::uint16_t vendorId = 0; // of the USB device the adapter sits on; 0 for none
    std::uint16_t productId = 0;
    std::string driver;  // bound to the nearest device above the adapter that has one: what provides it
    bool marked = false; // a udev rule set REGBENCH_I2C=1 on it

    // Only a USB-to-I2C adapter is plainly the user's to drive. The buses inside other devices (a TV tuner,
    // a display, a PC's SMBus, a multiplexer's channels) carry parts that their drivers run, so they are
    // left alone unless the administrator marked them.
    bool eligible() const {
        return marked || std::ranges::find(AdapterDrivers, driver) != AdapterDrivers.end();
    }
};

} // namespace regbench::usb::i2cdev
