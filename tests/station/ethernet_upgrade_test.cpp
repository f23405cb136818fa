// Ethernet-only upgrades of the simulated station over real UDP and TFTP on
// loopback: what the station received (its configuration file and images,
// byte for byte), the step list, and every refusal and failure on the way.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <functional>
#include <memory>

#include "catalogue/firmware_bundle.h"
#include "catalogue/firmware_names.h"
#include "engine/load_engine.h"
#include "engine/load_parameter_file.h"
#include "platform/system_folders.h"
#include "sim/bundle_writer.h"
#include "sim/sim_station.h"
#include "station/ethernet_upgrade_text.h"
#include "station/station_link.h"
#include "support/scripted_ui.h"
#include "support/test_util.h"
#include "switch/load_dispatch.h"

namespace fwl::test {
namespace {

constexpr char kMsgHardware[] = "Unable to determine hardware components.";

// The configuration text the station must hold, spelled out in full.
QByteArray ExpectedConfig(const QString& image, qsizetype imageSize, const QString& boot,
                          qsizetype bootSize, bool six, bool dhcp = false,
                          const QString& gateway = QString()) {
  const QString size = QString::number(imageSize);
  return QStringLiteral(
             "SERVERIP 127.0.0.1\nGATEWAYIP %1\nNETMASK 255.0.0.0\nIPADDR 127.0.0.1\n"
             "IMAGE_FILENAME %2\nIMAGE_SIZE %3\nIMAGEB_FILENAME %4\nIMAGEB_SIZE %5\n"
             "IMAGE6_FILENAME %6\nIMAGE6_SIZE %7\nUSE_DHCP %8")
      .arg(gateway, six ? QString() : image, six ? QString() : size, boot,
           QString::number(bootSize), six ? image : QString(), six ? size : QString(),
           dhcp ? QStringLiteral("1") : QStringLiteral("0"))
      .toLatin1();
}

class EthernetUpgradeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    tftpPort = FreeUdpPort();
    stationPort = FreeUdpPort();
    engine.tftpListenPort = tftpPort;
    engine.tftpBindAddress = QStringLiteral("127.0.0.1");
    engine.stationLink->SetStationPort(stationPort);
    // Short polls keep the tests quick; 61 of them must still outlast a
    // station that restarts slowly on a loaded machine.
    engine.planTimings.transferPollMs = 100;
    engine.planTimings.secondStartPollMs = 100;
    engine.planTimings.restartPollMs = 20;
    engine.SetProgressCallback([this](const LoadProgressEvent& e, void*) { events.push_back(e); },
                               nullptr);
    engine.SetMessageSink([this](const QString& line, void*) { lines << line; }, nullptr);
  }

  static SimStationOptions Options(const QString& cpu, bool mtd5, const QString& build) {
    SimStationOptions o;
    o.cpu = cpu;
    o.mtd5 = mtd5;
    o.build = build;
    o.restartMs = 30;
    o.tftpTimeoutMs = 300;
    return o;
  }

  void StartStation(SimStationOptions o) {
    o.address = QHostAddress(QStringLiteral("127.0.0.1"));
    o.stationPort = stationPort;
    o.tftpPort = tftpPort;
    station = std::make_unique<SimStation>(o);
    QString error;
    ASSERT_TRUE(station->Start(&error)) << error.toStdString();
  }

  void WriteParameters(const QString& firmware, const QString& gateway = QString()) {
    LoadParameters p;
    p.pcAddress = QStringLiteral("127.0.0.1");
    p.stationAddress = QStringLiteral("127.0.0.1");
    p.subnet = QStringLiteral("255.0.0.0");
    p.gateway = gateway;
    p.firmwarePath = firmware;
    WriteLoadParameterFile(p);
  }

  QString Path(const QString& name) const { return dir.path() + QLatin1Char('/') + name; }
  QByteArray MakeImage(const QString& name, qsizetype size, quint32 seed) {
    const QByteArray data = RandomBytes(size, seed);
    WriteFileOrFail(Path(name), data);
    return data;
  }

  QByteArray StationConfig() const { return station->Files().value("/tmp/fwupdate.config"); }

  QStringList PlanSteps() const {
    QStringList names;
    for (const LoadProgressEvent& e : events) {
      if (e.kind != LoadProgressEvent::kPlan) continue;
      names.clear();
      for (const LoadStep& s : e.steps) names << s.name;
    }
    return names;
  }

  // The state each step ends in, as the wizard's list would show it: the
  // row current before the plan stays current (0 pending, 1 working).
  std::vector<int> StepStates() const {
    std::vector<int> states;
    int current = 0;
    for (const LoadProgressEvent& e : events) {
      if (e.kind == LoadProgressEvent::kPlan) {
        states.assign(e.steps.size(), 0);
        if (!states.empty()) states[0] = 1;
      } else if (e.kind == LoadProgressEvent::kUpdate &&
                 (e.flags & LoadProgressEvent::kStepIndex)) {
        if (e.stepIndex != 0 && size_t(current) < states.size()) states[size_t(current)] = e.state;
        current = e.stepIndex;
        if (size_t(current) < states.size()) states[size_t(current)] = 1;
      } else if (e.kind == LoadProgressEvent::kFinal && size_t(current) < states.size()) {
        states[size_t(current)] = e.state;
      }
    }
    return states;
  }

  // The file writes the station received: (offset, count) each.
  QList<std::pair<quint32, int>> Writes() const {
    QList<std::pair<quint32, int>> writes;
    for (const QByteArray& r : station->Requests()) {
      if (r.size() < 39 || quint8(r[9]) != 0x1A || r[28] != 0x02) continue;
      const quint32 offset = (quint32(quint8(r[33])) << 24) | (quint32(quint8(r[34])) << 16) |
                             (quint32(quint8(r[35])) << 8) | quint8(r[36]);
      writes.append({offset, ((quint8(r[37]) << 8) | quint8(r[38])) & 0x7FFF});
    }
    return writes;
  }

  QTemporaryDir dir;
  ScriptedUi ui;
  ScopedUi scoped{&ui};
  LoadEngine engine;
  std::unique_ptr<SimStation> station;
  quint16 tftpPort = 0;
  quint16 stationPort = 0;
  std::vector<LoadProgressEvent> events;
  QStringList lines;
};

TEST_F(EthernetUpgradeTest, BareImageWithBootImageOnAStationWithMtd5) {
  const QByteArray fs = MakeImage("kvimage_razeb3_2_1", 70000, 1);
  const QByteArray boot = MakeImage("kvimageb_razeb3_2_1", 9000, 2);
  StartStation(Options("8xx", true, "3.2.0"));
  WriteParameters(Path("kvimage_razeb3_2_1"));

  ASSERT_EQ(engine.Run(QStringLiteral(" -ETH_ONLY")), 1)
      << ui.messageTexts().join('\n').toStdString() << lines.join('\n').toStdString();

  EXPECT_TRUE(ui.messages().empty());
  EXPECT_EQ(station->UpdateState(), QStringLiteral("updated"));
  EXPECT_EQ(station->ReceivedImages().value("kvimage_razeb3_2_1"), fs);
  EXPECT_EQ(station->ReceivedImages().value("kvimageb_razeb3_2_1"), boot);
  EXPECT_EQ(StationConfig(),
            ExpectedConfig("kvimage_razeb3_2_1", 70000, "kvimageb_razeb3_2_1", 9000, false));
  EXPECT_EQ(station->Commands(),
            QStringList({"cat /proc/mtd", "cat /proc/cpuinfo", "cat /etc/korvidinfo.txt",
                         "/usr/local/bin/kvfwupdate"}));
  EXPECT_EQ(PlanSteps(),
            QStringList({"Verify firmware version", "Create update cfg file",
                         "Execute update script", "Transfer filesystem image",
                         "Transfer boot image", "Wait for station to perform upgrade"}));
  for (const LoadProgressEvent& e : events) {
    if (e.kind != LoadProgressEvent::kPlan) continue;
    EXPECT_EQ(e.steps[3].byteCount, 70000);
    EXPECT_EQ(e.steps[3].blink, 0);
    EXPECT_EQ(e.steps[4].byteCount, 9000);
    EXPECT_EQ(e.steps[0].blink, 1);
  }
  EXPECT_EQ(StepStates(), std::vector<int>(6, kStepStateOk));
  EXPECT_EQ(station->Resets(), 1);
  EXPECT_FALSE(engine.tftpServer);

  // Every request: format 3, our station numbers, one sequence number after
  // the other (the polls after the restart included).
  const QList<QByteArray>& requests = station->Requests();
  ASSERT_GE(requests.size(), 9);
  for (qsizetype i = 0; i < requests.size(); ++i) {
    const QByteArray& r = requests[i];
    EXPECT_EQ(r.left(8).toHex(),
              "03806030"
              "0000603f");
    EXPECT_EQ(quint8(r[24]), i) << i;
    EXPECT_EQ(r.mid(12, 12), QByteArray(12, '\0'));
  }
  EXPECT_EQ(requests.last().mid(8, 2).toHex(), "0003");  // the poll that found it back
}

// The station asks for its boot image while its file system image still
// arrives; the short boot image ends first. Each step counts for its image.
TEST_F(EthernetUpgradeTest, OverlappingDownloadsAreEachFollowedToTheirEnd) {
  const QByteArray fs = MakeImage("kvimage_razeb3_2_1", 300000, 31);
  const QByteArray boot = MakeImage("kvimageb_razeb3_2_1", 3000, 32);
  SimStationOptions o = Options("8xx", true, "3.2.0");
  o.overlapFetch = true;
  StartStation(o);
  WriteParameters(Path("kvimage_razeb3_2_1"));

  ASSERT_EQ(engine.Run(QStringLiteral(" -ETH_ONLY")), 1)
      << (ui.messageTexts() + lines).join('\n').toStdString();
  EXPECT_EQ(station->ReceivedImages().value("kvimage_razeb3_2_1"), fs);
  EXPECT_EQ(station->ReceivedImages().value("kvimageb_razeb3_2_1"), boot);
  EXPECT_EQ(StepStates(), std::vector<int>(6, kStepStateOk));
}

TEST_F(EthernetUpgradeTest, StationWithoutMtd5FetchesTheImageOnly) {
  const QByteArray fs = MakeImage("kvimage_lozeb3_2_5", 3000, 3);
  MakeImage("kvimageb_lozeb3_2_5", 1000, 4);
  StartStation(Options("ARM7", false, "2.0"));
  WriteParameters(Path("kvimage_lozeb3_2_5"), QStringLiteral("127.0.0.254"));

  ASSERT_EQ(engine.Run(QStringLiteral(" -ETH_ONLY")), 1)
      << (ui.messageTexts() + lines).join('\n').toStdString();
  EXPECT_EQ(station->ReceivedImages().keys(), QStringList{"kvimage_lozeb3_2_5"});
  EXPECT_EQ(station->ReceivedImages().value("kvimage_lozeb3_2_5"), fs);
  EXPECT_EQ(StationConfig(), ExpectedConfig("kvimage_lozeb3_2_5", 3000, "kvimageb_lozeb3_2_5", 1000,
                                            false, false, "127.0.0.254"));
  EXPECT_EQ(PlanSteps().size(), 5);
  EXPECT_FALSE(PlanSteps().contains("Transfer boot image"));
  EXPECT_EQ(StepStates(), std::vector<int>(5, kStepStateOk));
}

TEST_F(EthernetUpgradeTest, TwoImageFormThroughTheDispatcherAsTheWizardFillsTheJob) {
  const QByteArray fs = MakeImage("kvimage6_razeb3_2_0", 40000, 5);
  const QByteArray boot = MakeImage("kvimageb_razeb3_2_0", 12000, 6);
  StartStation(Options("8xx", true, "3.2.0"));

  LoadJob job;
  job.product = kProductStation;
  job.method = kMethodEthernetOnly;
  job.firmwareFile = Path("kvimage6_razeb3_2_0");
  job.stationName = QStringLiteral("RTU7");
  job.stationType = kTwoTransferStationType;
  job.pcAddress = QStringLiteral("127.0.0.1");
  job.stationAddress = QStringLiteral("127.0.0.1");
  job.subnet = QStringLiteral("255.0.0.0");
  job.dhcp = 1;
  ASSERT_EQ(StartLoad(job, engine), 1) << (ui.messageTexts() + lines).join('\n').toStdString();

  ASSERT_EQ(ui.messages().size(), 1u);  // the Ethernet-only warning, answered Yes
  EXPECT_TRUE(ui.messages()[0].text.startsWith("Warning: With the Ethernet-only option"));
  EXPECT_EQ(engine.tftpMode, 6);
  EXPECT_EQ(StationConfig(),
            ExpectedConfig("kvimage6_razeb3_2_0", 40000, "kvimageb_razeb3_2_0", 12000, true, true));
  EXPECT_EQ(station->ReceivedImages().value("kvimage6_razeb3_2_0"), fs);
  EXPECT_EQ(station->ReceivedImages().value("kvimageb_razeb3_2_0"), boot);
}

TEST_F(EthernetUpgradeTest, ImagesFromAnArchive) {
  const QByteArray fs = MakeImage("pkg/kvimage_mugt3_3_0", 25000, 7);
  const QByteArray boot = MakeImage("pkg/kvimageb_mugt3_3_0", 8000, 8);
  ASSERT_TRUE(PackArchive(Path("kvfirm_mugt3_3_0.tgz"), {"kvimageb_mugt3_3_0", "kvimage_mugt3_3_0"},
                          Path("pkg")));
  StartStation(Options("ARM9", true, "3.2.0"));
  WriteParameters(Path("kvfirm_mugt3_3_0.tgz"));

  ASSERT_EQ(engine.Run(QStringLiteral(" -ETH_ONLY")), 1)
      << (ui.messageTexts() + lines).join('\n').toStdString();
  EXPECT_EQ(station->ReceivedImages().value("kvimage_mugt3_3_0"), fs);
  EXPECT_EQ(station->ReceivedImages().value("kvimageb_mugt3_3_0"), boot);
  EXPECT_EQ(StationConfig(),
            ExpectedConfig("kvimage_mugt3_3_0", 25000, "kvimageb_mugt3_3_0", 8000, false));
  // The archive's image became the chosen file.
  EXPECT_TRUE(ReadLoadParameter(kSectionPpcLoadFiles, kKeyFlashFsFilename, 512)
                  .endsWith("/kvimage_mugt3_3_0"));
}

TEST_F(EthernetUpgradeTest, ImagesFromTheBundleFolderOfTheStationsProcessor) {
  const QByteArray fsA = RandomBytes(30000, 9), bootA = RandomBytes(7000, 10);
  const QByteArray fsC = RandomBytes(50000, 11), bootC = RandomBytes(6000, 12);
  const QByteArray fs6C = RandomBytes(45000, 13);
  sim::BundleWriter writer(kBundleRa6Zeb, "3_2_1");
  const int a = writer.AddDirectory(sim::BundleWriter::kRoot, kTagCpuA, "A");
  writer.AddFile(a, kTagImageBoot, "boot", "", bootA);
  writer.AddFile(a, kTagImage, "image", "", fsA);
  const int c = writer.AddDirectory(sim::BundleWriter::kRoot, kTagCpuC, "C");
  writer.AddFile(c, kTagImageBoot, "boot", "", bootC);
  writer.AddFile(c, kTagImage, "image", "", fsC);
  writer.AddFile(c, kTagImage6, "image6", "", fs6C);
  ASSERT_TRUE(writer.WriteTo(Path("firmware.fwb")));
  StartStation(Options("ARM9", true, "3.2.0"));
  WriteParameters(Path("firmware.fwb"));

  ASSERT_EQ(engine.Run(QStringLiteral("-NUM_TFTP=2 -ETH_ONLY")), 1)
      << (ui.messageTexts() + lines).join('\n').toStdString();
  EXPECT_EQ(station->ReceivedImages().value("kvimage6_razeb3_2_1"), fs6C);
  EXPECT_EQ(station->ReceivedImages().value("kvimageb_razeb3_2_1"), bootC);
  EXPECT_EQ(StationConfig(),
            ExpectedConfig("kvimage6_razeb3_2_1", 45000, "kvimageb_razeb3_2_1", 6000, true));
  EXPECT_TRUE(QDir(TempFolder()).entryList({"fwb*"}, QDir::Dirs).isEmpty());
}

TEST_F(EthernetUpgradeTest, BundleOfAnotherProductIsRefused) {
  sim::BundleWriter writer(kBundleSwitch, "3_3_1");
  const int a = writer.AddDirectory(sim::BundleWriter::kRoot, kTagCpuA, "A");
  writer.AddFile(a, kTagImageBoot, "boot", "", QByteArray(10, 'b'));
  writer.AddFile(a, kTagImage, "image", "", QByteArray(10, 'i'));
  ASSERT_TRUE(writer.WriteTo(Path("switch.fwb")));
  StartStation(Options("8xx", false, "3.2.0"));
  WriteParameters(Path("switch.fwb"));
  EXPECT_EQ(engine.Run(QStringLiteral(" -ETH_ONLY")), 0);
  EXPECT_EQ(ui.messageTexts(), QStringList{"Error determining firmware type."});
  EXPECT_TRUE(station->Files().isEmpty());
}

TEST_F(EthernetUpgradeTest, FirmwareBuildRulesDecideBeforeTheStationIsTouched) {
  struct Case {
    const char* running;
    const char* image;
    const char* message;  // nullptr: accepted
  };
  const Case cases[] = {
      {"1.5.9", "kvimage_razeb3_2_1",
       "Firmware versions 1.6 and greater are needed to load firmware using Ethernet only. Please "
       "use the method which uses both Ethernet and serial communications."},
      {"3.2.0", "kvimage_razeb3_1_5",
       "Unable to load versions less than 3.1. It may be possible to load this version using the "
       "serial port method. Since the Ethernet Only method has been selected, it is not possible "
       "to determine critical hardware components that are not compatible with older firmware."},
      {"2.0", "kvimage_razeb3_1_5", nullptr},
      {"3.2.0", "kvimage_razeb3_2_1", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.running) + " " + c.image);
    ScriptedUi caseUi;
    ScopedUi scope(&caseUi);
    MakeImage(c.image, 2000, 14);
    StartStation(Options("8xx", false, c.running));
    WriteParameters(Path(c.image));
    const int result = engine.Run(QStringLiteral(" -ETH_ONLY"));
    if (c.message) {
      EXPECT_EQ(result, 0);
      EXPECT_EQ(caseUi.messageTexts(), QStringList{QString::fromLatin1(c.message)});
      EXPECT_TRUE(station->Files().isEmpty());
      EXPECT_EQ(station->Resets(), 0);
      EXPECT_EQ(StepStates().front(), kStepStateError);
    } else {
      EXPECT_EQ(result, 1) << caseUi.messageTexts().join('\n').toStdString();
      EXPECT_TRUE(caseUi.messages().empty());
    }
    station.reset();
  }
}

TEST_F(EthernetUpgradeTest, HardwareQuestionsThatGetNoUsableAnswer) {
  MakeImage("kvimage_razeb3_2_1", 1000, 15);
  WriteParameters(Path("kvimage_razeb3_2_1"));
  struct Case {
    std::function<void(SimStationOptions&)> fault;
    const char* message;
    int requests;
  };
  const Case cases[] = {
      {[](SimStationOptions& o) { o.catFails << "/proc/mtd"; }, kMsgHardware, 1},
      {[](SimStationOptions& o) { o.failStatus << "cat /proc/mtd"; }, kMsgHardware, 1},
      {[](SimStationOptions& o) { o.negative = true; }, kMsgHardware, 1},
      {[](SimStationOptions& o) { o.cpu = "PowerPC 405"; }, "Unable to determine CPU type.", 2},
      {[](SimStationOptions& o) { o.catFails << "/etc/korvidinfo.txt"; },
       "Unable to determine overall firmware build.", 3},
      {[](SimStationOptions& o) { o.failStatus << "/tmp/fwupdate.config"; },
       "Unable to create update configuration file.", 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    ScriptedUi caseUi;
    ScopedUi scope(&caseUi);
    SimStationOptions o = Options("8xx", false, "3.2.0");
    c.fault(o);
    StartStation(o);
    EXPECT_EQ(engine.Run(QStringLiteral(" -ETH_ONLY")), 0);
    EXPECT_EQ(caseUi.messageTexts(), QStringList{QString::fromLatin1(c.message)});
    EXPECT_EQ(station->Requests().size(), c.requests);
    EXPECT_EQ(station->Resets(), 0);
    EXPECT_FALSE(engine.stationLink->IsOpen());
    station.reset();
  }
}

TEST_F(EthernetUpgradeTest, SilentStationIsAskedThreeTimes) {
  MakeImage("kvimage_razeb3_2_1", 1000, 16);
  WriteParameters(Path("kvimage_razeb3_2_1"));
  SimStationOptions o = Options("8xx", false, "3.2.0");
  o.silent = true;
  StartStation(o);
  EXPECT_EQ(engine.Run(QStringLiteral(" -ETH_ONLY")), 0);
  EXPECT_EQ(ui.messageTexts(), QStringList{kMsgHardware});
  ASSERT_EQ(station->Requests().size(), 3);
  EXPECT_EQ(station->Requests()[0], station->Requests()[2]);
}

TEST_F(EthernetUpgradeTest, ScriptErrorIsShownAsItIs) {
  MakeImage("kvimage_razeb3_2_1", 1000, 17);
  WriteParameters(Path("kvimage_razeb3_2_1"));
  SimStationOptions o = Options("8xx", false, "3.2.0");
  o.scriptError = QStringLiteral("kvfwupdate: flash busy\n\tretry later ");
  StartStation(o);
  EXPECT_EQ(engine.Run(QStringLiteral(" -ETH_ONLY")), 0);
  EXPECT_EQ(ui.messageTexts(), QStringList{"kvfwupdate: flash busy\n\tretry later "});
  EXPECT_EQ(station->Resets(), 0);
  const std::vector<int> states = StepStates();
  EXPECT_EQ(states[0], kStepStateOk);
  EXPECT_EQ(states[1], kStepStateOk);
  EXPECT_EQ(states[2], kStepStateError);
}

TEST_F(EthernetUpgradeTest, ConfigurationIsWrittenInBlocksOf230Bytes) {
  // Pick an image name and size that make the text exactly 500 bytes.
  QString name;
  qsizetype size = 0;
  for (int pad = 0; pad < 200 && name.isEmpty(); ++pad) {
    for (qsizetype candidate : {1000, 10000}) {
      const QString n = QStringLiteral("kvimage_") + QString(pad, QLatin1Char('x')) + "3_2_1";
      UpdateConfig c;
      c.serverIp = c.ipAddress = QStringLiteral("127.0.0.1");
      c.netmask = QStringLiteral("255.0.0.0");
      const QString boot = QStringLiteral("kvimageb_") + QString(pad, QLatin1Char('x')) + "3_2_1";
      WriteFileOrFail(Path(n), QByteArray(candidate, 'i'));
      WriteFileOrFail(Path(boot), QByteArray(100, 'b'));
      c.fsImage = Path(n);
      c.bootImage = Path(boot);
      if (UpdateConfigText(c).size() == 500) {
        name = n;
        size = candidate;
        break;
      }
    }
  }
  ASSERT_FALSE(name.isEmpty());
  StartStation(Options("8xx", false, "3.2.0"));
  WriteParameters(Path(name));
  ASSERT_EQ(engine.Run(QStringLiteral(" -ETH_ONLY")), 1)
      << (ui.messageTexts() + lines).join('\n').toStdString();
  EXPECT_EQ(StationConfig().size(), 500);
  EXPECT_EQ(Writes(), (QList<std::pair<quint32, int>>{{0, 230}, {230, 230}, {460, 40}}));
  EXPECT_EQ(station->ReceivedImages().value(name).size(), size);
}

TEST_F(EthernetUpgradeTest, StationThatNeverFetchesFailsTheWait) {
  MakeImage("kvimage_razeb3_2_1", 1000, 18);
  WriteParameters(Path("kvimage_razeb3_2_1"));
  SimStationOptions o = Options("8xx", false, "3.2.0");
  o.neverFetch = true;
  StartStation(o);
  EXPECT_EQ(engine.Run(QStringLiteral(" -ETH_ONLY")), 0);
  EXPECT_EQ(station->Resets(), 1);
  EXPECT_EQ(StepStates()[3], kStepStateError);
  EXPECT_FALSE(engine.tftpServer);
}

TEST_F(EthernetUpgradeTest, LostTftpClientFailsTheUpgrade) {
  MakeImage("kvimage_razeb3_2_1", 200000, 19);
  MakeImage("kvimageb_razeb3_2_1", 1000, 20);
  WriteParameters(Path("kvimage_razeb3_2_1"));
  SimStationOptions o = Options("8xx", true, "3.2.0");
  o.tftpLoseAfterBlocks = 5;
  StartStation(o);
  EXPECT_EQ(engine.Run(QStringLiteral(" -ETH_ONLY")), 0);
  EXPECT_TRUE(station->ReceivedImages().isEmpty());
  const std::vector<int> states = StepStates();
  EXPECT_EQ(states[3], kStepStateError);
  EXPECT_EQ(states[4], 0);
}

TEST_F(EthernetUpgradeTest, BusyTftpPortFailsBeforeTheReset) {
  MakeImage("kvimage_razeb3_2_1", 1000, 21);
  WriteParameters(Path("kvimage_razeb3_2_1"));
  StartStation(Options("8xx", false, "3.2.0"));
  QUdpSocket squatter;
  ASSERT_TRUE(squatter.bind(QHostAddress(QStringLiteral("127.0.0.1")), tftpPort));
  EXPECT_EQ(engine.Run(QStringLiteral(" -ETH_ONLY")), 0);
  ASSERT_EQ(ui.messageTexts().size(), 1);
  EXPECT_TRUE(ui.messageTexts()[0].startsWith("Failed to start TFTP server."));
  EXPECT_EQ(station->Resets(), 0);
  EXPECT_FALSE(engine.tftpServer);
}

TEST_F(EthernetUpgradeTest, AnImageTheStationCannotBeSentStopsTheLoadBeforeTheStationChanges) {
  struct Case {
    const char* name;
    std::function<void(const QString& bootPath)> spoil;
    const char* problem;
  };
  const Case cases[] = {
      {"missing", [](const QString&) {}, "does not exist"},
      {"empty", [](const QString& p) { WriteFileOrFail(p, QByteArray()); }, "is empty"},
      {"a folder", [](const QString& p) { QDir().mkpath(p); }, "is not a regular file"},
  };
  MakeImage("kvimage_razeb3_2_1", 5000, 30);
  WriteParameters(Path("kvimage_razeb3_2_1"));
  const QString boot = Path("kvimageb_razeb3_2_1");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QFile::remove(boot);
    QDir(boot).removeRecursively();
    c.spoil(boot);
    const qsizetype shown = ui.messageTexts().size();
    StartStation(Options("8xx", true, "3.2.0"));
    EXPECT_EQ(engine.Run(QStringLiteral(" -ETH_ONLY")), 0);
    EXPECT_EQ(
        ui.messageTexts().mid(shown),
        QStringList(QStringLiteral("The boot image %1 %2. Nothing was changed on the station.")
                        .arg(QDir::toNativeSeparators(boot), c.problem)));
    // Asked, never told: no configuration file, no update script, no reset.
    EXPECT_EQ(station->Commands(), QStringList({"cat /proc/mtd", "cat /proc/cpuinfo"}));
    EXPECT_TRUE(station->Files().isEmpty());
    EXPECT_EQ(station->Resets(), 0);
    EXPECT_EQ(station->UpdateState(), "idle");
  }
}

TEST_F(EthernetUpgradeTest, AFileTheServerLacksDuringTheWaitEndsItWithTheServersText) {
  const QByteArray fs = MakeImage("kvimage_razeb3_2_1", 20000, 31);
  MakeImage("kvimageb_razeb3_2_1", 3000, 32);
  WriteParameters(Path("kvimage_razeb3_2_1"));
  StartStation(Options("8xx", true, "3.2.0"));
  // Polls this long would keep a wait that ignores the event for a minute.
  engine.planTimings.secondStartPollMs = 1000;
  // The boot image goes away after the checks, as the station restarts.
  engine.SetProgressCallback(
      [this](const LoadProgressEvent& e, void*) {
        events.push_back(e);
        if ((e.flags & LoadProgressEvent::kStepIndex) && e.stepIndex == 3) {
          QFile::remove(Path("kvimageb_razeb3_2_1"));
        }
      },
      nullptr);
  QElapsedTimer clock;
  clock.start();
  EXPECT_EQ(engine.Run(QStringLiteral(" -ETH_ONLY")), 0);
  EXPECT_LT(clock.elapsed(), 30000);
  ASSERT_EQ(ui.messageTexts().size(), 1) << ui.messageTexts().join('|').toStdString();
  EXPECT_TRUE(ui.messageTexts()[0].contains("kvimageb_razeb3_2_1"));
  EXPECT_TRUE(ui.messageTexts()[0].contains("not found")) << ui.messageTexts()[0].toStdString();
  EXPECT_EQ(station->ReceivedImages().value("kvimage_razeb3_2_1"), fs);
  EXPECT_EQ(StepStates()[4], kStepStateError);
  EXPECT_FALSE(engine.tftpServer);
}

TEST(EthernetUpgradeText, BuildFieldAndProcessor) {
  EXPECT_EQ(RunningBuild(QStringLiteral(" \x01"
                                        "3.2.0  \tstation\t`x`\n")),
            "3.2.0");
  EXPECT_EQ(RunningBuild(QStringLiteral("`3.1\t7`\tb")), "`3.1\t7`");
  EXPECT_EQ(RunningBuild(QString(80, QLatin1Char('9'))).size(), 50);
  EXPECT_EQ(CpuLetterFromCpuInfo(QStringLiteral("cpu\t: 8xx")), kTagCpuA);
  EXPECT_EQ(CpuLetterFromCpuInfo(QStringLiteral("Processor : ARM926")), kTagCpuC);
  EXPECT_EQ(CpuLetterFromCpuInfo(QStringLiteral("Processor : ARM7TDMI")), kTagCpuB);
  EXPECT_EQ(CpuLetterFromCpuInfo(QStringLiteral("Processor:ARM9")), 0u);
}

}  // namespace
}  // namespace fwl::test
