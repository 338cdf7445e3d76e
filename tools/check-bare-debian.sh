#!/usr/bin/env bash
# Checks the README's set-up on a bare Debian 12: builds a minimal root
# (debootstrap --variant=minbase bookworm) in a temporary folder, clones this repository's
# committed HEAD into it and runs ./test.sh there as CI would (chroot, as root, CI=true, no
# standard input), then prints the result and the time taken. Run it before changing what
# gets installed.
#
#   tools/check-bare-debian.sh [--keep] [MAKE ARGUMENTS FOR ./test.sh...]
#
# --keep leaves the root (unmounted) for a look afterwards. Uncommitted changes are not part
# of the check. Needs root for debootstrap, chroot and mount (through sudo if not root).
# The packages debootstrap and apt download are kept in /var/cache/orvik-bare-debian, so a
# second run downloads nothing new. The exit status is ./test.sh's.
set -euo pipefail

if [[ $(id -u) -ne 0 ]]; then
    if command -v sudo >/dev/null; then
        exec sudo -- "$0" "$@"
    fi
    echo "check-bare-debian: needs root (debootstrap, chroot, mount), and sudo is not installed" >&2
    exit 1
fi

keep=false
if [[ ${1:-} == --keep ]]; then
    keep=true
    shift
fi

repo=$(git -C "$(dirname "$0")" rev-parse --show-toplevel)
commit=$(git -C "$repo" rev-parse HEAD)
if [[ -n $(git -C "$repo" status --porcelain --untracked-files=no) ]]; then
    echo "check-bare-debian: uncommitted changes in $repo are not part of the check"
fi

mirror=${ORVIK_DEBIAN_MIRROR:-http://deb.debian.org/debian}
cache=/var/cache/orvik-bare-debian
mkdir -p "$cache/debootstrap" "$cache/apt"

apt_get() {
    DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 "$@"
}
if ! command -v debootstrap >/dev/null; then
    echo "Installing debootstrap"
    apt_get update -qq
    apt_get install -y -qq --no-install-recommends debootstrap
fi

duration() {
    printf '%d min %02d s' $(($1 / 60)) $(($1 % 60))
}

work=$(mktemp -d "${TMPDIR:-/var/tmp}/orvik-bare-debian.XXXXXX")
root=$work/root
mounted=()
status=
test_time=
started=$SECONDS

# Mount points at or under the temporary folder, from the kernel's own table.
mounts_under_work() {
    findmnt -rn -o TARGET | while read -r target; do
        target=$(printf '%b' "$target") # findmnt writes a blank as \x20
        [[ $target == "$work" || $target == "$work"/* ]] && echo "$target"
    done
}

cleanup() {
    local code=$?
    # Another Ctrl+C must not cut the clean-up short and leave the mounts behind.
    trap - EXIT
    trap '' INT TERM HUP
    set +e
    # Whatever the tests left running inside the root (a virtual robot, a stuck build) holds
    # its mounts busy.
    local pid pids=()
    for pid in /proc/[0-9]*; do
        [[ $(readlink "$pid/root" 2>/dev/null) == "$root" ]] && pids+=("${pid#/proc/}")
    done
    if [[ ${#pids[@]} -gt 0 ]]; then
        kill -TERM "${pids[@]}" 2>/dev/null
        sleep 2
        kill -KILL "${pids[@]}" 2>/dev/null
    fi
    local i
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
        umount "${mounted[i]}" 2>/dev/null || umount --lazy "${mounted[i]}" ||
            echo "check-bare-debian: cannot unmount ${mounted[i]}" >&2
    done
    if [[ -d $root/var/cache/apt/archives ]]; then
        find "$root/var/cache/apt/archives" -maxdepth 1 -name '*.deb' -exec cp -n -t "$cache/apt" {} +
    fi

    local left
    left=$(mounts_under_work)
    if [[ -n $left ]]; then
        echo "check-bare-debian: NOT removing $work: these are still mounted under it:" >&2
        echo "$left" >&2
    elif $keep; then
        echo "The root is kept in $root"
    else
        rm -rf --one-file-system "$work"
    fi

    [[ -z $status ]] && status=$code
    local total=$((SECONDS - started))
    if [[ $status -eq 0 ]]; then
        echo "Bare Debian 12, commit ${commit:0:12}: ./test.sh passed; $(duration $total) in all${test_time:+, $test_time of it in ./test.sh}"
    else
        echo "Bare Debian 12, commit ${commit:0:12}: FAILED (exit $status); $(duration $total) in all${test_time:+, $test_time of it in ./test.sh}"
    fi
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

echo "Building a bare Debian 12 root in $root"
debootstrap --variant=minbase --cache-dir="$cache/debootstrap" bookworm "$root" "$mirror" \
    >"$work/debootstrap.log" 2>&1 &
if ! wait $!; then
    tail -n 30 "$work/debootstrap.log" >&2
    echo "check-bare-debian: debootstrap failed" >&2
    exit 1
fi

# The host's name servers and archive, as they are: the root reaches what the host reaches.
cp /etc/resolv.conf "$root/etc/resolv.conf"
for sources in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [[ -f $sources ]] && cp "$sources" "$root$sources"
done
# No service starts inside a chroot.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod 755 "$root/usr/sbin/policy-rc.d"
find "$cache/apt" -maxdepth 1 -name '*.deb' -exec cp -t "$root/var/cache/apt/archives" {} +

git clone --quiet --no-checkout "$repo" "$root/root/orvik"
git -C "$root/root/orvik" checkout --quiet --detach "$commit"

for fs in proc dev dev/pts sys; do
    mount --bind "/$fs" "$root/$fs"
    mounted+=("$root/$fs")
done

echo "Running ./test.sh in the bare root (commit ${commit:0:12})"
test_started=$SECONDS
# In the background, so that a signal to this script ends the wait at once and the clean-up
# stops what runs inside.
chroot "$root" /usr/bin/env -i HOME=/root CI=true \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    /bin/bash -c 'cd /root/orvik && exec ./test.sh "$@"' test.sh "$@" </dev/null &
wait $! && status=0 || status=$?
test_time=$(duration $((SECONDS - test_started)))
