// What a server shared by several loads asks for each request: whether a
// load expects this client, which folder serves it, and where that client's
// transfer news go. The server itself knows nothing of loads.
#pragma once

#include <QByteArray>
#include <QString>

namespace fwl {

struct TftpEvent;

class TftpRouter {
 public:
  virtual ~TftpRouter() = default;
  // All calls come from the server's thread.
  // True when a load expects `clientIp`; `folder` is then its folder.
  virtual bool RouteFolder(quint32 clientIp, QString* folder) = 0;
  // A shared in-memory copy of `path`, or a null array.
  virtual QByteArray Preloaded(const QString& path) = 0;
  // Hands the news to the load expecting `clientIp`; false when none does
  // (the server then tells its own callbacks).
  virtual bool DeliverEvent(quint32 clientIp, const TftpEvent& event) = 0;
  virtual bool DeliverStatus(quint32 clientIp, int transferId, const QString& text, int flag) = 0;
};

}  // namespace fwl
