#include "catalogue/firmware_package_reader.h"

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "app/settings.h"
#include "catalogue/firmware_names.h"

namespace fwl {
namespace {

// A member's first line is read through a bounded buffer: the member comes
// from an archive of unknown origin.
constexpr qint64 kMaxMemberLine = 4096;
constexpr int kMaxMemberField = 50;

// Extension after the last "." of the file name, without the dot.
QString Extension(const QString& path) { return QFileInfo(path).suffix(); }

// File name without its last extension ("x.tar.gz" -> "x.tar").
QString BaseName(const QString& path) { return QFileInfo(path).completeBaseName(); }

bool HasExtension(const QString& path) { return QFileInfo(path).fileName().contains(u'.'); }

QString PatternStem(const QString& pattern) {
  const qsizetype star = pattern.indexOf(u'*');
  return star < 0 ? pattern : pattern.left(star);
}

void FillVersionFields(const QString& path, bool package, LocateRecord* record) {
  const QString part = VersionPart(BaseName(path));
  record->is999 = HasVersion999(part) ? 1 : 0;
  if (package) {
    record->packagePath = path;
    record->packageVersionPart = part;
    record->packageVersion = DisplayVersion(part);
  } else {
    record->imagePath = path;
    record->imageVersionPart = part;
    record->imageVersion = DisplayVersion(part);
  }
}

}  // namespace

FirmwarePackageReader::FirmwarePackageReader(const QStringList& knownStems,
                                             const QString& oemString)
    : oemString_(oemString), knownStems_(knownStems) {}

FirmwarePackageReader::FirmwarePackageReader()
    : FirmwarePackageReader(KnownStems(), OemString(kOemBundleWord)) {}

FirmwarePackageReader::~FirmwarePackageReader() { Cleanup(); }

int FirmwarePackageReader::Cleanup(const QString&, const QString&) { return tool_.Cleanup(); }

int FirmwarePackageReader::Open(const QString& path) {
  currentFile_ = path;
  return tool_.Open(path);
}

int FirmwarePackageReader::Reopen(const QString& path) {
  const QString wanted = path.isEmpty() ? currentFile_ : path;
  // A reader whose unpacked files were cleaned up would otherwise answer
  // "not accessible" for its own current file.
  const bool reopen = !wanted.isEmpty() && (wanted != currentFile_ || tool_.workFolder().isEmpty());
  if (!reopen) return kArchiveOk;
  Cleanup();
  return Open(wanted);
}

int FirmwarePackageReader::FindInPackage(const QString& nameOrPattern, FindResult* result,
                                         const QString& path) {
  const int rc = Reopen(path);
  if (rc != kArchiveOk) return rc;
  return tool_.Find(nameOrPattern, result);
}

int FirmwarePackageReader::CheckType(const QString& path, int modeFlags) {
  const QString ext = Extension(path).toLower();
  const bool hasExt = HasExtension(path);
  if (modeFlags & kLocatePackage) {
    if (ext == QLatin1String("tgz") || ext == QLatin1String("tar") || ext == QLatin1String("zip"))
      return kArchiveOk;
    if (ext == QLatin1String("gz") &&
        BaseName(path).endsWith(QLatin1String(".tar"), Qt::CaseInsensitive))
      return kArchiveOk;
    return kArchiveTypeUnsupported;
  }
  if (modeFlags & kLocateImage) {
    if (!hasExt || ext == QLatin1String("tgz") || ext == QLatin1String("gz") ||
        ext == QLatin1String("tar") || ext == QLatin1String("zip"))
      return kArchiveOk;
    if (modeFlags & kLocateImageOptional) return kArchiveOk;
    return kArchiveTypeUnsupported;
  }
  return kArchiveOk;
}

bool FirmwarePackageReader::FindByPattern(const QString& pattern, bool knownName, bool wantPackage,
                                          QString* found, int* result) {
  if (knownName) {
    // A package picked by its own name is judged by that name alone: the
    // package itself (".tgz") or an extension-less image.
    const bool typeFits =
        wantPackage
            ? Extension(currentFile_).compare(QLatin1String("tgz"), Qt::CaseInsensitive) == 0 &&
                  HasExtension(currentFile_)
            : !HasExtension(currentFile_);
    if (typeFits && BaseName(currentFile_).contains(PatternStem(pattern))) {
      *found = currentFile_;
      return true;
    }
    return false;
  }
  *result = Reopen(QString());
  if (*result != kArchiveOk) return false;
  QStringList paths;
  *result = tool_.FindAll(pattern, &paths);
  if (*result != kArchiveOk) return false;
  // A package often carries a checksum or notes beside its image, and an
  // archive may hold several versions: the image itself, the newest one.
  QStringList names;
  for (const QString& path : paths) names << QFileInfo(path).fileName();
  const int newest = NewestFirmwareFile(names);
  if (newest < 0) {
    *result = kArchiveFilesNotFound;
    return false;
  }
  *found = paths[newest];
  return true;
}

int FirmwarePackageReader::Locate(int stationTypeCode, int modeFlags, LocateRecord* record) {
  if (currentFile_.isEmpty() || !QFileInfo(currentFile_).isFile()) return kArchiveFileUnreadable;
  int result = CheckType(currentFile_, modeFlags);
  if (result < 0) return result;
  const bool knownName = IsKnownPackageName(currentFile_);
  bool recordCleared = false;
  auto fill = [&](const QString& path, bool package) {
    if (!record) return;
    // Cleared once per call, so a call asking for both modes keeps both.
    if (!recordCleared) record->Clear();
    recordCleared = true;
    FillVersionFields(path, package, record);
  };

  if (modeFlags & kLocatePackage) {
    QStringList patterns;
    const int count = PackagePatterns(stationTypeCode, patterns);
    if (count < 0) return count;
    if (patterns.isEmpty()) return kArchiveStationUnsupported;
    QString found;
    bool hit = false;
    for (const QString& pattern : patterns) {
      if ((hit = FindByPattern(pattern, knownName, true, &found, &result))) break;
    }
    if (!hit) return kArchiveFilesNotFound;
    result = kArchiveOk;
    fill(found, true);
  }

  if (modeFlags & kLocateImage) {
    QStringList patterns;
    ImagePatterns(stationTypeCode, patterns);
    QString found;
    bool hit = false;
    for (const QString& pattern : patterns) {
      if ((hit = FindByPattern(pattern, knownName, false, &found, &result))) break;
    }
    if (hit) {
      result = kArchiveOk;
      fill(found, false);
    } else if (modeFlags & kLocateImageOptional) {
      result = kArchiveOk;
      if (record && !recordCleared) {
        record->Clear();
      } else if (record) {
        record->imagePath.clear();
        record->imageVersion.clear();
        record->imageVersionPart.clear();
      }
    } else {
      return kArchiveFilesNotFound;
    }
  }
  return result;
}

bool FirmwarePackageReader::IsKnownPackageName(const QString& path) const {
  return fwl::IsKnownPackageName(path, knownStems_);
}

int FirmwarePackageReader::ListEntries(QList<ArchiveEntry>* entries) {
  if (!entries || currentFile_.isEmpty()) return -1;
  entries->clear();
  return tool_.ListEntries(*entries);
}

QString FirmwarePackageReader::ReadMemberText(const QString& memberName) {
  FindResult match;
  if (tool_.Find(memberName, &match) != kArchiveOk || match.path.isEmpty()) return QString();
  QFile file(match.path);
  if (!file.open(QIODevice::ReadOnly)) return QString();
  QByteArray line = file.readLine(kMaxMemberLine);
  if (line.isEmpty()) return QString();
  // Read as a text line: a member written with "\r\n" line ends gives the
  // same field as one written with "\n".
  if (line.endsWith("\r\n")) line.replace(line.size() - 2, 2, "\n");
  const QList<QByteArray> fields = line.split('\t');
  if (fields.size() < 3) return QString();
  QByteArray field = fields[2].left(kMaxMemberField);
  const qsizetype newline = field.indexOf('\n');
  if (newline >= 0) field.truncate(newline);
  return QString::fromLocal8Bit(field);
}

quint32 FirmwarePackageReader::FileTime(const QString& file) const {
  if (currentFile_.isEmpty()) return 0;
  // The file system keeps modification times in UTC already; shifting them by
  // the zone offset again would disagree with the archive listing's times.
  struct stat st;
  if (::stat(QFile::encodeName(file).constData(), &st) != 0) return 0;
  if (st.st_mtime < 0) return 0;
  return static_cast<quint32>(st.st_mtime);
}

int FirmwarePackageReader::UserFiles(QStringList* fullPaths, QStringList* archivePaths,
                                     const QStringList* exclusions) {
  if (currentFile_.isEmpty()) return -1;
  if (IsKnownPackageName(currentFile_)) return 0;
  QList<ArchiveEntry> entries;
  const int result = tool_.ListEntries(entries);
  QStringList excluded;
  for (const QString& text : exclusions ? *exclusions : knownStems_) {
    if (!text.isEmpty()) excluded << text.toLower();
  }
  const QString apps = tool_.appsFolder();
  for (const ArchiveEntry& entry : entries) {
    if (!apps.isEmpty() && entry.fullPath.startsWith(apps)) continue;
    const QString name = entry.fileName.toLower();
    bool skip = false;
    for (const QString& text : excluded) {
      if (name.contains(text)) {
        skip = true;
        break;
      }
    }
    if (skip) continue;
    if (fullPaths) *fullPaths << entry.fullPath;
    if (archivePaths) *archivePaths << entry.archivePath;
  }
  return result;
}

int FirmwarePackageReader::UnpackToApps(QList<ArchiveEntry>* entries, const QString& path) {
  if (!entries || path.isEmpty() || currentFile_.isEmpty()) return -1;
  if (!tool_.ResetAppsFolder()) return kArchiveNoWorkFolder;
  const QString apps = tool_.appsFolder();
  const int rc = tool_.Unpack(apps, path);
  if (rc != kArchiveOk) return rc;
  int result = kArchiveOk;
  for (const QString& name : tool_.entryNames()) {
    const QString full = QDir::cleanPath(apps + name);
    // Never report a file outside the apps folder, whatever the listing said.
    if (!full.startsWith(apps)) continue;
    const QFileInfo info(full);
    if (!info.exists()) {
      result = kArchiveFilesNotFound;
      continue;
    }
    if (!info.isFile()) continue;
    ArchiveEntry entry;
    entry.fullPath = full;
    entry.archivePath = QLatin1Char('/') + full.mid(apps.size()).replace(u'\\', u'/');
    entry.fileName = info.fileName();
    entry.size = info.size();
    entry.modificationTime = tool_.ModificationTime(entry.archivePath);
    entries->append(entry);
  }
  return result;
}

QString FirmwarePackageReader::ResultMessage(int code, const QString& text) {
  return ArchiveTool::ResultMessage(code, text);
}

int FirmwarePackageReader::PackagePatterns(int stationTypeCode, QStringList& patterns) {
  return fwl::PackagePatterns(stationTypeCode, patterns);
}

int FirmwarePackageReader::ImagePatterns(int stationTypeCode, QStringList& patterns) {
  return fwl::ImagePatterns(stationTypeCode, patterns);
}

QString FirmwarePackageReader::VersionPart(const QString& baseName) {
  return fwl::VersionPart(baseName);
}

QString FirmwarePackageReader::DisplayVersion(const QString& versionPart) {
  return fwl::DisplayVersion(versionPart);
}

}  // namespace fwl
