#!/usr/bin/env bash
# Installs what is needed, builds, installs the product into ./product and runs a compare
# and a three-way merge of the files in examples/ through the whole system: trelmerge ->
# zorv_service -> the reference client zorvexplorer. Prints what the client found (which
# lines differ, whether the merge came out clean) beside the exit statuses and the paths.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
scripts/deps.sh

mkdir -p build-demo
echo "Building into build-demo/ and installing into product/ (log: build-demo/build.log)..."
if ! { cmake -S . -B build-demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNEX_BUILD_TESTS=OFF \
           -DVARNEX_BUILD_BENCH=OFF &&
       cmake --build build-demo -j "$(nproc)" &&
       cmake --install build-demo --prefix "$top/product"; } >build-demo/build.log 2>&1; then
    tail -n 20 build-demo/build.log
    echo "The build failed; its whole output is in build-demo/build.log."
    exit 1
fi

# The demo keeps its service, pipes and pages apart from any service the user already runs.
out="$top/demo-out"
rm -rf "$out"
mkdir -m 700 -p "$out/tmp" "$out/pipes"
export TMPDIR="$out/tmp" VARNEX_PIPE_DIR="$out/pipes"
work="$TMPDIR/$(id -un).trelmerge"

cd examples
echo "Comparing and merging the files in examples/ (the first run starts the relay service and"
echo "the client)..."
set +e
"$top/product/bin/trelmerge" compare-left.txt compare-right.txt
compare_status=$?
"$top/product/bin/trelmerge" -base merge-base.txt merge-ours.txt merge-theirs.txt -out "$out/merged.txt"
merge_status=$?
"$top/product/bin/trelmerge" utf16le-left.txt utf16le-right.txt -encoding utf-16le
utf16_status=$?
set -e

# What the client made of each request, from its log: a compare's page and which lines
# differ, a merge's result. The log holds the requests in the order they were made.
client_log="$work/zorvexplorer.log"
mapfile -t pages < <(sed -n 's/^.*: true: page \(.*\)$/\1/p' "$client_log" 2>/dev/null)
mapfile -t changes < <(sed -n 's/^page .*\.html: \(.*\)$/\1/p' "$client_log" 2>/dev/null)
merge_line=$(grep -m 1 '^RequestHandler.CompareMerge' "$client_log" 2>/dev/null || true)
case $merge_line in
    *": true: merged into "*) merge_result="clean" ;;
    *": false: "*" conflict(s) marked in "*)
        merge_result=$(sed 's/.*: false: \([0-9]*\) conflict(s).*/\1 conflict(s), marked in the file/' <<<"$merge_line") ;;
    *": false: "*) merge_result="failed: ${merge_line#*: false: }" ;;
    *) merge_result="no answer from the client" ;;
esac

echo
echo "compare (exit status $compare_status): ${changes[0]:-no answer from the client}"
echo "    page: ${pages[0]:-(none)}"
echo "three-way merge (exit status $merge_status): $merge_result"
echo "    merged file: $out/merged.txt"
echo "UTF-16LE compare (exit status $utf16_status): ${changes[1]:-no answer from the client}"
echo "    page: ${pages[1]:-(none)}"
echo "client log: $client_log"

# End the demo's relay service (and with it the client) by the pid it recorded.
if [[ -f "$work/zorv_service.pid" ]]; then
    kill "$(cat "$work/zorv_service.pid")" 2>/dev/null || true
fi
