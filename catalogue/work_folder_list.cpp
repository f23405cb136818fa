#include "catalogue/work_folder_list.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include "platform/system_folders.h"

namespace fwl {

bool RemoveFolderTree(const QString& folder) {
  if (folder.isEmpty()) return true;
  const QFileInfo top(folder);
  if (top.isSymLink()) return QFile::remove(top.filePath());
  if (!top.exists()) return true;
  // Children first; links are removed as links, never followed, so a link
  // inside the tree cannot make the walk delete anything outside it.
  QDirIterator it(folder, QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
  while (it.hasNext()) {
    it.next();
    const QFileInfo entry = it.fileInfo();
    if (entry.isDir() && !entry.isSymLink()) {
      RemoveFolderTree(entry.filePath());
    } else if (!QFile::remove(entry.filePath())) {
      // A file we cannot delete may only lack write permission for us.
      QFile::setPermissions(entry.filePath(), QFile::ReadOwner | QFile::WriteOwner);
      QFile::remove(entry.filePath());
    }
  }
  QDir().rmdir(folder);
  return !QFileInfo::exists(folder);
}

WorkFolderList::~WorkFolderList() { RemoveAll(); }

void WorkFolderList::Add(const QString& folder) {
  if (folder.isEmpty()) return;
  const QString stored = WithTrailingSeparator(folder);
  if (!folders_.contains(stored)) folders_.append(stored);
}

QString WorkFolderList::CreateTemporaryFolder() {
  const QString temp = TempFolder();
  if (temp.isEmpty()) return QString();
  const QString folder = MakeUniqueFolder(temp + QStringLiteral("fwbXXXXXX"));
  if (folder.isEmpty()) return QString();
  Add(folder);
  return WithTrailingSeparator(folder);
}

bool WorkFolderList::RemoveAll() {
  bool all = true;
  for (const QString& folder : folders_) all = RemoveFolderTree(folder) && all;
  folders_.clear();
  return all;
}

}  // namespace fwl
