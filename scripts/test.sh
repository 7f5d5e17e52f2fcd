#!/usr/bin/env bash
# Runs every test. Each stage prints one line; its build and test output goes to
# build-test/logs/<stage>.log. The last line counts the tests of all stages,
# "N passed, N failed", and the exit status is non-zero when anything failed.
#
# A stage is one line at the bottom of this file: `stage NAME COMMAND [ARGS...]`. The
# command runs from the source folder with its output in the stage's log. It reports its
# tests by printing lines that read "N passed, N failed" (optionally behind one word and a
# colon, like "wine: 12 passed, 0 failed"); `ctest_counts` turns a ctest run into such a
# line. A command that ends with status 77 is a skipped stage (its last line says why);
# one that fails without counting a failed test counts as one failed test itself.
#
# Environment: VARNEX_SKIP_WINDOWS=1 skips the Windows stage; VARNEX_STAGES="plain git"
# runs only the stages named; VARNEX_DEPS_DONE=1 says that `scripts/deps.sh --test` has run
# already (CI runs it first), and the stages inherit it so that none runs it again.
set -uo pipefail
cd "$(dirname "$0")/.."
top=$PWD
root=$top/build-test
logs=$root/logs
mkdir -p "$logs"

if [[ ${VARNEX_DEPS_DONE:-} != 1 ]] && ! scripts/deps.sh --test >"$logs/deps.log" 2>&1; then
    echo "installing the test packages failed: $logs/deps.log"
    tail -n 5 "$logs/deps.log"
    echo "0 passed, 1 failed"
    exit 1
fi
export VARNEX_DEPS_DONE=1  # installed once for every stage, the Windows one included

jobs=$(nproc)
printf '%-12s %s\n' packages "ready"
launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    # Hits across build folders and checkouts.
    export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$top} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
fi
sanitize_address="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"

# ---- helpers for stage commands

# configure NAME CMAKE-ARGS...: a build tree build-test/NAME.
configure() {
    local name=$1
    shift
    cmake -S "$top" -B "$root/$name" -G Ninja -DVARNEX_BUILD_BENCH=OFF -DVARNEX_WARNINGS_AS_ERRORS=ON \
        "${launcher[@]}" "$@"
}

# ctest_counts CTEST-ARGS...: runs ctest and prints "ctest: N passed, N failed".
ctest_counts() { "$top/scripts/ctest-counts.sh" "$@"; }

# build_and_test NAME CMAKE-ARGS...: configures, builds everything and runs every test but
# the browser's, which have a stage of their own.
build_and_test() {
    local name=$1
    configure "$@" && cmake --build "$root/$name" -j "$jobs" &&
        ctest_counts --test-dir "$root/$name" -LE browser
}

# The compare and merge pages in headless Chromium, driven by Selenium, with the plain build's
# programs; one at a time, as each starts a browser.
browser() {
    configure plain -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
        cmake --build "$root/plain" -j "$jobs" --target trelmerge zorv_service trelmergeutf8 \
            zorvexplorer &&
        ctest_counts --test-dir "$root/plain" -L browser
}

# Only what the concurrent tests need is built with ThreadSanitizer.
tsan() {
    configure tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS=-fsanitize=thread" &&
        cmake --build "$root/tsan" -j "$jobs" --target \
            service_tests service_pipe_tests service_e2e_tests service_retire_tests pipe_tests \
            pipe_echo_server \
            frontend_exchange_tests trelmerge zorv_service trelmergeutf8 fake_zorvexplorer \
            record_argv &&
        ctest_counts --test-dir "$root/tsan" -L 'service|pipe|concurrent'
}

# Upgrades and removal while the programs run: the plain build, and a second build that logs
# another version, installed one over the other (tests/package/upgrade_test.sh).
upgrade() {
    configure plain -DCMAKE_BUILD_TYPE=RelWithDebInfo && cmake --build "$root/plain" -j "$jobs" &&
        configure upgrade -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNEX_BUILD_TESTS=OFF \
            -DVARNEX_VERSION=upgrade-test && cmake --build "$root/upgrade" -j "$jobs" &&
        tests/package/upgrade_test.sh "$root/plain" "$root/upgrade"
}

windows() {
    if [[ ${VARNEX_SKIP_WINDOWS:-0} == 1 ]]; then
        echo "skipped (VARNEX_SKIP_WINDOWS=1)"
        return 77
    fi
    # VARNEX_DEPS_DONE, exported above, keeps it from installing the test packages again.
    VARNEX_WIN_BUILD_ROOT=$root .ci/wine.sh
}

# ---- the stage runner

total_passed=0
total_failed=0
failed_stages=()

# stage NAME COMMAND [ARGS...]
stage() {
    local name=$1
    shift
    if [[ -n ${VARNEX_STAGES:-} && " $VARNEX_STAGES " != *" $name "* ]]; then
        return 0
    fi
    local log=$logs/$name.log start status
    start=$(date +%s)
    ("$@") >"$log" 2>&1 </dev/null
    status=$?
    local seconds=$(($(date +%s) - start))
    local took passed=0 failed=0 line
    took=$(printf '%dm%02ds' $((seconds / 60)) $((seconds % 60)))
    while read -r line; do
        passed=$((passed + $(sed -E 's/^([^ ]+: )?([0-9]+) passed, ([0-9]+) failed$/\2/' <<<"$line")))
        failed=$((failed + $(sed -E 's/^([^ ]+: )?([0-9]+) passed, ([0-9]+) failed$/\3/' <<<"$line")))
    done < <(grep -a -E '^([^ ]+: )?[0-9]+ passed, [0-9]+ failed$' "$log")
    if [[ $status == 77 && $passed == 0 && $failed == 0 ]]; then
        printf '%-12s %s\n' "$name" "$(tail -n 1 "$log")"
        return 0
    fi
    [[ $status == 77 ]] && status=0
    local note=""
    if [[ $status != 0 && $failed == 0 ]]; then
        failed=1
        note="  (failed before its tests: $(grep -v '^\s*$' "$log" | tail -n 1 | cut -c1-60))"
    fi
    total_passed=$((total_passed + passed))
    total_failed=$((total_failed + failed))
    [[ $failed -gt 0 ]] && failed_stages+=("$name")
    printf '%-12s %4d passed, %d failed  %7s  %s%s\n' "$name" "$passed" "$failed" "$took" \
        "${log#"$top"/}" "$note"
}

# ---- the stages, in order

stage plain build_and_test plain -DCMAKE_BUILD_TYPE=RelWithDebInfo
stage asan-ubsan build_and_test asan-ubsan -DCMAKE_BUILD_TYPE=Debug \
    "-DCMAKE_CXX_FLAGS=$sanitize_address"
stage tsan tsan
stage browser browser
stage package tests/package/package_test.sh "$root/plain"
stage upgrade upgrade
stage fuzz env VARNEX_FUZZ_BUILD="$root/fuzz" scripts/fuzz.sh
stage windows windows

echo "$total_passed passed, $total_failed failed"
[[ $total_failed == 0 ]]
