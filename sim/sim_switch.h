// A simulated managed switch for tests and demos: its web interface (Basic
// authentication, information page, information-package update, remote
// configuration, firmware install) answers HTTP on a loopback address, and
// it fetches its packages and images from the PC by TFTP, checks them,
// "restarts" and remembers what it installed.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>

#include "sim/sim_http_request.h"

class QTcpServer;
class QTcpSocket;

namespace fwl {

class SimTftpClient;

struct SimSwitchOptions {
  QHostAddress address{QHostAddress::LocalHost};  // must be in 127.0.0.0/8
  quint16 httpPort = 80;
  quint16 tftpPort = 69;  // the PC's TFTP port the switch fetches from
  QString user;
  QString password;
  QString boardId = "kvni79524";  // value of "boardId="
  QString fwRev = "3.7.2";        // running firmware version
  QString kvid = "mums";          // identity value after "kvid="
  QString uboot = "1.1.4";
  bool networkLoading = true;  // remote configuration: network loading enabled
  bool infoInstalled = false;  // the information page exists from the start

  // Timings.
  int fetchDelayMs = 50;    // from an answered request to the first TFTP read
  int restartMs = 500;      // web server down while the switch restarts
  int tftpTimeoutMs = 500;  // the TFTP client's retransmission time-out
  int tftpRetries = 5;

  // Faults.
  bool neverFetchInfo = false;    // answers the update request but never fetches the package
  bool neverFetchImages = false;  // answers the install request but never fetches
  int loseDownload = 0;           // 1 or 2: goes quiet during that image download
  // Pages (as "cgi-bin/name.cgi") that answer with a fixed status instead.
  QMap<QString, int> pageStatus;
  bool rejectImages = false;  // images it fetched fail its check (no restart)

  // Where to write the state (JSON) after every change; "" for none.
  QString stateFile;
};

// Board short names ("kvni855t", "855t", "kvni79524", "79524", "kvni9260",
// "9260") give the board's id; any other text is used as the id itself.
QString SimSwitchBoardId(const QString& nameOrId);

class SimSwitch : public QObject {
  Q_OBJECT
 public:
  // What an install left behind.
  struct Install {
    QString bootName;
    QString rootName;
    QByteArray boot;
    QByteArray root;
    QList<QPair<QByteArray, QByteArray>> parameters;  // the install request's query
    bool accepted = false;  // both images passed the check and the switch restarted
  };

  explicit SimSwitch(SimSwitchOptions options, QObject* parent = nullptr);
  ~SimSwitch() override;

  // Starts listening. False with `error` set when the address is not a
  // loopback address or the port cannot be bound.
  bool Start(QString* error);
  void Stop();
  quint16 HttpPort() const;

  // Every complete request received, oldest first (at most the last 200).
  const QList<SimHttpRequest>& Requests() const { return requests_; }
  bool InfoInstalled() const { return infoInstalled_; }
  const QByteArray& InfoPackage() const { return infoPackage_; }
  const QList<Install>& Installs() const { return installs_; }
  int Restarts() const { return restarts_; }
  QString FwRev() const { return options_.fwRev; }
  // "idle", "fetching info", "fetching root", "fetching boot", "lost",
  // "rejected", "restarting".
  QString State() const { return state_; }
  QJsonObject StateJson() const;
  const SimSwitchOptions& options() const { return options_; }
  SimSwitchOptions& options() { return options_; }

 signals:
  void Changed();

 private:
  void OnConnection();
  void Handle(QTcpSocket* socket, const SimHttpRequest& request);
  void Respond(QTcpSocket* socket, int status, const QByteArray& body,
               const QByteArray& extraHeaders = QByteArray());
  bool Authorised(const SimHttpRequest& request) const;
  QByteArray InfoBody() const;
  QByteArray RemoteConfigurationBody() const;
  void FetchInfoPackage(const QHostAddress& server);
  void StartInstall(const QHostAddress& server, const QString& root, const QString& boot);
  void Fetch(const QHostAddress& server, const QString& file, bool loseMidway,
             std::function<void(bool ok, const QByteArray& data)> done);
  bool ImagesFit(const Install& install) const;
  void Restart();
  void SetState(const QString& state);

  SimSwitchOptions options_;
  QTcpServer* server_ = nullptr;
  SimTftpClient* tftp_ = nullptr;
  QList<SimHttpRequest> requests_;
  bool infoInstalled_ = false;
  QByteArray infoPackage_;
  QList<Install> installs_;
  int restarts_ = 0;
  bool down_ = false;
  QString state_ = "idle";
};

}  // namespace fwl
