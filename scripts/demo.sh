#!/usr/bin/env bash
# Installs what is needed, builds, installs the product into ./product and runs a compare
# and a three-way merge of the files in examples/ through the whole system: trelmerge ->
# zorv_service -> the reference client zorvexplorer.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
scripts/deps.sh

cmake -S . -B build-demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNEX_BUILD_TESTS=OFF \
    -DVARNEX_BUILD_BENCH=OFF >/dev/null
cmake --build build-demo -j "$(nproc)"
cmake --install build-demo --prefix "$top/product" >/dev/null

# The demo keeps its service, pipes and pages apart from any service the user already runs.
out="$top/demo-out"
rm -rf "$out"
mkdir -m 700 -p "$out/tmp" "$out/pipes"
export TMPDIR="$out/tmp" VARNEX_PIPE_DIR="$out/pipes"
work="$TMPDIR/$(id -un).trelmerge"

cd examples
echo "Comparing compare-left.txt with compare-right.txt (the first run starts the relay service"
echo "and the client, and waits about ten seconds for them)..."
set +e
"$top/product/bin/trelmerge" compare-left.txt compare-right.txt
compare_status=$?
"$top/product/bin/trelmerge" -base merge-base.txt merge-ours.txt merge-theirs.txt -out "$out/merged.txt"
merge_status=$?
"$top/product/bin/trelmerge" utf16le-left.txt utf16le-right.txt -encoding utf-16le
utf16_status=$?
set -e

page=$(ls -t "$work"/compare/*.html 2>/dev/null | head -n 1 || true)
echo
echo "compare exit status:        $compare_status"
echo "three-way merge exit status: $merge_status"
echo "UTF-16LE compare exit status: $utf16_status"
echo "newest compare page:  ${page:-(none)}"
echo "merged file:          $out/merged.txt"
echo "client log:           $work/zorvexplorer.log"

# End the demo's relay service (and with it the client) by the pid it recorded.
if [[ -f "$work/zorv_service.pid" ]]; then
    kill "$(cat "$work/zorv_service.pid")" 2>/dev/null || true
fi
