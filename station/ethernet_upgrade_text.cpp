#include "station/ethernet_upgrade_text.h"

#include <QFileInfo>
#include <utility>

#include "catalogue/firmware_bundle.h"

namespace fwl {
namespace {

constexpr int kMaxBuildChars = 50;

QString ImageName(const QString& path) {
  return path.isEmpty() ? QString() : QFileInfo(path).completeBaseName();
}

QString ImageSize(const QString& path) {
  return path.isEmpty() ? QStringLiteral("0") : QString::number(QFileInfo(path).size());
}

}  // namespace

quint32 CpuLetterFromCpuInfo(const QString& reply) {
  if (reply.contains(QLatin1String(": 8xx"))) return kTagCpuA;
  if (reply.contains(QLatin1String(": ARM9"))) return kTagCpuC;
  if (reply.contains(QLatin1String(": ARM7"))) return kTagCpuB;
  return 0;
}

QString RunningBuild(const QString& reply) {
  qsizetype at = 0;
  while (at < reply.size() && (reply[at].unicode() <= 0x20 || reply[at].unicode() >= 0x7F)) ++at;
  QString field;
  bool quoted = false;
  for (; at < reply.size(); ++at) {
    const QChar c = reply[at];
    if (c == QLatin1Char('`')) quoted = !quoted;
    if (c == QLatin1Char('\t') && !quoted) break;
    field.append(c);
  }
  while (field.endsWith(QLatin1Char(' '))) field.chop(1);
  return field.left(kMaxBuildChars);
}

QByteArray UpdateConfigText(const UpdateConfig& c) {
  // Joined piece by piece: a value is never read as a format.
  const QString fsName = ImageName(c.fsImage);
  const QString fsSize = ImageSize(c.fsImage);
  const QString none;
  const std::pair<const char*, QString> lines[] = {
      {"SERVERIP", c.serverIp},
      {"GATEWAYIP", c.gateway},
      {"NETMASK", c.netmask},
      {"IPADDR", c.ipAddress},
      {"IMAGE_FILENAME", c.sixImage ? none : fsName},
      {"IMAGE_SIZE", c.sixImage ? none : fsSize},
      {"IMAGEB_FILENAME", ImageName(c.bootImage)},
      {"IMAGEB_SIZE", ImageSize(c.bootImage)},
      {"IMAGE6_FILENAME", c.sixImage ? fsName : none},
      {"IMAGE6_SIZE", c.sixImage ? fsSize : none},
      {"USE_DHCP", c.dhcp ? QStringLiteral("1") : QStringLiteral("0")},
  };
  QByteArray text;
  for (const auto& [key, value] : lines) {
    if (!text.isEmpty()) text.append('\n');
    text.append(key);
    text.append(' ');
    text.append(value.toLatin1());
  }
  return text;
}

}  // namespace fwl
