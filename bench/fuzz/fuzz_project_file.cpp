// libFuzzer target: a station project file as the loader reads it - the
// station lists of both lines, and for each station its serial number,
// address, subnet mask and gateway.
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QString>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "catalogue/project_file.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// The reader keeps the last file it parsed until its size or time changes;
// a fresh name per input keeps each input's reading its own.
QString NextScratchFile() {
  static const QByteArray folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  static unsigned counter = 0;
  char name[96];
  std::snprintf(name, sizeof name, "%s/fuzz_project_%d_%u.6pj", folder.constData(), int(getpid()),
                counter++);
  return QString::fromLatin1(name);
}

void CheckAddressFields(const QString& text) {
  const QStringList fields = text.split(u'.');
  Check(fields.size() >= 4);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString path = NextScratchFile();
  {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) std::abort();
    if (file.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size)) std::abort();
  }
  for (int productType : {0, 2}) {
    fwl::StationList list;
    fwl::LoadStationList(path, productType, &list);
    Check(list.names.size() >= list.typeCodes.size());
    for (const QString& name : list.names.mid(0, 8)) {
      Check(!name.isEmpty() && name.size() <= fwl::kMaxStationNameLength);
      const QString serial = fwl::StationSerialNumber(path, name);
      Check(serial.size() < fwl::kProjectValueBufferSize);
      fwl::SerialNumberValue(serial);
      Check(fwl::StationAddress(path, name).size() < fwl::kProjectValueBufferSize);
      QString subnet;
      QString gateway;
      if (fwl::StationSubnetAndGateway(path, name, &subnet, &gateway)) {
        CheckAddressFields(subnet);
        CheckAddressFields(gateway);
      }
    }
  }
  QFile::remove(path);
  return 0;
}
