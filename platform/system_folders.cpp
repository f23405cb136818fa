#include "platform/system_folders.h"

#include <stdlib.h>

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>

namespace fwl {
namespace {
constexpr char kTemplateTail[] = "XXXXXX";
}

QString WithTrailingSeparator(const QString& folder) {
  if (folder.isEmpty() || folder.endsWith(u'/') || folder.endsWith(QDir::separator()))
    return folder;
  return folder + QDir::separator();
}

QString SystemFolder() {
  QString dir = qEnvironmentVariable("FWLOADER_SYSTEM_DIR");
  if (dir.isEmpty()) {
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    dir = QDir(data.isEmpty() ? QDir::homePath() : data).filePath(QStringLiteral("Brantwell"));
  }
  QDir().mkpath(dir);
  return WithTrailingSeparator(QDir::cleanPath(dir));
}

QString TempFolder() {
  const QString tmp = QDir::tempPath();
  if (tmp.isEmpty() || !QFileInfo(tmp).isDir()) return QString();
  return WithTrailingSeparator(tmp);
}

QString MakeUniqueName(const QString& templ) {
  if (!templ.endsWith(QLatin1String(kTemplateTail))) return QString();
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  const QString stem = templ.left(templ.size() - 6);
  for (int attempt = 0; attempt < 1000; ++attempt) {
    QString name = stem;
    for (int i = 0; i < 6; ++i)
      name += QLatin1Char(kChars[QRandomGenerator::global()->bounded(36)]);
    if (!QFileInfo::exists(name)) return name;
  }
  return QString();
}

QString MakeUniqueFolder(const QString& templ) {
  if (!templ.endsWith(QLatin1String(kTemplateTail))) return QString();
  QByteArray path = QFile::encodeName(templ);
  if (mkdtemp(path.data()) == nullptr) return QString();
  return WithTrailingSeparator(QFile::decodeName(path));
}

}  // namespace fwl
