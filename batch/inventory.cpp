#include "batch/inventory.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QHostAddress>
#include <QProcessEnvironment>

#include "app/settings.h"
#include "catalogue/firmware_names.h"
#include "catalogue/folder_scan.h"
#include "catalogue/project_file.h"
#include "engine/load_parameter_file.h"
#include "platform/ui.h"

namespace fwl {
namespace {

constexpr qint64 kMaxInventoryBytes = 4 << 20;
constexpr int kMaxRows = 10000;
constexpr int kMaxFields = 64;
constexpr int kMaxFieldChars = 4096;
constexpr char kDefaultPasswordVariable[] = "FWLOAD_PASSWORD";

bool IsDotted(const QString& text) {
  QHostAddress address;
  return address.setAddress(text) && address.protocol() == QAbstractSocket::IPv4Protocol &&
         text.count(QLatin1Char('.')) == 3;
}

QString Sha256Hex(const QByteArray& data) {
  return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex());
}

QString Resolve(const QString& path, const QString& folder) {
  if (path.isEmpty() || QFileInfo(path).isAbsolute()) return path;
  return QDir(folder).absoluteFilePath(path);
}

// Shows nothing while the checks run; what would have been shown is kept.
class CheckUi final : public SilentUi {
 public:
  CheckUi() : previous_(Ui::InstallForThread(this)) {}
  ~CheckUi() override { Ui::InstallForThread(previous_); }
  int MessageBox(const QString& text, const QString& caption, UiIcon icon,
                 UiButtons buttons) override {
    last = text;
    return SilentUi::MessageBox(text, caption, icon, buttons);
  }
  QString last;

 private:
  Ui* previous_;
};

bool IsArchiveName(const QString& path) {
  const QString suffix = QFileInfo(path).suffix().toLower();
  return suffix == "tgz" || suffix == "zip" || suffix == "tar" || suffix == "gz";
}

// Whether the firmware file suits the unit: images and bundles by their
// names (a bundle by its header); archives are looked into by the load.
QString FirmwareMismatch(const BatchUnit& unit) {
  const QString& file = unit.job.firmwareFile;
  if (IsArchiveName(file)) return QString();
  const int product = unit.job.product == kProductSwitch ? kProductSwitch : kProductStation;
  const QString stem = product == kProductStation && unit.job.stationType
                           ? StationImageStem(unit.job.stationType)
                           : QString();
  // A station of unknown type takes any station image; a known type only
  // its own stem.
  const MatchMode mode =
      product == kProductStation && stem.isEmpty() ? MatchMode::kLoose : MatchMode::kStrict;
  CheckUi ui;
  const bool bundle = file.toLower().endsWith(OemString(kOemBundleExtension));
  if (ImageNameMatchesProduct(bundle ? file : QFileInfo(file).fileName(), product, stem, mode)) {
    return QString();
  }
  if (!ui.last.isEmpty()) return ui.last;
  return QStringLiteral("firmware %1 does not fit a %2%3")
      .arg(QFileInfo(file).fileName(),
           product == kProductSwitch ? QStringLiteral("switch") : QStringLiteral("station"),
           stem.isEmpty() ? QString() : QStringLiteral(" of type %1").arg(unit.job.stationType));
}

// The checks of one unit, as fwload load makes them. Empty when good.
QStringList CheckUnit(BatchUnit& unit) {
  QStringList problems;
  LoadJob& job = unit.job;
  if (job.firmwareFile.isEmpty()) {
    problems << "no firmware (column firmware or --firmware)";
  } else if (!QFileInfo(job.firmwareFile).isFile()) {
    problems << QStringLiteral("no firmware file '%1'").arg(job.firmwareFile);
  } else {
    job.firmwareFile = QFileInfo(job.firmwareFile).absoluteFilePath();
    const QString mismatch = FirmwareMismatch(unit);
    if (!mismatch.isEmpty()) problems << mismatch;
  }
  if (!IsDotted(job.pcAddress))
    problems << "this computer's address (--pc-ip) is not a dotted IPv4 address";
  if (!IsDotted(job.stationAddress)) {
    problems << QStringLiteral("ip '%1' is not a dotted IPv4 address").arg(job.stationAddress);
  }
  if (!IsDotted(job.subnet)) {
    problems << QStringLiteral("subnet '%1' is not a dotted IPv4 mask").arg(job.subnet);
  }
  if (!job.gateway.isEmpty() && !IsDotted(job.gateway)) {
    problems << QStringLiteral("gateway '%1' is not a dotted IPv4 address").arg(job.gateway);
  }
  if (job.method == kMethodSerial) {
    if (job.comPort.isEmpty()) {
      problems << "a serial row needs its port";
    } else {
      const QString text = ComPortParameterText(job.comPort);
      if (text.isEmpty()) {
        problems << QStringLiteral("port '%1' is longer than %2 characters")
                        .arg(job.comPort)
                        .arg(kComportBufferSize - 1);
      } else {
        job.comPort = text;
      }
    }
  }
  if (job.product == kProductSwitch && job.method == kMethodEthernetOnly) {
    unit.needsPassword = true;
    if (job.user.isEmpty()) problems << "a switch over Ethernet only needs its user";
  }
  if (!unit.project.isEmpty()) {
    if (job.product != kProductStation) {
      problems << "project is for stations";
    } else if (!QFileInfo(unit.project).isFile()) {
      problems << QStringLiteral("no project file '%1'").arg(unit.project);
    } else if (job.stationName.isEmpty()) {
      problems << "project needs its station";
    } else {
      StationList stations;
      LoadStationList(ProjectFilePath(unit.project), kProductStation, &stations);
      if (!stations.typeCodes.contains(job.stationName)) {
        problems << QStringLiteral("no station '%1' in %2").arg(job.stationName, unit.project);
      } else {
        job.stationType = stations.typeCodes.value(job.stationName);
        job.serialNumber =
            int(SerialNumberValue(StationSerialNumber(unit.project, job.stationName)));
      }
    }
  }
  return problems;
}

QString Label(const BatchUnit& unit) {
  return QStringLiteral("row %1 (%2)").arg(unit.row).arg(unit.name);
}

// Names, addresses and ports that occur twice.
void CheckDuplicates(Inventory& inventory) {
  QHash<QString, int> names, addresses, ports;
  for (const BatchUnit& unit : inventory.units) {
    auto twice = [&](QHash<QString, int>& seen, const QString& key, const QString& what) {
      if (key.isEmpty()) return;
      const auto found = seen.constFind(key);
      if (found != seen.constEnd()) {
        inventory.errors
            << QStringLiteral("%1: %2 is also row %3's").arg(Label(unit), what).arg(*found);
      } else {
        seen.insert(key, unit.row);
      }
    };
    twice(names, unit.name.toLower(), QStringLiteral("name '%1'").arg(unit.name));
    twice(addresses, unit.job.stationAddress,
          QStringLiteral("address %1").arg(unit.job.stationAddress));
    if (unit.job.method == kMethodSerial) {
      const QString device = QFileInfo(unit.job.comPort).canonicalFilePath();
      twice(ports, device.isEmpty() ? unit.job.comPort : device,
            QStringLiteral("serial port %1").arg(unit.job.comPort));
    }
  }
}

void ResolvePasswords(Inventory& inventory) {
  const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (BatchUnit& unit : inventory.units) {
    if (!unit.needsPassword) continue;
    if (unit.passwordVariable.isEmpty()) {
      unit.passwordVariable = QString::fromLatin1(kDefaultPasswordVariable);
    } else if (!env.contains(unit.passwordVariable)) {
      inventory.errors << QStringLiteral("%1: password_env %2 is not set")
                              .arg(Label(unit), unit.passwordVariable);
      continue;
    }
    if (env.contains(unit.passwordVariable)) {
      unit.job.password = env.value(unit.passwordVariable);
      unit.passwordVariable.clear();  // resolved
    }
  }
}

bool ParseFlag(const QString& text, int* value) {
  const QString t = text.trimmed().toLower();
  if (t.isEmpty() || t == "0" || t == "no" || t == "false") {
    *value = 0;
    return true;
  }
  if (t == "1" || t == "yes" || t == "true") {
    *value = 1;
    return true;
  }
  return false;
}

}  // namespace

const QStringList& InventoryColumns() {
  static const QStringList columns = {"name",         "product", "method",        "ip",
                                      "subnet",       "gateway", "firmware",      "user",
                                      "password_env", "port",    "station_type",  "project",
                                      "station",      "dhcp",    "power_off_cmd", "power_on_cmd"};
  return columns;
}

bool ParseCsv(const QByteArray& text, QList<QStringList>* rows, QList<int>* lines, QString* error) {
  const QString s = QString::fromUtf8(text);
  QStringList row;
  QString field;
  bool quoted = false, fieldStarted = false;
  int line = 1, rowLine = 1;
  auto endField = [&] {
    if (row.size() >= kMaxFields) return false;
    row << field;
    field.clear();
    fieldStarted = false;
    return true;
  };
  auto endRow = [&] {
    if (rows->size() >= kMaxRows) return false;
    rows->append(row);
    lines->append(rowLine);
    row.clear();
    return true;
  };
  for (qsizetype i = 0; i < s.size(); ++i) {
    const QChar c = s[i];
    if (quoted) {
      if (c == u'"') {
        if (i + 1 < s.size() && s[i + 1] == u'"') {
          field += u'"';
          ++i;
        } else {
          quoted = false;
        }
      } else {
        if (c == u'\n') ++line;
        field += c;
      }
    } else if (c == u'"' && !fieldStarted && field.isEmpty()) {
      quoted = true;
      fieldStarted = true;
    } else if (c == u',') {
      if (!endField()) {
        *error = QStringLiteral("line %1 has more than %2 fields").arg(rowLine).arg(kMaxFields);
        return false;
      }
    } else if (c == u'\n' || c == u'\r') {
      if (c == u'\r' && i + 1 < s.size() && s[i + 1] == u'\n') ++i;
      if (!endField() || !endRow()) {
        *error = QStringLiteral("more than %1 rows").arg(kMaxRows);
        return false;
      }
      rowLine = ++line;
    } else {
      field += c;
      fieldStarted = true;
    }
    if (field.size() > kMaxFieldChars) {
      *error = QStringLiteral("line %1 has a field longer than %2 characters")
                   .arg(rowLine)
                   .arg(kMaxFieldChars);
      return false;
    }
  }
  if (quoted) {
    *error = QStringLiteral("line %1: a quoted field never ends").arg(rowLine);
    return false;
  }
  if (!field.isEmpty() || !row.isEmpty()) {
    if (!endField() || !endRow()) {
      *error = QStringLiteral("more than %1 rows").arg(kMaxRows);
      return false;
    }
  }
  return true;
}

Inventory ReadInventory(const QString& path, const InventoryDefaults& defaults) {
  Inventory inventory;
  const QFileInfo info(path);
  inventory.source = info.absoluteFilePath();
  if (!info.isFile()) {
    inventory.errors << QStringLiteral("no inventory file '%1'").arg(path);
    return inventory;
  }
  if (info.size() > kMaxInventoryBytes) {
    inventory.errors
        << QStringLiteral("%1 is larger than %2 bytes").arg(path).arg(kMaxInventoryBytes);
    return inventory;
  }
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    inventory.errors << QStringLiteral("%1 cannot be read: %2").arg(path, file.errorString());
    return inventory;
  }
  const QByteArray bytes = file.read(kMaxInventoryBytes + 1);
  inventory.sha256 = Sha256Hex(bytes);

  QList<QStringList> rows;
  QList<int> lines;
  QString error;
  if (!ParseCsv(bytes, &rows, &lines, &error)) {
    inventory.errors << QStringLiteral("%1: %2").arg(path, error);
    return inventory;
  }
  // Comment and blank lines go before the header is looked for.
  QList<QStringList> data;
  QList<int> dataLines;
  for (int i = 0; i < rows.size(); ++i) {
    const QStringList& r = rows[i];
    const QString first = r.value(0).trimmed();
    if (first.startsWith(u'#')) continue;
    if (std::all_of(r.begin(), r.end(), [](const QString& f) { return f.trimmed().isEmpty(); })) {
      continue;
    }
    data << r;
    dataLines << lines[i];
  }
  if (data.isEmpty()) {
    inventory.errors << QStringLiteral("%1 has no header row").arg(path);
    return inventory;
  }
  QHash<QString, int> column;
  const QStringList header = data.first();
  for (int c = 0; c < header.size(); ++c) {
    const QString name = header[c].trimmed().toLower();
    if (name.isEmpty()) continue;
    if (!InventoryColumns().contains(name)) {
      inventory.errors << QStringLiteral("row %1: unknown column '%2' (known: %3)")
                              .arg(dataLines.first())
                              .arg(header[c].trimmed(), InventoryColumns().join(", "));
    } else if (column.contains(name)) {
      inventory.errors
          << QStringLiteral("row %1: column '%2' appears twice").arg(dataLines.first()).arg(name);
    } else {
      column.insert(name, c);
    }
  }
  if (!column.contains("ip") && !column.contains("project")) {
    inventory.errors
        << QStringLiteral("row %1: the header has no column 'ip'").arg(dataLines.first());
  }
  if (!inventory.errors.isEmpty()) return inventory;

  const QString folder = info.absolutePath();
  for (int r = 1; r < data.size(); ++r) {
    const QStringList& fields = data[r];
    auto value = [&](const char* name, const QString& fallback = QString()) {
      const int c = column.value(QLatin1String(name), -1);
      const QString v = c >= 0 ? fields.value(c).trimmed() : QString();
      return v.isEmpty() ? fallback : v;
    };
    BatchUnit unit;
    unit.row = dataLines[r];
    LoadJob& job = unit.job;
    QStringList problems;
    if (fields.size() > header.size()) {
      problems
          << QStringLiteral("%1 fields, the header has %2").arg(fields.size()).arg(header.size());
    }
    const QString product = value("product").toLower();
    if (product == "station") {
      job.product = kProductStation;
    } else if (product == "switch") {
      job.product = kProductSwitch;
    } else {
      problems << QStringLiteral("product must be station or switch, not '%1'").arg(product);
    }
    const QString method =
        value("method", defaults.method.isEmpty() ? "eth" : defaults.method).toLower();
    if (method == "serial") {
      job.method = kMethodSerial;
    } else if (method == "eth" || method == "ethernet") {
      job.method = kMethodEthernetOnly;
    } else {
      problems << QStringLiteral("method must be eth or serial, not '%1'").arg(method);
    }
    job.stationAddress = value("ip");
    unit.name = value("name", job.stationAddress);
    job.subnet = value("subnet", defaults.subnet);
    job.gateway = value("gateway", defaults.gateway);
    job.pcAddress = defaults.pcAddress;
    job.firmwareFile = Resolve(value("firmware", defaults.firmware), folder);
    job.user = value("user", defaults.user);
    unit.passwordVariable = value("password_env");
    const QString port = value("port");
    job.comPort = port.contains(u'/') ? Resolve(port, folder) : port;
    unit.project = Resolve(value("project"), folder);
    job.stationName = value("station");
    job.loadStationConfig = 0;
    unit.powerOffCommand = value("power_off_cmd");
    unit.powerOnCommand = value("power_on_cmd");
    if (!ParseFlag(value("dhcp"), &job.dhcp)) {
      problems << QStringLiteral("dhcp must be 0 or 1, not '%1'").arg(value("dhcp"));
    }
    const QString type = value("station_type");
    if (!type.isEmpty()) {
      bool ok = false;
      job.stationType = type.toInt(&ok);
      if (!ok || job.stationType < 0) {
        problems << QStringLiteral("station_type '%1' is not a type code").arg(type);
      } else if (!unit.project.isEmpty()) {
        problems << "station_type cannot go with project";
      }
    }
    if (problems.isEmpty()) problems << CheckUnit(unit);
    for (const QString& p : problems)
      inventory.errors << QStringLiteral("%1: %2").arg(Label(unit), p);
    inventory.units << unit;
  }
  if (inventory.units.isEmpty()) inventory.errors << QStringLiteral("%1 lists no units").arg(path);
  CheckDuplicates(inventory);
  ResolvePasswords(inventory);
  return inventory;
}

Inventory InventoryFromProject(const QString& project, const QStringList& stations,
                               const QString& firmware, const InventoryDefaults& defaults) {
  Inventory inventory;
  const QFileInfo info(project);
  inventory.source = info.absoluteFilePath();
  QFile file(project);
  if (!info.isFile() || !file.open(QIODevice::ReadOnly)) {
    inventory.errors << QStringLiteral("no project file '%1'").arg(project);
    return inventory;
  }
  inventory.sha256 = Sha256Hex(file.read(kMaxInventoryBytes));
  const QString path = ProjectFilePath(inventory.source);
  StationList list;
  LoadStationList(path, kProductStation, &list);
  for (const QString& wanted : stations) {
    if (!list.typeCodes.contains(wanted)) {
      inventory.errors << QStringLiteral("no station '%1' in %2").arg(wanted, project);
    }
  }
  const bool folder = QFileInfo(firmware).isDir();
  int index = 0;
  for (const QString& name : list.names) {
    ++index;
    if (!stations.isEmpty() && !stations.contains(name)) continue;
    BatchUnit unit;
    unit.row = index;
    unit.name = name;
    LoadJob& job = unit.job;
    job.product = kProductStation;
    job.method = kMethodEthernetOnly;
    job.stationName = name;
    job.stationType = list.typeCodes.value(name);
    job.serialNumber = int(SerialNumberValue(StationSerialNumber(path, name)));
    job.stationAddress = StationAddress(path, name);
    job.subnet = defaults.subnet;
    job.gateway = defaults.gateway;
    StationSubnetAndGateway(path, name, &job.subnet, &job.gateway);
    if (job.gateway == QLatin1String("0.0.0.0")) job.gateway.clear();
    job.pcAddress = defaults.pcAddress;
    job.loadStationConfig = 0;
    if (folder) {
      // The newest image of the station's type, by the catalogue's rules.
      CheckUi ui;
      FolderScan scan;
      scan.inputs().firmwareFolder = firmware;
      scan.inputs().productType = kProductStation;
      scan.inputs().stationStem = StationImageStem(job.stationType);
      scan.RescanFirmwareFolder();
      job.firmwareFile = scan.selectableFiles().value(0);
      if (job.firmwareFile.isEmpty()) {
        inventory.errors << QStringLiteral("%1: no firmware for station type %2 in %3")
                                .arg(Label(unit))
                                .arg(job.stationType)
                                .arg(firmware);
        inventory.units << unit;
        continue;
      }
    } else {
      job.firmwareFile = firmware;
    }
    for (const QString& p : CheckUnit(unit)) {
      inventory.errors << QStringLiteral("%1: %2").arg(Label(unit), p);
    }
    inventory.units << unit;
  }
  if (inventory.units.isEmpty() && inventory.errors.isEmpty()) {
    inventory.errors << QStringLiteral("%1 lists no stations").arg(project);
  }
  CheckDuplicates(inventory);
  return inventory;
}

}  // namespace fwl
