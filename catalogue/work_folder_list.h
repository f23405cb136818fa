// Temporary folders that belong to one load: each folder added is removed,
// with everything in it, when the list is destroyed, so bundle images and
// unpacked archives never pile up in the temporary folder.
#pragma once

#include <QString>
#include <QStringList>

namespace fwl {

class WorkFolderList {
 public:
  WorkFolderList() = default;
  // Removes every listed folder with its content; errors are ignored.
  ~WorkFolderList();
  WorkFolderList(const WorkFolderList&) = delete;
  WorkFolderList& operator=(const WorkFolderList&) = delete;

  // Remembers `folder` (stored with a trailing separator) for removal. An
  // empty text is ignored; a folder already listed is not added twice.
  void Add(const QString& folder);

  // Creates a new unique folder "fwbXXXXXX" under the temporary folder and
  // adds it. Returns its path ending in the separator, or "" when there is
  // no temporary folder or the folder cannot be created (nothing is added).
  QString CreateTemporaryFolder();

  // Removes every listed folder now and empties the list. Returns true when
  // all of them are gone.
  bool RemoveAll();

  const QStringList& folders() const { return folders_; }

 private:
  QStringList folders_;
};

// Removes `folder` and everything below it without following symbolic links
// out of it. Returns true when the folder no longer exists.
bool RemoveFolderTree(const QString& folder);

}  // namespace fwl
