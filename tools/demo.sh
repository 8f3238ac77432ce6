#!/usr/bin/env bash
# The whole utility in one go, with nothing but loopback and unprivileged ports: installs what the
# native build needs, builds morvane-cli and the device simulator, starts the simulator, backs its
# configuration up, changes the backup, restores it, and shows what happened; then backs a small
# simulated fleet up in one run, into a store with a git history.
#   tools/demo.sh              build the programs here and use them
#   tools/demo.sh --installed  use the installed programs (the package's), building nothing
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = --installed ]; then
  cli_bin=$(command -v morvane-cli) || { echo "morvane-cli is not installed" >&2; exit 1; }
  sim_bin=$(command -v tavio-sim) || { echo "tavio-sim is not installed (it is the package tavio-sim)" >&2; exit 1; }
else
  tools/install-deps.sh --native
  cmake -S . -B build-demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVANE_TESTS=OFF >/dev/null
  cmake --build build-demo -j "$(nproc)" --target morvane-cli tavio-sim >/dev/null
  cli_bin=build-demo/cli/morvane-cli
  sim_bin=build-demo/sim/tavio-sim
fi
echo "== Using $cli_bin ($("$cli_bin" --version)) and $sim_bin"

demo=$(mktemp -d /tmp/morvane-demo.XXXXXX)
free_udp_port() { python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
tftp_port=$(free_udp_port)
printf 'hostname demo-device\nip address 192.0.2.10\nserial 1 speed 9600\n' > "$demo/factory.txt"
cp "$demo/factory.txt" "$demo/device-state.txt"

"$sim_bin" --listen 127.0.0.1:0 --state "$demo/device-state.txt" \
  --factory "$demo/factory.txt" --tftp-port "$tftp_port" --log "$demo/device.log" \
  > "$demo/sim.out" 2>&1 &
sim=$!
sims=($sim)
trap 'kill "${sims[@]}" 2>/dev/null || true; wait "${sims[@]}" 2>/dev/null || true' EXIT
for _ in $(seq 50); do grep -q listening "$demo/sim.out" 2>/dev/null && break; sleep 0.1; done
http_port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$demo/sim.out")
cli=("$cli_bin" --http-port "$http_port" --tftp-port "$tftp_port")
echo "== The simulated device listens on 127.0.0.1:$http_port (our TFTP server will use UDP $tftp_port)"

started=$(date +%s%N)
"${cli[@]}" probe 127.0.0.1
echo "== Backup"
"${cli[@]}" backup 127.0.0.1 "$demo/backup.cfg"
echo "-- $demo/backup.cfg (line ends shown as ^M\$):"
cat -A "$demo/backup.cfg"

echo "== Restore of an edited backup, with a factory reset first"
sed -i 's/demo-device/restored-device/' "$demo/backup.cfg"
"${cli[@]}" restore 127.0.0.1 "$demo/backup.cfg" --factory-reset --json
finished=$(date +%s%N)
echo "-- the device's configuration now:"
cat "$demo/device-state.txt"
echo "-- what the device was asked:"
cat "$demo/device.log"
echo "== Round trip took $(( (finished - started) / 1000000 )) ms; files are in $demo"

echo "== Fleet backup: four simulated devices on 127.0.0.2 to 127.0.0.5, one web port"
fleet_port=""
for n in 2 3 4 5; do
  printf 'hostname fleet-%s\nip address 192.0.2.%s\n' "$n" "$n" > "$demo/fleet-$n.txt"
  "$sim_bin" --listen "127.0.0.$n:${fleet_port:-0}" --state "$demo/fleet-$n.txt" \
    --tftp-port "$tftp_port" > "$demo/fleet-$n.out" 2>&1 &
  sims+=($!)
  if [ -z "$fleet_port" ]; then
    for _ in $(seq 50); do grep -q listening "$demo/fleet-$n.out" 2>/dev/null && break; sleep 0.1; done
    fleet_port=$(sed -n 's/.*listening on 127\.0\.0\.[0-9]*:\([0-9]*\).*/\1/p' "$demo/fleet-$n.out")
  fi
done
for n in 3 4 5; do
  for _ in $(seq 50); do grep -q listening "$demo/fleet-$n.out" 2>/dev/null && break; sleep 0.1; done
done
printf 'host,name\n127.0.0.2,line-1\n127.0.0.3,line-2\n127.0.0.4,line-3\n127.0.0.5,line-4\n' \
  > "$demo/fleet.csv"
echo "-- $demo/fleet.csv:"
cat "$demo/fleet.csv"
fleet=("$cli_bin" fleet-backup "$demo/fleet.csv" "$demo/store"
       --http-port "$fleet_port" --tftp-port "$tftp_port" -j 4)
"${fleet[@]}" --git
echo "-- again; nothing changed:"
"${fleet[@]}"
echo "-- the store's history:"
git -C "$demo/store" log --format='%h %s' --stat
