#!/usr/bin/env bash
# Installs the Debian packages that are needed; quick when they are there already. Runs
# apt-get through sudo when not root.
#
#   scripts/deps.sh             what building the product and the demo need (Debian packages,
#                               and the pages' script libraries from the npm registry, pinned by
#                               tools/zorvexplorer/web/package-lock.json)
#   scripts/deps.sh --test      also what the tests need (sanitizer runtimes come with g++;
#                               the Windows cross build and wine, the browser, the package checks)
#                               and the sources the Windows client is built from (below)
#
# VARNEX_WINE_ARCH=win64 leaves out 32-bit wine (and the i386 architecture it needs).
set -euo pipefail

# Build the three programs, the prompt tool and the reference client.
packages=(g++ cmake ninja-build pkg-config libpugixml-dev zlib1g-dev scdoc)

with_tests=0
case "${1:-}" in
    "") ;;
    --test) with_tests=1 ;;
    *) echo "usage: scripts/deps.sh [--test]" >&2; exit 2 ;;
esac

wine32=()
if [[ $with_tests == 1 ]]; then
    packages+=(
        # unit and end-to-end tests
        libgtest-dev libgmock-dev googletest python3 diffutils git man-db ccache
        # the Mercurial and Subversion recipes of docs/
        mercurial subversion
        # packages: the .deb (dpkg-shlibdeps), its checks, the Windows zip
        dpkg-dev lintian unzip
        # fuzz targets (libFuzzer runtime)
        clang libclang-rt-14-dev
        # the browser merge page
        chromium chromium-driver python3-selenium
        # the Windows build and wine
        g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix
        g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix wine wine64
        # the Windows client: zlib built for mingw
        libz-mingw-w64-dev)
    # The programs' home is 32-bit Windows; a machine without 32-bit wine runs the
    # x86_64 build under wine64 instead (.ci/wine.sh).
    [[ ${VARNEX_WINE_ARCH:-} == win64 ]] || wine32=(wine32:i386)
fi

# npm and Node.js come from Debian where the machine has none of its own.
command -v npm >/dev/null || packages+=(nodejs npm)

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

missing=()
for p in "${packages[@]}"; do
    installed "$p" || missing+=("$p")
done
missing_wine32=()
for p in "${wine32[@]}"; do
    installed "$p" || missing_wine32+=("$p")
done

# The pages' script libraries, installed from the lockfile into the source tree, where the
# build bundles them; again only when the lockfile changed since the last install.
web_dir=$(cd "$(dirname "$0")/../tools/zorvexplorer/web" && pwd)
install_web_libraries() {
    local stamp=$web_dir/node_modules/.package-lock.json
    [[ -f $stamp && ! $web_dir/package-lock.json -nt $stamp ]] && return 0
    echo "Installing the pages' script libraries (npm ci in $web_dir)"
    (cd "$web_dir" && npm ci --no-audit --no-fund --loglevel=error)
}

sudo=""
[[ $(id -u) -ne 0 ]] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
if [[ ${#missing_wine32[@]} -gt 0 ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
fi
[[ ${#missing[@]} -gt 0 || ${#missing_wine32[@]} -gt 0 ]] && $sudo apt-get update -qq
if [[ ${#missing[@]} -gt 0 ]]; then
    echo "Installing: ${missing[*]}"
    $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
if [[ ${#missing_wine32[@]} -gt 0 ]]; then
    echo "Installing: ${missing_wine32[*]}"
    $sudo apt-get install -y -qq --no-install-recommends "${missing_wine32[@]}" ||
        echo "32-bit wine could not be installed; the Windows tests will run the x86_64 build."
fi
install_web_libraries

[[ $with_tests == 1 ]] || exit 0

# ---- the Windows client's sources
# Debian builds pugixml for Linux only. The Windows build compiles it from Debian's source
# package, of the same version as the installed -dev package, unpacked into
# third_party/debian-src (not tracked); the build itself fetches nothing.
source_root=$(cd "$(dirname "$0")/.." && pwd)/third_party/debian-src
deb_src_name=/etc/apt/sources.list.d/varnex-deb-src

# The deb-src twin of every Debian entry already configured: the same mirrors and suites.
write_deb_src_lists() {
    local stanzas=(/etc/apt/sources.list.d/*.sources) lines=/etc/apt/sources.list
    if [[ -f ${stanzas[0]} ]]; then
        awk 'BEGIN { RS = ""; ORS = "\n\n" }
             /(^|\n)Types:[^\n]*(^| )deb( |\n|$)/ && /debian/ {
                 sub(/(^|\n)Types:[^\n]*/, "\nTypes: deb-src"); sub(/^\n/, ""); print }' \
            "${stanzas[@]}" | $sudo tee "$deb_src_name.sources" >/dev/null
    fi
    if [[ -f $lines ]]; then
        sed -n 's/^deb \(.*debian.*\)$/deb-src \1/p' "$lines" | $sudo tee "$deb_src_name.list" >/dev/null
    fi
}

has_debian_deb_src() {
    grep -qs '^deb-src .*debian' /etc/apt/sources.list /etc/apt/sources.list.d/*.list ||
        cat /etc/apt/sources.list.d/*.sources 2>/dev/null |
        awk 'BEGIN { RS = "" } /Types:[^\n]*deb-src/ && /debian/ { found = 1 } END { exit !found }'
}

fetch_source() {  # source-package binary-package: the source of the installed binary's version
    local source=$1 binary=$2 version
    version=$(dpkg-query -W -f='${source:Version}' "$binary")
    [[ -f $source_root/$source/.version && $(cat "$source_root/$source/.version") == "$version" ]] &&
        return 0
    has_debian_deb_src || write_deb_src_lists
    echo "Fetching the source of $source $version"
    local work get=(apt-get source -qq --only-source "$source=$version")
    # As root, into a folder of root's: apt's own user would have no way in.
    [[ $(id -u) == 0 ]] && get+=(-o APT::Sandbox::User=root)
    work=$(mktemp -d)
    # The source indexes are read once, the first time a source is missing.
    if ! (cd "$work" && "${get[@]}" >/dev/null 2>&1); then
        $sudo apt-get update -qq
        (cd "$work" && "${get[@]}" >/dev/null)
    fi
    local unpacked
    unpacked=$(find "$work" -mindepth 1 -maxdepth 1 -type d | head -n 1)
    [[ -n $unpacked ]] || { echo "apt-get source $source=$version unpacked nothing" >&2; exit 1; }
    mkdir -p "$source_root"
    rm -rf "${source_root:?}/$source"
    mv "$unpacked" "$source_root/$source"
    echo "$version" >"$source_root/$source/.version"
    rm -rf "$work"
}
fetch_source pugixml libpugixml-dev
