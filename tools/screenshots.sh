#!/usr/bin/env bash
# Takes the README's pictures of the real dialog under Xvfb, in a Wine virtual desktop:
#   docs/morvane-dialog.png        the form, started with "-s 192.168.1.5"
#   docs/morvane-error-panel.png   the error panel after a failed connection to that address
# Builds what it needs into build-win (or MORVANE_WIN_BUILD) and uses a Wine prefix of its own
# there, with the X11 graphics driver.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${MORVANE_WIN_BUILD:-build-win}

[ -f "$build/CMakeCache.txt" ] ||
  cmake -S . -B "$build" -G Ninja --toolchain "$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target morvane-screenshot-stage
stage="$root/$build/ui/morvane-screenshot-stage.exe"

export WINEPREFIX="$root/$build/wineprefix-screens"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
work=$(mktemp -d)
xvfb_pid=""
cleanup() {
  wineserver -k 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A free display number.
display=77
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=":$display"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done

if [ ! -f "$WINEPREFIX/.morvane-ready" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot --init >/dev/null 2>&1 || true
  wineserver -w
  touch "$WINEPREFIX/.morvane-ready"
fi

mkdir -p docs
shoot() {  # shoot OUTPUT [ERROR-CODE]
  local out=$1 code=${2:-0}
  rm -f "$work/rect.txt"
  (cd "$work" && wine explorer /desktop=morvane,800x600 "$stage" rect.txt 3 "$code" -s 192.168.1.5 \
     >/dev/null 2>&1) &
  local runner=$!
  for _ in $(seq 150); do [ -s "$work/rect.txt" ] && break; sleep 0.1; done
  [ -s "$work/rect.txt" ] || { echo "the dialog did not come up" >&2; exit 1; }
  sleep 0.5
  read -r left top right bottom < <(tr -d "\r" <"$work/rect.txt")
  import -display "$DISPLAY" -window root -crop "$((right - left))x$((bottom - top))+$left+$top" \
    +repage "$out"
  wait "$runner" || true
  echo "wrote $out"
}
shoot docs/morvane-dialog.png
shoot docs/morvane-error-panel.png 6
