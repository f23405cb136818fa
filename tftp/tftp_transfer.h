// One TFTP read transfer: sends one file to one client from its own UDP
// port, with option acknowledgement, lock-step or windowed DATA, the
// retransmission timer, progress texts and the end-of-transfer events.
#pragma once

#include <QAbstractSocket>
#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QStringList>

#include "tftp/tftp_datagram_socket.h"
#include "tftp/tftp_send_window.h"

class QTimer;

namespace fwl {

class TftpServer;

// Winsock-style number for a Qt socket error (0x2740 = address in use), as
// the log texts have always shown them.
unsigned long TftpSocketErrorCode(QAbstractSocket::SocketError error);

class TftpTransfer : public QObject {
  Q_OBJECT

 public:
  // Takes ownership of `socket` (bound to the transfer's local port).
  // `retransmitMs` is the interval unless the client asks for a "timeout".
  TftpTransfer(TftpServer* server, int id, TftpDatagramSocket* socket, const QString& filePath,
               const QHostAddress& client, quint16 clientPort, const QStringList& options,
               int percentOnly, int retransmitMs);
  ~TftpTransfer() override;

  // Starts a read transfer: event 1, data from the preload or the file
  // (ERROR 1 + event 4 when missing, ERROR 2 when unreadable, ERROR 3 when
  // it cannot be held), then the OACK or block 1.
  void Begin();
  // Marks a write request: event 1 and nothing more; the transfer counts as
  // ended at once.
  void BeginWrite();
  // Ends the transfer once. When the last block went out (a send that
  // succeeded) but its ACK never came, reports completion first (status
  // flag 1, event 2); a transfer given up earlier reports event 3. Frees
  // the file data; the socket stays open until the transfer is destroyed or
  // its port is needed again.
  void End();

  bool Ended() const { return ended_; }
  bool Completed() const { return completed_; }
  int RetransmitInterval() const { return retransmitMs_; }
  quint16 LocalPort() const;
  // Releases the socket of an ended transfer so its port can be reused.
  void ReleaseSocket();
  // Ends the transfer silently (no reports, no more packets), as the
  // server's Stop() does with one that did not end in time.
  void Abandon();

 private:
  void OnReadyRead();
  void OnTimer();
  void ArmTimer();
  void HandleDatagram(const QByteArray& datagram);
  void Act(const tftp::SendWindow::Action& action);
  bool PrepareData();
  void SendOack();
  bool SendBlock(qint64 block);
  void SendError(int code, const QString& message);
  void ReportCompletion();
  void Log(const QString& text);

  TftpServer* server_;
  int id_;
  TftpDatagramSocket* socket_;
  quint32 clientIp_;
  QTimer* timer_;
  QString filePath_;
  QHostAddress client_;
  QString clientText_;
  quint16 clientPort_;
  QStringList options_;
  int percentOnly_;
  int retransmitMs_;

  int blockSize_ = 512;
  int windowSize_ = 1;
  QByteArray oack_;
  QByteArray data_;  // shares the server's preload when it applies
  qint64 fileSize_ = 0;
  tftp::SendWindow window_;
  bool sending_ = false;
  bool completed_ = false;
  bool ended_ = false;
  bool givenUp_ = false;
  bool lastBlockOut_ = false;  // the last block left at least once
  int retryCount_ = 0;
  QElapsedTimer started_;
  QElapsedTimer lastSend_;
  QByteArray receiveBuffer_;
  QByteArray sendBuffer_;
};

}  // namespace fwl
