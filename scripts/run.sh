#!/bin/sh
# Installs what zwirl needs, builds it and runs it: on the user's desktop when there is one,
# else as a headless demo on a virtual desktop.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
sh "$top/scripts/setup.sh"
sh "$top/scripts/build.sh"
if [ -n "${DISPLAY:-}" ]; then
  exec "$top/build/install/bin/zwirl"
fi
exec "$top/tests/desktop.sh" -- "$top/scripts/demo.sh" "$top/build/install/bin/zwirl"
