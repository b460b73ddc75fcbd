add_executable(bench_app bench_app.cpp BenchSupport.h)
target_link_libraries(bench_app PRIVATE regbench_gui regbench_libusb Qt6::Test regbench_warnings)

add_executable(bench_readall_libusb bench_readall_libusb.cpp BenchSupport.h)
target_link_libraries(bench_readall_libusb PRIVATE regbench_gui regbench_libusb regbench_emulated_bridge Qt6::Test
                                                   regbench_warnings)
