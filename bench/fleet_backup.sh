#!/usr/bin/env bash
# Wall time of `morvane-cli fleet-backup` against a simulated fleet on loopback, at several -j,
# and the command's peak memory (max RSS). The fleet is one tavio-sim process: each device on
# its own address (127.0.0.2, 127.0.0.3, ...) with its own configuration, a per-packet delay (the
# network's round trip) and a command delay (the time a device takes before its TFTP client
# starts). Every run backs the whole fleet up into a fresh, empty store, so every device is
# stored; a run that does not store them all stops the script.
#
#   bash bench/fleet_backup.sh [--devices 200] [--config-bytes 30000] [--packet-delay 2]
#                              [--command-delay 200] [--jobs 1,8,32] [--reps 1]
#   bash bench/fleet_backup.sh --devices 20 --jobs 1,8       # a quick run
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

devices=200
config_bytes=30000
packet_delay=2
command_delay=200
jobs=1,8,32
reps=1
while (($#)); do
  case "$1" in
    --devices) devices=$2; shift 2 ;;
    --config-bytes) config_bytes=$2; shift 2 ;;
    --packet-delay) packet_delay=$2; shift 2 ;;
    --command-delay) command_delay=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    --reps) reps=$2; shift 2 ;;
    *) echo "usage: $0 [--devices N] [--config-bytes N] [--packet-delay MS]" \
            "[--command-delay MS] [--jobs LIST] [--reps N]" >&2
       exit 1 ;;
  esac
done
if ((devices < 1 || devices > 250)); then echo "--devices: 1 to 250" >&2; exit 1; fi
IFS=, read -r -a job_list <<<"$jobs"

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVANE_BENCH=ON >/dev/null
cmake --build build-bench --target morvane-cli tavio-sim >/dev/null
cli=$root/build-bench/cli/morvane-cli
sim=$root/build-bench/sim/tavio-sim

work=$(mktemp -d /tmp/morvane-fleet-bench.XXXXXX)
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

tftp_port=$(python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$sim" --fleet "$devices" --listen 127.0.0.2:0 --state "$work/state" \
  --config-bytes "$config_bytes" --packet-delay "$packet_delay" \
  --command-delay "$command_delay" --tftp-port "$tftp_port" >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 300); do  # at most 30 s for the fleet to be ready
  (($(grep -c "listening on" "$work/sim.out" || true) >= devices)) && break
  kill -0 "$sim_pid" 2>/dev/null || break
  sleep 0.1
done
if (($(grep -c "listening on" "$work/sim.out" || true) < devices)); then
  echo "the simulated fleet did not start:" >&2
  cat "$work/sim.out" >&2
  exit 2
fi
http_port=$(sed -n '1s/.*listening on 127\.0\.0\.2:\([0-9]*\).*/\1/p' "$work/sim.out")

echo "host,name" >"$work/fleet.csv"
for ((n = 2; n < devices + 2; n++)); do echo "127.0.0.$n,device-$n" >>"$work/fleet.csv"; done

# run_fleet JOBS: one fleet-backup into an empty store; prints "SECONDS MAX_RSS_KB".
run_fleet() {
  rm -rf "$work/store"
  python3 - "$work/report.txt" "$cli" fleet-backup "$work/fleet.csv" "$work/store" \
    --http-port "$http_port" --tftp-port "$tftp_port" -j "$1" <<'EOF'
import resource, subprocess, sys, time
report, command = sys.argv[1], sys.argv[2:]
started = time.monotonic()
with open(report, "wb") as out:
    code = subprocess.run(command, stdout=out, stderr=subprocess.STDOUT, timeout=1800).returncode
elapsed = time.monotonic() - started
if code != 0:
    sys.exit("fleet-backup exited with %d" % code)
print("%.2f %d" % (elapsed, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss))
EOF
  if ! grep -q "^Fleet backup: $devices devices, $devices stored," "$work/report.txt"; then
    echo "not every device was stored:" >&2
    tail -5 "$work/report.txt" >&2
    return 1
  fi
}

declare -A seconds rss
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for ((rep = 1; rep <= reps; rep++)); do
  for j in "${job_list[@]}"; do
    read -r s kb < <(run_fleet "$j")
    [ -n "${s:-}" ] || exit 2
    echo "repetition $rep: -j $j: $s s, max RSS $kb KB" >&2
    seconds[$j]+="$s "
    rss[$j]+="$kb "
  done
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
echo
echo "$devices devices, $config_bytes-byte configurations, $packet_delay ms per packet," \
  "$command_delay ms command delay; median of $reps; load average $load_before before," \
  "$load_after after"
echo
echo "| -j | wall time | per device | speed-up over -j ${job_list[0]} | max RSS |"
echo "|---|---|---|---|---|"
first=""
for j in "${job_list[@]}"; do
  s=$(tr ' ' '\n' <<<"${seconds[$j]}" | grep . | median)
  kb=$(tr ' ' '\n' <<<"${rss[$j]}" | grep . | sort -g | tail -1)
  [ -n "$first" ] || first=$s
  awk -v j="$j" -v s="$s" -v n="$devices" -v f="$first" -v kb="$kb" \
    'BEGIN { printf "| %s | %.1f s | %.0f ms | %.1f× | %.1f MB |\n", j, s, s * 1000 / n, f / s, kb / 1024 }'
done
