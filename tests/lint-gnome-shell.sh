#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Lints the GNOME Shell extension's sources (data/gnome-shell) with ESLint; any error or warning
# fails.
#   tests/lint-gnome-shell.sh DIR
# DIR holds a copy of the extension's eslint.config.mjs beside node_modules, the ESLint at the
# versions of its package-lock.json that scripts/setup.sh installs; the configuration's imports
# are found there. Without that ESLint the lint is skipped (exit status 77).
set -eu
dir=$1
if [ ! -e "$dir/node_modules/eslint/bin/eslint.js" ] || ! command -v node >/dev/null; then
  echo "SKIP: no ESLint in $dir/node_modules; scripts/setup.sh installs it"
  exit 77
fi
# The configuration's file patterns are taken from the current folder.
cd "$(dirname "$0")/../data/gnome-shell"
exec node "$dir/node_modules/eslint/bin/eslint.js" --config "$dir/eslint.config.mjs" \
  --max-warnings 0 .
