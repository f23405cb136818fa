// A plain IPv4 UDP socket for one transfer, driven by a socket notifier on
// the owning thread. Transfers move a datagram per block, so they skip the
// buffering and bookkeeping of QUdpSocket and call the system directly.
#pragma once

#include <netinet/in.h>

#include <QHostAddress>
#include <QObject>

class QSocketNotifier;

namespace fwl {

// Winsock-style number for an errno value (0x2740 = address in use), as the
// log texts have always shown socket errors.
unsigned long TftpErrnoCode(int error);

class TftpDatagramSocket : public QObject {
  Q_OBJECT

 public:
  explicit TftpDatagramSocket(QObject* parent = nullptr);
  ~TftpDatagramSocket() override;

  TftpDatagramSocket(const TftpDatagramSocket&) = delete;
  TftpDatagramSocket& operator=(const TftpDatagramSocket&) = delete;

  // Binds to an IPv4 `address` and `port` (never shared with another
  // socket). False with ErrorCode() set on failure.
  bool Bind(const QHostAddress& address, quint16 port);
  quint16 LocalPort() const;
  // Stops notifications and closes the socket; safe to repeat.
  void Close();

  // Bytes sent, or -1 with ErrorCode() set.
  qint64 SendTo(const char* data, qint64 size, const QHostAddress& address, quint16 port);
  qint64 SendTo(const QByteArray& data, const QHostAddress& address, quint16 port) {
    return SendTo(data.constData(), data.size(), address, port);
  }
  // Sends `count` datagrams to one peer in one system call, datagram i made
  // of the `headerSize` bytes at headers + i * headerSize followed by
  // payloadSizes[i] bytes at payloads[i]. Returns how many left; fewer than
  // `count` with ErrorCode() set when one failed.
  int SendBatch(const char* headers, int headerSize, const char* const* payloads,
                const qint64* payloadSizes, int count, const QHostAddress& address, quint16 port);
  // Waits up to `nanoseconds` for a datagram, polling instead of sleeping.
  // True when one is pending.
  bool SpinUntilReadable(qint64 nanoseconds);
  // Reads one pending datagram (cut to `size`): its length, -2 when none is
  // pending, -1 on an error (ErrorCode() set).
  qint64 ReceiveFrom(char* buffer, qint64 size, quint32* address, quint16* port);

  unsigned long ErrorCode() const { return error_; }

 signals:
  void readyRead();

 private:
  bool SetDestination(const QHostAddress& address, quint16 port);

  int fd_ = -1;
  QSocketNotifier* notifier_ = nullptr;
  unsigned long error_ = 0;
  // The destination of the previous send; a transfer always sends to the
  // same client, so the address is converted once.
  sockaddr_in to_{};
  QHostAddress toAddress_;
  quint16 toPort_ = 0;
};

}  // namespace fwl
