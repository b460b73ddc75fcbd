#!/usr/bin/env bash
# Builds the project for speed and prints the tables of figures, each the median of several runs against
# its goal: the window's, then the commands' (under umockdev-wrapper, for the emulated adapter they share with
# i2cget). Exits non-zero when a goal is missed. Pass QT_QPA_PLATFORM=xcb (under Xvfb) to measure on X11.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON >/dev/null
cmake --build build-bench --target bench_figures bench_commands -j"$(nproc)"
status=0
./build-bench/bench_figures || status=1
umockdev-wrapper ./build-bench/bench_commands || status=1
exit $status
