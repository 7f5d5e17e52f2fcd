#!/usr/bin/env bash
# The Debian package of a POSIX build: made with cpack, unpacked with dpkg-deb -x into a
# folder of its own, and used from there as a user of the installed package would use it:
# the commands in usr/bin, their manual pages, a compare and a merge through the real
# service and client (no desktop). lintian must find no errors.
#
#   tests/package/package_test.sh BUILD_DIR
set -u
build=$(cd "${1:?usage: package_test.sh BUILD_DIR}" && pwd) || exit 2
source_dir=$(cd "$(dirname "$0")/../.." && pwd)

# shellcheck source=../support/checks.sh
source "$source_dir/tests/support/checks.sh"
finish() {
    report_checks package
    exit
}

root=$(mktemp -d "${VARNEX_TEST_ROOT:-/tmp}/varnex-package-XXXXXX")
sysroot=$root/sysroot
work_dir=$root/tmp/$(id -un).trelmerge
cleanup() {
    # Whatever runs from the unpacked tree: the service and the client it started.
    end_programs_under "$sysroot"
    if [[ -n ${VARNEX_KEEP_TEST_ROOT:-} ]]; then echo "kept $root"; else rm -rf "$root"; fi
}
trap cleanup EXIT

# ---- make and unpack
if ! cpack --config "$build/CPackConfig.cmake" -B "$root/out" >"$root/cpack.log" 2>&1; then
    cat "$root/cpack.log"
    fail "cpack makes the package"
    finish
fi
deb=$(ls "$root"/out/varnex_*.deb 2>/dev/null | head -n 1)
check "cpack made varnex_<version>_<arch>.deb" [ -f "$deb" ]
[[ -f $deb ]] || finish
dpkg-deb -x "$deb" "$sysroot"
check "dpkg-deb -x unpacks it" [ -d "$sysroot/usr" ]

depends=$(dpkg-deb -f "$deb" Depends)
check "it depends on the C library and the client's XML library ($depends)" \
    grep -Eq 'libc6.*libpugixml' <<<"$depends"

# ---- layout: one product tree, the commands and documents where Debian looks
for program in trelmerge trelmergeutf8 trelmerge-svn-diff trelmerge-svn-diff3 trelmerge-svn-merge; do
    check "usr/bin/$program leads into the product tree" \
        [ "$(readlink -f "$sysroot/usr/bin/$program")" = "$sysroot/usr/lib/varnex/bin/$program" ]
done
for file in bin/zorv_service bin/trelprompt ZorvHome/zorvexplorer; do
    check "usr/lib/varnex/$file is there and executable" [ -x "$sysroot/usr/lib/varnex/$file" ]
done
check "bash completion for trelmerge is installed" \
    grep -q 'complete -F _trelmerge trelmerge' "$sysroot/usr/share/bash-completion/completions/trelmerge"
check "the copyright file is installed" [ -s "$sysroot/usr/share/doc/varnex/copyright" ]

# ---- manual pages render
for page in trelmerge trelmergeutf8 zorv_service zorvexplorer; do
    file=$sysroot/usr/share/man/man1/$page.1.gz
    text=$(MANWIDTH=80 man -l "$file" 2>"$root/man.err")
    check "man -l $page.1.gz renders its NAME, EXIT STATUS and FILES without warnings" \
        bash -c '[[ $1 == *NAME*"$2 - "*EXIT\ STATUS*FILES* && ! -s $3 ]]' _ "$text" "$page" \
        "$root/man.err"
done

# The Subversion adapters share one page; the other two names lead to it.
for page in trelmerge-svn-diff trelmerge-svn-diff3 trelmerge-svn-merge; do
    text=$(cd "$sysroot/usr/share/man" && MANWIDTH=80 man -l "man1/$page.1.gz" 2>"$root/man.err")
    check "man -l $page.1.gz renders the adapters' page without warnings" \
        bash -c '[[ $1 == *NAME*"$2"*EXIT\ STATUS* && ! -s $3 ]]' _ "$text" "$page" "$root/man.err"
done

# ---- a compare and a merge from the unpacked package
mkdir -m 700 "$root/tmp" "$root/pipes" "$root/files"
export TMPDIR=$root/tmp VARNEX_PIPE_DIR=$root/pipes VARNEX_CONNECT_PAUSE_MS=20
unset DISPLAY WAYLAND_DISPLAY ZORV_MERGE_UI
cp "$source_dir"/examples/*.txt "$root/files/"
cd "$root/files" || finish

timeout 60 "$sysroot/usr/bin/trelmerge" -fname left -fname right compare-left.txt compare-right.txt
status=$?
check "a compare through usr/bin/trelmerge exits 0 (got $status)" [ "$status" = 0 ]
page=$(ls "$work_dir"/compare/*.html 2>/dev/null | head -n 1)
check "the client wrote the compare page with the given labels" \
    grep -q 'left' "${page:-/dev/null}"
service=$(cat "$work_dir/zorv_service.pid" 2>/dev/null)
check "the service runs from the package's product tree" \
    [ "$(readlink "/proc/${service:-0}/exe" 2>/dev/null)" = "$sysroot/usr/lib/varnex/bin/zorv_service" ]

timeout 60 "$sysroot/usr/bin/trelmerge" -base merge-base.txt merge-ours.txt merge-theirs.txt \
    -out merged.txt
status=$?
check "a clean three-way merge exits 0 (got $status)" [ "$status" = 0 ]
expected=$'# Server settings\nhost = 0.0.0.0\nport = 8080\nlog_level = info\nmax_connections = 250\ntimeout = 30\nretry = 3\n'
check "the merged file holds both sides' changes" cmp -s merged.txt <(printf '%s' "$expected")

printf 'one\ntwo\n' >a.txt
printf 'one\n2\n' >b.txt
timeout 60 "$sysroot/usr/bin/trelmergeutf8" a.txt b.txt -out both.txt
status=$?
check "a two-way merge through usr/bin/trelmergeutf8 reports its conflict: 255 (got $status)" \
    [ "$status" = 255 ]
check "the conflict is marked in the output" grep -q '^<<<<<<< ' both.txt

# ---- lintian
if command -v lintian >/dev/null; then
    lintian --no-tag-display-limit "$deb" >"$root/lintian.out" 2>&1
    errors=$(grep -c '^E: ' "$root/lintian.out")
    check "lintian finds no errors ($errors)" [ "$errors" = 0 ]
    grep -E '^[EW]: ' "$root/lintian.out"
else
    echo "lintian is not installed (scripts/deps.sh --test installs it)"
    fail "lintian runs"
fi

finish
