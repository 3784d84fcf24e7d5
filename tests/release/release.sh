#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds zwirl inside a root of another Debian release (tests/release-root.sh) into the folder
# BUILD and runs there the tests whose labels match LABELS, of which some must be GNOME ones;
# with --package it then makes the Debian package there and installs it into a clean root of that
# release (tests/package/install_package.sh). Skips without root, mmdebstrap or the archive.
#
#   tests/release/release.sh SUITE BUILD LABELS [--package]
set -eu
top=$(cd "$(dirname "$0")/../.." && pwd)

if [ "${1:-}" = --in-root ]; then
  suite=$2 build=$3 labels=$4 package=${5:-}
  ZWIRL_BUILD_DIR=$build sh scripts/build.sh
  gnome=$(ctest --test-dir "$build" -N -L gnome | awk '/^Total Tests:/ { print $3 }')
  [ "${gnome:-0}" -gt 0 ] || { echo "FAIL: no GNOME test in the $suite build"; exit 1; }
  ctest --test-dir "$build" -L "$labels" --output-on-failure --timeout 900
  if [ "$package" = --package ]; then sh tests/package/install_package.sh "$build" "$suite"; fi
  exit 0
fi

[ $# -ge 3 ] || { echo "usage: $0 SUITE BUILD LABELS [--package]" >&2; exit 2; }
if [ "$(id -u)" -ne 0 ] || ! command -v mmdebstrap >/dev/null; then
  echo "SKIP: needs root and mmdebstrap"
  exit 77
fi
if ! python3 -c 'import sys, urllib.request
urllib.request.urlopen(f"http://deb.debian.org/debian/dists/{sys.argv[1]}/InRelease", timeout=30)' "$1"; then
  echo "SKIP: the Debian archive cannot be reached"
  exit 77
fi
exec sh "$top/tests/release-root.sh" "$1" -- sh tests/release/release.sh --in-root "$@"
