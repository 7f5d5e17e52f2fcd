#!/usr/bin/env bash
# End-to-end run of the Windows programs under wine.
#
#   tests/wine/run_wine_suite.sh BUILD_DIR
#
# BUILD_DIR is a cross build (cmake/toolchain-mingw32.cmake) that holds in bin/:
# trelmerge.exe, zorv_service.exe, trelmergeutf8.exe, fake_zorvexplorer.exe and
# record_argv.exe. The suite installs a product tree into a folder of its own, with the
# fake client as ZorvHome\zorvexplorer.exe and record_argv as bin\trelprompt.exe, runs the
# programs in a wine prefix of its own and checks what reaches the client, the exit
# statuses, the pid file and the service log. Every wait has a deadline. At the end it ends
# the processes it started, by pid, and the prefix's own wineserver.
#
# Environment: VARNEX_WINE (the wine loader; default: wine64 for 64-bit programs, else
# wine), VARNEX_WINEPREFIX (reuse a prefix; default: a new one in the suite's folder),
# VARNEX_KEEP=1 keeps the suite's folder.
set -u

build_dir=${1:?usage: run_wine_suite.sh BUILD_DIR}
bin=$(cd "$build_dir/bin" && pwd) || exit 2

# shellcheck source=../support/checks.sh
source "$(dirname "$0")/../support/checks.sh"

for program in trelmerge zorv_service trelmergeutf8 fake_zorvexplorer record_argv; do
    if [ ! -f "$bin/$program.exe" ]; then
        echo "missing $bin/$program.exe: build it first" >&2
        exit 2
    fi
done

# The fake client, in mode echo, answers true exactly when the request holds this marker.
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
marker=$(sed -n 's/.*echo_yes_marker = "\([^"]*\)".*/\1/p' \
    "$source_dir/tests/service_support/fake_client_modes.h")
marker=${marker:-answer-yes}

# A folder whose name cannot hold the marker.
while :; do
    root=$(mktemp -d /tmp/varnex-wine.XXXXXX)
    case $root in *"$marker"*) rmdir "$root" ;; *) break ;; esac
done
cleanup() {
    declare -F stop_service >/dev/null && stop_service
    # Only a prefix of our own is shut down whole; a shared one may serve others.
    [ -z "${VARNEX_WINEPREFIX:-}" ] && [ -n "${WINEPREFIX:-}" ] && "$wineserver" -k >/dev/null 2>&1
    if [ "${VARNEX_KEEP:-0}" = 1 ]; then echo "kept $root"; else rm -rf "$root"; fi
}
trap cleanup EXIT

# The loader that matches the programs: a 64-bit build needs wine64. The PE header's
# machine field says which it is.
pe_offset=$(od -An -tu4 -j60 -N4 "$bin/trelmerge.exe" | tr -d ' ')
if od -An -tx1 -j $((pe_offset + 4)) -N2 "$bin/trelmerge.exe" | grep -q '64 86'; then
    triplet=x86_64-w64-mingw32
    default_wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
else
    triplet=i686-w64-mingw32
    default_wine=$(command -v wine)
fi
wine=${VARNEX_WINE:-$default_wine}
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
export WINEDEBUG=-all
export WINEPREFIX=${VARNEX_WINEPREFIX:-$root/prefix}
export WINEDLLOVERRIDES="mscoree,mshtml="  # no installer dialogs in a new prefix
echo "wine: $wine, prefix: $WINEPREFIX"
if [ ! -d "$WINEPREFIX/drive_c" ]; then
    timeout 180 "$wine" wineboot -i >/dev/null 2>&1
fi
# A kernel without 32-bit support runs no 32-bit wine: say so rather than fail every check.
if ! timeout 60 "$wine" "$bin/record_argv.exe" </dev/null >/dev/null 2>&1; then
    echo "wine ($wine) cannot run $bin/record_argv.exe on this machine; skipped" >&2
    exit 77
fi

# 0. The catalogue accessor stands in the front end's export table.
objdump=$(command -v "$triplet-objdump" || command -v objdump)
check "trelmerge.exe exports _trelmerge_trelmerge_msg_table_adr" \
    grep -Eq '^\s*\[ *[0-9]+\] _trelmerge_trelmerge_msg_table_adr$' \
    <<<"$("$objdump" -p "$bin/trelmerge.exe" 2>/dev/null)"

# Linux path -> the Z: path that wine's programs see.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

product=$root/product
mkdir -p "$product/bin" "$product/ZorvHome" "$root/tmp" "$root/client" "$root/$marker" "$root/files"
cp "$bin/trelmerge.exe" "$bin/zorv_service.exe" "$bin/trelmergeutf8.exe" "$product/bin/"
cp "$bin/record_argv.exe" "$product/bin/trelprompt.exe"
cp "$bin/fake_zorvexplorer.exe" "$product/ZorvHome/zorvexplorer.exe"
printf 'one\n' >"$root/$marker/a.txt"
printf 'two\n' >"$root/$marker/b.txt"

W_ROOT=$(winpath "$root")
W_PRODUCT=$(winpath "$product")
W_TMP=$(winpath "$root/tmp")
login=$(id -un)  # wine reports the Linux login as the Windows user name
work_dir=$root/tmp/$login.trelmerge

# run_in NAME DIR TMPDIR PROGRAM ARGS...: runs a program of the product tree in DIR with
# TMP and TEMP set inside the wine session (wine would otherwise take them from its
# registry), through the batch file NAME.bat so that no quoting is lost on the way. Its
# output goes to NAME.out, its exit status to NAME.status.
run_in() {
    local name=$1 dir=$2 tmp=$3 program=$4
    shift 4
    local batch=$root/$name.bat
    {
        printf '@echo off\r\n'
        printf 'set TMP=%s\r\nset TEMP=%s\r\n' "$tmp" "$tmp"
        printf 'set FAKE_CLIENT_DIR=%s\r\nset FAKE_CLIENT_MODE=echo\r\n' "$(winpath "$root/client")"
        printf 'set RECORD_ARGV_FILE=%s\r\n' "$(winpath "$root/prompt.rec")"
        printf 'set VARNEX_CONNECT_PAUSE_MS=100\r\n'
        printf 'cd /d %s\r\n' "$(winpath "$dir")"
        printf '"%s\\bin\\%s"' "$W_PRODUCT" "$program"
        local a
        for a in "$@"; do printf ' "%s"' "$a"; done
        printf '\r\nexit %%ERRORLEVEL%%\r\n'
    } >"$batch"
    timeout 120 "$wine" cmd /c "$(winpath "$batch")" </dev/null >"$root/$name.out" 2>&1
    echo $? >"$root/$name.status"
}
status_of() { cat "$root/$1.status" 2>/dev/null; }

service_pid() { tr -d '\r\n' <"$work_dir/zorv_service.pid" 2>/dev/null; }
stop_service() {  # the service and the client it started
    local pid
    for pid in "$(service_pid)" "$(tr -d '\r\n' <"$root/client/pid" 2>/dev/null)"; do
        [ -n "$pid" ] && timeout 30 "$wine" taskkill /F /PID "$pid" >/dev/null 2>&1
    done
    return 0
}

# The request the client must have read for a compare of a.txt and b.txt in the marker's
# folder.
W_YES=$(winpath "$root/$marker")
body="<methodCall><methodName>RequestHandler.Compare</methodName><params><param><value><array><data><value><string>a.txt</string></value></data><data><value><string>b.txt</string></value></data></array></value></param><param><value><array><data><value><string>$W_YES\\a.txt</string></value></data><data><value><string>$W_YES\\b.txt</string></value></data></array></value></param><param><value><string></string></value></param></params></methodCall>"
framed=$(printf 'POST /RPC2 HTTP/1.1\r\nContent-Length: %s\r\n\r\n%s' "${#body}" "$body")

# 1. The worked example: the first run starts the service, which starts the client.
run_in first "$root/$marker" "$W_TMP" trelmerge.exe a.txt b.txt
status=$(status_of first)
check "compare of a.txt and b.txt answered true exits 0 (got $status)" [ "$status" = 0 ]
check "the client received the worked example with this folder's paths" \
    [ "$(cat "$root/client/request-1.bin" 2>/dev/null)" = "$framed" ]
pid=$(service_pid)
check "the pid file holds only digits ($pid)" \
    grep -Eq '^[1-9][0-9]*$' <<<"$(cat "$work_dir/zorv_service.pid" 2>/dev/null)"
first_line=$(head -n1 "$work_dir/zorv_service.log" 2>/dev/null)
expected_start="\"$W_PRODUCT\\ZorvHome\\zorvexplorer.exe\" -product com.qorva.tarvel.team.client.integration.product "
expected_end="-Dcom.qorva.tarvel.team.client.integration.wrapperpipe=\"\\\\.\\pipe\\qorva\\tarvel\\varnex71\\zorv_service_pipe"
log_starts_with_client_line() {
    [[ $first_line == "$expected_start"*"$expected_end"[0-9]*"$login\""$'\r' ]]
}
check "the service log begins with the client's command line, CRLF-ended" \
    log_starts_with_client_line
check "the client runs in its folder" \
    [ "$(cat "$root/client/cwd.txt" 2>/dev/null)" = "$W_PRODUCT\\ZorvHome" ]

# 2. A second run reuses the service and its client.
run_in merge "$root/$marker" "$W_TMP" trelmerge.exe -out m.txt -encoding utf-8 a.txt b.txt
status=$(status_of merge)
check "a merge exits 0 (got $status)" [ "$status" = 0 ]
check "the second run reused the service" [ "$(service_pid)" = "$pid" ]
merge=$(cat "$root/client/request-2.bin" 2>/dev/null)
merge_request_ok() {
    [[ $merge == *"<methodName>RequestHandler.CompareMerge</methodName><params><param><value><string>$W_YES\\m.txt</string>"* ]] &&
        [[ $merge == *"<string>utf8_file_delta</string></value></param></params></methodCall>" ]]
}
check "the merge reached the same client as CompareMerge with its output path and type" \
    merge_request_ok

# 3. The UTF-8 launcher adds -encoding utf-8 and passes the front end's status on.
run_in utf8 "$root/$marker" "$W_TMP" trelmergeutf8.exe a.txt b.txt
status=$(status_of utf8)
check "trelmergeutf8 exits 0 (got $status)" [ "$status" = 0 ]
check "trelmergeutf8's request carries the UTF-8 type" \
    grep -q '<string>utf8_file_delta</string></value></param></params></methodCall>' \
    "$root/client/request-3.bin"

# 4. A command-line error: usage, status -1 (255 on Linux), the service is still found.
run_in usage "$root/$marker" "$W_TMP" trelmerge.exe a.txt
status=$(status_of usage)
check "a single contributor exits with -1 (got $status)" [ "$status" = 255 ]
check "it printed the message for too few objects" \
    grep -q "At least two objects must be supplied to compare." "$root/usage.out"

# 5. Twenty front ends at once each get their own answer: the echo client answers true
#    exactly for requests that name a file with the marker.
declare -a pids names
for i in $(seq 1 20); do
    if [ $((i % 2)) = 0 ]; then name=$marker$i; else name=no$i; fi
    printf 'x\n' >"$root/files/$name.txt"
    printf 'y\n' >"$root/files/other$i.txt"
    names[$i]=$name
    run_in "many$i" "$root/files" "$W_TMP" trelmerge.exe "$name.txt" "other$i.txt" &
    pids[$i]=$!
done
wrong=0
for i in $(seq 1 20); do
    wait "${pids[$i]}"
    got=$(status_of "many$i")
    case ${names[$i]} in "$marker"*) want=0 ;; *) want=255 ;; esac
    if [ "$got" != "$want" ]; then
        wrong=$((wrong + 1))
        echo "     ${names[$i]}: status $got, expected $want"
    fi
done
check "20 concurrent front ends each got their own answer" [ "$wrong" = 0 ]
check "one service served them all" [ "$(service_pid)" = "$pid" ]

# 6. A temporary directory in which no work directory can be made: the prompt tool is run
#    with the error text and the run ends with -1.
printf 'not a folder\n' >"$root/blocker"
rm -f "$root/prompt.rec"
run_in blocked "$root/$marker" "$(winpath "$root/blocker")\\sub" trelmerge.exe a.txt b.txt
status=$(status_of blocked)
check "an impossible temporary directory exits with -1 (got $status)" [ "$status" = 255 ]
expected_prompt=$(
    for a in "$W_PRODUCT\\bin\\trelprompt.exe" proceed -mask p -type error -prompt \
        '" Could not set the temporary directory "' -prefer_gui; do
        printf '%s:%s\n' "${#a}" "$a"
    done
)
recorded_prompt=$(tail -n +2 "$root/prompt.rec" 2>/dev/null)
check "the prompt tool got its arguments one by one" [ "$recorded_prompt" = "$expected_prompt" ]

report_checks wine
