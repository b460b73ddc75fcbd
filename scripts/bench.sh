#!/usr/bin/env bash
# Builds the project for speed and prints the table of figures, each the median of several runs against
# its goal. Exits non-zero when a goal is missed. Pass QT_QPA_PLATFORM=xcb (under Xvfb) to measure on X11.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build-bench --target bench_figures -j"$(nproc)"
exec ./build-bench/bench_figures
