#!/bin/bash
# The headless demo: runs zwirl in the virtual desktop that tests/desktop.sh made, records
# about 30 clicks on a window of known colours, stops the run and shows what was written.
set -eu
app=$1
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

control() { busctl --user --no-pager call de.tolvarek.zwirl /de/tolvarek/zwirl "$@"; }

QT_FORCE_STDERR_LOGGING=1 "$app" >"$work/zwirl.log" 2>&1 &
pids+=($!)
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
echo "Files written:"
for f in "$folder"/*.m4a "$folder"/*.png; do [ -e "$f" ] && echo "  $f"; done
for f in "$folder"/*.m4a; do
  [ -e "$f" ] || continue
  ffprobe -v error -select_streams a:0 -show_entries stream=codec_name,sample_rate,channels:format=duration \
    -of compact=p=0:nk=0 "$f" | tr '\n' ' '
  echo
done
control org.freedesktop.Application ActivateAction 'sava{sv}' quit 0 0 || true
sleep 0.5
if [ -n "${ZWIRL_DEMO_LOG:-}" ]; then cat "$work/zwirl.log"; fi
if [ -n "${ZWIRL_DEMO_KEEP:-}" ]; then cp "$folder"/* "$ZWIRL_DEMO_KEEP"/; fi
