#include "catalogue/folder_scan.h"

#include <dirent.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSet>
#include <algorithm>
#include <set>
#include <utility>
#include <vector>

#include "app/settings.h"
#include "catalogue/firmware_bundle.h"
#include "catalogue/firmware_names.h"
#include "platform/system_folders.h"
#include "platform/ui.h"

namespace fwl {
namespace {

constexpr char kExamineZip[] = "examine zip files";
constexpr char kExamineTar[] = "examine tar files";
constexpr char kExamineTgz[] = "examine tgz files";
constexpr char kExamineGz[] = "examine gz files";

// Deeper trees than this are not walked further: real firmware folders are
// shallow, and the bound keeps a hostile tree from exhausting the stack.
constexpr int kMaxWalkDepth = 128;
// How often the event loop runs during the examination, so the progress
// window's Cancel button stays live.
constexpr int kPumpIntervalMs = 30;

// Extension of a path's file name with the dot, lower-cased ("" when none).
QString LowerExtension(const QString& path) {
  const qsizetype slash = path.lastIndexOf(u'/');
  const qsizetype dot = path.lastIndexOf(u'.');
  if (dot < 0 || dot < slash) return QString();
  return path.mid(dot).toLower();
}

QString FileNameOf(const QString& path) { return path.mid(path.lastIndexOf(u'/') + 1); }

using DirKey = std::pair<dev_t, ino_t>;

struct Name {
  QByteArray bytes;
  QString text;
};

bool NameOrder(const Name& a, const Name& b) {
  const int c = a.text.compare(b.text, Qt::CaseInsensitive);
  return c != 0 ? c < 0 : a.bytes < b.bytes;
}

void WalkInto(const QByteArray& dir, bool recurse, int depth, std::set<DirKey>& visited,
              QStringList& out) {
  DIR* handle = ::opendir(dir.constData());
  if (!handle) return;  // unreadable folders are skipped
  std::vector<Name> folders;
  std::vector<Name> files;
  while (const dirent* entry = ::readdir(handle)) {
    const QByteArray name(entry->d_name);
    if (name == "." || name == "..") continue;
    // Every later step addresses files by text path; a name that does not
    // survive the round trip could never be opened, so it is left out.
    const QString text = QFile::decodeName(name);
    if (QFile::encodeName(text) != name) continue;
    bool isDir = false;
    bool isFile = false;
    if (entry->d_type == DT_REG) {
      isFile = true;
    } else if (entry->d_type == DT_DIR) {
      isDir = true;
    } else if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
      struct stat st;
      if (::stat((dir + name).constData(), &st) != 0) continue;  // dangling link
      isDir = S_ISDIR(st.st_mode);
      isFile = S_ISREG(st.st_mode);
    }
    // Devices, pipes and sockets are no firmware, and opening a pipe would
    // block the scan.
    if (isDir) {
      folders.push_back({name, text});
    } else if (isFile) {
      files.push_back({name, text});
    }
  }
  ::closedir(handle);

  if (recurse && depth < kMaxWalkDepth) {
    std::sort(folders.begin(), folders.end(), NameOrder);
    for (const Name& folder : folders) {
      const QByteArray path = dir + folder.bytes + '/';
      struct stat st;
      if (::stat(path.constData(), &st) != 0) continue;
      if (!visited.insert({st.st_dev, st.st_ino}).second) continue;  // seen: a link loop
      WalkInto(path, recurse, depth + 1, visited, out);
    }
  }
  std::sort(files.begin(), files.end(), NameOrder);
  const QString prefix = QFile::decodeName(dir);
  for (const Name& file : files) out << prefix + file.text;
}

}  // namespace

SearchOptions ReadSearchOptions() {
  SearchOptions o;
  o.zip = GetSettingInt(kSectionPages, kExamineZip, 0) != 0;
  o.tar = GetSettingInt(kSectionPages, kExamineTar, 0) != 0;
  o.tgz = GetSettingInt(kSectionPages, kExamineTgz, 0) != 0;
  o.gz = GetSettingInt(kSectionPages, kExamineGz, 0) != 0;
  return o;
}

SearchOptions SearchOptionsForDialog() {
  SearchOptions o = ReadSearchOptions();
  o.zip = GetSettingInt(kSectionPages, kExamineZip, 1) != 0;
  return o;
}

void WriteSearchOptions(const SearchOptions& options) {
  SetSettingInt(kSectionPages, kExamineZip, options.zip ? 1 : 0);
  SetSettingInt(kSectionPages, kExamineTar, options.tar ? 1 : 0);
  SetSettingInt(kSectionPages, kExamineTgz, options.tgz ? 1 : 0);
  SetSettingInt(kSectionPages, kExamineGz, options.gz ? 1 : 0);
}

bool ParseSearchOptions(const QString& text, SearchOptions* options) {
  SearchOptions o;
  for (QString word : text.split(u',', Qt::SkipEmptyParts)) {
    word = word.trimmed().toLower();
    if (word.startsWith(u'.')) word.remove(0, 1);
    if (word == QLatin1String("zip")) {
      o.zip = true;
    } else if (word == QLatin1String("tar")) {
      o.tar = true;
    } else if (word == QLatin1String("tgz")) {
      o.tgz = true;
    } else if (word == QLatin1String("gz") || word == QLatin1String("tar.gz")) {
      o.gz = true;
    } else if (!word.isEmpty()) {
      return false;
    }
  }
  *options = o;
  return true;
}

QStringList WalkFirmwareFolder(const QString& folder, bool includeSubfolders) {
  QStringList out;
  if (folder.isEmpty()) return out;
  QByteArray root = QFile::encodeName(folder);
  if (!root.endsWith('/')) root += '/';
  std::set<DirKey> visited;
  struct stat st;
  if (::stat(root.constData(), &st) != 0 || !S_ISDIR(st.st_mode)) return out;
  visited.insert({st.st_dev, st.st_ino});
  WalkInto(root, includeSubfolders, 0, visited, out);
  return out;
}

FolderScan::FolderScan() {
  inputs_.oldFirmware = OemString(kOemOldFirmware);
  inputs_.oemString = OemString(kOemBundleWord);
}

void FolderScan::RescanFirmwareFolder() {
  WaitCursor wait;
  versionEntries_.clear();
  fileList_.clear();
  selectableFiles_.clear();
  selected_ = -1;
  cancelled_ = false;

  Ui& ui = Ui::Current();
  const QString progressText = QLatin1String(kScanProgressText);
  ui.BeginProgress(progressText, 0);
  if (inputs_.productType >= 0 && !inputs_.firmwareFolder.isEmpty()) {
    inputs_.firmwareFolder = WithTrailingSeparator(inputs_.firmwareFolder);
    fileList_ = WalkFirmwareFolder(inputs_.firmwareFolder, inputs_.includeSubfolders);
    // The bar gets its range once the number of files is known.
    ui.BeginProgress(progressText, static_cast<int>(fileList_.size()));
    Examine(inputs_.examine ? *inputs_.examine : ReadSearchOptions());
    RefillVersionList();
  } else {
    candidates_.clear();
    archiveContents_.clear();
  }
  ui.EndProgress();
}

void FolderScan::Examine(const SearchOptions& examine) {
  candidates_.clear();
  archiveContents_.clear();
  const QString bundleExtension = OemString(kOemBundleExtension).toLower();
  const bool showOld = inputs_.oldFirmware != QLatin1String("0");
  const bool station = IsStationProduct(inputs_.productType);
  QSet<QString> archiveTypes;
  if (examine.zip) archiveTypes << QStringLiteral(".zip");
  if (examine.tar) archiveTypes << QStringLiteral(".tar");
  if (examine.tgz) archiveTypes << QStringLiteral(".tgz");
  if (examine.gz) archiveTypes << QStringLiteral(".gz");

  Ui& ui = Ui::Current();
  QElapsedTimer sincePump;
  sincePump.start();
  qint64 lastPermille = -1;
  for (int i = 0; i < fileList_.size(); ++i) {
    if (sincePump.elapsed() >= kPumpIntervalMs) {
      QCoreApplication::processEvents();
      sincePump.restart();
    }
    if (ui.ProgressCancelled()) {
      cancelled_ = true;
      break;
    }
    const QString& path = fileList_[i];
    const QString ext = LowerExtension(path);
    if (!bundleExtension.isEmpty() && ext == bundleExtension) {
      QString quiet;  // an unreadable bundle is skipped without a word
      auto bundle = OpenBundle(path, nullptr, &quiet);
      if (bundle && BundleMatchesOem(*bundle, inputs_.oemString)) candidates_ << path;
    } else if (showOld || station) {
      if (!ext.isEmpty() && archiveTypes.contains(ext)) {
        if (ExamineArchive(path)) candidates_ << path;
      } else if (showOld && ext.isEmpty()) {
        if (ImageNameMatchesProduct(FileNameOf(path), inputs_.productType, inputs_.stationStem,
                                    MatchMode::kLoose))
          candidates_ << path;
      }
    }
    // The bar moves in steps of a thousandth at most: a modal progress
    // window runs the event loop on every step, which would cost more than
    // the examination of a folder of plain images.
    const qint64 permille = (i + 1) * 1000LL / fileList_.size();
    if (permille != lastPermille) {
      ui.SetProgress(i + 1, QString());
      lastPermille = permille;
    }
  }
}

bool FolderScan::ExamineArchive(const QString& path) {
  bool accepted = false;
  QList<ArchiveEntry> entries;
  if (tool_.Open(path) == kArchiveOk && tool_.ListEntries(entries) == kArchiveOk) {
    QStringList members;
    for (const ArchiveEntry& entry : entries) {
      if (ImageNameMatchesProduct(entry.fileName, inputs_.productType, inputs_.stationStem,
                                  MatchMode::kLoose))
        members << entry.fileName;
    }
    if (!members.isEmpty()) {
      // Keyed by the path as found: file names that differ only in case are
      // different archives here.
      archiveContents_.insert(path, members);
      accepted = true;
    }
  }
  tool_.Cleanup();
  return accepted;
}

void FolderScan::RefillVersionList() {
  versionEntries_.clear();
  selectableFiles_.clear();
  selected_ = -1;
  const QString bundleExtension = OemString(kOemBundleExtension).toLower();

  QStringList versions;
  QHash<QString, QStringList> pathsByVersion;
  for (const QString& candidate : candidates_) {
    QString target = candidate;
    bool reopened = false;
    const auto contents = archiveContents_.constFind(candidate);
    if (contents != archiveContents_.cend() && !contents->isEmpty()) {
      target = contents->first();
      if (!bundleExtension.isEmpty() && LowerExtension(target) == bundleExtension) {
        // The bundle's header decides, so the archive is unpacked once more.
        reopened = true;
        QList<ArchiveEntry> entries;
        if (tool_.Open(candidate) != kArchiveOk) {
          ShowMessage(QStringLiteral("Unable to read file %1").arg(candidate));
        } else {
          tool_.ListEntries(entries);
          for (const ArchiveEntry& entry : entries) {
            if (LowerExtension(entry.fileName) == bundleExtension) {
              target = entry.fullPath;
              break;
            }
          }
        }
      }
    }
    if (ImageNameMatchesProduct(target, inputs_.productType, inputs_.stationStem,
                                MatchMode::kStrict)) {
      // A member's version comes from its archive's name; the processor
      // letters only tell images apart, not versions.
      QString version = VersionFromFileName(candidate);
      version.remove(u'a');
      version.remove(u'c');
      if (!version.isEmpty()) {
        auto it = pathsByVersion.find(version);
        if (it == pathsByVersion.end()) {
          versions << version;
          it = pathsByVersion.insert(version, QStringList());
        }
        it->append(candidate);
      }
    }
    if (reopened) tool_.Cleanup();
  }

  // Newest first. Equal versions written differently ("3.1.999", "3.1.0999")
  // keep their first-seen order.
  std::stable_sort(versions.begin(), versions.end(),
                   [](const QString& a, const QString& b) { return CompareVersions(a, b) > 0; });
  // Every file is listed, also several of one version: each entry carries its
  // own path, so the operator can tell them apart.
  for (const QString& version : versions) {
    for (const QString& path : pathsByVersion.value(version)) {
      selectableFiles_ << path;
      versionEntries_ << QStringLiteral("%1 (%2)").arg(version, RelativePath(path));
    }
  }
  if (!versionEntries_.isEmpty()) selected_ = 0;
}

QString FolderScan::SelectedFirmwareFile() const {
  if (selected_ < 0 || selected_ >= selectableFiles_.size()) return QString();
  return selectableFiles_[selected_];
}

QString FolderScan::RelativePath(const QString& path) const {
  if (inputs_.firmwareFolder.isEmpty()) return path;
  const QString relative = QDir(inputs_.firmwareFolder).relativeFilePath(path);
  return relative.isEmpty() ? path : QDir::toNativeSeparators(relative);
}

}  // namespace fwl
