// The one TFTP server of a batch: it runs on a thread of its own, and each
// load opens a session for its unit's address, so the news of that unit's
// transfers reach that load's thread and its folder serves that unit. Each
// image is read once and served from memory to every unit that fetches it.
// A request from an address no session expects is served as by any server.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QThread>
#include <map>
#include <memory>
#include <mutex>

#include "tftp/tftp_router.h"
#include "tftp/tftp_service.h"

namespace fwl {

class TftpServer;

struct SharedTftpSettings {
  int port = 69;
  QHostAddress bindAddress{QHostAddress::AnyIPv4};
  int retransmitMs = 3000;
};

class SharedTftpServer final : public TftpService, private TftpRouter {
 public:
  explicit SharedTftpServer(const SharedTftpSettings& settings);
  ~SharedTftpServer() override;  // stops the server and its thread
  SharedTftpServer(const SharedTftpServer&) = delete;
  SharedTftpServer& operator=(const SharedTftpServer&) = delete;

  // Starts the thread and the server on it. False with `error` (the
  // server's reason) when the port cannot be opened.
  bool Start(QString* error);
  // Stops the server (running transfers get its usual few seconds) and the
  // thread. Sessions still open hear nothing more.
  void Stop();
  quint16 Port() const { return port_; }

  // TftpService. Reads each preload file not yet in memory; a file that
  // cannot be read is simply served from disk.
  std::unique_ptr<TftpSession> Open(const TftpSessionRequest& request, QString* error) override;

  // Bytes of images held in memory (each file once).
  qint64 CachedBytes() const;

 private:
  struct Route {
    QObject* context = nullptr;  // lives on the opener's thread
    QString folder;
    std::function<void(const TftpEvent&)> onEvent;
    std::function<void(int, const QString&, int)> onStatus;
  };
  class Session;

  void Close(quint32 clientIp, QObject* context);
  void CacheFile(const QString& path);

  // TftpRouter (server thread).
  bool RouteFolder(quint32 clientIp, QString* folder) override;
  QByteArray Preloaded(const QString& path) override;
  bool DeliverEvent(quint32 clientIp, const TftpEvent& event) override;
  bool DeliverStatus(quint32 clientIp, int transferId, const QString& text, int flag) override;

  SharedTftpSettings settings_;
  QThread thread_;
  QObject* anchor_ = nullptr;  // lives on thread_
  TftpServer* server_ = nullptr;
  quint16 port_ = 0;
  bool running_ = false;

  mutable std::mutex routeMutex_;
  std::map<quint32, Route> routes_;
  std::mutex readMutex_;
  mutable std::mutex cacheMutex_;
  QHash<QString, QByteArray> cache_;  // clean absolute path -> contents
};

}  // namespace fwl
