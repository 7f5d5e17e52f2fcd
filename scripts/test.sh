#!/usr/bin/env bash
# Runs every test: the plain build, the same tests under AddressSanitizer and
# UndefinedBehaviorSanitizer, the service's tests under ThreadSanitizer, and the Windows
# build under wine (skipped with VARNEX_SKIP_WINDOWS=1).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

jobs=$(nproc)
run_suite() {  # name, ctest args, cmake args...
    local name=$1 ctest_args=$2
    shift 2
    echo "=== $name"
    cmake -S . -B "build-test/$name" -G Ninja "$@" >/dev/null
    cmake --build "build-test/$name" -j "$jobs"
    ctest --test-dir "build-test/$name" --output-on-failure -j "$jobs" $ctest_args
}

run_suite plain "" -DCMAKE_BUILD_TYPE=RelWithDebInfo
run_suite asan-ubsan "" -DCMAKE_BUILD_TYPE=Debug -DVARNEX_BUILD_BENCH=OFF \
    "-DCMAKE_CXX_FLAGS=-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
run_suite tsan "-L service" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNEX_BUILD_BENCH=OFF \
    "-DCMAKE_CXX_FLAGS=-fsanitize=thread"

if [[ "${VARNEX_SKIP_WINDOWS:-0}" != 1 && -x .ci/wine.sh ]]; then
    echo "=== windows (wine)"
    .ci/wine.sh
fi
