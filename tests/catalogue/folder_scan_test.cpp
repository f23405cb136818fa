// The firmware folder scan on real folders: images of several models,
// bundles, archives unpacked by the real 7za, nested folders, hostile trees.
#include "catalogue/folder_scan.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "app/settings.h"
#include "catalogue/firmware_bundle.h"
#include "catalogue/firmware_names.h"
#include "sim/bundle_writer.h"
#include "support/scripted_ui.h"
#include "support/test_util.h"

namespace fwl {
namespace {

using test::ScriptedUi;
using test::WriteFileOrFail;

constexpr char kRazeb[] = "kvimage_razeb";
constexpr char kLozeb[] = "kvimage_lozeb";

// Packs `members` (files created in a scratch folder with small contents, in
// this order) into `archive`; the type follows the archive's extension.
void MakeArchive(const QString& archive, const QStringList& members,
                 const QByteArray& bundleData = QByteArray()) {
  QTemporaryDir scratch;
  ASSERT_TRUE(scratch.isValid());
  for (const QString& m : members) {
    WriteFileOrFail(scratch.filePath(m),
                    m.endsWith(QLatin1String(".fwb")) ? bundleData : m.toUtf8());
  }
  ASSERT_TRUE(test::PackArchive(archive, members, scratch.path())) << archive.toStdString();
}

QByteArray Bundle(int productCode, const QString& version, const QString& oem = QString()) {
  sim::BundleWriter w(productCode, version, oem);
  const int cpu = w.AddDirectory(sim::BundleWriter::kRoot, kTagCpuA, "PPC");
  w.AddFile(cpu, kTagImage, "image.bin", "", QByteArray(64, 'x'));
  return w.Build();
}

class FolderScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    root_ = dir_.path() + "/fw/";
    QDir().mkpath(root_);
  }

  void Image(const QString& relative) { WriteFileOrFail(root_ + relative, relative.toUtf8()); }

  QStringList Scan(int product, const QString& stem, bool recurse = false) {
    scan_.inputs().firmwareFolder = root_;
    scan_.inputs().productType = product;
    scan_.inputs().stationStem = stem;
    scan_.inputs().includeSubfolders = recurse;
    scan_.RescanFirmwareFolder();
    return scan_.versionEntries();
  }

  ScriptedUi ui_;
  ScopedUi scoped_{&ui_};
  QTemporaryDir dir_;
  QString root_;
  FolderScan scan_;
};

TEST_F(FolderScanTest, ListsImagesThatFitTheProductNewestFirst) {
  Image("kvimage_razeb3_1_999");
  Image("kvimage_razeb3_2_0");
  Image("kvimage_razeb3_10_1");
  Image("kvimage_razeb_3_3_0");  // model code "razeb_": never strict
  Image("kvimageb_razeb3_9_0");  // boot images are never offered
  Image("kvimage_lozeb4_0_0");
  Image("kvimage_mums5_0_0");
  Image("KVIMAGE_MUMS5_1_0");  // prefix and model compared with case
  Image("kvimagea_mums5_2_0");
  Image("readme.txt");

  EXPECT_EQ(Scan(kProductStation, kRazeb),
            QStringList({"3.10.1 (kvimage_razeb3_10_1)", "3.2.0 (kvimage_razeb3_2_0)",
                         "3.1.999 (kvimage_razeb3_1_999)"}));
  EXPECT_EQ(scan_.selectedIndex(), 0);
  EXPECT_EQ(scan_.SelectedFirmwareFile(), root_ + "kvimage_razeb3_10_1");
  scan_.SelectEntry(2);
  EXPECT_EQ(scan_.SelectedFirmwareFile(), root_ + "kvimage_razeb3_1_999");
  scan_.SelectEntry(3);
  EXPECT_EQ(scan_.SelectedFirmwareFile(), QString());

  // The version letter of "kvimagea_" images is not part of the listed version.
  EXPECT_EQ(Scan(kProductSwitch, QString()),
            QStringList({"5.2.0 (kvimagea_mums5_2_0)", "5.0.0 (kvimage_mums5_0_0)"}));

  // A station change only refills the list from the candidates found before.
  Scan(kProductStation, kRazeb);
  QFile::remove(root_ + "kvimage_lozeb4_0_0");
  scan_.inputs().stationStem = kLozeb;
  scan_.RefillVersionList();
  EXPECT_EQ(scan_.versionEntries(), QStringList({"4.0.0 (kvimage_lozeb4_0_0)"}));
  EXPECT_EQ(scan_.selectableFiles(), QStringList({root_ + "kvimage_lozeb4_0_0"}));
  EXPECT_TRUE(ui_.messages().empty());
  EXPECT_EQ(ui_.waitCursorDepth(), 0);
}

TEST_F(FolderScanTest, EmptyFolderOrNoProductListsNothing) {
  EXPECT_TRUE(Scan(kProductStation, kRazeb).isEmpty());
  EXPECT_EQ(scan_.SelectedFirmwareFile(), QString());
  EXPECT_EQ(scan_.selectedIndex(), -1);

  Image("kvimage_razeb3_1_0");
  EXPECT_TRUE(Scan(-1, kRazeb).isEmpty());
  EXPECT_TRUE(scan_.fileList().isEmpty());
  scan_.inputs().productType = kProductStation;
  scan_.inputs().firmwareFolder.clear();
  scan_.RescanFirmwareFolder();
  EXPECT_TRUE(scan_.versionEntries().isEmpty());
}

TEST_F(FolderScanTest, SubfoldersComeFirstAndEveryFileOfAVersionIsListed) {
  Image("kvimage_razeb3_1_0");
  Image("b/kvimage_razeb3_1_0");
  Image("a/deeper/kvimage_razeb3_1_0");
  Image("a/kvimage_razeb3_0_5");

  EXPECT_EQ(Scan(kProductStation, kRazeb), QStringList({"3.1.0 (kvimage_razeb3_1_0)"}));

  EXPECT_EQ(Scan(kProductStation, kRazeb, true),
            QStringList({"3.1.0 (a/deeper/kvimage_razeb3_1_0)", "3.1.0 (b/kvimage_razeb3_1_0)",
                         "3.1.0 (kvimage_razeb3_1_0)", "3.0.5 (a/kvimage_razeb3_0_5)"}));
  EXPECT_EQ(scan_.fileList(),
            QStringList({root_ + "a/deeper/kvimage_razeb3_1_0", root_ + "a/kvimage_razeb3_0_5",
                         root_ + "b/kvimage_razeb3_1_0", root_ + "kvimage_razeb3_1_0"}));
  EXPECT_EQ(scan_.selectableFiles().value(1), root_ + "b/kvimage_razeb3_1_0");
}

TEST_F(FolderScanTest, BundlesByProductCodeAndOemWord) {
  WriteFileOrFail(root_ + "ra.fwb", Bundle(kBundleRaZeb, "3_5_0"));
  WriteFileOrFail(root_ + "ra_acme.fwb", Bundle(kBundleRaZeb, "3_6_0", "ACME"));
  WriteFileOrFail(root_ + "lo.fwb", Bundle(kBundleLoZeb, "4_1_0"));
  WriteFileOrFail(root_ + "ms.FWB", Bundle(kBundleSwitch, "6_0_1"));
  // Only the build's OEM string is trimmed and mapped to ""; a root carrying
  // the maker's word itself does not qualify.
  WriteFileOrFail(root_ + "ms_named.fwb", Bundle(kBundleSwitch, "6_2_0", "KORVID"));
  WriteFileOrFail(root_ + "broken.fwb", QByteArray("\0\0\0\2garbage", 11));
  WriteFileOrFail(root_ + "empty.fwb", QByteArray());

  EXPECT_EQ(Scan(kProductStation, kRazeb), QStringList({"3.5.0 (ra.fwb)"}));
  EXPECT_EQ(Scan(kProductStation, kLozeb), QStringList({"4.1.0 (lo.fwb)"}));
  EXPECT_EQ(Scan(kProductStation, "kvimage_louzeb"), QStringList());
  EXPECT_EQ(Scan(kProductSwitch, QString()), QStringList({"6.0.1 (ms.FWB)"}));
  EXPECT_TRUE(ui_.messages().empty()) << ui_.messageTexts().join('|').toStdString();

  // A rebranded build takes only the bundles carrying its word.
  scan_.inputs().oemString = "  Acme ";
  EXPECT_EQ(Scan(kProductStation, kRazeb), QStringList({"3.6.0 (ra_acme.fwb)"}));

  // Bundles are examined even where old firmware is hidden.
  scan_.inputs().oemString = "KORVID";
  scan_.inputs().oldFirmware = "0";
  Image("kvimage_razeb3_9_9");
  EXPECT_EQ(Scan(kProductStation, kRazeb), QStringList({"3.5.0 (ra.fwb)"}));
}

TEST_F(FolderScanTest, ArchivesAreExaminedOnlyForEnabledTypes) {
  MakeArchive(root_ + "pkg_razeb3_4_0.zip", {"kvimage_razeb3_4_0"});
  MakeArchive(root_ + "pkg_razeb3_5_0.tar", {"kvimage_razeb3_5_0"});
  MakeArchive(root_ + "pkg_razeb3_6_0.tgz", {"kvimage_razeb3_6_0", "notes.txt"});
  MakeArchive(root_ + "kvimage_razeb3_7_0.gz", {"kvimage_razeb3_7_0"});
  MakeArchive(root_ + "pkg_razeb3_8_0.tar.gz", {"kvimage_razeb3_8_0"});

  // A fresh installation: the dialog shows ".zip" checked, yet no archive is
  // examined until the options are stored.
  EXPECT_TRUE(SearchOptionsForDialog().zip);
  EXPECT_EQ(ReadSearchOptions(), SearchOptions());
  EXPECT_TRUE(Scan(kProductStation, kRazeb).isEmpty());

  struct Case {
    SearchOptions options;
    QStringList expected;
  };
  const Case cases[] = {
      {{true, false, false, false}, {"3.4.0 (pkg_razeb3_4_0.zip)"}},
      {{false, true, false, false}, {"3.5.0 (pkg_razeb3_5_0.tar)"}},
      {{false, false, true, false}, {"3.6.0 (pkg_razeb3_6_0.tgz)"}},
      {{false, false, false, true},
       {"3.8.0 (pkg_razeb3_8_0.tar.gz)", "3.7.0 (kvimage_razeb3_7_0.gz)"}},
  };
  for (const Case& c : cases) {
    WriteSearchOptions(c.options);
    EXPECT_EQ(ReadSearchOptions(), c.options);
    EXPECT_EQ(SearchOptionsForDialog(), c.options);
    EXPECT_EQ(Scan(kProductStation, kRazeb), c.expected);
  }
  // The member list holds only the members that fit.
  WriteSearchOptions({false, false, true, false});
  Scan(kProductStation, kRazeb);
  EXPECT_EQ(scan_.archiveContents().value(root_ + "pkg_razeb3_6_0.tgz"),
            QStringList({"kvimage_razeb3_6_0"}));

  // An explicit choice overrides the stored flags.
  scan_.inputs().examine = SearchOptions{true, true, true, true};
  EXPECT_EQ(Scan(kProductStation, kRazeb).size(), 5);
  EXPECT_TRUE(ui_.messages().empty());
}

TEST_F(FolderScanTest, ArchiveJudgedByItsFirstFittingMember) {
  scan_.inputs().examine = SearchOptions{true, false, false, false};
  // For a station every model passes the loose look at members, so the
  // lozeb image decides and the archive is not offered for a razeb station.
  MakeArchive(root_ + "mixed3_0_0.zip", {"kvimage_lozeb3_0_0", "kvimage_razeb3_7_0"});
  MakeArchive(root_ + "sw5_0_0.zip", {"readme.txt", "kvimage_mums5_0_0"});
  MakeArchive(root_ + "nothing1_0.zip", {"readme.txt"});
  WriteFileOrFail(root_ + "corrupt2_0.zip", "PK\3\4 this is no zip");
  // Names differing only in case are two archives with their own members.
  MakeArchive(root_ + "MIXED3_0_0.zip", {"kvimage_razeb3_8_0"});

  EXPECT_EQ(Scan(kProductStation, kRazeb), QStringList({"3.0.0 (MIXED3_0_0.zip)"}));
  EXPECT_EQ(Scan(kProductStation, kLozeb), QStringList({"3.0.0 (mixed3_0_0.zip)"}));
  EXPECT_EQ(Scan(kProductSwitch, QString()), QStringList({"5.0.0 (sw5_0_0.zip)"}));
  EXPECT_FALSE(scan_.candidates().contains(root_ + "nothing1_0.zip"));
  EXPECT_TRUE(ui_.messages().empty());
}

TEST_F(FolderScanTest, BundleInsideAnArchiveIsReadAgainForTheStation) {
  scan_.inputs().examine = SearchOptions{true, false, false, false};
  MakeArchive(root_ + "bundle3_5_0.zip", {"ra.fwb"}, Bundle(kBundleRaZeb, "3_5_0"));

  EXPECT_EQ(Scan(kProductStation, kRazeb), QStringList({"3.5.0 (bundle3_5_0.zip)"}));
  scan_.inputs().stationStem = kLozeb;
  scan_.RefillVersionList();
  EXPECT_TRUE(scan_.versionEntries().isEmpty());
  EXPECT_TRUE(ui_.messages().empty());

  // The archive vanished between scan and refill: the operator hears of it.
  QFile::remove(root_ + "bundle3_5_0.zip");
  scan_.inputs().stationStem = kRazeb;
  scan_.RefillVersionList();
  EXPECT_TRUE(scan_.versionEntries().isEmpty());
  ASSERT_FALSE(ui_.messages().empty());
  EXPECT_EQ(ui_.messages().front().text, "Unable to read file " + root_ + "bundle3_5_0.zip");
}

TEST_F(FolderScanTest, HiddenOldFirmwareLeavesSwitchesOnlyBundles) {
  scan_.inputs().examine = SearchOptions{true, false, false, false};
  scan_.inputs().oldFirmware = "0";
  Image("kvimage_mums5_0_0");
  Image("kvimage_razeb3_1_0");
  MakeArchive(root_ + "sw5_1_0.zip", {"kvimage_mums5_1_0"});
  MakeArchive(root_ + "ra3_2_0.zip", {"kvimage_razeb3_2_0"});
  WriteFileOrFail(root_ + "ms.fwb", Bundle(kBundleSwitch, "6_0_0"));

  EXPECT_EQ(Scan(kProductSwitch, QString()), QStringList({"6.0.0 (ms.fwb)"}));
  // A station still gets its archives, but no extension-less images.
  EXPECT_EQ(Scan(kProductStation, kRazeb), QStringList({"3.2.0 (ra3_2_0.zip)"}));
}

TEST_F(FolderScanTest, CancelKeepsWhatWasAcceptedSoFar) {
  for (int i = 0; i < 10; ++i) Image(QStringLiteral("kvimage_razeb3_%1_0").arg(i));
  ui_.CancelProgressAfter(4);
  Scan(kProductStation, kRazeb);
  EXPECT_TRUE(scan_.cancelled());
  EXPECT_EQ(scan_.fileList().size(), 10);
  EXPECT_EQ(scan_.candidates().size(), 4);
  EXPECT_EQ(scan_.versionEntries(),
            QStringList({"3.3.0 (kvimage_razeb3_3_0)", "3.2.0 (kvimage_razeb3_2_0)",
                         "3.1.0 (kvimage_razeb3_1_0)", "3.0.0 (kvimage_razeb3_0_0)"}));
  EXPECT_TRUE(ui_.progressTexts().contains(kScanProgressText));

  ui_.CancelProgressAfter(-1);
  Scan(kProductStation, kRazeb);
  EXPECT_FALSE(scan_.cancelled());
  EXPECT_EQ(scan_.versionEntries().size(), 10);
}

TEST_F(FolderScanTest, HostileTreesEndAndKeepTheRest) {
  Image("kvimage_razeb3_1_0");
  Image("sub/kvimage_razeb3_2_0");
  const QByteArray root = QFile::encodeName(root_);
  // Loops through links to a parent and to itself; a dangling link.
  ASSERT_EQ(::symlink("..", (root + "sub/up").constData()), 0);
  ASSERT_EQ(::symlink(".", (root + "sub/self").constData()), 0);
  ASSERT_EQ(::symlink(root.constData(), (root + "sub/abs").constData()), 0);
  ASSERT_EQ(::symlink("missing", (root + "kvimage_razeb3_3_0").constData()), 0);
  // A pipe named like a bundle must not block the scan.
  ASSERT_EQ(::mkfifo((root + "pipe.fwb").constData(), 0600), 0);
  // Names with bytes that are no text, a newline and a quote.
  const QByteArray odd = root + "kvimage_razeb3_4_\xff\xfe";
  const int fd = ::open(odd.constData(), O_CREAT | O_WRONLY, 0600);
  ASSERT_GE(fd, 0);
  ::close(fd);
  Image("kvimage_razeb3_5_0 \"odd\"\n3_5_1");
  // An unreadable folder (readable anyway when the tests run as root).
  Image("locked/kvimage_razeb3_6_0");
  ASSERT_EQ(::chmod((root + "locked").constData(), 0), 0);

  const QStringList entries = Scan(kProductStation, kRazeb, true);
  ::chmod((root + "locked").constData(), 0700);
  ::unlink(odd.constData());  // QTemporaryDir could not name it

  EXPECT_TRUE(entries.contains("3.2.0 (sub/kvimage_razeb3_2_0)"));
  EXPECT_TRUE(entries.contains("3.1.0 (kvimage_razeb3_1_0)"));
  EXPECT_TRUE(entries.contains("3.5.1 (kvimage_razeb3_5_0 \"odd\"\n3_5_1)"));
  // The folder reached again through links is not walked twice.
  EXPECT_EQ(entries.filter("kvimage_razeb3_2_0").size(), 1);
  for (const QString& file : scan_.fileList()) {
    EXPECT_FALSE(file.contains("pipe.fwb"));
    EXPECT_FALSE(file.endsWith("kvimage_razeb3_3_0"));
  }
  EXPECT_TRUE(ui_.messages().empty());
}

TEST(SearchOptionsTest, ParsesArchiveTypeWords) {
  SearchOptions o;
  ASSERT_TRUE(ParseSearchOptions("zip, .TGZ,tar.gz", &o));
  EXPECT_EQ(o, (SearchOptions{true, false, true, true}));
  ASSERT_TRUE(ParseSearchOptions("", &o));
  EXPECT_EQ(o, SearchOptions());
  EXPECT_FALSE(ParseSearchOptions("zip,rar", &o));
}

}  // namespace
}  // namespace fwl
