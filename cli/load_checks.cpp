#include "cli/load_checks.h"

#include <QFileInfo>
#include <QHostAddress>
#include <cstdio>

#include "cli/cli_commands.h"

namespace fwl::cli {
namespace {

int Refuse(const QString& text) {
  std::fprintf(stderr, "fwload load: %s\n", qPrintable(text));
  return kExitUsage;
}

}  // namespace

bool IsDottedIpv4(const QString& text) {
  QHostAddress address;
  return address.setAddress(text) && address.protocol() == QAbstractSocket::IPv4Protocol &&
         text.count(QLatin1Char('.')) == 3;
}

int CheckFirmwareAndAddresses(LoadJob& job) {
  if (job.firmwareFile.isEmpty()) return Refuse("--firmware is required");
  const QFileInfo firmware(job.firmwareFile);
  if (!firmware.isFile()) return Refuse(QStringLiteral("no firmware file '%1'").arg(job.firmwareFile));
  job.firmwareFile = firmware.absoluteFilePath();
  if (!IsDottedIpv4(job.pcAddress)) return Refuse("--pc-ip needs a dotted IPv4 address");
  if (!IsDottedIpv4(job.stationAddress)) return Refuse("--ip needs a dotted IPv4 address");
  if (!IsDottedIpv4(job.subnet)) return Refuse("--subnet needs a dotted IPv4 mask");
  if (!job.gateway.isEmpty() && !IsDottedIpv4(job.gateway)) {
    return Refuse("--gateway needs a dotted IPv4 address");
  }
  return kExitOk;
}

}  // namespace fwl::cli
