# The simulated bridge and chip: sources added to regbench_core.
target_sources(regbench_core PRIVATE SimChip.h SimChip.cpp SimUsbDriver.h SimUsbDriver.cpp)
