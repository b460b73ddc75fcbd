#!/usr/bin/env bash
# Installs, builds and starts regbench on the simulated bridge with the sample register map.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --target regbench-sim regbench -j"$(nproc)"
exec ./build/regbench-sim
