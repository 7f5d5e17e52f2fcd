#!/usr/bin/env bash
# The bash completion for trelmerge: what it offers for a table of command lines.
#
#   tests/package/completion_test.sh COMPLETION_FILE
set -u
source "${1:?usage: completion_test.sh COMPLETION_FILE}"

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir" || exit 1
touch notes.txt notes.md other.txt

checks=0
failures=0
# case "COMMAND LINE (the last word is being completed)" "EXPECTED, sorted, one blank apart"
case_() {
    local line=$1 expected=$2
    read -ra COMP_WORDS <<<"$line"
    [[ $line == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _trelmerge
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ *$//')
    checks=$((checks + 1))
    if [[ $got == "$expected" ]]; then
        echo "ok   '$line' -> $expected"
    else
        failures=$((failures + 1))
        echo "FAIL '$line' -> '$got', expected '$expected'"
    fi
}

case_ "trelmerge -" "-base -blank_ignore -encoding -favor_contrib -fname -out"
case_ "trelmerge -b" "-base -blank_ignore"
case_ "trelmerge -encoding " "utf-16be utf-16le utf-32be utf-32le utf-8"
case_ "trelmerge a.txt -encoding utf-1" "utf-16be utf-16le"
case_ "trelmergeutf8 -encoding u" "utf-16be utf-16le utf-32be utf-32le utf-8"
# -base must come before every file: not offered once a file stands on the line.
case_ "trelmerge notes.txt -b" "-blank_ignore"
# An option's value is not a file that comes before -base.
case_ "trelmerge -out merged.txt -b" "-base -blank_ignore"
case_ "trelmerge -fname -" ""
case_ "trelmerge notes." "notes.md notes.txt"
case_ "trelmerge -out o" "other.txt"
case_ "trelmerge --" ""

echo "completion: $((checks - failures)) passed, $failures failed"
[[ $failures == 0 ]]
