// A raw UDP client on 127.0.0.1 speaking to the fixture's server packet by
// packet, for tests that need exact control of what the client sends.
#pragma once

#include <QNetworkDatagram>
#include <QUdpSocket>
#include <optional>

#include "tftp/tftp_fixture.h"

namespace fwl::test {

// A byte string from a literal with embedded NULs.
template <size_t N>
QByteArray Bytes(const char (&text)[N]) {
  return QByteArray(text, N - 1);
}

inline QByteArray Rrq(const QByteArray& name, const QList<QByteArray>& options = {}, char opcode = 1) {
  QByteArray packet("\0", 1);
  packet.append(opcode).append(name).append('\0').append("octet").append('\0');
  for (const QByteArray& o : options) packet.append(o).append('\0');
  return packet;
}

inline QByteArray Ack(int block) {
  QByteArray packet("\0\4", 2);
  packet.append(static_cast<char>((block >> 8) & 0xFF)).append(static_cast<char>(block & 0xFF));
  return packet;
}

inline int BlockOf(const QByteArray& packet) {
  return (static_cast<unsigned char>(packet[2]) << 8) | static_cast<unsigned char>(packet[3]);
}

class TftpRawTest : public TftpFixture {
 protected:
  void SetUp() override {
    TftpFixture::SetUp();
    ASSERT_TRUE(client_.bind(QHostAddress::LocalHost, 0));
  }

  void SendToServer(const QByteArray& packet, QUdpSocket* from = nullptr) {
    (from ? from : &client_)->writeDatagram(packet, QHostAddress::LocalHost, port_);
  }
  void SendToTransfer(const QByteArray& packet) {
    client_.writeDatagram(packet, QHostAddress::LocalHost, transferPort_);
  }

  // Next datagram within `ms`, remembering the port it came from.
  std::optional<QByteArray> Receive(int ms = 2000, QUdpSocket* on = nullptr) {
    QUdpSocket* socket = on ? on : &client_;
    if (!WaitPumpingUntil([socket] { return socket->hasPendingDatagrams(); }, ms, 2)) {
      return std::nullopt;
    }
    const QNetworkDatagram d = socket->receiveDatagram();
    if (socket == &client_) transferPort_ = static_cast<quint16>(d.senderPort());
    lastSource_ = d.senderAddress();
    return d.data();
  }

  QUdpSocket client_;
  quint16 transferPort_ = 0;
  QHostAddress lastSource_;
};

}  // namespace fwl::test
