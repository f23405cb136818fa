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
  // Holds its reply to the install request until both downloads have ended.
  bool holdInstallReply = false;
  // Asks for the boot image while the filesystem image is still coming.
  bool overlapFetch = false;
  // Fetches the boot image twice and never the filesystem image, then restarts.
  bool bootTwice = false;
  // Takes the images, restarts, and comes back on the firmware it ran before.
  bool stayOld = false;
  // The revision an accepted install leaves when the image names carry none
  // (a bundle's "image"); empty: the information page is gone after such an
  // install until the package is sent again (the new file system lacks it).
  QString installedRev;

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
  void StartInstall(const QHostAddress& server, const QString& root, const QString& boot,
                    std::function<void()> downloadsEnded);
  void StartHeldOrOverlapping(const QHostAddress& server, const QString& root, const QString& boot,
                              std::function<void()> downloadsEnded);
  // Fetches `file` with a client of its own; `firstBlock` (optional) runs
  // once the first data block is in.
  void Fetch(const QHostAddress& server, const QString& file, bool loseMidway,
             std::function<void(bool ok, const QByteArray& data)> done,
             std::function<void()> firstBlock = {});
  // Judges the install whose images are in and restarts when they fit.
  void FinishInstall();
  bool ImagesFit(const Install& install) const;
  void Restart();
  void SetState(const QString& state);

  SimSwitchOptions options_;
  QTcpServer* server_ = nullptr;
  QList<SimTftpClient*> clients_;  // downloads under way
  bool running_ = false;
  QList<SimHttpRequest> requests_;
  bool infoInstalled_ = false;
  QByteArray infoPackage_;
  QList<Install> installs_;
  int restarts_ = 0;
  bool down_ = false;
  QString state_ = "idle";
};

}  // namespace fwl
