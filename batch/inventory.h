// The units of a batch: read from an inventory (CSV with a header row,
// columns by name, "#" lines ignored) or from a project file's stations, and
// checked as a whole before anything starts: each row as `fwload load`
// checks its options, plus duplicate names, addresses and serial ports and
// firmware that does not fit the row's product or station type.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include "switch/load_job.h"

namespace fwl {

// Values for a column that is missing or empty in a row (the batch options).
struct InventoryDefaults {
  QString pcAddress;
  QString subnet;
  QString gateway;
  QString firmware;
  QString user;
  QString method;  // "" means "eth"
};

struct BatchUnit {
  int row = 0;   // line of the inventory (the header is line 1), or index in the project
  QString name;  // the row's name, else its address
  LoadJob job;   // everything but the password is filled by the reader
  QString passwordVariable;    // "password_env", else FWLOAD_PASSWORD
  bool needsPassword = false;  // a switch over Ethernet only
  QString powerOffCommand;     // serial rows: run instead of the "Turn Power OFF" box
  QString powerOnCommand;      // and when the "Turn Power ON" prompt opens
  QString project;
};

struct Inventory {
  QString source;  // the inventory or project file, absolute
  QString sha256;  // of the file's bytes, hex
  QList<BatchUnit> units;
  QStringList errors;  // "row 7 (Pump 4): …" lines; any error refuses the whole batch
};

// Column names, in the order the help lists them.
const QStringList& InventoryColumns();

// Reads and checks an inventory file. Relative firmware, project and port
// paths are taken from the inventory's folder. `inventory.errors` is empty
// when every row can be loaded.
Inventory ReadInventory(const QString& path, const InventoryDefaults& defaults);

// Every station of `project` (or those named in `stations`), over Ethernet
// only, addresses and types from the project file; `firmware` is a file, or
// a folder in which each station gets the newest image of its type.
Inventory InventoryFromProject(const QString& project, const QStringList& stations,
                               const QString& firmware, const InventoryDefaults& defaults);

// Splits one CSV text into rows of fields (RFC 4180 quoting; CR LF or LF).
// False when a quoted field never ends or the text breaks the limits (rows,
// fields, field length).
bool ParseCsv(const QByteArray& text, QList<QStringList>* rows, QList<int>* lines, QString* error);

}  // namespace fwl
