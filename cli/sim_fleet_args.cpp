#include "cli/sim_fleet_args.h"

#include <QFileInfo>

namespace fwl::cli {

bool SplitFleetArgs(const QStringList& args, SimFleetArgs* out, QString* error) {
  out->count = 1;
  out->common.clear();
  out->perUnit.clear();
  QList<std::pair<int, QStringList>> groups;
  int current = 0;  // 0: common options
  for (qsizetype i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    if (a == "--count" || a == "--unit") {
      bool ok = false;
      const int n = i + 1 < args.size() ? args[i + 1].toInt(&ok) : 0;
      ++i;
      if (a == "--count") {
        if (!ok || n < 1 || n > kMaxSimFleet) {
          *error = QStringLiteral("--count needs a number 1-%1").arg(kMaxSimFleet);
          return false;
        }
        out->count = n;
      } else {
        if (!ok || n < 1) {
          *error = QStringLiteral("--unit needs a unit number from 1");
          return false;
        }
        current = n;
        groups.append(std::make_pair(n, QStringList()));
      }
      continue;
    }
    if (current == 0) {
      out->common << a;
    } else {
      groups.last().second << a;
    }
  }
  for (int i = 0; i < out->count; ++i) out->perUnit.append(QStringList());
  for (const auto& [unit, options] : groups) {
    if (unit > out->count) {
      *error = QStringLiteral("--unit %1 is beyond --count %2").arg(unit).arg(out->count);
      return false;
    }
    out->perUnit[unit - 1] << options;
  }
  return true;
}

QStringList UnitArgs(const SimFleetArgs& fleet, int index) {
  return fleet.common + fleet.perUnit.value(index);
}

QHostAddress FleetAddress(const QHostAddress& first, int index) {
  // The first unit keeps the address as given; the simulator judges it.
  if (index == 0) return first;
  const quint32 base = first.toIPv4Address();
  const quint64 value = quint64(base) + quint64(index);
  if (value > 0x7FFFFFFEull || (value >> 24) != 127) return QHostAddress();
  return QHostAddress(quint32(value));
}

QString FleetPath(const QString& path, const QHostAddress& address, int count) {
  if (count <= 1 || path.isEmpty()) return path;
  const QFileInfo info(path);
  const QString suffix = info.suffix();
  const QString stem = suffix.isEmpty() ? path : path.left(path.size() - suffix.size() - 1);
  return stem + "-" + address.toString() + (suffix.isEmpty() ? QString() : "." + suffix);
}

}  // namespace fwl::cli
