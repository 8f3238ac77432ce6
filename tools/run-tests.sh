#!/usr/bin/env bash
# Builds and runs Morvane's tests.
#   tools/run-tests.sh            install what is missing, build, run every native test, then the
#                                 Windows build's tests under Wine
#   tools/run-tests.sh native     native tests only (no install)
#   tools/run-tests.sh asan       native tests under AddressSanitizer + UBSan
#   tools/run-tests.sh tsan       the threaded tests under ThreadSanitizer
#   tools/run-tests.sh windows    cross-build with mingw-w64 and run the tests under Wine
#   tools/run-tests.sh fuzz       build the fuzz targets with clang's libFuzzer (installing clang
#                                 and its runtime when missing) and run each for FUZZ_SECONDS
#                                 (default 30) on its stored seed corpus
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

fuzz() {
  local missing=()
  command -v clang++ >/dev/null || missing+=(clang)
  if ((${#missing[@]} == 0)); then
    local major
    major=$(clang++ -dumpversion | cut -d. -f1)
    [ -e "$(clang++ -print-file-name="libclang_rt.fuzzer-$(uname -m).a")" ] ||
      [ -n "$(find "$(clang++ -print-resource-dir)" -name 'libclang_rt.fuzzer*.a' 2>/dev/null)" ] ||
      missing+=("libclang-rt-$major-dev")
  fi
  if ((${#missing[@]})); then
    local SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
    command -v clang++ >/dev/null &&
      [ -z "$(find "$(clang++ -print-resource-dir)" -name 'libclang_rt.fuzzer*.a' 2>/dev/null)" ] &&
      DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq \
        "libclang-rt-$(clang++ -dumpversion | cut -d. -f1)-dev" >/dev/null
  fi
  cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DMORVANE_FUZZ=ON -DMORVANE_TESTS=OFF -DMORVANE_SANITIZE=address,undefined >/dev/null
  cmake --build build-fuzz -j "$jobs"
  local seconds=${FUZZ_SECONDS:-30} target name args
  for target in tests/fuzz/*_fuzzer.cpp; do
    name=$(basename "$target" .cpp)
    args=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=20000
          -print_final_stats=1)
    [ -f "tests/fuzz/$name.dict" ] && args+=(-dict="tests/fuzz/$name.dict")
    # New inputs go to a scratch directory; the stored corpus is only read.
    rm -rf "build-fuzz/found/$name" && mkdir -p "build-fuzz/found/$name"
    echo "== $name: ${seconds} s"
    if ! UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
      "build-fuzz/tests/fuzz/$name" "${args[@]}" -artifact_prefix="build-fuzz/found/$name/" \
      "build-fuzz/found/$name" "tests/fuzz/corpus/$name" >"build-fuzz/found/$name.log" 2>&1; then
      tail -n 60 "build-fuzz/found/$name.log"
      echo "$name found a failure: the input is in build-fuzz/found/$name/"
      return 1
    fi
    grep -E '^(Done|stat::(number_of_executed_units|new_units_added))' "build-fuzz/found/$name.log"
  done
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
  fuzz) fuzz ;;
  *) echo "usage: $0 [all|native|asan|tsan|windows|fuzz]" >&2; exit 1 ;;
esac
