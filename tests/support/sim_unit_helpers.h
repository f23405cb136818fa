// Helpers shared by the tests that drive a simulated unit on a pseudo-terminal:
// the load parameter file that points the engine at the unit, and the command
// lines the unit ran.
#pragma once

#include <QString>
#include <QStringList>

#include "engine/load_parameter_file.h"
#include "sim/sim_unit.h"

namespace fwl::test {

// Writes the load parameter file for a started `unit`: its port, loopback
// addresses for both ends, a class-A mask, `gateway` and `firmware`.
inline void WriteLoadParametersFor(const SimUnit& unit, const QString& firmware = QString(),
                                   const QString& gateway = QString()) {
  LoadParameters p;
  p.comPort = unit.SlavePath();
  p.pcAddress = QStringLiteral("127.0.0.1");
  p.stationAddress = QStringLiteral("127.0.0.1");
  p.subnet = QStringLiteral("255.0.0.0");
  p.gateway = gateway;
  p.firmwarePath = firmware;
  WriteLoadParameterFile(p);
}

// Command lines the unit ran that begin with `prefix`, in order.
inline QStringList CommandsStartingWith(const SimUnit& unit, const QString& prefix) {
  QStringList out;
  for (const QString& c : unit.CommandLog()) {
    if (c.startsWith(prefix)) out << c;
  }
  return out;
}

}  // namespace fwl::test
