#include "console/line_settings.h"

#include "console/reply_text.h"

namespace fwl {

LineSettings ParseLineSettings(const QString& baud, const QString& dataBits, const QString& parity,
                               const QString& stopBits) {
  LineSettings s;
  s.baud = LeadingNumber(baud);
  s.dataBits = LeadingNumber(dataBits);
  static const char* const kParities[] = {"none", "odd", "even", "mark", "space"};
  for (int i = 0; i < 5; ++i) {
    if (parity.compare(QLatin1String(kParities[i]), Qt::CaseInsensitive) == 0) s.parity = i;
  }
  s.twoStopBits = stopBits.compare(QLatin1String("1"), Qt::CaseInsensitive) != 0;
  return s;
}

}  // namespace fwl
