#include "sim/sim_unit_core.h"

#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>

namespace fwl {

namespace {

constexpr int kPollMs = 5;
constexpr qsizetype kMaxRequest = 4096;
constexpr quint64 kDumpChunk = 0x100000;

}  // namespace

SimUnitCore::SimUnitCore(const SimOptions& options)
    : options_(options), monitor_(options, this), poll_(this) {
  monitor_.SetOutput([this](const QByteArray& bytes) { port_.Write(bytes); });
  poll_.setInterval(kPollMs);
  connect(&poll_, &QTimer::timeout, this, &SimUnitCore::Poll);
}

SimUnitCore::~SimUnitCore() = default;

bool SimUnitCore::OpenPty(QString* error) {
  if (!port_.Open()) {
    if (error) *error = "cannot open a pseudo-terminal";
    return false;
  }
  return true;
}

void SimUnitCore::Begin() {
  connected_ = port_.PeerConnected();
  poll_.start();
  PowerOn();
}

bool SimUnitCore::Listen(const QString& path, QString* error) {
  control_ = new QLocalServer(this);
  QLocalServer::removeServer(path);
  if (!control_->listen(path)) {
    if (error) *error = control_->errorString();
    delete control_;
    control_ = nullptr;
    return false;
  }
  connect(control_, &QLocalServer::newConnection, this, &SimUnitCore::OnControlClient);
  return true;
}

void SimUnitCore::End() {
  poll_.stop();
  monitor_.PowerOff();
  monitor_.ReleaseSockets();
  if (control_) {
    control_->close();
    delete control_;
    control_ = nullptr;
  }
  port_.Close();
}

void SimUnitCore::PowerOff() {
  powerWaitsForPort_ = false;
  monitor_.PowerOff();
}

void SimUnitCore::PowerOn() {
  if (options_.bootOnOpen && !port_.PeerConnected()) {
    // Held until somebody opens the port, as if the switch were thrown then.
    monitor_.PowerOff();
    powerWaitsForPort_ = true;
    return;
  }
  powerWaitsForPort_ = false;
  monitor_.PowerOn();
}

void SimUnitCore::PowerCycle() {
  PowerOff();
  PowerOn();
}

void SimUnitCore::Poll() {
  const bool now = port_.PeerConnected();
  if (now && !connected_ && powerWaitsForPort_) {
    powerWaitsForPort_ = false;
    monitor_.PowerOn();
  }
  const QByteArray in = port_.ReadAvailable();
  if (!in.isEmpty()) monitor_.Receive(in);
  if (!now && connected_) port_.DiscardUnread();  // no stale output for the next peer
  connected_ = now;
}

void SimUnitCore::OnControlClient() {
  while (QLocalSocket* client = control_->nextPendingConnection()) {
    connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
    connect(client, &QLocalSocket::readyRead, this, [this, client] {
      while (client->canReadLine()) {
        const QString request = QString::fromUtf8(client->readLine(kMaxRequest)).trimmed();
        client->write((HandleControl(request) + "\n").toUtf8());
      }
      if (client->bytesAvailable() > kMaxRequest) client->abort();
    });
  }
}

QString SimUnitCore::HandleControl(const QString& request) {
  const QString verb = request.section(' ', 0, 0);
  if (verb == "power-cycle") {
    PowerCycle();
    return "ok";
  }
  if (verb == "power-off") {
    PowerOff();
    return "ok";
  }
  if (verb == "power-on") {
    PowerOn();
    return "ok";
  }
  if (verb == "state") {
    if (powerWaitsForPort_) return "ok off";
    return QString("ok ") + BootMonitor::StateName(monitor_.CurrentState());
  }
  if (verb == "path") return "ok " + port_.SlavePath();
  if (verb == "env") {
    const QString name = request.section(' ', 1, 1);
    if (!monitor_.Environment().Contains(name)) return "error not defined";
    return "ok " + monitor_.Environment().Get(name);
  }
  if (verb == "dump") {
    // dump WHAT OFFSET LENGTH PATH  (LENGTH "-" = to the end)
    const QString what = request.section(' ', 1, 1);
    bool okOffset = false, okLength = true;
    const quint64 offset = request.section(' ', 2, 2).toULongLong(&okOffset, 0);
    const QString lengthText = request.section(' ', 3, 3);
    const quint64 length = lengthText == "-" ? ~0ull : lengthText.toULongLong(&okLength, 0);
    const QString path = request.section(' ', 4);
    if (!okOffset || !okLength || path.isEmpty())
      return "error usage: dump WHAT OFFSET LENGTH PATH";
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) return "error cannot write " + path;
    SparseMemory* memory = nullptr;
    QByteArray text;
    SimMemoryMap& m = monitor_.Memories();
    if (what == "nor")
      memory = &m.Nor();
    else if (what == "nand")
      memory = &m.Nand();
    else if (what == "nvram")
      memory = &m.Nvram();
    else if (what == "dram")
      memory = &m.Dram();
    else if (what == "env")
      text = monitor_.Environment().Listing();
    else if (what == "savedenv")
      text = monitor_.SavedEnvironment().Listing();
    else if (what == "log")
      text = (monitor_.CommandLog().join('\n') + '\n').toLatin1();
    else
      return "error unknown memory " + what;
    quint64 written = 0;
    if (memory == nullptr) {
      const QByteArray part = text.mid(qsizetype(qMin<quint64>(offset, quint64(text.size()))),
                                       qsizetype(qMin<quint64>(length, quint64(text.size()))));
      written = quint64(out.write(part));
    } else {
      const quint64 size = memory->Size();
      const quint64 from = qMin(offset, size);
      const quint64 n = qMin(length, size - from);
      for (quint64 at = 0; at < n; at += kDumpChunk) {
        const QByteArray chunk = memory->Read(from + at, qMin(kDumpChunk, n - at));
        if (out.write(chunk) != chunk.size()) return "error cannot write " + path;
        written += quint64(chunk.size());
      }
    }
    if (!out.flush()) return "error cannot write " + path;
    return QString("ok %1").arg(written);
  }
  return "error unknown request";
}

}  // namespace fwl
