#include "catalogue/archive_tool.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>
#include <limits>

#include "app/settings.h"
#include "catalogue/archive_listing.h"
#include "catalogue/work_folder_list.h"
#include "platform/system_folders.h"
#include "platform/ui.h"
#include "platform/wait_pumping.h"

namespace fwl {
namespace {

constexpr char kDefaultTool[] = "7za";
constexpr char kSuccessText[] = "Everything is Ok";
constexpr char kTimeoutValue[] = "timeout";
constexpr int kMaxNumberedFolders = 100;
// Encrypted archives would make the tool ask for a password on the
// terminal; a fixed wrong one makes them fail at once instead.
constexpr char kNoPassword[] = "-p-";
// The tool writes member names in the console encoding; pin it so names
// come back as UTF-8 whatever the caller's locale.
constexpr char kToolLocale[] = "C.UTF-8";

quint32 ClampTime(qint64 secs) {
  if (secs < 0 || secs > std::numeric_limits<quint32>::max()) return 0;
  return static_cast<quint32>(secs);
}

QString LowerSuffix(const QString& path) { return QFileInfo(path).suffix().toLower(); }

bool IsUnder(const QString& path, const QString& root) {
  if (root.isEmpty()) return false;
  return path == root || path.startsWith(WithTrailingSeparator(root));
}

// Removes symbolic links below `folder` that lead outside `root` (or
// nowhere), so nothing read from an unpacked archive resolves elsewhere.
void RemoveEscapingLinks(const QString& folder, const QString& root) {
  const QString canonicalRoot = QFileInfo(root).canonicalFilePath();
  QDirIterator it(folder, QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) {
    it.next();
    const QFileInfo fi = it.fileInfo();
    if (!fi.isSymLink()) continue;
    const QString target = fi.canonicalFilePath();
    if (target.isEmpty() || !IsUnder(target, canonicalRoot)) QFile::remove(fi.filePath());
  }
}

bool AnyNameEscapes(const QStringList& names) {
  for (const QString& name : names)
    if (MemberNameEscapes(name)) return true;
  return false;
}

// Matches a Windows-style wildcard ("*", "?") against a file name without
// regard to case, as the folder search of the original platform does.
QRegularExpression WildcardRegex(const QString& pattern) {
  QString regex;
  for (const QChar c : pattern) {
    if (c == u'*')
      regex += QStringLiteral(".*");
    else if (c == u'?')
      regex += u'.';
    else
      regex += QRegularExpression::escape(QString(c));
  }
  return QRegularExpression(
      QRegularExpression::anchoredPattern(regex),
      QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
}

}  // namespace

namespace {
// Debian's "7za" on the PATH is a shell script that execs the real program;
// starting the program itself saves a shell start on every one of the
// several runs an archive costs.
QString DefaultToolPath() {
  const QString direct = QStandardPaths::findExecutable(QString::fromLatin1(kDefaultTool),
                                                        {QStringLiteral("/usr/lib/p7zip")});
  return direct.isEmpty() ? QString::fromLatin1(kDefaultTool) : direct;
}
}  // namespace

ArchiveTool::ArchiveTool() : toolName_(DefaultToolPath()) {}

ArchiveTool::~ArchiveTool() { Cleanup(); }

QString ArchiveTool::CreateWorkFolder(const QString& name) {
  QString base = TempFolder();
  if (base.isEmpty()) {
    const QString installed = InstallationFolder();
    if (!installed.isEmpty())
      base = WithTrailingSeparator(installed) + QStringLiteral("Programs/temp/");
  }
  if (base.isEmpty() || name.isEmpty()) return QString();
  workFolder_.clear();
  appsFolder_.clear();
  base = WithTrailingSeparator(base);
  QDir().mkpath(base);
  if (!QFileInfo(base).isDir()) return QString();

  QString candidate = base + name;
  if (!QFileInfo::exists(candidate)) {
    QDir().mkdir(candidate);
  } else {
    QString next;
    for (int n = 1; n <= kMaxNumberedFolders; ++n) {
      const QString numbered = base + name + QString::number(n);
      if (QFileInfo::exists(numbered) || QFileInfo(numbered).isSymLink()) continue;
      if (!QDir().mkdir(numbered)) return QString();
      next = numbered;
      break;
    }
    if (next.isEmpty()) return QString();
    candidate = next;
  }
  const QFileInfo info(candidate);
  if (!info.isDir() || info.isSymLink()) return QString();
  // Empty it: a leftover of an earlier run must not be taken for content.
  QDirIterator it(candidate, QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
  while (it.hasNext()) {
    it.next();
    const QFileInfo entry = it.fileInfo();
    if (entry.isDir() && !entry.isSymLink())
      RemoveFolderTree(entry.filePath());
    else
      QFile::remove(entry.filePath());
  }
  candidate = WithTrailingSeparator(candidate);
  workFolder_ = candidate;
  appsFolder_ = candidate + QString::fromLatin1(kArchiveAppsFolderName) + u'/';
  if (!QDir().mkdir(appsFolder_)) {
    workFolder_.clear();
    appsFolder_.clear();
  }
  return candidate;
}

int ArchiveTool::Open(const QString& archivePath) {
  Cleanup();
  lastOutput_.clear();
  archivePath_ = archivePath;
  if (CreateWorkFolder(QString::fromLatin1(kArchiveWorkFolderName)).isEmpty() ||
      workFolder_.isEmpty())
    return kArchiveNoWorkFolder;
  const QFileInfo info(archivePath);
  const QString base = info.completeBaseName();
  const bool package =
      base.size() > 8 &&
      (base.startsWith(QLatin1String("kvfirm_")) || base.startsWith(QLatin1String("kvfirm6"))) &&
      info.fileName().endsWith(QLatin1String(".tgz"));
  return Unpack(package ? appsFolder_ : workFolder_);
}

int ArchiveTool::Unpack(const QString& destination, const QString& archivePath) {
  const QString archive = archivePath.isEmpty() ? archivePath_ : archivePath;
  entryNames_.clear();
  timeMap_.clear();
  if (destination.isEmpty() || archive.isEmpty()) return kArchiveUnpackFailed;
  const QString suffix = LowerSuffix(archive);
  const bool nested = suffix != u"tar" && suffix != u"zip";
  if (suffix.isEmpty()) return CopyIntoWorkFolder(archive);

  // Only a test that said something can fail the archive; a silent one is
  // left to the extraction, which needs the success text itself.
  QString output;
  if (RunCommand(
          {QStringLiteral("t"), archive, QStringLiteral("*"), QString::fromLatin1(kNoPassword)},
          &output) &&
      !output.isEmpty() && !output.contains(QLatin1String(kSuccessText))) {
    const int copied = CopyIntoWorkFolder(archive);
    return copied < 0 ? copied : kArchiveTestFailed;
  }

  QStringList extracted;
  int result = ExtractInto(archive, destination, /*listFirst=*/!nested, &extracted);
  if (result != kArchiveOk) return result;
  if (extracted.isEmpty()) {
    // Nothing came out: there is nothing to list, and a compressed file
    // that yields nothing has not been unpacked.
    entryNames_.clear();
    timeMap_.clear();
    return nested ? kArchiveUnpackFailed : kArchiveOk;
  }
  if (!nested) return kArchiveOk;

  // A compressed single file: when it held a tar, unpack the tar as well;
  // otherwise the file that came out is the one member (a compressed image).
  const QString inner = WithTrailingSeparator(destination) + extracted.first();
  if (List(inner) >= 0 && lastListType_.compare(u"tar", Qt::CaseInsensitive) == 0) {
    if (AnyNameEscapes(entryNames_)) {
      entryNames_.clear();
      timeMap_.clear();
      return kArchiveUnpackFailed;
    }
    QStringList innerExtracted;
    return ExtractInto(inner, destination, /*listFirst=*/false, &innerExtracted);
  }
  // A ".tgz" or ".tar.gz" promises a tar inside; a broken one is not a
  // compressed image.
  if (suffix == u"tgz" ||
      QFileInfo(archive).fileName().endsWith(QLatin1String(".tar.gz"), Qt::CaseInsensitive)) {
    entryNames_.clear();
    timeMap_.clear();
    return kArchiveUnpackFailed;
  }
  entryNames_ = QStringList{extracted.first()};
  timeMap_.clear();
  QString key = u'/' + extracted.first();
  key.replace(u'\\', u'/');
  // The tool gives the file the time stored in the compressed file.
  timeMap_.insert(key, ClampTime(QFileInfo(inner).lastModified().toSecsSinceEpoch()));
  return kArchiveOk;
}

int ArchiveTool::ExtractInto(const QString& archive, const QString& destination, bool listFirst,
                             QStringList* extracted) {
  // Listing first lets members that would land outside the destination be
  // refused before anything is written.
  if (listFirst && (List(archive) < 0 || AnyNameEscapes(entryNames_))) {
    entryNames_.clear();
    timeMap_.clear();
    return kArchiveUnpackFailed;
  }
  QString output;
  const bool ran =
      RunCommand({QStringLiteral("x"), archive, QStringLiteral("-o") + destination,
                  QStringLiteral("-y"), QStringLiteral("-bb1"), QString::fromLatin1(kNoPassword)},
                 &output);
  if (!workFolder_.isEmpty()) RemoveEscapingLinks(destination, workFolder_);
  if (ran && !output.isEmpty() && output.contains(QLatin1String(kSuccessText))) {
    *extracted = ParseExtractedNames(output);
    if (!AnyNameEscapes(*extracted)) return kArchiveOk;
  }
  // A failed unpack lists nothing.
  entryNames_.clear();
  timeMap_.clear();
  return kArchiveUnpackFailed;
}

int ArchiveTool::CopyIntoWorkFolder(const QString& archive) {
  if (workFolder_.isEmpty()) return kArchiveUnpackFailed;
  const QString target = workFolder_ + QFileInfo(archive).completeBaseName();
  if (QFileInfo::exists(target) || QFileInfo(target).isSymLink()) return kArchiveUnpackFailed;
  return QFile::copy(archive, target) ? kArchiveOk : kArchiveUnpackFailed;
}

int ArchiveTool::List(const QString& archivePath) {
  entryNames_.clear();
  timeMap_.clear();
  lastListType_.clear();
  QString output;
  if (!RunCommand({QStringLiteral("l"), archivePath, QString::fromLatin1(kNoPassword)}, &output))
    return -1;
  const ArchiveListing listing = ParseArchiveListing(output);
  if (!listing.valid) return -1;
  lastListType_ = listing.type;
  for (const ListedMember& member : listing.members) {
    entryNames_.append(member.name);
    QString key = u'/' + member.name;
    key.replace(u'\\', u'/');
    timeMap_.insert(key, member.time);
  }
  return static_cast<int>(entryNames_.size());
}

int ArchiveTool::ListEntries(QList<ArchiveEntry>& entries) const {
  int result = kArchiveOk;
  for (const QString& name : entryNames_) {
    if (MemberNameEscapes(name) || workFolder_.isEmpty()) {
      result = kArchiveFilesNotFound;
      continue;
    }
    QString path = workFolder_ + name;
    if (!QFileInfo::exists(path)) path = appsFolder_.isEmpty() ? QString() : appsFolder_ + name;
    if (path.isEmpty() || !QFileInfo::exists(path)) {
      result = kArchiveFilesNotFound;
      continue;
    }
    const QFileInfo info(path);
    if (info.isDir()) continue;
    if (info.completeBaseName().compare(u"[Content]", Qt::CaseInsensitive) == 0) continue;
    ArchiveEntry entry;
    entry.fullPath = path;
    const QString root =
        !appsFolder_.isEmpty() && path.startsWith(appsFolder_) ? appsFolder_ : workFolder_;
    entry.archivePath = u'/' + path.mid(root.size());
    entry.archivePath.replace(u'\\', u'/');
    entry.fileName = info.fileName();
    entry.size = info.size();
    entry.modificationTime = ModificationTime(entry.archivePath);
    entries.append(entry);
  }
  return result;
}

int ArchiveTool::Matches(const QString& nameOrPattern, QList<QFileInfo>* found) const {
  if (workFolder_.isEmpty() || nameOrPattern.isEmpty()) return kArchiveAccessError;
  QString name = nameOrPattern;
  if (name.startsWith(u'\\') || name.startsWith(u'/')) name.remove(0, 1);
  if (name.isEmpty()) return kArchiveAccessError;
  if (MemberNameEscapes(name)) return kArchiveFilesNotFound;
  name.replace(u'\\', u'/');

  if (!name.contains(u'*')) {
    for (const QString& folder : {workFolder_, appsFolder_}) {
      if (folder.isEmpty()) continue;
      const QFileInfo info(folder + name);
      if (!info.exists()) continue;
      found->append(info);
      return kArchiveOk;
    }
    return kArchiveFilesNotFound;
  }

  const qsizetype slash = name.lastIndexOf(u'/');
  const QString subfolder = slash < 0 ? QString() : name.left(slash + 1);
  const QRegularExpression match = WildcardRegex(name.mid(slash + 1));
  int code = kArchiveOk;
  for (const QString& folder : {workFolder_, appsFolder_}) {
    if (folder.isEmpty()) continue;
    const QDir dir(folder + subfolder);
    for (const QFileInfo& info :
         dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name)) {
      if (!match.match(info.fileName()).hasMatch()) continue;
      if (!info.isReadable()) {
        code = kArchiveAccessError;
        continue;
      }
      found->append(info);
    }
    if (!found->isEmpty()) return code;
  }
  return code != kArchiveOk ? code : kArchiveFilesNotFound;
}

int ArchiveTool::Find(const QString& nameOrPattern, FindResult* result) const {
  if (result == nullptr) return kArchiveAccessError;
  QList<QFileInfo> found;
  const int code = Matches(nameOrPattern, &found);
  if (!found.isEmpty()) {
    // With a pattern the result describes the last match.
    const QFileInfo& info = found.last();
    result->size = info.size();
    result->time = ClampTime(info.lastModified().toSecsSinceEpoch());
    result->path = info.filePath();
    result->count = int(found.size());
  }
  return code;
}

int ArchiveTool::FindAll(const QString& nameOrPattern, QStringList* paths) const {
  if (paths == nullptr) return kArchiveAccessError;
  QList<QFileInfo> found;
  const int code = Matches(nameOrPattern, &found);
  for (const QFileInfo& info : found) paths->append(info.filePath());
  return code;
}

quint32 ArchiveTool::ModificationTime(const QString& memberKey) const {
  return timeMap_.value(memberKey, 0);
}

int ArchiveTool::Cleanup() {
  if (workFolder_.isEmpty()) return 0;
  const bool removed = RemoveFolderTree(workFolder_);
  workFolder_.clear();
  appsFolder_.clear();
  return removed ? 0 : -1;
}

bool ArchiveTool::ResetAppsFolder() {
  if (workFolder_.isEmpty()) return false;
  if (appsFolder_.isEmpty())
    appsFolder_ = workFolder_ + QString::fromLatin1(kArchiveAppsFolderName) + u'/';
  RemoveFolderTree(appsFolder_);
  return QDir().mkpath(appsFolder_);
}

QString ArchiveTool::ResultMessage(int code, const QString& callerText) {
  switch (code) {
    case kArchiveNoWorkFolder:
      return QStringLiteral(
          "Unable to access/create a temporary storage location for unpacking archived files.");
    case kArchiveUnpackFailed:
      return QStringLiteral("Unable to unpack files from the selected archive.");
    case kArchiveFilesNotFound:
      return QStringLiteral("Unable to locate appropriate files in the selected archive.");
    case kArchiveAccessError:
      return QStringLiteral(
          "An error was found while attempting to access file(s) within the selected archive.");
    case kArchiveTestFailed:
      return QStringLiteral(
          "The integrity test performed on the selected archive failed. The file may be corrupt "
          "or of an unsupported archive type.");
    case kArchiveNoUserFiles:
      return QStringLiteral("The selected archive does not contain any user files.");
    case kArchiveStationUnsupported:
      return QStringLiteral("The selected station type is not supported at this time.");
    case kArchiveTypeUnsupported:
      return QStringLiteral("The selected archive type is not supported.");
    case kArchiveFileUnreadable:
      return QStringLiteral("Unable to access the selected file for reading.");
    default:
      return callerText;
  }
}

bool ArchiveTool::RunCommand(const QStringList& arguments, QString* output) {
  lastOutput_.clear();
  if (output) output->clear();
  QProcess process;
  process.setProgram(toolName_);
  process.setArguments(arguments);
  process.setProcessChannelMode(QProcess::MergedChannels);
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("LC_ALL"), QString::fromLatin1(kToolLocale));
  process.setProcessEnvironment(env);
  // Everything is read as it arrives; nothing is dropped however long the
  // output grows.
  QByteArray captured;
  QObject::connect(&process, &QProcess::readyReadStandardOutput,
                   [&] { captured += process.readAllStandardOutput(); });

  WaitCursor busy;
  process.start(QIODevice::ReadWrite);
  process.closeWriteChannel();
  const int timeout = std::max(0, GetSettingInt(QString::fromLatin1(kSectionConsolePipe),
                                                QString::fromLatin1(kTimeoutValue)));
  const bool finished =
      WaitPumpingUntil([&] { return process.state() == QProcess::NotRunning; }, timeout, 5);
  if (!finished) {
    process.kill();
    process.waitForFinished(2000);
    return false;
  }
  if (process.error() == QProcess::FailedToStart) return false;
  captured += process.readAllStandardOutput();
  lastOutput_ = QString::fromUtf8(captured);
  if (output) *output = lastOutput_;
  return true;
}

}  // namespace fwl
