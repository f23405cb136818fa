// Runs the external archiver ("7za") to test, unpack and list firmware
// archives into a private work folder under the temporary folder, and answers
// which files came out of them. The catalogue never decodes archives itself.
#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

class QFileInfo;

namespace fwl {

// Result codes shared by the archive tool and the firmware package reader.
// 0 is success; every failure is negative.
inline constexpr int kArchiveOk = 0;
inline constexpr int kArchiveFileUnreadable = -10;      // "Unable to access the selected file..."
inline constexpr int kArchiveTypeUnsupported = -11;     // "The selected archive type is not..."
inline constexpr int kArchiveStationUnsupported = -12;  // "The selected station type is not..."
inline constexpr int kArchiveNoWorkFolder = -100;       // no temporary storage location
inline constexpr int kArchiveUnpackFailed = -101;       // the tool could not unpack
inline constexpr int kArchiveFilesNotFound = -102;      // expected files not in the archive
inline constexpr int kArchiveAccessError = -103;        // unpacked file(s) could not be read
inline constexpr int kArchiveTestFailed = -104;         // integrity test failed
inline constexpr int kArchiveNoUserFiles = -105;        // no user files in the archive

// Name of the shared work folder under the temporary folder, and of the
// subfolder that receives firmware packages ("kvfirm_*.tgz").
inline constexpr char kArchiveWorkFolderName[] = "kvfwload";
inline constexpr char kArchiveAppsFolderName[] = "KORVID_APPS";

// One file that came out of the last unpack.
struct ArchiveEntry {
  QString fullPath;     // the unpacked file on disk
  QString archivePath;  // "/"-separated, starting with "/", relative to the apps or work folder
  QString fileName;     // base name with extension
  qint64 size = 0;
  quint32 modificationTime = 0;  // seconds since 1970 UTC from the listing; 0 when unknown
};

// What Find matched. With a pattern the fields describe the last match.
struct FindResult {
  qint64 size = 0;
  quint32 time = 0;  // the file's modification time (seconds since 1970 UTC)
  QString path;      // full path of the matched file
  int count = 0;     // number of files matched
};

class ArchiveTool {
 public:
  ArchiveTool();
  // Removes the work folder (Cleanup) so no unpacked files outlive the tool.
  ~ArchiveTool();
  ArchiveTool(const ArchiveTool&) = delete;
  ArchiveTool& operator=(const ArchiveTool&) = delete;

  // Creates (or empties) the work folder `name` under the temporary folder,
  // falling back to the installation folder + "Programs/temp/" when there is
  // no temporary folder. When `name` exists, the first free of name1 ...
  // name100 is created instead. Empties the chosen folder and creates its
  // apps subfolder. Returns the folder path ending in the separator, or ""
  // on failure (work and apps folder then stay empty).
  QString CreateWorkFolder(const QString& name);

  // Unpacks `archivePath` into a fresh "kvfwload" work folder (firmware
  // packages "kvfirm_*.tgz"/"kvfirm6*.tgz" go to its apps folder). Any work
  // folder this tool held before is removed first.
  // Returns 0, -100 (no work folder), -101 (unpack failed) or -104 (test
  // failed; a copy of the file itself is still placed in the work folder so
  // it can be examined by name). Shows no message.
  int Open(const QString& archivePath);

  // Tests and extracts `archivePath` (default: the archive last opened) into
  // `destination`. A compressed single file (any extension other than ".tar"
  // and ".zip") is extracted again when it holds an archive (".tgz",
  // ".tar.gz"); when it holds a plain file, that file is the only member.
  // Fills the entry names and the time map from the listing. An archive
  // without extension is only copied into the work folder. Members whose
  // names would leave `destination` (absolute paths, "..") make the unpack
  // fail with -101 before anything is written.
  // Returns 0, -101 or -104.
  int Unpack(const QString& destination, const QString& archivePath = QString());

  // Lists `archivePath` with the tool: replaces the entry names and the
  // time map. Returns the number of members listed, or -1 when the tool
  // could not list it (not an archive, tool missing, time-out).
  int List(const QString& archivePath);

  // Appends an entry for every listed member that exists as a file in the
  // work or apps folder (folders and "[Content].*" files are skipped).
  // Returns 0, or -102 when a listed member is missing on disk (the others
  // are still added).
  int ListEntries(QList<ArchiveEntry>& entries) const;

  // Looks up a member by name relative to the work or apps folder, or by a
  // wildcard pattern ("*", "?") matched in the work folder and then in the
  // apps folder. Fills `result`. Returns 0, -102 (nothing matched) or -103
  // (no work folder, no result object, empty name, unreadable file).
  int Find(const QString& nameOrPattern, FindResult* result) const;
  // The same search, handing back the full path of every match (of the
  // first folder that has any, in name order) in `paths`. Same results.
  int FindAll(const QString& nameOrPattern, QStringList* paths) const;

  // Modification time of member key "/sub/name" (UTC seconds), 0 when the
  // last listing has no such member.
  quint32 ModificationTime(const QString& memberKey) const;

  // Removes the work folder with all its content and forgets it. Returns 0,
  // or -1 when something could not be removed.
  int Cleanup();

  // Empties and recreates the apps folder. Returns false without a work
  // folder or when the folder cannot be made.
  bool ResetAppsFolder();

  // The message shown for a result code; codes without a table text give
  // `callerText`.
  static QString ResultMessage(int code, const QString& callerText = QString());

  // Runs the tool with `arguments` (no shell), standard error merged into
  // standard output, and waits for it while the event loop keeps running and
  // the wait cursor shows. The wait is bounded by "timeout" of "console
  // pipe" (milliseconds, default 8000); a tool still running then is killed.
  // `output` receives all of the tool's output (never truncated). Returns
  // true when the tool ran to its end within the time-out (whatever its exit
  // status), false when it could not start or timed out.
  bool RunCommand(const QStringList& arguments, QString* output);

  // The archiver program, "7za" from the search path unless set (tests).
  const QString& toolName() const { return toolName_; }
  void setToolName(const QString& name) { toolName_ = name; }

  const QString& archivePath() const { return archivePath_; }
  // Both end in the separator; "" when there is none.
  const QString& workFolder() const { return workFolder_; }
  const QString& appsFolder() const { return appsFolder_; }
  // Output of the last command run.
  const QString& lastOutput() const { return lastOutput_; }
  // Member names of the last listing in listing order ("/"-separated as the
  // tool prints them).
  const QStringList& entryNames() const { return entryNames_; }

 private:
  int ExtractInto(const QString& archive, const QString& destination, bool listFirst,
                  QStringList* extracted);
  int CopyIntoWorkFolder(const QString& archive);
  // The search behind Find and FindAll: the matching files in `found`.
  int Matches(const QString& nameOrPattern, QList<QFileInfo>* found) const;

  QString archivePath_;
  QString toolName_;
  QString workFolder_;
  QString appsFolder_;
  QString lastOutput_;
  QStringList entryNames_;
  QHash<QString, quint32> timeMap_;
  QString lastListType_;  // "Type = " of the last listing ("tar", "gzip", ...)
};

}  // namespace fwl
