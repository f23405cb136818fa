// The texts of the Ethernet-only upgrade: what the station's replies tell
// (processor, running firmware build) and the update configuration file
// written into the station.
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace fwl {

// Processor folder letter from a "cat /proc/cpuinfo" reply, tested in this
// order: ": 8xx" 'A', ": ARM9" 'C', ": ARM7" 'B'; 0 when none fits.
quint32 CpuLetterFromCpuInfo(const QString& reply);

// The running build from a "cat /etc/korvidinfo.txt" reply: its first
// tab-separated field (tabs between back-quotes do not split), leading
// blanks and unprintable characters skipped, trailing spaces removed, at
// most 50 characters.
QString RunningBuild(const QString& reply);

struct UpdateConfig {
  QString serverIp;
  QString gateway;
  QString netmask;
  QString ipAddress;
  QString fsImage;        // full path of the file-system image
  QString bootImage;      // full path of the boot image
  bool sixImage = false;  // the two-image form: the image goes under IMAGE6_*
  bool dhcp = false;
};

// The text of "/tmp/fwupdate.config" (eleven "KEY value" lines, no final
// line break). Names are file names without folder and extension, sizes
// the files' sizes in bytes.
QByteArray UpdateConfigText(const UpdateConfig& config);

}  // namespace fwl
