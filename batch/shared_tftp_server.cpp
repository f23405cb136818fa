#include "batch/shared_tftp_server.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "tftp/tftp_server.h"

namespace fwl {
namespace {

// Larger files are served from disk block by block rather than held.
constexpr qint64 kMaxCachedFile = qint64(256) << 20;

QString CacheKey(const QString& path) {
  return QDir::cleanPath(QFileInfo(path).absoluteFilePath()).toLower();
}

}  // namespace

class SharedTftpServer::Session final : public TftpSession {
 public:
  Session(SharedTftpServer& owner, quint32 clientIp, QObject* context)
      : owner_(owner), clientIp_(clientIp), context_(context) {}
  ~Session() override {
    // The route goes first: once it is gone no more news are posted to the
    // context, and deleting the context drops those still queued.
    owner_.Close(clientIp_, context_);
    delete context_;
  }

 private:
  SharedTftpServer& owner_;
  quint32 clientIp_;
  QObject* context_;
};

SharedTftpServer::SharedTftpServer(const SharedTftpSettings& settings) : settings_(settings) {}

SharedTftpServer::~SharedTftpServer() { Stop(); }

bool SharedTftpServer::Start(QString* error) {
  if (running_) return true;
  thread_.setObjectName(QStringLiteral("batch tftp"));
  thread_.start();
  anchor_ = new QObject;
  anchor_->moveToThread(&thread_);
  int result = -1;
  QString reason;
  QMetaObject::invokeMethod(
      anchor_,
      [this, &result, &reason] {
        server_ = new TftpServer;
        server_->SetListenPort(settings_.port);
        server_->SetBindAddress(settings_.bindAddress);
        server_->SetRetries(2);
        server_->SetTimeout(3);
        server_->SetRetransmitInterval(settings_.retransmitMs);
        server_->SetPercentOnly(1);
        server_->SetRouter(this);
        result = server_->Start();
        if (result < 0) {
          reason = TftpStartFailureMessage(*server_);
          delete server_;
          server_ = nullptr;
        } else {
          port_ = server_->ListeningPort();
        }
      },
      Qt::BlockingQueuedConnection);
  if (result < 0) {
    if (error) *error = reason;
    Stop();
    return false;
  }
  running_ = true;
  return true;
}

void SharedTftpServer::Stop() {
  if (anchor_) {
    QMetaObject::invokeMethod(
        anchor_,
        [this] {
          if (server_) {
            server_->Stop();
            delete server_;
            server_ = nullptr;
          }
          delete anchor_;
        },
        Qt::BlockingQueuedConnection);
    anchor_ = nullptr;
  }
  thread_.quit();
  thread_.wait();
  running_ = false;
  port_ = 0;
}

void SharedTftpServer::CacheFile(const QString& path) {
  const QString key = CacheKey(path);
  // One reader at a time, so loads that open together read a file once.
  std::lock_guard<std::mutex> reading(readMutex_);
  {
    std::lock_guard<std::mutex> lock(cacheMutex_);
    if (cache_.contains(key)) return;
  }
  const QFileInfo info(path);
  if (!info.isFile() || info.size() > kMaxCachedFile) return;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return;
  const QByteArray data = file.readAll();
  if (data.size() != info.size()) return;
  std::lock_guard<std::mutex> lock(cacheMutex_);
  if (!cache_.contains(key)) cache_.insert(key, data);
}

qint64 SharedTftpServer::CachedBytes() const {
  std::lock_guard<std::mutex> lock(cacheMutex_);
  qint64 total = 0;
  for (const QByteArray& data : cache_) total += data.size();
  return total;
}

std::unique_ptr<TftpSession> SharedTftpServer::Open(const TftpSessionRequest& request,
                                                    QString* error) {
  if (!running_) {
    if (error) *error = QStringLiteral("The batch's TFTP server is not running.");
    return nullptr;
  }
  QHostAddress address;
  if (!address.setAddress(request.clientAddress) ||
      address.protocol() != QAbstractSocket::IPv4Protocol) {
    if (error) *error = QStringLiteral("%1 is not an IPv4 address.").arg(request.clientAddress);
    return nullptr;
  }
  for (const QString& path : request.preload) CacheFile(path);
  const quint32 ip = address.toIPv4Address();
  auto* context = new QObject;  // on the calling thread
  {
    std::lock_guard<std::mutex> lock(routeMutex_);
    if (routes_.count(ip)) {
      delete context;
      if (error) {
        *error = QStringLiteral("Another load already expects transfers from %1.")
                     .arg(request.clientAddress);
      }
      return nullptr;
    }
    Route route;
    route.context = context;
    route.folder = request.folder;
    route.onEvent = request.onEvent;
    route.onStatus = request.onStatus;
    routes_.emplace(ip, std::move(route));
  }
  return std::make_unique<Session>(*this, ip, context);
}

void SharedTftpServer::Close(quint32 clientIp, QObject* context) {
  std::lock_guard<std::mutex> lock(routeMutex_);
  const auto found = routes_.find(clientIp);
  if (found != routes_.end() && found->second.context == context) routes_.erase(found);
}

bool SharedTftpServer::RouteFolder(quint32 clientIp, QString* folder) {
  std::lock_guard<std::mutex> lock(routeMutex_);
  const auto found = routes_.find(clientIp);
  if (found == routes_.end()) return false;
  *folder = found->second.folder;
  return true;
}

QByteArray SharedTftpServer::Preloaded(const QString& path) {
  std::lock_guard<std::mutex> lock(cacheMutex_);
  return cache_.value(CacheKey(path));
}

bool SharedTftpServer::DeliverEvent(quint32 clientIp, const TftpEvent& event) {
  std::lock_guard<std::mutex> lock(routeMutex_);
  const auto found = routes_.find(clientIp);
  if (found == routes_.end()) return false;
  if (found->second.onEvent) {
    QMetaObject::invokeMethod(
        found->second.context, [callback = found->second.onEvent, event] { callback(event); },
        Qt::QueuedConnection);
  }
  return true;
}

bool SharedTftpServer::DeliverStatus(quint32 clientIp, int transferId, const QString& text,
                                     int flag) {
  std::lock_guard<std::mutex> lock(routeMutex_);
  const auto found = routes_.find(clientIp);
  if (found == routes_.end()) return false;
  if (found->second.onStatus) {
    QMetaObject::invokeMethod(
        found->second.context,
        [callback = found->second.onStatus, transferId, text, flag] {
          callback(transferId, text, flag);
        },
        Qt::QueuedConnection);
  }
  return true;
}

}  // namespace fwl
