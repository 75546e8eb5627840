#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the test LAN need.
# Does nothing when all of them are present already.
set -euo pipefail

packages=(
  # toolchain
  g++ clang cmake ninja-build pkg-config
  # tests
  googletest libgtest-dev libgmock-dev
  # sanitizer and fuzzer runtimes for clang
  libclang-rt-14-dev
  # settings files of the command line
  nlohmann-json3-dev
  # marindo-cli's command line parser (header-only)
  libcli11-dev
  # the site exporter's HTTP server (marindo-cli serve)
  libcpp-httplib-dev
  # windows
  qt6-base-dev qt6-base-dev-tools libgl-dev
  # test LAN and the clock simulator
  iproute2 python3 tftp-hpa tftpd-hpa
  # looking at windows as an operator would
  xvfb xdotool imagemagick fonts-wqy-microhei
  # the Debian package (dpkg-shlibdeps, file) and its install test in a chroot
  dpkg-dev file desktop-file-utils debootstrap
  # the package's man pages and files checked as Debian checks them; man -l
  # reads the man pages as an operator would
  lintian man-db
  # the site exporter's alert rules (promtool) and the Prometheus server the
  # end-to-end test scrapes it with
  prometheus
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# tftpd-hpa would start a system TFTP server on port 69 and prometheus a
# system Prometheus on port 9090; the tests start their own inside namespaces,
# so keep the packages' services from starting. Recommends stay out, so
# prometheus brings no node exporter.
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
for service in tftpd-hpa prometheus; do
  if command -v systemctl >/dev/null 2>&1; then
    $SUDO systemctl disable --now "$service" >/dev/null 2>&1 || true
  fi
  if [ -x "/etc/init.d/$service" ]; then
    $SUDO "/etc/init.d/$service" stop >/dev/null 2>&1 || true
  fi
done
