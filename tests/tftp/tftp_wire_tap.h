// A TFTP relay between a real client and the server under test that counts
// what actually crosses the wire: the OACK, every DATA packet's payload size
// and the ACKs. The client talks to the tap as to a server (own listen port,
// own transfer port); the tap forwards both ways. One transfer at a time.
#pragma once

#include <QHostAddress>
#include <QNetworkDatagram>
#include <QObject>
#include <QUdpSocket>
#include <map>
#include <memory>

namespace fwl::test {

class TftpWireTap : public QObject {
 public:
  explicit TftpWireTap(quint16 serverPort) : serverPort_(serverPort) {
    front_.bind(QHostAddress::LocalHost, 0);
    connect(&front_, &QUdpSocket::readyRead, this, [this] { OnRequest(); });
  }

  quint16 Port() const { return front_.localPort(); }

  // Counts of the last transfer.
  QByteArray oack;
  std::map<int, int> dataPayloads;  // payload size -> packets
  int dataPackets = 0;
  int acks = 0;

  int LargestPayload() const { return dataPayloads.empty() ? -1 : dataPayloads.rbegin()->first; }

 private:
  struct Leg {
    QUdpSocket toServer;  // the client as the server sees it
    QUdpSocket toClient;  // the transfer port as the client sees it
    QHostAddress client;
    quint16 clientPort = 0;
    quint16 transferPort = 0;
  };

  void OnRequest() {
    while (front_.hasPendingDatagrams()) {
      const QNetworkDatagram request = front_.receiveDatagram();
      // A new request is a new transfer.
      leg_ = std::make_unique<Leg>();
      oack.clear();
      dataPayloads.clear();
      dataPackets = acks = 0;
      leg_->client = request.senderAddress();
      leg_->clientPort = static_cast<quint16>(request.senderPort());
      leg_->toServer.bind(QHostAddress::LocalHost, 0);
      leg_->toClient.bind(QHostAddress::LocalHost, 0);
      Leg* leg = leg_.get();
      connect(&leg->toServer, &QUdpSocket::readyRead, this, [this, leg] { FromServer(leg); });
      connect(&leg->toClient, &QUdpSocket::readyRead, this, [this, leg] { FromClient(leg); });
      leg->toServer.writeDatagram(request.data(), QHostAddress::LocalHost, serverPort_);
    }
  }

  void FromServer(Leg* leg) {
    while (leg->toServer.hasPendingDatagrams()) {
      const QNetworkDatagram d = leg->toServer.receiveDatagram();
      leg->transferPort = static_cast<quint16>(d.senderPort());
      const QByteArray packet = d.data();
      if (packet.size() >= 4 && packet[0] == 0 && packet[1] == 3) {
        ++dataPackets;
        ++dataPayloads[static_cast<int>(packet.size()) - 4];
      } else if (packet.size() >= 2 && packet[0] == 0 && packet[1] == 6) {
        oack = packet;
      }
      leg->toClient.writeDatagram(packet, leg->client, leg->clientPort);
    }
  }

  void FromClient(Leg* leg) {
    while (leg->toClient.hasPendingDatagrams()) {
      const QByteArray packet = leg->toClient.receiveDatagram().data();
      if (packet.size() >= 2 && packet[0] == 0 && packet[1] == 4) ++acks;
      if (leg->transferPort) {
        leg->toServer.writeDatagram(packet, QHostAddress::LocalHost, leg->transferPort);
      }
    }
  }

  quint16 serverPort_;
  QUdpSocket front_;
  std::unique_ptr<Leg> leg_;
};

}  // namespace fwl::test
