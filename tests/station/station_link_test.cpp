// The station link against a scripted peer on a real UDP socket: the bytes of
// each request, replies that must be ignored, retries, sequence numbers, the
// refusals that send nothing and the no-device mode.
#include "station/station_link.h"

#include <gtest/gtest.h>

#include <QNetworkDatagram>
#include <QUdpSocket>
#include <functional>
#include <memory>

#include "platform/wait_pumping.h"
#include "station/station_record.h"
#include "station/station_transport.h"
#include "support/scripted_ui.h"
#include "support/test_util.h"

namespace fwl::test {
namespace {

QByteArray Hex(const char* text) { return QByteArray::fromHex(text); }

// A reply datagram to `request`: function code, the request's sequence
// number (or `sequence`), station numbers swapped, `data`.
QByteArray ReplyTo(const QByteArray& request, const QByteArray& data, int function = 1,
                   int sequence = -1) {
  QByteArray reply(28, '\0');
  reply[0] = request[0];
  reply[1] = char(0x80);
  reply[2] = request[6];
  reply[3] = request[7];
  reply[6] = request[2];
  reply[7] = request[3];
  reply[8] = char(function >> 8);
  reply[9] = char(function);
  reply[10] = char((28 + data.size()) >> 8);
  reply[11] = char(28 + data.size());
  reply[24] = sequence < 0 ? request[24] : char(sequence);
  reply[26] = char(data.size() >> 8);
  reply[27] = char(data.size());
  return reply + data;
}

// A station stand-in: records every datagram and answers through `respond`
// (which returns the datagrams to send back; none for silence).
class Peer {
 public:
  Peer() {
    EXPECT_TRUE(socket.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0));
    QObject::connect(&socket, &QUdpSocket::readyRead, [this] {
      while (socket.hasPendingDatagrams()) {
        const QNetworkDatagram d = socket.receiveDatagram();
        received.append(d.data());
        senderPort = d.senderPort();
        if (!respond) continue;
        for (const QByteArray& reply : respond(d.data())) {
          socket.writeDatagram(reply, d.senderAddress(), d.senderPort());
        }
      }
    });
  }
  quint16 Port() const { return socket.localPort(); }

  QUdpSocket socket;
  QList<QByteArray> received;
  quint16 senderPort = 0;
  std::function<QList<QByteArray>(const QByteArray&)> respond;
};

class StationLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    link.SetDevice(QStringLiteral("Ethernet"));
    link.SetUseAlternateAddress(false);
    link.SetAddress(QStringLiteral(" 127.0.0.1 "));
    link.SetProtocol(QStringLiteral("LNK"));
    link.SetFormatFlags(false, false);
    link.SetUseLibrary(true);
    link.SetTimeout(0.2f);
    link.SetRetries(2);
    link.SetStationPort(peer.Port());
    ASSERT_TRUE(link.Open());
  }
  // Answers every request positively with `data`.
  void AnswerWith(const QByteArray& data) {
    peer.respond = [data](const QByteArray& r) { return QList<QByteArray>{ReplyTo(r, data)}; };
  }

  ScriptedUi ui;
  ScopedUi scoped{&ui};
  Peer peer;
  StationLink link;
};

TEST_F(StationLinkTest, CommandRequestIsLaidOutByteForByte) {
  QByteArray text("\0\x05hello", 7);
  AnswerWith(text);
  link.SetSequenceNumber(0x41);
  QString reply;
  int status = -1;
  ASSERT_TRUE(link.RunStationCommand(0, QStringLiteral("cat /proc/mtd"), &reply, &status));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(reply, QStringLiteral("hello"));
  ASSERT_EQ(peer.received.size(), 1);
  const QByteArray data = QByteArray("\x1E\x01\x00", 3) + "cat /proc/mtd" + QByteArray(1, '\0');
  const QByteArray expected = Hex("03 80 6030 0000 603F 6010") + QByteArray(1, char(0)) +
                              char(28 + data.size()) + QByteArray(12, '\0') + Hex("41 00") +
                              QByteArray(1, '\0') + char(data.size()) + data;
  EXPECT_EQ(peer.received[0].toHex(' '), expected.toHex(' '));
  EXPECT_EQ(link.SequenceNumber(), 0x42);
}

TEST_F(StationLinkTest, ServiceRequestsCarryTheirData) {
  peer.respond = [](const QByteArray& r) {
    const quint8 service = quint8(r[28]);
    if (r[9] == 0x1A && service == 0x03) return QList<QByteArray>{ReplyTo(r, Hex("00 00000107"))};
    if (r[9] == 0x1A && service == 0x02) {
      return QList<QByteArray>{ReplyTo(r, Hex("00000107 00 00000000 0003"))};
    }
    if (r[9] == 0x1A && service == 0x00) return QList<QByteArray>{ReplyTo(r, Hex("00 00000001"))};
    return QList<QByteArray>{ReplyTo(r, Hex("00"))};
  };
  int status = -1;
  uint32_t handle = 0;
  ASSERT_TRUE(link.CreateStationFile(3, 0, QStringLiteral("/tmp/f"), &status, &handle));
  EXPECT_EQ(handle, 0x107u);
  StationWriteResult result;
  ASSERT_TRUE(link.WriteStationBlock(handle, 0, "abc", 3, &result));
  EXPECT_EQ(result.countWritten, 3);
  ASSERT_TRUE(link.DeleteStationFile(QStringLiteral("/tmp/f")));
  ASSERT_TRUE(link.ResetStation(0xFFFFFFFF, 1));
  uint8_t four[4] = {9, 9, 9, 9};
  ASSERT_TRUE(link.QueryStation(four));
  EXPECT_EQ(four[0], 0);
  EXPECT_EQ(four[1], 0);  // missing bytes read as 0

  ASSERT_EQ(peer.received.size(), 6);
  auto dataOf = [this](int i) { return peer.received[i].mid(28).toHex(' '); };
  auto function = [this](int i) { return peer.received[i].mid(8, 2).toHex(); };
  EXPECT_EQ(function(0), "001a");
  EXPECT_EQ(dataOf(0), (Hex("03 03 00000000") + "/tmp/f" + QByteArray(1, '\0')).toHex(' '));
  EXPECT_EQ(dataOf(1), (Hex("02 00000107 00000000 0003") + "abc").toHex(' '));
  EXPECT_EQ(dataOf(2), (Hex("00 00") + "/tmp/f" + QByteArray(1, '\0')).toHex(' '));
  EXPECT_EQ(dataOf(3), (Hex("04 00") + "/tmp/f" + QByteArray(1, '\0')).toHex(' '));
  EXPECT_EQ(function(4), "6010");
  EXPECT_EQ(dataOf(4), Hex("1A FFFFFFFF 01").toHex(' '));
  EXPECT_EQ(function(5), "0003");
  EXPECT_EQ(dataOf(5), Hex("00 FE 01 00").toHex(' '));
  // One sequence number per transaction, in order.
  for (int i = 0; i < 6; ++i) EXPECT_EQ(quint8(peer.received[i][24]), i);
}

TEST_F(StationLinkTest, SilentStationGetsThreeSendsWithRetriesTwo) {
  QString reply;
  int status = -1;
  EXPECT_FALSE(link.RunStationCommand(0, QStringLiteral("ls"), &reply, &status));
  ASSERT_EQ(peer.received.size(), 3);
  EXPECT_EQ(peer.received[1], peer.received[0]);
  EXPECT_EQ(peer.received[2], peer.received[0]);
  EXPECT_EQ(link.SequenceNumber(), 1);

  // Per-request retries and the restored setting.
  peer.received.clear();
  EXPECT_FALSE(link.RunStationCommand(0, QStringLiteral("ls"), &reply, &status, -1, 0));
  EXPECT_EQ(peer.received.size(), 1);
  EXPECT_EQ(link.Retries(), 2);
  EXPECT_FLOAT_EQ(link.Timeout(), 0.2f);
}

TEST_F(StationLinkTest, RepliesThatDoNotFitAreIgnored) {
  // Wrong sequence number, malformed datagrams and a reply from another
  // port come first; only the last, proper reply is taken.
  QUdpSocket stranger;
  ASSERT_TRUE(stranger.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0));
  peer.respond = [this, &stranger](const QByteArray& r) {
    const QByteArray good = ReplyTo(r, Hex("00 02 6f6b"));
    QByteArray badMarker = good;
    badMarker[1] = 0;
    QByteArray badLength = good;
    badLength[27] = char(9);
    stranger.writeDatagram(ReplyTo(r, Hex("00 02 6e6f")), QHostAddress::LocalHost, peer.senderPort);
    return QList<QByteArray>{ReplyTo(r, Hex("00 02 6e6f"), 1, quint8(r[24]) + 1),
                             good.left(27),
                             badMarker,
                             badLength,
                             good + "x",
                             good};
  };
  QString reply;
  int status = -1;
  ASSERT_TRUE(link.RunStationCommand(0, QStringLiteral("x"), &reply, &status));
  EXPECT_EQ(reply, QStringLiteral("ok"));
  EXPECT_EQ(peer.received.size(), 1);

  // Only a wrong sequence number: the wait goes on to the time-out.
  peer.received.clear();
  peer.respond = [](const QByteArray& r) {
    return QList<QByteArray>{ReplyTo(r, Hex("00 00"), 1, quint8(r[24]) ^ 0x80)};
  };
  EXPECT_FALSE(link.RunStationCommand(0, QStringLiteral("x"), &reply, &status));
  EXPECT_EQ(peer.received.size(), 3);
}

TEST_F(StationLinkTest, NegativeRepliesAndStatusesFailTheServices) {
  peer.respond = [](const QByteArray& r) { return QList<QByteArray>{ReplyTo(r, Hex("00"), 2)}; };
  QString reply;
  int status = -1;
  EXPECT_FALSE(link.RunStationCommand(0, QStringLiteral("x"), &reply, &status));
  EXPECT_TRUE(link.QueryStation(nullptr));  // any answer counts for a poll

  AnswerWith(Hex("05"));
  EXPECT_TRUE(link.RunStationCommand(0, QStringLiteral("x"), &reply, &status));
  EXPECT_EQ(status, 5);
  uint32_t handle = 77;
  EXPECT_TRUE(link.CreateStationFile(3, 0, QStringLiteral("/a"), &status, &handle));
  EXPECT_EQ(handle, 77u);  // delivered only for status 0

  // A create answered with status 0 but no handle is a broken reply.
  AnswerWith(Hex("00 0001"));
  EXPECT_FALSE(link.CreateStationFile(3, 0, QStringLiteral("/a"), &status, &handle));

  // Short write: fewer bytes written than sent; the fields still arrive.
  AnswerWith(Hex("00000001 00 00000000 0002"));
  StationWriteResult result;
  EXPECT_FALSE(link.WriteStationBlock(1, 0, "abc", 3, &result));
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.countWritten, 2);

  // Delete: a file that cannot be opened is gone already (one request).
  peer.received.clear();
  AnswerWith(Hex("02"));
  EXPECT_TRUE(link.DeleteStationFile(QStringLiteral("/tmp/x")));
  EXPECT_EQ(peer.received.size(), 1);
}

TEST_F(StationLinkTest, CommandReplyTextIsBoundedByWhatArrived) {
  // Zero bytes are left out; a length beyond the data reads only the data.
  AnswerWith(
      QByteArray("\0\x06"
                 "a\0b",
                 5));
  QString reply;
  int status = -1;
  ASSERT_TRUE(link.RunStationCommand(0, QStringLiteral("x"), &reply, &status));
  EXPECT_EQ(reply, QStringLiteral("ab"));
  AnswerWith(QByteArray());  // positive but empty: no status byte
  EXPECT_FALSE(link.RunStationCommand(0, QStringLiteral("x"), &reply, &status));
}

TEST_F(StationLinkTest, OverlongArgumentsAreRefusedWithoutTraffic) {
  AnswerWith(Hex("00 00"));
  QString reply;
  int status = -1;
  EXPECT_FALSE(link.RunStationCommand(0, QString(241, QLatin1Char('x')), &reply, &status));
  EXPECT_FALSE(link.CreateStationFile(3, 0, QString(52, QLatin1Char('p')), &status, nullptr));
  EXPECT_FALSE(link.DeleteStationFile(QString(52, QLatin1Char('p'))));
  const QByteArray block(231, 'b');
  EXPECT_FALSE(link.WriteStationBlock(1, 0, block.constData(), 231, nullptr));
  EXPECT_FALSE(link.WriteStationBlock(1, 0, block.constData(), -1, nullptr));
  EXPECT_TRUE(peer.received.isEmpty());
  EXPECT_EQ(link.SequenceNumber(), 0);

  // The limits themselves pass.
  EXPECT_TRUE(link.RunStationCommand(0, QString(240, QLatin1Char('x')), &reply, &status));
  AnswerWith(Hex("00000001 00 00000000 00E6"));
  EXPECT_TRUE(link.WriteStationBlock(1, 0, block.constData(), 230, nullptr));
  EXPECT_EQ(peer.received.size(), 2);
}

TEST_F(StationLinkTest, LongWriteFlagSetsTheTopBitOfTheCount) {
  AnswerWith(Hex("00000001 00 00000000 0001"));
  EXPECT_TRUE(link.WriteStationBlock(1, 0, "z", 1, nullptr, kWriteBlockFlagLong));
  ASSERT_EQ(peer.received.size(), 1);
  EXPECT_EQ(peer.received[0].mid(28 + 9, 2).toHex(), "8001");
  EXPECT_FLOAT_EQ(link.Timeout(), 0.2f);
}

TEST_F(StationLinkTest, SequenceNumberWrapsAndSurvivesReopen) {
  AnswerWith(Hex("00 00"));
  link.SetSequenceNumber(255);
  QString reply;
  int status = -1;
  ASSERT_TRUE(link.RunStationCommand(0, QStringLiteral("a"), &reply, &status));
  EXPECT_EQ(link.SequenceNumber(), 0);
  EXPECT_TRUE(link.Close());
  EXPECT_FALSE(link.Close());
  EXPECT_EQ(link.Handle(), -1);
  ASSERT_TRUE(link.Open());
  ASSERT_TRUE(link.RunStationCommand(0, QStringLiteral("b"), &reply, &status));
  ASSERT_EQ(peer.received.size(), 2);
  EXPECT_EQ(quint8(peer.received[0][24]), 255);
  EXPECT_EQ(quint8(peer.received[1][24]), 0);
  EXPECT_EQ(link.SequenceNumber(), 1);
}

TEST_F(StationLinkTest, ClosedLinkShowsTheInternalErrorAndSendsNothing) {
  link.Close();
  QString reply;
  int status = -1;
  EXPECT_FALSE(link.RunStationCommand(0, QStringLiteral("a"), &reply, &status));
  EXPECT_EQ(ui.messageTexts(),
            QStringList{"Internal Error: Communications device is not currently open!"});
  EXPECT_EQ(link.SequenceNumber(), 0);
  EXPECT_TRUE(peer.received.isEmpty());
}

TEST_F(StationLinkTest, DataTooLargeForADatagramIsAnInternalError) {
  EXPECT_FALSE(link.Send(kFunctionSystemServices, QByteArray(1025, 'x')));
  EXPECT_EQ(ui.messageTexts(),
            QStringList{"Internal Error: Generated invalid Lanwick Driver message!"});
  EXPECT_TRUE(peer.received.isEmpty());
}

TEST(StationLinkRestart, StationThatWasNotListeningIsHeardOnceItIs) {
  // While a station restarts nothing may listen on its port; the refusals
  // that come back must not spoil the link for the polls that follow.
  const quint16 port = FreeUdpPort();
  StationLink link;
  link.SetDevice(QStringLiteral("Ethernet"));
  link.SetUseAlternateAddress(false);
  link.SetAddress(QStringLiteral("127.0.0.1"));
  link.SetUseLibrary(true);
  link.SetTimeout(0.1f);
  link.SetRetries(0);
  link.SetNoCapture(true);
  link.SetStationPort(port);
  ASSERT_TRUE(link.Open());
  EXPECT_FALSE(link.QueryStation(nullptr));
  EXPECT_FALSE(link.QueryStation(nullptr));
  QUdpSocket station;
  ASSERT_TRUE(station.bind(QHostAddress(QStringLiteral("127.0.0.1")), port));
  QObject::connect(&station, &QUdpSocket::readyRead, [&station] {
    while (station.hasPendingDatagrams()) {
      const QNetworkDatagram d = station.receiveDatagram();
      station.writeDatagram(ReplyTo(d.data(), Hex("00000001")), d.senderAddress(), d.senderPort());
    }
  });
  EXPECT_TRUE(link.QueryStation(nullptr));
}

TEST(StationLinkSettings, OpenRulesAndFormatCodes) {
  StationLink link;
  EXPECT_EQ(link.Device(), QStringLiteral("COM1"));
  EXPECT_EQ(link.Timeout(), 3.0f);
  EXPECT_EQ(link.Retries(), 2);
  EXPECT_EQ(link.FormatCode(), 3);
  link.SetProtocol(QStringLiteral("LNK"));  // not "Ethernet": flag B
  EXPECT_EQ(link.FormatCode(), 2);
  link.SetFormatFlags(true, true);
  EXPECT_EQ(link.FormatCode(), 1);

  link.SetUseLibrary(true);
  link.SetDevice(QStringLiteral("Ethernet"));
  link.SetUseAlternateAddress(false);
  link.SetAddress(QString());
  EXPECT_FALSE(link.Open());  // address 0
  link.SetAddress(QStringLiteral("127.0.0.9"));
  link.SetDestination(false, -1);
  link.SetConfiguredStation(0x4000);
  EXPECT_FALSE(link.Open());  // configured station out of range
  link.SetConfiguredStation(0x3FFF);
  ASSERT_TRUE(link.Open());
  EXPECT_EQ(link.DestinationStation(), 0x3FFF);
  EXPECT_EQ(link.AddressText(), QStringLiteral("127.0.0.9"));
  link.Close();
  link.SetUseAlternateAddress(true);  // the alternate is still 10.1.0.1
  ASSERT_TRUE(link.Open());
  EXPECT_EQ(link.AddressText(), QStringLiteral("10.1.0.1"));
  link.Close();
}

// Another transport behind the same four calls: answers every frame at once.
class LoopTransport final : public StationTransport {
 public:
  int OpenConnection(const QString&) override { return open = 7; }
  bool CloseConnection(int) override { return open >= 0 && (open = -1, true); }
  bool IsOpen() const override { return open >= 0; }
  void WriteMessage(const StationRecord& record, const QString& address) override {
    frames << record.Frame();
    addresses << address;
    StationRecord reply;
    ASSERT_TRUE(ParseStationDatagram(ReplyTo(record.Frame(), Hex("00 02 6869")), reply));
    replies << reply;
    QMetaObject::invokeMethod(
        this, [this] { emit MessageArrived(); }, Qt::QueuedConnection);
  }
  bool ReadMessage(StationRecord& record) override {
    if (replies.isEmpty()) return false;
    record = replies.takeFirst();
    return true;
  }
  int open = -1;
  QList<QByteArray> frames;
  QStringList addresses;
  QList<StationRecord> replies;
};

TEST(StationLinkTransport, AnotherTransportCanTakeItsPlace) {
  StationLink link;
  auto owned = std::make_unique<LoopTransport>();
  LoopTransport* transport = owned.get();
  link.SetTransport(std::move(owned));
  link.SetDevice(QStringLiteral("Ethernet"));
  link.SetUseAlternateAddress(false);
  link.SetAddress(QStringLiteral("10.9.8.7"));
  link.SetUseLibrary(true);
  ASSERT_TRUE(link.Open());
  EXPECT_EQ(link.Handle(), 7);
  QString reply;
  int status = -1;
  ASSERT_TRUE(link.RunStationCommand(0, QStringLiteral("id"), &reply, &status));
  EXPECT_EQ(reply, QStringLiteral("hi"));
  ASSERT_EQ(transport->frames.size(), 1);
  EXPECT_EQ(transport->frames[0].mid(4, 2).toHex(), "0007");  // the handle goes into the frame
  EXPECT_EQ(transport->addresses, QStringList{"10.9.8.7"});
  EXPECT_TRUE(link.Close());
}

TEST(StationLinkNullDevice, EverythingSucceedsWithoutTraffic) {
  Peer peer;
  StationLink link;
  link.SetDevice(QStringLiteral("null-device"));
  link.SetUseLibrary(true);
  link.SetStationPort(peer.Port());
  ASSERT_TRUE(link.Open());
  QString reply = QStringLiteral("old");
  int status = -1;
  EXPECT_TRUE(link.Send(kFunctionPoll, QByteArray(4, '\0')));
  EXPECT_TRUE(link.RunStationCommand(0, QStringLiteral("cat /proc/mtd"), &reply, &status));
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(reply.isEmpty());
  uint32_t handle = 1;
  EXPECT_TRUE(link.CreateStationFile(3, 0, QStringLiteral("/tmp/a"), &status, &handle));
  EXPECT_TRUE(link.WriteStationBlock(handle, 0, "abc", 3, nullptr));
  EXPECT_TRUE(link.DeleteStationFile(QStringLiteral("/tmp/a")));
  EXPECT_TRUE(link.ResetStation(0, 1));
  EXPECT_TRUE(link.QueryStation(nullptr));
  WaitPumping(50);
  EXPECT_TRUE(peer.received.isEmpty());
  EXPECT_TRUE(link.Close());
}

TEST(StationDatagram, HostileDatagramsAreRefused) {
  StationRecord record;
  QByteArray good(28, '\0');
  good[1] = char(0x80);
  EXPECT_TRUE(ParseStationDatagram(good, record));
  EXPECT_FALSE(ParseStationDatagram(good.left(27), record));
  QByteArray data = good + QByteArray(1024, 'd');
  data[26] = char(0x04);
  data[27] = char(0x00);
  EXPECT_TRUE(ParseStationDatagram(data, record));
  EXPECT_EQ(record.Data().size(), 1024);
  QByteArray tooLong = good + QByteArray(1025, 'd');
  tooLong[26] = char(0x04);
  tooLong[27] = char(0x01);
  EXPECT_FALSE(ParseStationDatagram(tooLong, record));
  QByteArray lying = good + "ab";
  lying[27] = char(0xFF);
  lying[26] = char(0xFF);
  EXPECT_FALSE(ParseStationDatagram(lying, record));
  EXPECT_FALSE(ParseStationDatagram(QByteArray(), record));

  // A data part too large for one datagram cannot be built.
  StationRecord request;
  UdpStationTransport transport;
  EXPECT_FALSE(transport.BuildMessage(request, QByteArray(1025, 'x')));
  EXPECT_TRUE(transport.BuildMessage(request, QByteArray(3, 'x')));
  EXPECT_EQ(request.FrameLength(), 31);
}

}  // namespace
}  // namespace fwl::test
