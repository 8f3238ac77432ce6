#!/usr/bin/env bash
# Installs what building and testing Morvane needs on Debian 12 (run as root, or with sudo).
set -euo pipefail
# --native: only what the native build and its demo need (no cross compiler, no Wine).
# prometheus brings promtool, which checks the metrics file in a test.
packages=(build-essential cmake ninja-build libgtest-dev libgmock-dev libbenchmark-dev
          tftp-hpa atftp curl iproute2 python3 git prometheus)
if [ "${1:-}" != "--native" ]; then
  packages+=(g++-mingw-w64-x86-64-posix wine64 xvfb imagemagick nsis)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
# Optional: the fleet page's browser test skips itself without chromium, so a machine where it
# cannot be had still builds and tests.
if ! command -v chromium >/dev/null; then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq chromium >/dev/null 2>&1 ||
    echo "install-deps: chromium is not available here; the fleet page's browser test will skip" >&2
fi
