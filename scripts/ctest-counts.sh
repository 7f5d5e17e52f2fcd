#!/usr/bin/env bash
# Runs ctest with the given arguments (output on failure, all cores) and closes its output
# with the count line that scripts/test.sh adds up: "ctest: N passed, N failed".
# Exit status: ctest's; 1 when it ran no tests.
set -uo pipefail
out=$(mktemp)
trap 'rm -f "$out"' EXIT
ctest --output-on-failure -j "$(nproc)" "$@" 2>&1 | tee "$out"
status=${PIPESTATUS[0]}
# "100% tests passed, 0 tests failed out of 57"
summary=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$out" | tail -n 1)
if [[ -z $summary ]]; then
    echo "ctest ran no tests"
    exit 1
fi
read -r failed total < <(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1 \2/' <<<"$summary")
echo "ctest: $((total - failed)) passed, $failed failed"
exit "$status"
