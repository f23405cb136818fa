// Temporary folders of a load are removed with everything in them, and only
// them.
#include "catalogue/work_folder_list.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "platform/system_folders.h"
#include "support/test_util.h"

namespace fwl {
namespace {

TEST(WorkFolderList, RemovesListedFoldersWithContentButNotLinkTargets) {
  const QString keep = TempFolder() + "keep/";
  test::WriteFileOrFail(keep + "precious.txt", "keep me");
  QString a, b;
  {
    WorkFolderList list;
    a = list.CreateTemporaryFolder();
    ASSERT_FALSE(a.isEmpty());
    EXPECT_TRUE(QFileInfo(a).fileName().isEmpty());  // ends in the separator
    EXPECT_TRUE(a.startsWith(TempFolder() + "fwb"));
    EXPECT_TRUE(QFileInfo(a).isDir());
    test::WriteFileOrFail(a + "deep/er/image.bin", "x");
    QFile::setPermissions(a + "deep/er/image.bin", QFile::ReadOwner);  // read-only
    ASSERT_TRUE(QFile::link(keep, a + "deep/link_to_keep"));
    ASSERT_TRUE(QFile::link(keep + "precious.txt", a + "file_link"));

    b = TempFolder() + "added";
    QDir().mkpath(b);
    test::WriteFileOrFail(b + "/f", "y");
    list.Add(b);
    list.Add(b + "/");  // the same folder once
    list.Add("");
    EXPECT_EQ(list.folders().size(), 2);
    EXPECT_TRUE(list.folders().last().endsWith("/"));
  }
  EXPECT_FALSE(QFileInfo::exists(a));
  EXPECT_FALSE(QFileInfo::exists(b));
  EXPECT_EQ(test::ReadFileOrEmpty(keep + "precious.txt"), "keep me");
}

TEST(WorkFolderList, RemoveAllEmptiesTheListAndMissingFoldersAreFine) {
  WorkFolderList list;
  list.Add(TempFolder() + "never-created");
  const QString made = list.CreateTemporaryFolder();
  EXPECT_TRUE(list.RemoveAll());
  EXPECT_TRUE(list.folders().isEmpty());
  EXPECT_FALSE(QFileInfo::exists(made));
  EXPECT_TRUE(RemoveFolderTree(""));
}

}  // namespace
}  // namespace fwl
