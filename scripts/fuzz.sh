#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UndefinedBehavior-
# Sanitizer) and runs each from its seed corpus in fuzz/corpus for a bounded time, about a
# minute in all (VARNEX_FUZZ_SECONDS per target, default 15). New inputs go to a scratch
# folder, never into the repository. A crash leaves its input in build-test/fuzz/crashes.
# Ends with "fuzz: N passed, N failed", one per target.
set -uo pipefail
cd "$(dirname "$0")/.."
top=$PWD
build=${VARNEX_FUZZ_BUILD:-$top/build-test/fuzz}
seconds=${VARNEX_FUZZ_SECONDS:-15}
targets=(command_line pipe_framing http_xmlrpc text_codec)

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
if ! cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_COMPILER=clang++ "-DCMAKE_CXX_FLAGS=$flags" "${launcher[@]}" \
        -DVARNEX_WARNINGS_AS_ERRORS=ON \
        -DVARNEX_BUILD_FUZZ=ON -DVARNEX_BUILD_TESTS=OFF -DVARNEX_BUILD_BENCH=OFF >/dev/null ||
    ! cmake --build "$build" -j "$(nproc)" --target "${targets[@]/#/fuzz_}"; then
    echo "fuzz: 0 passed, ${#targets[@]} failed"
    exit 1
fi

passed=0
failed=0
mkdir -p "$build/crashes"
for t in "${targets[@]}"; do
    scratch=$(mktemp -d)
    if "$build/bin/fuzz_$t" -max_total_time="$seconds" -max_len=65536 -timeout=10 \
            -rss_limit_mb=2048 -artifact_prefix="$build/crashes/$t-" -print_final_stats=0 \
            "$scratch" "$top/fuzz/corpus/$t" >"$build/$t.log" 2>&1; then
        echo "$t: no fault in ${seconds}s"
        passed=$((passed + 1))
    else
        echo "$t: FAULT, see $build/$t.log"
        tail -n 30 "$build/$t.log"
        failed=$((failed + 1))
    fi
    rm -rf "$scratch"
done
echo "fuzz: $passed passed, $failed failed"
[[ $failed == 0 ]]
