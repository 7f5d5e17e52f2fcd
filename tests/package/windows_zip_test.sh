#!/usr/bin/env bash
# The 32-bit Windows programs as they leave: the front end's export table, the client's
# imports (only the system's own DLLs, so the zip runs on a bare Windows) and what the zip
# holds. Needs no wine.
#
#   tests/package/windows_zip_test.sh BUILD_DIR
#
# BUILD_DIR is a 32-bit cross build (cmake/toolchain-mingw32.cmake) that has made its zip
# with cpack into BUILD_DIR/package.
set -u
build=$(cd "${1:?usage: windows_zip_test.sh BUILD_DIR}" && pwd) || exit 2
source_dir=$(cd "$(dirname "$0")/../.." && pwd)

# shellcheck source=../support/checks.sh
source "$source_dir/tests/support/checks.sh"

objdump=i686-w64-mingw32-objdump
exports=$("$objdump" -p "$build/bin/trelmerge.exe" 2>/dev/null)
check "the 32-bit trelmerge.exe exports _trelmerge_trelmerge_msg_table_adr" \
    grep -Eq '^\s*\[ *[0-9]+\] _trelmerge_trelmerge_msg_table_adr$' <<<"$exports"

# Linked statically: nothing but DLLs that every Windows has.
system_dlls='^(ADVAPI32|IPHLPAPI|KERNEL32|msvcrt|ole32|SHELL32|USER32|WS2_32|CRYPT32|PSAPI)\.dll$'
for program in trelmerge zorv_service trelmergeutf8 trelprompt zorvexplorer; do
    exe=$build/bin/$program.exe
    imports=$("$objdump" -p "$exe" 2>/dev/null | sed -n 's/^\s*DLL Name: //p')
    check "$(basename "$exe") needs only the system's DLLs ($(tr '\n' ' ' <<<"$imports"))" \
        eval '[[ -n $imports ]] && ! grep -Eiv "$system_dlls" <<<"$imports"'
done

zip_file=$(ls "$build"/package/varnex-*-win32.zip 2>/dev/null | head -n 1)
check "cpack made the 32-bit zip" test -n "$zip_file"
zip_list=$([[ -n $zip_file ]] && unzip -Z1 "$zip_file")
for entry in bin/trelmerge.exe bin/zorv_service.exe bin/trelmergeutf8.exe bin/trelprompt.exe \
    bin/trelmerge-svn-diff.cmd bin/trelmerge-svn-diff3.cmd bin/trelmerge-svn-merge.cmd \
    ZorvHome/zorvexplorer.exe README.txt; do
    check "the zip holds $entry" grep -Eq "^varnex-[0-9.]+-win32/$entry\$" <<<"$zip_list"
done
# The test build's helpers and libraries stay out of what users get.
check "the zip holds no DLL and no test program" \
    eval '! grep -Eiq "\.dll$|fake_|record_argv|_tests?\.exe$" <<<"$zip_list"'

report_checks windows-zip
