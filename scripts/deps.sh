#!/usr/bin/env bash
# Installs the Debian packages Idlix needs to build, run and test, skipping
# what is already there. Uses sudo when not run as root.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  qt6-base-dev libqt6printsupport6 qt6-qpa-plugins
  libjpeg62-turbo-dev
  libgtest-dev
  xvfb xauth x11-utils imagemagick xdotool
  libx11-dev
  iproute2 dnsmasq-base nginx-light procps libcap2-bin iputils-ping
  fingerd finger socat
  poppler-utils
  fonts-dejavu-core fonts-dejavu-extra
  curl
  dpkg-dev file
  desktop-file-utils appstream man-db util-linux
  dbus-daemon python3-dbusmock
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "Need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  SUDO="sudo"
fi
echo "Installing: ${missing[*]}"
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -qq
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
