# The libusb backend: the regbench_libusb library, and the udev rule that lets the logged-in user open the bridge.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBUSB REQUIRED IMPORTED_TARGET libusb-1.0)

add_library(regbench_libusb STATIC
  LibusbStatus.h LibusbStatus.cpp
  LibusbContext.h LibusbContext.cpp
  LibusbDeviceRef.h LibusbDeviceRef.cpp
  LibusbDeviceHandle.h LibusbDeviceHandle.cpp
  LibusbClaimedInterface.h LibusbClaimedInterface.cpp
  LibusbDeviceList.h LibusbDeviceList.cpp
  LibusbConfigDescriptor.h LibusbConfigDescriptor.cpp
  LibusbHotplugRegistration.h LibusbHotplugRegistration.cpp
  LibusbEventThread.h LibusbEventThread.cpp
  LibusbOpenDevice.h LibusbOpenDevice.cpp
  LibusbDriver.h LibusbDriver.cpp)
target_link_libraries(regbench_libusb PUBLIC regbench_core PkgConfig::LIBUSB PRIVATE regbench_warnings)

# udev matches the IDs as 4 lower-case hex digits; the cache values are C++ literals (0x1209, or decimal).
function(regbench_udev_hex out value)
  if(NOT value MATCHES "^(0[xX][0-9a-fA-F]+|[0-9]+)$")
    message(FATAL_ERROR "USB ID '${value}' is not a number")
  endif()
  math(EXPR number "${value}")
  if(number GREATER 65535)
    message(FATAL_ERROR "USB ID '${value}' has more than 16 bits")
  endif()
  math(EXPR hex "${number} + 65536" OUTPUT_FORMAT HEXADECIMAL) # 0x1NNNN keeps the leading zeros
  string(SUBSTRING "${hex}" 3 4 hex)
  string(TOLOWER "${hex}" hex)
  set(${out} "${hex}" PARENT_SCOPE)
endfunction()

set(REGBENCH_UDEV_RULES_DIR "/etc/udev/rules.d" CACHE PATH "Where cmake --install puts the udev rule")
regbench_udev_hex(REGBENCH_UDEV_VENDOR "${REGBENCH_VENDOR_ID}")
regbench_udev_hex(REGBENCH_UDEV_PRODUCT "${REGBENCH_PRODUCT_ID}")
configure_file(${PROJECT_SOURCE_DIR}/data/60-regbench.rules ${PROJECT_BINARY_DIR}/60-regbench.rules @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/60-regbench.rules DESTINATION ${REGBENCH_UDEV_RULES_DIR})
