// The simulated station as a peer that must not be knocked over: garbage and
// truncated requests are dropped or refused with a status, and it still
// answers the next proper request.
#include "sim/sim_station.h"

#include <gtest/gtest.h>

#include <QNetworkDatagram>
#include <QUdpSocket>

#include "platform/wait_pumping.h"
#include "support/test_util.h"

namespace fwl::test {
namespace {

QByteArray Request(int function, const QByteArray& data, int sequence) {
  QByteArray r(28, '\0');
  r[0] = 3;
  r[1] = char(0x80);
  r[8] = char(function >> 8);
  r[9] = char(function);
  r[24] = char(sequence);
  r[26] = char(data.size() >> 8);
  r[27] = char(data.size());
  return r + data;
}

TEST(SimStationPeer, SurvivesHostileRequests) {
  SimStationOptions o;
  o.stationPort = 0;
  SimStation station(o);
  ASSERT_TRUE(station.Start());
  QUdpSocket client;
  ASSERT_TRUE(client.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0));
  auto send = [&](const QByteArray& d) {
    client.writeDatagram(d, QHostAddress(QStringLiteral("127.0.0.1")), station.Port());
  };
  // Noise of every length, lying lengths, and service data cut short.
  // (Read as it comes, so the kernel's receive buffer never overflows.)
  for (int i = 0; i < 300; ++i) {
    send(RandomBytes(i * 7 % 1100, quint32(i)));
    if (i % 10 == 0) WaitPumping(1);
  }
  send(Request(0x1A, QByteArray("\x02\x00", 2), 1));          // write without its fields
  send(Request(0x1A, QByteArray("\x03\x00\x00\x00", 4), 2));  // create without a path
  send(Request(0x1A, QByteArray("\x00\x00/tmp/x", 8), 3));    // open: path not terminated
  send(Request(0x6010, QByteArray("\x1E\x01\x00ls", 5), 4));  // command not terminated
  QByteArray write("\x02\x00\x00\x01\x00\x00\x00\x00\x00\x00\x7F\xFF", 12);
  send(Request(0x1A, write, 5));  // count beyond the data
  send(Request(3, QByteArray("\x00\xFE\x01\x00", 4), 6));

  QList<QByteArray> replies;
  WaitPumpingUntil(
      [&] {
        while (client.hasPendingDatagrams()) replies << client.receiveDatagram().data();
        return replies.size() >= 6;
      },
      5000);
  ASSERT_EQ(replies.size(), 6);
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(quint8(replies[i][24]), i + 1);
    // Refused: a negative reply, or status 1 where the status stands.
    const bool negative = replies[i][9] != 1;
    const int statusAt = i == 4 ? 28 + 4 : 28;
    EXPECT_TRUE(negative || quint8(replies[i][statusAt]) == 1);
  }
  EXPECT_EQ(quint8(replies[5][24]), 6);
  EXPECT_EQ(replies[5][9], 1);
  EXPECT_TRUE(station.Files().isEmpty());
}

}  // namespace
}  // namespace fwl::test
