#!/usr/bin/env bash
# Installs, builds and runs every test: the suite, a per-user install, the Debian package (built, checked,
# installed, started and purged), the reader's fuzzer, the suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer, and the threaded tests under ThreadSanitizer. Prints how long each step took
# at the end.
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

# The tests in which threads besides the GUI thread take part (the backends' own and umockdev's), built with
# ThreadSanitizer; any report fails them. tests/tsan.supp says which reports inside system libraries are
# set aside, and why.
thread_sanitizer() {
    cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DREGBENCH_SANITIZE_THREAD=ON \
        -DREGBENCH_BENCH=OFF
    cmake --build build-tsan --target regbench_threaded_tests -j"$jobs"
    (
        export TSAN_OPTIONS="halt_on_error=1 suppressions=$PWD/tests/tsan.supp"
        cd build-tsan && ctest -L threads --output-on-failure
    )
}

step "dependencies" scripts/install-deps.sh
step "suite" suite
step "per-user install" scripts/check-user-install.sh build
step "package" package
step "fuzzer" scripts/fuzz-reader.sh "${FUZZ_SECONDS:-60}"
step "sanitizer suite" sanitizer_suite
step "thread sanitizer" thread_sanitizer

echo "== time taken"
printf '%s\n' "${timings[@]}"
