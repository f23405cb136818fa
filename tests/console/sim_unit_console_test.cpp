// The console against the simulated unit on a real pseudo-terminal: catching
// and identifying every board, the image fetch through our TFTP server and
// the unit's own TFTP client, the memory check, and `fwload console`.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <memory>

#include "engine/load_engine.h"
#include "engine/load_parameter_file.h"
#include "monitor_peer.h"
#include "platform/ini_file.h"
#include "sim/sim_unit.h"
#include "support/scripted_ui.h"
#include "support/sim_unit_helpers.h"
#include "support/test_util.h"

namespace fwl::test {
namespace {

class SimConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    tftpPort = FreeUdpPort();
    engine.tftpListenPort = tftpPort;
    engine.tftpBindAddress = QStringLiteral("127.0.0.1");
    engine.SetMessageSink([this](const QString& line, void*) { lines << line; }, nullptr);
    engine.SetProgressCallback(
        [this](const LoadProgressEvent& e, void*) {
          if (e.flags == LoadProgressEvent::kTextFlags) progress << e.text;
        },
        nullptr);
    ConsoleTimings& t = engine.timings;
    t.memoryWriteMs = t.queryMs = t.setClockMs = t.detectBoardMs = t.environmentMs = 4000;
    t.tftpFetchMs = 20000;
    t.resetSettleMs = 50;
    t.reopenPauseMs = 50;
  }
  void TearDown() override {
    LoadEngine::CloseComPort(port);
    if (unit) unit->Stop();
  }

  static SimOptions Options(const QString& board, const QString& monitor = "U-Boot") {
    SimOptions o;
    o.board = SimBoardValue(board);
    ApplyBoardDefaults(o);
    o.monitorName = monitor;
    o.bootDelaySeconds = 3;
    o.countdownTickMs = 300;
    o.tftpTimeoutMs = 300;
    o.tftpRetries = 3;
    return o;
  }

  // Starts the unit, writes the parameter file for it and opens the port.
  void Start(SimOptions options, const QString& gateway = QString()) {
    options.tftpPort = tftpPort;
    unit = std::make_unique<SimUnit>(options);
    QString error;
    ASSERT_TRUE(unit->Start(QString(), &error)) << error.toStdString();
    WriteLoadParametersFor(*unit, QString(), gateway);
    ASSERT_TRUE(engine.OpenComPort(port));
  }

  void StartCaught(SimOptions options, const QString& gateway = QString()) {
    Start(std::move(options), gateway);
    ASSERT_TRUE(engine.CatchBootMonitor(port, 8000, false));
  }

  QString Image(qsizetype size, quint32 seed, QByteArray* data) {
    *data = RandomBytes(size, seed);
    const QString path = dir.path() + "/kvimage9_razeb_1_6_0";
    WriteFileOrFail(path, *data);
    return path;
  }

  QStringList Commands(const QString& prefix) const { return CommandsStartingWith(*unit, prefix); }

  QTemporaryDir dir;
  quint16 tftpPort = 0;
  ScriptedUi ui;
  ScopedUi scopedUi{&ui};
  LoadEngine engine;
  std::unique_ptr<SimUnit> unit;
  ComPort port = nullptr;
  QStringList lines;
  QStringList progress;
};

TEST_F(SimConsoleTest, CatchesAndIdentifiesEveryBoard) {
  struct Case {
    const char* board;
    const char* monitor;
    bool noStdin;
    int code;
  };
  const Case cases[] = {
      {"arm9", "U-Boot", false, kBoardArm9},       {"ppc855", "PPCBoot", false, kBoardPowerPc855T},
      {"79524", "U-Boot", false, kBoardKvni79524}, {"none", "PPCBoot", false, kBoardPowerPc855T},
      {"none", "U-Boot", true, kBoardUnknown},     {"ACME 1000", "U-Boot", false, kBoardUnknown},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.board);
    SimOptions o = Options(c.board, c.monitor);
    o.noStdin = c.noStdin;
    StartCaught(o);
    EXPECT_EQ(engine.boardCode, c.code);
    EXPECT_EQ(engine.bootMonitorName, c.monitor);
    LoadEngine::CloseComPort(port);
    unit->Stop();
  }
  EXPECT_EQ(lines.filter("Unexpected board found.").size(), 1);
}

TEST_F(SimConsoleTest, PowerPromptCatchesTheUnitTheOperatorSwitchesOn) {
  SimOptions o = Options("arm9");
  o.bootOnOpen = false;
  Start(o);
  ui.onPrompt = [this](const QString&, const QString&) { unit->PowerOn(); };
  ASSERT_TRUE(engine.CatchBootMonitor(port, 0, true));
  EXPECT_EQ(engine.boardCode, kBoardArm9);
  EXPECT_EQ(ui.prompts(), QStringList{"Cycle Power: Please turn the power ON now..."});
  EXPECT_EQ(unit->State(), "prompt");
}

TEST_F(SimConsoleTest, FetchImagePutsTheFileIntoRamAndSavesTheNetworkSettings) {
  StartCaught(Options("79524"));
  QByteArray data;
  const QString path = Image(300000, 7, &data);
  ASSERT_TRUE(engine.FetchImage(port, 0x100000, path));
  EXPECT_EQ(unit->ReadDram(0x100000, data.size()), data);
  EXPECT_EQ(engine.tftpServer, nullptr);
  EXPECT_EQ(unit->Env("serverip", true), "127.0.0.1");
  EXPECT_EQ(unit->Env("netmask", true), "255.0.0.0");
  EXPECT_EQ(unit->Env("use_dhcp", true), "0");
  EXPECT_EQ(unit->Env("gatewayip", true), "");
  EXPECT_EQ(Commands("setenv gatewayip"), QStringList{"setenv gatewayip"});
  EXPECT_EQ(Commands("saveenv").size(), 2);
  EXPECT_EQ(Commands("tftp"), QStringList{"tftp 100000 kvimage9_razeb_1_6_0"});
  EXPECT_TRUE(lines.contains("Using IP:127.0.0.1 Subnet:255.0.0.0 GatewayIP: ServerIP:127.0.0.1"));
  EXPECT_TRUE(lines.contains("Getting file " + path + " ..."));
  EXPECT_TRUE(progress.contains("100%"));

  uint32_t size = 0;
  ASSERT_TRUE(engine.GetFileSize(port, size));
  EXPECT_EQ(size, uint32_t(data.size()));
}

TEST_F(SimConsoleTest, HushUnitAnswersTheSizeQueryAndAZeroCopyFailsAtOnce) {
  SimOptions o = Options("79524");
  o.hushParser = true;
  StartCaught(o);
  QByteArray data;
  ASSERT_TRUE(engine.FetchImage(port, 0x100000, Image(70000, 5, &data)));
  uint32_t size = 0;
  QByteArray answer;
  ASSERT_TRUE(engine.GetFileSize(port, size, &answer));
  EXPECT_EQ(size, 70000u);
  EXPECT_EQ(answer, "11170");

  // A copy of nothing is refused at once; the wait, minutes on a unit, ends
  // there with the unit's words in the report.
  QByteArray reply;
  ASSERT_TRUE(engine.WritePort(port, "setenv filesize 0\r"));
  ASSERT_TRUE(engine.CollectReply(port, "=>", reply, kReplyBufferSize, 2000));
  engine.timings.copyMemoryMs = 150000;
  const QByteArray norBefore = unit->ReadNor(0, 0x800000);
  QElapsedTimer clock;
  clock.start();
  EXPECT_FALSE(engine.CopyMemory(port, 0x100000, 0x44080000));
  EXPECT_LT(clock.elapsed(), 5000);
  EXPECT_TRUE(lines.contains("Zero length ???"));
  EXPECT_EQ(lines.last(), "End of response.");
  EXPECT_EQ(unit->ReadNor(0, 0x800000), norBefore);
  EXPECT_EQ(unit->State(), "prompt");
}

TEST_F(SimConsoleTest, FetchWithGatewayAndDhcp) {
  StartCaught(Options("arm9"), "127.0.0.254");
  engine.dhcp = 1;
  QByteArray data;
  ASSERT_TRUE(engine.FetchImage(port, 0x20100000, Image(5000, 3, &data)));
  EXPECT_EQ(unit->ReadDram(0x20100000, data.size()), data);
  EXPECT_EQ(unit->Env("gatewayip", true), "127.0.0.254");
  EXPECT_EQ(unit->Env("use_dhcp", true), "1");
}

TEST_F(SimConsoleTest, FetchNeedsTheNetworkSettings) {
  StartCaught(Options("79524"));
  const QString file = LoadParameterFilePath();
  DeletePrivateProfileKey("TFTP", "IPAddr", file);
  DeletePrivateProfileKey("TFTP", "Subnet", file);
  const int before = unit->CommandLog().size();
  QByteArray data;
  EXPECT_FALSE(engine.FetchImage(port, 0x100000, Image(100, 1, &data)));
  EXPECT_EQ(lines.mid(lines.size() - 2),
            (QStringList{"Need IP Address setting!", "Need Subnet Mask setting!"}));
  EXPECT_EQ(unit->CommandLog().size(), before);  // nothing sent

  lines.clear();
  DeletePrivateProfileKey("TFTP", "TFTPserverIP", file);
  EXPECT_FALSE(engine.FetchImage(port, 0x100000, Image(100, 1, &data)));
  EXPECT_EQ(lines.last(), "Need TFTP Server IP Address setting!");
}

TEST_F(SimConsoleTest, AFailedFetchStopsTheUnitAndFreesTheServerPort) {
  SimOptions o = Options("79524");
  o.tftpStallAfterBlocks = 3;
  o.tftpRetries = 100;  // the unit keeps trying until stopped
  StartCaught(o);
  engine.timings.tftpFetchMs = 3000;
  QByteArray data;
  EXPECT_FALSE(engine.FetchImage(port, 0x100000, Image(200000, 5, &data)));
  EXPECT_TRUE(lines.contains("Failed TFTP File Transfer. Message response was:"));
  EXPECT_EQ(lines.last(), "End of response.");
  EXPECT_EQ(engine.tftpServer, nullptr);
  QUdpSocket probe;
  EXPECT_TRUE(probe.bind(QHostAddress::LocalHost, tftpPort));  // the server is gone
  probe.close();
  // The unit is back at its prompt for the next command.
  uint32_t size = 0;
  EXPECT_TRUE(engine.GetNandSize(port, size));
}

TEST_F(SimConsoleTest, AnEnvironmentLineWithoutPromptEndsTheFetch) {
  SimOptions o = Options("79524");
  o.hangCommands = QStringList{"saveenv"};
  StartCaught(o);
  engine.timings.environmentMs = 500;
  QByteArray data;
  EXPECT_FALSE(engine.FetchImage(port, 0x100000, Image(100, 1, &data)));
  EXPECT_TRUE(Commands("tftp").isEmpty());
  EXPECT_EQ(Commands("saveenv").size(), 1);
  EXPECT_EQ(engine.tftpServer, nullptr);
  EXPECT_FALSE(lines.contains("Failed TFTP File Transfer. Message response was:"));
}

TEST_F(SimConsoleTest, AServerThatCannotStartIsShown) {
  StartCaught(Options("79524"));
  QUdpSocket squatter;
  ASSERT_TRUE(squatter.bind(QHostAddress::LocalHost, tftpPort));
  QByteArray data;
  EXPECT_FALSE(engine.FetchImage(port, 0x100000, Image(100, 1, &data)));
  // The box names the reason on its second line.
  EXPECT_EQ(ui.messageTexts().filter("Failed to start TFTP server.\n").size(), 1)
      << ui.messageTexts().join(" | ").toStdString();
  EXPECT_EQ(engine.tftpServer, nullptr);
  EXPECT_TRUE(Commands("setenv").isEmpty());
}

TEST_F(SimConsoleTest, VerifyMemoriesPassesAndPreparesTheNvram) {
  SimOptions o = Options("79524");
  o.nvramSize = 0x80000;
  o.dramSize = 0x4000000;
  o.norSize = 0x800000;
  o.nandSize = 0x8000000;
  o.mtestPassMs = 20;
  StartCaught(o);
  engine.expectedNvram = "512KiB";
  engine.expectedDram = "64 MiB";
  engine.expectedNor = "8 MiB";
  engine.expectedNand = "128 MiB";
  const QDateTime before = QDateTime::currentDateTime().addMSecs(-999);
  EXPECT_TRUE(engine.VerifyMemories(port)) << lines.join("\n").toStdString();
  EXPECT_TRUE(lines.contains("Successfully verified NAND FLASH = 128 MiB."));
  EXPECT_EQ(lines.last(), "Setting clock...");
  // Ask the unit what time it keeps now: this computer's, give or take the
  // seconds this exchange takes.
  QByteArray reply;
  ASSERT_TRUE(engine.WritePort(port, "date\r"));
  ASSERT_TRUE(engine.CollectReply(port, "=>", reply, kReplyBufferSize, 4000));
  const QRegularExpressionMatch m =
      QRegularExpression(R"(Date: (\d{4}-\d\d-\d\d) \(\w+\)\s+Time:\s+(\d+:\d\d:\d\d))")
          .match(QString::fromLatin1(reply));
  ASSERT_TRUE(m.hasMatch()) << reply.toStdString();
  const QDateTime unitClock(QDate::fromString(m.captured(1), "yyyy-MM-dd"),
                            QTime::fromString(m.captured(2), "H:mm:ss"));
  EXPECT_GE(unitClock, before) << reply.toStdString();
  EXPECT_LE(unitClock, QDateTime::currentDateTime().addSecs(1)) << reply.toStdString();
  const QByteArray marker = QByteArray::fromHex(
      "19852003"
      "0000000c"
      "f060dc98");
  EXPECT_EQ(unit->ReadNvram(0x10000, 12), marker);
  EXPECT_EQ(unit->ReadNvram(0x7f000, 12), marker);
  EXPECT_EQ(unit->ReadNvram(0x10000 + 12, 4), QByteArray(4, '\xff'));
  EXPECT_EQ(Commands("mtest").size(), 3);
}

TEST_F(SimConsoleTest, VerifyMemoriesReportsAMemoryError) {
  SimOptions o = Options("79524");
  o.memErrorAddress = 0x40040000;
  o.mtestPassMs = 20;
  StartCaught(o);
  engine.expectedNvram = "512KiB";
  engine.expectedDram = "64 MiB";
  engine.expectedNor = "8 MiB";
  engine.expectedNand = "128 MiB";
  EXPECT_FALSE(engine.VerifyMemories(port));
  EXPECT_TRUE(lines.contains("Error during memory test. Message response was:"));
  EXPECT_TRUE(lines.contains("Failed NVRAM test."));
  EXPECT_EQ(Commands("mtest").size(), 3);  // the whole-range test found it
  EXPECT_TRUE(Commands("bdinfo").size() == 1);
}

// fwload console: caught and identified, exit 0; not caught, 1; bad usage, 2.
TEST_F(SimConsoleTest, FwloadConsole) {
  unit = std::make_unique<SimUnit>(Options("arm9"));
  ASSERT_TRUE(unit->Start());
  auto run = [](const QStringList& args, QByteArray* out) {
    QProcess p;
    p.start(FwloadPath(), QStringList{"console"} + args);
    if (!p.waitForFinished(60000)) return -1;
    *out = p.readAllStandardOutput();
    return p.exitCode();
  };
  QByteArray out;
  EXPECT_EQ(run({"--port", unit->SlavePath(), "--timeout", "20"}, &out), 0);
  EXPECT_TRUE(out.contains("Boot monitor: U-Boot\n")) << out.constData();
  EXPECT_TRUE(out.contains("Board code: 30\n"));
  // Already at its prompt: caught again at once.
  EXPECT_EQ(run({"--port", unit->SlavePath(), "--timeout", "5", "--json"}, &out), 0);
  EXPECT_TRUE(out.contains("{\"boardCode\":30,\"bootMonitor\":\"U-Boot\",\"caught\":true}"))
      << out.constData();

  MonitorPeer silent;
  EXPECT_EQ(run({"--port", silent.path(), "--timeout", "1"}, &out), 1);
  EXPECT_TRUE(out.contains("not caught"));
  EXPECT_EQ(run({"--port", "/nonexistent/tty", "--timeout", "1"}, &out), 1);
  EXPECT_TRUE(out.contains("Failed to open comport."));
  // A longer path must lead to a device the load parameter file can hold.
  EXPECT_EQ(run({"--port", dir.path() + "/no-such-port", "--timeout", "1"}, &out), 2);
  EXPECT_EQ(run({"--timeout", "1"}, &out), 2);
  EXPECT_EQ(run({"--port", silent.path(), "--timeout", "soon"}, &out), 2);
}

}  // namespace
}  // namespace fwl::test
