#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a command inside a private test desktop and tears the desktop down afterwards:
# Xvfb on a free display, a private session bus, dunst (notifications), trayer (tray host),
# PulseAudio with a null sink kept running by a silent stream, and a temporary HOME with
# XDG folders. Every process is started here, remembered by PID and stopped by PID.
#
#   tests/desktop.sh [--no-tray] [--tray-edge top|bottom] [--no-notifications] [--no-audio]
#                    [--size WxH] -- command...
#
# The command sees DISPLAY, DBUS_SESSION_BUS_ADDRESS, HOME, XDG_* and PULSE_SERVER, and
# ZWIRL_TEST_DESKTOP=1, and the PIDs of the X server and the bus (ZWIRL_TEST_X_PID,
# ZWIRL_TEST_BUS_PID) for ending them as a logout does. Its exit status is the script's.
set -u

tray=1 edge=top notifications=1 audio=1 size=1280x800
while [ $# -gt 0 ]; do
  case "$1" in
    --no-tray) tray=0 ;;
    --tray-edge) shift; edge=$1 ;;
    --no-notifications) notifications=0 ;;
    --no-audio) audio=0 ;;
    --size) shift; size=$1 ;;
    --) shift; break ;;
    *) break ;;
  esac
  shift
done
[ $# -gt 0 ] || { echo "usage: $0 [options] -- command..." >&2; exit 2; }

. "$(dirname "$0")/session-common.sh" desktop
unset WAYLAND_DISPLAY SESSION_MANAGER
export ZWIRL_TEST_DESKTOP=1 NO_AT_BRIDGE=1

# X server on the first free display.
exec 3>"$root/display"
Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp -noreset >"$root/xvfb.log" 2>&1 &
pids+=($!)
export ZWIRL_TEST_X_PID=$!
exec 3>&-
wait_for 5 test -s "$root/display" || { echo "Xvfb did not start" >&2; cat "$root/xvfb.log" >&2; exit 1; }
export DISPLAY=:$(head -n1 "$root/display")

# A session bus of our own.
dbus-daemon --session --nofork --nopidfile --print-address=4 4>"$root/bus" >/dev/null 2>&1 &
pids+=($!)
export ZWIRL_TEST_BUS_PID=$!
wait_for 5 test -s "$root/bus"
export DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$root/bus")

on_bus() { busctl --user --no-pager list 2>/dev/null | grep -q "^$1 "; }

if [ "$notifications" = 1 ]; then
  # dunst as configured system-wide, except that its context menu (dunstctl context) picks the
  # first button of a notification instead of asking through dmenu.
  printf '#!/bin/sh\ngrep -m1 -v ",default]$"\n' >"$root/choose-button"
  chmod +x "$root/choose-button"
  sed "s|^\( *dmenu *=\).*|\1 $root/choose-button|" /etc/xdg/dunst/dunstrc >"$root/dunstrc"
  dunst -config "$root/dunstrc" >"$root/dunst.log" 2>&1 &
  pids+=($!)
  wait_for 5 on_bus org.freedesktop.Notifications ||
    { echo "dunst did not appear on the bus" >&2; exit 1; }
fi

if [ "$tray" = 1 ]; then
  trayer --edge "$edge" --align right --widthtype request --height 24 --SetDockType true \
    --transparent false --tint 0x808080 >"$root/trayer.log" 2>&1 &
  pids+=($!)
  tray_up() { xprop -root _NET_SUPPORTED >/dev/null 2>&1; xdotool search --class trayer >/dev/null 2>&1; }
  wait_for 5 tray_up
fi

if [ "$audio" = 1 ]; then
  export PULSE_RUNTIME_PATH=$XDG_RUNTIME_DIR/pulse
  export PULSE_SERVER=unix:$PULSE_RUNTIME_PATH/native
  pulseaudio --daemonize=no --exit-idle-time=-1 --disallow-exit -n \
    --load="module-native-protocol-unix socket=$PULSE_RUNTIME_PATH/native auth-anonymous=1" \
    --load="module-null-sink sink_name=zwirl_null rate=44100" \
    --load="module-always-sink" >"$root/pulse.log" 2>&1 &
  pids+=($!)
  pulse_up() { pactl info >/dev/null 2>&1; }
  wait_for 5 pulse_up
  pactl set-default-sink zwirl_null >/dev/null 2>&1
  # A silent stream keeps the null sink running in real time.
  pacat --playback --latency-msec=20 --raw --rate=44100 --channels=1 --format=s16le /dev/zero >/dev/null 2>&1 &
  pids+=($!)
fi

"$@"
