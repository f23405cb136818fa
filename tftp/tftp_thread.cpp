#include "tftp/tftp_thread.h"

#include <QTimer>

#include "tftp/tftp_server.h"

namespace fwl {

namespace {
constexpr int kStopPollMs = 20;
}

CTFTPThread::CTFTPThread(QObject* parent) : QThread(parent) {}

CTFTPThread::~CTFTPThread() {
  RequestStop();
  wait();
}

void CTFTPThread::SetFolder(const QString& folder) { folder_ = folder; }
void CTFTPThread::SetListenPort(int port) { listenPort_ = port; }
void CTFTPThread::SetBindAddress(const QHostAddress& address) { bindAddress_ = address; }
void CTFTPThread::SetRetransmitInterval(int milliseconds) { retransmitMs_ = milliseconds; }

void CTFTPThread::RequestStop() { stopRequested_ = true; }

QStringList CTFTPThread::ErrorTexts() const {
  std::lock_guard<std::mutex> lock(errorMutex_);
  return errorTexts_;
}

QString CTFTPThread::StartFailureReason() const {
  std::lock_guard<std::mutex> lock(errorMutex_);
  return startFailureReason_;
}

QList<int> CTFTPThread::ErrorCodes() const {
  std::lock_guard<std::mutex> lock(errorMutex_);
  return errorCodes_;
}

void CTFTPThread::run() {
  TftpServer server;
  server.SetEventCallback(
      [this](const TftpEvent& event, void*) {
        if (event.kind == kTftpEventTransferComplete) {
          stopRequested_ = true;
        } else if (event.kind == kTftpEventFileNotFound) {
          {
            std::lock_guard<std::mutex> lock(errorMutex_);
            errorTexts_ << event.text;
            errorCodes_ << kTftpEventFileNotFound;
          }
          stopRequested_ = true;
        }
      },
      this);
  server.SetOutboundFolder(folder_);
  if (listenPort_ >= 0) server.SetListenPort(listenPort_);
  server.SetBindAddress(bindAddress_);
  server.SetRetransmitInterval(retransmitMs_);
  const int started = server.Start();
  if (started != 0) {
    std::lock_guard<std::mutex> lock(errorMutex_);
    startFailureReason_ = server.StartFailureReason();
  }
  startResult_ = started;
  if (startResult_ != 0) {
    // Nothing will ever be served: the creator learns it at once instead of
    // waiting for a download that cannot come.
    emit Shutdown();
    return;
  }
  // Stopping happens from the loop, never inside a server callback.
  QTimer poll;
  connect(&poll, &QTimer::timeout, &poll, [this, &server] {
    if (!stopRequested_ || !server.IsRunning()) return;
    server.Stop();
    emit Shutdown();
    quit();
  });
  poll.start(kStopPollMs);
  exec();
  if (server.IsRunning()) server.Stop();
}

}  // namespace fwl
