#include "batch/batch_record.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include "engine/load_record.h"

namespace fwl {
namespace {

constexpr int kMaxNameTries = 100;

bool WriteAll(int fd, const QByteArray& data) {
  qsizetype done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
    if (n < 0) return false;
    done += n;
  }
  return true;
}

}  // namespace

bool IsBatchRecordName(const QString& fileName) {
  return fileName.startsWith(QLatin1String("batch-")) && fileName.endsWith(QLatin1String(".json"));
}

QString SaveBatchRecord(const QJsonObject& record, const QString& startUtcStamp, QString* error) {
  const QString folder = LoadRecordsFolder();
  if (!QDir().mkpath(folder)) {
    *error = QStringLiteral("%1 cannot be created").arg(folder);
    return QString();
  }
  const QByteArray text = QJsonDocument(record).toJson(QJsonDocument::Indented);
  for (int attempt = 0; attempt < kMaxNameTries; ++attempt) {
    const QString name = attempt == 0
                             ? QStringLiteral("batch-%1.json").arg(startUtcStamp)
                             : QStringLiteral("batch-%1-%2.json").arg(startUtcStamp).arg(attempt);
    const QString path = QDir(folder).filePath(name);
    // Created exclusively: two batches in the same millisecond get two files.
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      *error = QString::fromLocal8Bit(strerror(errno));
      return QString();
    }
    const bool ok = WriteAll(fd, text) && ::fsync(fd) == 0;
    const int savedErrno = errno;
    ::close(fd);
    if (!ok) {
      ::unlink(QFile::encodeName(path).constData());
      *error = QString::fromLocal8Bit(strerror(savedErrno));
      return QString();
    }
    return path;
  }
  *error = QStringLiteral("no free record name");
  return QString();
}

QList<BatchRecordSummary> ListBatchRecords(const QString& folder) {
  QList<BatchRecordSummary> out;
  QStringList names = QDir(folder).entryList({QStringLiteral("batch-*.json")}, QDir::Files);
  std::sort(names.begin(), names.end(), std::greater<QString>());
  for (const QString& name : names) {
    BatchRecordSummary s;
    s.fileName = name;
    QJsonObject record;
    if (ReadLoadRecord(QDir(folder).filePath(name), record)) {
      s.start = record.value("start").toString();
      s.inventory =
          QFileInfo(record.value("inventory").toObject().value("path").toString()).fileName();
      s.result = record.value("result").toInt();
      for (const QJsonValue& v : record.value("units").toArray()) {
        const QString result = v.toObject().value("result").toString();
        ++s.units;
        if (result == "loaded") ++s.loaded;
        if (result == "failed") ++s.failed;
        if (result == "skipped") ++s.skipped;
        if (result == "interrupted") ++s.interrupted;
      }
    } else {
      s.result = -1;
    }
    out << s;
  }
  return out;
}

}  // namespace fwl
