// The package reader on real files: known package names judged by name,
// archives unpacked by the real 7za searched for packages and images.
#include "catalogue/firmware_package_reader.h"

#include <gtest/gtest.h>
#include <utime.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "catalogue/firmware_names.h"
#include "support/scripted_ui.h"
#include "support/test_util.h"

namespace fwl {
namespace {

using test::WriteFileOrFail;

class PackageReaderTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

  // Packs files (relative name -> content) into `name` under the test folder.
  QString Archive(const QString& name, const QList<std::pair<QString, QByteArray>>& files) {
    QTemporaryDir scratch;
    QStringList members;
    for (const auto& [member, data] : files) {
      WriteFileOrFail(scratch.filePath(member), data);
      members << member;
    }
    const QString path = dir_.filePath(name);
    EXPECT_TRUE(test::PackArchive(path, members, scratch.path())) << name.toStdString();
    return path;
  }

  QString File(const QString& name, const QByteArray& data = "image") {
    WriteFileOrFail(dir_.filePath(name), data);
    return dir_.filePath(name);
  }

  test::ScriptedUi ui_;
  ScopedUi scoped_{&ui_};
  QTemporaryDir dir_;
  FirmwarePackageReader reader_;
};

TEST(PackageReaderCheckType, ExtensionsPerMode) {
  struct Case {
    const char* path;
    int flags;
    int expected;
  };
  const Case cases[] = {
      {"/f/kvfirm_razeb3_1_999.tgz", kLocatePackage, 0},
      {"/f/kvfirm_razeb3_1_999.TGZ", kLocatePackage, 0},
      {"/f/pkg.zip", kLocatePackage, 0},
      {"/f/pkg.tar", kLocatePackage, 0},
      {"/f/pkg.tar.gz", kLocatePackage, 0},
      {"/f/pkg.gz", kLocatePackage, -11},
      {"/f/kvimage_razeb3_1_0", kLocatePackage, -11},
      {"/f/kvimage_razeb3_1_0", kLocateImage, 0},
      {"/f/kvimage_razeb3_1_0.gz", kLocateImage, 0},
      {"/f/kvimage_razeb3_1_0.bin", kLocateImage, -11},
      {"/f/kvimage_razeb3_1_0.bin", kLocateImage | kLocateImageOptional, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FirmwarePackageReader::CheckType(c.path, c.flags), c.expected) << c.path;
}

TEST_F(PackageReaderTest, KnownPackageNameIsJudgedByItsName) {
  const QString package =
      Archive("kvfirm_razeb3_1_999.tgz", {{"kvimage_razeb3_1_999", "main"}, {"readme", "r"}});
  ASSERT_EQ(reader_.Open(package), 0);

  LocateRecord record;
  record.imagePath = "stale";
  ASSERT_EQ(reader_.Locate(5100, kLocatePackage, &record), 0);
  EXPECT_EQ(record.packagePath, package);
  EXPECT_EQ(record.packageVersionPart, "3_1_999");
  EXPECT_EQ(record.packageVersion, "3.1");
  EXPECT_EQ(record.is999, 1);
  EXPECT_EQ(record.imagePath, QString());  // the whole record was cleared

  EXPECT_EQ(reader_.Locate(5000, kLocatePackage, &record), kArchiveFilesNotFound);
  EXPECT_EQ(reader_.Locate(5300, kLocatePackage, &record), -1);  // no package for this type
  // A package name is no image, and its own members are not searched.
  EXPECT_EQ(reader_.Locate(5100, kLocateImage, &record), kArchiveFilesNotFound);

  // Its members went to the apps folder, so none count as user files.
  QStringList full, relative;
  EXPECT_EQ(reader_.UserFiles(&full, &relative), 0);
  EXPECT_TRUE(full.isEmpty());
}

TEST_F(PackageReaderTest, KnownImageNameIsItsOwnImage) {
  const QString image = File("kvimage_razeb3_2_0");
  reader_.Open(image);  // no extension: only copied into the work folder
  LocateRecord record;
  ASSERT_EQ(reader_.Locate(5101, kLocateImage, &record), 0);
  EXPECT_EQ(record.imagePath, image);
  EXPECT_EQ(record.imageVersion, "3.2.0");
  EXPECT_EQ(record.is999, 0);
  // An image of another model: nothing, unless the image is optional.
  EXPECT_EQ(reader_.Locate(5000, kLocateImage, &record), kArchiveFilesNotFound);
  record.imagePath = "stale";
  EXPECT_EQ(reader_.Locate(5000, kLocateImage | kLocateImageOptional, &record), 0);
  EXPECT_EQ(record.imagePath, QString());
}

TEST_F(PackageReaderTest, ImagesInsideAnArchivePerStationType) {
  const QString both = Archive("images.zip", {{"kvimageb_razeb3_4_999", "boot"},
                                              {"kvimage6_razeb3_4_999", "main"},
                                              {"kvimage_lozeb3_4_0", "lo"}});
  ASSERT_EQ(reader_.Open(both), 0);
  LocateRecord record;
  // 5102 takes two patterns in order: the "6" main image wins over the boot image.
  ASSERT_EQ(reader_.Locate(5102, kLocateImage, &record), 0);
  EXPECT_EQ(QFileInfo(record.imagePath).fileName(), "kvimage6_razeb3_4_999");
  EXPECT_TRUE(QFileInfo(record.imagePath).isFile());
  EXPECT_EQ(record.imageVersion, "3.4");
  EXPECT_EQ(record.imageVersionPart, "3_4_999");
  EXPECT_EQ(record.is999, 1);
  ASSERT_EQ(reader_.Locate(5000, kLocateImage, &record), 0);
  EXPECT_EQ(QFileInfo(record.imagePath).fileName(), "kvimage_lozeb3_4_0");
  // 5300 has an image stem but no patterns of its own: it looks for switch images.
  EXPECT_EQ(reader_.Locate(5300, kLocateImage, &record), kArchiveFilesNotFound);
  EXPECT_EQ(reader_.Locate(5300, kLocateImage | kLocateImageOptional, &record), 0);
  EXPECT_TRUE(record.imagePath.isEmpty());

  const QString bootOnly = Archive("boot.zip", {{"kvimageb_razeb3_5_0", "boot"}});
  ASSERT_EQ(reader_.Open(bootOnly), 0);
  ASSERT_EQ(reader_.Locate(5102, kLocateImage, &record), 0);
  EXPECT_EQ(QFileInfo(record.imagePath).fileName(), "kvimageb_razeb3_5_0");
}

TEST_F(PackageReaderTest, ImageLookupTakesTheNewestImageAndNeverItsChecksum) {
  const QString mixed = Archive("lozeb.zip", {{"kvimage_lozeb3_2_0", "old"},
                                              {"kvimage_lozeb3_2_0.md5", "sum"},
                                              {"kvimage_lozeb3_10_0", "new"}});
  ASSERT_EQ(reader_.Open(mixed), 0);
  LocateRecord record;
  ASSERT_EQ(reader_.Locate(5000, kLocateImage, &record), 0);
  EXPECT_EQ(QFileInfo(record.imagePath).fileName(), "kvimage_lozeb3_10_0");
  EXPECT_EQ(record.imageVersion, "3.10.0");
  EXPECT_EQ(test::ReadFileOrEmpty(record.imagePath), "new");

  const QString withSums = Archive("sums.zip", {{"kvimage_lozeb3_2_0", "img"},
                                                {"kvimage_lozeb3_2_0.sha256", "sum"},
                                                {"kvimage_lozeb3_2_0.txt", "notes"},
                                                {"kvimage_lozeb3_2_0.asc", "signature"}});
  ASSERT_EQ(reader_.Open(withSums), 0);
  ASSERT_EQ(reader_.Locate(5000, kLocateImage, &record), 0);
  EXPECT_EQ(QFileInfo(record.imagePath).fileName(), "kvimage_lozeb3_2_0");

  // A checksum without its image is no image at all.
  const QString sumOnly = Archive("sumonly.zip", {{"kvimage_lozeb3_2_0.md5", "sum"}});
  ASSERT_EQ(reader_.Open(sumOnly), 0);
  EXPECT_EQ(reader_.Locate(5000, kLocateImage, &record), kArchiveFilesNotFound);
  ASSERT_EQ(reader_.Locate(5000, kLocateImage | kLocateImageOptional, &record), 0);
  EXPECT_TRUE(record.imagePath.isEmpty());
}

TEST_F(PackageReaderTest, PackageInsideAnArchiveAndBothModesAtOnce) {
  QTemporaryDir inner;
  const QString innerPackage = inner.filePath("kvfirm_lozeb3_0_5.tgz");
  WriteFileOrFail(inner.filePath("kvimage_lozeb3_0_5"), "img");
  ASSERT_TRUE(test::PackArchive(innerPackage, {"kvimage_lozeb3_0_5"}, inner.path()));
  QFile f(innerPackage);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QString outer = Archive(
      "bundle.tar", {{"kvfirm_lozeb3_0_5.tgz", f.readAll()}, {"kvimage_lozeb3_0_6", "img"}});
  ASSERT_EQ(reader_.Open(outer), 0);

  LocateRecord record;
  ASSERT_EQ(reader_.Locate(5003, kLocatePackage | kLocateImage, &record), 0);
  EXPECT_EQ(QFileInfo(record.packagePath).fileName(), "kvfirm_lozeb3_0_5.tgz");
  EXPECT_EQ(record.packageVersion, "3.0.5");
  EXPECT_EQ(QFileInfo(record.imagePath).fileName(), "kvimage_lozeb3_0_6");
  EXPECT_EQ(record.imageVersion, "3.0.6");
  // Null record: only the result.
  EXPECT_EQ(reader_.Locate(5100, kLocatePackage, nullptr), kArchiveFilesNotFound);
}

TEST_F(PackageReaderTest, MissingOrUnsupportedCurrentFile) {
  LocateRecord record;
  EXPECT_EQ(reader_.Locate(5100, kLocatePackage, &record), kArchiveFileUnreadable);
  const QString gz = File("kvfirm_razeb3_1_0.gz", "not really");
  reader_.Open(gz);
  EXPECT_EQ(reader_.Locate(5100, kLocatePackage, &record), kArchiveTypeUnsupported);
  QFile::remove(gz);
  EXPECT_EQ(reader_.Locate(5100, kLocatePackage, &record), kArchiveFileUnreadable);
  QList<ArchiveEntry> entries;
  EXPECT_EQ(reader_.ListEntries(nullptr), -1);
  EXPECT_EQ(FirmwarePackageReader().ListEntries(&entries), -1);
  EXPECT_EQ(FirmwarePackageReader().FileTime(gz), 0u);
  EXPECT_EQ(FirmwarePackageReader::ResultMessage(-102),
            "Unable to locate appropriate files in the selected archive.");
  EXPECT_EQ(FirmwarePackageReader::ResultMessage(-7, "own text"), "own text");
}

TEST_F(PackageReaderTest, FindInPackageReopensTransparently) {
  const QString a = Archive("a.zip", {{"only_in_a.txt", "a"}});
  const QString b = Archive("b.zip", {{"only_in_b.txt", "b"}});
  ASSERT_EQ(reader_.Open(a), 0);
  FindResult found;
  EXPECT_EQ(reader_.FindInPackage("only_in_a.txt", &found), 0);
  EXPECT_EQ(reader_.FindInPackage("only_in_b.txt", &found, b), 0);
  EXPECT_EQ(reader_.currentFile(), b);
  EXPECT_EQ(QFileInfo(found.path).fileName(), "only_in_b.txt");
  EXPECT_EQ(reader_.FindInPackage("only_in_a.txt", &found), kArchiveFilesNotFound);
  // After a clean-up the current file is unpacked again on demand.
  reader_.Cleanup("ignored", "ignored");
  EXPECT_EQ(reader_.FindInPackage("only_*.txt", &found), 0);
  EXPECT_EQ(found.count, 1);
  // A path that cannot be opened reports the open error.
  EXPECT_LT(reader_.FindInPackage("x", &found, dir_.filePath("missing.zip")), 0);
}

TEST_F(PackageReaderTest, MemberTextUserFilesAndAppsUnpack) {
  const QString package = Archive(
      "user.zip", {{"kvimage_razeb3_1_0", "img"},
                   {"info.txt", "a\tb\t" + QByteArray(60, 'v') + "\tmore\nsecond\tline\tx\n"},
                   {"short.txt", "a\tb\tvalue\n"},
                   {"dos.txt", "a\tb\tdos value\r\nnext\tline\tx\r\n"},
                   {"conf/user.cfg", "cfg"}});
  ASSERT_EQ(reader_.Open(package), 0);
  EXPECT_EQ(reader_.ReadMemberText("info.txt"), QString(50, 'v'));
  EXPECT_EQ(reader_.ReadMemberText("short.txt"), "value");
  EXPECT_EQ(reader_.ReadMemberText("dos.txt"), "dos value");
  EXPECT_EQ(reader_.ReadMemberText("conf/user.cfg"), QString());  // fewer than three fields
  EXPECT_EQ(reader_.ReadMemberText("absent.txt"), QString());

  QStringList full, relative;
  ASSERT_EQ(reader_.UserFiles(&full, &relative), 0);
  relative.sort();
  EXPECT_EQ(relative, QStringList({"/conf/user.cfg", "/dos.txt", "/info.txt", "/short.txt"}));
  EXPECT_EQ(full.size(), 4);
  full.clear();
  relative.clear();
  const QStringList exclusions{"INFO", "short", "dos"};
  ASSERT_EQ(reader_.UserFiles(&full, &relative, &exclusions), 0);
  relative.sort();
  EXPECT_EQ(relative, QStringList({"/conf/user.cfg", "/kvimage_razeb3_1_0"}));

  const QString apps = Archive("apps.tgz", {{"bin/app1", "x"}, {"app2", "yy"}});
  QList<ArchiveEntry> entries;
  ASSERT_EQ(reader_.UnpackToApps(&entries, apps), 0);
  ASSERT_EQ(entries.size(), 2);
  QStringList names;
  for (const ArchiveEntry& e : entries) {
    EXPECT_TRUE(e.fullPath.startsWith(reader_.archiveTool().appsFolder()));
    EXPECT_TRUE(QFileInfo(e.fullPath).isFile());
    names << e.archivePath;
  }
  names.sort();
  EXPECT_EQ(names, QStringList({"/app2", "/bin/app1"}));
  EXPECT_EQ(reader_.UnpackToApps(&entries, QString()), -1);
}

TEST_F(PackageReaderTest, FileTimeIsTheFilesUtcTime) {
  const QString image = File("kvimage_razeb3_1_0");
  reader_.Open(image);
  struct utimbuf times = {1600000000, 1600000000};
  ASSERT_EQ(::utime(QFile::encodeName(image).constData(), &times), 0);
  EXPECT_EQ(reader_.FileTime(image), 1600000000u);
  EXPECT_EQ(reader_.FileTime(dir_.filePath("missing")), 0u);
}

}  // namespace
}  // namespace fwl
