// How transfers end and what that costs the server: events that tell the
// truth about what the client received, a Stop() that does not wait for
// ever, limits that keep one flooding address from starving a unit, and
// nothing left behind by ended transfers.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <memory>
#include <vector>

#include "tftp/tftp_datagram_socket.h"
#include "tftp/tftp_raw_fixture.h"
#include "tftp/tftp_transfer.h"

namespace fwl::test {
namespace {

int OpenDescriptors() { return static_cast<int>(QDir("/proc/self/fd").count()); }

class TftpTransferEndTest : public TftpRawTest {
 protected:
  // Receives the next `n` DATA blocks and returns their numbers.
  QList<int> Blocks(int n) {
    QList<int> got;
    for (int i = 0; i < n; ++i) {
      const auto p = Receive();
      if (!p) break;
      got << BlockOf(*p);
    }
    return got;
  }

  // Next datagram on `socket`, with the port it came from.
  std::optional<QByteArray> ReceiveOn(QUdpSocket& socket, quint16* from) {
    if (!WaitPumpingUntil([&] { return socket.hasPendingDatagrams(); }, 2000, 2)) {
      return std::nullopt;
    }
    const QNetworkDatagram d = socket.receiveDatagram();
    *from = static_cast<quint16>(d.senderPort());
    return d.data();
  }

  bool WaitForEnd() {
    return WaitPumpingUntil([this] { return server_->AllTransfersEnded(); }, 5000);
  }

  void ExpectLostNotCompleted() {
    EXPECT_EQ(CountEvents(kTftpEventClientLost), 1);
    EXPECT_EQ(CountEvents(kTftpEventTransferComplete), 0);
    EXPECT_TRUE(completions_.isEmpty());
  }
};

TEST_F(TftpTransferEndTest, WindowedClientSilentAfterTheLastWindowIsLost) {
  Put("w.bin", RandomBytes(5000, 21));  // blocks 1..10
  StartServer();
  SendToServer(Rrq("w.bin", {"windowsize", "4"}));
  ASSERT_TRUE(Receive());  // OACK
  SendToTransfer(Ack(0));
  EXPECT_EQ(Blocks(4), QList<int>({1, 2, 3, 4}));
  SendToTransfer(Ack(4));
  EXPECT_EQ(Blocks(4), QList<int>({5, 6, 7, 8}));
  SendToTransfer(Ack(8));
  EXPECT_EQ(Blocks(2), QList<int>({9, 10}));
  // Block 9 was never confirmed: the client may hold nothing past block 8.
  ASSERT_TRUE(WaitForEnd());
  ExpectLostNotCompleted();
}

TEST_F(TftpTransferEndTest, WindowedClientThatConfirmedAllButTheLastBlockCompletes) {
  Put("w.bin", RandomBytes(5000, 22));
  StartServer();
  SendToServer(Rrq("w.bin", {"windowsize", "8"}));
  ASSERT_TRUE(Receive());
  SendToTransfer(Ack(0));
  EXPECT_EQ(Blocks(8), QList<int>({1, 2, 3, 4, 5, 6, 7, 8}));
  SendToTransfer(Ack(8));
  EXPECT_EQ(Blocks(2), QList<int>({9, 10}));
  SendToTransfer(Ack(9));  // only the closing ACK goes missing, as in lock-step
  ASSERT_TRUE(WaitForEnd());
  EXPECT_EQ(CountEvents(kTftpEventTransferComplete), 1);
  EXPECT_EQ(CountEvents(kTftpEventClientLost), 0);
}

TEST_F(TftpTransferEndTest, SmallFileInOneWindowNeverAcknowledgedIsLost) {
  Put("s.bin", RandomBytes(3000, 23));  // blocks 1..6, one window of 16
  StartServer();
  SendToServer(Rrq("s.bin", {"windowsize", "16"}));
  ASSERT_TRUE(Receive());
  SendToTransfer(Ack(0));
  EXPECT_EQ(Blocks(6), QList<int>({1, 2, 3, 4, 5, 6}));
  ASSERT_TRUE(WaitForEnd());
  ExpectLostNotCompleted();
}

TEST_F(TftpTransferEndTest, ClientErrorAfterTheLastBlockIsLostInBothModes) {
  Put("e.bin", RandomBytes(1500, 24));  // blocks 1..3
  StartServer();
  // Lock-step: the last block goes out after block 2 was acknowledged.
  SendToServer(Rrq("e.bin"));
  for (int block = 1; block <= 3; ++block) {
    const auto p = Receive();
    ASSERT_TRUE(p);
    ASSERT_EQ(BlockOf(*p), block);
    if (block < 3) SendToTransfer(Ack(block));
  }
  SendToTransfer(Bytes("\0\5\0\3disk full\0"));
  ASSERT_TRUE(WaitForEnd());
  ExpectLostNotCompleted();

  // Windowed, on a new client port.
  events_.clear();
  completions_.clear();
  QUdpSocket windowed;
  ASSERT_TRUE(windowed.bind(QHostAddress::LocalHost, 0));
  SendToServer(Rrq("e.bin", {"windowsize", "4"}), &windowed);
  quint16 transfer = 0;
  ASSERT_TRUE(ReceiveOn(windowed, &transfer));  // OACK
  windowed.writeDatagram(Ack(0), QHostAddress::LocalHost, transfer);
  for (int block = 1; block <= 3; ++block) {
    const auto p = ReceiveOn(windowed, &transfer);
    ASSERT_TRUE(p);
    EXPECT_EQ(BlockOf(*p), block);
  }
  windowed.writeDatagram(Ack(2), QHostAddress::LocalHost, transfer);
  windowed.writeDatagram(Bytes("\0\5\0\0checksum mismatch\0"), QHostAddress::LocalHost, transfer);
  ASSERT_TRUE(WaitForEnd());
  ExpectLostNotCompleted();
}

TEST_F(TftpTransferEndTest, StopWaitsSixSecondsInAllAndEndsTheRestAsLost) {
  Put("slow.bin", RandomBytes(4000, 25));
  server_->SetRetries(10);
  server_->SetRetransmitInterval(20000);  // each transfer alone would run for minutes
  StartServer();
  std::vector<std::unique_ptr<QUdpSocket>> clients;
  for (int i = 0; i < 20; ++i) {
    auto socket = std::make_unique<QUdpSocket>();
    ASSERT_TRUE(socket->bind(QHostAddress(QString("127.0.0.%1").arg(2 + i / 8)), 0));
    SendToServer(Rrq("slow.bin"), socket.get());
    clients.push_back(std::move(socket));
  }
  ASSERT_TRUE(WaitPumpingUntil([this] { return server_->ActiveTransfers() == 20; }, 5000));
  QElapsedTimer timer;
  timer.start();
  server_->Stop();
  // Six seconds in all, not six per transfer (two minutes here).
  EXPECT_LT(timer.elapsed(), 20000);
  EXPECT_GE(timer.elapsed(), 5500);
  EXPECT_EQ(CountEvents(kTftpEventClientLost), 20);
  EXPECT_EQ(CountEvents(kTftpEventTransferComplete), 0);
  EXPECT_EQ(server_->ActiveTransfers(), 0);
}

TEST_F(TftpTransferEndTest, AFloodFromOneAddressLeavesRoomForTheUnit) {
  Put("img.bin", RandomBytes(2000, 26));
  server_->SetRetransmitInterval(20000);  // the flood's transfers stay pending
  StartServer();
  // A kept socket to read the refusal; the rest are sent and dropped.
  QUdpSocket refused;
  ASSERT_TRUE(refused.bind(QHostAddress("127.0.0.2"), 0));
  for (int i = 0; i < 600; ++i) {
    QUdpSocket flood;
    ASSERT_TRUE(flood.bind(QHostAddress("127.0.0.2"), 0));
    flood.writeDatagram(Rrq("img.bin"), QHostAddress::LocalHost, port_);
    if (i % 20 == 19) QCoreApplication::processEvents();
  }
  WaitPumping(300);
  EXPECT_EQ(server_->ActiveTransfers(), kTftpMaxTransfersPerClient);
  SendToServer(Rrq("img.bin"), &refused);
  const auto refusal = Receive(2000, &refused);
  ASSERT_TRUE(refusal);
  EXPECT_EQ(*refusal, Bytes("\0\5\0\0Too many transfers; try again later.\0"));
  // The unit on another address is served at once.
  SendToServer(Rrq("img.bin"));
  const auto block = Receive(1000);
  ASSERT_TRUE(block);
  EXPECT_EQ(BlockOf(*block), 1);
}

TEST_F(TftpTransferEndTest, NoMoreThanTheTotalLimitRunsAtOnce) {
  Put("img.bin", RandomBytes(2000, 27));
  server_->SetRetransmitInterval(20000);
  StartServer();
  const int addresses = kTftpMaxTransfers / kTftpMaxTransfersPerClient + 2;
  for (int a = 0; a < addresses; ++a) {
    const QHostAddress from(QString("127.0.3.%1").arg(a + 1));
    for (int i = 0; i < kTftpMaxTransfersPerClient; ++i) {
      QUdpSocket socket;
      ASSERT_TRUE(socket.bind(from, 0));
      socket.writeDatagram(Rrq("img.bin"), QHostAddress::LocalHost, port_);
    }
    WaitPumping(20);
  }
  WaitPumping(300);
  EXPECT_EQ(server_->ActiveTransfers(), kTftpMaxTransfers);
  SendToServer(Rrq("img.bin"));
  const auto refusal = Receive(2000);
  ASSERT_TRUE(refusal);
  EXPECT_TRUE(refusal->startsWith(Bytes("\0\5\0\0")));
}

TEST_F(TftpTransferEndTest, ThousandsOfFetchesFromOnePortLeaveNothingBehind) {
  Put("empty.bin", QByteArray());
  StartServer();
  // One warm-up fetch so lazily created objects are not counted as a leak.
  auto fetch = [this] {
    SendToServer(Rrq("empty.bin"));
    if (!WaitPumpingUntil([this] { return client_.hasPendingDatagrams(); }, 5000, 50)) {
      return false;
    }
    const QNetworkDatagram data = client_.receiveDatagram();
    client_.writeDatagram(Ack(1), QHostAddress::LocalHost, static_cast<quint16>(data.senderPort()));
    // A request that overtook this ACK would be a retransmission of a
    // running transfer's request, and ignored.
    return data.data() == Bytes("\0\3\0\1") &&
           WaitPumpingUntil([this] { return server_->ActiveTransfers() == 0; }, 5000, 50);
  };
  auto settle = [this] {
    WaitPumpingUntil([this] { return server_->ActiveTransfers() == 0; }, 2000);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  };
  ASSERT_TRUE(fetch()) << log_.join("\n").toStdString();
  settle();
  const int descriptors = OpenDescriptors();
  const int fetches = 10000;
  for (int i = 0; i < fetches; ++i) {
    // The same client port every time: each ended transfer frees it.
    ASSERT_TRUE(fetch()) << "fetch " << i;
  }
  settle();
  EXPECT_EQ(CountEvents(kTftpEventTransferComplete), fetches + 1);
  EXPECT_EQ(server_->ActiveTransfers(), 0);
  EXPECT_EQ(OpenDescriptors(), descriptors);
  EXPECT_EQ(server_->findChildren<TftpTransfer*>().size(), 0);
  EXPECT_EQ(server_->findChildren<TftpDatagramSocket*>().size(), 0);
}

TEST_F(TftpTransferEndTest, AFileThatChangesWhileServedIsBrokenOff) {
  const QString path = Put("c.bin", RandomBytes(3000, 28));
  StartServer();
  SendToServer(Rrq("c.bin"));
  ASSERT_TRUE(Receive());
  QFile(path).resize(600);  // cut: block 2 would mix old and missing bytes
  SendToTransfer(Ack(1));
  auto p = Receive();
  ASSERT_TRUE(p);
  EXPECT_TRUE(p->startsWith(Bytes("\0\5\0\0"))) << p->toHex().toStdString();
  ASSERT_TRUE(WaitForEnd());
  ExpectLostNotCompleted();

  // Grown before its last block: the end of the file is no longer the end.
  events_.clear();
  const QString grown = Put("g.bin", RandomBytes(1000, 29));  // blocks 1, 2 (last)
  QUdpSocket other;
  ASSERT_TRUE(other.bind(QHostAddress::LocalHost, 0));
  SendToServer(Rrq("g.bin"), &other);
  quint16 transfer = 0;
  ASSERT_TRUE(ReceiveOn(other, &transfer));
  QFile file(grown);
  ASSERT_TRUE(file.open(QIODevice::Append));
  file.write(RandomBytes(100, 30));
  file.close();
  other.writeDatagram(Ack(1), QHostAddress::LocalHost, transfer);
  p = ReceiveOn(other, &transfer);
  ASSERT_TRUE(p);
  EXPECT_TRUE(p->startsWith(Bytes("\0\5\0\0"))) << p->toHex().toStdString();
  ASSERT_TRUE(WaitForEnd());
  ExpectLostNotCompleted();
}

TEST_F(TftpTransferEndTest, BusyPortReasonNamesThePort) {
  QUdpSocket squatter;
  ASSERT_TRUE(squatter.bind(QHostAddress::LocalHost, port_));
  EXPECT_EQ(server_->Start(), -1);
  const QString message = TftpStartFailureMessage(*server_);
  EXPECT_TRUE(message.startsWith("Failed to start TFTP server.\nUDP port " +
                                 QString::number(port_) + " is already in use"))
      << message.toStdString();
}

}  // namespace
}  // namespace fwl::test
