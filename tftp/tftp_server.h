// The built-in TFTP server from which stations and switches fetch their
// images: one listening UDP socket, the registry of client transfers, the
// owner's status and event callbacks and the optional log file.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

class QUdpSocket;

namespace fwl {

class TftpDatagramSocket;
class TftpLog;
class TftpRouter;
class TftpTransfer;

// Event kinds sent to the event callback.
inline constexpr int kTftpEventTransferStarted = 1;   // read (or write) request accepted
inline constexpr int kTftpEventTransferComplete = 2;  // the file went out completely
inline constexpr int kTftpEventClientLost = 3;        // transfer given up, or broken off by its client
inline constexpr int kTftpEventFileNotFound = 4;      // requested file does not exist

// Transfers running at once: from one client address, and in all. A request
// beyond either limit is refused with ERROR 0 before anything is allocated,
// so a flood from one address cannot starve the unit being loaded.
inline constexpr int kTftpMaxTransfersPerClient = 8;
inline constexpr int kTftpMaxTransfers = 256;

// Flags of the status callback.
inline constexpr int kTftpStatusProgress = -1;
inline constexpr int kTftpStatusComplete = 1;

// One notification to the owner. `clientAddress` is the client's dotted address.
struct TftpEvent {
  int kind = 0;
  QString text;  // kind 4: "The requested file %s was not found on the server."
  QString clientAddress;
  // Which transfer it is about, so an owner can follow each download from
  // its start to its end however the events of several transfers interleave:
  // the transfer id (as in the status callback; -1 when none) and the path
  // of the file it serves.
  int transferId = -1;
  QString filePath;
};

// (transfer id, progress or completion text, flag -1 progress / 1 complete, user value)
using TftpStatusCallback = std::function<void(int, const QString&, int, void*)>;
// (event, user value)
using TftpEventCallback = std::function<void(const TftpEvent&, void*)>;
// Every line handed to Log(), whether or not a log file is kept.
using TftpLogCallback = std::function<void(const QString&)>;

class TftpServer : public QObject {
  Q_OBJECT

 public:
  // The folders start as the platform's root folder; Start() replaces them
  // by the stored settings.
  explicit TftpServer(QObject* parent = nullptr);
  ~TftpServer() override;  // stops a running server

  TftpServer(const TftpServer&) = delete;
  TftpServer& operator=(const TftpServer&) = delete;

  // --- Configuration. Setters marked "persists" write their value to the
  // "tftp settings" section at once; Start() reads those values back. ---

  // UDP port of the listening socket (persists "listen"). 0 lets the system
  // choose; ListeningPort() then tells which port it took.
  void SetListenPort(int port);
  // Local address to listen on; not persisted. Default: every IPv4 address.
  // Tests and the simulators use 127.0.0.1.
  void SetBindAddress(const QHostAddress& address);
  // Folders for written and served files (persist "inbound" / "outbound").
  // A file path is the folder followed by the requested bare file name.
  void SetInboundFolder(const QString& path);
  void SetOutboundFolder(const QString& path);
  // Retransmissions per packet, 0..10 (persists "retries"); other values are
  // ignored and nothing is written.
  void SetRetries(int retries);
  // Seconds 1..10 (persists "timeout"); other values are ignored. Stored for
  // the record: the retransmission interval is SetRetransmitInterval's.
  void SetTimeout(int seconds);
  // Retransmission interval in milliseconds for new transfers (default 3000,
  // not persisted; 1..255000). A client's "timeout" option overrides it for
  // its own transfer.
  void SetRetransmitInterval(int milliseconds);
  // True: each transfer's retransmission time-out follows its measured
  // round trips, never below 10 ms nor above the retransmission interval;
  // false: the fixed interval (persists "adaptive", 1 or 0).
  void SetAdaptive(bool adaptive);
  // Bit 0 set: progress and completion texts are bare percentages.
  void SetPercentOnly(int flag);
  // Callbacks (either may be empty). They run on the server's thread.
  void SetStatusCallback(TftpStatusCallback callback, void* user);
  void SetEventCallback(TftpEventCallback callback, void* user);
  void SetLogCallback(TftpLogCallback callback);
  // Optional (not owned): a request from a client the router knows is
  // served from the router's folder and its events and status texts go to
  // the router; every other request is served and reported as without one.
  void SetRouter(TftpRouter* router) { router_ = router; }
  // Persists "log to file" and "log file". When enabled, an existing log is
  // read back (its lines keep their time stamps) and the writer thread
  // starts. A log that cannot be read shows "Unable to open %s for
  // reading/writing." and turns logging off.
  void SetLogging(bool enabled, const QString& path);

  // Reads `path` into memory so that requests resolving to that very path
  // (compared without regard to case) are served from memory, shared by all
  // transfers. Returns false after "Transfer aborted." in the log when the
  // file is missing (also a message box) or unreadable.
  bool PreloadFile(const QString& path);

  // Reads the stored settings through the setters and opens the listening
  // socket. 0 on success ("Server started, listening on port %d..."), -1 on
  // failure ("Unable to start server. Error = 0x%08lX." in the log, the
  // code being the Winsock-style number, 0x00002740 for a port in use).
  int Start();
  // Stops accepting requests, gives running transfers at most 6 s in all to
  // end by themselves, ends the rest as lost (event 3), finishes the log
  // file. Safe to call when not running.
  void Stop();
  bool IsRunning() const { return running_; }

  // One log line (kept when logging to a file; always passed to the log
  // callback).
  void Log(const QString& text);

  // --- Read-back, for owners, the command line and tests. ---
  int ListenPort() const { return listenPort_; }
  quint16 ListeningPort() const;  // actual bound port while running, else 0
  QHostAddress BindAddress() const { return bindAddress_; }
  QString InboundFolder() const { return inboundFolder_; }
  QString OutboundFolder() const { return outboundFolder_; }
  int Retries() const { return retries_; }
  int Timeout() const { return timeout_; }
  int RetransmitInterval() const { return retransmitMs_; }
  bool Adaptive() const { return adaptive_; }
  int PercentOnly() const { return percentOnly_; }
  // Why the last Start() failed, for the line under "Failed to start TFTP
  // server.": the port in use, or the permission denied with the ways out.
  // Empty after a successful start.
  QString StartFailureReason() const { return startFailureReason_; }
  bool LogToFile() const;
  QString LogFilePath() const;
  int TransfersStarted() const { return transfersStarted_; }
  // True when every transfer created so far has ended.
  bool AllTransfersEnded() const { return transfers_.empty(); }
  // Transfers running now (ended ones are freed as they end).
  int ActiveTransfers() const { return static_cast<int>(transfers_.size()); }

  // --- Used by TftpTransfer. ---
  // True when `path` is served from memory; PreloadedData() is then the
  // copy that matched (the server's own, or the router's shared one).
  bool HasPreloadFor(const QString& path);
  bool HasStatusCallback() const { return statusCallback_ || router_; }
  const QByteArray& PreloadedData() const { return matchedPreload_; }
  void ReportStatus(int transferId, const QString& text, int flag);
  void ReportEvent(int kind, const QString& text, const QString& clientAddress, int transferId = -1,
                   const QString& filePath = QString());
  void LogForClient(const QString& clientAddress, quint16 clientPort, const QString& text);
  // An ended transfer hands itself back: it leaves the registry, so its
  // client may ask again, and is destroyed once control returns to the
  // event loop.
  void TransferEnded(TftpTransfer* transfer);

 private:
  void OnListenReadyRead();
  void HandleRequest(const QByteArray& datagram, const QHostAddress& sender, quint16 senderPort,
                     const QHostAddress& localAddress);
  TftpDatagramSocket* OpenTransferSocket(const QHostAddress& localAddress);
  QString ServedPath(const QString& folder, const QString& requestedName) const;
  bool RefuseIfBusy(quint32 clientIp, const QHostAddress& client, quint16 clientPort);

  // Settings.
  int listenPort_ = 69;
  QHostAddress bindAddress_{QHostAddress::AnyIPv4};
  QString inboundFolder_;
  QString outboundFolder_;
  int retries_ = 3;
  int timeout_ = 3;
  int retransmitMs_ = 3000;
  bool adaptive_ = true;
  int percentOnly_ = 0;

  // Preloaded file.
  QString preloadPath_;
  QByteArray preloadData_;
  QByteArray matchedPreload_;
  TftpRouter* router_ = nullptr;

  TftpStatusCallback statusCallback_;
  void* statusUser_ = nullptr;
  TftpEventCallback eventCallback_;
  void* eventUser_ = nullptr;
  TftpLogCallback logCallback_;
  std::unique_ptr<TftpLog> log_;

  // Running transfers: (client address, client port) -> transfer, the
  // number per client address, and the list in creation order.
  std::map<std::pair<quint32, quint16>, TftpTransfer*> byClient_;
  std::map<quint32, int> perClient_;
  std::vector<TftpTransfer*> transfers_;
  int nextTransferId_ = 0;
  int transfersStarted_ = 0;

  QUdpSocket* listenSocket_ = nullptr;
  bool running_ = false;
  bool stopping_ = false;
  bool inStop_ = false;
  QString startFailureReason_;
};

// "Failed to start TFTP server." and, on the next line, the server's
// StartFailureReason() when it has one: the box every owner shows when
// Start() fails.
inline constexpr char kTftpStartFailed[] = "Failed to start TFTP server.";
QString TftpStartFailureMessage(const TftpServer& server);
// The same box for a server whose reason came another way (a server thread).
QString TftpStartFailureMessage(const QString& reason);

}  // namespace fwl
