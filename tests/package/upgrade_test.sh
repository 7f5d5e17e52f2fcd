#!/usr/bin/env bash
# Upgrades and removal while the service and its client run: two builds whose programs log
# different versions, installed one over the other, as a product tree (cmake --install) and
# as the Debian package (dpkg with a root of its own, its maintainer scripts run for real).
# After each upgrade the next request must be served by the new service and client and the
# old ones must end; after dpkg -r nothing of the package may run.
#
#   tests/package/upgrade_test.sh OLD_BUILD_DIR NEW_BUILD_DIR
set -u
old_build=$(cd "${1:?usage: upgrade_test.sh OLD_BUILD NEW_BUILD}" && pwd) || exit 2
new_build=$(cd "${2:?usage: upgrade_test.sh OLD_BUILD NEW_BUILD}" && pwd) || exit 2
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=../support/checks.sh
source "$source_dir/tests/support/checks.sh"

version_of() { sed -n 's/^VARNEX_VERSION:STRING=//p' "$1/CMakeCache.txt"; }
old_version=$(version_of "$old_build")
new_version=$(version_of "$new_build")

root=$(mktemp -d "${VARNEX_TEST_ROOT:-/tmp}/varnex-upgrade-XXXXXX")
work_dir=$root/tmp/$(id -un).trelmerge
cleanup() {
    end_programs_under "$root"
    if [[ -n ${VARNEX_KEEP_TEST_ROOT:-} ]]; then echo "kept $root"; else rm -rf "$root"; fi
}
trap cleanup EXIT
mkdir -m 700 "$root/tmp" "$root/pipes" "$root/files"
export TMPDIR=$root/tmp VARNEX_PIPE_DIR=$root/pipes VARNEX_CONNECT_PAUSE_MS=20
unset DISPLAY WAYLAND_DISPLAY ZORV_MERGE_UI
printf 'one\ntwo\n' >"$root/files/a.txt"
printf 'one\n2\n' >"$root/files/b.txt"

check "the two builds log different versions ($old_version, $new_version)" \
    [ -n "$old_version" ] && [ -n "$new_version" ] && [ "$old_version" != "$new_version" ]

# Programs running from under a folder, one "pid program" line each.
running_under() {
    local exe pid target
    for exe in /proc/[0-9]*/exe; do
        target=$(readlink "$exe" 2>/dev/null) || continue
        [[ $target == "$1"/* ]] || continue
        pid=${exe#/proc/}
        echo "${pid%/exe} $target"
    done
}
gone() {  # gone PID...: each has ended (a zombie has) within 20 s
    local pid i
    for pid in "$@"; do
        for ((i = 0; i < 2000; i++)); do
            [[ $(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null) =~ ^(Z|X|)$ ]] && break
            sleep 0.01
        done
        [[ $(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null) =~ ^(Z|X|)$ ]] || return 1
    done
}
service_pid() { cat "$work_dir/zorv_service.pid" 2>/dev/null; }
client_pid() { running_under "$1" | awk '$2 ~ /\/zorvexplorer$/ { print $1 }'; }
last_client_version() { sed -n 's/^zorvexplorer \(.*\) serving .*/\1/p' "$work_dir/zorvexplorer.log" | tail -n 1; }

# request TREE LABEL: one compare through TREE's trelmerge, shown as a user runs it
request() {
    (cd "$root/files" && timeout 60 "$1" a.txt b.txt)
    local status=$?
    echo "\$ trelmerge a.txt b.txt  # $2: exit $status, service $(service_pid)," \
        "client version $(last_client_version)"
    return "$status"
}

# upgrade_case NAME TREE TRELMERGE INSTALL-OLD INSTALL-NEW: the old programs serve, the new
# ones are installed over them, the next request meets the new ones and the old ones end.
upgrade_case() {
    local name=$1 tree=$2 trelmerge=$3
    eval "$4" >"$root/install-old.log" 2>&1
    check "$name: the old build installs" [ -x "$trelmerge" ]
    request "$trelmerge" "$name, before"
    check "$name: the old client serves ($old_version)" [ "$(last_client_version)" = "$old_version" ]
    local old_service old_client
    old_service=$(service_pid)
    old_client=$(client_pid "$tree")
    echo "running before: $(running_under "$tree" | tr '\n' ';')"
    eval "$5" >"$root/install-new.log" 2>&1
    check "$name: the new build installs over the running one" [ $? = 0 ]
    request "$trelmerge" "$name, after"
    check "$name: the next request is answered" [ $? = 0 ]
    check "$name: by the new client ($new_version)" [ "$(last_client_version)" = "$new_version" ]
    check "$name: through a new service" [ "$(service_pid)" != "$old_service" ]
    check "$name: the old service ($old_service) and client ($old_client) end" \
        gone "$old_service" "$old_client"
    local left
    left=$(running_under "$tree")
    echo "running after: $(tr '\n' ';' <<<"$left")"
    check "$name: nothing of the old programs runs" bash -c '! grep -q "(deleted)" <<<"$1"' _ "$left"
}

# ---- a product tree: cmake --install over a running tree
tree=$root/tree
upgrade_case "cmake --install" "$tree" "$tree/bin/trelmerge" \
    "cmake --install '$old_build' --prefix '$tree'" "cmake --install '$new_build' --prefix '$tree'"
# Stopping the service by hand, as the README says.
service=$(service_pid)
client=$(client_pid "$tree")
kill "$service"
check "kill PID ends the service and its client" gone "$service" "$client"
check "and takes its pid file along" [ ! -e "$work_dir/zorv_service.pid" ]
end_programs_under "$tree"

# ---- the Debian package: dpkg -i over a running installation, then dpkg -r and -P
for build in "$old_build" "$new_build"; do
    out=$root/deb-$(basename "$build")
    cpack --config "$build/CPackConfig.cmake" -B "$out" >"$out.log" 2>&1 || cat "$out.log"
done
old_deb=$(ls "$root/deb-$(basename "$old_build")"/varnex_*.deb 2>/dev/null | head -n 1)
new_deb=$(ls "$root/deb-$(basename "$new_build")"/varnex_*.deb 2>/dev/null | head -n 1)
check "cpack made both packages" [ -f "$old_deb" ] && [ -f "$new_deb" ]
sysroot=$root/sysroot
mkdir -p "$sysroot/var/lib/dpkg/info" "$sysroot/var/lib/dpkg/updates" "$sysroot/var/log"
touch "$sysroot/var/lib/dpkg/status" "$sysroot/var/lib/dpkg/available"
# The maintainer scripts run outside a chroot, with DPKG_ROOT naming the root.
dpkg_root() {
    dpkg --root="$sysroot" --force-script-chrootless --force-not-root --force-depends \
        --log="$root/dpkg.log" "$@"
}
upgrade_case "dpkg -i" "$sysroot/usr/lib/varnex" "$sysroot/usr/bin/trelmerge" \
    "dpkg_root -i '$old_deb'" "dpkg_root -i '$new_deb'"
request "$sysroot/usr/bin/trelmerge" "dpkg -r, before"
echo "running before dpkg -r: $(running_under "$sysroot" | tr '\n' ';')"
dpkg_root -r varnex >"$root/remove.log" 2>&1
check "dpkg -r removes the package" [ ! -e "$sysroot/usr/bin/trelmerge" ]
left=$(running_under "$sysroot")
echo "running after dpkg -r: ${left:-nothing}"
check "nothing of the package runs once dpkg -r returns" [ -z "$left" ]
dpkg_root -P varnex >"$root/purge.log" 2>&1
check "dpkg -P purges it" bash -c '! dpkg --root="$1" -s varnex >/dev/null 2>&1' _ "$sysroot"

report_checks upgrade
