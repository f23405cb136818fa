// The simulated unit's TFTP client (RFC 1350 read requests with the
// "blksize" and "tsize" options): fetches one file from a server on a
// loopback address and hands each data block to the caller.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

class QUdpSocket;

namespace fwl {

class SimTftpClient : public QObject {
  Q_OBJECT
 public:
  struct Callbacks {
    // A data block in order: its offset in the file and its bytes. Returns
    // false when it does not fit (the transfer is then aborted).
    std::function<bool(quint64 offset, const QByteArray& data)> block;
    // A retransmission after a time-out.
    std::function<void()> timeout;
    // End: ok with the byte count, or not ok with a reason.
    std::function<void(bool ok, quint64 bytes, const QString& error)> finished;
  };

  struct Settings {
    int blockSize = 1468;  // requested; 0 asks for no options
    int timeoutMs = 1000;
    int retries = 5;
    quint64 capacity = 0;       // largest file accepted (tsize check)
    int stallAfterBlocks = -1;  // >= 0: stop answering after that many blocks
    // The unit's own address: its requests come from there, so a server
    // that serves several units tells them apart. Loopback only.
    QHostAddress localAddress{QHostAddress::LocalHost};
  };

  explicit SimTftpClient(QObject* parent = nullptr);
  ~SimTftpClient() override;

  // Starts fetching `file` from server:port. Only loopback servers are
  // contacted; anything else fails at once through `finished`.
  // Returns false when the transfer could not be started (finished is then
  // not called and `error` says why).
  bool Start(const QHostAddress& server, quint16 port, const QString& file,
             const Settings& settings, Callbacks callbacks, QString* error);
  // Stops without calling `finished` (Ctrl-C, power loss).
  void Abort();

 private:
  void OnReadyRead();
  void OnTimer();
  void HandlePacket(const QByteArray& packet, quint16 fromPort);
  void SendAck(quint16 block);
  void SendError(quint16 code, const QString& text, quint16 toPort);
  void Finish(bool ok, const QString& error);

  QUdpSocket* socket_ = nullptr;
  QTimer timer_;
  Callbacks callbacks_;
  Settings settings_;
  QHostAddress server_;
  quint16 requestPort_ = 0;
  quint16 peerPort_ = 0;  // the server's transfer port once known
  QByteArray lastSent_;
  int blockSize_ = 512;
  quint16 expectedBlock_ = 1;
  quint64 received_ = 0;
  quint64 blocks_ = 0;
  int misses_ = 0;
  bool running_ = false;
  bool stalled_ = false;
};

}  // namespace fwl
