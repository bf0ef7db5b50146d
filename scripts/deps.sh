#!/usr/bin/env bash
# Installs the Debian packages Idlix needs, skipping what is already there.
# Uses sudo when not run as root.
#
#   scripts/deps.sh run       what building and running Idlix need (run.sh)
#   scripts/deps.sh package   that, plus the Debian package tools (package.sh)
#   scripts/deps.sh test      all of these, plus what the tests add (test.sh)
#   scripts/deps.sh SET --check   installs nothing: names what SET lacks, and
#                                 fails when it lacks anything
set -euo pipefail

# Building and running: compiler and CMake, Qt (Widgets, PrintSupport, Network
# and the Test module come with qt6-base-dev), libjpeg-turbo, SQLite for the
# connection history, the fonts the window draws with (Liberation Sans takes
# the width of the window's captions; DejaVu covers what it lacks), and Xvfb
# for run.sh on a machine without a display. LLVM's linker (lld) links the
# programs in a fraction of the default linker's time; without it the build
# uses the default one. The service's remote write
# takes Prometheus' protocol from Debian's libraries: protobuf (library and
# protoc) for the request's messages, snappy for its compression, and libcurl
# for HTTP and HTTPS with the system's TLS and certificates.
run_packages=(
  build-essential cmake lld
  qt6-base-dev
  libjpeg62-turbo-dev
  libsqlite3-dev
  libprotobuf-dev protobuf-compiler libsnappy-dev libcurl4-openssl-dev
  fonts-liberation2 fonts-dejavu-core fonts-dejavu-extra
  xvfb xauth
)

# Making the Debian package: dpkg-shlibdeps (the package's library
# dependencies) and file, which CPack uses to find the programs to strip.
package_packages=(dpkg-dev file)

# What the tests add: GoogleTest; ip and sysctl, dnsmasq, nginx and a finger
# server behind socat for the test network in namespaces; pdftotext to read
# printed reports back; a private D-Bus with the mocks of NetworkManager,
# logind and the notification server for the dial-up, metered, sleep and
# notice tests; the validators for the install tests, getcap/setcap for the
# package's post-install step, ccache, through which the check that
# package.sh still builds on a fresh copy reuses its earlier compiles,
# xwininfo to measure the real window on Xvfb at each size; nft to drop a
# test host's echoes for the history's outages; localedef's sources
# (locales) for a comma-decimal locale.
test_packages=(
  libgtest-dev
  iproute2 procps dnsmasq-base nginx-light
  fingerd finger socat
  poppler-utils
  dbus-daemon python3-dbusmock
  desktop-file-utils appstream man-db libcap2-bin
  ccache
  x11-utils
  nftables locales
)

# The headless service's tests add a real Prometheus scraping its metrics
# (and promtool, which checks their text and the shipped rules), lintian on
# the package, and Alertmanager, which delivers the rules' alerts to a test's
# webhook.
test_packages+=(prometheus lintian prometheus-alertmanager)

# strace counts the writes of a settings save and kills one at each of its
# system calls, to show that an interrupted save leaves a whole file.
test_packages+=(strace)

case "${1:-}" in
  run) packages=("${run_packages[@]}") ;;
  package) packages=("${run_packages[@]}" "${package_packages[@]}") ;;
  test) packages=("${run_packages[@]}" "${package_packages[@]}" "${test_packages[@]}") ;;
  *) echo "usage: $0 run|package|test" >&2; exit 2 ;;
esac

SUDO=""
as_root() {
  if [ "$(id -u)" -ne 0 ] && [ -z "$SUDO" ]; then
    command -v sudo >/dev/null || { echo "Need root or sudo to: $*" >&2; exit 1; }
    SUDO="sudo"
  fi
  $SUDO "$@"
}

# nginx's package starts a system web server on port 80 and enables it at
# boot (and fails to install when port 80 is taken). The tests start their own
# nginx inside their namespaces and need neither: keep the service stopped and
# disabled. A machine that serves sites of its own is left alone.
quiet_nginx() {
  dpkg-query -W -f='${Status}' nginx-light 2>/dev/null | grep -q "install ok installed" || return 0
  local sites
  sites=$(ls -A /etc/nginx/sites-enabled 2>/dev/null || true)
  if [ -n "$sites" ] && [ "$sites" != "default" ]; then
    return 0
  fi
  if [ -d /run/systemd/system ]; then
    if systemctl -q is-enabled nginx.service 2>/dev/null || systemctl -q is-active nginx.service 2>/dev/null; then
      echo "Stopping and disabling nginx's system service (the tests run their own nginx)."
      as_root systemctl disable --now nginx.service >/dev/null 2>&1 || true
    fi
  elif [ -x /etc/init.d/nginx ]; then
    if ls /etc/rc[2-5].d/S*nginx >/dev/null 2>&1 || service nginx status >/dev/null 2>&1; then
      echo "Stopping and disabling nginx's system service (the tests run their own nginx)."
      as_root service nginx stop >/dev/null 2>&1 || true
      as_root update-rc.d nginx disable >/dev/null 2>&1 || true
    fi
  fi
}

# Prometheus's package enables a server on port 9090 at boot; the tests start
# their own in a scratch folder, so the system's is stopped and disabled, as
# nginx's is. A machine whose Prometheus settings were edited (it scrapes
# targets of its own) keeps it.
quiet_prometheus() {
  dpkg-query -W -f='${Status}' prometheus 2>/dev/null | grep -q "install ok installed" || return 0
  [ -d /run/systemd/system ] || return 0
  local conf=/etc/prometheus/prometheus.yml shipped
  shipped=$(dpkg-query -W -f='${Conffiles}' prometheus | awk -v f="$conf" '$1 == f {print $2}')
  [ -n "$shipped" ] && [ "$(md5sum <"$conf" | cut -d' ' -f1)" = "$shipped" ] || return 0
  if systemctl -q is-enabled prometheus.service 2>/dev/null || systemctl -q is-active prometheus.service 2>/dev/null; then
    echo "Stopping and disabling Prometheus's system service (the tests run their own)."
    as_root systemctl disable --now prometheus.service >/dev/null 2>&1 || true
  fi
}

# Alertmanager's package starts its server on port 9093 as Prometheus's does;
# the tests start their own.
quiet_alertmanager() {
  dpkg-query -W -f='${Status}' prometheus-alertmanager 2>/dev/null | grep -q "install ok installed" || return 0
  [ -d /run/systemd/system ] || return 0
  if systemctl -q is-enabled prometheus-alertmanager.service 2>/dev/null || systemctl -q is-active prometheus-alertmanager.service 2>/dev/null; then
    echo "Stopping and disabling Alertmanager's system service (the tests run their own)."
    as_root systemctl disable --now prometheus-alertmanager.service >/dev/null 2>&1 || true
  fi
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ "${2:-}" = --check ]; then
  [ ${#missing[@]} -eq 0 ] && exit 0
  echo "Missing: ${missing[*]}"
  exit 1
fi

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  # No service may start while the packages install (nginx's would); an
  # existing policy is the administrator's and stays as it is.
  policy=/usr/sbin/policy-rc.d
  if [ ! -e "$policy" ]; then
    trap 'as_root rm -f "$policy"' EXIT
    printf '#!/bin/sh\n# Written by Idlix scripts/deps.sh for the length of one install.\nexit 101\n' \
      | as_root tee "$policy" >/dev/null
    as_root chmod 755 "$policy"
  fi
  as_root env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
[ "$1" = test ] && quiet_nginx
[ "$1" = test ] && quiet_prometheus
[ "$1" = test ] && quiet_alertmanager
exit 0
