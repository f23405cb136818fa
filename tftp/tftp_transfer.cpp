#include "tftp/tftp_transfer.h"

#include <QFileInfo>
#include <QTimer>
#include <clocale>
#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "tftp/tftp_log.h"
#include "tftp/tftp_packet.h"
#include "tftp/tftp_server.h"

namespace fwl {

namespace {

constexpr int kReceiveSize = 4096;
// How long to wait for an ACK without sleeping. Waking a sleeping thread
// costs tens of microseconds on a virtual machine, more than a client on
// the same computer or segment takes to answer.
constexpr qint64 kAckSpinNs = 150000;
// After a wait that ended without an ACK, 16 << misses ACKs (misses counted
// up to 8) go by before the next wait.
constexpr int kSpinHoldoffBlocks = 16;
constexpr int kMaxSpinMisses = 8;
// The longest one socket notification keeps the thread.
constexpr int kMaxBusyMs = 10;
// An ACK after at least this much silence of ours (and eight round trips)
// is the client's own resend, not an answer.
constexpr qint64 kClientTimerMinUs = 40000;

// Progress and completion texts are printf texts: exact halves round as the
// C library rounds them (12.5 -> "12"), which QString::asprintf does not.
// The "C" locale keeps the decimal point whatever the user's locale is.
__attribute__((format(printf, 1, 2))) QString FormatC(const char* format, ...) {
  static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  const locale_t previous = uselocale(cLocale);
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int size = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  QByteArray text(size > 0 ? size : 0, Qt::Uninitialized);
  if (size > 0) std::vsnprintf(text.data(), static_cast<size_t>(size) + 1, format, args);
  va_end(args);
  uselocale(previous);
  return QString::fromLocal8Bit(text);
}

}  // namespace

unsigned long TftpSocketErrorCode(QAbstractSocket::SocketError error) {
  switch (error) {
    case QAbstractSocket::AddressInUseError:
      return 10048;  // WSAEADDRINUSE
    case QAbstractSocket::SocketAccessError:
      return 10013;  // WSAEACCES
    case QAbstractSocket::SocketAddressNotAvailableError:
      return 10049;  // WSAEADDRNOTAVAIL
    case QAbstractSocket::SocketResourceError:
      return 10055;  // WSAENOBUFS
    case QAbstractSocket::DatagramTooLargeError:
      return 10040;  // WSAEMSGSIZE
    case QAbstractSocket::NetworkError:
      return 10050;  // WSAENETDOWN
    case QAbstractSocket::UnsupportedSocketOperationError:
      return 10045;  // WSAEOPNOTSUPP
    default:
      return 10022;  // WSAEINVAL
  }
}

TftpTransfer::TftpTransfer(TftpServer* server, int id, TftpDatagramSocket* socket,
                           const QString& filePath, const QHostAddress& client, quint16 clientPort,
                           const QStringList& options, int percentOnly, int retransmitMs)
    : QObject(server),
      server_(server),
      id_(id),
      socket_(socket),
      clientIp_(client.toIPv4Address()),
      timer_(new QTimer(this)),
      filePath_(filePath),
      client_(client),
      clientText_(client.toString()),
      clientPort_(clientPort),
      options_(options),
      percentOnly_(percentOnly),
      retransmitMs_(retransmitMs) {
  socket_->setParent(this);
  timer_->setSingleShot(true);
  timer_->setTimerType(Qt::PreciseTimer);
  connect(timer_, &QTimer::timeout, this, &TftpTransfer::OnTimer);
  paceTimer_ = new QTimer(this);
  paceTimer_->setSingleShot(true);
  paceTimer_->setTimerType(Qt::PreciseTimer);
  connect(paceTimer_, &QTimer::timeout, this, &TftpTransfer::OnPaceTimer);
  connect(socket_, &TftpDatagramSocket::readyRead, this, &TftpTransfer::OnReadyRead);
  receiveBuffer_.resize(kReceiveSize);
}

TftpTransfer::~TftpTransfer() = default;

quint16 TftpTransfer::LocalPort() const { return socket_ ? socket_->LocalPort() : 0; }

void TftpTransfer::Log(const QString& text) {
  TimedLock lock(TftpGetServerMutex(), kTftpGetServerWaitMs);
  server_->LogForClient(clientText_, clientPort_, text);
}

void TftpTransfer::BeginWrite() {
  started_.start();
  server_->ReportEvent(kTftpEventTransferStarted, QString(), clientText_, id_, filePath_);
  End();
}

void TftpTransfer::Begin() {
  started_.start();
  server_->ReportEvent(kTftpEventTransferStarted, QString(), clientText_, id_, filePath_);
  if (!PrepareData()) return;

  const tftp::Negotiation negotiation = tftp::NegotiateOptions(options_, fileSize_);
  blockSize_ = negotiation.blockSize;
  if (negotiation.timeoutSeconds > 0) retransmitMs_ = negotiation.timeoutSeconds * 1000;
  // With no retransmissions allowed there is nothing to adapt: the one
  // interval is waited, as always.
  rtt_ = tftp::RttEstimator(retransmitMs_, adaptive_ && server_->Retries() > 0);
  const qint64 lastBlock = fileSize_ / blockSize_ + 1;
  sending_ = true;
  lastHeardUs_ = NowUs();
  if (!negotiation.acknowledged.empty()) {
    windowSize_ = negotiation.windowSize;
    oack_ = tftp::MakeOack(negotiation.acknowledged);
    window_.Reset(lastBlock, windowSize_, true);
    SendOack(false);
    return;
  }
  window_.Reset(lastBlock, 1, false);
  const tftp::SendWindow::Action first = window_.Begin();
  if (!SendBlocks(first.first, first.last) && !ended_) {
    Log("Transfer aborted.");
    End();
  }
}

bool TftpTransfer::PrepareData() {
  source_.Close();
  {
    TimedLock lock(TftpGetServerMutex(), kTftpGetServerWaitMs);
    if (server_->HasPreloadFor(filePath_)) {
      source_.UsePreloaded(server_->PreloadedData());  // shared, not copied
      fileSize_ = source_.Size();
      Log("Using preloaded file...");
      return true;
    }
  }
  if (!QFileInfo::exists(filePath_)) {
    const QString message =
        QString("The requested file %1 was not found on the server.").arg(filePath_);
    SendError(1, message);
    Log("Transfer aborted.");
    server_->ReportEvent(kTftpEventFileNotFound, message, clientText_, id_, filePath_);
    End();
    return false;
  }
  if (!source_.OpenFile(filePath_)) {
    SendError(2, QString("Unable to open %1 for reading.").arg(filePath_));
    Log("Transfer aborted.");
    End();
    return false;
  }
  fileSize_ = source_.Size();
  return true;
}

void TftpTransfer::SendError(int code, const QString& message) {
  const QByteArray packet = tftp::MakeError(code, message);
  if (socket_->SendTo(packet, client_, clientPort_) < 0) {
    Log(QString::asprintf("Error %08lX found while sending to client.", socket_->ErrorCode()));
  } else {
    Log(QString("Error %1 sent to client.").arg(code));
  }
}

void TftpTransfer::SendOack(bool resend) {
  if (!resend) sampleBlock_ = -1;  // the OACK is packet 0, the first to measure
  NoteSend(0, 0);
  if (socket_->SendTo(oack_, client_, clientPort_) < 0) {
    Log(QString::asprintf("Error found while sending ack. Error = 0x%08lX", socket_->ErrorCode()));
    End();
  }
}

bool TftpTransfer::SendBlocks(qint64 first, qint64 last) {
  const int count = static_cast<int>(last - first + 1);
  if (count <= 0) return true;
  // The blocks of one window are contiguous in the file: one read, then one
  // system call sends them all.
  const qint64 offset = static_cast<qint64>(blockSize_) * (first - 1);
  const qint64 end = qMin<qint64>(fileSize_, static_cast<qint64>(blockSize_) * last);
  const qint64 bytes = qMax<qint64>(0, end - offset);
  const bool closing = last >= window_.LastBlock();
  const char* data = source_.Bytes(offset, bytes, readBuffer_);
  if (!data || (closing && !source_.SizeUnchanged())) {
    // Mixed bytes of two versions of the file would pass as an image.
    SendError(0, "The file changed while it was being sent.");
    Log("Transfer aborted.");
    End();
    return false;
  }
  headers_.resize(4 * count);
  payloads_.resize(count);
  payloadSizes_.resize(count);
  for (int i = 0; i < count; ++i) {
    const qint64 block = first + i;
    char* header = headers_.data() + 4 * i;
    header[0] = 0;
    header[1] = tftp::kOpData;
    header[2] = static_cast<char>((block >> 8) & 0xFF);
    header[3] = static_cast<char>(block & 0xFF);
    const qint64 from = static_cast<qint64>(blockSize_) * i;
    payloads_[i] = data + qMin(from, bytes);
    payloadSizes_[i] = qBound<qint64>(0, bytes - from, static_cast<qint64>(blockSize_));
  }
  NoteSend(first, last);
  const int sent = socket_->SendBatch(headers_.constData(), 4, payloads_.data(),
                                      payloadSizes_.data(), count, client_, clientPort_);
  if (sent > 0) dataPacketsSent_ += sent;
  if (sent > 0) {
    highestOut_ = qMax(highestOut_, first + sent - 1);
    if (first + sent - 1 >= window_.LastBlock()) lastBlockOut_ = true;
    ReportProgress(static_cast<qint64>(blockSize_) * (first + sent - 2));
  }
  if (sent < count) {
    Log(QString::asprintf("Error %08lX found while sending file to client.", socket_->ErrorCode()));
    return false;
  }
  return true;
}

void TftpTransfer::ReportProgress(qint64 offset) {
  if (!server_->HasStatusCallback()) return;
  const double percent =
      fileSize_ > 0 ? static_cast<double>(offset) / static_cast<double>(fileSize_) * 100.0 : 0.0;
  // The texts differ only when the printed whole percentage does (rounded
  // as printf rounds it); formatting one per block would cost more than
  // sending the block.
  const int whole = static_cast<int>(std::nearbyint(percent));
  if (whole == reportedPercent_) return;
  reportedPercent_ = whole;
  const QString text = (percentOnly_ & 1) ? FormatC("%.0f%%", percent)
                                          : FormatC("%s: %lld bytes sent (%.0f%%)",
                                                    filePath_.toLocal8Bit().constData(),
                                                    static_cast<long long>(offset), percent);
  TimedLock lock(TftpGetServerMutex(), kTftpGetServerWaitMs);
  server_->ReportStatus(id_, text, kTftpStatusProgress);
}

void TftpTransfer::OnReadyRead() {
  QElapsedTimer busy;
  busy.start();
  for (;;) {
    quint32 senderIp = 0;
    quint16 senderPort = 0;
    const qint64 size =
        socket_->ReceiveFrom(receiveBuffer_.data(), kReceiveSize, &senderIp, &senderPort);
    if (size == -2) return;
    if (size < 0) {
      if (ended_) return;
      Log("Error while attempting to read from socket!");
      End();
      return;
    }
    if (ended_) continue;
    if (senderPort != clientPort_ || senderIp != clientIp_) {
      // Another peer's packet must not steer this transfer (RFC 1350 TIDs).
      socket_->SendTo(tftp::MakeError(5, "Unknown transfer ID"), QHostAddress(senderIp),
                      senderPort);
      continue;
    }
    HandleDatagram(QByteArray::fromRawData(receiveBuffer_.constData(), size));
    if (ended_ || !WaitBrieflyForAck(busy)) return;
  }
}

bool TftpTransfer::WaitBrieflyForAck(const QElapsedTimer& busy) {
  // A client that answers within microseconds (on this computer, or next
  // to it) answers sooner than this thread could go back to the event loop,
  // sleep and be woken: wait for it here. A wait that ends without an ACK
  // means a slow client, or a busy computer where the client needs the
  // processor this thread holds, so the waits stop for a while, longer
  // after each miss, and start again after a success.
  // With other transfers on this thread, their clients must not wait for
  // this one's: back to the event loop.
  if (server_->ActiveTransfers() > 1) return true;
  if (spinHoldoff_ > 0) {
    --spinHoldoff_;
    return true;
  }
  if (busy.elapsed() >= kMaxBusyMs) return false;
  if (socket_->SpinUntilReadable(kAckSpinNs)) {
    spinMisses_ = 0;
    return true;
  }
  spinMisses_ = qMin(spinMisses_ + 1, kMaxSpinMisses);
  spinHoldoff_ = kSpinHoldoffBlocks << spinMisses_;
  return false;
}

void TftpTransfer::HandleDatagram(const QByteArray& datagram) {
  if (!sending_ || ended_) return;
  if (const auto block = tftp::ParseAck(datagram)) {
    retryCount_ = 0;
    const qint64 now = NowUs();
    lastHeardUs_ = now;
    NoteClientTimer(now);
    const qint64 highest = highestOut_;
    const tftp::SendWindow::Action action = window_.OnAck(*block);
    if (action.duplicate) {
      // A duplicated or late ACK, or one answering a copy the timer already
      // resent: resending for each would double every packet from then on.
      // Only when no copy went out within the estimate is the client (whose
      // own timer resent its ACK) more likely to miss the block.
      const BlockSends* next = SendsOf(action.first);
      const bool blocks = action.step == tftp::SendWindow::Step::kSendBlocks;
      const qint64 lastCopyUs = blocks && next ? next->lastUs : lastSendUs_;
      // With a window, the client that misses a block acknowledges the one
      // before it again: a gap, when the missed block went out only once and
      // long enough ago to have arrived (a copy the network made of the ACK
      // itself comes while the window it released is still leaving).
      const bool windowGap = blocks && windowSize_ > 1 && next && next->copies == 1 &&
                             now - lastCopyUs >= rtt_.SmoothedUs() / 2;
      if (!windowGap && now - lastCopyUs < rtt_.EstimateUs()) return;
      if (blocks) NoteGap();
      Act(action);
      return;
    }
    // The ACK of the highest packet, sent once, is a clean round trip; after
    // a resend the ACK may answer either copy and measures nothing (Karn).
    if (window_.Acknowledged() == sampleBlock_ && sampleValid_) {
      rtt_.AddSample(now - sampleSentUs_);
    } else if (!rtt_.HasSample()) {
      // A lost OACK, then windows that keep arriving scrambled: every ACK
      // answers a block sent twice, and without a first measure each
      // resend would wait the initial second. The last copy of the block
      // acknowledged gives a first one; if the ACK answered an earlier copy
      // it is short, which the 10 ms in the time-out covers.
      const BlockSends* acked = SendsOf(window_.Acknowledged());
      if (acked) rtt_.AddSample(now - acked->lastUs);
    }
    // The client is answering again: the next packet waits the estimate,
    // not the doubled time-out of the one before.
    rtt_.ResetBackoff();
    if (action.step != tftp::SendWindow::Step::kSendBlocks || action.first > highest) {
      pacer_.OnAllAcknowledged(window_.Acknowledged());
      Act(action);
    } else if (ShowsGap(action, highest, now)) {
      NoteGap();
      Act(action);
    } else {
      Act(OnlyNewBlocks(action, highest));
    }
    return;
  }
  if (tftp::IsError(datagram)) {
    // The client gave up on this transfer, whatever it had received.
    clientBrokeOff_ = true;
    End();
  }
  // Anything else: the retransmission timer keeps running.
}

const TftpTransfer::BlockSends* TftpTransfer::SendsOf(qint64 block) const {
  const BlockSends& slot = sends_[block % kSendSlots];
  return slot.block == block ? &slot : nullptr;
}

bool TftpTransfer::ShowsGap(const tftp::SendWindow::Action& action, qint64 highest,
                            qint64 now) const {
  // An ACK of a block below the highest one sent stops short of blocks
  // already out. It shows a gap when it left the client after the first
  // of them should have arrived, that is when that block went out at least
  // a round trip ago: then the window is resent from there at once. A
  // block resent already goes again only once no copy went out within the
  // time-out estimate, so the ACKs that the copies bring cannot multiply
  // them.
  if (action.step != tftp::SendWindow::Step::kSendBlocks || action.first > highest) return true;
  const BlockSends* first = SendsOf(action.first);
  if (!first) return true;
  const qint64 age = now - first->lastUs;
  if (age < rtt_.SmoothedUs()) return false;
  return first->copies <= 1 || age >= rtt_.EstimateUs();
}

tftp::SendWindow::Action TftpTransfer::OnlyNewBlocks(tftp::SendWindow::Action action,
                                                     qint64 highest) const {
  // The client may still receive what is out: only the window's new blocks
  // go, after those still waiting for the pacing timer (a resend under way).
  const bool pacing = paceNext_ <= paceLast_;
  action.first = pacing ? qMax(action.first, paceNext_) : highest + 1;
  if (action.first > action.last) {
    // Nothing new in the window; what waits for the pacer keeps waiting.
    if (pacing) {
      action.first = paceNext_;
      action.last = paceLast_;
    } else {
      action.step = tftp::SendWindow::Step::kNothing;
    }
  }
  return action;
}

void TftpTransfer::Act(const tftp::SendWindow::Action& action) {
  switch (action.step) {
    case tftp::SendWindow::Step::kNothing:
      return;
    case tftp::SendWindow::Step::kSendOack:
      SendOack(true);
      return;
    case tftp::SendWindow::Step::kSendBlocks:
      SendPaced(action.first, action.last);
      return;
    case tftp::SendWindow::Step::kComplete:
      ReportCompletion();
      End();
      return;
  }
}

void TftpTransfer::NoteGap() {
  if (windowSize_ > 1) pacer_.OnGap(window_.Acknowledged(), highestOut_, rtt_.SmoothedUs());
}

void TftpTransfer::SendPaced(qint64 first, qint64 last) {
  paceTimer_->stop();
  paceNext_ = first;
  paceLast_ = last;
  OnPaceTimer();
}

void TftpTransfer::OnPaceTimer() {
  if (ended_ || paceNext_ > paceLast_) return;
  // The timer counts whole milliseconds: below that, a few blocks go
  // together each millisecond.
  const qint64 intervalUs = pacer_.IntervalUs();
  const qint64 waiting = paceLast_ - paceNext_ + 1;
  qint64 burst = waiting;
  qint64 waitMs = 0;
  if (intervalUs > 0) {
    burst = qBound<qint64>(1, 1000 / intervalUs, waiting);
    waitMs = qMax<qint64>(1, (intervalUs * burst + 500) / 1000);
  }
  const qint64 from = paceNext_;
  paceNext_ += burst;
  if (!SendBlocks(from, from + burst - 1)) {
    paceNext_ = paceLast_ + 1;  // the retransmission timer resends
    return;
  }
  if (paceNext_ <= paceLast_) paceTimer_->start(static_cast<int>(waitMs));
}

void TftpTransfer::ReportCompletion() {
  const QString text = (percentOnly_ & 1)
                           ? QString("100%")
                           : FormatC("Transfer complete: time to complete = %.2f seconds",
                                     static_cast<double>(started_.elapsed()) * 0.001);
  Log(text);
  {
    TimedLock lock(TftpGetServerMutex(), kTftpGetServerWaitMs);
    server_->ReportStatus(id_, text, kTftpStatusComplete);
    server_->ReportEvent(kTftpEventTransferComplete, QString(), clientText_, id_, filePath_);
  }
  completed_ = true;
}

void TftpTransfer::NoteSend(qint64 first, qint64 last) {
  const qint64 now = NowUs();
  if (last > sampleBlock_) {
    // New data at the top: its ACK will measure the round trip.
    sampleBlock_ = last;
    sampleSentUs_ = now;
    sampleValid_ = true;
  } else if (first <= sampleBlock_) {
    sampleValid_ = false;  // a resend: its ACK may answer either copy
  }
  for (qint64 block = qMax<qint64>(first, 1); block <= last; ++block) {
    BlockSends& slot = sends_[block % kSendSlots];
    slot.copies = slot.block == block ? slot.copies + 1 : 1;
    slot.block = block;
    slot.lastUs = now;
  }
  lastSendUs_ = now;
  ArmTimer();
}

void TftpTransfer::NoteClientTimer(qint64 now) {
  // The client answers our packets within a round trip or two; an ACK after
  // a long silence of ours came from its own timer.
  if (!rtt_.Adaptive() || !rtt_.HasSample()) return;
  const qint64 quietUs = now - lastSendUs_;
  if (quietUs < qMax(kClientTimerMinUs, 8 * rtt_.SmoothedUs())) return;
  clientResendUs_ = qMin(quietUs, rtt_.CeilingUs());
}

qint64 TftpTransfer::RetransmitDueUs() const {
  qint64 waitUs = rtt_.TimeoutUs();
  // A copy went out already and drew no answer: with a client that resends
  // its ACK by itself, its ACK was lost, and more copies would only restart
  // its timer. Wait for its resend, with half its interval and a time-out
  // to spare for a busy computer.
  if (rtt_.Adaptive() && clientResendUs_ > 0 && rtt_.Backoffs() > 0) {
    waitUs = qMin(qMax(waitUs, clientResendUs_ * 3 / 2 + rtt_.EstimateUs()), rtt_.CeilingUs());
  }
  return lastSendUs_ + waitUs;
}

qint64 TftpTransfer::GiveUpAtUs() const {
  // As long as the fixed timer would have waited: one interval for the
  // first send and one after each of the retries, counted from the
  // client's last ACK, so an early resend never drops a slow client sooner.
  return lastHeardUs_ + (static_cast<qint64>(server_->Retries()) + 1) * rtt_.CeilingUs();
}

void TftpTransfer::ArmTimer() {
  // Restarting a timer for every block costs more than the block itself;
  // the timer runs on and OnTimer() measures from the last send instead. It
  // is only started again when it would fire too late for a time-out that
  // became shorter.
  lastSend_.start();
  qint64 due = RetransmitDueUs();
  if (rtt_.Adaptive()) due = qMin(due, GiveUpAtUs());
  if (timer_->isActive() && timerDueUs_ <= due + 1000) return;
  const qint64 waitUs = qMax<qint64>(0, due - NowUs());
  timerDueUs_ = due;
  timer_->start(static_cast<int>((waitUs + 999) / 1000));
}

void TftpTransfer::OnTimer() {
  if (ended_) return;
  if (rtt_.Adaptive()) {
    OnAdaptiveTimer();
    return;
  }
  const qint64 remaining = retransmitMs_ - lastSend_.elapsed();
  if (remaining > 0) {
    timerDueUs_ = NowUs() + remaining * 1000;
    timer_->start(static_cast<int>(remaining));
    return;
  }
  Log(QString("Sending retry (%1) for file %2.").arg(retryCount_ + 1).arg(filePath_));
  ++retryCount_;
  if (retryCount_ > server_->Retries()) {
    Log(QString("Maximum retries reached for file %1.").arg(filePath_));
    timer_->stop();
    End();
    return;
  }
  rtt_.Backoff();  // the estimate still guards against duplicate ACKs
  NoteGap();
  Act(TimeoutResend());
}

tftp::SendWindow::Action TftpTransfer::TimeoutResend() {
  // The second time-out in a row with a window looks one block past it.
  return windowSize_ > 1 && retryCount_ >= 2 ? window_.OnRepeatedTimeout() : window_.OnTimeout();
}

void TftpTransfer::OnAdaptiveTimer() {
  const qint64 now = NowUs();
  const qint64 giveUpAt = GiveUpAtUs();
  if (now >= giveUpAt) {
    Log(QString("Sending retry (%1) for file %2.").arg(retryCount_ + 1).arg(filePath_));
    Log(QString("Maximum retries reached for file %1.").arg(filePath_));
    timer_->stop();
    End();
    return;
  }
  const qint64 due = qMin(RetransmitDueUs(), giveUpAt);
  if (now < due) {
    timerDueUs_ = due;
    timer_->start(static_cast<int>((due - now + 999) / 1000));
    return;
  }
  Log(QString("Sending retry (%1) for file %2.").arg(retryCount_ + 1).arg(filePath_));
  ++retryCount_;
  rtt_.Backoff();
  NoteGap();
  Act(TimeoutResend());
  // A resend that could not go out still waits its (doubled) time-out.
  if (!ended_ && !timer_->isActive()) ArmTimer();
}

bool TftpTransfer::EveryBlockArrived() const {
  // Lock-step sends the last block only after the one before it was
  // acknowledged; a window may send it with earlier blocks still unconfirmed.
  return lastBlockOut_ && window_.Acknowledged() >= window_.LastBlock() - 1;
}

void TftpTransfer::GiveUp() {
  if (ended_) return;
  lastBlockOut_ = false;  // time is up: an unconfirmed last block is no completion
  End();
}

void TftpTransfer::End() {
  if (ended_) return;
  ended_ = true;
  timer_->stop();
  paceTimer_->stop();
  if (!completed_ && sending_) {
    if (!clientBrokeOff_ && EveryBlockArrived()) {
      // Only the closing ACK is missing.
      ReportCompletion();
    } else {
      TimedLock lock(TftpGetServerMutex(), kTftpGetServerWaitMs);
      server_->ReportEvent(kTftpEventClientLost, QString(), clientText_, id_, filePath_);
    }
  }
  // The port and the data go back at once, not when the object goes: a
  // server left running all day must not collect them.
  source_.Close();
  socket_->Close();
  TimedLock lock(TftpGetServerMutex(), kTftpGetServerWaitMs);
  server_->TransferEnded(this);
}

}  // namespace fwl
