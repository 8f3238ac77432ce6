#!/usr/bin/env bash
# Builds and runs Morvane's tests.
#   tools/run-tests.sh            install what is missing, build, run every native test, then the
#                                 Windows build's tests under Wine
#   tools/run-tests.sh native     native tests only (no install)
#   tools/run-tests.sh asan       native tests under AddressSanitizer + UBSan
#   tools/run-tests.sh tsan       the threaded tests under ThreadSanitizer
#   tools/run-tests.sh windows    cross-build with mingw-w64 and run the tests under Wine
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-all}
jobs=$(nproc)

native() {  # native BUILD_DIR [cmake args...] -- [ctest args...]
  local dir=$1; shift
  local cargs=() targs=()
  while (($#)) && [ "$1" != "--" ]; do cargs+=("$1"); shift; done
  (($#)) && shift
  targs=("$@")
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug "${cargs[@]}" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" -j "$jobs" --output-on-failure "${targs[@]}"
}

windows() {
  [ -x tools/run-windows-tests.sh ] || { echo "windows: no cross build yet"; return 0; }
  tools/run-windows-tests.sh
}

case "$mode" in
  all)
    tools/install-deps.sh
    native build -DMORVANE_BENCH=ON  # the benchmarks are built (not run) so they keep compiling
    windows
    ;;
  native) native build -DMORVANE_BENCH=ON ;;
  asan)
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
      native build-asan -DMORVANE_SANITIZE=address,undefined
    ;;
  tsan)
    TSAN_OPTIONS=halt_on_error=1 native build-tsan -DMORVANE_SANITIZE=thread -- -L threaded
    ;;
  windows) windows ;;
  *) echo "usage: $0 [all|native|asan|tsan|windows]" >&2; exit 1 ;;
esac
