#!/usr/bin/env bash
# The Windows build: cross-compiles with mingw-w64 (32-bit, the product's home), checks the
# front end's export table and the client's imports, makes the zip, then runs the Windows
# backend tests, the end-to-end suite (fake client) and the zip's own suite (real client,
# merge page in Chromium) under wine. A kernel without 32-bit support cannot run 32-bit
# wine; there the 32-bit tree builds the product only (for the zip), and the same sources
# are also built for x86_64 with the tests and run under wine64.
#
# Environment: VARNEX_WIN_BUILD_ROOT (default build-test), VARNEX_WINE_ARCH=win32|win64
# forces the build that runs under wine, VARNEX_DEPS_DONE=1 says that `scripts/deps.sh
# --test` has run already.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
build_root=${VARNEX_WIN_BUILD_ROOT:-build-test}
mkdir -p "$build_root"
build_root=$(cd "$build_root" && pwd)
export DEBIAN_FRONTEND=noninteractive

[ "${VARNEX_DEPS_DONE:-}" = 1 ] || scripts/deps.sh --test

# ---- wine, and whether it runs 32-bit programs here
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
    probe=$build_root/probe32.exe
    printf 'int main(void) { return 0; }\n' | i686-w64-mingw32-gcc -x c - -o "$probe"
    if timeout 60 "$wine32" "$probe" </dev/null >/dev/null 2>&1; then
        arch=win32
    else
        echo "This machine runs no 32-bit wine programs; running the x86_64 build under wine64."
        arch=win64
    fi
fi

# ---- builds
toolchain=$source_dir/cmake/toolchain-mingw32.cmake
product=(trelmerge zorv_service trelmergeutf8 trelprompt zorvexplorer)
tests=(fake_zorvexplorer record_argv win32_backend_tests client_win32_tests portable_unit_tests
       windows_e2e_tests)
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

build_tree() {  # name triplet with-tests
    local dir=$build_root/$1 triplet=$2 with_tests=$3
    local gtest=$dir/_gtest test_options=(-DVARNEX_BUILD_TESTS=OFF) targets=("${product[@]}")
    if [[ $with_tests == 1 ]]; then
        if [[ ! -f $gtest/install/lib/libgtest.a ]]; then
            echo "=== googletest for $triplet"
            cmake -S /usr/src/googletest -B "$gtest/build" -G Ninja "${launcher[@]}" \
                -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DVARNEX_MINGW_TRIPLET="$triplet" \
                -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON \
                -DCMAKE_INSTALL_PREFIX="$gtest/install" >/dev/null
            cmake --build "$gtest/build" >/dev/null
            cmake --install "$gtest/build" >/dev/null
        fi
        test_options=(-DVARNEX_BUILD_TESTS=ON -DGTest_DIR="$gtest/install/lib/cmake/GTest")
        targets+=("${tests[@]}")
    fi
    echo "=== $1 ($triplet)"
    cmake -S . -B "$dir" -G Ninja "${launcher[@]}" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DVARNEX_MINGW_TRIPLET="$triplet" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DVARNEX_WARNINGS_AS_ERRORS=ON -DVARNEX_BUILD_BENCH=OFF "${test_options[@]}" >/dev/null
    cmake --build "$dir" --target "${targets[@]}"
    (cd "$dir" && cpack -B "$dir/package" >/dev/null)
}

build_tree win32 i686-w64-mingw32 "$([[ $arch == win32 ]] && echo 1 || echo 0)"
[[ $arch == win64 ]] && build_tree win64 x86_64-w64-mingw32 1

# ---- the 32-bit programs as they leave: exports, imports and the zip
echo "=== the 32-bit programs and the Windows zip"
zip_status=0
tests/package/windows_zip_test.sh "$build_root/win32" || zip_status=$?

# ---- wine
echo "=== Windows backend and end-to-end tests under wine ($arch)"
ctest_status=0
scripts/ctest-counts.sh --test-dir "$build_root/$arch" -L wine || ctest_status=$?

echo "=== the $arch zip with the real client under wine"
client_status=0
VARNEX_WINEPREFIX=$WINEPREFIX /usr/bin/python3 tests/wine/client_suite.py \
    "$(ls "$build_root/$arch"/package/varnex-*.zip | head -n 1)" \
    "$build_root/$arch/bin/record_argv.exe" || client_status=$?
[[ $ctest_status == 0 ]] || exit "$ctest_status"
[[ $zip_status == 0 ]] || exit "$zip_status"
exit "$client_status"
