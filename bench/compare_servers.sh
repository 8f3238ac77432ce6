#!/usr/bin/env bash
# One TFTP transfer, side by side: our engine (bench/tftp_one_request), tftpd-hpa and atftpd,
# each serving a file (get) and taking one (put), with the clients tftp-hpa, atftp and
# `curl --tftp-no-options`, all over loopback. Server and client run pinned to the same CPU;
# each cell is the median of the repetitions, which are interleaved (every cell once, then
# again), so that a slow spell of the machine spreads over all cells. Beside them, in the same
# run, the lock-step UDP round trip (bench/udp_ping_pong: 516 bytes there, 4 back), which no
# lock-step transfer can beat: the table gives microseconds per block and that as a multiple of
# the round trip.
#
#   bash bench/compare_servers.sh [--reps N] [--size BYTES] [--cpu C]
#                                 [--servers morvane,tftpd-hpa,atftpd] [--clients tftp,atftp,curl]
#   bash bench/compare_servers.sh --reps 1 --size 1000000      # a quick run
#
# Runs as root: it installs the clients when they are missing, and unpacks the two servers into
# build-bench/peers/ (their packages conflict, and neither is installed as a system service: each
# runs here in the foreground, as a plain process, on a free port, and is stopped afterwards).
# The file is text with LF line ends, as a device sends it; our engine stores it with CR LF.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

reps=5
size=33553407
cpu=1
servers=morvane,tftpd-hpa,atftpd
clients=tftp,atftp,curl
while (($#)); do
  case "$1" in
    --reps) reps=$2; shift 2 ;;
    --size) size=$2; shift 2 ;;
    --cpu) cpu=$2; shift 2 ;;
    --servers) servers=$2; shift 2 ;;
    --clients) clients=$2; shift 2 ;;
    *) echo "usage: $0 [--reps N] [--size BYTES] [--cpu C] [--servers LIST] [--clients LIST]" >&2
       exit 1 ;;
  esac
done
if ((size >= 33553920)); then echo "a TFTP transfer carries at most 33553919 bytes" >&2; exit 1; fi
IFS=, read -r -a server_list <<<"$servers"
IFS=, read -r -a client_list <<<"$clients"

# --- what the run needs -----------------------------------------------------------------------
need=()
for p in tftp-hpa atftp curl libwrap0 iproute2 python3 util-linux; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
if ((${#need[@]})); then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >/dev/null
fi
peers=$root/build-bench/peers
for package in tftpd-hpa atftpd; do
  if [ ! -d "$peers/$package" ]; then
    mkdir -p "$peers/download"
    (cd "$peers/download" && apt-get download -qq "$package" 2>/dev/null)
    dpkg -x "$peers/download/${package}"_*.deb "$peers/$package"
  fi
done
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVANE_BENCH=ON >/dev/null
cmake --build build-bench --target tftp_one_request udp_ping_pong >/dev/null
bin=$root/build-bench/bench

work=$(mktemp -d /tmp/morvane-compare.XXXXXX)
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# The file: configuration-like lines, LF-terminated, cut to the size.
python3 - "$work/source" "$size" <<'EOF'
import sys
path, size = sys.argv[1], int(sys.argv[2])
out = bytearray()
i = 0
while len(out) < size:
    out += b"set port %d speed 115200 parity none flow none # line %07d\n" % (i % 32 + 1, i)
    i += 1
open(path, "wb").write(bytes(out[:size]))
EOF
blocks=$((size / 512 + 1))

# Servers are started as `taskset -c "$cpu" PROGRAM &` directly (not through pin, which would
# put a subshell between): taskset becomes the program, so $! is the server's own id.
pin() { taskset -c "$cpu" "$@"; }
now_ns() { date +%s%N; }
free_port() {
  python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
# Waits (at most 5 s) until something holds UDP port $1 on loopback.
wait_for_port() {
  for _ in $(seq 100); do
    ss -Hnlu "sport = :$1" | grep -q . && return 0
    sleep 0.05
  done
  echo "nothing listens on UDP port $1" >&2
  return 1
}
stop_server() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
    server_pid=""
  fi
}

# start_server SERVER WAY: the server, ready for one transfer of way get (it serves
# $work/source as "image") or put (it stores "upload-image"); sets $port and $stored.
start_server() {
  local dir=$work/root
  rm -rf "$dir"
  mkdir -p "$dir"
  chmod 0777 "$dir"
  cp "$work/source" "$dir/image"
  stored=$dir/upload-image
  case "$1" in
    morvane)
      if [ "$2" = get ]; then
        taskset -c "$cpu" "$bin/tftp_one_request" --serve "$dir/image" >"$work/server.out" 2>&1 &
      else
        taskset -c "$cpu" "$bin/tftp_one_request" --take "$stored" >"$work/server.out" 2>&1 &
      fi
      server_pid=$!
      for _ in $(seq 100); do
        port=$(sed -n 's/^listening on 127.0.0.1://p' "$work/server.out")
        [ -n "$port" ] && return 0
        sleep 0.05
      done
      echo "our engine did not start: $(cat "$work/server.out")" >&2
      return 1 ;;
    tftpd-hpa)
      port=$(free_port)
      taskset -c "$cpu" "$peers/tftpd-hpa/usr/sbin/in.tftpd" -L -a "127.0.0.1:$port" -u root -c -p -s "$dir" \
        >"$work/server.out" 2>&1 &
      server_pid=$!
      wait_for_port "$port" ;;
    atftpd)
      port=$(free_port)
      taskset -c "$cpu" "$peers/atftpd/usr/sbin/atftpd" --daemon --no-fork --port "$port" \
        --bind-address 127.0.0.1 --user root.root --logfile /dev/null "$dir" \
        >"$work/server.out" 2>&1 &
      server_pid=$!
      wait_for_port "$port" ;;
  esac
}

# run_client CLIENT WAY: one transfer with the server on $port; the file received is
# $work/received.
run_client() {
  local received=$work/received source=$work/source url=tftp://127.0.0.1:$port
  rm -f "$received"
  case "$1-$2" in
    tftp-get) pin tftp 127.0.0.1 "$port" -m binary -c get image "$received" ;;
    tftp-put) pin tftp 127.0.0.1 "$port" -m binary -c put "$source" upload-image ;;
    atftp-get) pin atftp -g -r image -l "$received" 127.0.0.1 "$port" ;;
    atftp-put) pin atftp -p -l "$source" -r upload-image 127.0.0.1 "$port" ;;
    curl-get) pin curl -sS --tftp-no-options -o "$received" "$url/image" ;;
    curl-put) pin curl -sS --tftp-no-options -T "$source" "$url/upload-image" ;;
  esac
}

# True when the transfer carried the file whole: what a get received is the source; what a
# put stored is the source (our engine stores the device's text with CR LF line ends).
transfer_intact() {
  local server=$1 way=$2
  if [ "$way" = get ]; then
    cmp -s "$work/received" "$work/source"
  elif [ "$server" = morvane ]; then
    wait "$server_pid" 2>/dev/null || return 1  # it exits once the text is stored
    server_pid=""
    tr -d '\r' <"$stored" | cmp -s - "$work/source"
  else
    for _ in $(seq 40); do  # the forked transfer may still be closing the file
      cmp -s "$stored" "$work/source" && return 0
      sleep 0.05
    done
    return 1
  fi
}

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

declare -A samples
rtt_samples=""
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for ((rep = 1; rep <= reps; rep++)); do
  taskset -c "$cpu" "$bin/udp_ping_pong" --answer >"$work/pong.out" &
  pong_pid=$!
  for _ in $(seq 100); do
    pong_port=$(sed -n 's/^answering on 127.0.0.1://p' "$work/pong.out")
    [ -n "$pong_port" ] && break
    sleep 0.05
  done
  rtt_samples+="$(pin "$bin/udp_ping_pong" --ask "$pong_port" "$blocks") "
  wait "$pong_pid"
  for server in "${server_list[@]}"; do
    for client in "${client_list[@]}"; do
      for way in get put; do
        start_server "$server" "$way"
        started=$(now_ns)
        run_client "$client" "$way" >"$work/client.out" 2>&1 || true
        ended=$(now_ns)
        if ! transfer_intact "$server" "$way"; then
          echo "FAILED: $client $way with $server (repetition $rep)" >&2
          cat "$work/client.out" "$work/server.out" >&2
          stop_server
          exit 2
        fi
        stop_server
        us=$(awk -v ns=$((ended - started)) -v b="$blocks" 'BEGIN { printf "%.3f", ns / 1000 / b }')
        samples[$server-$client-$way]+="$us "
        echo "repetition $rep: $server, $client $way: $us us/block" >&2
      done
    done
  done
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

rtt=$(tr ' ' '\n' <<<"$rtt_samples" | grep . | median)
echo
echo "$size bytes ($blocks blocks), median of $reps, CPU $cpu, lock-step UDP round trip $rtt us;" \
  "load average $load_before before, $load_after after"
echo
header="| client | way |"
rule="|---|---|"
for server in "${server_list[@]}"; do header+=" $server |"; rule+="---|"; done
if [[ " ${server_list[*]} " == *" morvane "* ]] && ((${#server_list[@]} > 1)); then
  header+=" ours vs. faster peer |"; rule+="---|"
fi
echo "$header"
echo "$rule"
for client in "${client_list[@]}"; do
  for way in get put; do
    row="| $client | $way |"
    best_peer=""
    ours=""
    for server in "${server_list[@]}"; do
      m=$(tr ' ' '\n' <<<"${samples[$server-$client-$way]}" | grep . | median)
      row+=" $(awk -v m="$m" -v r="$rtt" 'BEGIN { printf "%.2f us (%.2f×)", m, m / r }') |"
      if [ "$server" = morvane ]; then
        ours=$m
      elif [ -z "$best_peer" ] || awk -v a="$m" -v b="$best_peer" 'BEGIN { exit !(a < b) }'; then
        best_peer=$m
      fi
    done
    if [ -n "$ours" ] && [ -n "$best_peer" ]; then
      row+=" $(awk -v o="$ours" -v p="$best_peer" 'BEGIN { printf "%.2f", p / o }') |"
    fi
    echo "$row"
  done
done
