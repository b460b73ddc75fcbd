# The simulated bridge and chip: sources added to regbench_core.
