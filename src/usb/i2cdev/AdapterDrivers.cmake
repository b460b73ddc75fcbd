# The kernel drivers of USB-to-I2C adapters, named as sysfs names the driver bound to the device that provides
# the adapter (what udev matches with DRIVERS). regbench-i2c takes the buses of these adapters, and of no other
# unless a rule of the administrator marks it; the udev rule gives the user at the seat exactly these. Both are
# generated from this list, so they cannot drift. Each name is the one in the kernel source beside it.
#
# Left out on purpose: the buses inside other USB devices (TV tuners, video grabbers, displays), and the
# USB-to-I2C bridges built into PCs (Intel's LJCA and USBIO, Nuvoton's NCT6694), whose buses carry the PC's own
# camera sensors and other parts that their drivers run. The RobotFuzz OSIF adapter hangs its bus on no device,
# so only a rule of the administrator can name it.
set(REGBENCH_I2C_ADAPTER_DRIVERS
    i2c-tiny-usb   # drivers/i2c/busses/i2c-tiny-usb.c: usb_driver
    i2c-diolan-u2c # drivers/i2c/busses/i2c-diolan-u2c.c: usb_driver, DRIVER_NAME
    dln2-i2c       # drivers/i2c/busses/i2c-dln2.c: platform_driver, on the interface of dln2
    i2c-cp2615     # drivers/i2c/busses/i2c-cp2615.c: usb_driver
    viperboard-i2c # drivers/i2c/busses/i2c-viperboard.c: platform_driver, on the interface of viperboard
    cp2112         # drivers/hid/hid-cp2112.c: hid_driver, on the HID device of a usbhid interface
    mcp2221        # drivers/hid/hid-mcp2221.c: hid_driver, likewise
    ft260)         # drivers/hid/hid-ft260.c: hid_driver, likewise
foreach(driver IN LISTS REGBENCH_I2C_ADAPTER_DRIVERS)
  # Written into a C++ string and a udev match as they are: no quotes, and nothing udev reads as a pattern.
  if(NOT driver MATCHES "^[A-Za-z0-9_.:-]+$")
    message(FATAL_ERROR "I2C adapter driver name '${driver}' would not be taken literally")
  endif()
endforeach()
