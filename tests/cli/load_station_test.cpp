// "fwload load --method eth" against "fwload sim station", both as programs:
// the whole Ethernet-only upgrade over loopback UDP and TFTP, what the
// station saved, and the usage rules of the Ethernet-only form.
#include <gtest/gtest.h>

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include "app/settings.h"
#include "support/test_util.h"

namespace fwl::test {
namespace {

class FwloadStationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    tftpPort = FreeUdpPort();
    stationPort = FreeUdpPort();
    fs = RandomBytes(30000, 3);
    boot = RandomBytes(5000, 4);
    WriteFileOrFail(dir.path() + "/kvimage_razeb3_2_1", fs);
    WriteFileOrFail(dir.path() + "/kvimageb_razeb3_2_1", boot);
  }
  void TearDown() override {
    if (station.state() != QProcess::NotRunning) {
      station.terminate();
      if (!station.waitForFinished(5000)) station.kill();
      station.waitForFinished();
    }
  }

  QProcessEnvironment Env() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("FWLOADER_SETTINGS_FILE", SettingsFilePath());
    return env;
  }

  // Starts the simulated station on 127.0.0.5 and waits for its first line.
  void StartStation(const QStringList& extra) {
    station.setProcessEnvironment(Env());
    station.start(FwloadPath(), QStringList{"sim", "station", "--address", "127.0.0.5",
                                            "--station-port", QString::number(stationPort),
                                            "--tftp-port", QString::number(tftpPort),
                                            "--restart-ms", "50", "--save", dir.path() + "/saved"} +
                                    extra);
    ASSERT_TRUE(station.waitForStarted());
    ASSERT_TRUE(station.waitForReadyRead(20000));
    ASSERT_TRUE(station.readLine().startsWith("station 127.0.0.5"));
  }

  QStringList LoadArgs() const {
    return {"load",
            "--product",
            "station",
            "--method",
            "eth",
            "--ip",
            "127.0.0.5",
            "--pc-ip",
            "127.0.0.1",
            "--subnet",
            "255.0.0.0",
            "--firmware",
            dir.path() + "/kvimage_razeb3_2_1",
            "--station-port",
            QString::number(stationPort),
            "--tftp-port",
            QString::number(tftpPort)};
  }

  QTemporaryDir dir;
  QProcess station;
  quint16 tftpPort = 0;
  quint16 stationPort = 0;
  QByteArray fs, boot;
};

TEST_F(FwloadStationTest, EthernetOnlyUpgradeOfTheSimulatedStation) {
  StartStation({"--cpu", "ARM9", "--mtd5", "--build", "3.2.0"});
  const FwloadRun run = RunFwload(LoadArgs() << "--yes"
                                             << "--json"
                                             << "--dhcp",
                                  Env());
  ASSERT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();

  QStringList ended;
  bool result = false;
  for (const QString& line : run.out.split('\n', Qt::SkipEmptyParts)) {
    const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
    if (o["kind"] == "step" && o.contains("ended")) {
      ended << o["ended"].toObject()["name"].toString() + "=" +
                   o["ended"].toObject()["state"].toString();
    }
    if (o["kind"] == "final") ended << o["name"].toString() + "=" + o["state"].toString();
    if (o["kind"] == "result") result = o["ok"].toBool();
  }
  EXPECT_TRUE(result);
  EXPECT_EQ(ended,
            QStringList({"Verify firmware version=OK", "Create update cfg file=OK",
                         "Execute update script=OK", "Transfer filesystem image=OK",
                         "Transfer boot image=OK", "Wait for station to perform upgrade=OK"}));

  ASSERT_TRUE(station.waitForReadyRead(10000) || station.canReadLine());
  EXPECT_EQ(station.readLine().trimmed(), "restarted: updated");
  const QString saved = dir.path() + "/saved/";
  EXPECT_EQ(ReadFileOrEmpty(saved + "kvimage_razeb3_2_1"), fs);
  EXPECT_EQ(ReadFileOrEmpty(saved + "kvimageb_razeb3_2_1"), boot);
  EXPECT_EQ(ReadFileOrEmpty(saved + "_tmp_fwupdate.config"),
            "SERVERIP 127.0.0.1\nGATEWAYIP \nNETMASK 255.0.0.0\nIPADDR 127.0.0.5\n"
            "IMAGE_FILENAME kvimage_razeb3_2_1\nIMAGE_SIZE 30000\n"
            "IMAGEB_FILENAME kvimageb_razeb3_2_1\nIMAGEB_SIZE 5000\n"
            "IMAGE6_FILENAME \nIMAGE6_SIZE \nUSE_DHCP 1");
}

TEST_F(FwloadStationTest, RefusalIsReportedAndExitsWith1) {
  StartStation({"--cpu", "8xx", "--build", "1.5.9"});
  const FwloadRun run = RunFwload(LoadArgs() << "--yes", Env());
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(run.err.contains("Firmware versions 1.6 and greater are needed"))
      << run.err.toStdString();
  EXPECT_TRUE(run.out.contains("Load failed.")) << run.out.toStdString();
}

TEST_F(FwloadStationTest, EthernetOnlyUsage) {
  // A switch over Ethernet only takes the switch's install, which knows no
  // station link; no port needed for a station; unknown methods are refused.
  QStringList sw = LoadArgs();
  sw[2] = "switch";
  FwloadRun run = RunFwload(sw, Env());
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_TRUE(run.err.contains("--station-port")) << run.err.toStdString();
  run = RunFwload(LoadArgs() << "--station-port"
                             << "0",
                  Env());
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_TRUE(run.err.contains("--station-port")) << run.err.toStdString();
  run = RunFwload({"sim", "station", "--address", "10.0.0.5", "--cpu", "8xx"}, Env());
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(run.err.contains("127.x.y.z")) << run.err.toStdString();
  run = RunFwload({"sim", "station", "--address", "127.0.0.5"}, Env());
  EXPECT_EQ(run.exitCode, 2);
}

}  // namespace
}  // namespace fwl::test
