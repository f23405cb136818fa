#include "tftp/tftp_server.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QNetworkDatagram>
#include <QRandomGenerator>
#include <QUdpSocket>
#include <algorithm>
#include <new>

#include "app/settings.h"
#include "platform/ui.h"
#include "platform/wait_pumping.h"
#include "tftp/tftp_datagram_socket.h"
#include "tftp/tftp_log.h"
#include "tftp/tftp_packet.h"
#include "tftp/tftp_router.h"
#include "tftp/tftp_transfer.h"

namespace fwl {

namespace {

constexpr int kFirstTransferPort = 1000;
constexpr int kTransferPortCount = 500;
// How long Stop() lets running transfers finish by themselves, all together.
constexpr int kTransferEndWaitMs = 6000;
// How long Stop() waits for the log writer's last save.
constexpr int kLogWriterWaitMs = 25000;
constexpr int kReadPiece = 8192;

QString CleanAbsolute(const QString& path) {
  return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

// The line under "Failed to start TFTP server.": what stands in the way
// and how to get past it.
QString StartFailureText(unsigned long code, int port, const QString& detail) {
  if (code == 10048) {
    return QString("UDP port %1 is already in use by another program (another TFTP server?). "
                   "Stop that program, or use another port.")
        .arg(port);
  }
  if (code == 10013) {
    const QString program = QCoreApplication::instance()
                                ? QCoreApplication::applicationFilePath()
                                : QString("PROGRAM");
    return QString("Permission denied for UDP port %1: only privileged programs may use ports "
                   "below 1024. Run the program as root, or give it that right with "
                   "\"sudo setcap cap_net_bind_service=+ep %2\", or open the low ports to "
                   "every user with \"sudo sysctl net.ipv4.ip_unprivileged_port_start=%1\".")
        .arg(port)
        .arg(program);
  }
  return QString("UDP port %1 could not be opened: %2.").arg(port).arg(detail);
}

}  // namespace

TftpServer::TftpServer(QObject* parent)
    : QObject(parent),
      inboundFolder_(QDir::rootPath()),
      outboundFolder_(QDir::rootPath()),
      log_(std::make_unique<TftpLog>()) {}

TftpServer::~TftpServer() {
  Stop();
  log_->StopWriter(kLogWriterWaitMs);
}

void TftpServer::SetListenPort(int port) {
  listenPort_ = port;
  SetSettingInt(kSectionTftp, "listen", port);
}

void TftpServer::SetBindAddress(const QHostAddress& address) { bindAddress_ = address; }

void TftpServer::SetInboundFolder(const QString& path) {
  inboundFolder_ = path;
  SetSettingText(kSectionTftp, "inbound", path);
}

void TftpServer::SetOutboundFolder(const QString& path) {
  outboundFolder_ = path;
  SetSettingText(kSectionTftp, "outbound", path);
}

void TftpServer::SetRetries(int retries) {
  if (retries < 0 || retries > 10) return;
  retries_ = retries;
  SetSettingInt(kSectionTftp, "retries", retries);
}

void TftpServer::SetTimeout(int seconds) {
  if (seconds < 1 || seconds > 10) return;
  timeout_ = seconds;
  SetSettingInt(kSectionTftp, "timeout", seconds);
}

void TftpServer::SetRetransmitInterval(int milliseconds) {
  if (milliseconds < 1 || milliseconds > 255000) return;
  retransmitMs_ = milliseconds;
}

void TftpServer::SetAdaptive(bool adaptive) {
  adaptive_ = adaptive;
  SetSettingInt(kSectionTftp, "adaptive", adaptive ? 1 : 0);
}

void TftpServer::SetPercentOnly(int flag) { percentOnly_ = flag; }

void TftpServer::SetStatusCallback(TftpStatusCallback callback, void* user) {
  statusCallback_ = std::move(callback);
  statusUser_ = user;
}

void TftpServer::SetEventCallback(TftpEventCallback callback, void* user) {
  eventCallback_ = std::move(callback);
  eventUser_ = user;
}

void TftpServer::SetLogCallback(TftpLogCallback callback) { logCallback_ = std::move(callback); }

void TftpServer::SetLogging(bool enabled, const QString& path) {
  SetSettingText(kSectionTftp, "log file", path);
  SetSettingInt(kSectionTftp, "log to file", enabled ? 1 : 0);
  log_->Configure(enabled, path);
}

bool TftpServer::LogToFile() const { return log_->Enabled(); }

QString TftpServer::LogFilePath() const { return log_->Path(); }

void TftpServer::Log(const QString& text) {
  log_->Append(text);
  if (logCallback_) logCallback_(text);
}

void TftpServer::LogForClient(const QString& clientAddress, quint16 clientPort,
                              const QString& text) {
  Log(QString("Client IP = %1, port = %2: %3").arg(clientAddress).arg(clientPort).arg(text));
}

bool TftpServer::PreloadFile(const QString& path) {
  preloadPath_.clear();
  preloadData_ = QByteArray();
  const QFileInfo info(path);
  if (!info.exists()) {
    Log("Transfer aborted.");
    ShowMessage(QString("The requested file %1 was not found on the server.").arg(path));
    return false;
  }
  QFile file(path);
  if (!info.isFile() || !file.open(QIODevice::ReadOnly)) {
    Log("Transfer aborted.");
    return false;
  }
  QElapsedTimer timer;
  timer.start();
  const qint64 size = file.size();
  QByteArray data;
  try {
    data.resize(size);
  } catch (const std::bad_alloc&) {
    Log("Transfer aborted.");
    return false;
  }
  qint64 total = 0;
  while (total < size) {
    const qint64 piece = file.read(data.data() + total, qMin<qint64>(kReadPiece, size - total));
    if (piece <= 0) break;
    total += piece;
  }
  data.truncate(total);
  preloadData_ = data;
  preloadPath_ = path;
  Log(QString("Time to read %1 = %2.").arg(path, QString::number(timer.elapsed())));
  return true;
}

bool TftpServer::HasPreloadFor(const QString& path) {
  if (!preloadPath_.isEmpty() &&
      (preloadPath_.compare(path, Qt::CaseInsensitive) == 0 ||
       CleanAbsolute(preloadPath_).compare(CleanAbsolute(path), Qt::CaseInsensitive) == 0)) {
    matchedPreload_ = preloadData_;
    return true;
  }
  if (router_) {
    matchedPreload_ = router_->Preloaded(path);
    if (!matchedPreload_.isNull()) return true;
  }
  matchedPreload_ = QByteArray();
  return false;
}

int TftpServer::Start() {
  if (running_) return 0;
  // The stored values go through the setters, which write them back: after
  // a start the store holds every value the server ran with, defaults too.
  SetInboundFolder(GetSettingText(kSectionTftp, "inbound", ""));
  SetOutboundFolder(GetSettingText(kSectionTftp, "outbound", ""));
  SetListenPort(GetSettingInt(kSectionTftp, "listen", 69));
  SetRetries(GetSettingInt(kSectionTftp, "retries", 3));
  SetTimeout(GetSettingInt(kSectionTftp, "timeout", 3));
  SetAdaptive(GetSettingInt(kSectionTftp, "adaptive", 1) != 0);
  // The list is emptied before an old log is read back, so that log's lines
  // are kept in the file rather than dropped on the first save.
  log_->Clear();
  SetLogging(GetSettingInt(kSectionTftp, "log to file", 0) != 0,
             GetSettingText(kSectionTftp, "log file", ""));
  stopping_ = false;
  transfersStarted_ = 0;

  startFailureReason_.clear();
  if (listenPort_ < 0 || listenPort_ > 65535) {
    Log(QString::asprintf("Unable to start server. Error = 0x%08lX.", 10049UL));
    startFailureReason_ = QString("%1 is not a UDP port number.").arg(listenPort_);
    return -1;
  }
  auto* socket = new QUdpSocket(this);
  if (!socket->bind(bindAddress_, static_cast<quint16>(listenPort_),
                    QAbstractSocket::DontShareAddress)) {
    const unsigned long code = TftpSocketErrorCode(socket->error());
    startFailureReason_ = StartFailureText(code, listenPort_, socket->errorString());
    delete socket;
    Log(QString::asprintf("Unable to start server. Error = 0x%08lX.", code));
    return -1;
  }
  listenSocket_ = socket;
  connect(listenSocket_, &QUdpSocket::readyRead, this, &TftpServer::OnListenReadyRead);
  running_ = true;
  Log(QString("Server started, listening on port %1...").arg(listenPort_));
  return 0;
}

quint16 TftpServer::ListeningPort() const {
  return (running_ && listenSocket_) ? listenSocket_->localPort() : 0;
}

void TftpServer::OnListenReadyRead() {
  while (listenSocket_ && listenSocket_->hasPendingDatagrams()) {
    const QNetworkDatagram datagram = listenSocket_->receiveDatagram(tftp::kMaxRequestSize);
    if (!datagram.isValid()) {
      Log(QString::asprintf("RecvFrom() error = %08lX",
                            TftpSocketErrorCode(listenSocket_->error())));
      continue;
    }
    if (stopping_) continue;
    HandleRequest(datagram.data(), datagram.senderAddress(),
                  static_cast<quint16>(datagram.senderPort()), datagram.destinationAddress());
  }
}

QString TftpServer::ServedPath(const QString& folder, const QString& requestedName) const {
  QString path = folder;
  if (!path.isEmpty() && !path.endsWith('/') && !path.endsWith('\\')) path += '/';
  return path + tftp::BareFileName(requestedName);
}

TftpDatagramSocket* TftpServer::OpenTransferSocket(const QHostAddress& localAddress) {
  // Replies leave from the address the request came to: some embedded
  // clients drop packets from another address of the same computer.
  QHostAddress local = localAddress;
  if (local.isNull() || local == QHostAddress::Any || local == QHostAddress::AnyIPv4) {
    local = bindAddress_;
  }
  if (local.protocol() == QAbstractSocket::IPv6Protocol && local.toIPv4Address() != 0) {
    local = QHostAddress(local.toIPv4Address());
  }
  // Start at a random port of the range but take the first free one, so
  // requests that arrive together each get their own port.
  const int offset = static_cast<int>(QRandomGenerator::global()->bounded(kTransferPortCount));
  auto* socket = new TftpDatagramSocket(this);
  for (int i = 0; i < kTransferPortCount; ++i) {
    const auto port = static_cast<quint16>(kFirstTransferPort + (offset + i) % kTransferPortCount);
    if (socket->Bind(local, port)) return socket;
  }
  delete socket;
  return nullptr;
}

bool TftpServer::RefuseIfBusy(quint32 clientIp, const QHostAddress& client, quint16 clientPort) {
  const auto found = perClient_.find(clientIp);
  const int fromClient = found == perClient_.end() ? 0 : found->second;
  if (fromClient < kTftpMaxTransfersPerClient && ActiveTransfers() < kTftpMaxTransfers) {
    return false;
  }
  listenSocket_->writeDatagram(tftp::MakeError(0, "Too many transfers; try again later."), client,
                               clientPort);
  return true;
}

void TftpServer::HandleRequest(const QByteArray& datagram, const QHostAddress& sender,
                               quint16 senderPort, const QHostAddress& localAddress) {
  const std::optional<tftp::Request> request = tftp::ParseRequest(datagram);
  if (!request) return;
  QHostAddress client = sender;
  if (client.protocol() == QAbstractSocket::IPv6Protocol && client.toIPv4Address() != 0) {
    client = QHostAddress(client.toIPv4Address());
  }
  const quint32 clientIp = client.toIPv4Address();
  const auto key = std::make_pair(clientIp, senderPort);
  const bool isRead = request->opcode == tftp::kOpRrq;
  // A read request repeated while its transfer still runs is a client
  // retransmitting, not a new fetch. Once that transfer has ended the same
  // port may ask again: a unit that reboots, or a script's thousandth fetch,
  // can come back on a port it used before.
  if (isRead && byClient_.count(key)) return;
  if (isRead && RefuseIfBusy(clientIp, client, senderPort)) return;
  Log(QString("** %1 (mode = %2) for %3 found.")
          .arg(isRead ? "RRQ" : "WRQ", request->mode, request->fileName));
  ++transfersStarted_;
  QString folder = isRead ? outboundFolder_ : inboundFolder_;
  if (router_) router_->RouteFolder(clientIp, &folder);
  const QString path = ServedPath(folder, request->fileName);

  TftpDatagramSocket* socket = OpenTransferSocket(localAddress);
  if (!socket) {
    Log("Failed to create client socket.");
    return;
  }
  auto* transfer = new TftpTransfer(this, nextTransferId_++, socket, path, client, senderPort,
                                    request->options, percentOnly_, retransmitMs_);
  transfer->SetAdaptive(adaptive_);
  if (isRead) byClient_[key] = transfer;
  ++perClient_[clientIp];
  transfers_.push_back(transfer);
  // Either may end the transfer at once; it is not touched afterwards.
  if (isRead) {
    transfer->Begin();
  } else {
    transfer->BeginWrite();
  }
}

void TftpServer::TransferEnded(TftpTransfer* transfer) {
  const auto found = std::find(transfers_.begin(), transfers_.end(), transfer);
  // A transfer made outside the request path (tests) is not the server's to free.
  if (found == transfers_.end()) return;
  transfers_.erase(found);
  const auto key = std::make_pair(transfer->ClientIp(), transfer->ClientPort());
  const auto entry = byClient_.find(key);
  if (entry != byClient_.end() && entry->second == transfer) byClient_.erase(entry);
  const auto count = perClient_.find(transfer->ClientIp());
  if (count != perClient_.end() && --count->second <= 0) perClient_.erase(count);
  // Deferred: this runs inside the transfer's own handlers.
  transfer->deleteLater();
}

void TftpServer::ReportStatus(int transferId, const QString& text, int flag) {
  if (router_) {
    for (const TftpTransfer* transfer : transfers_) {
      if (transfer->Id() == transferId) {
        if (router_->DeliverStatus(transfer->ClientIp(), transferId, text, flag)) return;
        break;
      }
    }
  }
  if (!statusCallback_) return;
  TimedLock lock(TftpStatusMutex(), kTftpLockWaitMs);
  statusCallback_(transferId, text, flag, statusUser_);
}

void TftpServer::ReportEvent(int kind, const QString& text, const QString& clientAddress,
                             int transferId, const QString& filePath) {
  if (router_ &&
      router_->DeliverEvent(QHostAddress(clientAddress).toIPv4Address(),
                            TftpEvent{kind, text, clientAddress, transferId, filePath})) {
    return;
  }
  if (!eventCallback_) return;
  eventCallback_(TftpEvent{kind, text, clientAddress, transferId, filePath}, eventUser_);
}

void TftpServer::Stop() {
  if (inStop_) return;
  inStop_ = true;
  stopping_ = true;
  // Running transfers get a few seconds in all to finish (not each: with
  // many silent clients the waits would add up to minutes); the event loop
  // keeps running meanwhile so that they actually can.
  if (!transfers_.empty()) {
    WaitPumpingUntil([this] { return transfers_.empty(); }, kTransferEndWaitMs, 10);
  }
  const std::vector<TftpTransfer*> pending = transfers_;
  for (TftpTransfer* transfer : pending) transfer->GiveUp();  // each leaves the list
  for (TftpTransfer* transfer : transfers_) transfer->deleteLater();
  transfers_.clear();
  byClient_.clear();
  perClient_.clear();
  if (log_->WriterRunning() && !log_->StopWriter(kLogWriterWaitMs)) {
    ShowMessage("Failed to complete the log file save.\nCheck log file size.", "Error",
                UiIcon::kError);
  }
  if (listenSocket_) {
    listenSocket_->close();
    listenSocket_->deleteLater();
    listenSocket_ = nullptr;
  }
  running_ = false;
  inStop_ = false;
}

QString TftpStartFailureMessage(const TftpServer& server) {
  return TftpStartFailureMessage(server.StartFailureReason());
}

QString TftpStartFailureMessage(const QString& reason) {
  return reason.isEmpty() ? QString(kTftpStartFailed)
                          : QString("%1\n%2").arg(kTftpStartFailed, reason);
}

}  // namespace fwl
