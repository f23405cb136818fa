// "fwload load --product switch --method eth": the Ethernet-only install of a
// managed switch from the terminal, through the same dispatcher the wizard
// uses.
#pragma once

#include <QStringList>

namespace fwl::cli {

#define FWL_SWITCH_LOAD_USAGE                                                           \
  "Managed switch over Ethernet only:\n"                                                \
  "       fwload load --product switch --method eth --ip SWITCH --pc-ip A --subnet M\n" \
  "                   [--gateway G] --user U [--password P] --firmware FILE\n"          \
  "                   [--yes] [--json] [--verbose] [--tftp-port N] [--http-port N]\n"   \
  "                   [--open-browser]\n"                                               \
  "The switch at SWITCH (its web interface, Basic authentication) fetches FILE's\n"     \
  "images from this computer's TFTP server at A, installs them and restarts with\n"     \
  "address SWITCH, mask M and gateway G. FILE is an image (its boot image beside\n"     \
  "it), an archive or a firmware bundle; \"switchinfo.tgz\" must lie beside the\n"      \
  "images (a bundle carries it).\n"                                                     \
  "  --password P        or the environment variable FWLOAD_PASSWORD, or asked\n"       \
  "                      without echo; never printed or stored\n"                       \
  "  --tftp-port N       UDP port of this computer's TFTP server (default 69, the\n"    \
  "                      port switches fetch from; others for simulated switches)\n"    \
  "  --http-port N       port of the switch's web server (default 80)\n"                \
  "  --open-browser      open the switch's remote-configuration page when network\n"    \
  "                      firmware loading is disabled (its URL is always printed)\n"

// True when `args` ask for a managed switch with the Ethernet-only method
// ("--method eth" or "--method ethernet").
bool IsSwitchEthernetLoad(const QStringList& args);

// Runs that load. Exit status 0 loaded, 1 failed, 2 bad usage or input.
int RunSwitchEthernetLoad(const QStringList& args);

}  // namespace fwl::cli
