#!/usr/bin/env bash
# Soak run of the TFTP server against the real clients through the lossy relay (not CI; the full
# table takes hours). Builds the soak program in build-bench/ and passes every argument on, e.g.
#   bash bench/tftp_soak.sh --count 20
#   bash bench/tftp_soak.sh --count 2 --conditions loss10,dup5 --sizes 0,511,512,70000
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVANE_BENCH=ON >/dev/null
cmake --build build-bench --target tftp_soak >/dev/null
exec build-bench/bench/tftp_soak "$@"
