// fwload scan run as a program on firmware folders written by the test.
#include <gtest/gtest.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include "platform/system_folders.h"
#include "support/test_util.h"

namespace fwl {
namespace {

using test::WriteFileOrFail;

struct Outcome {
  int exitCode = -1;
  QStringList lines;
  QString err;
};

class ScanCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    fw_ = dir_.path() + "/fw";
    settings_ = dir_.path() + "/settings.ini";
    WriteFileOrFail(settings_, "");
  }

  Outcome Scan(const QStringList& args, const QString& cwd = QString()) {
    // The program's own settings file, so the stored Search Options are the test's.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("FWLOADER_SETTINGS_FILE", settings_);
    const test::FwloadRun run = test::RunFwload(QStringList{"scan"} + args, env, cwd);
    return {run.exitCode, run.out.split('\n', Qt::SkipEmptyParts), run.err};
  }

  void Image(const QString& relative) { WriteFileOrFail(fw_ + "/" + relative, "image"); }

  QTemporaryDir dir_;
  QString fw_;
  QString settings_;
};

TEST_F(ScanCommandTest, ListsEntriesAsThePageDoes) {
  Image("kvimage_razeb3_1_999");
  Image("kvimage_razeb3_2_0");
  Image("old/kvimage_razeb3_2_0");
  Image("kvimage_lozeb4_0_0");
  Image("kvimage_mums5_0_0");

  Outcome o = Scan({fw_, "--station-type", "5100", "--recurse"});
  EXPECT_EQ(o.exitCode, 0) << o.err.toStdString();
  EXPECT_EQ(o.lines,
            QStringList({"* 3.2.0 (old/kvimage_razeb3_2_0)\t" + fw_ + "/old/kvimage_razeb3_2_0",
                         "  3.2.0 (kvimage_razeb3_2_0)\t" + fw_ + "/kvimage_razeb3_2_0",
                         "  3.1.999 (kvimage_razeb3_1_999)\t" + fw_ + "/kvimage_razeb3_1_999"}));
  EXPECT_TRUE(o.err.isEmpty()) << o.err.toStdString();

  // Without a station the program is a switch loader.
  o = Scan({fw_, "--json"});
  EXPECT_EQ(o.exitCode, 0);
  ASSERT_EQ(o.lines.size(), 1);
  const QJsonObject entry = QJsonDocument::fromJson(o.lines[0].toUtf8()).object();
  EXPECT_EQ(entry["version"].toString(), "5.0.0");
  EXPECT_EQ(entry["entry"].toString(), "5.0.0 (kvimage_mums5_0_0)");
  EXPECT_EQ(entry["file"].toString(), fw_ + "/kvimage_mums5_0_0");
  EXPECT_TRUE(entry["selected"].toBool());

  // A station type without a fitting image: nothing listed, exit 1.
  o = Scan({fw_, "--station-type", "5300"});
  EXPECT_EQ(o.exitCode, 1);
  EXPECT_TRUE(o.lines.isEmpty());
}

TEST_F(ScanCommandTest, StationFromAProjectFile) {
  Image("kvimage_razeb3_1_0");
  Image("kvimage_lozeb4_0_0");
  const QString project = dir_.path() + "/plant.6pj";
  WriteFileOrFail(project,
                  "[Zeb Stations]\n0=Pump1,1\n1=Tank\n"
                  "[Zeb: Pump1]\nStaID=5000\n[Zeb: Tank]\nStaID=5101\n");

  Outcome o = Scan({fw_, "--project", project, "--station", "Pump1"});
  EXPECT_EQ(o.exitCode, 0) << o.err.toStdString();
  EXPECT_EQ(o.lines, QStringList({"* 4.0.0 (kvimage_lozeb4_0_0)\t" + fw_ + "/kvimage_lozeb4_0_0"}));
  o = Scan({fw_, "--project", project, "--station", "Tank"});
  EXPECT_EQ(o.lines, QStringList({"* 3.1.0 (kvimage_razeb3_1_0)\t" + fw_ + "/kvimage_razeb3_1_0"}));
  o = Scan({fw_, "--project", project, "--station", "Nobody"});
  EXPECT_EQ(o.exitCode, 2);
  EXPECT_TRUE(o.err.contains("Nobody"));
  o = Scan({fw_, "--project", project + ".missing", "--station", "Pump1"});
  EXPECT_EQ(o.exitCode, 2);
  EXPECT_TRUE(o.err.contains("no project file")) << o.err.toStdString();
}

TEST_F(ScanCommandTest, AProjectNamedWithoutAFolderIsInTheCurrentFolder) {
  Image("kvimage_razeb3_1_0");
  Image("kvimage_lozeb4_0_0");
  WriteFileOrFail(dir_.path() + "/plant.6pj",
                  "[Zeb Stations]\n0=Pump1\n[Zeb: Pump1]\nStaID=5000\n");
  // A file of the same name where the program keeps its own profiles must
  // not be the one read.
  WriteFileOrFail(SystemFolder() + "plant.6pj",
                  "[Zeb Stations]\n0=Pump1\n[Zeb: Pump1]\nStaID=5101\n");

  const Outcome o = Scan({fw_, "--project", "plant.6pj", "--station", "Pump1"}, dir_.path());
  EXPECT_EQ(o.exitCode, 0) << o.err.toStdString();
  EXPECT_EQ(o.lines, QStringList({"* 4.0.0 (kvimage_lozeb4_0_0)\t" + fw_ + "/kvimage_lozeb4_0_0"}));
  QFile::remove(SystemFolder() + "plant.6pj");
}

TEST_F(ScanCommandTest, ArchiveTypesDefaultToTheStoredSearchOptions) {
  Image("kvimage_razeb3_1_0");
  QTemporaryDir scratch;
  WriteFileOrFail(scratch.filePath("kvimage_razeb3_3_0"), "image");
  ASSERT_TRUE(test::RunTool("7za", {"a", "-tzip", fw_ + "/pkg3_3_0.zip", "kvimage_razeb3_3_0"},
                            scratch.path()));

  const QStringList args{fw_, "--station-type", "5100"};
  EXPECT_EQ(Scan(args).lines.size(), 1);  // nothing stored: no archive examined
  EXPECT_EQ(Scan(args + QStringList{"--examine", "zip"}).lines.value(0),
            "* 3.3.0 (pkg3_3_0.zip)\t" + fw_ + "/pkg3_3_0.zip");

  WriteFileOrFail(settings_, "[fwloadpages]\nexamine zip files=1\n");
  EXPECT_EQ(Scan(args).lines.size(), 2);
  EXPECT_EQ(Scan(args + QStringList{"--examine", ""}).lines.size(), 1);
}

TEST_F(ScanCommandTest, BadUsage) {
  Image("kvimage_mums5_0_0");
  const QList<QStringList> bad = {
      {},
      {fw_, "--product", "router"},
      {fw_, "--station", "Pump1"},
      {fw_, "--project", "x.6pj"},
      {fw_, "--project", "x.6pj", "--station", "A", "--station-type", "5100"},
      {fw_, "--product", "switch", "--station-type", "5100"},
      {fw_, "--station-type", "many"},
      {fw_, "--examine", "zip,rar"},
      {fw_, "--frobnicate"},
      {fw_, fw_},
      {dir_.path() + "/missing"},
  };
  for (const QStringList& args : bad) {
    const Outcome o = Scan(args);
    EXPECT_EQ(o.exitCode, 2) << args.join(' ').toStdString();
    EXPECT_TRUE(o.lines.isEmpty());
    EXPECT_FALSE(o.err.isEmpty());
  }
}

}  // namespace
}  // namespace fwl
