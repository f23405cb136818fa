// Real TFTP clients fetching from the server: every received file must be
// byte-identical to the served one.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include "app/settings.h"
#include "tftp/tftp_fixture.h"
#include "tftp/tftp_wire_tap.h"

namespace fwl::test {
namespace {

class TftpClientsTest : public TftpFixture {};

const char* const kClients[] = {"curl", "tftp-hpa", "atftp", "busybox"};

TEST_F(TftpClientsTest, EveryClientGetsEverySizeIntact) {
  const qsizetype sizes[] = {0, 1, 511, 512, 513, 1024, 1024 * 1024};
  for (qsizetype size : sizes) {
    Put(QString("file%1.bin").arg(size), RandomBytes(size, static_cast<quint32>(size) + 7));
  }
  StartServer();
  for (const char* client : kClients) {
    for (qsizetype size : sizes) {
      SCOPED_TRACE(QString("%1, %2 bytes").arg(client).arg(size).toStdString());
      const QString name = QString("file%1.bin").arg(size);
      const QString out = root_ + QString("got_%1_%2").arg(client).arg(size);
      // curl refuses an OACK with "tsize" 0, so it fetches empty files
      // without options.
      const bool curlEmpty = size == 0 && QString(client) == "curl";
      const ClientRun run = Fetch(client, name, out, curlEmpty ? -1 : 0);
      ASSERT_TRUE(run.finished) << run.output.toStdString();
      EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
      EXPECT_EQ(ReadFileOrEmpty(out), ReadFileOrEmpty(root_ + name));
      EXPECT_TRUE(QFileInfo::exists(out));
    }
  }
  EXPECT_EQ(CountEvents(kTftpEventTransferComplete), 4 * 7);
  EXPECT_EQ(CountEvents(kTftpEventClientLost), 0);
}

// Option text as it stands in an OACK: name, NUL, value, NUL.
QByteArray OackEntry(const char* name, int value) {
  return QByteArray(name) + '\0' + QByteArray::number(value) + '\0';
}

TEST_F(TftpClientsTest, BlockSizesAreNegotiatedWithEachClientThatAsks) {
  const QByteArray data = RandomBytes(300 * 1024 + 77, 11);
  Put("image.bin", data);
  StartServer();
  TftpWireTap tap(port_);
  // 65464 is the largest a client may ask; the server grants 8192.
  for (const char* client : {"curl", "atftp", "busybox"}) {
    for (int blksize : {512, 1468, 8192, 65464}) {
      SCOPED_TRACE(QString("%1 blksize %2").arg(client).arg(blksize).toStdString());
      const QString out = root_ + QString("got_%1_%2").arg(client).arg(blksize);
      const ClientRun run = Fetch(client, "image.bin", out, blksize, 0, tap.Port());
      ASSERT_TRUE(run.finished);
      EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
      EXPECT_TRUE(ReadFileOrEmpty(out) == data);
      // On the wire: the granted size acknowledged and used for every full block.
      const int granted = qMin(blksize, 8192);
      // busybox leaves out an option that asks for the default 512.
      if (blksize != 512 || QString(client) != "busybox") {
        EXPECT_TRUE(tap.oack.contains(OackEntry("blksize", granted))) << tap.oack.toStdString();
      }
      EXPECT_EQ(tap.LargestPayload(), granted);
      EXPECT_GE(tap.dataPayloads[granted], data.size() / granted);
      EXPECT_EQ(tap.dataPayloads.size(), 2u) << "full blocks and the closing short one only";
      EXPECT_EQ(tap.dataPayloads.begin()->first, data.size() % granted);
    }
  }
}

TEST_F(TftpClientsTest, WindowedTransferIsIntactAndAcknowledgedOncePerWindow) {
  const QByteArray data = RandomBytes(2 * 1024 * 1024 + 5, 3);
  Put("big.bin", data);
  StartServer();
  TftpWireTap tap(port_);
  const int blocks = static_cast<int>(data.size() / 1468 + 1);
  // 200 is cut to the 64 KiB the server puts in flight: 44 blocks of 1468.
  for (auto [asked, granted] : {std::pair{4, 4}, {16, 16}, {200, 44}}) {
    SCOPED_TRACE(asked);
    const QString out = root_ + QString("win%1").arg(asked);
    const ClientRun run = Fetch("atftp", "big.bin", out, 1468, asked, tap.Port());
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
    EXPECT_TRUE(ReadFileOrEmpty(out) == data);
    EXPECT_TRUE(tap.oack.contains(OackEntry("windowsize", granted))) << tap.oack.toStdString();
    EXPECT_GE(tap.dataPackets, blocks);
    // One ACK for the OACK and one per window (a few more if a window was resent).
    EXPECT_GE(tap.acks, blocks / granted);
    EXPECT_LE(tap.acks, blocks / granted + 12);
  }
}

TEST_F(TftpClientsTest, BlockNumbersWrapOnAFileOver32MiB) {
  // 65536 blocks of 512 bytes and then some: block numbers pass 65535 and 0.
  const QByteArray data = RandomBytes(32 * 1024 * 1024 + 3000, 99);
  const QString path = Put("huge.bin", data);
  ASSERT_TRUE(server_->PreloadFile(path));
  StartServer();
  const ClientRun run = Fetch("atftp", "huge.bin", root_ + "huge.out", 512);
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
  EXPECT_TRUE(ReadFileOrEmpty(root_ + "huge.out") == data);
  EXPECT_TRUE(LogHas("Using preloaded file..."));
}

TEST_F(TftpClientsTest, MissingAndUnreadableFilesAreRefused) {
  QDir(root_).mkdir("folder.bin");  // exists, but cannot be read as a file
  StartServer();
  for (const char* client : kClients) {
    SCOPED_TRACE(client);
    const ClientRun missing = Fetch(client, "nothere.bin", root_ + "x1");
    ASSERT_TRUE(missing.finished);
    const ClientRun unreadable = Fetch(client, "folder.bin", root_ + "x2");
    ASSERT_TRUE(unreadable.finished);
    // tftp-hpa reports errors on its output but exits 0.
    if (QString(client) != "tftp-hpa") {
      EXPECT_NE(missing.exitCode, 0);
      EXPECT_NE(unreadable.exitCode, 0);
    }
  }
  EXPECT_EQ(CountEvents(kTftpEventFileNotFound), 4);
  EXPECT_EQ(CountEvents(kTftpEventTransferComplete), 0);
  ASSERT_FALSE(events_.empty());
  bool sawText = false;
  for (const TftpEvent& e : events_) {
    if (e.kind != kTftpEventFileNotFound) continue;
    EXPECT_EQ(e.text,
              QString("The requested file %1nothere.bin was not found on the server.").arg(root_));
    EXPECT_EQ(e.clientAddress, "127.0.0.1");
    sawText = true;
  }
  EXPECT_TRUE(sawText);
  EXPECT_TRUE(LogHas("Error 1 sent to client."));
  EXPECT_TRUE(LogHas("Error 2 sent to client."));
}

TEST_F(TftpClientsTest, TwoClientsAtOnceBothGetTheirFile) {
  const QByteArray a = RandomBytes(3 * 1024 * 1024, 1);
  const QByteArray b = RandomBytes(2 * 1024 * 1024 + 1, 2);
  Put("a.bin", a);
  Put("b.bin", b);
  StartServer();
  QProcess first;
  QProcess second;
  first.start("curl",
              {"-s", "-o", root_ + "a.out", QString("tftp://127.0.0.1:%1/a.bin").arg(port_)});
  second.start("busybox", {"tftp", "-g", "-r", "b.bin", "-l", root_ + "b.out", "127.0.0.1",
                           QString::number(port_)});
  ASSERT_TRUE(first.waitForStarted(5000) && second.waitForStarted(5000));
  WaitPumpingUntil(
      [&] {
        return first.state() == QProcess::NotRunning && second.state() == QProcess::NotRunning;
      },
      60000, 5);
  EXPECT_EQ(first.exitCode(), 0);
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_TRUE(ReadFileOrEmpty(root_ + "a.out") == a);
  EXPECT_TRUE(ReadFileOrEmpty(root_ + "b.out") == b);
  EXPECT_EQ(CountEvents(kTftpEventTransferComplete), 2);
}

TEST_F(TftpClientsTest, DirectoryPartsOfTheRequestAreDropped) {
  const QByteArray data = RandomBytes(4000, 5);
  Put("image.bin", data);
  StartServer();
  const ClientRun dos = Fetch("atftp", "..\\dir\\image.bin", root_ + "o1");
  EXPECT_EQ(dos.exitCode, 0) << dos.output.toStdString();
  EXPECT_TRUE(ReadFileOrEmpty(root_ + "o1") == data);
  const ClientRun unix = Fetch("busybox", "../../etc/image.bin", root_ + "o2");
  EXPECT_EQ(unix.exitCode, 0) << unix.output.toStdString();
  EXPECT_TRUE(ReadFileOrEmpty(root_ + "o2") == data);
}

TEST_F(TftpClientsTest, PercentOnlyTextsAndLogFile) {
  server_->SetPercentOnly(1);
  const QString logPath = root_ + "server.log";
  SetSettingInt(kSectionTftp, "log to file", 1);
  SetSettingText(kSectionTftp, "log file", logPath);
  Put("p.bin", RandomBytes(50000, 8));
  StartServer();
  EXPECT_EQ(Fetch("curl", "p.bin", root_ + "p.out").exitCode, 0);
  EXPECT_EQ(ReadFileOrEmpty(root_ + "p.out"), ReadFileOrEmpty(root_ + "p.bin"));
  server_->Stop();
  SetSettingInt(kSectionTftp, "log to file", 0);
  ASSERT_EQ(completions_.size(), 1);
  EXPECT_EQ(completions_[0], "0:100%");
  ASSERT_FALSE(progress_.isEmpty());
  EXPECT_EQ(progress_.first(), "0:0%");
  for (const QString& text : progress_) {
    EXPECT_TRUE(QRegularExpression("^0:\\d{1,3}%$").match(text).hasMatch()) << text.toStdString();
  }
  const QString text = QString::fromLocal8Bit(ReadFileOrEmpty(logPath));
  EXPECT_TRUE(text.contains("Server started, listening on port")) << text.toStdString();
  EXPECT_TRUE(text.contains(QString("** RRQ (mode = octet) for p.bin found.")));
  EXPECT_TRUE(text.contains("Client IP = 127.0.0.1, port = "));
}

}  // namespace
}  // namespace fwl::test
