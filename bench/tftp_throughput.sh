#!/usr/bin/env bash
# TFTP throughput: one 64 MiB random file fetched by the same real client
# (atftp) from our server (preloaded, as every owner serves images, and read
# at the request, as fwload tftpd does) and from tftpd-hpa, all on
# 127.0.0.1, at block sizes 512, 1468 and 8192, and windowed from ours; then
# the peak memory of our server while four clients fetch one preloaded file.
# The ratio is ours (preloaded) / tftpd-hpa.
#   bench/tftp_throughput.sh [RUNS]      (best of RUNS, default 3)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/deps.sh"
# The comparison server is installed for the bench only; its service is
# never used: the bench starts it by hand on a loopback port.
if [ -n "$(fwl_missing_packages tftpd-hpa)" ]; then
  sudo=""; [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  RUNLEVEL=1 DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends tftpd-hpa
  $sudo service tftpd-hpa stop >/dev/null 2>&1 || true
fi
fwl_install_packages atftp

runs="${1:-3}"
build="$root/build/tftp-release"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DFWL_BUILD_TESTS=OFF \
  -DFWL_BUILD_GUI=OFF > "$build.configure.log" 2>&1 || { cat "$build.configure.log"; exit 1; }
ninja -C "$build" bench_tftp_throughput > /dev/null

work=$(mktemp -d /tmp/tftpbenchXXXXXX)
chmod 755 "$work"
server_pid=""; hpa_pid=""; disk_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  [ -n "$hpa_pid" ] && kill "$hpa_pid" 2>/dev/null || true
  [ -n "$disk_pid" ] && kill "$disk_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
head -c $((64 * 1024 * 1024)) /dev/urandom > "$work/big.bin"
chmod 644 "$work/big.bin"
mb=64

calc() { awk "BEGIN { print $* }"; }

free_port() { python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

# Seconds for one atftp fetch: fetch PORT BLKSIZE [WINDOW]
fetch() {
  local port=$1 blk=$2 win=${3:-} opts=(--option "blksize $blk")
  [ -n "$win" ] && opts+=(--option "windowsize $win")
  local start end
  rm -f "$work/out.bin"
  start=$(date +%s.%N)
  atftp -g -r big.bin -l "$work/out.bin" "${opts[@]}" 127.0.0.1 "$port" > /dev/null 2>&1
  end=$(date +%s.%N)
  cmp -s "$work/big.bin" "$work/out.bin" || { echo "corrupt transfer from port $port" >&2; exit 1; }
  calc "$end - $start"
}

best_rate() {  # best MB/s of $runs fetches: best_rate PORT BLKSIZE [WINDOW]
  local best=0 t rate
  for _ in $(seq "$runs"); do
    t=$(fetch "$@")
    rate=$(calc "$mb / $t")
    best=$(calc "($rate > $best) ? $rate : $best")
  done
  echo "$best"
}

# Every owner preloads the image it serves; fwload tftpd reads each
# requested file at the request. Both are measured.
ours_port=$(free_port)
"$build/bench/bench_tftp_throughput" --root "$work" --port "$ours_port" --transfers 1000000 \
  --preload "$work/big.bin" > "$work/ours.log" 2>&1 &
server_pid=$!
disk_port=$(free_port)
"$build/bench/bench_tftp_throughput" --root "$work" --port "$disk_port" --transfers 1000000 \
  > "$work/disk.log" 2>&1 &
disk_pid=$!
hpa_port=$(free_port)
/usr/sbin/in.tftpd -L -a "127.0.0.1:$hpa_port" -s "$work" &
hpa_pid=$!
sleep 1

printf "%-22s %12s %12s %14s %8s\n" "case" "ours MB/s" "ours, disk" "tftpd-hpa MB/s" "ratio"
declare -A ours_rate
for blk in 512 1468 8192; do
  o=$(best_rate "$ours_port" "$blk")
  d=$(best_rate "$disk_port" "$blk")
  h=$(best_rate "$hpa_port" "$blk")
  ours_rate[$blk]=$o
  printf "%-22s %12.1f %12.1f %14.1f %8.2f\n" "blksize $blk" "$o" "$d" "$h" "$(calc "$o / $h")"
done
kill "$disk_pid"; wait "$disk_pid" 2>/dev/null || true; disk_pid=""
# The server grants at most 64 blocks and 64 KiB in flight (8192: window 8).
for case in "512 16" "512 64" "1468 16" "8192 16"; do
  set -- $case
  w=$(best_rate "$ours_port" "$1" "$2")
  printf "%-22s %12.1f %12s %14s %8.2f  (x own lock-step)\n" "blksize $1 window $2" "$w" "-" "-" \
    "$(calc "$w / ${ours_rate[$1]}")"
done
kill "$server_pid"; wait "$server_pid" 2>/dev/null || true; server_pid=""

# Peak memory: four clients at once on one preloaded file.
mem_port=$(free_port)
"$build/bench/bench_tftp_throughput" --root "$work" --port "$mem_port" \
  --preload "$work/big.bin" --transfers 4 > "$work/mem.log" 2>&1 &
server_pid=$!
sleep 1
client_pids=()
for i in 1 2 3 4; do
  atftp -g -r big.bin -l "$work/out$i.bin" --option "blksize 1468" 127.0.0.1 "$mem_port" \
    > /dev/null 2>&1 &
  client_pids+=($!)
done
wait "$server_pid"; server_pid=""
wait "${client_pids[@]}"
for i in 1 2 3 4; do cmp -s "$work/big.bin" "$work/out$i.bin" || echo "client $i: corrupt"; done
before=$(awk '/rss_before_preload_kib/ {print $2}' "$work/mem.log")
peak=$(awk '/peak_rss_kib/ {print $2}' "$work/mem.log")
printf "four clients, preloaded 64 MiB: peak RSS %.1f MiB, %.1f MiB above the server's own %.1f MiB\n" \
  "$(calc "$peak / 1024")" "$(calc "($peak - $before) / 1024")" "$(calc "$before / 1024")"
