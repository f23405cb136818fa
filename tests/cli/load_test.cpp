// "fwload load" as a program: bad usage, a load into a simulated unit whose
// power is switched by a command, and a failing load with its report lines.
#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include "app/settings.h"
#include "platform/system_folders.h"
#include "sim/sim_unit.h"
#include "support/test_util.h"

namespace fwl::test {
namespace {

struct ProgramRun {
  int exitCode = -1;
  QByteArray out;
  QByteArray err;
};

class FwloadLoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    // The child reads the restart delays from this settings file.
    SetSettingInt(kSectionLoad, "hard reset delay ms", 0);
    SetSettingInt(kSectionLoad, "4410 hard reset extension", 0);
    tftpPort = FreeUdpPort();
    fs = RandomBytes(60000, 1);
    boot = RandomBytes(20000, 2);
    WriteFileOrFail(dir.path() + "/kvimagea_mums3_1_5", fs);
    WriteFileOrFail(dir.path() + "/kvimageba_mums3_1_5", boot);
  }
  void TearDown() override {
    if (unit) unit->Stop();
  }

  void StartUnit(const QStringList& failCommands = {},
                 const std::function<void(SimOptions&)>& change = {}) {
    SimOptions o;
    o.board = kSimBoard79524;
    ApplyBoardDefaults(o);
    o.countdownTickMs = 200;
    o.tftpPort = tftpPort;
    o.failCommands = failCommands;
    if (change) change(o);
    unit = std::make_unique<SimUnit>(o);
    control = dir.path() + "/control";
    QString error;
    ASSERT_TRUE(unit->Start(control, &error)) << error.toStdString();
  }

  // Base arguments of a load into the unit.
  QStringList LoadArgs() const {
    return {"load",
            "--product",
            "switch",
            "--method",
            "serial",
            "--port",
            unit->SlavePath(),
            "--pc-ip",
            "127.0.0.1",
            "--ip",
            "127.0.0.1",
            "--subnet",
            "255.0.0.0",
            "--firmware",
            dir.path() + "/kvimagea_mums3_1_5",
            "--tftp-port",
            QString::number(tftpPort),
            "--yes",
            "--power-on-cmd",
            QStringLiteral("'%1' sim power-cycle --control '%2'").arg(FwloadPath(), control)};
  }

  static ProgramRun Fwload(const QStringList& args, int timeoutMs = 120000,
                           const QString& cwd = QString()) {
    QProcess p;
    if (!cwd.isEmpty()) p.setWorkingDirectory(cwd);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("FWLOADER_SETTINGS_FILE", SettingsFilePath());
    p.setProcessEnvironment(env);
    p.start(FwloadPath(), args);
    p.closeWriteChannel();
    ProgramRun r;
    if (!p.waitForFinished(timeoutMs)) {
      p.kill();
      p.waitForFinished();
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
  }

  QTemporaryDir dir;
  quint16 tftpPort = 0;
  QByteArray fs, boot;
  std::unique_ptr<SimUnit> unit;
  QString control;
};

TEST_F(FwloadLoadTest, BadUsageExitsWith2AndSaysWhy) {
  const QString image = dir.path() + "/kvimagea_mums3_1_5";
  const QStringList good = {"load",     "--product", "station",   "--method",   "serial",
                            "--port",   "ttyS0",     "--pc-ip",   "10.0.0.1",   "--ip",
                            "10.0.0.2", "--subnet",  "255.0.0.0", "--firmware", image};
  struct Case {
    QStringList args;
    const char* says;
  };
  const Case cases[] = {
      {QStringList(good).mid(0, 1) + good.mid(3), "--product"},
      {QStringList(good) << "--bogus", "unknown option"},
      {QStringList(good) << "--gateway"
                         << "10.0.0.300",
       "--gateway"},
      {QStringList(good).replaceInStrings("10.0.0.2", "ten"), "--ip"},
      {QStringList(good).replaceInStrings(image, image + ".missing"), "no firmware file"},
      {QStringList(good) << "--station"
                         << "Pump 1",
       "--project and --station"},
      {QStringList(good) << "--station-type"
                         << "x",
       "--station-type"},
      {QStringList(good).replaceInStrings("serial", "bogus"), "--method"},
      {QStringList(good) << "--tftp-port", "needs a value"},
      {QStringList(good).replaceInStrings("ttyS0", "/dev/serial/by-id/usb-adapter-0"),
       "longer than 19 characters"},
      {QStringList(good) << "--catch-timeout"
                         << "0",
       "--catch-timeout"},
      {QStringList(good) << "--catch-timeout"
                         << "soon",
       "--catch-timeout"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.join(' ').toStdString());
    const ProgramRun r = Fwload(c.args);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains(c.says)) << r.err.toStdString();
  }
}

TEST_F(FwloadLoadTest, JsonLoadReportsEveryStepAndProgramsTheUnit) {
  StartUnit();
  // A link with a long path stands for the device it names.
  const QString link = dir.path() + "/unit-tty";
  ASSERT_TRUE(QFile::link(unit->SlavePath(), link));
  const ProgramRun r = Fwload(LoadArgs().replaceInStrings(unit->SlavePath(), link) << "--json");
  ASSERT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();

  QList<QJsonObject> objects;
  for (const QByteArray& line : r.out.split('\n')) {
    if (line.isEmpty()) continue;
    const QJsonDocument doc = QJsonDocument::fromJson(line);
    ASSERT_TRUE(doc.isObject()) << line.toStdString();
    objects << doc.object();
  }
  ASSERT_FALSE(objects.isEmpty());
  EXPECT_EQ(objects.first()["kind"].toString(), "plan");
  // Verification is on by default: each image is checked in RAM and in NAND.
  EXPECT_EQ(objects.first()["steps"].toArray().size(), 8);
  EXPECT_EQ(objects.first()["steps"].toArray()[0].toObject()["bytes"].toInt(), 60000);
  QStringList ended;
  QList<int> checkedSteps;
  for (const QJsonObject& o : objects) {
    if (o["kind"] == "step" && o.contains("ended")) {
      ended << o["ended"].toObject()["state"].toString();
    }
    if (o["kind"] == "check") {
      checkedSteps << o["step"].toInt();
      EXPECT_EQ(o["expected"].toString().size(), 8);
      EXPECT_EQ(o["expected"], o["found"]);
    }
  }
  EXPECT_EQ(ended, QStringList(7, "OK"));
  EXPECT_EQ(checkedSteps, QList<int>({0, 4, 5, 7}));
  const QJsonObject final = objects[objects.size() - 2];
  EXPECT_EQ(final["kind"].toString(), "final");
  EXPECT_EQ(final["state"].toString(), "OK");
  EXPECT_EQ(objects.last()["kind"].toString(), "result");
  EXPECT_EQ(objects.last()["result"].toInt(), 1);
  EXPECT_TRUE(QFile::exists(objects.last()["record"].toString()));
  EXPECT_TRUE(r.out.contains("\"text\":\"100%\""));

  EXPECT_EQ(unit->ReadNand(0x280000, quint64(fs.size())), fs);
  EXPECT_EQ(unit->ReadNand(0x80000, quint64(boot.size())), boot);
}

TEST_F(FwloadLoadTest, FailedStepShowsErrorsAndTheUnitsReplyWhenVerbose) {
  StartUnit({"nand erase"});
  const ProgramRun r = Fwload(LoadArgs() << "--verbose");
  EXPECT_EQ(r.exitCode, 1) << r.out.toStdString() << r.err.toStdString();
  const QString out = QString::fromUtf8(r.out);
  EXPECT_TRUE(out.contains("Plan: 8 steps")) << out.toStdString();
  EXPECT_TRUE(out.contains("[2/8] Erase file system memory: OK"));
  EXPECT_TRUE(out.contains("[3/8] Erase NAND Flash: ERROR"));
  EXPECT_TRUE(out.contains("[8/8] Verify boot image: ERROR"));
  EXPECT_TRUE(out.contains("Load record saved: "));
  EXPECT_TRUE(out.contains("  | Failed to erase range of NAND FLASH. Message response was:"));
  EXPECT_TRUE(out.contains("Load failed. (result 0)"));
  EXPECT_FALSE(out.contains("nand write"));
}

TEST_F(FwloadLoadTest, AnUnattendedLoadGivesUpOnASilentBootMonitor) {
  // The unit's boot monitor waits for another stop line, for ever: the
  // loader's never stops it and no prompt ever comes.
  StartUnit({}, [](SimOptions& o) {
    o.stopString = "otherstop";
    o.autoboot = false;
  });
  const ProgramRun r = Fwload(LoadArgs() << "--catch-timeout"
                                         << "2");
  EXPECT_EQ(r.exitCode, 1) << r.out.toStdString() << r.err.toStdString();
  EXPECT_TRUE(r.err.contains("The boot monitor did not answer within 2 seconds."))
      << r.err.toStdString();
  EXPECT_TRUE(r.err.contains("Unable to establish communications."));
  EXPECT_EQ(unit->State(), "countdown");
  EXPECT_TRUE(unit->CommandLog().isEmpty());
}

TEST_F(FwloadLoadTest, AProjectNamedWithoutAFolderIsInTheCurrentFolder) {
  WriteFileOrFail(dir.path() + "/plant.6pj",
                  "[Zeb Stations]\n0=Pump1\n[Zeb: Pump1]\nStaID=5000\nSerNum=77\n");
  // The system folder's file of that name lacks the station.
  WriteFileOrFail(SystemFolder() + "plant.6pj",
                  "[Zeb Stations]\n0=Other\n[Zeb: Other]\nStaID=5101\n");
  const QStringList args = {"load",
                            "--product",
                            "station",
                            "--method",
                            "serial",
                            "--port",
                            "/nonexistent/tty",
                            "--pc-ip",
                            "127.0.0.1",
                            "--ip",
                            "127.0.0.1",
                            "--subnet",
                            "255.0.0.0",
                            "--firmware",
                            "kvimagea_mums3_1_5",
                            "--project",
                            "plant.6pj",
                            "--station",
                            "Pump1",
                            "--yes",
                            "--catch-timeout",
                            "1"};
  // Past the project, the load waits for a port that never opens.
  const ProgramRun r = Fwload(args, 120000, dir.path());
  QFile::remove(SystemFolder() + "plant.6pj");
  EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
  EXPECT_FALSE(r.err.contains("no station")) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains("The boot monitor did not answer within 1 seconds."))
      << r.err.toStdString();
}

TEST_F(FwloadLoadTest, ACatchTimeoutDoesNotCutShortAUnitThatAnswers) {
  StartUnit();
  const ProgramRun r = Fwload(LoadArgs() << "--catch-timeout"
                                         << "60");
  EXPECT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
  EXPECT_FALSE(r.err.contains("did not answer"));
  EXPECT_EQ(unit->ReadNand(0x280000, quint64(fs.size())), fs);
}

TEST_F(FwloadLoadTest, NoVerifyLoadsThePlainPlanAndAUnitWithoutCrc32SaysSoOnItsChecks) {
  StartUnit();
  ProgramRun r = Fwload(LoadArgs() << "--no-verify");
  ASSERT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
  EXPECT_TRUE(r.out.contains("Plan: 6 steps")) << r.out.toStdString();
  for (const QString& line : unit->CommandLog()) EXPECT_FALSE(line.startsWith("crc32"));
  unit->Stop();
  unit.reset();

  StartUnit({}, [](SimOptions& o) { o.missingCommands = {"crc32"}; });
  r = Fwload(LoadArgs() << "--verbose");
  ASSERT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
  const QString out = QString::fromUtf8(r.out);
  const QString line =
      "This boot monitor cannot check images (no crc32 command); load not verified.";
  EXPECT_EQ(out.count("  | " + line), 1) << out.toStdString();
  EXPECT_TRUE(out.contains("[5/8] Verify filesystem image: " + line));
  EXPECT_TRUE(out.contains("[8/8] Verify boot image: " + line));
  EXPECT_TRUE(out.contains("[1/8] Transfer filesystem image: OK"));
}

}  // namespace
}  // namespace fwl::test
