# Sourced by scripts/demo and scripts/screenshots: a private world for the
# wizard wired to the simulators. Settings file, system folder and TFTP port
# of its own; a simulated unit on a pseudo-terminal (and the simulated switch
# and station where this fwload has them); the firmware folder pointed at
# samples/firmware and the addresses of the simulators stored as the last
# values, so the pages open ready to load.
#   fwl_demo_start FWLOAD     sets demo, tftp_port, switch_http_port, station_port
#                              and FWL_DEMO_WIZARD_ARGS; cleaned up on exit

fwl_demo_cleanup() {
  local pid
  for pid in ${fwl_demo_pids:-}; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  [ -n "${demo:-}" ] && rm -rf "$demo"
}

fwl_demo_start() {
  local fwload=$1 root
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  demo=$(mktemp -d "${TMPDIR:-/tmp}/fwload-demo.XXXXXX")
  fwl_demo_pids=""
  trap fwl_demo_cleanup EXIT
  export FWLOADER_SYSTEM_DIR="$demo/system"
  export FWLOADER_SETTINGS_FILE="$demo/settings.ini"
  tftp_port=${FWL_DEMO_TFTP_PORT:-16969}
  switch_http_port=${FWL_DEMO_HTTP_PORT:-18080}
  station_port=${FWL_DEMO_STATION_PORT:-15050}

  cat > "$FWLOADER_SETTINGS_FILE" <<INI
[fwloadpages]
fw dir=$root/samples/firmware/
last com port=$demo/unit-tty
last ip=127.0.0.1
switch ip=127.0.0.2
subnet=255.0.0.0
user=admin

[load]
hard reset delay ms=3000
4410 hard reset extension=0

[tftp settings]
listen=$tftp_port
INI

  # The unit: a PowerPC station board that powers on when its port is opened.
  "$fwload" sim unit --board ppc855 --monitor PPCBoot --link "$demo/unit-tty" \
    --control "$demo/unit.ctl" --tick-ms 300 --tftp-port "$tftp_port" > "$demo/unit.log" 2>&1 &
  fwl_demo_pids="$fwl_demo_pids $!"

  local sims
  sims=$("$fwload" help sim 2>&1 || true)
  if grep -q "sim switch" <<< "$sims"; then
    "$fwload" sim switch --address 127.0.0.2 --http-port "$switch_http_port" \
      --tftp-port "$tftp_port" --user admin --password admin > "$demo/switch.log" 2>&1 &
    fwl_demo_pids="$fwl_demo_pids $!"
    echo "simulated switch on 127.0.0.2 (web interface port $switch_http_port, admin/admin)"
  fi
  if grep -q "sim station" <<< "$sims"; then
    "$fwload" sim station --address 127.0.0.3 --station-port "$station_port" \
      --tftp-port "$tftp_port" --cpu ARM9 --build 3.2.0 > "$demo/station.log" 2>&1 &
    fwl_demo_pids="$fwl_demo_pids $!"
    echo "simulated station \"Pump 5\" on 127.0.0.3 (station port $station_port)"
  fi

  local _
  for _ in $(seq 50); do [ -e "$demo/unit-tty" ] && break; sleep 0.1; done
  echo "simulated unit \"Pump 4\" on $(readlink "$demo/unit-tty") (TFTP port $tftp_port)"
  FWL_DEMO_WIZARD_ARGS=("/Station=Pump 4" "/Project=$root/samples/projects/demo.6pj")
}
