// "fwload sim station": runs a simulated station until interrupted.
#pragma once

#include <QStringList>

// Usage text of the station simulator (part of "fwload help sim").
#define FWL_SIM_STATION_USAGE                                                               \
  "       fwload sim station --address 127.0.0.x [--station-port 5454] [--tftp-port 69]\n"  \
  "                          --cpu 8xx|ARM9|ARM7 [--mtd5] --build 3.2.0 [OPTIONS]\n"        \
  "\n"                                                                                      \
  "sim station answers station-link requests on UDP ADDRESS:5454 (loopback only),\n"        \
  "runs the update script on /tmp/fwupdate.config and, when reset, fetches the\n"           \
  "images it names by TFTP from SERVERIP, port --tftp-port; it prints one line per\n"       \
  "restart and runs until interrupted.\n"                                                   \
  "  --script-error TEXT   the update script answers TEXT\n"                                \
  "  --restart-ms MS       silence after a reset, after the downloads (default 500)\n"      \
  "  --reply-delay MS      delay before every reply\n"                                      \
  "  --silent              never answer\n"                                                  \
  "  --negative            answer every request negatively\n"                               \
  "  --fail-status PREFIX  status 1 for commands or paths beginning with PREFIX\n"          \
  "  --cat-fails PATH      \"cat PATH\" answers \"cat: PATH: No such file or directory\"\n" \
  "  --tftp-lose-after N   the TFTP client stops answering after N blocks\n"                \
  "  --never-fetch         restart after the reset without fetching anything\n"             \
  "  --silent-after-reset  never answer again after a reset\n"                              \
  "  --overlap-fetch       ask for the boot image while the file system image arrives\n"    \
  "  --tftp-blksize N      requested TFTP block size (default 1468)\n"                      \
  "  --save DIR            after each restart write the received images and the\n"          \
  "                        station's files (\"/\" as \"_\") into DIR\n"                 \
  "  --count K             K stations at consecutive addresses from --address, each\n"  \
  "                        with its own state (--save DIR/ADDRESS)\n"                   \
  "  --unit N OPTIONS...   the options after it apply to station N (1..K) alone"

namespace fwl::cli {

// Parses the arguments after "station" and runs the station. Exit status.
int RunSimStation(const QStringList& args);

}  // namespace fwl::cli
