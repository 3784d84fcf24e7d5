#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a command inside a private headless GNOME Shell session on Wayland and tears it down
# afterwards: a system bus and a session bus of its own, PipeWire with WirePlumber (the shell's
# screen casts need them), and gnome-shell with a virtual monitor in a mount namespace where
# /run/systemd is empty (where there is one), so that it does not reach the host's login manager. A temporary HOME
# keeps the settings (keyfile backend). Every process is started here, remembered by PID and
# stopped by PID. Runs as root (the mount namespace), as the set-up of this machine does.
#
#   tests/gnome-session.sh [--extensions DIR] [--size WxH] -- command...
#
# --extensions: a folder of shell extensions (an installed share/gnome-shell/extensions); each
# one is copied into the session and enabled before the shell starts.
# The command sees WAYLAND_DISPLAY, DBUS_SESSION_BUS_ADDRESS, DBUS_SYSTEM_BUS_ADDRESS, HOME,
# XDG_*, ZWIRL_TEST_DESKTOP=1 and ZWIRL_GNOME_SESSION=1, and can end the shell as a crash
# would and start it again with the script in $ZWIRL_GNOME_RESTART. Its exit status is the
# script's.
set -u

extensions="" size=1280x800
while [ $# -gt 0 ]; do
  case "$1" in
    --extensions) shift; extensions=$1 ;;
    --size) shift; size=$1 ;;
    --) shift; break ;;
    *) break ;;
  esac
  shift
done
[ $# -gt 0 ] || { echo "usage: $0 [options] -- command..." >&2; exit 2; }
command -v gnome-shell >/dev/null || { echo "gnome-shell is not installed" >&2; exit 2; }

. "$(dirname "$0")/session-common.sh" gnome
session_teardown() { if [ -s "$root/shell.pid" ]; then stop_pid "$(cat "$root/shell.pid")"; fi; }
unset DISPLAY WAYLAND_DISPLAY SESSION_MANAGER QT_QPA_PLATFORM
export XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=GNOME GSETTINGS_BACKEND=keyfile
export ZWIRL_TEST_DESKTOP=1 ZWIRL_GNOME_SESSION=1 NO_AT_BRIDGE=1


# A system bus that allows everything: without one the shell exits.
cat >"$root/system.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$root/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_type="method_return"/>
    <allow send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="signal"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
  </policy>
</busconfig>
EOF
dbus-daemon --config-file="$root/system.conf" --nofork --nopidfile --print-address=4 \
  4>"$root/system-bus" >/dev/null 2>&1 &
pids+=($!)
dbus-daemon --session --nofork --nopidfile --print-address=5 5>"$root/bus" >/dev/null 2>&1 &
pids+=($!)
wait_for 5 test -s "$root/system-bus" && wait_for 5 test -s "$root/bus" ||
  { echo "the buses did not start" >&2; exit 1; }
export DBUS_SYSTEM_BUS_ADDRESS=$(head -n1 "$root/system-bus")
export DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$root/bus")

pipewire >"$root/pipewire.log" 2>&1 &
pids+=($!)
wait_for 10 test -S "$XDG_RUNTIME_DIR/pipewire-0" || { echo "pipewire did not start" >&2; exit 1; }
wireplumber >"$root/wireplumber.log" 2>&1 &
pids+=($!)

enabled=""
if [ -n "$extensions" ]; then
  mkdir -p "$XDG_DATA_HOME/gnome-shell/extensions"
  for dir in "$extensions"/*/; do
    uuid=$(basename "$dir")
    cp -r "$dir" "$XDG_DATA_HOME/gnome-shell/extensions/$uuid"
    enabled="$enabled${enabled:+, }'$uuid'"
  done
fi
gsettings set org.gnome.shell enabled-extensions "[$enabled]"
gsettings set org.gnome.shell disable-user-extensions false
gsettings set org.gnome.shell welcome-dialog-last-shown-version "'999'"
# New windows open in the middle of the screen, where the tests find them, at once.
gsettings set org.gnome.mutter center-new-windows true
gsettings set org.gnome.desktop.interface enable-animations false
# Newer shells start with the pointer in the top left corner, on the hot corner's barriers: they
# would hold the first move back on one axis and open the overview when pressed.
gsettings set org.gnome.desktop.interface enable-hot-corners false

# Starts the shell in its own mount namespace and waits until it serves its bus interface and
# the Wayland socket, and has finished starting up: it says so in its log (the journal is out of
# its reach here). Until then a pane that takes all pointer input covers the screen, and the
# start-up animation, which shows the overview, does not end if the overview is closed too
# early (GNOME Shell 51). The overview would cover the tests' windows: it is closed until it has
# stayed closed for two seconds.
cat >"$root/start-shell" <<EOF
#!/bin/bash
logged=\$(stat -c %s "$root/shell.log" 2>/dev/null || echo 0)
unshare -m sh -c '{ [ ! -d /run/systemd ] || mount -t tmpfs tmpfs /run/systemd; } &&
  exec gnome-shell --headless --wayland --no-x11 --virtual-monitor $size' \\
  >>"$root/shell.log" 2>&1 &
echo \$! >"$root/shell.pid"
started=false
for _ in \$(seq 1200); do
  busctl --user --no-pager get-property org.gnome.Shell /org/gnome/Shell org.gnome.Shell \\
    ShellVersion >/dev/null 2>&1 &&
    [ -S "$XDG_RUNTIME_DIR/wayland-0" ] &&
    tail -c +\$((logged + 1)) "$root/shell.log" | grep -q "GNOME Shell started at" &&
    { started=true; break; }
  kill -0 \$! 2>/dev/null || break
  sleep 0.05
done
closed=0
for _ in \$(seq 600); do
  \$started && kill -0 \$(cat "$root/shell.pid") 2>/dev/null || break
  shell=(--user --no-pager org.gnome.Shell /org/gnome/Shell org.gnome.Shell OverviewActive)
  if busctl get-property "\${shell[@]}" 2>/dev/null | grep -q false; then
    closed=\$((closed + 1))
    [ \$closed -ge 40 ] && exit 0
  else
    closed=0
    busctl set-property "\${shell[@]}" b false 2>/dev/null
  fi
  sleep 0.05
done
echo "gnome-shell did not start" >&2
tail -n 30 "$root/shell.log" >&2
exit 1
EOF
# Ends the shell by SIGKILL, as a crash would, and starts it again.
cat >"$root/restart-shell" <<EOF
#!/bin/bash
pid=\$(cat "$root/shell.pid")
kill -9 "\$pid"
while kill -0 "\$pid" 2>/dev/null; do sleep 0.05; done
while busctl --user --no-pager status org.gnome.Shell >/dev/null 2>&1; do sleep 0.05; done
rm -f "$XDG_RUNTIME_DIR"/wayland-0*
exec "$root/start-shell"
EOF
chmod +x "$root/start-shell" "$root/restart-shell"
"$root/start-shell" || exit 1
export WAYLAND_DISPLAY=wayland-0 ZWIRL_GNOME_RESTART=$root/restart-shell

"$@"
