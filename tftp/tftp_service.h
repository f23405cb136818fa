// A TFTP server shared by several loads at once (a batch): each load opens a
// session for its unit's address and hears only of that unit's transfers,
// on its own thread. A load without a service starts a server of its own.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

#include "tftp/tftp_server.h"

namespace fwl {

struct TftpSessionRequest {
  QString clientAddress;  // the unit (dotted IPv4): only its requests belong to the session
  QString folder;         // served and written folder
  QStringList preload;    // files served from memory; each is read once for every session
  // Called on the thread that opened the session, while it is open.
  std::function<void(const TftpEvent& event)> onEvent;
  // (transfer id, text, flag) as the status callback's.
  std::function<void(int transferId, const QString& text, int flag)> onStatus;
};

// Closing a session (destroying it) stops the delivery of its news; the
// unit's running transfers go on and their ends are served as any other.
class TftpSession {
 public:
  virtual ~TftpSession() = default;
};

class TftpService {
 public:
  virtual ~TftpService() = default;
  // Opens a session. nullptr with `error` set when the server does not run
  // or another open session already has that client address.
  virtual std::unique_ptr<TftpSession> Open(const TftpSessionRequest& request, QString* error) = 0;
};

}  // namespace fwl
