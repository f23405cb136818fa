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
#include <vector>

#include "tftp/tftp_block_source.h"
#include "tftp/tftp_datagram_socket.h"
#include "tftp/tftp_rtt_estimator.h"
#include "tftp/tftp_send_pacer.h"
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

  // True (the default): the retransmission time-out follows the measured
  // round trips of this transfer, between 10 ms and the configured interval,
  // and a silent client is given up after the same time as with the fixed
  // timer. False: every retransmission waits the configured interval. Set
  // before Begin().
  void SetAdaptive(bool adaptive) { adaptive_ = adaptive; }

  // Starts a read transfer: event 1, data from the preload or the file
  // (ERROR 1 + event 4 when missing, ERROR 2 when unreadable), then the
  // OACK or block 1. A file is read block by block as it is sent.
  void Begin();
  // Marks a write request: event 1 and nothing more; the transfer ends at
  // once.
  void BeginWrite();
  // Ends the transfer once and tells the server, which frees it. A
  // transfer whose every block before the last was acknowledged and whose
  // last block went out counts as complete even when the closing ACK never
  // came (status flag 1, event 2); any other transfer that had started
  // sending, and every one its client broke off with an ERROR, is lost
  // (event 3).
  void End();
  // Ends a transfer that is still running as lost (event 3), sending
  // nothing more: the server's Stop() does this when time is up.
  void GiveUp();

  int Id() const { return id_; }
  bool Ended() const { return ended_; }
  bool Completed() const { return completed_; }
  int RetransmitInterval() const { return retransmitMs_; }
  // DATA packets sent so far, first sends and resends.
  qint64 DataPacketsSent() const { return dataPacketsSent_; }
  quint16 LocalPort() const;
  quint32 ClientIp() const { return clientIp_; }
  quint16 ClientPort() const { return clientPort_; }

 private:
  void OnReadyRead();
  void OnTimer();
  // After a block went out: true when the client's next datagram is already
  // there, or arrived during a short wait.
  bool WaitBrieflyForAck(const QElapsedTimer& busy);
  // Notes a send that starts with the first unacknowledged packet (`first`
  // .. `last`, 0 for the OACK) and makes sure the timer will fire in time.
  void NoteSend(qint64 first, qint64 last);
  void ArmTimer();
  qint64 NowUs() const { return started_.nsecsElapsed() / 1000; }
  // When the retransmission timer is due (and, adaptive, when the client is
  // given up), in microseconds of the transfer's clock.
  qint64 RetransmitDueUs() const;
  // Learns the client's own resend interval from an ACK arriving `now`.
  void NoteClientTimer(qint64 now);
  qint64 GiveUpAtUs() const;
  void OnAdaptiveTimer();
  // What a time-out resends (see SendWindow::OnRepeatedTimeout).
  tftp::SendWindow::Action TimeoutResend();
  void HandleDatagram(const QByteArray& datagram);
  void Act(const tftp::SendWindow::Action& action);
  // For a fresh ACK that stops short of the highest block sent: whether it
  // shows that the client missed the block after it.
  bool ShowsGap(const tftp::SendWindow::Action& action, qint64 highest, qint64 now) const;
  tftp::SendWindow::Action OnlyNewBlocks(tftp::SendWindow::Action action, qint64 highest) const;
  bool PrepareData();
  void SendOack(bool resend);
  // Sends blocks first..last (one window). False when one could not be
  // sent (the timer resends) or the file changed (the transfer has ended).
  bool SendBlocks(qint64 first, qint64 last);
  // Sends blocks first..last at the pacer's pace: at once while it says back
  // to back, else a few at a time, the rest from the pacing timer. Replaces
  // any blocks still waiting for it.
  void SendPaced(qint64 first, qint64 last);
  void OnPaceTimer();
  // A window that arrived short or scrambled slows the next ones down.
  void NoteGap();
  void SendError(int code, const QString& message);
  void ReportCompletion();
  void ReportProgress(qint64 offset);
  bool EveryBlockArrived() const;
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
  tftp::BlockSource source_;
  qint64 fileSize_ = 0;
  tftp::SendWindow window_;
  bool sending_ = false;
  bool completed_ = false;
  bool ended_ = false;
  bool clientBrokeOff_ = false;  // the client sent an ERROR
  bool lastBlockOut_ = false;    // the last block left at least once
  int reportedPercent_ = -1;     // whole percentage of the last progress text
  int spinHoldoff_ = 0;          // ACKs still to go before waiting for one again
  int spinMisses_ = 0;           // waits in a row that ended without an ACK
  int retryCount_ = 0;
  tftp::SendPacer pacer_;
  QTimer* paceTimer_;
  qint64 highestOut_ = 0;  // highest block actually sent
  qint64 paceNext_ = 1;    // blocks paceNext_..paceLast_ wait for the pacing timer
  qint64 paceLast_ = 0;
  QElapsedTimer started_;
  QElapsedTimer lastSend_;
  bool adaptive_ = true;
  tftp::RttEstimator rtt_{3000, true};
  qint64 lastSendUs_ = 0;   // last send of any packet
  qint64 lastHeardUs_ = 0;  // last ACK from the client (or the first send)
  // How long the client stays quiet before its own timer resends its ACK,
  // once seen (0: not seen). Such a client (busybox) ignores a block it
  // has already, so after one copy in vain only its own resend helps.
  qint64 clientResendUs_ = 0;
  qint64 timerDueUs_ = 0;   // when the running timer fires
  // The round trip being measured: the highest packet sent (0: the OACK),
  // when it went out, and whether it went out only once (Karn).
  qint64 sampleBlock_ = -1;
  qint64 sampleSentUs_ = 0;
  bool sampleValid_ = false;
  qint64 dataPacketsSent_ = 0;
  // The last send and the number of copies of each block of the window
  // (slot = block % size; a window holds at most 64 blocks).
  struct BlockSends {
    qint64 block = -1;
    qint64 lastUs = 0;
    int copies = 0;
  };
  static constexpr int kSendSlots = 128;
  BlockSends sends_[kSendSlots];
  const BlockSends* SendsOf(qint64 block) const;
  QByteArray receiveBuffer_;
  // One window's worth: file bytes (when not preloaded), DATA headers and
  // where each block's payload starts.
  QByteArray readBuffer_;
  QByteArray headers_;
  std::vector<const char*> payloads_;
  std::vector<qint64> payloadSizes_;
};

}  // namespace fwl
