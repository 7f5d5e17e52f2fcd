#!/usr/bin/env bash
# The Windows batch adapters under wine, run as svn runs them, with the record_argv helper
# standing in for trelmerge.exe: one row per case, giving the adapter, its arguments, the
# exit status trelmerge gives, the status svn must get and the arguments trelmerge must get.
#
#   tests/vcs/svn_cmd_adapters_test.sh RECORD_ARGV_EXE ADAPTERS_DIR
set -u
record_argv=${1:?usage: svn_cmd_adapters_test.sh RECORD_ARGV_EXE ADAPTERS_DIR}
adapters=${2:?usage: svn_cmd_adapters_test.sh RECORD_ARGV_EXE ADAPTERS_DIR}
# shellcheck source=../support/checks.sh
source "$(dirname "$0")/../support/checks.sh"

root=$(mktemp -d "${VARNEX_TEST_ROOT:-/tmp}/varnex-svn-cmd-XXXXXX")
trap 'rm -rf "$root"' EXIT
mkdir "$root/bin"
cp "$adapters"/*.cmd "$root/bin/"
cp "$record_argv" "$root/bin/trelmerge.exe"
# The 32-bit or the 64-bit wine, as the helper was built (the machine field of its PE header).
pe=$(od -An -tu4 -j60 -N4 "$record_argv" | tr -d ' ')
machine=$(od -An -tx2 -j$((pe + 4)) -N2 "$record_argv" | tr -d ' ')
wine=$(command -v wine)
[[ $machine == 8664 ]] && wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
export WINEDEBUG=-all
windows() { echo "Z:${1//\//\\}"; }

# name | adapter | trelmerge's status | svn's status | trelmerge's arguments (';' between)
# | the adapter's arguments (';' between)
rows=(
    "diff: labels become display names|trelmerge-svn-diff.cmd|0|0|-fname;f.txt	(revision 1);-fname;f.txt	(working copy);Z:\\l.txt;Z:\\r.txt|-u;-L;f.txt	(revision 1);-L;f.txt	(working copy);Z:\\l.txt;Z:\\r.txt"
    "diff: -x options are dropped, failure is an error|trelmerge-svn-diff.cmd|255|2|-fname;a;-fname;b;Z:\\l.txt;Z:\\r.txt|-b;-w;-L;a;-L;b;Z:\\l.txt;Z:\\r.txt"
    "diff: arguments svn never gives|trelmerge-svn-diff.cmd|0|2||Z:\\l.txt;Z:\\r.txt"
    "diff3: no merged file is an error|trelmerge-svn-diff3.cmd|0|2|-base;Z:\\o.txt;-fname;.r1;-fname;.mine;-fname;.r2;-out;*;Z:\\m.txt;Z:\\y.txt|-E;-m;-L;.mine;-L;.r1;-L;.r2;Z:\\m.txt;Z:\\o.txt;Z:\\y.txt"
    "merge: resolved|trelmerge-svn-merge.cmd|0|0|-base;Z:\\b.txt;-fname;C:\\wc\\f (1).txt (base);-fname;C:\\wc\\f (1).txt (mine);-fname;C:\\wc\\f (1).txt (theirs);-out;Z:\\merged.txt;Z:\\m.txt;Z:\\t.txt|Z:\\b.txt;Z:\\t.txt;Z:\\m.txt;Z:\\merged.txt;C:\\wc\\f (1).txt"
    "merge: still in conflict|trelmerge-svn-merge.cmd|255|1|-base;Z:\\b.txt;-fname;f (base);-fname;f (mine);-fname;f (theirs);-out;Z:\\merged.txt;Z:\\m.txt;Z:\\t.txt|Z:\\b.txt;Z:\\t.txt;Z:\\m.txt;Z:\\merged.txt;f"
    "merge: arguments svn never gives|trelmerge-svn-merge.cmd|0|2||a;b;c"
)
for row in "${rows[@]}"; do
    IFS='|' read -r name adapter given want expected args <<<"$row"
    IFS=';' read -r -a argv <<<"$args"
    rm -f "$root/record"
    RECORD_ARGV_FILE=$(windows "$root/record") RECORD_ARGV_EXIT=$given timeout 120 \
        "$wine" cmd /c "$(windows "$root/bin/$adapter")" "${argv[@]}" >"$root/out" 2>&1
    status=$?
    check "$name: status $want (got $status)" [ "$status" = "$want" ]
    # The records after the folder and the program, joined with ';'.
    got=$(awk 'NR > 2' "$root/record" 2>/dev/null | sed 's/^[0-9]*://' | paste -sd ';')
    # The temporary output's name is not known beforehand.
    got=$(sed -E 's/;-out;[^;]*trelmerge-svn-[^;]*;/;-out;*;/' <<<"$got")
    check "$name: trelmerge gets ${expected:-nothing}" [ "$got" = "$expected" ]
done

report_checks svn-cmd
