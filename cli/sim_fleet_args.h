// Splitting a simulator's command line into what applies to every unit of a
// fleet and what applies to one: "--count K" units at consecutive loopback
// addresses from the first "--address", and options after "--unit N" that
// apply to unit N (1..K) alone, so each unit can carry its own faults.
#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

namespace fwl::cli {

inline constexpr int kMaxSimFleet = 256;

struct SimFleetArgs {
  int count = 1;
  QStringList common;          // options for every unit (without --count/--unit)
  QList<QStringList> perUnit;  // [i]: options for unit i+1 only, after the common ones
};

// Splits `args`. False with `error` set for a bad --count (1..256) or a
// --unit outside 1..count.
bool SplitFleetArgs(const QStringList& args, SimFleetArgs* out, QString* error);

// The options of unit `index` (0-based): the common ones, then its own.
QStringList UnitArgs(const SimFleetArgs& fleet, int index);

// `first` + index as an IPv4 address (`first` itself for index 0); null when
// a later unit would leave 127.0.0.0/8.
QHostAddress FleetAddress(const QHostAddress& first, int index);

// A per-unit file name: `path` itself for a fleet of one, else the unit's
// address inserted before the extension ("state.json" -> "state-127.0.0.5.json").
QString FleetPath(const QString& path, const QHostAddress& address, int count);

}  // namespace fwl::cli
