// fwload project: the stations of a project file with what the loader reads
// for each - type code, expected image stem, serial number, IP address,
// subnet mask and gateway.
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <cstdio>

#include "app/settings.h"
#include "catalogue/firmware_names.h"
#include "catalogue/project_file.h"
#include "cli/cli_commands.h"

namespace fwl::cli {
namespace {

constexpr char kUsage[] =
    "Usage: fwload project FILE [--json]\n"
    "\n"
    "Lists the stations of the project file FILE (.6pj) in project order, one\n"
    "per line, tab-separated: name, station type code (\"StaID\"), expected\n"
    "image stem, serial number, IP address, subnet mask and gateway (\"-\" for\n"
    "subnet and gateway when the station has no Ethernet port; an empty field\n"
    "when the project has no value).\n"
    "\n"
    "  --json   one JSON object per station, one per line\n"
    "\n"
    "Exit status: 0 stations listed; 1 the project has no stations or entries\n"
    "that could not be read (\"Error reading project file.\" on stderr; the\n"
    "readable stations are still listed); 2 bad usage or unreadable file.";

void PrintLine(const QString& line) {
  std::fputs(line.toUtf8().constData(), stdout);
  std::fputc('\n', stdout);
}

int RunProject(const QStringList& args) {
  bool json = false;
  QString file;
  for (const QString& arg : args) {
    if (arg == QLatin1String("--json")) {
      json = true;
    } else if (arg.startsWith(QLatin1String("--")) || !file.isEmpty()) {
      std::fprintf(stderr, "fwload project: unexpected argument '%s'\n%s\n", qPrintable(arg),
                   kUsage);
      return kExitUsage;
    } else {
      file = arg;
    }
  }
  if (file.isEmpty()) {
    std::fprintf(stderr, "%s\n", kUsage);
    return kExitUsage;
  }
  const QFileInfo info(file);
  if (!info.isFile() || !info.isReadable()) {
    std::fprintf(stderr, "fwload project: cannot read '%s'\n", qPrintable(file));
    return kExitUsage;
  }
  const QString path = info.absoluteFilePath();

  StationList stations;
  const int listed = LoadStationList(path, kProductStation, &stations);
  if (!json)
    PrintLine(QStringLiteral("STATION\tTYPE\tIMAGE STEM\tSERIAL\tIP ADDRESS\tSUBNET\tGATEWAY"));
  for (const QString& name : stations.names) {
    const int type = stations.typeCodes.value(name);
    const QString stem = StationImageStem(type);
    const QString serial = StationSerialNumber(path, name);
    const QString address = StationAddress(path, name);
    QString subnet, gateway;
    const bool ethernet = StationSubnetAndGateway(path, name, &subnet, &gateway);
    if (json) {
      QJsonObject o;
      o.insert(QStringLiteral("station"), name);
      o.insert(QStringLiteral("typeCode"), type);
      o.insert(QStringLiteral("imageStem"), stem);
      o.insert(QStringLiteral("serialNumber"), serial);
      o.insert(QStringLiteral("ipAddress"), address);
      o.insert(QStringLiteral("subnet"), ethernet ? QJsonValue(subnet) : QJsonValue());
      o.insert(QStringLiteral("gateway"), ethernet ? QJsonValue(gateway) : QJsonValue());
      PrintLine(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)));
    } else {
      const QString none = QStringLiteral("-");
      PrintLine(QStringList{name, QString::number(type), stem, serial, address,
                            ethernet ? subnet : none, ethernet ? gateway : none}
                    .join(u'\t'));
    }
  }
  std::fflush(stdout);
  if (listed < 0) {
    std::fprintf(stderr, "%s\n", kProjectReadError);
    return kExitFailed;
  }
  if (stations.names.isEmpty()) {
    std::fprintf(stderr, "fwload project: no stations in '%s'\n", qPrintable(file));
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

FWL_REGISTER_SUBCOMMAND(project, "project", "list the stations of a project file", kUsage,
                        RunProject);

}  // namespace fwl::cli
