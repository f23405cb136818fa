#include "sim/sim_options.h"

namespace fwl {

void ApplyBoardDefaults(SimOptions& o) {
  if (o.board == kSimBoardPpc855) {
    o.dramBase = 0x00000000;
    o.norBase = 0xF8000000;
    o.nvramBase = 0xFA000000;
    o.bigEndian = true;
  } else if (o.board == kSimBoard79524) {
    o.dramBase = 0x00000000;
    o.norBase = 0x44000000;
    o.nvramBase = 0x40000000;
    o.bigEndian = true;
  } else if (o.board == kSimBoardArm9) {
    o.dramBase = 0x20000000;
    o.norBase = 0x44000000;
    o.nvramBase = 0x40000000;
    o.bigEndian = false;
  }
}

QString SimBoardValue(const QString& nameOrValue) {
  const QString n = nameOrValue.toLower();
  if (n == "arm9" || n == "9260") return kSimBoardArm9;
  if (n == "ppc855" || n == "855t" || n == "ppc") return kSimBoardPpc855;
  if (n == "79524") return kSimBoard79524;
  if (n == "none") return QString();
  return nameOrValue;
}

}  // namespace fwl
