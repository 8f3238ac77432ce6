#!/usr/bin/env bash
# Cross-builds the Windows executables with mingw-w64 and runs the Windows tests under Wine with
# its null graphics driver (dialogs run headless). Prints "N passed, N failed" and exits non-zero
# when anything failed.
#   tools/run-windows-tests.sh            build into build-win (the `windows` preset's folder)
#   MORVANE_WIN_BUILD=dir tools/run-windows-tests.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${MORVANE_WIN_BUILD:-build-win}
jobs=$(nproc)

for tool in x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-windres wine; do
  command -v "$tool" >/dev/null || { echo "missing $tool: run tools/install-deps.sh" >&2; exit 1; }
done

cmake -S . -B "$build" -G Ninja --toolchain "$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$jobs"

# A Wine prefix of our own, made once per build folder, with the null graphics driver.
export WINEPREFIX="$root/$build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/.morvane-ready" ]; then
  echo "Preparing the Wine prefix $WINEPREFIX ..."
  mkdir -p "$WINEPREFIX"
  wineboot --init >/dev/null 2>&1 || true
  wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
  wineserver -w
  touch "$WINEPREFIX/.morvane-ready"
fi

# Keep one Wine server up for the whole run: every test case is a process of its own.
wineserver -p 30 2>/dev/null || true  # already running: keep that one
# Wine's own background processes start with the first program; start them here, away from the
# output pipes that ctest waits on.
wine cmd /c exit >/dev/null 2>&1 </dev/null || true
log="$root/$build/windows-tests.log"
set +e
# Now and then Wine fails to start a test's process at all (no output, exit at once); such a
# test gets one more start. The native runs allow no second try.
ctest --test-dir "$build" -j "$jobs" --output-on-failure --repeat until-pass:2 2>&1 | tee "$log"
status=${PIPESTATUS[0]}
set -e
wineserver -k || true

summary=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1 || true)
if [ -z "$summary" ]; then
  echo "windows: 0 passed, 1 failed (ctest ran no tests)"
  exit 1
fi
total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$summary")
failed=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$summary")
skipped=$(grep -cE '^[[:space:]]+[0-9]+ - .* \(Skipped\)$' "$log" || true)
echo "windows: $((total - failed - skipped)) passed, ${failed} failed, ${skipped} skipped"
[ "$status" -eq 0 ] && [ "$failed" -eq 0 ]
