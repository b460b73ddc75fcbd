#!/usr/bin/env bash
# Installs, builds and runs every test: the suite, a per-user install, the Debian package (built, checked,
# installed, started and purged), the reader's fuzzer, and the suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer. Prints how long each step took at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

timings=()
step() {
    local name=$1 start=$SECONDS
    shift
    echo "== $name"
    "$@"
    timings+=("$(printf '%-20s %4d s' "$name" $((SECONDS - start)))")
}

suite() {
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cmake --build build -j"$jobs"
    (cd build && ctest --output-on-failure -j"$jobs")
}

package() {
    local deb
    deb="$(scripts/package.sh | tail -n 1)"
    ls -l "$deb"
    scripts/check-package.sh "$deb"
}

sanitizer_suite() {
    cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DREGBENCH_SANITIZE=ON -DREGBENCH_BENCH=OFF
    cmake --build build-asan -j"$jobs"
    (
        export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
        export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
        export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
        cd build-asan && ctest --output-on-failure -j"$jobs"
    )
}

step "dependencies" scripts/install-deps.sh
step "suite" suite
step "per-user install" scripts/check-user-install.sh build
step "package" package
step "fuzzer" scripts/fuzz-reader.sh "${FUZZ_SECONDS:-60}"
step "sanitizer suite" sanitizer_suite

echo "== time taken"
printf '%s\n' "${timings[@]}"
