// "fwload load --product switch --method eth" against "fwload sim switch",
// both as programs: a whole install with JSON lines, the password kept out
// of every output, the browser URL of a switch that refuses network loading,
// and bad usage.
#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include "app/settings.h"
#include "net/icmp_echo.h"
#include "support/test_util.h"

namespace fwl::test {
namespace {

constexpr char kPassword[] = "Very$ecret-1";

class SwitchLoadCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    WriteFileOrFail(dir.path() + "/kvimagea_mums3_9_0", RandomBytes(50000, 3));
    WriteFileOrFail(dir.path() + "/kvimageba_mums3_9_0", RandomBytes(5000, 4));
    WriteFileOrFail(dir.path() + "/switchinfo.tgz", RandomBytes(300, 5));
    SetSettingInt(kSectionEthOnlyLoad, "ping timeout ms", 500);
    SetSettingInt(kSectionEthOnlyLoad, "ping retry count", 3);
    httpPort = FreeTcpPort();
    tftpPort = FreeUdpPort();
    env = QProcessEnvironment::systemEnvironment();
    env.insert("FWLOADER_SETTINGS_FILE", SettingsFilePath());
    env.insert("FWLOAD_PASSWORD", kPassword);
  }
  void TearDown() override {
    if (sim.state() != QProcess::NotRunning) {
      sim.terminate();
      if (!sim.waitForFinished(10000)) sim.kill();
      sim.waitForFinished();
    }
  }

  void StartSim(const QStringList& extra = {}) {
    sim.setProcessEnvironment(env);
    sim.start(FwloadPath(),
              QStringList{"sim", "switch", "--address", "127.0.0.1", "--http-port",
                          QString::number(httpPort), "--tftp-port", QString::number(tftpPort),
                          "--user", "admin", "--password", kPassword, "--restart-ms", "100",
                          "--state", dir.path() + "/state.json"} +
                  extra);
    ASSERT_TRUE(sim.waitForStarted(10000));
    ASSERT_TRUE(sim.waitForReadyRead(20000)) << sim.readAllStandardError().toStdString();
    ASSERT_TRUE(sim.readAllStandardOutput().startsWith("switch at http://127.0.0.1:"));
  }

  QStringList LoadArgs() const {
    return {"load",
            "--product",
            "switch",
            "--method",
            "eth",
            "--ip",
            "127.0.0.1",
            "--pc-ip",
            "127.0.0.1",
            "--subnet",
            "255.0.0.0",
            "--user",
            "admin",
            "--firmware",
            dir.path() + "/kvimagea_mums3_9_0",
            "--tftp-port",
            QString::number(tftpPort),
            "--http-port",
            QString::number(httpPort),
            "--yes"};
  }

  QJsonObject SimState() const {
    QFile f(dir.path() + "/state.json");
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QJsonDocument::fromJson(f.readAll()).object();
  }

  QTemporaryDir dir;
  QProcess sim;
  quint16 httpPort = 0;
  quint16 tftpPort = 0;
  QProcessEnvironment env;
};

TEST_F(SwitchLoadCliTest, WholeInstallWithJsonLinesAndNoPasswordAnywhere) {
  if (!IcmpEcho("127.0.0.1", 10, 1000)) GTEST_SKIP() << "no ICMP socket for the restart ping";
  StartSim();
  const FwloadRun run = RunFwload(LoadArgs() << "--json"
                                             << "--verbose",
                                  env);
  EXPECT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();
  EXPECT_FALSE(run.out.contains(kPassword));
  EXPECT_FALSE(run.err.contains(kPassword));

  QStringList kinds;
  QJsonObject result;
  for (const QString& line : run.out.split('\n', Qt::SkipEmptyParts)) {
    const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
    ASSERT_FALSE(o.isEmpty()) << line.toStdString();
    kinds << o["kind"].toString();
    if (o["kind"] == "plan") {
      EXPECT_EQ(o["steps"].toArray().size(), 3);
    }
    if (o["kind"] == "result") result = o;
  }
  EXPECT_TRUE(kinds.contains("plan"));
  EXPECT_EQ(kinds.count("step"), 3);
  EXPECT_EQ(result["result"].toInt(), 1);
  // Nor in what stays behind: the settings and the load's record.
  QFile settings(SettingsFilePath());
  ASSERT_TRUE(settings.open(QIODevice::ReadOnly));
  EXPECT_FALSE(settings.readAll().contains(kPassword));
  const QString recordPath = result["record"].toString();
  ASSERT_FALSE(recordPath.isEmpty()) << run.out.toStdString();
  QFile record(recordPath);
  ASSERT_TRUE(record.open(QIODevice::ReadOnly)) << recordPath.toStdString();
  const QByteArray recordText = record.readAll();
  EXPECT_TRUE(recordText.contains("kvimagea_mums3_9_0"));
  EXPECT_FALSE(recordText.contains(kPassword));

  const QJsonObject state = SimState();
  EXPECT_EQ(state["fwRev"].toString(), "3.9.0");
  const QJsonArray installs = state["installs"].toArray();
  ASSERT_EQ(installs.size(), 1);
  EXPECT_TRUE(installs[0].toObject()["accepted"].toBool());
  EXPECT_EQ(installs[0].toObject()["rootBytes"].toInt(), 50000);
}

TEST_F(SwitchLoadCliTest, SwitchBackOnItsOldFirmwareEndsWithTheErrorLine) {
  if (!IcmpEcho("127.0.0.1", 10, 1000)) GTEST_SKIP() << "no ICMP socket for the restart ping";
  StartSim({"--fault", "stay-old"});
  const FwloadRun run = RunFwload(LoadArgs(), env);
  EXPECT_EQ(run.exitCode, 1) << run.out.toStdString() << run.err.toStdString();
  const QString all = run.out + run.err;
  EXPECT_TRUE(all.contains("The switch restarted but still runs firmware 3.7.2."))
      << all.toStdString();
  EXPECT_TRUE(all.contains("[3/3] Wait for switch to perform upgrade: ERROR")) << all.toStdString();
  EXPECT_TRUE(all.contains("Error(s) were found during the load process."));
  EXPECT_TRUE(all.contains("Load failed."));
  EXPECT_EQ(SimState()["restarts"].toInt(), 1);
}

TEST_F(SwitchLoadCliTest, DisabledNetworkLoadingPrintsThePageAddress) {
  StartSim({"--network-loading", "disabled", "--info-installed"});
  const FwloadRun run = RunFwload(LoadArgs(), env);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(
      run.err.contains(QStringLiteral("http://127.0.0.1:%1/cgi-bin/rmtconf.cgi").arg(httpPort)))
      << run.err.toStdString();
  EXPECT_TRUE(run.err.contains("\"Network firmware loading\" must be enabled"));
  EXPECT_TRUE(SimState()["installs"].toArray().isEmpty());
}

TEST_F(SwitchLoadCliTest, WrongPasswordFromTheEnvironmentIsRefused) {
  StartSim();
  env.insert("FWLOAD_PASSWORD", "guess");
  const FwloadRun run = RunFwload(LoadArgs(), env);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(run.err.contains("Unable to communicate / login."));
}

TEST_F(SwitchLoadCliTest, BadUsage) {
  const QStringList good = LoadArgs();
  struct Case {
    QStringList args;
    const char* says;
  };
  const Case cases[] = {
      {QStringList(good) << "--port"
                         << "ttyS0",
       "unknown option '--port'"},
      {QStringList(good) << "--http-port"
                         << "0",
       "--http-port"},
      {QStringList(good) << "--gateway"
                         << "1.2.3",
       "--gateway"},
      {QStringList(good).mid(0, 13) + good.mid(15), "--firmware is required"},
      {QStringList(good).replaceInStrings("kvimagea_mums3_9_0", "missing"), "no firmware file"},
  };
  for (const Case& c : cases) {
    const FwloadRun run = RunFwload(c.args, env);
    EXPECT_EQ(run.exitCode, 2) << c.says;
    EXPECT_TRUE(run.err.contains(c.says)) << run.err.toStdString();
  }
  const FwloadRun sim = RunFwload({"sim", "switch", "--address", "10.0.0.1"}, env);
  EXPECT_EQ(sim.exitCode, 2);
  EXPECT_TRUE(sim.err.contains("127.0.0.0/8"));
}

}  // namespace
}  // namespace fwl::test
