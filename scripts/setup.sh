#!/bin/sh
# Installs every Debian package that building, running and testing zwirl needs; with --run only
# those that running a built zwirl needs. Works on a minimal Debian 12 as root, or through sudo
# otherwise.
set -eu

if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi

# Running: the libraries the program links, Qt's platform plugins (Wayland too), the session
# bus, the file manager's metadata store (custom icons) and the opener of folders.
RUN_PACKAGES="
  libqt6core6 libqt6gui6 libqt6widgets6 libqt6dbus6 libqt6concurrent6 qt6-qpa-plugins
  libx11-6 libxi6 libxrandr2
  libavformat59 libavcodec59 libswresample4 libavutil57
  libtag1v5 libsndfile1 libportaudio2 libasound2 libasound2-plugins libjack-jackd2-0
  libglib2.0-0 dbus gvfs gvfs-daemons xdg-utils xdg-user-dirs qt6-wayland
"

# Building, testing and packaging, besides the above.
BUILD_PACKAGES="
  build-essential cmake pkg-config clang-format clang libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools qt6-tools-dev-tools libgl-dev libqt6opengl6-dev
  qt6-image-formats-plugins
  libx11-dev libxi-dev libxrandr-dev libxtst-dev x11-apps x11-xserver-utils
  libavformat-dev libavcodec-dev libswresample-dev libavutil-dev
  libtag1-dev libsndfile1-dev portaudio19-dev libglib2.0-dev libglib2.0-bin
  libasound2-dev libjack-jackd2-dev
  libbenchmark-dev
  fonts-lato fonts-dejavu-core fontconfig
  librsvg2-bin
  xvfb xauth xdotool x11-utils imagemagick
  dbus-daemon dbus-bin systemd dunst trayer
  pulseaudio pulseaudio-utils
  ffmpeg sox libsox-fmt-all atomicparsley sndfile-programs
  gstreamer1.0-tools gstreamer1.0-plugins-good gstreamer1.0-libav
  desktop-file-utils appstream groff-base
  procps psmisc time python3
  gnome-shell mutter pipewire pipewire-bin wireplumber
  dpkg-dev mmdebstrap
"

case "${1:-}" in
  --run) PACKAGES=$RUN_PACKAGES ;;
  "") PACKAGES="$RUN_PACKAGES $BUILD_PACKAGES" ;;
  *) echo "usage: $0 [--run]" >&2; exit 2 ;;
esac

missing=""
for p in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing="$missing $p"
done
if [ -n "$missing" ]; then
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -q
  # shellcheck disable=SC2086
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $missing
fi
