// A thread that runs one TFTP server for a single download (the switch's
// information package) and tells its creator, by the queued Shutdown()
// signal, once that server has stopped.
#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>
#include <QThread>
#include <atomic>
#include <mutex>

namespace fwl {

class CTFTPThread : public QThread {
  Q_OBJECT

 public:
  explicit CTFTPThread(QObject* parent = nullptr);
  ~CTFTPThread() override;  // requests a stop and waits for the thread

  // Configuration; call before start().
  void SetFolder(const QString& folder);  // served as the outbound folder
  // Optional: listen port and address for this server (default: the stored
  // "listen" setting on every address).
  void SetListenPort(int port);
  void SetBindAddress(const QHostAddress& address);
  // Optional: retransmission interval in milliseconds (default 3000).
  void SetRetransmitInterval(int milliseconds);

  // Asks the server to stop (as a completed download would); thread-safe.
  void RequestStop();

  // Result of the server's Start() once the thread has started it: 0 or -1;
  // 1 while not yet started. Thread-safe.
  int StartResult() const { return startResult_.load(); }
  // Why Start() failed (the server's StartFailureReason()), once
  // StartResult() is -1; empty otherwise. Thread-safe.
  QString StartFailureReason() const;
  // Texts and codes of the errors seen (event 4 "file not found"). Thread-safe.
  QStringList ErrorTexts() const;
  QList<int> ErrorCodes() const;

 signals:
  // Emitted once when the server has stopped after a completed download,
  // a missing file, RequestStop(), or a failed Start(). Connect with a
  // queued (or auto) connection; the receiver usually ends the thread with
  // quit() and wait().
  void Shutdown();

 protected:
  void run() override;

 private:
  QString folder_;
  int listenPort_ = -1;
  QHostAddress bindAddress_{QHostAddress::AnyIPv4};
  int retransmitMs_ = 3000;
  std::atomic<bool> stopRequested_{false};
  std::atomic<int> startResult_{1};
  mutable std::mutex errorMutex_;
  QStringList errorTexts_;
  QString startFailureReason_;
  QList<int> errorCodes_;
};

}  // namespace fwl
