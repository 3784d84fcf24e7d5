#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes the Debian package of the build in $1 and has lintian check it (an error or a warning
# fails), installs it with apt into a clean root of the Debian release $2 (when not given, the
# release of this machine, which the package is made for), checks what it installed, removes it
# and checks that none of its files stay. The bare root (and the packages apt downloads for it)
# are kept in $1/package-test for the next run.
set -eu
build=$(realpath "$1")
suite=${2:-}
if [ -z "$suite" ] && grep -q sid /etc/debian_version; then suite=sid; fi
if [ -z "$suite" ]; then suite=$(. /etc/os-release && echo "$VERSION_CODENAME"); fi
cache=$build/package-test
fail() { echo "FAIL: $*"; exit 1; }

work=$(mktemp -d)
root=$work/root
cleanup() {
  for m in dev/pts dev proc; do umount "$root/$m" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb" >/dev/null
deb=$(ls "$work"/deb/zwirl_*.deb)
echo "package: $(basename "$deb"), depends: $(dpkg-deb -f "$deb" Depends)"
command -v lintian >/dev/null || fail "lintian is not installed (scripts/setup.sh installs it)"
if ! lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1; then
  cat "$work/lintian.log"
  fail "lintian found errors or warnings"
fi
echo "lintian: no error, no warning"

if [ "$(id -u)" -ne 0 ] || ! command -v mmdebstrap >/dev/null; then
  echo "SKIP: installing needs root and mmdebstrap"
  exit 77
fi

mkdir -p "$cache/archives"
# A stable release with its updates and security archives; the archive may be a snapshot whose
# unstable Release file has passed its Valid-Until date.
if [ ! -s "$cache/$suite.tar" ]; then
  case "$suite" in
    sid | unstable) archives="deb http://deb.debian.org/debian $suite main" ;;
    *) archives="deb http://deb.debian.org/debian $suite main
deb http://deb.debian.org/debian $suite-updates main
deb http://deb.debian.org/debian-security $suite-security main" ;;
  esac
  echo "$archives" | mmdebstrap --quiet --variant=apt --format=tar --skip=cleanup/apt/lists \
    --aptopt='Acquire::Check-Valid-Until "false"' "$suite" "$cache/$suite.tar.tmp" -
  mv "$cache/$suite.tar.tmp" "$cache/$suite.tar"
fi
mkdir "$root"
tar -C "$root" -xf "$cache/$suite.tar"
cp /etc/resolv.conf "$root/etc/resolv.conf"
cp "$deb" "$root/tmp/"
find "$cache/archives" -name '*.deb' -exec cp {} "$root/var/cache/apt/archives/" \;
mount -t proc proc "$root/proc"
mount --bind /dev "$root/dev"
mount --bind /dev/pts "$root/dev/pts"
in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive "$@"; }

# apt-get keeps what it downloads: the next run finds it in the cache.
in_root apt-get install -y -q ./tmp/"$(basename "$deb")" >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log"; fail "apt could not install the package"; }
find "$root/var/cache/apt/archives" -maxdepth 1 -name '*.deb' -exec cp -n {} "$cache/archives/" \;

version=$(in_root zwirl --version) || fail "zwirl --version"
[ "$version" = "zwirl $(dpkg-deb -f "$deb" Version)" ] || fail "version: $version"
in_root dpkg -L zwirl | while read -r f; do if [ -f "$root$f" ]; then echo "$f"; fi; done >"$work/files"
for f in /usr/bin/zwirl /usr/share/applications/de.tolvarek.zwirl.desktop \
  /usr/share/metainfo/de.tolvarek.zwirl.metainfo.xml /usr/share/man/man1/zwirl.1.gz \
  /usr/share/icons/hicolor/256x256/apps/de.tolvarek.zwirl.png \
  /usr/share/icons/hicolor/scalable/apps/de.tolvarek.zwirl.svg \
  /usr/share/dbus-1/services/de.tolvarek.zwirl.service /usr/share/doc/zwirl/copyright \
  /usr/share/doc/zwirl/changelog.gz \
  /usr/share/gnome-shell/extensions/zwirl@tolvarek.de/metadata.json \
  /usr/share/gnome-shell/extensions/zwirl@tolvarek.de/de.tolvarek.zwirl.Clicks.xml \
  /usr/share/gnome-shell/extensions/zwirl@tolvarek.de/de.tolvarek.zwirl.Shell.xml; do
  grep -qx "$f" "$work/files" || fail "not installed: $f"
done
# The media libraries come with a module that zwirl loads at their first use from its private
# library folder: the package's dependencies must bring every library the module needs.
module=$(grep '/zwirl/libzwirl-media\.so$' "$work/files") || fail "not installed: the media module"
missing=$(in_root ldd "$module" | grep 'not found' || true)
[ -z "$missing" ] || fail "the media module's libraries are missing: $missing"
grep -qx 'Exec=/usr/bin/zwirl' "$root/usr/share/dbus-1/services/de.tolvarek.zwirl.service" ||
  fail "the D-Bus service does not start /usr/bin/zwirl"
launcher=$root/usr/share/applications/de.tolvarek.zwirl.desktop
grep -qx 'StartupWMClass=zwirl' "$launcher" || fail "the launcher has no StartupWMClass"
desktop-file-validate "$launcher" || fail "the launcher is not valid"
for exec in 'Exec=/usr/bin/zwirl --start' 'Exec=/usr/bin/zwirl --stop'; do
  grep -qx "$exec" "$launcher" || fail "the launcher has no action with $exec"
done

in_root apt-get remove -y -q zwirl >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt remove"; }
left=$(while read -r f; do if [ -e "$root$f" ]; then echo "$f"; fi; done <"$work/files")
[ -z "$left" ] || fail "left after removal: $left"
echo "installed $(wc -l <"$work/files") files, all gone after removal"
