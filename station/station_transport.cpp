#include "station/station_transport.h"

#include <QNetworkDatagram>
#include <QUdpSocket>

namespace fwl {
namespace {

// Replies held between two reads; a flood beyond this is dropped rather than
// kept without bound.
constexpr size_t kMaxQueuedReplies = 64;
constexpr char kEthernetDevice[] = "Ethernet";

}  // namespace

bool StationTransport::BuildMessage(StationRecord& record, const QByteArray& data) {
  if (data.size() > kStationMaxData) return false;
  std::copy(data.begin(), data.end(), record.bytes.begin() + kStationHeaderSize);
  record.SetWord(kRecDataLength, static_cast<uint16_t>(data.size()));
  record.SetWord(kRecFrameLength, static_cast<uint16_t>(kStationHeaderSize + data.size()));
  return true;
}

UdpStationTransport::UdpStationTransport(QObject* parent) : StationTransport(parent) {}

UdpStationTransport::~UdpStationTransport() { CloseConnection(0); }

int UdpStationTransport::OpenConnection(const QString& device) {
  if (device != QLatin1String(kEthernetDevice)) return -1;
  if (socket_) return 0;
  socket_ = new QUdpSocket(this);
  if (!socket_->bind(QHostAddress(QHostAddress::AnyIPv4), 0)) {
    delete socket_;
    socket_ = nullptr;
    return -1;
  }
  connect(socket_, &QUdpSocket::readyRead, this, &UdpStationTransport::OnReadyRead);
  return 0;
}

bool UdpStationTransport::CloseConnection(int handle) {
  if (handle != 0 || !socket_) return false;
  socket_->close();
  socket_->deleteLater();
  socket_ = nullptr;
  queue_.clear();
  return true;
}

void UdpStationTransport::WriteMessage(const StationRecord& record, const QString& addressText) {
  queue_.clear();
  if (!socket_) return;
  QHostAddress address;
  if (!address.setAddress(addressText) || address.protocol() != QAbstractSocket::IPv4Protocol) {
    peer_.clear();
    return;
  }
  peer_ = address;
  socket_->writeDatagram(record.Frame(), peer_, stationPort_);
}

bool UdpStationTransport::ReadMessage(StationRecord& record) {
  if (queue_.empty()) return false;
  record = queue_.front();
  queue_.pop_front();
  return true;
}

void UdpStationTransport::OnReadyRead() {
  bool arrived = false;
  while (socket_ && socket_->hasPendingDatagrams()) {
    const QNetworkDatagram datagram =
        socket_->receiveDatagram(kStationHeaderSize + kStationMaxData + 1);
    if (!datagram.isValid() || peer_.isNull()) continue;
    // Only the station the request went to may answer it.
    QHostAddress sender = datagram.senderAddress();
    bool isV4 = false;
    const quint32 v4 = sender.toIPv4Address(&isV4);
    if (isV4) sender = QHostAddress(v4);
    if (sender != peer_ || datagram.senderPort() != stationPort_) continue;
    StationRecord record;
    if (!ParseStationDatagram(datagram.data(), record)) continue;
    if (queue_.size() >= kMaxQueuedReplies) continue;
    queue_.push_back(record);
    arrived = true;
  }
  if (arrived) emit MessageArrived();
}

}  // namespace fwl
