#!/usr/bin/env bash
# TFTP throughput, measured as users run the server, against tftpd-hpa in the
# same run with the same client and the same 64 MiB file on 127.0.0.1:
#  - "fwload tftpd": started exactly as a user starts it (its status lines
#    on, every file read from disk at the request, nothing preloaded);
#  - "loader": the engine's own way (image preloaded, percent-only status
#    callback), as every load serves its images;
# at block sizes 512, 1468 and 8192 with curl (lock-step), then windowsize 16
# with atftp (the client that offers it) against our own lock-step with that
# same client. Last, the peak memory of the loader's server while four
# clients fetch one preloaded file.
#   bench/tftp_throughput.sh [RUNS]      (best of RUNS, default 3)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/deps.sh"
source "$root/bench/tftp_bench_setup.sh"
fwl_install_packages atftp curl

runs="${1:-3}"
fwl_tftp_bench_setup bench_tftp_throughput fwload

work=$(mktemp -d /tmp/tftpbenchXXXXXX)
chmod 755 "$work"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
head -c $((64 * 1024 * 1024)) /dev/urandom > "$work/big.bin"
chmod 644 "$work/big.bin"
mb=64

calc() { awk "BEGIN { print $* }"; }
free_port() { python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

# Seconds for one fetch: fetch CLIENT PORT BLKSIZE [WINDOW]
fetch() {
  local client=$1 port=$2 blk=$3 win=${4:-} start end
  rm -f "$work/out.bin"
  start=$(date +%s.%N)
  if [ "$client" = curl ]; then
    curl -s --tftp-blksize "$blk" -o "$work/out.bin" "tftp://127.0.0.1:$port/big.bin"
  else
    local opts=(--option "blksize $blk")
    [ -n "$win" ] && opts+=(--option "windowsize $win")
    atftp -g -r big.bin -l "$work/out.bin" "${opts[@]}" 127.0.0.1 "$port" > /dev/null 2>&1
  fi
  end=$(date +%s.%N)
  cmp -s "$work/big.bin" "$work/out.bin" || { echo "corrupt transfer from port $port" >&2; exit 1; }
  calc "$end - $start"
}

best_rate() {  # best MB/s of $runs fetches: best_rate CLIENT PORT BLKSIZE [WINDOW]
  local best=0 t rate
  for _ in $(seq "$runs"); do
    t=$(fetch "$@")
    rate=$(calc "$mb / $t")
    best=$(calc "($rate > $best) ? $rate : $best")
  done
  echo "$best"
}

tftpd_port=$(free_port)
"$build/fwload" tftpd --root "$work" --port "$tftpd_port" --bind 127.0.0.1 > "$work/tftpd.log" 2>&1 &
pids+=($!)
loader_port=$(free_port)
"$build/bench/bench_tftp_throughput" --root "$work" --port "$loader_port" --transfers 1000000 \
  --preload "$work/big.bin" > "$work/loader.log" 2>&1 &
pids+=($!)
hpa_port=$(free_port)
/usr/sbin/in.tftpd -L -a "127.0.0.1:$hpa_port" -s "$work" &
pids+=($!)
sleep 1

echo "64 MiB over loopback, best of $runs, MB/s (ratio to tftpd-hpa)"
printf "%-26s %12s %16s %16s\n" "case" "tftpd-hpa" "fwload tftpd" "loader"
for blk in 512 1468 8192; do
  h=$(best_rate curl "$hpa_port" "$blk")
  d=$(best_rate curl "$tftpd_port" "$blk")
  l=$(best_rate curl "$loader_port" "$blk")
  printf "%-26s %12.1f %9.1f (%.2f) %9.1f (%.2f)\n" "curl, blksize $blk" "$h" "$d" \
    "$(calc "$d / $h")" "$l" "$(calc "$l / $h")"
done
echo
echo "windowsize 16 (atftp), MB/s (ratio to our own lock-step with atftp)"
printf "%-26s %12s %16s %16s\n" "case" "tftpd-hpa" "fwload tftpd" "loader"
for blk in 512 1468 8192; do
  h=$(best_rate atftp "$hpa_port" "$blk")
  dl=$(best_rate atftp "$tftpd_port" "$blk")
  ll=$(best_rate atftp "$loader_port" "$blk")
  dw=$(best_rate atftp "$tftpd_port" "$blk" 16)
  lw=$(best_rate atftp "$loader_port" "$blk" 16)
  printf "%-26s %12.1f %16.1f %16.1f\n" "atftp, blksize $blk" "$h" "$dl" "$ll"
  printf "%-26s %12s %9.1f (%.2f) %9.1f (%.2f)\n" "atftp, blksize $blk window 16" "-" "$dw" \
    "$(calc "$dw / $dl")" "$lw" "$(calc "$lw / $ll")"
done
if grep -q "client lost" "$work/loader.log"; then echo "the loader's server lost a client"; fi
for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
pids=()

# Peak memory: four clients at once on one preloaded file.
mem_port=$(free_port)
"$build/bench/bench_tftp_throughput" --root "$work" --port "$mem_port" \
  --preload "$work/big.bin" --transfers 4 > "$work/mem.log" 2>&1 &
server_pid=$!
pids+=($server_pid)
sleep 1
client_pids=()
for i in 1 2 3 4; do
  atftp -g -r big.bin -l "$work/out$i.bin" --option "blksize 1468" 127.0.0.1 "$mem_port" \
    > /dev/null 2>&1 &
  client_pids+=($!)
done
wait "$server_pid" || true
wait "${client_pids[@]}"
for i in 1 2 3 4; do cmp -s "$work/big.bin" "$work/out$i.bin" || echo "client $i: corrupt"; done
before=$(awk '/rss_before_preload_kib/ {print $2}' "$work/mem.log")
peak=$(awk '/peak_rss_kib/ {print $2}' "$work/mem.log")
printf "four clients, preloaded 64 MiB: peak RSS %.1f MiB, %.1f MiB above the server's own %.1f MiB\n" \
  "$(calc "$peak / 1024")" "$(calc "($peak - $before) / 1024")" "$(calc "$before / 1024")"
