// "fwload sim switch": runs a simulated managed switch until interrupted.
#pragma once

#include <QStringList>

namespace fwl::cli {

#define FWL_SIM_SWITCH_USAGE                                                             \
  "       fwload sim switch --address 127.0.0.x [--http-port 80] [--tftp-port 69]\n"     \
  "                         --user U --password P [--board NAME] [--fw-rev 3.7.2]\n"     \
  "                         [--kvid TEXT] [--network-loading enabled|disabled]\n"        \
  "                         [--info-installed] [--state FILE] [--fault NAME]...\n"       \
  "                         [--page-status cgi-bin/PAGE.cgi=STATUS] [--restart-ms MS]\n" \
  "                         [--installed-rev REV]\n"                                     \
  "sim switch answers the switch's web pages on a loopback address and fetches its\n"    \
  "information package and images by TFTP from the address the loader names (port\n"     \
  "--tftp-port). --board kvni855t, kvni79524, kvni9260 or any boardId text; --kvid\n"    \
  "the identity (a product code, optionally \".\" and the brand). After an install it\n" \
  "runs the version in the image names; for names without one (a bundle's images)\n"     \
  "--installed-rev, or else its information page is gone until the package is sent\n"    \
  "again. Faults: lose-second (goes quiet during the second image download),\n"          \
  "never-fetch (never fetches its images), never-fetch-info, wrong-board (reports an\n"  \
  "unknown board), old-firmware (runs 3.6.9), reject-images (fetches, refuses, stays\n"  \
  "on its firmware), lose-first, hold-reply (answers the install request only after\n"   \
  "both downloads), overlap-fetch (asks for the boot image while the filesystem image\n" \
  "is still coming), boot-twice (fetches the boot image twice, never the filesystem\n"   \
  "image, restarts), stay-old (restarts on the firmware it ran before).\n"               \
  "--state FILE receives its state as JSON.\n"                                           \
  "A fleet: --count K runs K switches at consecutive addresses from --address, each\n"   \
  "with its own state (FILE-ADDRESS.json); options after --unit N apply to unit N\n"     \
  "alone (e.g. --unit 3 --password other --unit 5 --fault never-fetch).\n"

// Args after "switch". Exit status 0 after an interrupt, 1 when it cannot
// start, 2 on bad usage.
int RunSimSwitch(const QStringList& args);

}  // namespace fwl::cli
