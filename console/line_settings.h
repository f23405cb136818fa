// The serial line settings a load uses, as read from the [Device] texts of
// the load parameter file.
#pragma once

#include <QString>

namespace fwl {

struct LineSettings {
  int baud = 0;      // leading digits of "Baud"; 0 when none
  int dataBits = 0;  // leading digits of "Databits"
  int parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
  bool twoStopBits = true;
};

// "Parity" is compared without regard to case; any unknown text means none.
// "Stopbits" gives one stop bit only for exactly "1"; anything else, the
// empty text included, gives two.
LineSettings ParseLineSettings(const QString& baud, const QString& dataBits,
                               const QString& parity, const QString& stopBits);

}  // namespace fwl
