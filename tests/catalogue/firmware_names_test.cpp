// File-name vocabulary: versions from names, version order, package names,
// image/product matching and the station-type tables.
#include "catalogue/firmware_names.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include "platform/ui.h"
#include "sim/bundle_writer.h"
#include "support/scripted_ui.h"

namespace fwl {
namespace {

TEST(VersionFromFileName, ReadsDigitsAfterModelCode) {
  EXPECT_EQ(VersionFromFileName("kvimage_razeb3_1_999"), "3.1.999");
  EXPECT_EQ(VersionFromFileName("kvimage_razeb_3_1_999"), "3.1.999");
  EXPECT_EQ(VersionFromFileName("/fw/kvfirm_lozeb3_1_999.tgz"), "3.1.999");
  // x.tar left from x.tar.gz is cut at its own dot.
  EXPECT_EQ(VersionFromFileName("/fw/kvfirm_lozeb3_2_1.tar.gz"), "3.2.1");
  // A trailing separator is dropped.
  EXPECT_EQ(VersionFromFileName("kvimage_mums3_1_"), "3.1");
  // The folder's dots do not make an extension.
  EXPECT_EQ(VersionFromFileName("/a.b/kvimage_mums3_1_2"), "3.1.2");
}

TEST(VersionFromFileName, MarksProcessorSpecificImages) {
  EXPECT_EQ(VersionFromFileName("kvimagea_mums3_1_2"), "3.1.2a");
  EXPECT_EQ(VersionFromFileName("/x/kvimage9_lozeb4_0_1"), "4.0.1c");
  // The mark comes from the whole path, even a folder name.
  EXPECT_EQ(VersionFromFileName("/kvimagea_stuff/kvimage_mums3_1_2"), "3.1.2a");
}

TEST(VersionFromFileName, NamesWithoutVersionGiveEmpty) {
  EXPECT_EQ(VersionFromFileName("12345"), "");
  EXPECT_EQ(VersionFromFileName("1_2_3"), "");
  EXPECT_EQ(VersionFromFileName("kvimage_mums"), "");
  EXPECT_EQ(VersionFromFileName("kvimagea_mums"), "");
  EXPECT_EQ(VersionFromFileName(""), "");
}

TEST(VersionFromFileName, BundleVersionComesFromHeader) {
  QTemporaryDir dir;
  const QString path = dir.filePath("some_name9_9_9.fwb");
  ASSERT_TRUE(sim::BundleWriter(kBundleSwitch, "3_4_17").WriteTo(path));
  EXPECT_EQ(VersionFromFileName(path), "3.4.17");
  // The extension is matched without regard to case.
  const QString upper = dir.filePath("other.FWB");
  ASSERT_TRUE(QFile::copy(path, upper));
  EXPECT_EQ(VersionFromFileName(upper), "3.4.17");
}

TEST(VersionFromFileName, UnreadableBundleIsReported) {
  test::ScriptedUi ui;
  ScopedUi scoped(&ui);
  QTemporaryDir dir;
  const QString path = dir.filePath("kvimage_mums3_1_2.fwb");
  EXPECT_EQ(VersionFromFileName(path), "");
  ASSERT_EQ(ui.messageTexts().size(), 1);
  EXPECT_EQ(ui.messageTexts()[0], "Error reading firmware bundle " + path + ".");
}

TEST(CompareVersions, OrdersNumericFields) {
  EXPECT_EQ(CompareVersions("3.10.0", "3.9.9"), 1);
  EXPECT_EQ(CompareVersions("3.9.9", "3.10.0"), -1);
  EXPECT_EQ(CompareVersions("3.1.999", "3.1.999a"), 0);
  EXPECT_EQ(CompareVersions("3.1.999", "3.1.0999"), 0);
  EXPECT_EQ(CompareVersions("3.1", "3.1.0"), 0);
  EXPECT_EQ(CompareVersions("", "0.0.0"), 0);
  EXPECT_EQ(CompareVersions("2", "1.99.99"), 1);
  // Only three fields count.
  EXPECT_EQ(CompareVersions("1.2.3.4", "1.2.3.9"), 0);
  // Leading blanks and control characters are skipped; trailing text ends
  // the number.
  EXPECT_EQ(CompareVersions(" 3.\t2. 1 ", "3.2.1"), 0);
  EXPECT_EQ(CompareVersions("1.5b", "1.5"), 0);
  // Fields keep ten characters: the eleventh digit is not read.
  EXPECT_EQ(CompareVersions("12345678901", "1234567890"), 0);
  EXPECT_EQ(CompareVersions("9999999999", "9999999998"), 1);
}

TEST(CompareVersions, BackquotedDotsDoNotSeparate) {
  // "`1.5`" is one field that reads as 0; the next field is 7.
  EXPECT_EQ(CompareVersions("`1.5`.7", "0.7"), 0);
  EXPECT_EQ(CompareVersions("`1.5`.7", "0.6"), 1);
}

TEST(VersionPart, TakesTrailingDigitsAndUnderscores) {
  EXPECT_EQ(VersionPart("kvimage_mums3_1_999"), "3_1_999");
  EXPECT_EQ(VersionPart("kvimage_mums_3_1_999"), "_3_1_999");
  EXPECT_EQ(VersionPart("3_1_999"), "");
  EXPECT_EQ(VersionPart("kvimage_mums"), "");
  EXPECT_EQ(VersionPart(""), "");
}

TEST(DisplayVersion, CutsAtFirst999) {
  EXPECT_EQ(DisplayVersion("3_1_999"), "3.1");
  EXPECT_EQ(DisplayVersion("3_2_1"), "3.2.1");
  EXPECT_EQ(DisplayVersion("3_999_1_999"), "3");
  EXPECT_TRUE(HasVersion999("3_1_999"));
  EXPECT_FALSE(HasVersion999("3_1_99"));
}

TEST(NewestFirmwareFile, PassesOverCompanionsAndComparesVersionsByNumber) {
  for (const char* name :
       {"kvimage_lozeb3_2_0.md5", "x.SHA1", "x.sha256", "x.sig", "x.asc", "notes.TXT"}) {
    EXPECT_TRUE(IsCompanionFileName(name)) << name;
  }
  for (const char* name : {"kvimage_lozeb3_2_0", "kvfirm_lozeb3_2_0.tgz", "md5", "x.txt.gz"}) {
    EXPECT_FALSE(IsCompanionFileName(name)) << name;
  }
  // Spelling puts 3_1_999 after 3_10_0; the version order does not.
  EXPECT_EQ(NewestFirmwareFile({"kvfirm_lozeb3_10_0.tgz", "kvfirm_lozeb3_1_999.tgz"}), 0);
  EXPECT_EQ(
      NewestFirmwareFile({"kvimage_lozeb3_10_0", "kvimage_lozeb3_2_0", "kvimage_lozeb3_2_0.md5"}),
      0);
  EXPECT_EQ(NewestFirmwareFile({"kvimage_lozeb3_2_0", "kvimage_lozeb3_2_0.sig"}), 0);
  // Equal versions: the later name, as a plain search would have ended.
  EXPECT_EQ(NewestFirmwareFile({"kvimage_lozeb3_2_0", "kvimage_lozeb3_2_0_0"}), 1);
  EXPECT_EQ(NewestFirmwareFile({"kvimage_lozeb3_2_0.md5", "readme.txt"}), -1);
  EXPECT_EQ(NewestFirmwareFile({}), -1);
}

TEST(IsKnownPackageName, RecognisesStemsBeforeVersion) {
  const QStringList& stems = KnownStems();
  EXPECT_TRUE(IsKnownPackageName("/fw/kvfirm_lozeb3_1_999.tgz", stems));
  EXPECT_TRUE(IsKnownPackageName("/fw/KVFIRM_LOZEB3_1_999.TGZ", stems));
  EXPECT_TRUE(IsKnownPackageName("kvimage_razeb_3_1_2", stems));
  EXPECT_TRUE(IsKnownPackageName("kvimageba_mums3_1_2", stems));
  // Other extensions never qualify, nor names without a digit or letter.
  EXPECT_FALSE(IsKnownPackageName("kvfirm_lozeb3_1_999.zip", stems));
  EXPECT_FALSE(IsKnownPackageName("kvfirm_lozeb.tgz", stems));
  EXPECT_FALSE(IsKnownPackageName("3_1_999", stems));
  EXPECT_FALSE(IsKnownPackageName("kvfirm_louzeb3_1.tgz", stems));
  EXPECT_FALSE(IsKnownPackageName("kvfirm_lozeb3_1.tgz", {}));
}

TEST(KnownStems, NineteenInFixedOrder) {
  const QStringList& stems = KnownStems();
  // The package reader reports matches by index into this list, so every
  // position counts, not just the ends.
  EXPECT_EQ(stems,
            (QStringList{"kvfirm_ragt", "kvfirm_razeb", "kvfirm_lozeb", "kvfirm6_razeb",
                         "kvfirm6_lozeb", "kvfirm_mugt", "kvimage_ragt", "kvimage_razeb",
                         "kvimage_lozeb", "kvimage6_razeb", "kvimageb_razeb", "kvimage6_lozeb",
                         "kvimageb_lozeb", "kvimage_mugt", "kvimageb_mugt", "kvimage_mums",
                         "kvimageb_mums", "kvimagea_mums", "kvimageba_mums"}));
}

TEST(ImageNameMatchesProduct, LooseMode) {
  const auto loose = MatchMode::kLoose;
  EXPECT_TRUE(ImageNameMatchesProduct("kvimage_mums3_1_2", kProductSwitch, "", loose));
  EXPECT_TRUE(ImageNameMatchesProduct("kvimage_razeb3_1_2", kProductStation, "", loose));
  EXPECT_FALSE(ImageNameMatchesProduct("kvimage_razeb3_1_2", kProductSwitch, "", loose));
  // Boot images and names without a model code never match.
  EXPECT_FALSE(ImageNameMatchesProduct("kvimageb_razeb3_1_999", kProductStation, "", loose));
  EXPECT_FALSE(ImageNameMatchesProduct("kvimageba_mums3_1_2", kProductSwitch, "", loose));
  EXPECT_FALSE(ImageNameMatchesProduct("kvimage_3_1_2", kProductStation, "", loose));
  EXPECT_FALSE(ImageNameMatchesProduct("kvimage_mums", kProductSwitch, "", loose));
  // Any bundle passes the loose test without being read.
  EXPECT_TRUE(ImageNameMatchesProduct("/nowhere/x.fwb", kProductSwitch, "", loose));
}

TEST(ImageNameMatchesProduct, StrictModeStations) {
  const auto strict = MatchMode::kStrict;
  EXPECT_TRUE(ImageNameMatchesProduct("/fw/kvimage_razeb3_1_999", kProductStation, "kvimage_razeb",
                                      strict));
  // The prefix is compared with case, the model code without.
  EXPECT_FALSE(
      ImageNameMatchesProduct("KVIMAGE_razeb3_1_999", kProductStation, "kvimage_razeb", strict));
  EXPECT_TRUE(
      ImageNameMatchesProduct("kvimage_RAZEB3_1_999", kProductStation, "kvimage_razeb", strict));
  // The separator becomes part of the model code.
  EXPECT_FALSE(
      ImageNameMatchesProduct("kvimage_razeb_3_1_999", kProductStation, "kvimage_razeb", strict));
  EXPECT_TRUE(
      ImageNameMatchesProduct("kvimage6_razeb3_2", kProductStation, "kvimage6_razeb", strict));
  EXPECT_FALSE(
      ImageNameMatchesProduct("kvimage_lozeb3_1_2", kProductStation, "kvimage_razeb", strict));
  EXPECT_FALSE(ImageNameMatchesProduct("kvimage_razeb3_1_2", kProductStation, "", strict));
}

TEST(ImageNameMatchesProduct, StrictModeSwitches) {
  const auto strict = MatchMode::kStrict;
  EXPECT_TRUE(ImageNameMatchesProduct("kvimage_mums3_1_2", kProductSwitch, "", strict));
  EXPECT_TRUE(ImageNameMatchesProduct("kvimagea_mums3_1_2", kProductSwitch, "", strict));
  EXPECT_FALSE(ImageNameMatchesProduct("KVIMAGE_MUMS3_1_2", kProductSwitch, "", strict));
  EXPECT_FALSE(ImageNameMatchesProduct("kvimage_MUMS3_1_2", kProductSwitch, "", strict));
  EXPECT_FALSE(ImageNameMatchesProduct("kvimage_mums3_1_2", kProductOldLine, "", strict));
}

TEST(ImageNameMatchesProduct, StrictModeReadsBundleProductCode) {
  QTemporaryDir dir;
  const QString lo = dir.filePath("lo.fwb");
  const QString ms = dir.filePath("ms.fwb");
  ASSERT_TRUE(sim::BundleWriter(kBundleLoZeb, "3_1_2").WriteTo(lo));
  ASSERT_TRUE(sim::BundleWriter(kBundleSwitch, "3_1_2").WriteTo(ms));
  const auto strict = MatchMode::kStrict;
  EXPECT_TRUE(ImageNameMatchesProduct(lo, kProductStation, "KVIMAGE_LOZEB", strict));
  EXPECT_FALSE(ImageNameMatchesProduct(lo, kProductStation, "kvimage_razeb", strict));
  EXPECT_FALSE(ImageNameMatchesProduct(lo, kProductSwitch, "", strict));
  EXPECT_TRUE(ImageNameMatchesProduct(ms, kProductSwitch, "", strict));
  EXPECT_FALSE(ImageNameMatchesProduct(ms, kProductStation, "kvimage_lozeb", strict));

  test::ScriptedUi ui;
  ScopedUi scoped(&ui);
  const QString missing = dir.filePath("missing.fwb");
  EXPECT_FALSE(ImageNameMatchesProduct(missing, kProductSwitch, "", strict));
  EXPECT_EQ(ui.messageTexts(), QStringList{"Unable to read firmware file " + missing});
}

TEST(StationTables, StemsAndPatterns) {
  EXPECT_EQ(StationImageStem(5003), "kvimage_lozeb");
  EXPECT_EQ(StationImageStem(5102), "kvimage6_razeb");
  EXPECT_EQ(StationImageStem(5401), "kvimage9_lozeb");
  EXPECT_EQ(StationImageStem(0), "");
  EXPECT_EQ(StationImageStem(4999), "");

  QStringList patterns{"keep"};
  EXPECT_EQ(PackagePatterns(5102, patterns), 1);
  EXPECT_EQ(patterns, (QStringList{"keep", "kvfirm6_razeb*.tgz"}));

  // 5300 has an image stem but no package, and the switch image patterns.
  patterns.clear();
  EXPECT_EQ(PackagePatterns(5300, patterns), -1);
  EXPECT_TRUE(patterns.isEmpty());
  EXPECT_EQ(ImagePatterns(5300, patterns), 4);
  EXPECT_EQ(patterns,
            (QStringList{"kvimage_mums*", "kvimageb_mums*", "kvimagea_mums*", "kvimageba_mums*"}));
  patterns.clear();
  EXPECT_EQ(ImagePatterns(5051, patterns), 2);
  EXPECT_EQ(patterns, (QStringList{"kvimage_mugt*", "kvimageb_mugt*"}));
  // Code 0 ends a table row internally; it must not match one.
  EXPECT_EQ(PackagePatterns(0, patterns), -1);
}

// Every station type code against its row of the three tables.
TEST(StationTables, EveryKnownTypeCode) {
  struct Row {
    int code;
    const char* stem;
    const char* package;  // nullptr: no package
    QStringList images;
  };
  const QStringList switchPatterns{"kvimage_mums*", "kvimageb_mums*", "kvimagea_mums*",
                                   "kvimageba_mums*"};
  const Row rows[] = {
      {5000, "kvimage_lozeb", "kvfirm_lozeb*.tgz", {"kvimage_lozeb*"}},
      {5001, "kvimage_lozeb", "kvfirm_lozeb*.tgz", {"kvimage_lozeb*"}},
      {5002, "kvimage_lozeb", "kvfirm_lozeb*.tgz", {"kvimage_lozeb*"}},
      {5003, "kvimage_lozeb", "kvfirm_lozeb*.tgz", {"kvimage_lozeb*"}},
      {5200, "kvimage_lozeb", "kvfirm_lozeb*.tgz", {"kvimage_lozeb*"}},
      {5210, "kvimage_lozeb", "kvfirm_lozeb*.tgz", {"kvimage_lozeb*"}},
      {5050, "kvimage_ragt", "kvfirm_ragt*.tgz", {"kvimage_ragt*"}},
      {5051, "kvimage_mugt", "kvfirm_mugt*.tgz", {"kvimage_mugt*", "kvimageb_mugt*"}},
      {5100, "kvimage_razeb", "kvfirm_razeb*.tgz", {"kvimage_razeb*"}},
      {5101, "kvimage_razeb", "kvfirm_razeb*.tgz", {"kvimage_razeb*"}},
      {5102, "kvimage6_razeb", "kvfirm6_razeb*.tgz", {"kvimage6_razeb*", "kvimageb_razeb*"}},
      {5300, "kvimage_louzeb", nullptr, switchPatterns},
      {5301, "kvimage_louzeb", nullptr, switchPatterns},
      {5400, "kvimage9_lozeb", nullptr, switchPatterns},
      {5401, "kvimage9_lozeb", nullptr, switchPatterns},
      {5004, "", nullptr, switchPatterns},
      {1, "", nullptr, switchPatterns},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.code);
    EXPECT_EQ(StationImageStem(row.code), row.stem);
    QStringList packages;
    EXPECT_EQ(PackagePatterns(row.code, packages), row.package ? 1 : -1);
    EXPECT_EQ(packages, row.package ? QStringList{row.package} : QStringList{});
    QStringList images;
    EXPECT_EQ(ImagePatterns(row.code, images), row.images.size());
    EXPECT_EQ(images, row.images);
  }
}

TEST(BundleProductCodes, NamesAndStems) {
  EXPECT_EQ(BundleProductName(1002), "LO_uZeb");
  EXPECT_EQ(BundleProductName(3000), "MU2");
  EXPECT_EQ(BundleProductName(7), "");
  const struct {
    int code;
    const char* name;
    const char* stem;
  } codes[] = {{1001, "LO_Zeb", "kvimage_lozeb"},
               {1002, "LO_uZeb", "kvimage_louzeb"},
               {1003, "LO6_Zeb", "kvimage6_lozeb"},
               {1101, "RA_Zeb", "kvimage_razeb"},
               {1102, "RA6_Zeb", "kvimage6_razeb"},
               {1201, "MUGT", "kvimage_mugt"},
               {1301, "RAGT", "kvimage_ragt"},
               {2000, "MS", ""},
               {3000, "MU2", ""}};
  for (const auto& c : codes) {
    EXPECT_EQ(BundleProductName(c.code), c.name);
    EXPECT_EQ(BundleProductStem(c.code), c.stem);
  }
  EXPECT_TRUE(BundleCodeMatchesStem(1301, "kvimage_RAGT"));
  EXPECT_FALSE(BundleCodeMatchesStem(2000, ""));
  EXPECT_FALSE(BundleCodeMatchesStem(3000, ""));
  EXPECT_TRUE(IsStationProduct(0));
  EXPECT_TRUE(IsStationProduct(-1));
  EXPECT_FALSE(IsStationProduct(kProductOldLine));
}

}  // namespace
}  // namespace fwl
