#!/usr/bin/env bash
# Installs the Debian packages that building, the demo and the tests need; quick when they
# are there already. Runs apt-get through sudo when not root.
set -euo pipefail

packages=(g++ cmake ninja-build pkg-config libgtest-dev libgmock-dev googletest libpugixml-dev
          libdtl-dev zlib1g-dev diffutils python3 chromium)
if [[ "${1:-}" == "--windows" ]]; then
    packages+=(g++-mingw-w64-i686)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=""
[[ $(id -u) -ne 0 ]] && sudo="sudo"
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
