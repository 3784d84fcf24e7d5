#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a command as root inside a root file system of another Debian release (trixie, sid, ...)
# into which scripts/setup.sh has installed everything for building and testing zwirl.
#
#   tests/release-root.sh SUITE -- command...
#
# The root is made once with mmdebstrap and kept in /var/cache/zwirl/roots (ZWIRL_ROOT_CACHE),
# named after the suite and a hash of scripts/setup.sh: a changed package list makes a new root
# and the older ones of the suite go. Each run sees the root through an overlay whose upper layer
# is thrown away afterwards, so nothing it writes changes the kept root. The source tree is
# mounted at its own path (what the command writes there stays) and the command starts there,
# with an environment of its own: nothing of the caller's session reaches it. Everything runs in
# a mount and PID namespace of its own, so the mounts and any process left behind end with it; a
# shell stays its first process, as it reaps the processes orphaned there.
# Needs root, mmdebstrap and overlayfs; the archive too while a root is made.
set -eu
if [ $# -lt 3 ] || [ "$2" != "--" ]; then echo "usage: $0 SUITE -- command..." >&2; exit 2; fi
suite=$1
shift 2
top=$(cd "$(dirname "$0")/.." && pwd)
cache=${ZWIRL_ROOT_CACHE:-/var/cache/zwirl/roots}
base=$cache/$suite-$(sha256sum <"$top/scripts/setup.sh" | cut -c1-16)

# Removes a folder, but only once nothing is mounted in it any more.
remove_tree() {
  findmnt -rn -o TARGET | grep -e "^$1\$" -e "^$1/" | sort -r | while read -r m; do umount -l "$m"; done
  if findmnt -rn -o TARGET | grep -q -e "^$1\$" -e "^$1/"; then
    echo "$1: still mounted, left in place" >&2
    return 1
  fi
  rm -rf "$1"
}

# Makes the root in a temporary folder and renames it when it is complete. The archive may be a
# snapshot whose unstable Release file has passed its Valid-Until date: apt takes it all the
# same, here and in the root. The package lists stay in the root for apt.
make_root() {
  for old in "$cache/.$suite-"*; do if [ -e "$old" ]; then remove_tree "$old"; fi; done
  tmp=$cache/.$(basename "$base").$$
  start=$(date +%s)
  # shellcheck disable=SC2016
  if ! unshare --mount --propagation private env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin \
    HOME=/root LANG=C.UTF-8 mmdebstrap --quiet --variant=apt --skip=cleanup/apt/lists \
    --aptopt='Acquire::Check-Valid-Until "false"' \
    --customize-hook="copy-in $top/scripts/setup.sh /tmp" \
    --customize-hook='chroot "$1" sh /tmp/setup.sh' \
    --customize-hook='rm "$1/tmp/setup.sh"' \
    "$suite" "$tmp"; then
    remove_tree "$tmp"
    echo "could not make the $suite root" >&2
    exit 1
  fi
  mv "$tmp" "$base"
  echo "made the $suite root $base in $(($(date +%s) - start)) s"
}

# Runs share the suite's lock; the one that makes a root (and removes the older ones) holds it
# alone, so it neither makes a root twice nor removes one that a run still uses.
mkdir -p "$cache"
exec 9>"$cache/$suite.lock"
if [ ! -d "$base" ]; then
  flock 9
  if [ ! -d "$base" ]; then make_root; fi
  for old in "$cache/$suite-"????????????????; do if [ "$old" != "$base" ]; then remove_tree "$old"; fi; done
fi
flock -s 9

work=$(mktemp -d /var/tmp/zwirl-root.XXXXXX)
trap 'remove_tree "$work"' EXIT
trap 'exit 130' INT TERM HUP
mkdir "$work/upper" "$work/work" "$work/root"

# shellcheck disable=SC2016
unshare --mount --pid --fork --kill-child --propagation private bash -eu -c '
  base=$1 work=$2 top=$3
  shift 3
  # Nor do the files the caller has open (a test runner leaves some): mmdebstrap in the root
  # fails when they take the low descriptors.
  for fd in /proc/self/fd/*; do fd=${fd##*/}; if [ "$fd" -gt 2 ]; then eval "exec $fd>&-"; fi; done
  root=$work/root
  mount -t overlay overlay -o "lowerdir=$base,upperdir=$work/upper,workdir=$work/work" "$root"
  mount -t proc proc "$root/proc"
  # Read-only: a package script that triggers udev must not reach the devices of this machine.
  mount -t sysfs -o ro sysfs "$root/sys"
  mount --bind /dev "$root/dev"
  mount --bind /dev/pts "$root/dev/pts"
  mount -t tmpfs -o mode=1777 tmpfs "$root/dev/shm"
  mount -t tmpfs -o mode=1777 tmpfs "$root/tmp"
  # /run and the machine id as a booted system has them.
  mount -t tmpfs -o mode=755 tmpfs "$root/run"
  mkdir -p "$root/run/lock" "$root/run/systemd" "$root/run/user"
  chmod 1777 "$root/run/lock"
  [ -s "$root/etc/machine-id" ] || tr -d - </proc/sys/kernel/random/uuid >"$root/etc/machine-id"
  mkdir -p "$root$top"
  mount --bind "$top" "$root$top"
  rm -f "$root/etc/resolv.conf"
  cp /etc/resolv.conf "$root/etc/resolv.conf"
  [ -e "$root/etc/hosts" ] || printf "127.0.0.1 localhost\n::1 localhost\n" >"$root/etc/hosts"
  chroot "$root" env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    HOME=/root LANG=C.UTF-8 sh -c "cd \"\$0\" && exec \"\$@\"" "$top" "$@"
' sh "$base" "$work" "$top" "$@"
