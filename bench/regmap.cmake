add_executable(bench_regmap ${CMAKE_CURRENT_LIST_DIR}/bench_regmap.cpp)
target_link_libraries(bench_regmap PRIVATE regbench_core regbench_warnings)
