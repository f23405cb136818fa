// The simulated unit's "tftp" command against real servers on loopback:
// our own TftpServer (options, windowing off) and a bare RFC 1350 responder
// that knows no options, plus the failures a fetch can meet.
#include <gtest/gtest.h>

#include <QDir>
#include <QNetworkDatagram>
#include <QTemporaryDir>
#include <QUdpSocket>

#include "sim/sim_unit.h"
#include "sim_terminal.h"
#include "support/test_util.h"
#include "tftp/tftp_server.h"

namespace fwl {
namespace {

class SimTftp : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.isValid());
    server_.SetBindAddress(QHostAddress(QHostAddress::LocalHost));
    server_.SetListenPort(0);
    server_.SetRetries(1);
    server_.SetRetransmitInterval(200);
    server_.SetOutboundFolder(folder_.path() + "/");
    server_.SetInboundFolder(folder_.path() + "/");
    ASSERT_EQ(server_.Start(), 0);
  }
  void StartUnit(SimOptions o, quint16 port) {
    o.bootDelaySeconds = 30;
    o.tftpPort = port;
    o.tftpTimeoutMs = 200;
    ApplyBoardDefaults(o);
    unit_ = std::make_unique<SimUnit>(o);
    ASSERT_TRUE(unit_->Start());
    ASSERT_TRUE(term_.Open(unit_->SlavePath()));
    ASSERT_TRUE(term_.WaitFor("autoboot"));
    ASSERT_TRUE(term_.Send("interrupt\r"));
    ASSERT_TRUE(term_.WaitFor("=> "));
    term_.ReadFor(30);
    term_.Command("setenv ipaddr 127.0.0.2");
    term_.Command("setenv serverip 127.0.0.1");
  }
  QString Put(const QString& name, const QByteArray& data) {
    const QString path = folder_.path() + "/" + name;
    test::WriteFileOrFail(path, data);
    return path;
  }

  QTemporaryDir folder_;
  TftpServer server_;
  std::unique_ptr<SimUnit> unit_;
  test::SimTerminal term_;
};

TEST_F(SimTftp, FetchesIntoRamAndSetsFilesize) {
  const QByteArray image = test::RandomBytes(300000, 7);
  Put("kvimage_lozeb1_5_100", image);
  StartUnit(SimOptions(), server_.ListeningPort());
  const QByteArray r = term_.Command("tftp 100000 kvimage_lozeb1_5_100", 20000);
  ASSERT_FALSE(r.isEmpty()) << term_.Seen().toStdString();
  EXPECT_TRUE(
      r.contains("Filename 'kvimage_lozeb1_5_100'.\r\nLoad address: 0x100000\r\nLoading: #"));
  EXPECT_TRUE(r.contains("\r\ndone\r\nBytes transferred = 300000 (493e0 hex)\r\n=> "));
  EXPECT_EQ(unit_->ReadDram(0x100000, image.size()), image);
  EXPECT_EQ(unit_->Env("filesize"), "493E0");
  EXPECT_TRUE(term_.Command("echo $(filesize)").contains("\r\n493E0\r\n=> "));

  // A second fetch queued behind the first on one line of input, then an
  // mtest: its Ctrl-C ends the test, not some earlier transfer.
  term_.Take();
  ASSERT_TRUE(term_.Send("tftp 200000 kvimage_lozeb1_5_100\rtftp 300000 kvimage_lozeb1_5_100\r"));
  ASSERT_TRUE(term_.WaitFor("Load address: 0x300000", 20000));
  EXPECT_TRUE(term_.Take().contains("Bytes transferred = 300000"));
  ASSERT_TRUE(term_.WaitFor("(493e0 hex)\r\n=> ", 20000));
  EXPECT_EQ(unit_->ReadDram(0x300000, image.size()), image);
  term_.Take();
  ASSERT_TRUE(term_.Send("mtest 40000000 40000008\r"));
  ASSERT_TRUE(term_.WaitFor("Pattern"));
  ASSERT_TRUE(term_.Send("\x03"));
  ASSERT_TRUE(term_.WaitFor("=> "));
  EXPECT_FALSE(term_.Seen().contains("Abort"));
}

TEST_F(SimTftp, FailuresEndAtThePromptWithoutTheTransferLine) {
  Put("big", QByteArray(0x180000, 'x'));
  Put("small", QByteArray(5000, 'y'));
  SimOptions o;
  o.dramSize = 0x200000;
  StartUnit(o, server_.ListeningPort());

  QByteArray r = term_.Command("tftp 100000 missing", 10000);
  EXPECT_TRUE(r.contains("TFTP error: '"));
  EXPECT_FALSE(r.contains("Bytes transferred"));

  // Larger than the RAM above the load address: refused, RAM untouched above.
  r = term_.Command("tftp 100000 big", 10000);
  EXPECT_TRUE(r.contains("too large"));
  EXPECT_FALSE(r.contains("Bytes transferred"));

  r = term_.Command("tftp 44080000 small");
  EXPECT_TRUE(r.contains("not RAM"));

  term_.Command("setenv serverip");
  EXPECT_TRUE(term_.Command("tftp 100000 small").contains("`serverip' not set"));
  // The simulator never sends to anything but loopback.
  term_.Command("setenv serverip 192.0.2.1");
  r = term_.Command("tftp 100000 small");
  EXPECT_TRUE(r.contains("not a loopback address"));
  EXPECT_EQ(server_.TransfersStarted(), 2);
}

TEST_F(SimTftp, StalledFetchNeverPromptsUntilCtrlC) {
  Put("image", QByteArray(100000, 'z'));
  SimOptions o;
  o.tftpStallAfterBlocks = 3;
  StartUnit(o, server_.ListeningPort());
  term_.Take();
  ASSERT_TRUE(term_.Send("tftp 100000 image\r"));
  EXPECT_FALSE(term_.WaitFor("=> ", 1500));
  EXPECT_FALSE(term_.Seen().contains("Bytes transferred"));
  ASSERT_TRUE(term_.Send("\x03"));
  ASSERT_TRUE(term_.WaitFor("\r\nAbort\r\n=> "));
}

// A server that knows no options: answers the request with 512-byte blocks
// in lock-step, and drops the first acknowledgement once to force a
// retransmission by the unit.
TEST_F(SimTftp, PlainServerWithoutOptionsAndALostAck) {
  const QByteArray image = test::RandomBytes(512 * 5 + 17, 3);
  QUdpSocket plain;
  ASSERT_TRUE(plain.bind(QHostAddress(QHostAddress::LocalHost), 0));
  quint16 client = 0;
  QHostAddress clientAddress(QHostAddress::LocalHost);
  bool droppedOne = false;
  auto sendBlock = [&](int block) {
    QByteArray p;
    p += char(0);
    p += char(3);
    p += char(block >> 8);
    p += char(block & 0xFF);
    p += image.mid((block - 1) * 512, 512);
    plain.writeDatagram(p, clientAddress, client);
  };
  QObject::connect(&plain, &QUdpSocket::readyRead, [&] {
    while (plain.hasPendingDatagrams()) {
      const QNetworkDatagram d = plain.receiveDatagram();
      const QByteArray p = d.data();
      if (p.size() < 4) continue;
      client = quint16(d.senderPort());
      clientAddress = d.senderAddress();  // the unit fetches from its own address
      if (p[1] == 1) {
        sendBlock(1);
      } else if (p[1] == 4) {
        const int acked = (quint8(p[2]) << 8) | quint8(p[3]);
        if (acked == 1 && !droppedOne) {
          droppedOne = true;  // the unit must time out and ACK again
          continue;
        }
        if ((acked)*512 <= image.size()) sendBlock(acked + 1);
      }
    }
  });
  StartUnit(SimOptions(), plain.localPort());
  const QByteArray r = term_.Command("tftp 100000 any", 10000);
  EXPECT_TRUE(r.contains("T "));
  EXPECT_TRUE(r.contains(QString("Bytes transferred = %1 (").arg(image.size()).toLatin1()));
  EXPECT_EQ(unit_->ReadDram(0x100000, image.size()), image);
}

}  // namespace
}  // namespace fwl
