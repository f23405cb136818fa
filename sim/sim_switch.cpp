#include "sim/sim_switch.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <memory>

#include "sim/sim_tftp_client.h"

namespace fwl {
namespace {

constexpr qsizetype kMaxRequestsKept = 200;
constexpr quint64 kImageCapacity = 64ull << 20;

struct BoardStems {
  const char* root;
  const char* boot;
};

// The image stems the switch's board takes; null for a board it does not know.
const BoardStems* StemsForBoard(const QString& boardId) {
  static const BoardStems k855t{"kvimage_", "kvimageb_"};
  static const BoardStems k79524{"kvimagea_", "kvimageba_"};
  static const BoardStems k9260{"kvimage9_", "kvimageb9_"};
  const QString id = boardId.toLower();
  if (id.contains("855t")) return &k855t;
  if (id.contains("79524")) return &k79524;
  if (id.contains("9260")) return &k9260;
  return nullptr;
}

const char* StatusText(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 500:
      return "Internal Server Error";
    case 413:
      return "Payload Too Large";
    default:
      return "Error";
  }
}

}  // namespace

QString SimSwitchBoardId(const QString& nameOrId) {
  const QString n = nameOrId.toLower();
  if (n == "kvni855t" || n == "855t") return "kvni855t";
  if (n == "kvni79524" || n == "79524") return "kvni79524";
  if (n == "kvni9260" || n == "9260") return "kvni9260";
  return nameOrId;
}

SimSwitch::SimSwitch(SimSwitchOptions options, QObject* parent)
    : QObject(parent), options_(std::move(options)) {
  infoInstalled_ = options_.infoInstalled;
}

SimSwitch::~SimSwitch() { Stop(); }

bool SimSwitch::Start(QString* error) {
  // A test peer: it listens, and fetches, on loopback only.
  if (!options_.address.isLoopback() ||
      options_.address.protocol() != QAbstractSocket::IPv4Protocol) {
    if (error) *error = "the switch address must be in 127.0.0.0/8";
    return false;
  }
  Stop();
  server_ = new QTcpServer(this);
  if (!server_->listen(options_.address, options_.httpPort)) {
    if (error) *error = server_->errorString();
    delete server_;
    server_ = nullptr;
    return false;
  }
  connect(server_, &QTcpServer::newConnection, this, &SimSwitch::OnConnection);
  running_ = true;
  SetState(state_);
  return true;
}

void SimSwitch::Stop() {
  running_ = false;
  for (SimTftpClient* client : clients_) {
    client->Abort();
    client->deleteLater();
  }
  clients_.clear();
  if (server_) {
    server_->close();
    delete server_;
    server_ = nullptr;
  }
}

quint16 SimSwitch::HttpPort() const { return server_ ? server_->serverPort() : 0; }

void SimSwitch::OnConnection() {
  while (server_ && server_->hasPendingConnections()) {
    QTcpSocket* socket = server_->nextPendingConnection();
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    if (down_) {  // restarting: nobody answers
      socket->abort();
      socket->deleteLater();
      continue;
    }
    auto parser = std::make_shared<SimHttpParser>();
    connect(socket, &QTcpSocket::readyRead, this, [this, socket, parser] {
      if (socket->property("answered").toBool()) {
        socket->readAll();
        return;
      }
      switch (parser->Feed(socket->readAll())) {
        case SimHttpParser::kIncomplete:
          return;
        case SimHttpParser::kBad:
          Respond(socket, 400, "bad request\n");
          return;
        case SimHttpParser::kTooLarge:
          Respond(socket, 413, "too large\n");
          return;
        case SimHttpParser::kComplete:
          requests_.append(parser->request());
          if (requests_.size() > kMaxRequestsKept) requests_.removeFirst();
          Handle(socket, parser->request());
          return;
      }
    });
  }
}

void SimSwitch::Respond(QTcpSocket* socket, int status, const QByteArray& body,
                        const QByteArray& extraHeaders) {
  socket->setProperty("answered", true);
  QByteArray reply = "HTTP/1.0 " + QByteArray::number(status) + ' ' + StatusText(status) +
                     "\r\nServer: simswitch\r\nContent-Type: text/html\r\nContent-Length: " +
                     QByteArray::number(body.size()) + "\r\n" + extraHeaders + "\r\n" + body;
  socket->write(reply);
  socket->disconnectFromHost();
}

bool SimSwitch::Authorised(const SimHttpRequest& request) const {
  const QByteArray header = request.Header("Authorization");
  if (!header.startsWith("Basic ")) return false;
  const auto decoded = QByteArray::fromBase64Encoding(header.mid(6).trimmed(),
                                                      QByteArray::AbortOnBase64DecodingErrors);
  return decoded && *decoded == options_.user.toLatin1() + ':' + options_.password.toLatin1();
}

QByteArray SimSwitch::InfoBody() const {
  return "kvid=" + options_.kvid.toLatin1() + "&boardId=" + options_.boardId.toLatin1() +
         "&fwRev=" + options_.fwRev.toLatin1() + "&uboot=" + options_.uboot.toLatin1() + "\n";
}

QByteArray SimSwitch::RemoteConfigurationBody() const {
  const QByteArray disabled = options_.networkLoading ? "" : " selected";
  const QByteArray enabled = options_.networkLoading ? " selected" : "";
  return "<html><body><form action='/cgi-bin/rmtconf.cgi' method='post'>\n"
         "Network firmware loading: <select name='fwload'>\n"
         "<option value='none'" +
         disabled +
         ">Disabled</option>\n"
         "<option value='network'" +
         enabled +
         ">Enabled</option>\n"
         "</select></form></body></html>\n";
}

void SimSwitch::Handle(QTcpSocket* socket, const SimHttpRequest& request) {
  emit Changed();
  if (!Authorised(request)) {
    Respond(socket, 401, "Unauthorized\n", "WWW-Authenticate: Basic realm=\"switch\"\r\n");
    return;
  }
  const qsizetype question = request.target.indexOf('?');
  const QByteArray query = question < 0 ? QByteArray() : request.target.mid(question + 1);
  QByteArray path =
      SimPercentDecode(question < 0 ? request.target : request.target.left(question), false);
  while (path.startsWith('/')) path.remove(0, 1);

  if (options_.pageStatus.contains(QString::fromLatin1(path))) {
    const int status = options_.pageStatus.value(QString::fromLatin1(path));
    Respond(socket, status, QByteArray(StatusText(status)) + "\n");
  } else if (path == "cgi-bin/getinfo.cgi") {
    if (infoInstalled_) {
      Respond(socket, 200, InfoBody());
    } else {
      Respond(socket, 404, "Not Found\n");
    }
  } else if (path == "cgi-bin/rmtconf.cgi") {
    Respond(socket, 200, RemoteConfigurationBody());
  } else if (path == "cgi-bin/updcommit.cgi") {
    if (request.method != "POST") {
      Respond(socket, 405, "POST only\n");
      return;
    }
    QHostAddress server;
    QByteArray file;
    for (const auto& [name, value] : SimParseForm(request.body)) {
      if (name == "tftp") server.setAddress(QString::fromLatin1(value));
      if (name == "file") file = value;
    }
    if (server.isNull() || file != "switchinfo.tgz") {
      Respond(socket, 400, "tftp= and file=switchinfo.tgz needed\n");
      return;
    }
    Respond(socket, 200, "Update started\n");
    if (!options_.neverFetchInfo) {
      QTimer::singleShot(options_.fetchDelayMs, this, [this, server] { FetchInfoPackage(server); });
    }
  } else if (path == "cgi-bin/perform_fwinstall.cgi") {
    const auto parameters = SimParseForm(query);
    QHostAddress server;
    QString boot, root;
    for (const auto& [name, value] : parameters) {
      if (name == "serverip") server.setAddress(QString::fromLatin1(value));
      if (name == "bootimage") boot = QString::fromLatin1(value);
      if (name == "rootimage") root = QString::fromLatin1(value);
    }
    if (server.isNull() || boot.isEmpty() || root.isEmpty()) {
      Respond(socket, 400, "serverip, bootimage and rootimage needed\n");
      return;
    }
    Install install;
    install.bootName = boot;
    install.rootName = root;
    install.parameters = parameters;
    installs_.append(install);
    const QPointer<QTcpSocket> held(socket);
    auto reply = [this, held] {
      if (held) Respond(held, 200, "Firmware install started\n");
    };
    const bool hold = options_.holdInstallReply && !options_.neverFetchImages;
    if (!hold) reply();
    if (!options_.neverFetchImages) {
      QTimer::singleShot(options_.fetchDelayMs, this, [this, server, root, boot, hold, reply] {
        StartInstall(server, root, boot, hold ? std::function<void()>(reply) : nullptr);
      });
    }
  } else {
    Respond(socket, 404, "Not Found\n");
  }
}

void SimSwitch::Fetch(const QHostAddress& server, const QString& file, bool loseMidway,
                      std::function<void(bool ok, const QByteArray& data)> done,
                      std::function<void()> firstBlock) {
  if (!running_) return;
  auto* client = new SimTftpClient(this);
  clients_.append(client);
  auto data = std::make_shared<QByteArray>();
  SimTftpClient::Settings settings;
  settings.timeoutMs = options_.tftpTimeoutMs;
  settings.retries = options_.tftpRetries;
  settings.capacity = kImageCapacity;
  settings.localAddress = options_.address;
  if (loseMidway) settings.stallAfterBlocks = 1;
  SimTftpClient::Callbacks callbacks;
  callbacks.block = [data, firstBlock](quint64 offset, const QByteArray& bytes) {
    if (offset != quint64(data->size())) return false;
    data->append(bytes);
    if (offset == 0 && firstBlock) QTimer::singleShot(0, firstBlock);
    return true;
  };
  // The client goes once control is back in the loop, never inside its own call.
  callbacks.finished = [this, client, data, done](bool ok, quint64, const QString&) {
    clients_.removeOne(client);
    client->deleteLater();
    done(ok, *data);
  };
  QString error;
  if (!client->Start(server, options_.tftpPort, file, settings, callbacks, &error)) {
    clients_.removeOne(client);
    client->deleteLater();
    done(false, QByteArray());
  }
}

void SimSwitch::FetchInfoPackage(const QHostAddress& server) {
  SetState("fetching info");
  Fetch(server, "switchinfo.tgz", false, [this](bool ok, const QByteArray& data) {
    if (ok && !data.isEmpty()) {
      infoPackage_ = data;
      infoInstalled_ = true;
    }
    SetState("idle");
  });
}

void SimSwitch::StartInstall(const QHostAddress& server, const QString& root, const QString& boot,
                             std::function<void()> downloadsEnded) {
  if (downloadsEnded || options_.overlapFetch || options_.bootTwice) {
    StartHeldOrOverlapping(server, root, boot, std::move(downloadsEnded));
    return;
  }
  SetState("fetching root");
  Fetch(server, root, options_.loseDownload == 1,
        [this, server, boot](bool ok, const QByteArray& data) {
          if (!ok) {
            SetState("lost");
            return;
          }
          if (!installs_.isEmpty()) installs_.last().root = data;
          SetState("fetching boot");
          if (options_.loseDownload == 2) {
            // The download goes quiet after its first block; the PC gives it up.
            QTimer::singleShot(0, this, [this, server, boot] {
              Fetch(server, boot, true, [](bool, const QByteArray&) {});
              SetState("lost");
            });
            return;
          }
          QTimer::singleShot(options_.fetchDelayMs, this, [this, server, boot] {
            Fetch(server, boot, false, [this](bool bootOk, const QByteArray& bootData) {
              if (!bootOk || installs_.isEmpty()) {
                SetState("lost");
                return;
              }
              installs_.last().boot = bootData;
              FinishInstall();
            });
          });
        });
}

void SimSwitch::StartHeldOrOverlapping(const QHostAddress& server, const QString& root,
                                       const QString& boot, std::function<void()> downloadsEnded) {
  // Two downloads, one after the other or (overlapFetch) the second asked
  // for once the first has its first block; whatever happens, the held
  // reply goes out when both have ended.
  struct Run {
    int pending = 2;
    bool ok = true;
    QByteArray first;
    QByteArray second;
  };
  auto run = std::make_shared<Run>();
  const QString first = options_.bootTwice ? boot : root;
  const bool lose1 = options_.loseDownload == 1;
  const bool lose2 = options_.loseDownload == 2;
  auto ended = [this, run, downloadsEnded] {
    if (--run->pending > 0) return;
    if (downloadsEnded) downloadsEnded();
    if (!run->ok || installs_.isEmpty()) {
      SetState("lost");
      return;
    }
    Install& install = installs_.last();
    install.boot = run->second;
    if (options_.bootTwice) {
      // No filesystem image: nothing to flash, the old firmware starts again.
      SetState("rejected");
      Restart();
      return;
    }
    install.root = run->first;
    FinishInstall();
  };
  auto second = [this, server, boot, run, ended, lose2] {
    SetState("fetching boot");
    Fetch(server, boot, lose2, [run, ended](bool ok, const QByteArray& data) {
      run->ok = run->ok && ok;
      run->second = data;
      ended();
    });
  };
  auto once = std::make_shared<bool>(false);
  auto startSecond = [this, second, once] {
    if (*once) return;
    *once = true;
    QTimer::singleShot(options_.overlapFetch ? 0 : options_.fetchDelayMs, this, second);
  };
  SetState(options_.bootTwice ? "fetching boot" : "fetching root");
  Fetch(
      server, first, lose1,
      [this, run, ended, startSecond](bool ok, const QByteArray& data) {
        run->ok = run->ok && ok;
        run->first = data;
        if (!options_.overlapFetch) startSecond();
        ended();
      },
      options_.overlapFetch ? std::function<void()>(startSecond) : nullptr);
}

void SimSwitch::FinishInstall() {
  Install& install = installs_.last();
  if (options_.rejectImages || !ImagesFit(install)) {
    SetState("rejected");
    return;
  }
  install.accepted = true;
  if (!options_.stayOld) {
    static const QRegularExpression version("mums(\\d+(?:_\\d+)*)");
    const auto match = version.match(install.rootName);
    if (match.hasMatch()) {
      options_.fwRev = match.captured(1).replace('_', '.');
    } else if (!options_.installedRev.isEmpty()) {
      options_.fwRev = options_.installedRev;
    } else {
      infoInstalled_ = false;
    }
  }
  Restart();
}

bool SimSwitch::ImagesFit(const Install& install) const {
  if (install.boot.isEmpty() || install.root.isEmpty()) return false;
  const BoardStems* stems = StemsForBoard(options_.boardId);
  if (!stems) return false;
  const bool rootFits =
      install.rootName == "image" || install.rootName.startsWith(QLatin1String(stems->root));
  const bool bootFits =
      install.bootName == "imageb" || install.bootName.startsWith(QLatin1String(stems->boot));
  return rootFits && bootFits;
}

void SimSwitch::Restart() {
  down_ = true;
  ++restarts_;
  SetState("restarting");
  QTimer::singleShot(options_.restartMs, this, [this] {
    down_ = false;
    SetState("idle");
  });
}

QJsonObject SimSwitch::StateJson() const {
  QJsonArray installs;
  for (const Install& install : installs_) {
    QJsonObject parameters;
    for (const auto& [name, value] : install.parameters) {
      parameters.insert(QString::fromLatin1(name), QString::fromLatin1(value));
    }
    installs.append(QJsonObject{
        {"bootimage", install.bootName},
        {"rootimage", install.rootName},
        {"bootBytes", install.boot.size()},
        {"rootBytes", install.root.size()},
        {"bootSha256",
         QString::fromLatin1(
             QCryptographicHash::hash(install.boot, QCryptographicHash::Sha256).toHex())},
        {"rootSha256",
         QString::fromLatin1(
             QCryptographicHash::hash(install.root, QCryptographicHash::Sha256).toHex())},
        {"accepted", install.accepted},
        {"request", parameters}});
  }
  return QJsonObject{{"state", state_},         {"infoInstalled", infoInstalled_},
                     {"fwRev", options_.fwRev}, {"boardId", options_.boardId},
                     {"restarts", restarts_},   {"requests", requests_.size()},
                     {"installs", installs}};
}

void SimSwitch::SetState(const QString& state) {
  state_ = state;
  if (!options_.stateFile.isEmpty()) {
    QSaveFile file(options_.stateFile);
    if (file.open(QIODevice::WriteOnly)) {
      file.write(QJsonDocument(StateJson()).toJson());
      file.commit();
    }
  }
  emit Changed();
}

}  // namespace fwl
