// Answers, for a station type, where the firmware package and the main image
// are in the file the operator selected (a plain image, a firmware package or
// an archive holding either) and which version each carries. Wraps one
// ArchiveTool; the sheet and each load engine own one reader.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "catalogue/archive_tool.h"

namespace fwl {

// Mode flags of Locate and CheckType.
inline constexpr int kLocatePackage = 0x01;
inline constexpr int kLocateImage = 0x02;
inline constexpr int kLocateImageOptional = 0x80;  // with kLocateImage: no image is no error

// What Locate found. A successful Locate clears the whole record before it
// fills the fields of its mode, so a caller needing both the package and the
// image keeps two records (or copies the fields between calls).
struct LocateRecord {
  QString packageVersionPart;  // VersionPart of the package file's base name ("3_1_999")
  QString imageVersionPart;    // VersionPart of the image file's base name
  QString packageVersion;      // DisplayVersion of the package version part ("3.1")
  QString imageVersion;        // DisplayVersion of the image version part
  QString packagePath;         // full path of the package file found
  QString imagePath;           // full path of the image file found
  int is999 = 0;               // 1 when the found file's version part contains "_999"

  void Clear() { *this = LocateRecord(); }
};

class FirmwarePackageReader {
 public:
  // `knownStems`: the stem list package names are recognised by (normally
  // KnownStems()); `oemString`: the OEM word of this build ("KORVID").
  FirmwarePackageReader(const QStringList& knownStems, const QString& oemString);
  // Known stems and OEM string of this build.
  FirmwarePackageReader();

  // Removes everything unpacked so far. The two texts are accepted for the
  // callers that pass them and ignored. Returns the archive tool's result
  // (0, or -1 when something could not be removed).
  int Cleanup(const QString& ignored1 = QString(), const QString& ignored2 = QString());

  // Unpacks `path` into the work folder; `path` becomes the current file
  // (also on failure). Returns 0, -100, -101 or -104 (ArchiveTool::Open).
  int Open(const QString& path);

  // Finds a member (name or "*" pattern) of the unpacked package. An empty
  // `path` means the current file; another path is cleaned up and opened
  // first (its error is returned), and so is the current file when its
  // unpacked files were cleaned up meanwhile. Returns 0, -102 or -103, or
  // the Open error.
  int FindInPackage(const QString& nameOrPattern, FindResult* result,
                    const QString& path = QString());

  // Whether a file's extension suits the mode: package mode accepts ".tgz",
  // ".tar", ".zip" and ".tar.gz"; image mode also ".gz" and no extension,
  // and with kLocateImageOptional any extension. Case is ignored.
  // Returns 0 or -11.
  static int CheckType(const QString& path, int modeFlags);

  // Locates the package (kLocatePackage) and/or the image (kLocateImage)
  // for station type `stationTypeCode` in the current file: a known package
  // name is judged by its own name, anything else by the files unpacked from
  // it. Where a pattern matches several unpacked files, checksum, signature
  // and text files are passed over and the newest version is taken
  // (NewestFirmwareFile). `record` may be null. Returns 0, -10 (current file missing), -11
  // (CheckType), -1 (no package for this station type), -12, -102 (nothing
  // found), or the last search error. With kLocateImageOptional a missing
  // image leaves the image fields empty and returns 0. Shows no message.
  int Locate(int stationTypeCode, int modeFlags, LocateRecord* record);

  // IsKnownPackageName with this reader's known stems.
  bool IsKnownPackageName(const QString& path) const;

  // Replaces `entries` with the files unpacked from the current file.
  // Returns -1 without a list or current file, else 0 or -102
  // (ArchiveTool::ListEntries).
  int ListEntries(QList<ArchiveEntry>* entries);

  // The third tab-separated field (at most 50 characters) of the first line
  // of an unpacked member, "" when the member or the line is missing.
  QString ReadMemberText(const QString& memberName);

  // Modification time of `file` in seconds since 1970 (UTC); 0 without a
  // current file or when the file's status cannot be read.
  quint32 FileTime(const QString& file) const;

  // The unpacked files that are not firmware: files outside the apps folder
  // whose lower-cased names contain none of `exclusions` (lower-cased; the
  // known stems when null). Full paths go to `fullPaths`, archive paths
  // ("/"-relative) to `archivePaths`. Returns -1 without a current file, 0
  // with nothing added when the current file is itself a known package
  // name, else 0 or -102 (a listed member missing on disk).
  int UserFiles(QStringList* fullPaths, QStringList* archivePaths,
                const QStringList* exclusions = nullptr);

  // Empties and recreates the apps folder, unpacks `path` into it and
  // appends an entry to `entries` for every listed member found there.
  // Returns -1 without a path, list or current file, the unpack error
  // (-100, -101, -104), -102 when a listed member is missing, else 0.
  int UnpackToApps(QList<ArchiveEntry>* entries, const QString& path);

  // The message for a result code; `text` for codes without a table text.
  static QString ResultMessage(int code, const QString& text = QString());

  // The station-type tables: append the package pattern (returns 1, or -1
  // for a type without a package) or the image patterns (returns the number
  // appended).
  static int PackagePatterns(int stationTypeCode, QStringList& patterns);
  static int ImagePatterns(int stationTypeCode, QStringList& patterns);

  // Removes what was unpacked (Cleanup).
  ~FirmwarePackageReader();

  // Version helpers on base names without extension ("kvfirm_razeb3_1_999"
  // -> "3_1_999" -> "3.1").
  static QString VersionPart(const QString& baseName);
  static QString DisplayVersion(const QString& versionPart);

  FirmwarePackageReader(const FirmwarePackageReader&) = delete;
  FirmwarePackageReader& operator=(const FirmwarePackageReader&) = delete;

  const QString& currentFile() const { return currentFile_; }
  const QString& oemString() const { return oemString_; }
  const QStringList& knownStems() const { return knownStems_; }
  ArchiveTool& archiveTool() { return tool_; }

 private:
  // Opens `path` (empty: the current file) unless it is the current file
  // and still unpacked. 0 or the Open error.
  int Reopen(const QString& path);
  bool FindByPattern(const QString& pattern, bool knownName, bool wantPackage, QString* found,
                     int* result);

  ArchiveTool tool_;
  QString currentFile_;
  QString oemString_;
  QStringList knownStems_;
};

}  // namespace fwl
