# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the test sessions (tests/desktop.sh, tests/gnome-session.sh) with a name for the
# temporary folder $root: it holds a HOME with XDG folders. The PIDs a session adds to `pids` are
# stopped in reverse order when it ends (after `session_teardown`, when the session defines
# one), and the folder is removed.
root=$(mktemp -d "/tmp/zwirl-$1.XXXXXX")
pids=()
stop_pid() {
  kill "$1" 2>/dev/null
  for _ in $(seq 50); do kill -0 "$1" 2>/dev/null || return 0; sleep 0.1; done
  kill -9 "$1" 2>/dev/null
}
# Runs the command until it succeeds, for up to the given number of seconds; its status.
wait_for() { # seconds command...
  local tries=$(($1 * 20))
  shift
  for _ in $(seq "$tries"); do "$@" && return 0; sleep 0.05; done
  return 1
}
teardown() {
  if declare -F session_teardown >/dev/null; then session_teardown; fi
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do stop_pid "${pids[i]}"; done
  rm -rf "$root"
}
trap teardown EXIT
trap 'exit 130' INT TERM HUP

export HOME=$root/home
export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share XDG_CACHE_HOME=$HOME/.cache
export XDG_RUNTIME_DIR=$root/run
mkdir -p "$HOME/Desktop" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
printf 'XDG_DESKTOP_DIR="$HOME/Desktop"\n' >"$XDG_CONFIG_HOME/user-dirs.dirs"
