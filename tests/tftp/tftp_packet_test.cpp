// Request parsing, option negotiation and the send window on their own:
// hostile and odd inputs that are hard to provoke through a real client.
#include "tftp/tftp_packet.h"

#include <gtest/gtest.h>

#include "tftp/tftp_rtt_estimator.h"
#include "tftp/tftp_send_pacer.h"
#include "tftp/tftp_send_window.h"

namespace fwl::tftp {
namespace {

template <size_t N>
QByteArray Bytes(const char (&text)[N]) {
  return QByteArray(text, N - 1);
}

TEST(TftpPacketTest, RequestParsingTakesOnlyWellFormedRequests) {
  EXPECT_FALSE(ParseRequest(QByteArray()));
  EXPECT_FALSE(ParseRequest(Bytes("\0")));
  EXPECT_FALSE(ParseRequest(Bytes("\0\1")));
  EXPECT_FALSE(ParseRequest(Bytes("\0\1name-without-nul")));
  EXPECT_FALSE(ParseRequest(Bytes("\1\1a\0octet\0")));
  for (char op : {3, 4, 5, 6, 7, 0}) {
    QByteArray p = Bytes("\0?a\0octet\0");
    p[1] = op;
    EXPECT_FALSE(ParseRequest(p)) << int(op);
  }

  const auto plain =
      ParseRequest(Bytes("\0\1dir\\a.bin\0octet\0blksize\0"
                         "1468\0tsize"));
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->opcode, kOpRrq);
  EXPECT_EQ(plain->fileName, "dir\\a.bin");
  EXPECT_EQ(plain->mode, "octet");
  // The unterminated last string is dropped.
  EXPECT_EQ(plain->options, QStringList({"blksize", "1468"}));

  const auto noMode = ParseRequest(Bytes("\0\2x\0mode-cut"));
  ASSERT_TRUE(noMode);
  EXPECT_EQ(noMode->opcode, kOpWrq);
  EXPECT_TRUE(noMode->mode.isEmpty());

  // Only the first 1024 bytes count: an option cut there is dropped.
  QByteArray longRequest = Bytes("\0\1f\0octet\0");
  while (longRequest.size() < 1020) longRequest.append("opt\0", 4);
  longRequest.append("cutoffvalue\0", 12);
  const auto cut = ParseRequest(longRequest);
  ASSERT_TRUE(cut);
  EXPECT_FALSE(cut->options.contains("cutoffvalue"));
}

TEST(TftpPacketTest, AckAndErrorRecognition) {
  EXPECT_EQ(ParseAck(Bytes("\0\4\xff\xfe")), std::optional<uint16_t>(0xfffe));
  EXPECT_EQ(ParseAck(Bytes("\0\4\0\1trailing")), std::optional<uint16_t>(1));
  EXPECT_FALSE(ParseAck(Bytes("\0\4\0")));
  EXPECT_FALSE(ParseAck(Bytes("\0\3\0\1")));
  EXPECT_TRUE(IsError(Bytes("\0\5")));
  EXPECT_FALSE(IsError(Bytes("\0")));
  EXPECT_EQ(MakeError(1, "gone"), Bytes("\0\5\0\1gone\0"));
  EXPECT_EQ(MakeData(65536 + 3, "ab", 2), Bytes("\0\3\0\3ab"));  // low 16 bits on the wire
}

TEST(TftpPacketTest, DecimalReadingIsAtoiLikeAndSaturates) {
  EXPECT_EQ(ReadDecimal("1468"), 1468);
  EXPECT_EQ(ReadDecimal(" 12abc"), 12);
  EXPECT_EQ(ReadDecimal("-5"), -5);
  EXPECT_EQ(ReadDecimal("abc"), 0);
  EXPECT_EQ(ReadDecimal(""), 0);
  EXPECT_GT(ReadDecimal(QString(500, '9')), 1000000000000LL);
}

QString Value(const Negotiation& n, const QString& name) {
  for (const auto& [key, value] : n.acknowledged) {
    if (key == name) return value;
  }
  return "<absent>";
}

TEST(TftpPacketTest, BlockSizeIsGrantedNeverAboveTheRequestUpTo8192) {
  struct Case {
    const char* asked;
    int size;
    const char* echoed;
  } cases[] = {
      {"1468", 1468, "1468"},  {"8192", 8192, "8192"}, {"8193", 8192, "8192"},
      {"65464", 8192, "8192"}, {"0", 512, "512"},      {"nonsense", 512, "512"},
      {"-3", 512, "512"},      {"0100", 100, "100"},   {"99999999999999999999", 8192, "8192"}};
  for (const Case& c : cases) {
    const Negotiation n = NegotiateOptions({"blksize", c.asked}, 10);
    EXPECT_EQ(n.blockSize, c.size) << c.asked;
    EXPECT_EQ(Value(n, "blksize"), c.echoed) << c.asked;
  }
}

TEST(TftpPacketTest, OtherOptionsFollowTheirRules) {
  // tsize carries the real size whatever was asked; names are case-blind and
  // a later pair replaces an earlier one.
  Negotiation n = NegotiateOptions({"TSIZE", "0", "tsize", "77", "Vendor", "x"}, 123456);
  EXPECT_EQ(n.acknowledged.size(), 2u);
  EXPECT_EQ(Value(n, "tsize"), "123456");
  EXPECT_EQ(Value(n, "vendor"), "x");

  n = NegotiateOptions({"windowsize", "16"}, 1);
  EXPECT_EQ(n.windowSize, 16);
  EXPECT_EQ(Value(n, "windowsize"), "16");
  n = NegotiateOptions({"windowsize", "1000"}, 1);
  EXPECT_EQ(n.windowSize, 64);
  EXPECT_EQ(Value(n, "windowsize"), "64");
  // A window of large blocks is held to 64 KiB in flight, whatever the order.
  n = NegotiateOptions({"windowsize", "16", "blksize", "8192"}, 1);
  EXPECT_EQ(n.windowSize, 8);
  EXPECT_EQ(Value(n, "windowsize"), "8");
  n = NegotiateOptions({"blksize", "1468", "windowsize", "64"}, 1);
  EXPECT_EQ(n.windowSize, 44);
  for (const char* bad : {"0", "65536", "x"}) {
    n = NegotiateOptions({"windowsize", bad}, 1);
    EXPECT_EQ(n.windowSize, 1);
    EXPECT_TRUE(n.acknowledged.empty()) << bad;
  }

  n = NegotiateOptions({"timeout", "255"}, 1);
  EXPECT_EQ(n.timeoutSeconds, 255);
  EXPECT_EQ(Value(n, "timeout"), "255");
  for (const char* bad : {"0", "256", "soon"}) {
    EXPECT_TRUE(NegotiateOptions({"timeout", bad}, 1).acknowledged.empty()) << bad;
  }

  // Unknown options never push the OACK past 512 bytes; known ones stay.
  QStringList many = {"blksize", "1024"};
  for (int i = 0; i < 40; ++i) many << QString("name%1").arg(i) << QString(20, 'v');
  n = NegotiateOptions(many, 1);
  EXPECT_LE(MakeOack(n.acknowledged).size(), kMaxOackSize);
  EXPECT_EQ(n.acknowledged.front().first, "blksize");
  EXPECT_EQ(n.blockSize, 1024);
}

TEST(TftpPacketTest, BareFileNameDropsDriveAndFolders) {
  EXPECT_EQ(BareFileName("..\\dir\\image.bin"), "image.bin");
  EXPECT_EQ(BareFileName("c:image.bin"), "image.bin");
  EXPECT_EQ(BareFileName("C:\\x/y\\image.bin"), "image.bin");
  EXPECT_EQ(BareFileName("/etc/passwd"), "passwd");
  EXPECT_EQ(BareFileName("plain"), "plain");
  EXPECT_EQ(BareFileName("dir/"), "");
}

TEST(TftpSendWindowTest, LockStepAcrossTheBlockNumberWrap) {
  SendWindow w;
  const int64_t last = 70000;
  w.Reset(last, 1, false);
  SendWindow::Action a = w.Begin();
  EXPECT_EQ(a.first, 1);
  EXPECT_EQ(a.last, 1);
  for (int64_t b = 1; b < last; ++b) {
    a = w.OnAck(static_cast<uint16_t>(b & 0xFFFF));
    ASSERT_EQ(a.step, SendWindow::Step::kSendBlocks) << b;
    ASSERT_EQ(a.first, b + 1);
  }
  // A stale ACK (block 65536 + 5 - 65536 = 5 on the wire) resends the current block.
  a = w.OnAck(5);
  EXPECT_EQ(a.first, last);
  EXPECT_EQ(w.OnAck(static_cast<uint16_t>(last & 0xFFFF)).step, SendWindow::Step::kComplete);
  EXPECT_TRUE(w.Completed());
  EXPECT_EQ(w.OnAck(0).step, SendWindow::Step::kNothing);
}

TEST(TftpSendWindowTest, OackMustBeAcknowledgedFirst) {
  SendWindow w;
  w.Reset(3, 2, true);
  EXPECT_EQ(w.Begin().step, SendWindow::Step::kSendOack);
  EXPECT_EQ(w.OnTimeout().step, SendWindow::Step::kSendOack);
  EXPECT_EQ(w.OnAck(7).step, SendWindow::Step::kSendOack);
  EXPECT_FALSE(w.LastBlockSent());
  const SendWindow::Action a = w.OnAck(0);
  EXPECT_EQ(a.first, 1);
  EXPECT_EQ(a.last, 2);
  EXPECT_EQ(w.OnAck(2).last, 3);
  EXPECT_TRUE(w.LastBlockSent());
  EXPECT_EQ(w.OnAck(3).step, SendWindow::Step::kComplete);
}

TEST(TftpSendWindowTest, OnlyAnAckOfSomethingNewIsFresh) {
  SendWindow w;
  w.Reset(20, 4, true);
  w.Begin();
  EXPECT_TRUE(w.OnAck(9).duplicate);  // nothing but the OACK is out
  EXPECT_FALSE(w.OnAck(0).duplicate);
  // ACK 0 again while 1..4 are out: a duplicate asking for 1..4.
  SendWindow::Action a = w.OnAck(0);
  EXPECT_TRUE(a.duplicate);
  EXPECT_EQ(a.first, 1);
  EXPECT_EQ(a.last, 4);
  // ACK 2 shows a gap: fresh, and the window starts at the first missing block.
  a = w.OnAck(2);
  EXPECT_FALSE(a.duplicate);
  EXPECT_EQ(a.first, 3);
  EXPECT_EQ(a.last, 6);
  // A late ACK 1 and a repeated ACK 2 are duplicates; they ask for 3..6.
  for (uint16_t stale : {1, 2}) {
    a = w.OnAck(stale);
    EXPECT_TRUE(a.duplicate) << stale;
    EXPECT_EQ(a.first, 3);
    EXPECT_EQ(a.last, 6);
  }
  EXPECT_EQ(w.Acknowledged(), 2);
}

// The retransmission time-out: RFC 6298 arithmetic between a 10 ms floor
// and the configured time-out, with doublings that a fresh ACK undoes.
TEST(TftpRttEstimatorTest, FollowsTheRoundTripBetweenFloorAndCeiling) {
  RttEstimator fast(3000, true);
  EXPECT_EQ(fast.TimeoutUs(), 1000000);  // nothing measured yet
  fast.AddSample(50);                    // a client on this computer: the floor as variation
  EXPECT_EQ(fast.TimeoutUs(), 50 + RttEstimator::kFloorUs);
  for (int i = 0; i < 50; ++i) fast.AddSample(20000);  // a 20 ms link
  EXPECT_NEAR(fast.SmoothedUs(), 20000, 200);
  EXPECT_NEAR(fast.TimeoutUs(), 30000, 1000);  // 20 ms + the floor as variation
  // Doublings, up to the ceiling; a fresh ACK returns to the estimate.
  const int64_t estimate = fast.TimeoutUs();
  fast.Backoff();
  EXPECT_EQ(fast.TimeoutUs(), 2 * estimate);
  for (int i = 0; i < 30; ++i) fast.Backoff();
  EXPECT_EQ(fast.TimeoutUs(), 3000000);
  fast.ResetBackoff();
  EXPECT_EQ(fast.TimeoutUs(), estimate);
  // A slow client never gets less than its round trip, nor more than the ceiling.
  RttEstimator slow(3000, true);
  slow.AddSample(400000);
  EXPECT_EQ(slow.TimeoutUs(), 1200000);  // 400 ms + 4 x 200 ms
  slow.AddSample(9000000);
  EXPECT_EQ(slow.TimeoutUs(), 3000000);
  // The ceiling is a client's "timeout" option too, or below the floor.
  RttEstimator tiny(5, true);
  tiny.AddSample(1);
  EXPECT_EQ(tiny.TimeoutUs(), 5000);
  EXPECT_EQ(RttEstimator(300, true).TimeoutUs(), 300000);
}

TEST(TftpRttEstimatorTest, NeverOutsideItsBoundsWhateverIsMeasured) {
  uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
  for (int ceilingMs : {1, 9, 300, 3000, 255000}) {
    RttEstimator e(ceilingMs, true);
    const int64_t low = std::min<int64_t>(RttEstimator::kFloorUs, ceilingMs * 1000LL);
    for (int i = 0; i < 5000; ++i) {
      const uint32_t r = next();
      if (r % 7 == 0) {
        e.Backoff();
      } else if (r % 11 == 0) {
        e.ResetBackoff();
      } else {
        e.AddSample(static_cast<int64_t>(next() % 4000000) - 1000);  // negatives are ignored
      }
      ASSERT_GE(e.TimeoutUs(), low) << ceilingMs;
      ASSERT_LE(e.TimeoutUs(), ceilingMs * 1000LL) << ceilingMs;
    }
  }
}

TEST(TftpRttEstimatorTest, FixedTimerWaitsTheIntervalButStillMeasures) {
  RttEstimator fixed(3000, false);
  fixed.AddSample(1000);
  EXPECT_EQ(fixed.TimeoutUs(), 3000000);
  fixed.Backoff();
  EXPECT_EQ(fixed.TimeoutUs(), 3000000);
  // The measured value guards against duplicate ACKs in both modes.
  EXPECT_EQ(fixed.EstimateUs(), 2 * (1000 + RttEstimator::kFloorUs));
}


// A repeated time-out resends the window and one block past it, which then
// counts as sent: its ACK moves the window on.
TEST(TftpSendWindowTest, RepeatedTimeoutLooksOneBlockPastTheWindow) {
  SendWindow w;
  w.Reset(40, 8, false);
  w.Begin();                                    // 1..8
  SendWindow::Action a = w.OnAck(8);            // 9..16
  EXPECT_EQ(w.OnTimeout().last, 16);
  a = w.OnRepeatedTimeout();
  EXPECT_EQ(a.first, 9);
  EXPECT_EQ(a.last, 17);
  a = w.OnAck(17);
  EXPECT_FALSE(a.duplicate);
  EXPECT_EQ(w.Acknowledged(), 17);
  EXPECT_EQ(a.first, 18);
  // Never past the last block.
  w.OnAck(25);
  w.OnAck(33);
  EXPECT_EQ(w.OnRepeatedTimeout().last, 40);
}

// The windowed pace: back to back until a gap, then one block per round
// trip, once per flight; whole windows after that flight speed it up again.
TEST(TftpSendPacerTest, SlowsOncePerFlightAndRecoversToBackToBack) {
  SendPacer pacer;
  EXPECT_EQ(pacer.IntervalUs(), 0);
  pacer.OnAllAcknowledged(16);  // a clean link stays back to back
  EXPECT_EQ(pacer.IntervalUs(), 0);

  pacer.OnGap(20, 36, 4000);
  EXPECT_EQ(pacer.IntervalUs(), 4000);
  // The same flight's further gaps and its early ACKs change nothing.
  pacer.OnGap(24, 36, 9000);
  pacer.OnAllAcknowledged(30);
  EXPECT_EQ(pacer.IntervalUs(), 4000);

  pacer.OnAllAcknowledged(36);
  EXPECT_EQ(pacer.IntervalUs(), 3000);
  for (int64_t acked = 52; pacer.IntervalUs() > 0 && acked < 2000; acked += 16) {
    pacer.OnAllAcknowledged(acked);
  }
  EXPECT_EQ(pacer.IntervalUs(), 0);

  // A round trip below a millisecond still spaces the blocks a millisecond.
  pacer.OnGap(3000, 3016, 200);
  EXPECT_EQ(pacer.IntervalUs(), SendPacer::kFirstIntervalUs);
}

}  // namespace
}  // namespace fwl::tftp
