// Server configuration, the log file, preloading, the one-download server
// thread and `fwload tftpd`.
#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
#include <QUdpSocket>
#include <csignal>
#include <memory>
#include <vector>

#include "app/settings.h"
#include "platform/ini_file.h"
#include "support/scripted_ui.h"
#include "tftp/tftp_fixture.h"
#include "tftp/tftp_relay_fixture.h"
#include "tftp/tftp_thread.h"

namespace fwl::test {
namespace {

class TftpServerTest : public TftpFixture {};

TEST_F(TftpServerTest, SettersPersistValidValuesAndIgnoreOthers) {
  server_->SetRetries(5);
  server_->SetTimeout(7);
  server_->SetRetries(11);
  server_->SetRetries(-1);
  server_->SetTimeout(0);
  server_->SetTimeout(11);
  EXPECT_EQ(server_->Retries(), 5);
  EXPECT_EQ(server_->Timeout(), 7);
  EXPECT_EQ(GetSettingInt(kSectionTftp, "retries"), 5);
  EXPECT_EQ(GetSettingInt(kSectionTftp, "timeout"), 7);
  EXPECT_EQ(GetSettingInt(kSectionTftp, "listen"), port_);
  EXPECT_EQ(GetSettingText(kSectionTftp, "outbound"), root_);
  // A second server starts from what the first one stored, and writes back
  // what it ran with, also values that were missing from the store.
  for (const char* key : {"inbound", "log file", "log to file"}) {
    DeletePrivateProfileKey(kSectionTftp, key, SettingsFilePath());
  }
  TftpServer other;
  other.SetBindAddress(QHostAddress::LocalHost);
  ASSERT_EQ(other.Start(), 0);
  EXPECT_EQ(other.ListeningPort(), port_);
  EXPECT_EQ(other.Retries(), 5);
  EXPECT_EQ(other.OutboundFolder(), root_);
  EXPECT_EQ(GetSettingText(kSectionTftp, "inbound", "missing"), "");
  EXPECT_EQ(GetSettingText(kSectionTftp, "log file", "missing"), "");
  EXPECT_EQ(GetSettingText(kSectionTftp, "log to file", "missing"), "0");
  EXPECT_EQ(GetSettingInt(kSectionTftp, "retries"), 5);
  other.Stop();
  EXPECT_FALSE(other.IsRunning());
}

TEST_F(TftpServerTest, LogLinesAreStampedWhenLoggedAndOldLinesKeptAsTheyWere) {
  const QString logPath = root_ + "tftp.log";
  const QByteArray oldLog = "01/02/2020 10:00:00 >> an old line\nno stamp at all\n";
  WriteFileOrFail(logPath, oldLog);
  SetSettingInt(kSectionTftp, "log to file", 1);
  SetSettingText(kSectionTftp, "log file", logPath);
  StartServer();
  server_->Log("first");
  WaitPumping(1300);  // the writer saves several times meanwhile
  server_->Log("second");
  server_->Stop();
  SetSettingInt(kSectionTftp, "log to file", 0);

  const QStringList lines =
      QString::fromLocal8Bit(ReadFileOrEmpty(logPath)).split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 5) << lines.join("\n").toStdString();
  EXPECT_EQ(lines[0], "01/02/2020 10:00:00 >> an old line");
  EXPECT_EQ(lines[1], "no stamp at all");
  const QRegularExpression stamped(R"(^(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d) >> (.*)$)");
  QList<QDateTime> times;
  for (int i = 2; i < 5; ++i) {
    const auto m = stamped.match(lines[i]);
    ASSERT_TRUE(m.hasMatch()) << lines[i].toStdString();
    EXPECT_FALSE(m.captured(2).contains(" >> ")) << "stamped twice";
    times << QDateTime::fromString(m.captured(1), "MM/dd/yyyy HH:mm:ss");
  }
  EXPECT_TRUE(lines[2].endsWith(QString(">> Server started, listening on port %1...").arg(port_)));
  EXPECT_TRUE(lines[3].endsWith(">> first"));
  EXPECT_TRUE(lines[4].endsWith(">> second"));
  EXPECT_LT(times[1], times[2]);  // each line keeps the time it was logged
  EXPECT_FALSE(QFile::exists(logPath + ".tmp"));
}

TEST_F(TftpServerTest, PreloadOfAMissingFileIsRefusedWithAMessage) {
  ScriptedUi ui;
  ScopedUi scoped(&ui);
  EXPECT_FALSE(server_->PreloadFile(root_ + "absent.bin"));
  ASSERT_EQ(ui.messageTexts().size(), 1);
  EXPECT_EQ(ui.messageTexts()[0],
            QString("The requested file %1absent.bin was not found on the server.").arg(root_));
  EXPECT_TRUE(LogHas("Transfer aborted."));
  EXPECT_FALSE(server_->HasPreloadFor(root_ + "absent.bin"));
  // A preload answers for the same path in any letter case.
  const QString path = Put("Image.BIN", "x");
  ASSERT_TRUE(server_->PreloadFile(path));
  EXPECT_TRUE(server_->HasPreloadFor(root_ + "image.bin"));
}

class TftpThreadTest : public TftpFixture {
 protected:
  // Points `thread` at the test folder and port on loopback, counts its
  // Shutdown signals in `shutdown` and starts it.
  void Start(CTFTPThread& thread, int& shutdown) {
    thread.SetFolder(root_);
    thread.SetListenPort(port_);
    thread.SetBindAddress(QHostAddress::LocalHost);
    QObject::connect(&thread, &CTFTPThread::Shutdown, [&shutdown] { ++shutdown; });
    thread.start();
  }
};

TEST_F(TftpThreadTest, ServesOneDownloadThenAnnouncesShutdown) {
  const QByteArray data = RandomBytes(200000, 12);
  Put("switchinfo.tgz", data);
  CTFTPThread thread;
  int shutdown = 0;
  Start(thread, shutdown);
  ASSERT_TRUE(WaitPumpingUntil([&] { return thread.StartResult() == 0; }, 5000));
  const ClientRun run = Fetch("busybox", "switchinfo.tgz", root_ + "got");
  EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
  EXPECT_TRUE(ReadFileOrEmpty(root_ + "got") == data);
  ASSERT_TRUE(WaitPumpingUntil([&] { return shutdown > 0; }, 5000));
  EXPECT_TRUE(thread.wait(5000));
  EXPECT_TRUE(thread.ErrorTexts().isEmpty());
}

TEST_F(TftpThreadTest, MissingFileAndBusyPortEndTheThreadToo) {
  CTFTPThread thread;
  int shutdown = 0;
  Start(thread, shutdown);
  ASSERT_TRUE(WaitPumpingUntil([&] { return thread.StartResult() == 0; }, 5000));
  Fetch("atftp", "switchinfo.tgz", root_ + "none");
  ASSERT_TRUE(WaitPumpingUntil([&] { return shutdown > 0; }, 5000));
  EXPECT_TRUE(thread.wait(5000));
  EXPECT_EQ(thread.ErrorCodes(), QList<int>({kTftpEventFileNotFound}));
  EXPECT_EQ(
      thread.ErrorTexts(),
      QStringList(
          QString("The requested file %1switchinfo.tgz was not found on the server.").arg(root_)));

  QUdpSocket squatter;
  ASSERT_TRUE(squatter.bind(QHostAddress::LocalHost, port_));
  CTFTPThread blocked;
  int blockedShutdown = 0;
  Start(blocked, blockedShutdown);
  ASSERT_TRUE(WaitPumpingUntil([&] { return blockedShutdown > 0; }, 5000));
  EXPECT_EQ(blocked.StartResult(), -1);
}

class TftpdCommandTest : public TftpFixture {
 protected:
  // Starts fwload tftpd and waits until it listens.
  bool StartTftpd(QProcess& process, const QStringList& extra) {
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(FwloadPath(), QStringList{"tftpd", "--root", root_, "--port",
                                            QString::number(port_), "--bind", "127.0.0.1"} +
                                    extra);
    if (!process.waitForStarted(5000)) return false;
    return WaitPumpingUntil(
        [&] {
          stdout_ += process.readAllStandardOutput();
          return stdout_.contains("Server started") || process.state() == QProcess::NotRunning;
        },
        20000);
  }
  QByteArray stdout_;
};

TEST_F(TftpdCommandTest, OnceServesOneTransferWithAFewLinesAndExitsZero) {
  const QByteArray data = RandomBytes(2 * 1024 * 1024, 13);
  Put("rescue.img", data);
  QProcess tftpd;
  ASSERT_TRUE(StartTftpd(tftpd, {"--once", "--timeout", "1", "--retries", "1"}));
  const ClientRun run = Fetch("curl", "rescue.img", root_ + "got.img");
  EXPECT_EQ(run.exitCode, 0);
  ASSERT_TRUE(WaitPumpingUntil([&] { return tftpd.state() == QProcess::NotRunning; }, 15000));
  EXPECT_EQ(tftpd.exitCode(), 0);
  EXPECT_TRUE(ReadFileOrEmpty(root_ + "got.img") == data);
  stdout_ += tftpd.readAllStandardOutput();
  const QStringList lines = QString::fromLocal8Bit(stdout_).split('\n', Qt::SkipEmptyParts);
  EXPECT_TRUE(lines.filter("** RRQ (mode = octet) for rescue.img found.").size() == 1);
  EXPECT_TRUE(lines.filter("Transfer complete: time to complete = ").size() == 1);
  // 4096 blocks went out; the output stays a handful of lines.
  EXPECT_LE(lines.size(), 10) << stdout_.toStdString();
}

TEST_F(TftpdCommandTest, SignalEndsWithZeroAndABusyPortWithTwo) {
  QProcess tftpd;
  ASSERT_TRUE(StartTftpd(tftpd, {}));
  EXPECT_EQ(tftpd.state(), QProcess::Running);
  ::kill(static_cast<pid_t>(tftpd.processId()), SIGTERM);
  ASSERT_TRUE(WaitPumpingUntil([&] { return tftpd.state() == QProcess::NotRunning; }, 15000));
  EXPECT_EQ(tftpd.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(tftpd.exitCode(), 0);

  QUdpSocket squatter;
  ASSERT_TRUE(squatter.bind(QHostAddress::LocalHost, port_));
  QProcess busy;
  stdout_.clear();
  StartTftpd(busy, {});
  ASSERT_TRUE(WaitPumpingUntil([&] { return busy.state() == QProcess::NotRunning; }, 15000));
  EXPECT_EQ(busy.exitCode(), 2);
  const QByteArray busyErrors = busy.readAllStandardError();
  EXPECT_TRUE(busyErrors.contains("Unable to start server. Error = 0x00002740."));
  EXPECT_TRUE(busyErrors.contains(QString("UDP port %1 is already in use").arg(port_).toUtf8()))
      << busyErrors.toStdString();

  const ClientRun usage = Run(FwloadPath(), {"tftpd", "--port", "70"});
  EXPECT_EQ(usage.exitCode, 2);
}

TEST_F(TftpdCommandTest, SilentClientsDelayASignalledStopBySecondsAndASecondSignalNotAtAll) {
  Put("img.bin", RandomBytes(100000, 14));
  for (bool twice : {false, true}) {
    SCOPED_TRACE(twice ? "two signals" : "one signal");
    QProcess tftpd;
    stdout_.clear();
    // Left alone, each silent client would hold a transfer for about two minutes.
    ASSERT_TRUE(StartTftpd(tftpd, {"--timeout", "10", "--retries", "10"}));
    std::vector<std::unique_ptr<QUdpSocket>> silent;
    for (int i = 0; i < 20; ++i) {
      auto socket = std::make_unique<QUdpSocket>();
      // Spread over addresses: one address may hold only eight transfers.
      ASSERT_TRUE(socket->bind(QHostAddress(QString("127.0.0.%1").arg(1 + i / 8)), 0));
      socket->writeDatagram(QByteArray("\0\1img.bin\0octet\0", 17), QHostAddress::LocalHost, port_);
      silent.push_back(std::move(socket));
    }
    ASSERT_TRUE(WaitPumpingUntil(
        [&] {
          for (const auto& socket : silent) {
            if (!socket->hasPendingDatagrams()) return false;
          }
          return true;
        },
        10000));
    const auto pid = static_cast<pid_t>(tftpd.processId());
    ::kill(pid, SIGTERM);
    if (twice) {
      WaitPumping(300);
      ::kill(pid, SIGTERM);
      ASSERT_TRUE(WaitPumpingUntil([&] { return tftpd.state() == QProcess::NotRunning; }, 3000));
      EXPECT_EQ(tftpd.exitStatus(), QProcess::CrashExit);
    } else {
      // At most six seconds for all twenty together.
      ASSERT_TRUE(WaitPumpingUntil([&] { return tftpd.state() == QProcess::NotRunning; }, 12000));
      EXPECT_EQ(tftpd.exitStatus(), QProcess::NormalExit);
      EXPECT_EQ(tftpd.exitCode(), 0);
    }
  }
}

TEST_F(TftpdCommandTest, FixedTimerWaitsTheWholeTimeOutForALostBlock) {
  const QByteArray data = RandomBytes(30 * 1468, 15);
  Put("f.bin", data);
  for (bool fixed : {false, true}) {
    SCOPED_TRACE(fixed ? "--fixed-timer" : "measured");
    QProcess tftpd;
    stdout_.clear();
    QStringList args = {"--once", "--timeout", "1"};
    if (fixed) args << "--fixed-timer";
    ASSERT_TRUE(StartTftpd(tftpd, args));
    // The first copy of DATA 5 is lost on the way.
    DataTimes times;
    int copies = 0;  // relay thread only
    sim::UdpImpairmentRelay relay;
    relay.SetRule([&](const sim::RelayDatagram& d) {
      times.Note(d);
      const bool lost = d.opcode == 3 && d.block == 5 && ++copies == 1;
      return sim::RelayVerdict{lost ? 0 : 1, 0};
    });
    ASSERT_TRUE(relay.Start(port_));
    const QString out = root_ + (fixed ? "fixed.out" : "measured.out");
    const ClientRun run = Fetch("curl", "f.bin", out, 1468, 0, relay.Port());
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
    EXPECT_TRUE(ReadFileOrEmpty(out) == data);
    // The relay stays until the closing ACK got through: a port it gave
    // back may be taken by another program before the server stops resending.
    ASSERT_TRUE(WaitPumpingUntil([&] { return tftpd.state() == QProcess::NotRunning; }, 15000))
        << (stdout_ + tftpd.readAllStandardOutput()).toStdString();
    relay.Stop();
    const std::vector<double> at = times.Of(5);
    ASSERT_GE(at.size(), 2u);
    if (fixed) {
      EXPECT_GE(at[1] - at[0], 990.0);
    } else {
      EXPECT_LT(at[1] - at[0], 900.0);
    }
  }
}

}  // namespace
}  // namespace fwl::test
