// Where a program finds its help pages: beside itself, in its installed data
// folder (wherever the install was unpacked), or in the source tree when it
// runs from its build tree.
#include <gtest/gtest.h>

#include <QDir>
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

  // Nothing installed next to it: a program in its build tree reads the
  // source tree's pages.
  EXPECT_EQ(InstalledDataFolder(bin), "");
  EXPECT_EQ(HelpFolderFor(bin), Folder(QStringLiteral(FWL_SOURCE_DIR "/docs/help")));

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
