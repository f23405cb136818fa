// Checks `fwload load` makes of its arguments whatever the product and
// method: the firmware file and the addresses.
#pragma once

#include <QString>

#include "switch/load_job.h"

namespace fwl::cli {

// A dotted IPv4 address such as "192.168.0.10" (four parts, nothing else).
bool IsDottedIpv4(const QString& text);

// Checks that `job.firmwareFile` names a file (and makes it absolute), and
// that the PC address, unit address, subnet and optional gateway are dotted
// IPv4 texts. kExitOk, or kExitUsage after "fwload load: ..." on stderr.
int CheckFirmwareAndAddresses(LoadJob& job);

}  // namespace fwl::cli
