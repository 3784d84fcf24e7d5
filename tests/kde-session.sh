#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a command inside a private headless KWin session on Wayland (KDE Plasma's compositor) and
# tears it down afterwards: a session bus of its own and kwin_wayland with a virtual output. A
# temporary HOME keeps the settings. KWin finds applications' desktop files only through an
# applications menu, as a Plasma session has one; the session writes a menu that takes every
# installed desktop file.
#
#   tests/kde-session.sh [--data DIR]... [--size WxH] -- command...
#
# --data: a share folder (an installed prefix's share) put on XDG_DATA_DIRS before the system's,
# so that KWin finds the desktop files and effects installed there.
# A headless KWin composites with QPainter, which runs no scripted effects unless told to.
# The command sees WAYLAND_DISPLAY, DBUS_SESSION_BUS_ADDRESS, HOME, XDG_*, ZWIRL_TEST_DESKTOP=1,
# ZWIRL_KDE_SESSION=1 and ZWIRL_KWIN_LOG (KWin's output so far). Its exit status is the script's.
set -u

data="" size=1280x800
while [ $# -gt 0 ]; do
  case "$1" in
    --data) shift; data=$data${data:+:}$1 ;;
    --size) shift; size=$1 ;;
    --) shift; break ;;
    *) break ;;
  esac
  shift
done
[ $# -gt 0 ] || { echo "usage: $0 [options] -- command..." >&2; exit 2; }
command -v kwin_wayland >/dev/null || { echo "kwin_wayland is not installed" >&2; exit 2; }

. "$(dirname "$0")/session-common.sh" kde
unset DISPLAY WAYLAND_DISPLAY SESSION_MANAGER QT_QPA_PLATFORM
export XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=KDE KDE_SESSION_VERSION=6
export XDG_MENU_PREFIX=plasma- ZWIRL_TEST_DESKTOP=1 ZWIRL_KDE_SESSION=1 NO_AT_BRIDGE=1
export XDG_DATA_DIRS=${data:+$data:}${XDG_DATA_DIRS:-/usr/local/share:/usr/share}
export KWIN_EFFECTS_FORCE_ANIMATIONS=1

mkdir -p "$XDG_CONFIG_HOME/menus"
cat >"$XDG_CONFIG_HOME/menus/plasma-applications.menu" <<MENU
<!DOCTYPE Menu PUBLIC "-//freedesktop//DTD Menu 1.0//EN"
 "http://www.freedesktop.org/standards/menu-spec/1.0/menu.dtd">
<Menu>
  <Name>Applications</Name>
  <DefaultAppDirs/>
  <Include><All/></Include>
</Menu>
MENU

dbus-daemon --session --nofork --nopidfile --print-address=5 5>"$root/bus" >/dev/null 2>&1 &
pids+=($!)
wait_for 5 test -s "$root/bus" || { echo "the session bus did not start" >&2; exit 1; }
export DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$root/bus")

width=${size%x*} height=${size#*x}
kwin_wayland --virtual --width "$width" --height "$height" --socket wayland-0 \
  >"$root/kwin.log" 2>&1 &
pids+=($!)
kwin=$!
started() {
  [ -S "$XDG_RUNTIME_DIR/wayland-0" ] &&
    busctl --user --no-pager call org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus \
      NameHasOwner s org.kde.KWin 2>/dev/null | grep -q true
}
if ! wait_for 60 started; then
  echo "kwin_wayland did not start" >&2
  tail -n 30 "$root/kwin.log" >&2
  exit 1
fi
export WAYLAND_DISPLAY=wayland-0 ZWIRL_KWIN_LOG=$root/kwin.log

"$@"
