#include "sim/sim_tftp_client.h"

#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QtEndian>

namespace fwl {

namespace {

enum Opcode : quint16 { kRrq = 1, kData = 3, kAck = 4, kError = 5, kOack = 6 };
constexpr int kMaxBlockSize = 65464;

void PutU16(QByteArray& b, quint16 v) {
  b += char(v >> 8);
  b += char(v & 0xFF);
}

quint16 GetU16(const QByteArray& b, qsizetype at) {
  return quint16((quint8(b[at]) << 8) | quint8(b[at + 1]));
}

}  // namespace

SimTftpClient::SimTftpClient(QObject* parent) : QObject(parent) {
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, &SimTftpClient::OnTimer);
}

SimTftpClient::~SimTftpClient() { Abort(); }

bool SimTftpClient::Start(const QHostAddress& server, quint16 port, const QString& file,
                          const Settings& settings, Callbacks callbacks, QString* error) {
  Abort();
  // The simulator is a test peer: it never sends to anything but loopback.
  if (!server.isLoopback() || server.protocol() != QAbstractSocket::IPv4Protocol) {
    if (error) *error = "server is not a loopback address";
    return false;
  }
  if (file.isEmpty() || file.size() > 255) {
    if (error) *error = "bad file name";
    return false;
  }
  if (!socket_) {
    socket_ = new QUdpSocket(this);
    connect(socket_, &QUdpSocket::readyRead, this, &SimTftpClient::OnReadyRead);
  }
  const QHostAddress local =
      settings.localAddress.isLoopback() &&
              settings.localAddress.protocol() == QAbstractSocket::IPv4Protocol
          ? settings.localAddress
          : QHostAddress(QHostAddress::LocalHost);
  if (!socket_->bind(local, 0)) {
    if (error) *error = socket_->errorString();
    socket_->close();
    return false;
  }
  settings_ = settings;
  callbacks_ = std::move(callbacks);
  server_ = server;
  requestPort_ = port;
  peerPort_ = 0;
  blockSize_ = 512;
  expectedBlock_ = 1;
  received_ = 0;
  blocks_ = 0;
  misses_ = 0;
  stalled_ = false;
  running_ = true;

  QByteArray rrq;
  PutU16(rrq, kRrq);
  rrq += file.toLatin1() + '\0' + "octet" + '\0';
  if (settings_.blockSize > 0) {
    rrq += QByteArray("blksize") + '\0' + QByteArray::number(settings_.blockSize) + '\0';
    rrq += QByteArray("tsize") + '\0' + "0" + '\0';
  }
  lastSent_ = rrq;
  socket_->writeDatagram(rrq, server_, requestPort_);
  timer_.start(settings_.timeoutMs);
  return true;
}

void SimTftpClient::Abort() {
  running_ = false;
  timer_.stop();
  // Closing (not deleting) is safe even from inside the socket's own
  // notification; the socket is reused by the next Start.
  if (socket_) socket_->close();
}

void SimTftpClient::OnReadyRead() {
  while (socket_ && socket_->state() == QAbstractSocket::BoundState &&
         socket_->hasPendingDatagrams()) {
    const QNetworkDatagram d = socket_->receiveDatagram(kMaxBlockSize + 4);
    if (!running_ || stalled_) continue;
    if (d.senderAddress().toIPv4Address() != server_.toIPv4Address()) continue;
    const quint16 from = quint16(d.senderPort());
    if (peerPort_ != 0 && from != peerPort_) {
      SendError(5, "Unknown transfer ID", from);
      continue;
    }
    HandlePacket(d.data(), from);
  }
}

void SimTftpClient::HandlePacket(const QByteArray& p, quint16 fromPort) {
  if (p.size() < 4) return;
  const quint16 op = GetU16(p, 0);
  if (op == kError) {
    const quint16 code = GetU16(p, 2);
    QByteArray text = p.mid(4, qMin<qsizetype>(p.size() - 4, 200));
    const qsizetype nul = text.indexOf('\0');
    if (nul >= 0) text.truncate(nul);
    peerPort_ = fromPort;
    Finish(false, QString("TFTP error: '%1' (%2)").arg(QString::fromLatin1(text)).arg(code));
    return;
  }
  if (op == kOack) {
    if (peerPort_ != 0 || received_ != 0) return;  // only as the first answer
    peerPort_ = fromPort;
    const QList<QByteArray> fields = p.mid(2).split('\0');
    for (qsizetype i = 0; i + 1 < fields.size(); i += 2) {
      const QByteArray name = fields[i].toLower();
      bool ok = false;
      const quint64 value = fields[i + 1].toULongLong(&ok);
      if (name == "blksize") {
        if (!ok || value < 8 || value > quint64(qMax(settings_.blockSize, 512))) {
          SendError(8, "bad blksize", peerPort_);
          Finish(false, "TFTP error: server offered a bad block size");
          return;
        }
        blockSize_ = int(value);
      } else if (name == "tsize" && ok && value > settings_.capacity) {
        SendError(3, "File too large", peerPort_);
        Finish(false, "TFTP error: file too large for the load area");
        return;
      }
    }
    SendAck(0);
    return;
  }
  if (op != kData) return;
  if (peerPort_ == 0) peerPort_ = fromPort;
  const quint16 block = GetU16(p, 2);
  const QByteArray data = p.mid(4);
  if (block != expectedBlock_) {
    if (quint16(block + 1) == expectedBlock_) SendAck(block);  // our ACK was lost
    return;
  }
  if (data.size() > blockSize_) {
    SendError(4, "block too large", peerPort_);
    Finish(false, "TFTP error: block larger than agreed");
    return;
  }
  if (received_ + quint64(data.size()) > settings_.capacity ||
      (callbacks_.block && !callbacks_.block(received_, data))) {
    SendError(3, "Disk full", peerPort_);
    Finish(false, "TFTP error: file too large for the load area");
    return;
  }
  received_ += quint64(data.size());
  ++blocks_;
  misses_ = 0;
  if (settings_.stallAfterBlocks >= 0 && blocks_ >= quint64(settings_.stallAfterBlocks)) {
    // The fault: the unit goes quiet mid-transfer and never finishes.
    stalled_ = true;
    timer_.stop();
    return;
  }
  SendAck(block);
  ++expectedBlock_;
  if (data.size() < blockSize_) Finish(true, QString());
}

void SimTftpClient::SendAck(quint16 block) {
  QByteArray ack;
  PutU16(ack, kAck);
  PutU16(ack, block);
  lastSent_ = ack;
  if (socket_) socket_->writeDatagram(ack, server_, peerPort_);
  timer_.start(settings_.timeoutMs);
}

void SimTftpClient::SendError(quint16 code, const QString& text, quint16 toPort) {
  if (!socket_ || toPort == 0) return;
  QByteArray e;
  PutU16(e, kError);
  PutU16(e, code);
  e += text.toLatin1() + '\0';
  socket_->writeDatagram(e, server_, toPort);
}

void SimTftpClient::OnTimer() {
  if (!running_ || stalled_) return;
  if (++misses_ > settings_.retries) {
    Finish(false, "Retry count exceeded");
    return;
  }
  if (callbacks_.timeout) callbacks_.timeout();
  const quint16 port = peerPort_ != 0 ? peerPort_ : requestPort_;
  if (socket_) socket_->writeDatagram(lastSent_, server_, port);
  timer_.start(settings_.timeoutMs);
}

void SimTftpClient::Finish(bool ok, const QString& error) {
  if (!running_) return;
  const quint64 bytes = received_;
  auto finished = callbacks_.finished;
  Abort();
  if (finished) finished(ok, bytes, error);
}

}  // namespace fwl
