#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The headless demo: runs zwirl in the virtual desktop that tests/desktop.sh made, records
# about 30 clicks on a window of known colours, stops the run and copies the files written into
# the folder given (the desktop's home goes with the desktop), where it lists them.
#   demo.sh ZWIRL_BINARY FOLDER
set -eu
app=$1
keep=$2
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# Without auto-start: a zwirl installed on the system is not to be started in this one's place.
control() { busctl --user --no-pager --auto-start=no call de.tolvarek.zwirl /de/tolvarek/zwirl "$@"; }

QT_FORCE_STDERR_LOGGING=1 "$app" >"$work/zwirl.log" 2>&1 &
app_pid=$!
pids+=($app_pid)
for _ in $(seq 100); do control de.tolvarek.zwirl.Control IsTracking >/dev/null 2>&1 && break; sleep 0.1; done

# Six stripes of known colours, 100 pixels wide each, in a window at the top left.
convert -size 100x300 xc:'#ff0000' xc:'#00ff00' xc:'#0000ff' xc:'#ffffff' xc:'#000000' \
  xc:'#ff6766' +append "$work/stripes.png"
display -geometry +0+100 -title stripes "$work/stripes.png" &
pids+=($!)
sleep 1

echo "Starting a run..."
control org.freedesktop.Application ActivateAction 'sava{sv}' start 0 0
sleep 0.5
for i in $(seq 0 29); do
  xdotool mousemove $((50 + (i % 6) * 100)) 250 click 1
  sleep 0.05
done
sleep 0.3
echo "Recorded clicks: $(control de.tolvarek.zwirl.Control SampleCount | cut -d' ' -f2)"
control org.freedesktop.Application ActivateAction 'sava{sv}' stop 0 0
for _ in $(seq 300); do
  [ "$(control de.tolvarek.zwirl.Control IsExporting)" = "b false" ] && break
  sleep 0.1
done

folder=$(xdg-user-dir DESKTOP 2>/dev/null || echo "$HOME/Desktop")/zwirl
control org.freedesktop.Application ActivateAction 'sava{sv}' quit 0 0 || true
for _ in $(seq 50); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
if [ -n "${ZWIRL_DEMO_LOG:-}" ]; then cat "$work/zwirl.log"; fi

mkdir -p "$keep"
echo "Files written, kept in $keep:"
for f in "$folder"/*.m4a "$folder"/*.png; do
  [ -e "$f" ] || continue
  cp "$f" "$keep/"
  echo "  $keep/$(basename "$f")"
done
for f in "$folder"/*.m4a; do
  [ -e "$f" ] || continue
  ffprobe -v error -select_streams a:0 -show_entries stream=codec_name,sample_rate,channels:format=duration \
    -of compact=p=0:nk=0 "$f" | tr '\n' ' '
  echo
done
