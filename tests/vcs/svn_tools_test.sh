#!/usr/bin/env bash
# Subversion with the set-up and commands of docs/svn.md, run against the product installed
# from a build, with the real client and no desktop (conflicts come back marked, clean
# merges at once).
#
#   tests/vcs/svn_tools_test.sh BUILD_DIR DOCS_SVN_MD
#
# Two working copies of one repository; the first commits changes to clean.txt, notes.txt
# and image.bin, the second has changed the same files: clean.txt on another line, notes.txt
# on the same line, image.bin (binary) too. Updating the second must leave clean.txt merged
# and notes.txt and image.bin in conflict, with the client's markers in notes.txt. (svn asks
# at its prompt about a binary file even with --accept launch, so that run leaves
# image.bin unchanged.)
set -u
build=${1:?usage: svn_tools_test.sh BUILD_DIR DOCS_SVN_MD}
doc=${2:?usage: svn_tools_test.sh BUILD_DIR DOCS_SVN_MD}
source "$(dirname "$0")/world.sh" "$build" svn
export LC_ALL=C.UTF-8

setup=$(doc_block "$doc" "Set-up, ready to copy")
check "docs/svn.md holds the set-up block" grep -q 'merge-tool-cmd' <<<"$setup"
bash -euc "$setup"
compare=$(doc_block "$doc" Compare)
launch=$(doc_block "$doc" "Resolve conflicts" 1)
diff3=$(doc_block "$doc" "Resolve conflicts" 2)
check "docs/svn.md names the three commands" \
    [ "$compare" = "svn diff --diff-cmd trelmerge-svn-diff" ] && [ -n "$launch" ] && [ -n "$diff3" ]

svnadmin create "$root/repo"
url=file://$root/repo
svn -q checkout "$url" "$root/theirs" && cd "$root/theirs" || exit 1
printf 'name = demo\nport = 80\nuser = nobody\nlevel = 1\nmode = fast\n' >clean.txt
printf 'first\nsecond\nthird\n' >notes.txt
printf 'IMG\0base\n' >image.bin
svn -q add clean.txt notes.txt image.bin && svn -q commit -m base
svn -q checkout "$url" "$root/mine"
printf 'name = demo\nport = 80\nuser = nobody\nlevel = 1\nmode = safe\n' >clean.txt
printf 'first\nsecond (theirs)\nthird\n' >notes.txt
printf 'IMG\0theirs\n' >image.bin
svn -q commit -m theirs

# mine: the same files changed, then either recipe; status letters as `svn status` gives them
make_mine_changes() {  # [binary too]
    svn -q revert -R . && rm -f ./*.mine ./*.r[0-9]* && svn -q update -r 1
    printf 'name = demo\nport = 8080\nuser = nobody\nlevel = 1\nmode = fast\n' >clean.txt
    printf 'first\nsecond (mine)\nthird\n' >notes.txt
    [[ -z ${1:-} ]] || printf 'IMG\0mine\n' >image.bin
}
statuses() { svn status | awk '$2 !~ /\.(mine|r[0-9]+)$/ && NF == 2 { printf "%s %s ", $1, $2 }'; }
merged_clean=$'name = demo\nport = 8080\nuser = nobody\nlevel = 1\nmode = safe'

cd "$root/mine" || exit 1
make_mine_changes binary

# ---- compare: one page per changed file, labelled as svn labels
eval "$compare" >"$root/diff.out" 2>&1
status=$?
check "svn diff --diff-cmd trelmerge-svn-diff exits 0 (got $status)" [ "$status" = 0 ]
check "a page for each of the two text files (svn shows no binary file)" \
    [ "$(ls "$work_dir"/compare/*.html 2>/dev/null | wc -l)" = 2 ]
check "the pages carry svn's labels" [ "$(pages_labelled '(working copy)')" = 2 ]

# ---- svn update --accept launch: svn merges clean.txt, the tool gets the conflicts
make_mine_changes
timeout 120 script -qec "$launch" /dev/null </dev/null >"$root/launch.out" 2>&1
check "svn update --accept launch: clean.txt merged, notes.txt in conflict" \
    [ "$(statuses)" = "M clean.txt C notes.txt " ]
check "clean.txt holds both sides' changes" [ "$(cat clean.txt)" = "$merged_clean" ]
wc_notes=$root/mine/notes.txt
check "notes.txt holds the client's markers, labelled with the file's path" \
    [ "$(sed -n '2p;4p;6p;8p' notes.txt)" = "<<<<<<< $wc_notes (mine)"$'\n'"||||||| $wc_notes (base)"$'\n'"======="$'\n'">>>>>>> $wc_notes (theirs)" ]
check "the tool was run for notes.txt" grep -q "conflict(s) marked in $wc_notes" <<<"$(client_log)"
svn resolve -q --accept working notes.txt
check "svn resolve --accept working marks the hand-resolved file" \
    [ "$(svn status notes.txt | cut -c1)" = M ]

# ---- svn update --diff3-cmd: the client makes every merge
make_mine_changes binary
eval "$diff3" >"$root/diff3.out" 2>&1
check "svn update --diff3-cmd: clean.txt merged, notes.txt and image.bin in conflict" \
    [ "$(statuses)" = "M clean.txt C image.bin C notes.txt " ]
check "clean.txt holds both sides' changes" [ "$(cat clean.txt)" = "$merged_clean" ]
check "the client made clean.txt's merge" \
    [ "$(grep -c 'true: merged into .*/trelmerge-svn-' <<<"$(client_log)")" -ge 1 ]
check "notes.txt holds the client's markers with svn's labels" \
    [ "$(cat notes.txt)" = $'first\n<<<<<<< .mine\nsecond (mine)\n||||||| .r1\nsecond\n=======\nsecond (theirs)\n>>>>>>> .r2\nthird' ]
check "image.bin keeps mine" cmp -s image.bin <(printf 'IMG\0mine\n')
check "the adapter's temporary folders are gone" \
    [ -z "$(find "$TMPDIR" -maxdepth 1 -name 'trelmerge-svn-*')" ]

report_checks svn
