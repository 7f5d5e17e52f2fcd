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

sudo=""
[[ $(id -u) -ne 0 ]] && sudo="sudo"

# ---- packages
packages=(cmake ninja-build googletest g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix
          g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix wine wine64 wine32:i386)
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
fi
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [[ ${#missing[@]} -gt 0 ]]; then
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

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
        -DVARNEX_MINGW_TRIPLET="$triplet" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DVARNEX_BUILD_BENCH=OFF -DGTest_DIR="$gtest/install/lib/cmake/GTest" >/dev/null
    cmake --build "$dir" --target "${targets[@]}"
}

build_tree win32 i686-w64-mingw32
echo "=== export table of the 32-bit trelmerge.exe"
i686-w64-mingw32-objdump -p "$build_root/win32/bin/trelmerge.exe" |
    grep -E '^\s*\[ *[0-9]+\] _trelmerge_trelmerge_msg_table_adr$'

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
ctest --test-dir "$build_root/$arch" -L wine --output-on-failure

echo "=== end-to-end suite under wine ($arch)"
VARNEX_WINEPREFIX=$WINEPREFIX tests/wine/run_wine_suite.sh "$build_root/$arch"
