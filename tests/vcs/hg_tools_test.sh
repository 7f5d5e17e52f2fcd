#!/usr/bin/env bash
# Mercurial with the set-up of docs/hg.md, run against the product installed from a build,
# with the real client and no desktop (conflicts come back marked, clean merges at once).
#
#   tests/vcs/hg_tools_test.sh BUILD_DIR DOCS_HG_MD
#
# A merge of two heads in which both sides changed three files: clean.txt (different
# lines: the tool merges it), notes.txt (the same line: the tool marks a conflict) and
# image.bin (binary: the tool does not claim it). Mercurial must hold clean.txt resolved
# with both changes, and notes.txt and image.bin unresolved.
set -u
build=${1:?usage: hg_tools_test.sh BUILD_DIR DOCS_HG_MD}
doc=${2:?usage: hg_tools_test.sh BUILD_DIR DOCS_HG_MD}
source "$(dirname "$0")/world.sh" "$build" hg
export HGRCPATH=$HOME/.hgrc HGPLAIN=1 HGENCODING=utf-8

setup=$(doc_block "$doc" "Set-up, ready to copy")
check "docs/hg.md holds the set-up block" grep -q 'trelmerge.args' <<<"$setup"
bash -euc "$setup"
printf '[ui]\nusername = test <test@example.invalid>\n' >>"$HOME/.hgrc"
check "the set-up makes trelmerge hg's merge tool" [ "$(hg config ui.merge)" = trelmerge ]

# ---- two heads that changed the same files
repo=$root/repo
hg init "$repo" && cd "$repo" || exit 1
printf 'name = demo\nport = 80\nuser = nobody\nlevel = 1\nmode = fast\n' >clean.txt
printf 'first\nsecond\nthird\n' >notes.txt
printf 'IMG\0base\n' >image.bin
hg add -q && hg commit -q -m base
printf 'name = demo\nport = 80\nuser = nobody\nlevel = 1\nmode = safe\n' >clean.txt
printf 'first\nsecond (other)\nthird\n' >notes.txt
printf 'IMG\0other\n' >image.bin
hg commit -q -m other
hg update -q 0
printf 'name = demo\nport = 8080\nuser = nobody\nlevel = 1\nmode = fast\n' >clean.txt
printf 'first\nsecond (local)\nthird\n' >notes.txt
printf 'IMG\0local\n' >image.bin
hg commit -q -m local

hg merge 1 </dev/null >"$root/merge.out" 2>&1
status=$?
check "hg merge reports the files left unresolved (status $status)" [ "$status" = 1 ]
check "hg names notes.txt as the merge that failed" grep -q 'merging notes.txt failed' "$root/merge.out"
states=$(hg resolve -l | tr '\n' ' ')
check "hg resolve -l: clean.txt resolved, image.bin and notes.txt not (got: $states)" \
    [ "$states" = "R clean.txt U image.bin U notes.txt " ]
check "clean.txt holds both sides' changes" \
    cmp -s clean.txt <(printf 'name = demo\nport = 8080\nuser = nobody\nlevel = 1\nmode = safe\n')
check "notes.txt holds the client's conflict, labelled as the doc says" \
    cmp -s notes.txt <(printf 'first\n<<<<<<< working copy\nsecond (local)\n||||||| common ancestor\nsecond\n=======\nsecond (other)\n>>>>>>> merge rev\nthird\n')
check "image.bin keeps the local bytes" cmp -s image.bin <(printf 'IMG\0local\n')
check "the client merged clean.txt" grep -Eq 'true: merged into .*/repo/clean.txt' <<<"$(client_log)"
check "the client marked one conflict in notes.txt" \
    grep -q '1 conflict(s) marked in .*/repo/notes.txt' <<<"$(client_log)"
check "the binary file never reached the client" bash -c '! grep -q image <<<"$1"' _ "$(client_log)"

# hg resolve runs the tool again from hg's copies; -m marks a file resolved by hand.
hg resolve notes.txt </dev/null >/dev/null 2>&1
status=$?
check "hg resolve notes.txt runs the tool again and fails again (status $status)" [ "$status" = 1 ]
check "the client was asked twice" \
    [ "$(grep -c 'conflict(s) marked in .*/repo/notes.txt' <<<"$(client_log)")" = 2 ]
printf 'first\nsecond (both)\nthird\n' >notes.txt
hg resolve -m notes.txt >/dev/null 2>&1
check "hg resolve -m marks the hand-resolved file" [ "$(hg resolve -l notes.txt)" = "R notes.txt" ]

# ---- extdiff: one compare page per changed file, labelled with path and revision
hg trelmerge --per-file -r 0 -r 1 </dev/null >"$root/extdiff.out" 2>&1
check "hg trelmerge --per-file writes a page for each of the three files" \
    [ "$(ls "$work_dir"/compare/*.html 2>/dev/null | wc -l)" = 3 ]
for label in clean.txt@0 clean.txt@1 notes.txt@0 notes.txt@1 image.bin@1; do
    check "a page is labelled $label" [ "$(pages_labelled "$label")" = 1 ]
done
check "the binary pair is shown as binary" [ "$(pages_labelled 'binary files')" -ge 1 ]
# The doc's warning: without --per-file, several files come as two folders.
hg trelmerge -r 0 -r 1 </dev/null >"$root/folders.out" 2>&1
check "without --per-file trelmerge gets folders and answers with its usage text" \
    grep -q 'Usage: trelmerge' "$root/folders.out"

report_checks hg
