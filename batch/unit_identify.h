// What a unit runs, read without changing anything on it: a managed switch
// through its information page, a station through the station link (its
// processor, flash table and firmware build). Used by "fwload identify" and
// by a batch's --skip-current and --dry-run.
#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace fwl {

struct UnitIdentity {
  QString product;  // "switch" or "station"
  QString ip;
  bool identified = false;
  bool answered = false;  // the unit answered at all (a page without the facts counts)
  QString firmware;       // dotted version comparable with a firmware file's, "" when unknown
  QString board;          // switch: boardId; station: the processor ("8xx", "ARM9", "ARM7")
  QString bootMonitor;    // switch: the boot monitor version, where known
  QJsonObject extra;      // switch: "model", "revision"; station: "processor", "flash", "build"
  QString message;        // why it could not be read
  QStringList boxes;      // texts the readers showed meanwhile

  // {"product","ip","identified","firmware"?,"board"?,"boot_monitor"?, extra…, "message"?}
  QJsonObject ToJson() const;
};

struct IdentifyOptions {
  // Switch.
  QString user;
  QString password;
  int httpPort = 80;
  int httpTimeoutSeconds = 10;
  // Station.
  int stationPort = 0;  // 0: the station link's default
  float stationTimeoutSeconds = 2.0f;
  int stationRetries = 2;
};

// Each runs synchronously on the calling thread (its waits keep that
// thread's events flowing) and shows no box: what the readers would have
// shown is kept in `boxes`.
UnitIdentity IdentifySwitchUnit(const QString& ip, const IdentifyOptions& options);
UnitIdentity IdentifyStationUnit(const QString& ip, const IdentifyOptions& options);

// The dotted form of a firmware file's version ("kvimage6_razeb3_2_1" -> "3.2.1"),
// "" when the name carries none.
QString DottedFirmwareVersion(const QString& firmwareFile);

}  // namespace fwl
