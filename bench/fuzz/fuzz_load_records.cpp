// libFuzzer target: load record files as "fwload history" reads them - the
// listing of the records folder, one record read and summed up, and the
// record printed back in full.
#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "engine/load_record.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

const QString& ScratchFolder() {
  static const QString folder = [] {
    char name[64];
    std::snprintf(name, sizeof name, "%s/fuzz_records_XXXXXX",
                  access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
    if (!mkdtemp(name)) std::abort();
    return QString::fromLatin1(name) + u'/';
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString path = ScratchFolder() + QStringLiteral("20260101T000000.000Z.json");
  {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) std::abort();
    if (file.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size)) std::abort();
  }
  const QList<fwl::LoadRecordSummary> listed = fwl::ListLoadRecords(ScratchFolder());
  Check(listed.size() == 1);

  QJsonObject record;
  if (fwl::ReadLoadRecord(path, record)) {
    const fwl::LoadRecordSummary summary = fwl::SummarizeLoadRecord(path, record);
    Check(summary.outcome == listed.first().outcome);
    const QByteArray shown = QJsonDocument(record).toJson(QJsonDocument::Indented);
    Check(!shown.isEmpty());
  } else {
    Check(listed.first().outcome == QLatin1String("unreadable"));
  }
  return 0;
}
