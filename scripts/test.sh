#!/usr/bin/env bash
# Runs every test: the plain build, the same tests under AddressSanitizer and
# UndefinedBehaviorSanitizer, the concurrent parts (service, pipes, the front end's
# exchange) under ThreadSanitizer, and the Windows build under wine (skipped with
# VARNEX_SKIP_WINDOWS=1).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

jobs=$(nproc)
configure() {  # name, cmake args...
    local name=$1
    shift
    echo "=== $name"
    cmake -S . -B "build-test/$name" -G Ninja -DVARNEX_BUILD_BENCH=OFF "$@" >/dev/null
}

configure plain -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build-test/plain -j "$jobs"
ctest --test-dir build-test/plain --output-on-failure -j "$jobs"

configure asan-ubsan -DCMAKE_BUILD_TYPE=Debug \
    "-DCMAKE_CXX_FLAGS=-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
cmake --build build-test/asan-ubsan -j "$jobs"
ctest --test-dir build-test/asan-ubsan --output-on-failure -j "$jobs"

# Only what the concurrent tests need is built with ThreadSanitizer.
configure tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS=-fsanitize=thread"
cmake --build build-test/tsan -j "$jobs" --target \
    service_tests service_pipe_tests service_e2e_tests pipe_tests pipe_echo_server \
    frontend_exchange_tests trelmerge zorv_service trelmergeutf8 fake_zorvexplorer record_argv
ctest --test-dir build-test/tsan --output-on-failure -j "$jobs" -L 'service|pipe|concurrent'

if [[ "${VARNEX_SKIP_WINDOWS:-0}" != 1 ]]; then
    echo "=== windows (wine)"
    .ci/wine.sh
fi
