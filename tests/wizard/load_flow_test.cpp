// Whole loads started from the wizard as an operator starts them: pages
// filled and passed with Next, "Load Now" pressed, the boxes of the load
// answered, against a simulated unit on a pseudo-terminal (and, where the
// paths are built in, the simulated switch and station).
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCryptographicHash>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTreeView>

#include "catalogue/firmware_bundle.h"
#include "engine/load_engine.h"
#include "engine/load_record.h"
#include "sim/sim_unit.h"
#include "station/station_link.h"
#include "wizard/ip_address_edit.h"
#include "wizard/step_status_list.h"
#include "wizard_fixture.h"

namespace fwl::test {
namespace {

class LoadFlowTest : public WizardTest {
 protected:
  void SetUp() override {
    WizardTest::SetUp();
    StoreUsualSettings();
    tftpPort = FreeUdpPort();
    SetSettingInt(kSectionTftp, "listen", tftpPort);
    SetSettingInt(kSectionLoad, "hard reset delay ms", 0);
    SetSettingInt(kSectionLoad, "4410 hard reset extension", 0);
  }
  void TearDown() override {
    WizardTest::TearDown();
    if (unit) unit->Stop();
  }

  // A PowerPC unit with NAND, its port remembered as the last COM port.
  void StartUnit(const QStringList& failCommands = {}) {
    SimOptions o;
    o.board = SimBoardValue("ppc855");
    ApplyBoardDefaults(o);
    o.monitorName = "PPCBoot";
    o.nandSize = 0x1000000;
    o.bootDelaySeconds = 3;
    o.countdownTickMs = 200;
    o.tftpTimeoutMs = 500;
    o.tftpPort = tftpPort;
    o.failCommands = failCommands;
    unit = std::make_unique<SimUnit>(o);
    QString error;
    ASSERT_TRUE(unit->Start(QString(), &error)) << error.toStdString();
    SetSettingText(kSectionPages, "last com port", unit->SlavePath());
  }

  // Shorter waits than a real unit needs; the TFTP server on loopback only.
  void Quicken() {
    LoadEngine& engine = sheet->engine();
    ConsoleTimings& t = engine.timings;
    t.protectMs = t.eraseFlashMs = t.eraseNandMs = t.writeNandMs = t.copyMemoryMs = 8000;
    t.memoryWriteMs = t.queryMs = t.setClockMs = t.detectBoardMs = t.environmentMs = 4000;
    t.tftpFetchMs = 20000;
    t.resetSettleMs = 50;
    t.reopenPauseMs = 50;
    engine.planTimings.catchTimeoutMs = 5000;
    engine.tftpBindAddress = "127.0.0.1";
    EXPECT_EQ(engine.tftpListenPort, tftpPort);  // taken from the stored "listen"
  }

  // The station of the sample project over serial, up to page 5.
  void PrepareStationLoad() {
    fs = RandomBytes(200000, 3);
    boot = RandomBytes(0x23456, 4);
    WriteFileOrFail(firmware + "kvimage_razeb3_2_0", fs);
    WriteFileOrFail(firmware + "kvimageb_razeb3_2_0", boot);
    const QString project = WriteProject({{"Pump 4", 5100, "1234", "127.0.0.1"}});
    Open("Pump 4", project);
    Quicken();
    GoTo(CFWLoadPSheet::kPage2);
    ASSERT_EQ(page2()->productType(), kProductStation);
    ASSERT_EQ(page2()->stationName(), "Pump 4");
    ASSERT_EQ(Control<QComboBox>(page2(), 1005)->currentText(), "3.2.0 (kvimage_razeb3_2_0)");
    ASSERT_TRUE(Next());
    ASSERT_EQ(page3()->comPort(), unit->SlavePath());
    ASSERT_TRUE(Next());
    ASSERT_TRUE(Next());
    ASSERT_EQ(sheet->currentId(), CFWLoadPSheet::kPage5);
  }

  // What the status list showed when a box came up: "name|progress|image".
  QStringList StatusRows() const {
    QStringList rows;
    StepStatusList* list = page5()->statusList();
    for (int r = 0; r < list->rowCount(); ++r)
      rows
          << QString("%1|%2|%3").arg(list->rowName(r), list->rowProgress(r)).arg(list->rowImage(r));
    return rows;
  }

  quint16 tftpPort = 0;
  std::unique_ptr<SimUnit> unit;
  QByteArray fs;
  QByteArray boot;
};

TEST_F(LoadFlowTest, StationOverSerialIsLoadedAndEndsOnTheConfigurationPage) {
  StartUnit();
  PrepareStationLoad();
  EXPECT_EQ(Control<QLabel>(page5(), 1026)->text(),
            "Firmware version: v3.2.0       Station name: Pump 4");

  QStringList rowsAtSuccess;
  watcher.beforeAnswer = [&](const BoxWatcher::Box& box) {
    if (box.text == "Load completed successfully.") rowsAtSuccess = StatusRows();
  };
  watcher.clear();
  QPushButton* loadNow = Control<QPushButton>(page5(), 304);
  loadNow->click();

  EXPECT_TRUE(watcher.texts().contains("Please turn power to the unit OFF now, then click OK"))
      << qPrintable(watcher.texts().join('\n'));
  EXPECT_EQ(watcher.texts().last(), "Load completed successfully.");
  // Every step ended OK while the box was up; the list is cleared after it.
  ASSERT_FALSE(rowsAtSuccess.isEmpty());
  for (const QString& row : rowsAtSuccess) EXPECT_TRUE(row.endsWith("|OK|3")) << qPrintable(row);
  EXPECT_EQ(page5()->statusList()->rowCount(), 0);
  EXPECT_EQ(unit->ReadNand(0x200000, fs.size()), fs);
  EXPECT_EQ(arpRemoved, QStringList{"127.0.0.1"});
  EXPECT_EQ(PlexmonValue("LoadComplete"), "1");
  EXPECT_EQ(PlexmonValue("last pkg"), firmware + "kvimage_razeb3_2_0");
  EXPECT_TRUE(loadNow->isVisible() && loadNow->isEnabled());
  // The load's record is kept, and named under the list.
  const QString recordText = page5()->recordLine()->text();
  const QString saved = QStringLiteral("Load record saved (loaded): ");
  ASSERT_TRUE(recordText.startsWith(saved)) << qPrintable(recordText);
  EXPECT_TRUE(QFileInfo::exists(recordText.mid(saved.size()))) << qPrintable(recordText);

  // A controller load moves on to the configuration page by itself.
  ASSERT_TRUE(WaitPumpingUntil([&] { return sheet->currentId() == CFWLoadPSheet::kPage6; }, 3000));
  // The load recorded the box as it stood; the operator's answer counts.
  EXPECT_EQ(PlexmonValue("LoadStaCfg"), "1");
  Control<QCheckBox>(sheet->page6(), 306)->click();
  sheet->finishButton()->click();
  EXPECT_EQ(sheet->result(), QDialog::Accepted);
  EXPECT_EQ(PlexmonValue("LoadStaCfg"), "0");
  EXPECT_EQ(Application::Instance().loadConfigOnExit, 0);
}

TEST_F(LoadFlowTest, FailedLoadShowsTheErrorBoxOverAnEmptyList) {
  StartUnit({"nand write"});
  PrepareStationLoad();
  int rowsAtError = -1;
  watcher.beforeAnswer = [&](const BoxWatcher::Box& box) {
    if (box.caption == "Error") rowsAtError = page5()->statusList()->rowCount();
  };
  watcher.clear();
  Control<QPushButton>(page5(), 304)->click();

  ASSERT_FALSE(watcher.boxes.empty());
  const BoxWatcher::Box& last = watcher.boxes.back();
  EXPECT_EQ(last.text, "Error(s) were found during the load process.");
  EXPECT_EQ(last.caption, "Error");
  EXPECT_EQ(last.icon, QMessageBox::Critical);
  EXPECT_EQ(rowsAtError, 0);
  EXPECT_EQ(PlexmonValue("LoadComplete"), "0");
  EXPECT_TRUE(page5()->recordLine()->text().startsWith("Load record saved (failed): "))
      << qPrintable(page5()->recordLine()->text());
  // The page stays, with Back and Next, and Load Now can be pressed again.
  WaitPumping(100);
  EXPECT_EQ(sheet->currentId(), CFWLoadPSheet::kPage5);
  EXPECT_EQ(sheet->wizardButtons(), kWizardBack | kWizardNext);
  EXPECT_TRUE(Control<QPushButton>(page5(), 304)->isEnabled());
}

TEST_F(LoadFlowTest, CancelOnThePowerPromptEndsTheLoad) {
  // No unit on the port: the prompt stays up until the operator cancels it.
  WriteFileOrFail(firmware + "kvimage_mums3_2_7", RandomBytes(1000, 7));
  SetSettingText(kSectionPages, "last com port", "/dev/fwl-no-such-port");
  Open();
  Quicken();
  GoTo(CFWLoadPSheet::kPage3);
  Control<QComboBox>(page3(), 302)->setEditText("/dev/fwl-no-such-port");
  GoTo(CFWLoadPSheet::kPage5);
  QString promptTitle;
  QTimer operatorHand;
  QObject::connect(&operatorHand, &QTimer::timeout, [&] {
    QDialog* prompt = ui.promptWindow();
    if (!prompt || !prompt->isVisible()) return;
    promptTitle = prompt->windowTitle();
    EXPECT_FALSE(prompt->isModal());
    // The wizard keeps painting and its Cancel stays off while the load runs.
    EXPECT_FALSE(sheet->button(QWizard::CancelButton)->isEnabled());
    prompt->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
  });
  operatorHand.start(50);
  watcher.clear();
  Control<QPushButton>(page5(), 304)->click();
  operatorHand.stop();
  EXPECT_EQ(promptTitle, "Turn Power ON");
  EXPECT_EQ(ui.promptWindow(), nullptr);
  EXPECT_TRUE(watcher.texts().contains("Unable to establish communications."))
      << qPrintable(watcher.texts().join('\n'));
  EXPECT_EQ(watcher.texts().last(), "Error(s) were found during the load process.");
  EXPECT_EQ(page5()->statusList()->rowCount(), 0);
  EXPECT_TRUE(page5()->recordLine()->text().startsWith("Load record saved (cancelled): "))
      << qPrintable(page5()->recordLine()->text());

  // Once more with the records folder's place taken by a file: the line
  // says the record was not saved, and why.
  QDir(LoadRecordsFolder()).removeRecursively();
  WriteFileOrFail(LoadRecordsFolder().chopped(1), "not a folder");
  operatorHand.start(50);
  Control<QPushButton>(page5(), 304)->click();
  operatorHand.stop();
  const QString line = page5()->recordLine()->text();
  QFile::remove(LoadRecordsFolder().chopped(1));
  EXPECT_TRUE(line.startsWith("Load record could not be saved: ")) << qPrintable(line);
  EXPECT_FALSE(line.contains("saved (")) << qPrintable(line);
}

TEST_F(LoadFlowTest, SwitchOverSerialStaysOnThePageWithBackAndNext) {
  StartUnit();
  // The unit answers as a switch would on this board; the list shows the
  // plan as it runs.
  WriteFileOrFail(firmware + "kvimage_mums3_2_7", RandomBytes(60000, 7));
  WriteFileOrFail(firmware + "kvimageb_mums3_2_7", RandomBytes(20000, 8));
  Open();
  Quicken();
  GoTo(CFWLoadPSheet::kPage5);
  EXPECT_EQ(Control<QLabel>(page5(), 1026)->text(), "Firmware version: v3.2.7");
  watcher.clear();
  Control<QPushButton>(page5(), 304)->click();
  EXPECT_EQ(watcher.texts().last(), "Load completed successfully.");
  WaitPumping(100);
  EXPECT_EQ(sheet->currentId(), CFWLoadPSheet::kPage5);
  EXPECT_EQ(sheet->wizardButtons(), kWizardBack | kWizardNext);
}

QString Sha256Hex(const QByteArray& bytes) {
  return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

// The bytes of the kvni79524 section's entry with file tag `tag`.
QByteArray BundleEntryBytes(FirmwareBundle& bundle, quint32 tag) {
  const BundleNode* node = FindBundleEntry(bundle, kTagCpuB, tag);
  QTemporaryDir dir;
  if (!node || ExtractBundleEntry(bundle, *node, dir.path() + "/entry") != 0) return {};
  QFile f(dir.path() + "/entry");
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The Ethernet-only paths run when they are built into the dispatcher and
// the engine, against the simulated switch and station of `fwload sim`.
bool SimulatorAvailable(const QString& kind) {
  QProcess help;
  help.start(FwloadPath(), {"help", "sim"});
  if (!help.waitForFinished(10000)) return false;
  return QString::fromLocal8Bit(help.readAllStandardOutput() + help.readAllStandardError())
      .contains("sim " + kind);
}

// The simulated switch of `fwload sim switch` on 127.0.0.2, its web port
// handed to the wizard, its state written to a file after every change.
class SwitchEthernetFlowTest : public LoadFlowTest {
 protected:
  void TearDown() override {
    if (sim.state() != QProcess::NotRunning) {
      sim.terminate();
      if (!sim.waitForFinished(10000)) sim.kill();
      sim.waitForFinished();
    }
    LoadFlowTest::TearDown();
  }

  // Starts the switch and walks the pages to page 5; false (after a skip)
  // where this wizard has no Ethernet-only switch path.
  bool Prepare(const QStringList& extra) {
    Open();
    if (!sheet->switchInstall || !SimulatorAvailable("switch")) return false;
    SetSettingInt(kSectionEthOnlyLoad, "ping retry count", 3);
    SetSettingInt(kSectionEthOnlyLoad, "ping timeout ms", 500);
    const quint16 httpPort = FreeTcpPort();
    qputenv("FWLOADER_SWITCH_HTTP_PORT", QByteArray::number(httpPort));
    statePath = firmware + "switch-state.json";
    sim.start(FwloadPath(), QStringList{"sim", "switch", "--address", "127.0.0.2", "--http-port",
                                        QString::number(httpPort), "--tftp-port",
                                        QString::number(tftpPort), "--user", "admin", "--password",
                                        "secret", "--restart-ms", "100", "--state", statePath} +
                                extra);
    EXPECT_TRUE(sim.waitForStarted());
    EXPECT_TRUE(sim.waitForReadyRead(20000));  // "switch at ...": listening
    GoTo(CFWLoadPSheet::kPage3);
    Select(Control<QComboBox>(page3(), 1015), "Use Ethernet only (no serial port connection)");
    EXPECT_TRUE(Next());
    Control<IpAddressEdit>(page4(), 401)->SetAddress("127.0.0.2");
    Control<QLineEdit>(page4(), 1030)->setText("admin");
    Control<QLineEdit>(page4(), 1033)->setText("secret");
    EXPECT_TRUE(Next());
    return sheet->currentId() == CFWLoadPSheet::kPage5;
  }

  QJsonObject SwitchState() const {
    QFile f(statePath);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QJsonDocument::fromJson(f.readAll()).object();
  }

  QProcess sim;
  QString statePath;
};

TEST_F(SwitchEthernetFlowTest, BundleIsInstalledAndTheLoadEndsWithBackAndFinish) {
  const QString bundlePath = firmware + "mums_3_3_1.fwb";
  QFile::copy(QStringLiteral(FWL_SOURCE_DIR "/samples/firmware/mums_3_3_1.fwb"), bundlePath);
  if (!Prepare({"--installed-rev", "3.3.1"}))
    GTEST_SKIP() << "the Ethernet-only switch install is not built into this wizard yet";
  watcher.clear();
  Control<QPushButton>(page5(), 304)->click();
  // No box at all for a switch over Ethernet only that loaded; Back and
  // Finish follow.
  EXPECT_TRUE(watcher.texts().isEmpty()) << qPrintable(watcher.texts().join('\n'));
  EXPECT_EQ(sheet->wizardButtons(), kWizardBack | kWizardFinish);

  // The switch took the images of its board's section, whole, and restarted.
  std::unique_ptr<FirmwareBundle> bundle = OpenBundle(bundlePath);
  ASSERT_TRUE(bundle);
  const QByteArray images[2] = {BundleEntryBytes(*bundle, kTagImage),
                                BundleEntryBytes(*bundle, kTagImageBoot)};
  const QJsonObject state = SwitchState();
  const QJsonArray installs = state["installs"].toArray();
  ASSERT_EQ(installs.size(), 1) << qPrintable(QJsonDocument(state).toJson());
  const QJsonObject install = installs[0].toObject();
  EXPECT_TRUE(install["accepted"].toBool());
  EXPECT_EQ(install["rootSha256"].toString(), Sha256Hex(images[0]));
  EXPECT_EQ(install["bootSha256"].toString(), Sha256Hex(images[1]));
  EXPECT_EQ(state["restarts"].toInt(), 1);
  EXPECT_EQ(state["fwRev"].toString(), "3.3.1");
  EXPECT_TRUE(page5()->recordLine()->text().startsWith("Load record saved (loaded): "))
      << qPrintable(page5()->recordLine()->text());

  sheet->finishButton()->click();
  EXPECT_EQ(sheet->result(), QDialog::Accepted);
}

TEST_F(SwitchEthernetFlowTest, SwitchBackOnItsOldFirmwareLeavesTheFailedStepInView) {
  // The operator chose the image of another board: the page follows the swap.
  for (const char* name :
       {"kvimage_mums3_8_1", "kvimageb_mums3_8_1", "kvimagea_mums3_8_1", "kvimageba_mums3_8_1"}) {
    WriteFileOrFail(firmware + name, RandomBytes(20000, 5));
  }
  WriteFileOrFail(firmware + "switchinfo.tgz", RandomBytes(300, 6));
  if (!Prepare({"--board", "kvni79524", "--fault", "stay-old"}))
    GTEST_SKIP() << "the Ethernet-only switch install is not built into this wizard yet";
  ASSERT_EQ(page2()->SelectedFirmwareFile(), firmware + "kvimage_mums3_8_1");
  QStringList rowsAtError;
  QString lineAtError;
  watcher.beforeAnswer = [&](const BoxWatcher::Box& box) {
    if (box.caption != "Error") return;
    rowsAtError = StatusRows();
    lineAtError = Control<QLabel>(page5(), 1026)->text();
  };
  watcher.clear();
  Control<QPushButton>(page5(), 304)->click();
  EXPECT_EQ(watcher.texts(), QStringList({"The switch restarted but still runs firmware 3.7.2.",
                                          "Error(s) were found during the load process."}));
  EXPECT_EQ(lineAtError, "Firmware version: v3.8.1a");
  // Both transfers went through; the wait for the switch is what failed,
  // and the list still shows it after the box.
  ASSERT_EQ(rowsAtError.size(), 3);
  EXPECT_TRUE(rowsAtError[0].startsWith("Transfer filesystem image|OK|3"));
  EXPECT_TRUE(rowsAtError[1].startsWith("Transfer boot image|OK|3"));
  EXPECT_EQ(rowsAtError[2], "Wait for switch to perform upgrade|ERROR|2");
  EXPECT_EQ(StatusRows(), rowsAtError);
  const QJsonArray installs = SwitchState()["installs"].toArray();
  ASSERT_EQ(installs.size(), 1);
  EXPECT_EQ(installs[0].toObject()["rootimage"].toString(), "kvimagea_mums3_8_1");
  EXPECT_TRUE(page5()->recordLine()->text().startsWith("Load record saved (failed): "))
      << qPrintable(page5()->recordLine()->text());
  EXPECT_EQ(sheet->wizardButtons(), kWizardBack | kWizardFinish);
}

TEST_F(LoadFlowTest, StationOverEthernetOnlyIsConfirmedAndLoaded) {
  WriteFileOrFail(firmware + "kvimage_razeb3_2_0", RandomBytes(50000, 3));
  const QString project = WriteProject({{"Pump 5", 5100, "1234", "127.0.0.3"}});
  Open("Pump 5", project);
  if (!SimulatorAvailable("station"))
    GTEST_SKIP() << "the simulated station is not built into this fwload";
  // The station answers on a port of its own, which the engine's station
  // link is told.
  const quint16 stationPort = FreeUdpPort();
  sheet->engine().stationLink->SetStationPort(stationPort);
  QProcess sim;
  sim.start(FwloadPath(), {"sim", "station", "--address", "127.0.0.3", "--station-port",
                           QString::number(stationPort), "--tftp-port", QString::number(tftpPort),
                           "--cpu", "ARM9", "--build", "3.2.0"});
  ASSERT_TRUE(sim.waitForStarted());
  ASSERT_TRUE(sim.waitForReadyRead(20000));  // "station 127.0.0.3 port N": listening
  GoTo(CFWLoadPSheet::kPage3);
  Select(Control<QComboBox>(page3(), 1015), "Use Ethernet only (no serial port connection)");
  GoTo(CFWLoadPSheet::kPage5);
  watcher.clear();
  Control<QPushButton>(page5(), 304)->click();
  ASSERT_FALSE(watcher.boxes.empty());
  // The operator confirms the risk first.
  EXPECT_EQ(watcher.boxes.front().caption, "Warning");
  EXPECT_EQ(watcher.boxes.front().icon, QMessageBox::Warning);
  EXPECT_EQ(watcher.texts().last(), "Load completed successfully.");
  // Ethernet only: Back and Finish, and the controller load still moves on
  // to the configuration page.
  EXPECT_EQ(sheet->wizardButtons(), kWizardBack | kWizardFinish);
  EXPECT_TRUE(WaitPumpingUntil([&] { return sheet->currentId() == CFWLoadPSheet::kPage6; }, 3000));
  sim.terminate();
  sim.waitForFinished();
}

}  // namespace
}  // namespace fwl::test
