#!/usr/bin/env bash
# Takes README's picture of fleet-backup's page, docs/fleet-page.png: three simulated devices on
# 127.0.0.2 to 127.0.0.4 and one address where nothing answers (127.0.0.9), backed up twice into
# one store; before the second run one stored file is edited, so that run finds a change and a
# failure. The second run's report (with --diff) is printed, as README shows it. The page is
# rendered by headless chromium. Uses the build in MORVANE_BUILD (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${MORVANE_BUILD:-build}
cmake --build "$build" --target morvane-cli tavio-sim >/dev/null
cli_bin=$build/cli/morvane-cli
sim_bin=$(find "$build" -name tavio-sim -type f -perm -u+x | head -1)
[ -x "$cli_bin" ] || cli_bin=$(find "$build" -name morvane-cli -type f -perm -u+x | head -1)
work=$(mktemp -d /tmp/morvane-page.XXXXXX)
sims=()
trap 'kill "${sims[@]}" 2>/dev/null || true; wait "${sims[@]}" 2>/dev/null || true; rm -rf "$work"' EXIT
tftp_port=$(python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')

port=""
for n in 2 3 4; do
  printf 'hostname plant-%s\nip address 192.0.2.%s\nsnmp community public\n' "$n" "$n" > "$work/dev-$n.txt"
  "$sim_bin" --listen "127.0.0.$n:${port:-0}" --state "$work/dev-$n.txt" --tftp-port "$tftp_port" \
    > "$work/dev-$n.out" 2>&1 &
  sims+=($!)
  for _ in $(seq 50); do grep -q listening "$work/dev-$n.out" 2>/dev/null && break; sleep 0.1; done
  [ -n "$port" ] || port=$(sed -n 's/.*listening on 127\.0\.0\.[0-9]*:\([0-9]*\).*/\1/p' "$work/dev-$n.out")
done
printf 'host,name\n127.0.0.2,plant-2\n127.0.0.3,plant-3\n127.0.0.4,plant-4\n127.0.0.9,spare-9\n' \
  > "$work/fleet.csv"
fleet=("$cli_bin" fleet-backup "$work/fleet.csv" "$work/store" --http-port "$port"
       --tftp-port "$tftp_port" --html "$work/store/index.html")
"${fleet[@]}" --git >/dev/null 2>&1 || true
# Somebody changes plant-3 during the day: a new address, restored into it as an operator would.
sed 's/192\.0\.2\.3/192.0.2.33/' "$work/store/plant-3.cfg" > "$work/plant-3-new.cfg"
"$cli_bin" restore 127.0.0.3 "$work/plant-3-new.cfg" --http-port "$port" --tftp-port "$tftp_port" \
  >/dev/null
"${fleet[@]}" --git --diff --max-age 24 2>&1 | sed "s#$work/##g" || true

mkdir -p docs
chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --user-data-dir="$work/profile" \
  --window-size=1000,760 --screenshot="$PWD/docs/fleet-page.png" "file://$work/store/index.html" \
  >/dev/null 2>&1
echo "docs/fleet-page.png: $(stat -c %s docs/fleet-page.png) bytes"
