# bench_libusb: register round trips over libusb against the emulated bridge, and the layer's idle CPU use.
# Run it under umockdev-wrapper.
if(TARGET regbench_libusb AND TARGET regbench_emulated_bridge)
  add_executable(bench_libusb ${CMAKE_CURRENT_SOURCE_DIR}/bench_libusb.cpp)
  target_link_libraries(bench_libusb PRIVATE regbench_libusb regbench_emulated_bridge regbench_warnings)
endif()
