#!/usr/bin/env bash
# `morvane-cli fleet-backup` against a simulated fleet on loopback: wall time, devices per second,
# the command's CPU time (user + system) per device and its peak memory (max RSS), for several
# runs of DEVICES devices at -j JOBS. The fleet is one tavio-sim process: each device on its own
# address (127.0.0.2, 127.0.0.3, ..., on past 127.0.0.255 into 127.0.1.0 and beyond) with its own
# configuration, a per-packet delay (the network's round trip) and a command delay (the time a
# device takes before its TFTP client starts). A run of fewer devices than the fleet holds backs
# up its first ones. Every run backs its devices up into a fresh, empty store, so every device
# is stored; a run that does not store them all stops the script.
#
# The speed-up of a run is the time its devices would take one after another, at the per-device
# time of the first -j 1 run, over the run's wall time. The goals below the table are checked
# against the runs that have them (1,000 devices at -j 128 and -j 256).
#
#   bash bench/fleet_backup.sh [--runs 50:1,1000:32,1000:128,1000:256] [--config-bytes 30000]
#                              [--packet-delay 2] [--command-delay 200] [--reps 1]
#   bash bench/fleet_backup.sh --quick        # a smoke run: --runs 10:1,40:8,40:32
#
# What it needs: the fleet process holds one listening socket and one thread per device, and a
# socket or two per transfer in flight; morvane-cli a few descriptors per device in flight. The
# script raises the soft open-files limit to the hard one and stops when that is below
# 2 × (largest fleet) + 8 × (largest -j) + 256 (about 4,300 for the default runs); it also wants
# as many threads (ulimit -u) as the largest fleet plus its largest -j, with room to spare.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

runs=50:1,1000:32,1000:128,1000:256
config_bytes=30000
packet_delay=2
command_delay=200
reps=1
usage() {
  echo "usage: $0 [--runs DEVICES:JOBS,...] [--quick] [--config-bytes N] [--packet-delay MS]" \
       "[--command-delay MS] [--reps N]" >&2
  exit 1
}
while (($#)); do
  case "$1" in
    --runs) runs=$2; shift 2 ;;
    --quick) runs=10:1,40:8,40:32; shift ;;
    --config-bytes) config_bytes=$2; shift 2 ;;
    --packet-delay) packet_delay=$2; shift 2 ;;
    --command-delay) command_delay=$2; shift 2 ;;
    --reps) reps=$2; shift 2 ;;
    *) usage ;;
  esac
done
IFS=, read -r -a run_list <<<"$runs"
devices=0   # the fleet: the largest run
max_jobs=0
for run in "${run_list[@]}"; do
  [[ "$run" =~ ^([0-9]+):([0-9]+)$ ]] || usage
  n=${BASH_REMATCH[1]} j=${BASH_REMATCH[2]}
  if ((n < 1 || n > 4096)); then echo "--runs: 1 to 4096 devices" >&2; exit 1; fi
  if ((j < 1 || j > 256)); then echo "--runs: -j 1 to 256" >&2; exit 1; fi
  ((n > devices)) && devices=$n
  ((j > max_jobs)) && max_jobs=$j
done

# --- process limits ----------------------------------------------------------------------------
files_needed=$((2 * devices + 8 * max_jobs + 256))
ulimit -n "$(ulimit -Hn)" 2>/dev/null || true
if [ "$(ulimit -n)" != unlimited ] && (($(ulimit -n) < files_needed)); then
  echo "open files: the limit is $(ulimit -n), this run wants $files_needed (ulimit -n)" >&2
  exit 1
fi
threads_needed=$((devices + max_jobs + 64))
if [ "$(ulimit -u)" != unlimited ] && (($(ulimit -u) < threads_needed)); then
  echo "processes and threads: the limit is $(ulimit -u), this run wants $threads_needed" \
       "(ulimit -u)" >&2
  exit 1
fi

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
ready_tenths=$((300 + devices / 4))  # 30 s, and 2.5 s more per 100 devices
for _ in $(seq "$ready_tenths"); do
  (($(grep -c "listening on" "$work/sim.out" || true) >= devices)) && break
  kill -0 "$sim_pid" 2>/dev/null || break
  sleep 0.1
done
if (($(grep -c "listening on" "$work/sim.out" || true) < devices)); then
  echo "the simulated fleet did not start:" >&2
  tail -20 "$work/sim.out" >&2
  exit 2
fi
http_port=$(sed -n '1s/.*listening on 127\.0\.0\.2:\([0-9]*\).*/\1/p' "$work/sim.out")

# inventory N: the fleet's first N devices, at the addresses the simulator gave them.
inventory() {
  awk -v n="$1" 'BEGIN {
    print "host,name"
    for (i = 0; i < n; i++) {
      a = 2 + i  # 127.0.0.2 onwards, carrying into the third and second bytes
      printf "127.%d.%d.%d,device-%d\n", int(a / 65536) % 256, int(a / 256) % 256, a % 256, i + 1
    }
  }' >"$work/fleet-$1.csv"
}

# run_fleet DEVICES JOBS: one fleet-backup into an empty store; prints
# "SECONDS CPU_SECONDS MAX_RSS_KB" (CPU: user + system of morvane-cli).
run_fleet() {
  rm -rf "$work/store"
  [ -f "$work/fleet-$1.csv" ] || inventory "$1"
  python3 - "$work/report.txt" "$cli" fleet-backup "$work/fleet-$1.csv" "$work/store" \
    --http-port "$http_port" --tftp-port "$tftp_port" -j "$2" <<'EOF'
import resource, subprocess, sys, time
report, command = sys.argv[1], sys.argv[2:]
started = time.monotonic()
with open(report, "wb") as out:
    code = subprocess.run(command, stdout=out, stderr=subprocess.STDOUT, timeout=3600).returncode
elapsed = time.monotonic() - started
if code != 0:
    sys.exit("fleet-backup exited with %d" % code)
usage = resource.getrusage(resource.RUSAGE_CHILDREN)
print("%.3f %.4f %d" % (elapsed, usage.ru_utime + usage.ru_stime, usage.ru_maxrss))
EOF
  if ! grep -q "^Fleet backup: $1 devices, $1 stored," "$work/report.txt"; then
    echo "not every device was stored:" >&2
    tail -5 "$work/report.txt" >&2
    return 1
  fi
}

declare -A seconds cpu rss
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for ((rep = 1; rep <= reps; rep++)); do
  for run in "${run_list[@]}"; do
    n=${run%%:*} j=${run##*:}
    read -r s c kb < <(run_fleet "$n" "$j")
    [ -n "${s:-}" ] || exit 2
    echo "repetition $rep: $n devices, -j $j: $s s, CPU $c s, max RSS $kb KB" >&2
    seconds[$run]+="$s "
    cpu[$run]+="$c "
    rss[$run]+="$kb "
  done
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
median_of() { tr ' ' '\n' <<<"$1" | grep . | median; }

# The per-device time one after another: the first -j 1 run's.
serial=""
for run in "${run_list[@]}"; do
  if [ "${run##*:}" = 1 ]; then
    serial=$(awk -v s="$(median_of "${seconds[$run]}")" -v n="${run%%:*}" 'BEGIN { print s / n }')
    break
  fi
done

echo
echo "$config_bytes-byte configurations, $packet_delay ms per packet, $command_delay ms command" \
  "delay; a fleet of $devices; median of $reps; load average $load_before before, $load_after after"
echo
echo "| devices | -j | wall time | devices/s | per device | CPU per device | speed-up over -j 1 | max RSS |"
echo "|---|---|---|---|---|---|---|---|"
declare -A wall_of cpu_ms_of speedup_of
for run in "${run_list[@]}"; do
  n=${run%%:*} j=${run##*:}
  s=$(median_of "${seconds[$run]}")
  c=$(median_of "${cpu[$run]}")
  kb=$(tr ' ' '\n' <<<"${rss[$run]}" | grep . | sort -g | tail -1)
  wall_of[$run]=$s
  cpu_ms_of[$run]=$(awk -v c="$c" -v n="$n" 'BEGIN { printf "%.2f", c * 1000 / n }')
  speedup_of[$run]=$(awk -v t="$serial" -v n="$n" -v s="$s" \
    'BEGIN { if (t == "") print "-"; else printf "%.1f", t * n / s }')
  awk -v n="$n" -v j="$j" -v s="$s" -v c="${cpu_ms_of[$run]}" -v u="${speedup_of[$run]}" -v kb="$kb" \
    'BEGIN { printf "| %d | %d | %.1f s | %.1f | %.1f ms | %.2f ms | %s%s | %.1f MB |\n",
             n, j, s, n / s, s * 1000 / n, c, u, (u == "-" ? "" : "×"), kb / 1024 }'
done

# The goals, for the runs that have them.
echo
verdict() { if awk "BEGIN { exit !($1) }"; then echo met; else echo "NOT met"; fi; }
if [ -n "${wall_of[1000:128]:-}" ] && [ -n "${wall_of[1000:256]:-}" ]; then
  echo "- 1,000 devices at -j 256 no slower than at -j 128 (${wall_of[1000:256]} s vs." \
    "${wall_of[1000:128]} s): $(verdict "${wall_of[1000:256]} <= ${wall_of[1000:128]}")"
fi
worst_cpu=$(printf '%s\n' "${cpu_ms_of[@]}" | sort -g | tail -1)
echo "- CPU per device at most 3 ms in every run (worst ${worst_cpu} ms): $(verdict "$worst_cpu <= 3")"
if [ -n "${speedup_of[1000:256]:-}" ] && [ "${speedup_of[1000:256]}" != - ]; then
  echo "- 1,000 devices at -j 256 at least 100× faster than one after another" \
    "(${speedup_of[1000:256]}×): $(verdict "${speedup_of[1000:256]} >= 100")"
fi
