// The firmware folder scan behind the product page's version list: walks the
// firmware folder, examines plain images, bundles and (when enabled) archives,
// and lists the versions that fit the selected product and station, newest
// first. The state lives in FolderScan, which the product page owns; no
// widgets are involved (progress and messages go through the Ui service).
#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>

#include "catalogue/archive_tool.h"

namespace fwl {

// Text of the progress window while a scan runs.
inline constexpr char kScanProgressText[] = "Reading firmware directory...";

// "Search Options": which archive types the scan unpacks and examines.
struct SearchOptions {
  bool zip = false;
  bool tar = false;
  bool tgz = false;
  bool gz = false;  // ".gz", which includes ".tar.gz"

  bool operator==(const SearchOptions&) const = default;
};

// The flags the scan uses: "examine zip files", "examine tar files",
// "examine tgz files", "examine gz files" of section "fwloadpages", each 0
// when never stored (so a fresh installation examines no archive).
SearchOptions ReadSearchOptions();
// What the Search Options dialog shows on opening: the same stored values,
// but ".zip" checked where nothing is stored. The dialog thus shows ".zip"
// on a fresh installation although the scan does not examine zip files
// until the operator presses OK once.
SearchOptions SearchOptionsForDialog();
// Stores the four flags as 0 or 1 (the dialog's OK).
void WriteSearchOptions(const SearchOptions& options);

// Parses "zip,tar,tgz,gz" (any subset, any case, "" for none, "tar.gz" as
// "gz"). False on an unknown word.
bool ParseSearchOptions(const QString& text, SearchOptions* options);

// Full paths of the regular files under `folder`. With `includeSubfolders`
// the files of each subfolder (walked the same way, names in order) come
// before the folder's own files. Symbolic links are followed, but no folder
// is walked twice, so link loops end; unreadable folders, dangling links,
// devices, pipes and names that cannot be expressed as text are skipped.
QStringList WalkFirmwareFolder(const QString& folder, bool includeSubfolders);

// What one scan looks for.
struct FolderScanInputs {
  QString firmwareFolder;  // the separator is appended when missing
  bool includeSubfolders = false;
  int productType = -1;  // ProductType; -1 when none is selected
  QString stationStem;   // StationImageStem of the selected station; "" without one
  // Archive types examined; unset means the stored Search Options flags,
  // read at the start of every scan.
  std::optional<SearchOptions> examine;
  QString oldFirmware;  // OEM old-firmware switch: "0" hides old firmware
  QString oemString;    // OEM word bundles must carry (see BundleMatchesOem)
};

class FolderScan {
 public:
  // Inputs start with this build's OEM settings and no product.
  FolderScan();

  FolderScanInputs& inputs() { return inputs_; }
  const FolderScanInputs& inputs() const { return inputs_; }

  // Rebuilds the whole state: walks the folder, examines every file (the
  // progress window shows kScanProgressText with a bar over the files, moved
  // in at most 1000 steps; its Cancel, polled before every file, ends the
  // examination, keeping what was accepted so far) and
  // refills the version list. Nothing is examined without a product or a
  // folder. Unreadable bundles and archives are skipped without a message.
  void RescanFirmwareFolder();

  // Rebuilds only the version list from the candidates of the last scan
  // (the station changed). An archive whose first fitting member is a
  // bundle is unpacked again to read that bundle; when that fails,
  // "Unable to read file %s" is shown. Selects the first entry, if any.
  void RefillVersionList();

  // Full path of the file behind the selected entry, "" when none.
  QString SelectedFirmwareFile() const;
  // Selects entry `index` (the operator's choice); an index outside the list
  // selects nothing.
  void SelectEntry(int index) { selected_ = index; }
  int selectedIndex() const { return selected_; }

  // Scan state, rebuilt by every rescan.
  const QStringList& fileList() const { return fileList_; }
  const QStringList& candidates() const { return candidates_; }
  // Archive path -> member file names that fit the product, in listing order.
  const QHash<QString, QStringList>& archiveContents() const { return archiveContents_; }
  // "%s (%s)": version and path relative to the firmware folder, newest first.
  const QStringList& versionEntries() const { return versionEntries_; }
  // The file behind each version entry, same order and count.
  const QStringList& selectableFiles() const { return selectableFiles_; }
  // True when the last examination was ended by Cancel.
  bool cancelled() const { return cancelled_; }

 private:
  void Examine(const SearchOptions& examine);
  bool ExamineArchive(const QString& path);
  QString RelativePath(const QString& path) const;

  FolderScanInputs inputs_;
  ArchiveTool tool_;
  QStringList fileList_;
  QStringList candidates_;
  QHash<QString, QStringList> archiveContents_;
  QStringList versionEntries_;
  QStringList selectableFiles_;
  int selected_ = -1;
  bool cancelled_ = false;
};

}  // namespace fwl
