#!/usr/bin/env bash
# TFTP on a lossy link, against tftpd-hpa in the same run: each server sits
# behind its own impairment relay (bench_tftp_relay, the relay of the tests)
# with the same settings and the same seed, and the same client fetches the
# same file through each. "fwload tftpd" runs as a user starts it.
# Links (delays are one-way, losses per datagram and direction):
#   clean   1 ms round trip
#   loss1   1 ms round trip, 1 % loss each way
#   mixed   1 ms round trip, 3 % loss each way, 1 % duplicated, up to 2 ms
#           extra delay per datagram (reordering)
#   rtt20   20 ms round trip
# Clients: curl and busybox (lock-step, blksize 1468), atftp (blksize 1468,
# windowsize 16). Prints seconds, tftpd-hpa's time over ours, our time over
# our own on the clean link, DATA packets sent per block of the file, and
# DATA sent per DATA needed: the relay counts as not needed every copy of a
# block the client already held (as a client that keeps only blocks in
# order), so what losses and reordering made necessary is needed.
#   bench/tftp_lossy.sh [MIB] [SEED]     (file size, default 2 MiB; seed 7)
# LINKS="clean loss1" and CLIENTS="curl" pick cases (default: all; the
# ours/clean column needs the clean link).
# Requests themselves pass unimpaired: their loss would time only the
# client's own timer. tftpd-hpa may take minutes per case on the lossy links.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/deps.sh"
source "$root/bench/tftp_bench_setup.sh"
fwl_install_packages atftp curl busybox

mib="${1:-2}"
seed="${2:-7}"
fwl_tftp_bench_setup bench_tftp_relay fwload

work=$(mktemp -d /tmp/tftplossyXXXXXX)
chmod 755 "$work"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
head -c $((mib * 1024 * 1024)) /dev/urandom > "$work/img.bin"
chmod 644 "$work/img.bin"
blocks=$((mib * 1024 * 1024 / 1468 + 1))

calc() { awk "BEGIN { print $* }"; }
free_port() { python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

ours_port=$(free_port)
"$build/fwload" tftpd --root "$work" --port "$ours_port" --bind 127.0.0.1 > "$work/tftpd.log" 2>&1 &
pids+=($!)
hpa_port=$(free_port)
/usr/sbin/in.tftpd -L -a "127.0.0.1:$hpa_port" -s "$work" &
pids+=($!)
sleep 1

# Relay settings of a link: relay_args LINK
relay_args() {
  case $1 in
    clean) echo "--delay-us 500" ;;
    loss1) echo "--delay-us 500 --loss 0.01" ;;
    mixed) echo "--delay-us 500 --loss 0.03 --dup 0.01 --jitter-us 2000" ;;
    rtt20) echo "--delay-us 10000" ;;
  esac
}

# One fetch through a fresh relay: run LINK CLIENT SERVER_PORT -> "seconds data_packets"
run() {
  local link=$1 client=$2 server=$3 port start end out="$work/out.bin" relay_pid
  port=$(free_port)
  # shellcheck disable=SC2046
  "$build/bench/bench_tftp_relay" --server-port "$server" --listen-port "$port" --seed "$seed" \
    $(relay_args "$link") > "$work/relay.out" &
  relay_pid=$!
  until grep -q listening "$work/relay.out" 2>/dev/null; do sleep 0.05; done
  rm -f "$out"
  start=$(date +%s.%N)
  case $client in
    curl) curl -s --tftp-blksize 1468 -o "$out" "tftp://127.0.0.1:$port/img.bin" || true ;;
    busybox) busybox tftp -g -b 1468 -r img.bin -l "$out" 127.0.0.1 "$port" > /dev/null 2>&1 || true ;;
    atftp) atftp -g -r img.bin -l "$out" --option "blksize 1468" --option "windowsize 16" \
             127.0.0.1 "$port" > /dev/null 2>&1 || true ;;
  esac
  end=$(date +%s.%N)
  kill "$relay_pid"
  wait "$relay_pid" 2>/dev/null || true
  if ! cmp -s "$work/img.bin" "$out"; then
    echo "$(calc "$end - $start") corrupt"
    return
  fi
  echo "$(calc "$end - $start") $(awk '/data_from_server/ {print $2}' "$work/relay.out") $(awk '/data_unneeded/ {print $2}' "$work/relay.out")"
}

echo "$mib MiB at blksize 1468 ($blocks blocks), seed $seed, one run per case"
printf "%-7s %-8s %10s %10s %8s %10s %12s %12s %12s %12s\n" link client tftpd-hpa "fwload" \
  "hpa/ours" "ours/clean" "DATA/blocks" "DATA/needed" "(hpa)blocks" "(hpa)needed"
declare -A clean_time
share() { [ "$2" = corrupt ] || [ -z "$2" ] && { echo "-"; return; }; calc "$2 / $1"; }
for link in ${LINKS:-clean loss1 mixed rtt20}; do
  for client in ${CLIENTS:-curl busybox atftp}; do
    read -r h hdata hunneeded <<< "$(run "$link" "$client" "$hpa_port")"
    read -r o odata ounneeded <<< "$(run "$link" "$client" "$ours_port")"
    [ "$link" = clean ] && clean_time[$client]=$o
    ratio=$(awk "BEGIN { printf \"%.1f\", $h / $o }")
    [ "$hdata" = corrupt ] && ratio="corrupt"
    [ "$odata" = corrupt ] && { echo "fwload tftpd: corrupt transfer ($link, $client)" >&2; exit 1; }
    hneeded="-"; [ "$hdata" != corrupt ] && hneeded=$(calc "$hdata / ($hdata - $hunneeded)")
    printf "%-7s %-8s %10.2f %10.2f %8s %10.2f %12.3f %12.3f %12s %12s\n" "$link" "$client" "$h" \
      "$o" "$ratio" "$(calc "$o / ${clean_time[$client]:-0}")" "$(calc "$odata / $blocks")" \
      "$(calc "$odata / ($odata - $ounneeded)")" "$(share "$blocks" "$hdata")" "$hneeded"
  done
done
