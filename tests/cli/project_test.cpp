// fwload project run as a program on project files written by the test.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include "support/test_util.h"

namespace fwl {
namespace {

using Outcome = test::FwloadRun;
using test::RunFwload;

class ProjectCommandTest : public ::testing::Test {
 protected:
  QString Write(const QByteArray& text) {
    const QString path = dir_.filePath("plant.6pj");
    test::WriteFileOrFail(path, text);
    return path;
  }
  QTemporaryDir dir_;
};

TEST_F(ProjectCommandTest, ListsStationsAsLinesAndJson) {
  const QString project = Write(
      "[Zeb Stations]\n0=Pump1,1\n1=Tank Farm\n"
      "[Zeb: Pump1]\nStaID=5100\nSerNum=1234\nIPAddr1=10.0.0.5\nPort2ID=4\n"
      "Port2=a,b,c,d,e,0,0,0,0,f,10,0,0,1\n"
      "[Zeb: Tank Farm]\nStaID=5300\n");
  Outcome o = RunFwload({"project", project});
  EXPECT_EQ(o.exitCode, 0) << o.err.toStdString();
  const QStringList lines = o.out.split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 3);
  EXPECT_TRUE(lines[1].startsWith("Pump1\t5100\t"));
  EXPECT_TRUE(lines[1].endsWith("\t1234\t10.0.0.5\t255.0.0.0\t10.0.0.1"));
  EXPECT_TRUE(lines[2].startsWith("Tank Farm\t5300\t"));
  EXPECT_TRUE(lines[2].endsWith("\t-\t-"));

  o = RunFwload({"project", "--json", project});
  EXPECT_EQ(o.exitCode, 0);
  const QStringList json = o.out.split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(json.size(), 2);
  const QJsonObject first = QJsonDocument::fromJson(json[0].toUtf8()).object();
  EXPECT_EQ(first.value("station").toString(), "Pump1");
  EXPECT_EQ(first.value("typeCode").toInt(), 5100);
  EXPECT_FALSE(first.value("imageStem").toString().isEmpty());
  EXPECT_EQ(first.value("serialNumber").toString(), "1234");
  EXPECT_EQ(first.value("ipAddress").toString(), "10.0.0.5");
  EXPECT_EQ(first.value("subnet").toString(), "255.0.0.0");
  const QJsonObject second = QJsonDocument::fromJson(json[1].toUtf8()).object();
  EXPECT_TRUE(second.value("gateway").isNull());
}

TEST_F(ProjectCommandTest, ExitStatusForBadProjectsAndUsage) {
  // One unreadable entry: the other station is still listed.
  Outcome o =
      RunFwload({"project", Write("[Zeb Stations]\n0=,x\n1=Good\n[Zeb: Good]\nStaID=5000\n")});
  EXPECT_EQ(o.exitCode, 1);
  EXPECT_TRUE(o.err.contains("Error reading project file."));
  EXPECT_TRUE(o.out.contains("Good\t5000"));

  EXPECT_EQ(RunFwload({"project", Write("[Other]\nx=1\n")}).exitCode, 1);
  EXPECT_EQ(RunFwload({"project", dir_.filePath("missing.6pj")}).exitCode, 2);
  EXPECT_EQ(RunFwload({"project"}).exitCode, 2);
  EXPECT_EQ(RunFwload({"project", "a.6pj", "b.6pj"}).exitCode, 2);
  EXPECT_EQ(RunFwload({"project", "--bogus", "a.6pj"}).exitCode, 2);
}

}  // namespace
}  // namespace fwl
