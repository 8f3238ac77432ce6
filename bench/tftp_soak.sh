#!/usr/bin/env bash
# Soak run of the TFTP server against the real clients through the lossy relay (not CI; the full
# table takes hours). Builds the soak program in build-bench/ and passes every argument on, e.g.
#   bash bench/tftp_soak.sh --count 20
#   bash bench/tftp_soak.sh --count 2 --conditions loss10,dup5 --sizes 0,511,512,70000
#
# With --jobs N first, every transfer of the table runs in a soak program of its own, N at a time,
# each with its own server port and seed, and the rows are summed into one table at the end. A
# lossy transfer spends nearly all its time waiting on timers, so N may be far above the number of
# cores; the full table (--count 20) then takes as long as its slowest transfers, not their sum.
#   bash bench/tftp_soak.sh --jobs 200 --count 20 [--conditions ...] [--sizes ...] ...
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVANE_BENCH=ON >/dev/null
cmake --build build-bench --target tftp_soak >/dev/null
soak=build-bench/bench/tftp_soak
[ "${1:-}" = "--jobs" ] || exec "$soak" "$@"

jobs=$2
shift 2
count=20 seed=1
conditions=loss10,loss30,dup5 sizes=0,511,512,70000,1000000 clients=tftp,atftp,curl ways=get,put
passed=()
while (($#)); do
  case "$1" in
    --count) count=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --conditions) conditions=$2; shift 2 ;;
    --sizes) sizes=$2; shift 2 ;;
    --clients) clients=$2; shift 2 ;;
    --ways) ways=$2; shift 2 ;;
    *) passed+=("$1"); shift ;;
  esac
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# One line per transfer: its port (below the system's ephemeral range, one each), seed and cell.
for condition in ${conditions//,/ }; do
  for client in ${clients//,/ }; do
    for way in ${ways//,/ }; do
      for size in ${sizes//,/ }; do
        for ((i = 0; i < count; i++)); do echo "$condition $client $way $size"; done
      done
    done
  done
done | awk '{ print 20000 + (NR - 1) % 12000, '"$seed"' + NR - 1, $0 }' |
  sort -k6,6nr >"$work/transfers"  # the longest first
echo "$(wc -l <"$work/transfers") transfers, $jobs at a time" >&2

run_one() {  # port seed condition client way size
  "$soak" --count 1 --port "$1" --seed "$2" --conditions "$3" --clients "$4" --ways "$5" \
    --sizes "$6" "${@:7}" | grep -v -e '^| condition' -e '^|---' >"$work/row.$1.$2"
}
export -f run_one
export soak work
xargs -P "$jobs" -L 1 bash -c 'run_one "$@" '"${passed[*]:-}" _ <"$work/transfers"

# Sum the rows of each cell, in the order the cells were run.
echo "| condition | client | way | size | ok | lastack | gaveup | clean | FALSE | CORRUPT | mean s | max s |"
echo "|---|---|---|---|---|---|---|---|---|---|---|---|"
cat "$work"/row.* | awk -F' *\\| *' '
  {
    key = $2 " | " $3 " | " $4 " | " $5
    if (!(key in runs)) order[++cells] = key
    runs[key]++
    for (c = 6; c <= 11; c++) sum[key, c] += $c
    total[key] += $12
    if ($13 > longest[key]) longest[key] = $13
  }
  END {
    for (i = 1; i <= cells; i++) {
      k = order[i]
      printf "| %s |", k
      for (c = 6; c <= 11; c++) printf " %d |", sum[k, c]
      printf " %.1f | %.1f |\n", total[k] / runs[k], longest[k]
    }
  }' | sort -t'|' -k2,2 -k3,3 -k4,4 -k5,5n
