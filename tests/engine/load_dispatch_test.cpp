// The load dispatcher: what it hands to the engine (parameter file, members,
// option string), the Ethernet-only warning, the keys it leaves for the
// maker's configuration software, and the removal of the load's folders.
#include "switch/load_dispatch.h"

#include <QDir>
#include <QFile>

#include "app/settings.h"
#include "catalogue/work_folder_list.h"
#include "engine/load_parameter_file.h"
#include "platform/ini_file.h"
#include "platform/system_folders.h"
#include "serial_load_fixture.h"

namespace fwl::test {
namespace {

QString ZebFirmware(const char* key) {
  return GetPrivateProfileString(kSectionZebFirmware, key, "<none>", 260,
                                 OemString(kOemIniFileName));
}

LoadJob StationJob() {
  LoadJob job;
  job.product = kProductStation;
  job.firmwareFile = QStringLiteral("/fw/kvimage6_razeb3_1_5");
  job.stationType = kTwoTransferStationType;
  job.serialNumber = 4711;
  job.method = kMethodEthernetOnly;
  job.comPort = QStringLiteral("ttyS1");
  job.pcAddress = QStringLiteral("127.0.0.1");
  job.stationAddress = QStringLiteral("127.0.0.9");
  job.subnet = QStringLiteral("255.255.0.0");
  job.gateway = QStringLiteral("127.0.0.254");
  job.loadStationConfig = 0;
  return job;
}

TEST(EngineOptions, TwoTransferStationsAndEthernetOnlyAreSpelledOut) {
  LoadJob job = StationJob();
  EXPECT_EQ(EngineOptions(job), "-NUM_TFTP=2 -ETH_ONLY");
  job.method = kMethodSerial;
  EXPECT_EQ(EngineOptions(job), "-NUM_TFTP=2");
  job.stationType = 5101;
  EXPECT_EQ(EngineOptions(job), "");
  job.stationType = 0;
  job.method = kMethodEthernetOnly;
  EXPECT_EQ(EngineOptions(job), " -ETH_ONLY");
  // No selection loads as a station; a switch has no station map.
  job.stationType = kTwoTransferStationType;
  job.method = kMethodSerial;
  job.product = kProductNone;
  EXPECT_EQ(EngineOptions(job), "-NUM_TFTP=2");
  job.product = kProductSwitch;
  EXPECT_EQ(EngineOptions(job), "");
  // DHCP only when the job asks for it (the wizard never does).
  job.product = kProductStation;
  job.method = kMethodEthernetOnly;
  job.dhcp = 1;
  EXPECT_EQ(EngineOptions(job), "-NUM_TFTP=2 -ETH_ONLY -DHCP");
}

class DispatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QFile::remove(SystemFolder() + OemString(kOemIniFileName));
    QFile::remove(LoadParameterFilePath());
  }
  ScriptedUi ui;
  ScopedUi scoped{&ui};
  LoadEngine engine;
};

TEST_F(DispatchTest, EthernetOnlyStationLoadIsConfirmedAndHandedOver) {
  QString seenOptions, workFile;
  engine.ethernetOnlyUpgrade = [&](LoadEngine& e, const QString& options) {
    seenOptions = options;
    EXPECT_EQ(e.stationAddress, "127.0.0.9");
    EXPECT_EQ(e.stationSubnet, "255.255.0.0");
    EXPECT_EQ(e.stationGateway, "127.0.0.254");
    EXPECT_EQ(e.expectedSerial, 4711);
    EXPECT_EQ(ZebFirmware(kKeyLastPackage), "/fw/kvimage6_razeb3_1_5");
    // The upgrade's temporary folder goes when the dispatcher returns.
    EXPECT_NE(e.workFolderList, nullptr);
    workFile = e.workFolderList->CreateTemporaryFolder() + "image";
    WriteFileOrFail(workFile, "x");
    return 1;
  };
  ui.QueueAnswer(kAnswerYes);

  EXPECT_EQ(StartLoad(StationJob(), engine), 1);

  EXPECT_EQ(seenOptions, "-NUM_TFTP=2 -ETH_ONLY");
  ASSERT_EQ(ui.messages().size(), 1u);
  EXPECT_EQ(ui.messages()[0].caption, "Warning");
  EXPECT_EQ(ui.messages()[0].buttons, UiButtons::kYesNo);
  EXPECT_TRUE(ui.messages()[0].text.endsWith("to restore the station.\n\nContinue?"));
  EXPECT_FALSE(QFileInfo::exists(workFile));
  EXPECT_EQ(engine.workFolderList, nullptr);
  EXPECT_EQ(ZebFirmware(kKeyLoadComplete), "1");
  EXPECT_EQ(ZebFirmware(kKeyLoadStationConfig), "0");
  EXPECT_EQ(ui.waitCursorDepth(), 0);
  // The parameter file carries the job for the upgrade.
  EXPECT_EQ(ReadLoadParameter(kSectionTftpParameters, kKeyIpAddr, kTftpKeyBufferSize), "127.0.0.9");
  EXPECT_EQ(ReadLoadParameter(kSectionDevice, kKeyComport, kComportBufferSize), "ttyS1");
  EXPECT_EQ(
      ReadLoadParameter(kSectionPpcLoadFiles, kKeyFlashFsFilename, kFlashFsFilenameBufferSize),
      "/fw/kvimage6_razeb3_1_5");
}

TEST_F(DispatchTest, DeclinedWarningLoadsNothingButKeepsTheParameterFile) {
  bool ran = false;
  engine.ethernetOnlyUpgrade = [&](LoadEngine&, const QString&) {
    ran = true;
    return 1;
  };
  ui.QueueAnswer(kAnswerNo);

  EXPECT_EQ(StartLoad(StationJob(), engine), -2);

  EXPECT_FALSE(ran);
  EXPECT_EQ(ZebFirmware(kKeyLastPackage), "/fw/kvimage6_razeb3_1_5");
  EXPECT_EQ(ZebFirmware(kKeyLoadComplete), "<none>");
  EXPECT_TRUE(QFileInfo::exists(LoadParameterFilePath()));
  EXPECT_EQ(ui.waitCursorDepth(), 0);
}

TEST_F(DispatchTest, EthernetOnlySwitchGoesToTheSwitchInstallAlone) {
  LoadJob job = StationJob();
  job.product = kProductSwitch;
  int calls = 0;
  const int result = StartLoad(job, engine, [&](const LoadJob& j, WorkFolderList&) {
    ++calls;
    EXPECT_EQ(j.stationAddress, "127.0.0.9");
    return 0;
  });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(ui.messages().empty());
  EXPECT_FALSE(QFileInfo::exists(LoadParameterFilePath()));
  EXPECT_EQ(ZebFirmware(kKeyLoadComplete), "<none>");

  // Without an install to call, the standard switch install runs; a station
  // image is no switch image, so it stops before any request goes out.
  EXPECT_EQ(StartLoad(job, engine), 0);
  EXPECT_EQ(ui.messageTexts(), QStringList("Unable to locate all required image files."));
}

TEST_F(DispatchTest, FailedEngineResultIsRecordedAsIs) {
  LoadJob job = StationJob();
  engine.ethernetOnlyUpgrade = [](LoadEngine&, const QString&) { return 0; };
  job.serialNumber = 0;
  job.loadStationConfig = 1;
  EXPECT_EQ(StartLoad(job, engine), 0);
  EXPECT_EQ(engine.expectedSerial, -1);
  EXPECT_EQ(ZebFirmware(kKeyLoadComplete), "0");
  EXPECT_EQ(ZebFirmware(kKeyLoadStationConfig), "1");
}

class DispatchSerialTest : public SerialLoadTest {};

TEST_F(DispatchSerialTest, SerialSwitchLoadRunsTheEngineAndRecordsTheResult) {
  MakeImage("kvimagea_mums3_1_5", 40000, 1);
  MakeImage("kvimageba_mums3_1_5", 20000, 2);
  StartUnit(UnitOptions("79524"), Path("kvimagea_mums3_1_5"));
  LoadJob job;
  job.product = kProductSwitch;
  job.method = kMethodSerial;
  job.firmwareFile = Path("kvimagea_mums3_1_5");
  job.comPort = unit->SlavePath();
  job.pcAddress = job.stationAddress = QStringLiteral("127.0.0.1");
  job.subnet = QStringLiteral("255.0.0.0");

  EXPECT_EQ(StartLoad(job, engine), 1) << lines.join('\n').toStdString();

  EXPECT_EQ(ZebFirmware(kKeyLoadComplete), "1");
  EXPECT_EQ(FinalState(), 3);
  // No gateway: the unit's variable is deleted.
  EXPECT_TRUE(Commands("setenv gatewayip").contains("setenv gatewayip"));
}

}  // namespace
}  // namespace fwl::test
