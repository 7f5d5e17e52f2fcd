#!/usr/bin/env bash
# The Windows build: cross-compiles with mingw-w64 (32-bit, the product's home), checks the
# front end's export table, then runs the Windows backend tests and the end-to-end suite
# under wine. A kernel without 32-bit support cannot run 32-bit wine; there the same
# sources are also built for x86_64 and run under wine64.
#
# Environment: VARNEX_WIN_BUILD_ROOT (default build-test), VARNEX_WINE_ARCH=win32|win64
# forces the build that runs under wine.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
build_root=${VARNEX_WIN_BUILD_ROOT:-build-test}
mkdir -p "$build_root"
build_root=$(cd "$build_root" && pwd)
export DEBIAN_FRONTEND=noninteractive

scripts/deps.sh --test

# ---- builds
toolchain=$source_dir/cmake/toolchain-mingw32.cmake
targets=(trelmerge zorv_service trelmergeutf8 trelprompt fake_zorvexplorer record_argv
         win32_backend_tests portable_unit_tests)

build_tree() {  # name triplet
    local dir=$build_root/$1 triplet=$2
    local gtest=$dir/_gtest
    if [[ ! -f $gtest/install/lib/libgtest.a ]]; then
        echo "=== googletest for $triplet"
        cmake -S /usr/src/googletest -B "$gtest/build" -G Ninja \
            -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DVARNEX_MINGW_TRIPLET="$triplet" \
            -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON \
            -DCMAKE_INSTALL_PREFIX="$gtest/install" >/dev/null
        cmake --build "$gtest/build" >/dev/null
        cmake --install "$gtest/build" >/dev/null
    fi
    echo "=== $1 ($triplet)"
    cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DVARNEX_MINGW_TRIPLET="$triplet" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNEX_WARNINGS_AS_ERRORS=ON \
        -DVARNEX_BUILD_BENCH=OFF -DGTest_DIR="$gtest/install/lib/cmake/GTest" >/dev/null
    cmake --build "$dir" --target "${targets[@]}"
}

build_tree win32 i686-w64-mingw32
echo "=== export table of the 32-bit trelmerge.exe"
i686-w64-mingw32-objdump -p "$build_root/win32/bin/trelmerge.exe" |
    grep -E '^\s*\[ *[0-9]+\] _trelmerge_trelmerge_msg_table_adr$'

# ---- the Windows zip: the 32-bit product tree as users unpack it
echo "=== the Windows zip"
zip_checks=0
zip_failures=0
zip_file=""
if (cd "$build_root/win32" && cpack -B "$build_root/win32/package"); then
    zip_file=$(ls "$build_root"/win32/package/varnex-*-win32.zip 2>/dev/null | head -n 1)
fi
zip_list=$([[ -n $zip_file ]] && unzip -Z1 "$zip_file")
for entry in bin/trelmerge.exe bin/zorv_service.exe bin/trelmergeutf8.exe bin/trelprompt.exe \
    bin/trelmerge-svn-diff.cmd bin/trelmerge-svn-diff3.cmd bin/trelmerge-svn-merge.cmd \
    ZorvHome/; do
    zip_checks=$((zip_checks + 1))
    if grep -Eq "^varnex-[0-9.]+-win32/$entry\$" <<<"$zip_list"; then
        echo "ok   the zip holds $entry"
    else
        zip_failures=$((zip_failures + 1))
        echo "FAIL the zip holds $entry"
    fi
done
echo "zip: $((zip_checks - zip_failures)) passed, $zip_failures failed"

# ---- wine
export WINEDEBUG=-all
export WINEPREFIX
WINEPREFIX=$(mktemp -d /tmp/varnex-ci-wine.XXXXXX)/prefix
wine32=$(command -v wine)
wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
cleanup() {
    "$wineserver" -k >/dev/null 2>&1 || true
    rm -rf "$(dirname "$WINEPREFIX")"
}
trap cleanup EXIT
timeout 300 "$wine64" wineboot -i >/dev/null 2>&1 || true

arch=${VARNEX_WINE_ARCH:-}
if [[ -z $arch ]]; then
    if timeout 60 "$wine32" "$build_root/win32/bin/record_argv.exe" </dev/null >/dev/null 2>&1; then
        arch=win32
    else
        echo "This machine runs no 32-bit wine programs; running the x86_64 build under wine64."
        arch=win64
    fi
fi
if [[ $arch == win64 ]]; then
    build_tree win64 x86_64-w64-mingw32
fi

echo "=== Windows backend tests under wine ($arch)"
ctest_status=0
scripts/ctest-counts.sh --test-dir "$build_root/$arch" -L wine || ctest_status=$?

echo "=== end-to-end suite under wine ($arch)"
suite_status=0
VARNEX_WINEPREFIX=$WINEPREFIX tests/wine/run_wine_suite.sh "$build_root/$arch" || suite_status=$?
[[ $ctest_status == 0 ]] || exit "$ctest_status"
[[ $zip_failures == 0 ]] || exit 1
exit "$suite_status"
