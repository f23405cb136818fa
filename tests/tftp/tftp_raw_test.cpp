// The server at packet level, driven by a raw UDP client on 127.0.0.1:
// option acknowledgement, retransmissions, duplicate ACKs, windows, silent
// clients, write requests and datagrams that are not requests at all.
#include "tftp/tftp_datagram_socket.h"
#include "tftp/tftp_raw_fixture.h"
#include "tftp/tftp_transfer.h"

namespace fwl::test {
namespace {

TEST_F(TftpRawTest, OackEchoesWhatIsGrantedAndALostOackIsResent) {
  const QByteArray data = RandomBytes(5000, 1);
  Put("img.bin", data);
  StartServer();
  SendToServer(Rrq("img.bin", {"BLKSIZE", "1468", "tsize", "0", "windowsize", "100", "x-vendor",
                               "42", "dangling"}));
  const auto oack = Receive();
  ASSERT_TRUE(oack);
  EXPECT_EQ(*oack, Bytes("\0\6blksize\0"
                         "1468\0tsize\0"
                         "5000\0windowsize\0"
                         "44\0"
                         "x-vendor\0"
                         "42\0"));
  EXPECT_EQ(lastSource_, QHostAddress(QHostAddress::LocalHost));
  EXPECT_GE(transferPort_, 1000);
  EXPECT_LE(transferPort_, 1499);
  // Not acknowledged: the OACK comes again, not a data block.
  const auto again = Receive();
  ASSERT_TRUE(again);
  EXPECT_EQ(*again, *oack);
  SendToTransfer(Ack(0));
  const auto block1 = Receive();
  ASSERT_TRUE(block1);
  EXPECT_EQ(block1->size(), 4 + 1468);
  EXPECT_EQ(block1->mid(4), data.left(1468));
}

TEST_F(TftpRawTest, LockStepWithDuplicateAckAndEmptyClosingBlock) {
  const QByteArray data = RandomBytes(1024, 2);
  Put("k.bin", data);
  StartServer();
  SendToServer(Rrq("k.bin"));
  auto p = Receive();
  ASSERT_TRUE(p);
  EXPECT_EQ(BlockOf(*p), 1);
  EXPECT_EQ(p->mid(4), data.left(512));
  SendToTransfer(Ack(1));
  p = Receive();
  ASSERT_TRUE(p);
  EXPECT_EQ(BlockOf(*p), 2);
  // Block 2 comes again after a duplicate ACK of block 1: from the ACK when
  // no copy went out within the time-out estimate, else from the time-out.
  SendToTransfer(Ack(1));
  p = Receive();
  ASSERT_TRUE(p);
  EXPECT_EQ(BlockOf(*p), 2);
  EXPECT_EQ(p->mid(4), data.mid(512));
  SendToTransfer(Ack(2));
  p = Receive();
  ASSERT_TRUE(p);
  EXPECT_EQ(BlockOf(*p), 3);
  EXPECT_EQ(p->size(), 4);  // 1024 = 2 * 512: an empty third block closes
  SendToTransfer(Ack(3));
  ASSERT_TRUE(
      WaitPumpingUntil([this] { return CountEvents(kTftpEventTransferComplete) == 1; }, 2000));
  EXPECT_EQ(completions_.size(), 1);
  EXPECT_TRUE(completions_[0].startsWith("0:Transfer complete: time to complete = "));
  // Progress counts the bytes before each block; a text comes only when the
  // percentage changes, so the resent block 2 adds none.
  const QString path = root_ + "k.bin";
  EXPECT_EQ(progress_, QStringList({"0:" + path + ": 0 bytes sent (0%)",
                                    "0:" + path + ": 512 bytes sent (50%)",
                                    "0:" + path + ": 1024 bytes sent (100%)"}));
  // The same client port asking again after the end is a new fetch.
  SendToServer(Rrq("k.bin"));
  p = Receive();
  ASSERT_TRUE(p);
  EXPECT_EQ(BlockOf(*p), 1);
  EXPECT_EQ(p->mid(4), data.left(512));
}

TEST_F(TftpRawTest, ARequestRepeatedWhileItsTransferRunsIsIgnored) {
  Put("r.bin", RandomBytes(2000, 14));
  StartServer();
  SendToServer(Rrq("r.bin"));
  ASSERT_TRUE(Receive());
  SendToServer(Rrq("r.bin"));  // the client retransmitting its request
  SendToTransfer(Ack(1));
  const auto p = Receive();
  ASSERT_TRUE(p);
  EXPECT_EQ(BlockOf(*p), 2);
  // No second block 1 from a second transfer (block 2 may come again: the
  // client stays silent, and the time-out follows its fast first ACK).
  const quint16 port = transferPort_;
  while (const auto again = Receive(200)) {
    EXPECT_EQ(BlockOf(*again), 2);
    EXPECT_EQ(transferPort_, port);
  }
  EXPECT_EQ(server_->ActiveTransfers(), 1);
  EXPECT_EQ(CountEvents(kTftpEventTransferStarted), 1);
}

TEST_F(TftpRawTest, PercentOnlyTextsRoundExactHalvesLikePrintf) {
  server_->SetPercentOnly(1);
  Put("h.bin", RandomBytes(4096, 12));  // blocks start at 12.5 % steps
  StartServer();
  SendToServer(Rrq("h.bin"));
  for (int block = 1; block <= 9; ++block) {
    const auto p = Receive();
    ASSERT_TRUE(p) << block;
    ASSERT_EQ(BlockOf(*p), block);
    SendToTransfer(Ack(block));
  }
  ASSERT_TRUE(WaitPumpingUntil([this] { return completions_.size() == 1; }, 2000));
  EXPECT_EQ(progress_, QStringList({"0:0%", "0:12%", "0:25%", "0:38%", "0:50%", "0:62%", "0:75%",
                                    "0:88%", "0:100%"}));
  EXPECT_EQ(completions_[0], "0:100%");
}

TEST_F(TftpRawTest, WindowReleasesPastTheAcknowledgedBlockAndResendsOnTimeout) {
  const QByteArray data = RandomBytes(5000, 3);  // blocks 1..9 full, block 10 short
  Put("w.bin", data);
  StartServer();
  SendToServer(Rrq("w.bin", {"windowsize", "4"}));
  ASSERT_TRUE(Receive());  // OACK
  SendToTransfer(Ack(0));
  auto blocks = [&](int n) {
    QList<int> got;
    for (int i = 0; i < n; ++i) {
      const auto p = Receive();
      if (!p) break;
      got << BlockOf(*p);
    }
    return got;
  };
  EXPECT_EQ(blocks(4), QList<int>({1, 2, 3, 4}));
  SendToTransfer(Ack(2));  // 3 and 4 lost: resend from 3
  EXPECT_EQ(blocks(4), QList<int>({3, 4, 5, 6}));
  SendToTransfer(Ack(6));
  EXPECT_EQ(blocks(4), QList<int>({7, 8, 9, 10}));
  // No ACK: the whole window after block 6 comes again.
  EXPECT_EQ(blocks(4), QList<int>({7, 8, 9, 10}));
  SendToTransfer(Ack(10));
  ASSERT_TRUE(
      WaitPumpingUntil([this] { return CountEvents(kTftpEventTransferComplete) == 1; }, 2000));
}

TEST_F(TftpRawTest, SilentClientAfterTheLastBlockStillCompletes) {
  Put("s.bin", RandomBytes(100, 4));
  StartServer();
  SendToServer(Rrq("s.bin"));
  // Retries 2: the only (last) block goes out three times.
  for (int i = 0; i < 3; ++i) {
    const auto p = Receive();
    ASSERT_TRUE(p) << i;
    EXPECT_EQ(BlockOf(*p), 1);
  }
  ASSERT_TRUE(WaitPumpingUntil([this] { return server_->AllTransfersEnded(); }, 3000));
  EXPECT_TRUE(LogHas("Sending retry (1) for file"));
  EXPECT_TRUE(LogHas("Sending retry (3) for file"));
  EXPECT_TRUE(LogHas("Maximum retries reached for file " + root_ + "s.bin."));
  ASSERT_EQ(events_.size(), 2u);
  EXPECT_EQ(events_[0].kind, kTftpEventTransferStarted);
  EXPECT_EQ(events_[1].kind, kTftpEventTransferComplete);
  EXPECT_EQ(completions_.size(), 1);
}

TEST_F(TftpRawTest, SilentClientMidFileIsReportedLost) {
  Put("m.bin", RandomBytes(2000, 5));
  StartServer();
  SendToServer(Rrq("m.bin"));
  ASSERT_TRUE(Receive());
  ASSERT_TRUE(WaitPumpingUntil([this] { return server_->AllTransfersEnded(); }, 3000));
  EXPECT_EQ(CountEvents(kTftpEventTransferComplete), 0);
  EXPECT_EQ(CountEvents(kTftpEventClientLost), 1);
  EXPECT_TRUE(completions_.isEmpty());
  // A late ACK does not bring an ended transfer back.
  while (client_.hasPendingDatagrams()) client_.receiveDatagram();
  SendToTransfer(Ack(1));
  EXPECT_FALSE(Receive(400));
}

TEST_F(TftpRawTest, ClientTimeoutOptionSetsTheRetransmissionInterval) {
  Put("t.bin", RandomBytes(700, 6));
  StartServer();
  SendToServer(Rrq("t.bin", {"timeout", "1"}));
  const auto oack = Receive();
  ASSERT_TRUE(oack);
  EXPECT_EQ(*oack, Bytes("\0\6timeout\0"
                         "1\0"));
  // The server's own interval is 300 ms; the client asked for a second.
  EXPECT_FALSE(Receive(650));
  EXPECT_TRUE(Receive(2000));
}

TEST_F(TftpRawTest, ListenPortIgnoresEverythingButRequests) {
  Put("ok.bin", RandomBytes(10, 7));
  StartServer();
  const QList<QByteArray> junk = {
      QByteArray(),
      Bytes("\0"),
      Bytes("\0\1"),
      Bytes("\0\1no-nul-anywhere"),
      Bytes("\1\1ok.bin\0octet\0"),  // first byte not 0
      Bytes("\0\3\0\1data"),
      Ack(0),
      Bytes("\0\5\0\1oops\0"),
      Bytes("\0\6blksize\0"
            "512\0"),
      Bytes("\0\7ok.bin\0octet\0"),
      QByteArray(1500, '\0'),
      RandomBytes(3000, 9),
  };
  for (const QByteArray& packet : junk) SendToServer(packet);
  EXPECT_FALSE(Receive(400));
  EXPECT_FALSE(LogHas("RRQ"));
  // Hostile options: huge values, many pairs, a request cut at 1024 bytes.
  QList<QByteArray> options = {"blksize", QByteArray(600, '9'), "tsize", "-1"};
  for (int i = 0; i < 50; ++i) options << "opt" + QByteArray::number(i) << QByteArray(30, 'v');
  SendToServer(Rrq("ok.bin", options));
  const auto oack = Receive();
  ASSERT_TRUE(oack);
  EXPECT_LE(oack->size(), 512);
  EXPECT_TRUE(
      oack->startsWith(Bytes("\0\6blksize\0"
                             "8192\0tsize\0"
                             "10\0")));
  SendToTransfer(Ack(0));
  const auto data = Receive();
  ASSERT_TRUE(data);
  EXPECT_EQ(data->size(), 14);
}

TEST_F(TftpRawTest, PercentSignsInTheFileNameStayInTheLogLines) {
  ASSERT_TRUE(server_->PreloadFile(Put("a%2b.bin", RandomBytes(10, 13))));
  StartServer();
  SendToServer(Rrq("a%2b.bin"));
  ASSERT_TRUE(Receive());
  EXPECT_TRUE(LogHas("** RRQ (mode = octet) for a%2b.bin found."));
  EXPECT_TRUE(LogHas("Time to read " + root_ + "a%2b.bin = "));
}

TEST_F(TftpRawTest, WriteRequestOnlyAnnouncesItself) {
  StartServer();
  SendToServer(Rrq("up.bin", {}, 2));
  EXPECT_FALSE(Receive(500));
  ASSERT_EQ(events_.size(), 1u);
  EXPECT_EQ(events_[0].kind, kTftpEventTransferStarted);
  EXPECT_EQ(events_[0].clientAddress, "127.0.0.1");
  EXPECT_TRUE(LogHas("** WRQ (mode = octet) for up.bin found."));
}

TEST_F(TftpRawTest, SimultaneousRequestsGetTheirOwnPortsAndStrangersAreTurnedAway) {
  Put("a.bin", RandomBytes(3000, 10));
  StartServer();
  QUdpSocket other;
  ASSERT_TRUE(other.bind(QHostAddress::LocalHost, 0));
  SendToServer(Rrq("a.bin"));
  SendToServer(Rrq("a.bin"), &other);
  const auto mine = Receive();
  const quint16 myPort = transferPort_;
  ASSERT_TRUE(mine);
  ASSERT_TRUE(WaitPumpingUntil([&] { return other.hasPendingDatagrams(); }, 2000));
  const QNetworkDatagram theirs = other.receiveDatagram();
  EXPECT_NE(theirs.senderPort(), myPort);
  // `other` acknowledging on my transfer's port is refused and changes nothing.
  other.writeDatagram(Ack(1), QHostAddress::LocalHost, myPort);
  ASSERT_TRUE(WaitPumpingUntil([&] { return other.hasPendingDatagrams(); }, 2000));
  const QByteArray refusal = other.receiveDatagram().data();
  EXPECT_TRUE(refusal.startsWith(Bytes("\0\5\0\5")));
  EXPECT_FALSE(client_.hasPendingDatagrams());
  SendToTransfer(Ack(1));
  const auto next = Receive();
  ASSERT_TRUE(next);
  EXPECT_EQ(BlockOf(*next), 2);
}

TEST_F(TftpRawTest, FirstBlockThatCannotBeSentIsAFailureNotACompletion) {
  const QString path = Put("small.bin", RandomBytes(100, 11));
  auto* socket = new TftpDatagramSocket;
  ASSERT_TRUE(socket->Bind(QHostAddress::LocalHost, 0));
  // Nothing can be sent to port 0, so block 1, which is also the last
  // block, never leaves.
  auto* transfer =
      new TftpTransfer(server_.get(), 0, socket, path, QHostAddress::LocalHost, 0, {}, 0, 300);
  transfer->Begin();
  EXPECT_TRUE(transfer->Ended());
  EXPECT_FALSE(transfer->Completed());
  EXPECT_TRUE(completions_.isEmpty());
  EXPECT_EQ(CountEvents(kTftpEventTransferComplete), 0);
  EXPECT_EQ(CountEvents(kTftpEventClientLost), 1);
  EXPECT_TRUE(LogHas("found while sending file to client."));
  EXPECT_TRUE(LogHas("Transfer aborted."));
}

TEST_F(TftpRawTest, StartOnABusyPortFailsWithTheLogLine) {
  QUdpSocket squatter;
  ASSERT_TRUE(squatter.bind(QHostAddress::LocalHost, port_));
  EXPECT_EQ(server_->Start(), -1);
  EXPECT_FALSE(server_->IsRunning());
  EXPECT_TRUE(LogHas("Unable to start server. Error = 0x00002740."));
}

}  // namespace
}  // namespace fwl::test
