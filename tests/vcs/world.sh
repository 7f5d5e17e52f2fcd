# Sourced by the git, Mercurial and Subversion suites: the product installed from a build into
# the suite's own folder, a world of its own (home, temporary and pipe folders, no desktop,
# short pauses while the service starts), the blocks of a document, and the end of every
# program that ran from the product tree.
#
#   source world.sh BUILD_DIR NAME
# shellcheck source=../support/checks.sh
source "$(dirname "${BASH_SOURCE[0]}")/../support/checks.sh"

root=$(mktemp -d "${VARNEX_TEST_ROOT:-/tmp}/varnex-$2-XXXXXX")
product=$root/product
work_dir=$root/tmp/$(id -un).trelmerge
world_cleanup() {
    local pid
    pid=$(cat "$work_dir/zorv_service.pid" 2>/dev/null)
    [[ -n $pid ]] && kill -9 "$pid" 2>/dev/null
    end_programs_under "$product"
    if [[ -n ${VARNEX_KEEP_TEST_ROOT:-} ]]; then echo "kept $root"; else rm -rf "$root"; fi
}
trap world_cleanup EXIT

if ! cmake --install "$1" --prefix "$product" >"$root/install.log" 2>&1; then
    cat "$root/install.log"
    echo "FAIL the product installs"
    exit 1
fi
mkdir -m 700 "$root/tmp" "$root/pipes" "$root/home"
export TMPDIR=$root/tmp VARNEX_PIPE_DIR=$root/pipes HOME=$root/home VARNEX_CONNECT_PAUSE_MS=20
unset DISPLAY WAYLAND_DISPLAY ZORV_MERGE_UI BROWSER
export PATH=$product/bin:$PATH

# doc_block FILE HEADING [N]: the N-th (default first) ```sh block under the "## HEADING"
# of a document, as a user copies it.
doc_block() {
    awk -v heading="## $2" -v want="${3:-1}" '
        /^## / { under = ($0 == heading); n = 0 }
        under && /^```sh$/ { n++; inside = (n == want); next }
        /^```$/ { inside = 0 }
        inside { print }' "$1"
}

# client_log: the reference client's log.
client_log() { cat "$work_dir/zorvexplorer.log" 2>/dev/null; }

# pages_labelled TEXT: how many compare pages hold TEXT.
pages_labelled() { grep -lF -- "$1" "$work_dir"/compare/*.html 2>/dev/null | wc -l; }
