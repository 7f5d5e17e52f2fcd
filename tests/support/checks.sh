# Helpers of the shell test suites; sourced. Each check prints "ok   NAME" or "FAIL NAME",
# and report_checks LABEL prints the closing "LABEL: N passed, N failed" line that the test
# command reads, and fails when a check did.
checks=0
failures=0
pass() {
    checks=$((checks + 1))
    echo "ok   $1"
}
fail() {
    checks=$((checks + 1))
    failures=$((failures + 1))
    echo "FAIL $1"
}
check() {  # check NAME COMMAND...
    local name=$1
    shift
    if "$@"; then pass "$name"; else fail "$name"; fi
}
report_checks() {
    echo "$1: $((checks - failures)) passed, $failures failed"
    [[ $failures == 0 ]]
}
# end_programs_under DIR: ends, by pid, every process whose program lies under DIR (a test's
# own product tree: its service and the client that service started).
end_programs_under() {
    local exe pid
    for exe in /proc/[0-9]*/exe; do
        [[ $(readlink "$exe" 2>/dev/null) == "$1"/* ]] || continue
        pid=${exe#/proc/}
        kill -9 "${pid%/exe}" 2>/dev/null
    done
}
