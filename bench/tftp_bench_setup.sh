# Sourced by the TFTP benches: installs the comparison server and builds
# the release programs they run. Needs $root and scripts/deps.sh sourced.
#   fwl_tftp_bench_setup TARGET...     (sets $build)

fwl_tftp_bench_setup() {
  # The comparison server is installed for the bench only; its service is
  # never used: the bench starts it by hand on a loopback port.
  if [ -n "$(fwl_missing_packages tftpd-hpa)" ]; then
    local sudo=""; [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    RUNLEVEL=1 DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends tftpd-hpa
    $sudo service tftpd-hpa stop >/dev/null 2>&1 || true
  fi
  build="$root/build/tftp-release"
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DFWL_BUILD_TESTS=OFF \
    -DFWL_BUILD_GUI=OFF > "$build.configure.log" 2>&1 || { cat "$build.configure.log"; exit 1; }
  ninja -C "$build" "$@" > /dev/null
}
