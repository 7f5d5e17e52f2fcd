#!/usr/bin/env bash
# git difftool and mergetool set up with the lines of docs/git.md, run against the product
# installed from a build into this test's own folder, with the real client and no desktop.
#
#   tests/git/git_tools_test.sh BUILD_DIR DOCS_GIT_MD
#
# A merge leaves four files in conflict: config.cfg (marked -merge, so git leaves it to the
# tool although the two sides changed different lines: the tool merges it cleanly),
# image.bin (binary: the tool refuses it), notes.txt (both sides changed the same line: the
# tool marks a conflict) and words.txt (the same as notes.txt, resolved by hand before the
# tool runs). git's index must hold config.cfg resolved with the right bytes and image.bin
# and notes.txt still unresolved.
set -u
build=${1:?usage: git_tools_test.sh BUILD_DIR DOCS_GIT_MD}
doc=${2:?usage: git_tools_test.sh BUILD_DIR DOCS_GIT_MD}

# The product installed into this test's own folder, a world of its own (home, temporary and
# pipe folders, no desktop, short pauses while the service starts), and every program that
# ran from the product tree ended at the exit.
# shellcheck source=../vcs/world.sh
source "$(dirname "$0")/../vcs/world.sh" "$build" git

# A git without the user's configuration.
export GIT_CONFIG_NOSYSTEM=1 GIT_AUTHOR_NAME=test GIT_AUTHOR_EMAIL=test@example.invalid
export GIT_COMMITTER_NAME=test GIT_COMMITTER_EMAIL=test@example.invalid
unset GIT_DIR GIT_WORK_TREE

# Every set-up line of the doc, exactly as a user copies it.
setup=$(awk '/^```sh$/ { inside = 1; next } /^```$/ { inside = 0 }
             inside && /^git config --global / { print }' "$doc")
check "docs/git.md holds the set-up lines" grep -q 'mergetool.trelmerge.cmd' <<<"$setup"
bash -euc "$setup"
check "the set-up lines configure git" \
    [ "$(git config --global mergetool.trelmerge.trustExitCode)" = true ]

# ---- a repository whose merge stops on conflicts
repo=$root/repo
git init -q -b main "$repo"
cd "$repo" || exit 1
printf 'config.cfg -merge\n' >.gitattributes
printf 'name = demo\nport = 80\nuser = nobody\nlevel = 1\nmode = fast\n' >config.cfg
printf 'first\nsecond\nthird\n' >notes.txt
printf 'alpha\nbeta\n' >words.txt
printf 'untouched\n' >same.txt
printf 'IMG\0base\n' >image.bin
git add . && git commit -q -m base

git checkout -q -b theirs
printf 'name = demo\nport = 80\nuser = nobody\nlevel = 1\nmode = safe\n' >config.cfg
printf 'first\nsecond (theirs)\nthird\n' >notes.txt
printf 'alpha\nbeta (theirs)\n' >words.txt
printf 'IMG\0theirs\n' >image.bin
git commit -q -am theirs

git checkout -q main
printf 'name = demo\nport = 8080\nuser = nobody\nlevel = 1\nmode = fast\n' >config.cfg
printf 'first\nsecond (ours)\nthird\n' >notes.txt
printf 'alpha\nbeta (ours)\n' >words.txt
printf 'IMG\0ours\n' >image.bin
git commit -q -am ours

git merge -q theirs >/dev/null 2>&1
check "git's merge stops with config.cfg, image.bin, notes.txt and words.txt unresolved" \
    [ "$(git diff --name-only --diff-filter=U | tr '\n' ' ')" = \
      "config.cfg image.bin notes.txt words.txt " ]
printf 'alpha\nbeta (both)\n' >words.txt
git add words.txt

# ---- git mergetool: config.cfg merges cleanly, image.bin and notes.txt stay unresolved
# (after a failed file git asks whether to go on: yes)
printf 'y\ny\ny\n' | git mergetool -y >"$root/mergetool.out" 2>&1
status=$?
check "git mergetool reports the merge that failed (status $status)" [ "$status" != 0 ]
check "git names notes.txt as the merge that failed" \
    grep -q 'merge of notes.txt failed' "$root/mergetool.out"
unresolved=$(git ls-files -u | awk '{print $4}' | sort -u | tr '\n' ' ')
check "only image.bin and notes.txt are still unresolved in the index (got: $unresolved)" \
    [ "$unresolved" = "image.bin notes.txt " ]
check "image.bin keeps our bytes" cmp -s image.bin <(printf 'IMG\0ours\n')
expected_cfg=$'name = demo\nport = 8080\nuser = nobody\nlevel = 1\nmode = safe\n'
check "config.cfg is staged with both sides' changes" \
    cmp -s <(git cat-file -p :config.cfg) <(printf '%s' "$expected_cfg")
check "config.cfg in the work tree has the same bytes" \
    cmp -s config.cfg <(printf '%s' "$expected_cfg")
check "the hand-resolved words.txt stays as resolved" \
    [ "$(git show :words.txt)" = $'alpha\nbeta (both)' ]
check "notes.txt holds git's own conflict again, not the tool's" \
    grep -q '^<<<<<<< HEAD$' notes.txt
check "no backup files are left behind" \
    [ -z "$(git status --porcelain --untracked-files=all | grep -E '\.orig$|_(BASE|LOCAL|REMOTE)_')" ]
log=$(client_log)
check "the client merged config.cfg cleanly" \
    grep -Eq 'merged into .*config.cfg' <<<"$log"
check "the client found one conflict in notes.txt" \
    grep -q '1 conflict(s) marked in .*notes.txt' <<<"$log"
check "the client refused the binary merge" grep -q 'is a binary file; .*image.bin left untouched' <<<"$log"

# ---- git difftool: one page per changed file, labelled with the file's path
pages_before=$(find "$work_dir/compare" -name '*.html' 2>/dev/null | wc -l)
git difftool -y HEAD~1 HEAD </dev/null >"$root/difftool.out" 2>&1
status=$?
check "git difftool exits 0 (got $status)" [ "$status" = 0 ]
pages=$(find "$work_dir/compare" -name '*.html' 2>/dev/null | wc -l)
check "one compare page per changed file (4, got $((pages - pages_before)))" \
    [ $((pages - pages_before)) = 4 ]
check "the pages carry the labels, not git's temporary names" \
    grep -lq 'notes.txt (after)' "$work_dir"/compare/*.html
check "no page names a temporary file of git's" \
    bash -c "! grep -lq 'git-blob-\|_LOCAL_\|_REMOTE_' '$work_dir'/compare/*.html"

# trelmergeutf8: a UTF-8 file compares; bytes that are not UTF-8 make difftool fail
git init -q -b main "$root/repo8" && cd "$root/repo8" || exit 1
printf 'na\xc3\xafve\n' >utf8.txt
git add utf8.txt && git commit -q -m 'utf-8 file'
printf 'na\xc3\xafve caf\xc3\xa9\n' >utf8.txt
git difftool -y -t trelmerge-utf8 utf8.txt </dev/null >/dev/null 2>&1
status=$?
check "trelmergeutf8 through difftool compares a UTF-8 file (got $status)" [ "$status" = 0 ]
printf 'caf\xe9\n' >utf8.txt
git difftool -y -t trelmerge-utf8 utf8.txt </dev/null >/dev/null 2>&1
status=$?
check "a file that is not UTF-8 fails the difftool run (got $status)" [ "$status" != 0 ]

report_checks git
