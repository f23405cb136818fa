// Where a program finds its help pages: beside itself (also in its build
// tree) or in its installed data folder, wherever the install was unpacked.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include "app/help.h"

namespace fwl {
namespace {

QString Folder(const QString& path) { return QDir::toNativeSeparators(path) + QDir::separator(); }

TEST(HelpFolder, InstalledCopiedAndBuildTreeLayouts) {
  QTemporaryDir root;
  ASSERT_TRUE(root.isValid());
  const QString bin = root.filePath("usr/bin");
  ASSERT_TRUE(QDir().mkpath(bin));

  // Nothing installed: the installed place is named all the same, never a
  // folder of the tree the program was built in.
  EXPECT_EQ(InstalledDataFolder(bin), "");
  EXPECT_EQ(HelpFolderFor(bin), Folder(QDir::cleanPath(bin + "/" FWL_DATA_FROM_BIN "/help")));
  // The build tree's programs and tests have the source's pages beside them.
  EXPECT_EQ(QFileInfo(QStringLiteral(FWL_BINARY_DIR "/help")).canonicalFilePath(),
            QFileInfo(QStringLiteral(FWL_SOURCE_DIR "/docs/help")).canonicalFilePath());

  // The install layout: share/firmware-loader beside bin.
  const QString data = root.filePath("usr/share/firmware-loader");
  ASSERT_TRUE(QDir().mkpath(data + "/help"));
  EXPECT_EQ(InstalledDataFolder(bin), Folder(data));
  EXPECT_EQ(HelpFolderFor(bin), Folder(data + "/help"));
  EXPECT_EQ(HelpFolderFor(bin + "/"), Folder(data + "/help"));  // as ProgramFolder() gives it

  // A "help" folder right beside the program (a copied program) comes first.
  ASSERT_TRUE(QDir().mkpath(bin + "/help"));
  EXPECT_EQ(HelpFolderFor(bin), Folder(bin + "/help"));
}

}  // namespace
}  // namespace fwl
