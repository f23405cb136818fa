// Writing and reading "ZebUtil.ini".
#include "engine/load_parameter_file.h"

#include <QDir>
#include <QFileInfo>

#include "platform/ini_file.h"
#include "platform/system_folders.h"

namespace fwl {

namespace {
thread_local QString t_ownFile;
}  // namespace

void SetThreadLoadParameterFile(const QString& path) { t_ownFile = path; }

QString LoadParameterFileName() {
  return t_ownFile.isEmpty() ? QString::fromLatin1(kLoadParameterFileName) : t_ownFile;
}

QString LoadParameterFilePath() {
  if (!t_ownFile.isEmpty()) return t_ownFile;
  return WithTrailingSeparator(SystemFolder()) + QString::fromLatin1(kLoadParameterFileName);
}

void WriteLoadParameterFile(const LoadParameters& p) {
  const QString full = LoadParameterFilePath();
  const QString bare = LoadParameterFileName();
  const QString device = QString::fromLatin1(kSectionDevice);
  const QString ppc = QString::fromLatin1(kSectionPpcLoadFiles);
  const QString tftp = QString::fromLatin1(kSectionTftpParameters);

  struct Row {
    const QString& section;
    const char* key;
    QString value;
    const QString& file;
  };
  // The order is part of the file format: a fresh file lists its keys so.
  const Row rows[] = {
      {device, kKeyComport, p.comPort, full},
      {device, kKeyParity, QStringLiteral("None"), full},
      {device, kKeyBaud, QStringLiteral("9600"), full},
      {device, kKeyStopbits, QStringLiteral("1"), full},
      {device, kKeyDatabits, QStringLiteral("8"), full},
      {ppc, "TFTPServerIP", p.pcAddress, bare},
      {ppc, "KernelStartAddr", QStringLiteral("f8040000"), bare},
      {ppc, "KernelSize", QStringLiteral("0"), bare},
      {ppc, "KernelFilename", QString(), bare},
      {tftp, kKeyIpAddr, p.stationAddress, bare},
      {ppc, "BootStartAddr", QStringLiteral("f8000000"), bare},
      {ppc, "BootSize", QStringLiteral("40000"), bare},
      {ppc, "BootFilename", QString(), bare},
      {ppc, "FlashFSStartAddr", QStringLiteral("f8080000"), bare},
      {ppc, "FlashFSSize", QStringLiteral("780000"), bare},
      {ppc, kKeyFlashFsFilename, p.firmwarePath, bare},
      {tftp, kKeySubnet, p.subnet, bare},
      {tftp, kKeyGatewayIp, p.gateway, bare},
      {tftp, kKeyIpAddr, p.stationAddress, bare},
      {tftp, kKeyTftpServerIp, p.pcAddress, bare},
  };
  for (const Row& row : rows) {
    WritePrivateProfileString(row.section, QString::fromLatin1(row.key), row.value, row.file);
  }
}

QString ComPortParameterText(const QString& port) {
  if (port.size() < kComportBufferSize) return port;
  const QString device = QFileInfo(port).canonicalFilePath();
  if (device.isEmpty() || device.size() >= kComportBufferSize) return QString();
  return device;
}

QString ReadLoadParameter(const QString& section, const QString& key, int bufferSize) {
  return GetPrivateProfileString(section, key, QString(), bufferSize, LoadParameterFileName());
}

}  // namespace fwl
