# Counting checks in the shell test suites; sourced. Each check prints "ok   NAME" or
# "FAIL NAME", and report_checks LABEL prints the closing "LABEL: N passed, N failed" line
# that the test command reads, and fails when a check did.
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
