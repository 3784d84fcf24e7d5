#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian packages that zwirl needs, on a minimal Debian 12, 13 or unstable as root,
# or through sudo otherwise:
#   setup.sh          everything: building, running, the headless demo, the tests and packaging,
#                     and the ESLint of the GNOME Shell extension's lint, from the npm registry;
#   setup.sh --run    building and running zwirl only;
#   setup.sh --demo   building and running, and the virtual desktop of the headless demo.
#
# Library packages are renamed from one release to the next (a new ABI, the 64-bit time
# transition), so their names are not written here but taken from apt:
#   dev:prefix   the package named prefix<digit>... that dev depends on: libavformat-dev:libavformat
#                is libavformat59 on Debian 12 and libavformat61 on 13;
#   a|b          the first of the two that the release has;
#   a|           a where the release has it (unstable has been without trayer, the tray of the
#                test desktop, which only the tests of the tray need).
# The lists of names are split into words on purpose.
# shellcheck disable=SC2086,SC2046
set -eu

if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi

# Running: the libraries the program links, Qt's platform plugins (Wayland too), the session
# bus, the file manager's metadata store (custom icons) and the opener of folders.
RUN_PACKAGES="
  qt6-base-dev:libqt6core qt6-base-dev:libqt6gui qt6-base-dev:libqt6widgets
  qt6-base-dev:libqt6dbus qt6-base-dev:libqt6concurrent qt6-qpa-plugins
  libx11-dev:libx11- libxi-dev:libxi libxrandr-dev:libxrandr
  libavformat-dev:libavformat libavcodec-dev:libavcodec libswresample-dev:libswresample
  libavutil-dev:libavutil libtag-dev|libtag1-dev:libtag libsndfile1-dev:libsndfile
  portaudio19-dev:libportaudio libasound2-dev:libasound libasound2-plugins
  libjack-jackd2-dev:libjack-jackd2- libglib2.0-bin:libglib2.0-
  dbus gvfs gvfs-daemons xdg-utils xdg-user-dirs qt6-wayland
"

# Building, besides the above: the compiler, the headers of those libraries, the benchmarks'
# library (they are built by default), the header font and the SVG renderer of the images.
# Debian 13 has the OpenGL module in qt6-base-dev itself.
BUILD_PACKAGES="
  build-essential cmake pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev libqt6opengl6-dev|qt6-base-dev
  libx11-dev libxi-dev libxrandr-dev libxtst-dev
  libavformat-dev libavcodec-dev libswresample-dev libavutil-dev
  libtag-dev|libtag1-dev libsndfile1-dev portaudio19-dev libglib2.0-dev
  libasound2-dev libjack-jackd2-dev
  libbenchmark-dev
  fonts-lato librsvg2-bin
"

# The virtual desktop of tests/desktop.sh, in which the headless demo runs: an X server, a
# session bus, a notification server, a tray, a sound server, and what the demo draws, clicks
# and reads with.
DEMO_PACKAGES="
  xvfb xauth xdotool x11-utils imagemagick fonts-dejavu-core fontconfig
  dbus-daemon dbus-bin systemd dunst trayer|
  pulseaudio pulseaudio-utils ffmpeg procps
"

# The tests and the package, besides all of the above. cpack finds the package's dependencies
# with file, and lintian checks the package; the test sessions mount; Node.js and npm run and
# install ESLint.
TEST_PACKAGES="
  clang-format clang libclang-rt-dev qt6-tools-dev-tools qt6-image-formats-plugins nodejs npm
  x11-apps x11-xserver-utils
  sox libsox-fmt-all atomicparsley sndfile-programs
  gstreamer1.0-tools gstreamer1.0-plugins-good gstreamer1.0-libav
  desktop-file-utils appstream groff-base
  libglib2.0-bin psmisc time python3 file mount
  gnome-shell mutter pipewire pipewire-bin wireplumber
  dpkg-dev mmdebstrap lintian
"

# The Plasma session of the tests, where the release's KWin is 6 or later (Debian 13 on): KWin
# with XWayland, the QML modules of its declarative effects (kwin-common holds org.kde.kwin) and
# what a Wayland client of KWin's protocols is built with.
KWIN_PACKAGES="
  kwin-wayland kwin-common qml6-module-qtquick xwayland
  libwayland-dev libwayland-bin plasma-wayland-protocols
"

case "${1:-}" in
  --run) PACKAGES="$RUN_PACKAGES $BUILD_PACKAGES" kwin=0 lint=0 ;;
  --demo) PACKAGES="$RUN_PACKAGES $BUILD_PACKAGES $DEMO_PACKAGES" kwin=0 lint=0 ;;
  "") PACKAGES="$RUN_PACKAGES $BUILD_PACKAGES $DEMO_PACKAGES $TEST_PACKAGES" kwin=1 lint=1 ;;
  *) echo "usage: $0 [--run | --demo]" >&2; exit 2 ;;
esac

# The installed packages among the arguments, one a line. A name that an installed package
# provides counts as installed: a Node.js from elsewhere that brings its own npm conflicts with
# Debian's npm.
installed() {
  { printf '%s\n' "$@"; echo --; dpkg-query -W -f='${db:Status-Abbrev} ${Package}, ${Provides}\n'; } |
    awk '$0 == "--" { listed = 1; next } !listed { wanted[$1]; next }
         $1 == "ii" { $1 = ""; gsub(/\([^)]*\)/, ""); gsub(/,/, " ")
                      for (i = 1; i <= NF; i++) if ($i in wanted && !($i in seen)) { seen[$i]; print $i } }'
}
# The packages among the arguments that the archive has, one a line.
available() {
  apt-cache policy "$@" 2>/dev/null |
    awk '/^[^ ]/ { p = $1; sub(/:$/, "", p) } /^  Candidate:/ && $2 != "(none)" { print p }'
}
# The arguments that are not installed.
not_installed() {
  [ $# -gt 0 ] || return 0
  { installed "$@"; echo --; printf '%s\n' "$@"; } |
    awk '$0 == "--" { wanted = 1; next } !wanted { have[$1]; next } !($1 in have) { print }'
}

# The names that $PACKAGES stands for, one a line, told by the installed packages ($1 is
# "installed") or by the archive ("archive"). Fails when one of them cannot be told.
resolve() {
  names=$(printf '%s\n' $PACKAGES | sed 's/:.*//' | tr '|' '\n' | sed '/^$/d' | sort -u)
  if [ "$1" = installed ]; then
    have=$(installed $names)
    # An optional package that is not installed is wanted when the archive has it.
    optional=$(not_installed $(printf '%s\n' $PACKAGES | grep '|$' | tr '|' ' '))
    if [ -n "$optional" ]; then have="$have $(available $optional)"; fi
    # Lines "package dependency" of the installed packages.
    deps=$(dpkg-query -W -f='${Package} ${Pre-Depends}, ${Depends}\n' $have |
      awk '{ p = $1; $1 = ""; gsub(/\([^)]*\)/, ""); gsub(/[,|]/, " ")
             for (i = 1; i <= NF; i++) { sub(/:.*/, "", $i); print p, $i } }')
  else
    have=$(available $names)
    deps=$(apt-cache depends --important $have |
      awk '/^[^ ]/ { p = $1 } /Depends: [^<]/ { d = $2; sub(/:.*/, "", d); print p, d }')
  fi
  { printf 'have %s\n' $have; echo "$deps" | sed 's/^/dep /'; printf 'entry %s\n' $PACKAGES; } |
    awk -v from="$1" '
      $1 == "have" { have[$2]; next }
      $1 == "dep" { deps[$2] = deps[$2] " " $3; next }
      {
        split($2, part, ":"); n = split(part[1], alternative, "|"); p = ""
        for (i = 1; i <= n && p == ""; i++) if (alternative[i] in have) p = alternative[i]
        if (p == "" && alternative[n] == "") next
        if (p != "" && part[2] != "") {
          m = split(deps[p], dep, " "); lib = ""
          for (i = 1; i <= m && lib == ""; i++)
            if (index(dep[i], part[2]) == 1 && substr(dep[i], length(part[2]) + 1) ~ /^[0-9][^-]*$/)
              lib = dep[i]
          p = lib
        }
        if (p == "") { print $2 ": not in the " from " packages" > "/dev/stderr"; failed = 1 }
        print p
      }
      END { exit failed }' || return 1
  if [ "$kwin" = 1 ]; then
    if [ "$1" = installed ] && [ -n "$(installed kwin-wayland)" ]; then
      version=$(dpkg-query -W -f='${Version}' kwin-wayland)
    else
      version=$(apt-cache policy kwin-wayland | awk '/^  Candidate:/ { print $2 }')
    fi
    case "${version#*:}" in
      "" | "(none)") echo "kwin-wayland: not in the $1 packages" >&2; return 1 ;;
      [1-5].*) ;;
      *) printf '%s\n' $KWIN_PACKAGES ;;
    esac
  fi
}

if ! { wanted=$(resolve installed 2>/dev/null) && [ -z "$(not_installed $wanted)" ]; }; then
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -q
  wanted=$(resolve archive)
  missing=$(not_installed $wanted)
  if [ -n "$missing" ]; then
    $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $missing
  fi
fi

# ESLint at the versions that data/gnome-shell/package-lock.json pins, installed once per lock
# file into a folder named by its hash, where the tests' build finds it (tests/CMakeLists.txt)
# and the lint runs without the network. Not where this script was copied alone (the release
# roots of tests/release-root.sh).
top=$(cd "$(dirname "$0")/.." && pwd)
lock=$top/data/gnome-shell/package-lock.json
if [ "$lint" = 0 ] || [ ! -e "$lock" ]; then exit 0; fi
eslint=${ZWIRL_ESLINT_CACHE:-/var/cache/zwirl/eslint}/$(sha256sum <"$lock" | cut -c1-16)
if [ ! -e "$eslint/node_modules/eslint/bin/eslint.js" ]; then
  # Installed beside the folder and moved there when complete.
  $SUDO rm -rf "$eslint.new"
  $SUDO mkdir -p "$eslint.new"
  $SUDO cp "$top/data/gnome-shell/package.json" "$lock" "$eslint.new/"
  (cd "$eslint.new" && $SUDO npm ci --ignore-scripts --no-audit --no-fund --loglevel=error)
  $SUDO rm -rf "$eslint"
  $SUDO mv "$eslint.new" "$eslint"
fi
