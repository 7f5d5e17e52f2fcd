#!/usr/bin/env bash
# The Subversion adapters run directly, as svn runs them, against the product installed
# from a build with the real client and no desktop: one row per case, each giving the
# adapter, its arguments, the exit status svn must get, and what must hold afterwards.
#
#   tests/vcs/svn_adapters_test.sh BUILD_DIR
set -u
build=${1:?usage: svn_adapters_test.sh BUILD_DIR}
source "$(dirname "$0")/world.sh" "$build" svn-adapters

files=$root/files
mkdir -p "$files" "$root/elsewhere" && cd "$files" || exit 1
printf 'a\nb\nc\nd\ne\n' >base.txt
printf 'A\nb\nc\nd\ne\n' >mine.txt      # first line changed
printf 'a\nb\nc\nd\nE\n' >theirs.txt    # last line changed: merges cleanly with mine.txt
printf 'a\nb\nc\nd\nX\n' >other.txt     # last line changed otherwise: conflicts with theirs.txt
printf 'a\nb\nc\nd\ne\n' >-dash.txt
printf 'untouched\n' >kept.txt
clean=$'A\nb\nc\nd\nE'
# An adapter reached through a link in another folder still runs its own trelmerge.
ln -s "$product/bin/trelmerge-svn-merge" "$root/elsewhere/linked-merge"

out=$root/out
# What must hold after each row; $out holds the adapter's standard output.
stdout_is_clean_merge() { [ "$(cat "$out")" = "$clean" ]; }
stdout_has_markers() { grep -q '^<<<<<<< .mine$' "$out" && grep -q '^>>>>>>> .r2$' "$out"; }
stdout_is_empty() { [ ! -s "$out" ]; }
merged_is_clean() { [ "$(cat merged.txt)" = "$clean" ]; }
merged_has_markers() { grep -q "^<<<<<<< wc/f.txt (mine)$" merged.txt; }
kept_untouched() { [ "$(cat kept.txt)" = untouched ]; }
page_has_labels() { [ "$(pages_labelled 'f.txt	(working copy)')" -ge 1 ]; }
page_names_dash_file() { grep -q -- '-dash.txt' <<<"$(client_log)"; }
nothing() { true; }

# name | adapter | expected status | check | arguments as svn passes them, split at ';'
rows=(
    "diff: a compare page labelled by svn|trelmerge-svn-diff|0|page_has_labels|-u;-L;f.txt	(revision 1);-L;f.txt	(working copy);base.txt;mine.txt"
    "diff: -x options are dropped|trelmerge-svn-diff|0|nothing|-b;-w;-L;left;-L;right;base.txt;mine.txt"
    "diff: a file named with a leading dash|trelmerge-svn-diff|0|page_names_dash_file|-u;-L;a;-L;b;base.txt;-dash.txt"
    "diff: a file that is not there is an error for svn|trelmerge-svn-diff|2|nothing|-u;-L;a;-L;b;base.txt;missing.txt"
    "diff: arguments svn never gives|trelmerge-svn-diff|2|nothing|base.txt;mine.txt"
    "diff3: a clean merge on standard output|trelmerge-svn-diff3|0|stdout_is_clean_merge|-E;-m;-L;.mine;-L;.r1;-L;.r2;mine.txt;base.txt;theirs.txt"
    "diff3: a conflict comes back marked with svn's labels|trelmerge-svn-diff3|1|stdout_has_markers|-E;-m;-L;.mine;-L;.r1;-L;.r2;other.txt;base.txt;theirs.txt"
    "diff3: no merge, nothing for svn to take|trelmerge-svn-diff3|2|stdout_is_empty|-E;-m;-L;.mine;-L;.r1;-L;.r2;mine.txt;missing.txt;theirs.txt"
    "diff3: arguments svn never gives|trelmerge-svn-diff3|2|stdout_is_empty|-E;-m;mine.txt;base.txt;theirs.txt"
    "merge: a clean merge resolves|trelmerge-svn-merge|0|merged_is_clean|base.txt;theirs.txt;mine.txt;merged.txt;wc/f.txt"
    "merge: a conflict stays a conflict, marked|trelmerge-svn-merge|1|merged_has_markers|base.txt;theirs.txt;other.txt;merged.txt;wc/f.txt"
    "merge: an unreadable file leaves MERGED as it was|trelmerge-svn-merge|1|kept_untouched|base.txt;missing.txt;mine.txt;kept.txt;wc/f.txt"
    "merge: arguments svn never gives|trelmerge-svn-merge|2|nothing|base.txt;theirs.txt;mine.txt"
    "merge: reached through a link elsewhere|$root/elsewhere/linked-merge|0|merged_is_clean|base.txt;theirs.txt;mine.txt;merged.txt;wc/f.txt"
)
for row in "${rows[@]}"; do
    IFS='|' read -r name adapter want what args <<<"$row"
    rm -f merged.txt
    IFS=';' read -r -a argv <<<"$args"
    timeout 60 "$adapter" "${argv[@]}" >"$out" 2>"$root/err"
    status=$?
    check "$name: status $want (got $status)" [ "$status" = "$want" ]
    check "$name: $what" "$what"
done

report_checks svn-adapters
