# bench_sim: round trip of one register access through the simulated USB layer.
add_executable(bench_sim ${CMAKE_CURRENT_LIST_DIR}/bench_sim.cpp)
target_link_libraries(bench_sim PRIVATE regbench_core regbench_warnings)
