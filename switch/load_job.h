// The operator's choices for one load, gathered in one plain record. The
// wizard pages, fwload and the tests fill it; the load dispatcher reads it.
#pragma once

#include <QString>

#include "catalogue/firmware_names.h"  // kProductStation, kProductSwitch

namespace fwl {

inline constexpr int kProductNone = -1;  // nothing selected: loads as a station

inline constexpr int kMethodSerial = 0;        // serial connection together with Ethernet
inline constexpr int kMethodEthernetOnly = 1;  // Ethernet only

// The station type whose board fetches two images (main and boot) by TFTP.
inline constexpr int kTwoTransferStationType = 5102;

struct LoadJob {
  int product = kProductNone;  // anything but kProductSwitch loads as a station
  QString firmwareFile;        // full path of an image, archive or bundle
  QString stationName;         // the station chosen from the project ("" for switches)
  int stationType = 0;         // station type code of that station; 0 when unknown
  int serialNumber = 0;        // expected station serial number; 0 when none
  int method = kMethodSerial;
  QString comPort;  // port name ("ttyUSB0") or device path ("/dev/pts/3")
  QString pcAddress;
  QString stationAddress;
  QString subnet;
  QString gateway;  // may be empty
  QString user;
  QString password;
  int loadStationConfig = 1;  // "Load station configuration on exit", checked by default
  int dhcp = 0;               // tell the unit to use DHCP ("-DHCP"); the wizard never sets it
};

}  // namespace fwl
