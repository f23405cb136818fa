// fwload inspect, run as the built program: what it reports for image names
// and bundles, in text and JSON, and how it treats files it cannot read.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include "catalogue/firmware_bundle.h"
#include "sim/bundle_writer.h"
#include "support/test_util.h"

namespace fwl {
namespace {

using test::FwloadRun;

FwloadRun Fwload(const QStringList& args) { return test::RunFwload(args); }

QList<QJsonObject> JsonLines(const QString& out) {
  QList<QJsonObject> objects;
  for (const QString& line : out.split(u'\n', Qt::SkipEmptyParts)) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(line.toUtf8(), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
    objects << doc.object();
  }
  return objects;
}

class InspectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = dir_.filePath("kvimage_razeb3_1_999");
    test::WriteFileOrFail(image_, "image");
    bundle_ = dir_.filePath("station.fwb");
    sim::BundleWriter writer(1101, "3_2_5");
    const int a = writer.AddDirectory(sim::BundleWriter::kRoot, kTagCpuA, "PPC");
    const int boot = writer.AddFile(a, kTagImageBoot, "imageb", "", "boot");
    writer.AddFile(a, kTagImage, "image", "main", "main image");
    const int c = writer.AddDirectory(sim::BundleWriter::kRoot, kTagCpuC, "ARM9");
    writer.AddLink(c, kTagImageBoot, "imageb", "", boot);
    ASSERT_TRUE(writer.WriteTo(bundle_));
  }

  QTemporaryDir dir_;
  QString image_;
  QString bundle_;
};

TEST_F(InspectTest, JsonDescribesNamesAndBundles) {
  const FwloadRun run = Fwload({"inspect", "--json", image_, bundle_});
  EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
  EXPECT_EQ(run.err, "");
  const QList<QJsonObject> objects = JsonLines(run.out);
  ASSERT_EQ(objects.size(), 2);

  const QJsonObject& image = objects[0];
  EXPECT_EQ(image["file"].toString(), image_);
  EXPECT_EQ(image["version"].toString(), "3.1.999");
  EXPECT_EQ(image["versionPart"].toString(), "3_1_999");
  EXPECT_EQ(image["displayVersion"].toString(), "3.1");
  EXPECT_TRUE(image["version999"].toBool());
  EXPECT_TRUE(image["knownPackageName"].toBool());
  EXPECT_FALSE(image["matchesSwitch"].toBool());
  EXPECT_EQ(image["matchesStations"].toArray(), QJsonArray{"kvimage_razeb"});
  EXPECT_FALSE(image.contains("bundle"));

  const QJsonObject& bundle = objects[1];
  EXPECT_EQ(bundle["version"].toString(), "3.2.5");
  EXPECT_EQ(bundle["matchesStations"].toArray(), QJsonArray{"kvimage_razeb"});
  const QJsonObject header = bundle["bundle"].toObject();
  EXPECT_EQ(header["formatVersion"].toInt(), 1);
  EXPECT_EQ(header["productCode"].toInt(), 1101);
  EXPECT_EQ(header["productName"].toString(), "RA_Zeb");
  EXPECT_EQ(header["versionText"].toString(), "3_2_5");
  EXPECT_EQ(header["rootName"].toString(), "");
  EXPECT_TRUE(header["oemAccepted"].toBool());
  const QJsonArray folders = header["tree"].toObject()["children"].toArray();
  ASSERT_EQ(folders.size(), 2);
  const QJsonObject main = folders[0].toObject()["children"].toArray()[1].toObject();
  EXPECT_EQ(main["type"].toString(), "file");
  EXPECT_EQ(main["tag"].toInt(), 2);
  EXPECT_EQ(main["label"].toString(), "main");
  EXPECT_EQ(main["size"].toInt(), 10);
  const QJsonObject link = folders[1].toObject()["children"].toArray()[0].toObject();
  EXPECT_EQ(link["type"].toString(), "link");
  EXPECT_EQ(link["targetType"].toString(), "file");
}

TEST_F(InspectTest, TextOutputShowsTreeAndMatches) {
  const FwloadRun run = Fwload({"inspect", bundle_, image_});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(run.out.contains("product:            1101 RA_Zeb")) << run.out.toStdString();
  EXPECT_TRUE(run.out.contains("station kvimage_razeb (types 5100 5101)"));
  EXPECT_TRUE(run.out.contains("file tag 2 (Image) name \"image\" label \"main\" size 10"));
  EXPECT_TRUE(run.out.contains("link tag 1 (ImageB) name \"imageb\" label \"\" -> file"));
  EXPECT_TRUE(run.out.contains("version:            3.1.999"));
}

TEST_F(InspectTest, NamesFromTheBundleArePrintedAsTheyStand) {
  const QString path = dir_.filePath("odd.fwb");
  sim::BundleWriter writer(2000, "1_0");
  const int a = writer.AddDirectory(sim::BundleWriter::kRoot, kTagCpuA, "%3");
  writer.AddFile(a, kTagImage, "%4", "lab", "x");
  ASSERT_TRUE(writer.WriteTo(path));
  const FwloadRun run = Fwload({"inspect", path});
  EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
  EXPECT_TRUE(run.out.contains("dir tag 65 ('A' PPC) name \"%3\" label \"\" children 1"))
      << run.out.toStdString();
  EXPECT_TRUE(run.out.contains("file tag 2 (Image) name \"%4\" label \"lab\" size 1"));
}

TEST_F(InspectTest, BadFilesAreOneLineEachAndTheRestStillInspected) {
  const QString missing = dir_.filePath("missing_kvimage_mums3_1_2");
  const QString truncated = dir_.filePath("cut.fwb");
  test::WriteFileOrFail(truncated, test::ReadFileOrEmpty(bundle_).left(60));
  const QString version2 = dir_.filePath("v2.fwb");
  QByteArray v2 = test::ReadFileOrEmpty(bundle_);
  v2[3] = 2;
  test::WriteFileOrFail(version2, v2);

  const FwloadRun run =
      Fwload({"inspect", "--json", missing, image_, truncated, dir_.path(), version2, bundle_});
  EXPECT_EQ(run.exitCode, 2);
  const QStringList errors = run.err.split(u'\n', Qt::SkipEmptyParts);
  ASSERT_EQ(errors.size(), 4) << run.err.toStdString();
  EXPECT_TRUE(errors[0].startsWith("fwload inspect: " + missing + ": "));
  EXPECT_TRUE(errors[1].startsWith("fwload inspect: " + truncated + ": not a readable"));
  EXPECT_TRUE(errors[2].contains("folder"));
  EXPECT_TRUE(errors[3].endsWith("Unknown file version 2."));
  const QList<QJsonObject> objects = JsonLines(run.out);
  ASSERT_EQ(objects.size(), 2);
  EXPECT_EQ(objects[0]["file"].toString(), image_);
  EXPECT_EQ(objects[1]["file"].toString(), bundle_);
}

TEST_F(InspectTest, UsageErrors) {
  EXPECT_EQ(Fwload({"inspect"}).exitCode, 2);
  const FwloadRun unknown = Fwload({"inspect", "--jason", image_});
  EXPECT_EQ(unknown.exitCode, 2);
  EXPECT_TRUE(unknown.err.contains("unknown option '--jason'"));
  EXPECT_EQ(unknown.out, "");
  // "--" lets a file name start with a dash.
  const QString dashed = dir_.filePath("-kvimage_mums3_1_2");
  test::WriteFileOrFail(dashed, "x");
  const FwloadRun dashedRun =
      test::RunFwload({"inspect", "--json", "--", "-kvimage_mums3_1_2"},
                      QProcessEnvironment::systemEnvironment(), dir_.path());
  EXPECT_EQ(dashedRun.exitCode, 0);
  EXPECT_TRUE(dashedRun.out.contains("\"version\":\"3.1.2\""));
}

}  // namespace
}  // namespace fwl
