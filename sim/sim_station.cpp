#include "sim/sim_station.h"

#include <QNetworkDatagram>
#include <QRegularExpression>
#include <QUdpSocket>

#include "sim/sim_tftp_client.h"

namespace fwl {
namespace {

constexpr int kHeader = 28;
constexpr int kMaxData = 1024;
constexpr int kMaxReplyText = 255;
constexpr quint64 kImageCapacity = 256ull * 1024 * 1024;
constexpr char kConfigPath[] = "/tmp/fwupdate.config";
constexpr char kUpdateCommand[] = "/usr/local/bin/kvfwupdate";
constexpr int kStatusFailed = 1;
constexpr int kStatusNoFile = 2;
// Bounds on what a peer can make the station keep.
constexpr qsizetype kMaxKeptRequests = 10000;
constexpr int kMaxFiles = 256;
constexpr int kMaxHandles = 1024;
constexpr qsizetype kMaxFileSize = 1024 * 1024;

quint16 Word(const QByteArray& b, qsizetype at) {
  return quint16((quint8(b[at]) << 8) | quint8(b[at + 1]));
}
quint32 Long(const QByteArray& b, qsizetype at) {
  return (quint32(Word(b, at)) << 16) | Word(b, at + 2);
}
void PutWord(QByteArray& b, quint16 v) {
  b += char(v >> 8);
  b += char(v & 0xFF);
}
void PutLong(QByteArray& b, quint32 v) {
  PutWord(b, quint16(v >> 16));
  PutWord(b, quint16(v & 0xFFFF));
}

// A zero-terminated text starting at `at`; false when no terminator follows.
bool TextAt(const QByteArray& data, qsizetype at, QString* text) {
  if (at > data.size()) return false;
  const qsizetype end = data.indexOf('\0', at);
  if (end < 0) return false;
  *text = QString::fromLatin1(data.mid(at, end - at));
  return true;
}

bool IsDottedIpv4(const QString& text) {
  QHostAddress address;
  return text.count(QLatin1Char('.')) == 3 && address.setAddress(text) &&
         address.protocol() == QAbstractSocket::IPv4Protocol;
}

bool IsDecimal(const QString& text) {
  if (text.isEmpty() || text.size() > 12) return false;
  for (QChar c : text) {
    if (!c.isDigit()) return false;
  }
  return true;
}

// The configuration as KEY -> value; `order` gets the keys as they came.
QMap<QString, QString> ParseConfig(const QByteArray& text, QStringList* order) {
  QMap<QString, QString> values;
  for (const QByteArray& line : text.split('\n')) {
    const qsizetype space = line.indexOf(' ');
    const QString key = QString::fromLatin1(space < 0 ? line : line.left(space));
    order->append(key);
    values.insert(key, space < 0 ? QString() : QString::fromLatin1(line.mid(space + 1)));
  }
  return values;
}

const QStringList& ConfigKeys() {
  static const QStringList keys = {"SERVERIP",        "GATEWAYIP",      "NETMASK",
                                   "IPADDR",          "IMAGE_FILENAME", "IMAGE_SIZE",
                                   "IMAGEB_FILENAME", "IMAGEB_SIZE",    "IMAGE6_FILENAME",
                                   "IMAGE6_SIZE",     "USE_DHCP"};
  return keys;
}

}  // namespace

SimStation::SimStation(const SimStationOptions& options, QObject* parent)
    : QObject(parent), options_(options) {
  restartTimer_.setSingleShot(true);
  connect(&restartTimer_, &QTimer::timeout, this, &SimStation::FinishRestart);
}

SimStation::~SimStation() { Stop(); }

bool SimStation::Start(QString* error) {
  Stop();
  bool v4 = false;
  const quint32 address = options_.address.toIPv4Address(&v4);
  if (!v4 || (address >> 24) != 127) {
    if (error) *error = QStringLiteral("the station address must be a 127.x.y.z address");
    return false;
  }
  socket_ = new QUdpSocket(this);
  if (!socket_->bind(options_.address, options_.stationPort)) {
    if (error) *error = socket_->errorString();
    delete socket_;
    socket_ = nullptr;
    return false;
  }
  connect(socket_, &QUdpSocket::readyRead, this, &SimStation::OnReadyRead);
  return true;
}

void SimStation::Stop() {
  restartTimer_.stop();
  for (auto& client : tftp_) client->Abort();
  delete socket_;
  socket_ = nullptr;
}

quint16 SimStation::Port() const { return socket_ ? socket_->localPort() : 0; }

void SimStation::OnReadyRead() {
  while (socket_ && socket_->hasPendingDatagrams()) {
    const QNetworkDatagram datagram = socket_->receiveDatagram(kHeader + kMaxData + 1);
    bool v4 = false;
    const quint32 from = datagram.senderAddress().toIPv4Address(&v4);
    // A test peer: only loopback senders are heard (and answered).
    if (!datagram.isValid() || !v4 || (from >> 24) != 127) continue;
    const QByteArray request = datagram.data();
    if (request.size() < kHeader || quint8(request[1]) != 0x80) continue;
    const int length = Word(request, 26);
    if (length > kMaxData || length + kHeader != request.size()) continue;
    if (requests_.size() >= kMaxKeptRequests) requests_.removeFirst();
    requests_.append(request);
    if (options_.silent || dead_ || restarting_) continue;

    int function = 0;
    const QByteArray replyData = Handle(request, &function);
    if (function == 0) continue;
    QByteArray reply(kHeader, '\0');
    reply[0] = request[0];
    reply[1] = char(0x80);
    reply[2] = request[6];
    reply[3] = request[7];
    reply[4] = request[4];
    reply[5] = request[5];
    reply[6] = request[2];
    reply[7] = request[3];
    const int code = options_.negative ? 2 : function;
    reply[8] = char(code >> 8);
    reply[9] = char(code & 0xFF);
    const int frame = kHeader + int(replyData.size());
    reply[10] = char(frame >> 8);
    reply[11] = char(frame & 0xFF);
    reply[24] = request[24];
    reply[26] = char(replyData.size() >> 8);
    reply[27] = char(replyData.size() & 0xFF);
    reply += replyData;

    const QHostAddress to(from);
    const quint16 port = datagram.senderPort();
    const bool reset = function == 1 && Word(request, 8) == 0x6010 && length >= 6 &&
                       quint8(request[kHeader]) == 0x1A;
    auto send = [this, reply, to, port, reset] {
      if (!socket_) return;
      socket_->writeDatagram(reply, to, port);
      if (reset) BeginRestart();
    };
    if (options_.replyDelayMs > 0) {
      QTimer::singleShot(options_.replyDelayMs, this, send);
    } else {
      send();
    }
  }
}

QByteArray SimStation::Handle(const QByteArray& request, int* function) {
  const QByteArray data = request.mid(kHeader);
  const int code = Word(request, 8);
  *function = 1;
  if (code == 3) return QByteArray("\x00\x00\x00\x01", 4);
  if (code == 0x1A) return FileService(data);
  if (code == 0x6010 && !data.isEmpty()) {
    if (quint8(data[0]) == 0x1E && data.size() >= 3 && data[1] == 0x01) {
      QString command;
      if (!TextAt(data, 3, &command)) return QByteArray(1, char(kStatusFailed));
      return RunCommand(quint8(data[2]), command);
    }
    if (quint8(data[0]) == 0x1A && data.size() == 6) return QByteArray();
  }
  *function = 2;
  return QByteArray(1, char(kStatusFailed));
}

QByteArray SimStation::RunCommand(int, const QString& command) {
  commands_.append(command);
  for (const QString& prefix : options_.failStatus) {
    if (command.startsWith(prefix)) return QByteArray(1, char(kStatusFailed));
  }
  bool ok = true;
  const QByteArray text = ShellOutput(command, &ok).toLatin1().left(kMaxReplyText);
  QByteArray reply(1, '\0');
  reply += char(text.size());
  reply += text;
  return reply;
}

QString SimStation::ShellOutput(const QString& command, bool* ok) {
  if (command.startsWith(QLatin1String("cat "))) {
    const QString path = command.mid(4).trimmed();
    const QString missing = QStringLiteral("cat: %1: No such file or directory").arg(path);
    if (options_.catFails.contains(path)) return missing;
    if (path == QLatin1String("/proc/mtd")) {
      QString table = QStringLiteral(
          "dev:    size   erasesize  name\n"
          "mtd0: 00080000 00020000 \"boot\"\n"
          "mtd1: 00200000 00020000 \"kernel\"\n"
          "mtd2: 00780000 00020000 \"root\"\n"
          "mtd3: 00020000 00020000 \"env\"\n"
          "mtd4: 03000000 00020000 \"user\"\n");
      if (options_.mtd5) table += QStringLiteral("mtd5: 00200000 00020000 \"kernel2\"\n");
      return table;
    }
    if (path == QLatin1String("/proc/cpuinfo")) {
      if (options_.cpu == QLatin1String("8xx")) {
        return QStringLiteral("processor\t: 0\ncpu\t\t: 8xx\nclock\t\t: 50MHz\n");
      }
      if (options_.cpu == QLatin1String("ARM9")) {
        return QStringLiteral("Processor\t: ARM926EJ-S rev 5 (v5l)\nBogoMIPS\t: 99.73\n");
      }
      if (options_.cpu == QLatin1String("ARM7")) {
        return QStringLiteral("Processor\t: ARM7TDMI rev 0 (v4l)\n");
      }
      return QStringLiteral("Processor\t: %1\n").arg(options_.cpu);
    }
    if (path == QLatin1String("/etc/korvidinfo.txt")) {
      return options_.build + QStringLiteral("\tstation firmware\t`built 2026-01-01`\n");
    }
    if (files_.contains(path)) return QString::fromLatin1(files_.value(path));
    *ok = false;
    return missing;
  }
  if (command == QLatin1String(kUpdateCommand)) {
    if (!files_.contains(kConfigPath)) {
      *ok = false;
      return QStringLiteral("kvfwupdate: %1 not found").arg(kConfigPath);
    }
    if (!options_.scriptError.isEmpty()) {
      *ok = false;
      return options_.scriptError;
    }
    const QString problem = CheckConfig(files_.value(kConfigPath));
    updatePrepared_ = problem.isEmpty();
    *ok = updatePrepared_;
    return problem;
  }
  *ok = false;
  return QStringLiteral("sh: %1: not found").arg(command.section(QLatin1Char(' '), 0, 0));
}

QByteArray SimStation::FileService(const QByteArray& data) {
  QByteArray reply;
  if (data.isEmpty()) return QByteArray(1, char(kStatusFailed));
  const int service = quint8(data[0]);
  auto failing = [this](const QString& path) {
    for (const QString& prefix : options_.failStatus) {
      if (path.startsWith(prefix)) return true;
    }
    return false;
  };
  QString path;
  switch (service) {
    case 0x00:  // open: mode, path
      if (data.size() < 2 || !TextAt(data, 2, &path)) return QByteArray(1, char(kStatusFailed));
      if (failing(path)) return QByteArray(1, char(kStatusFailed));
      if (!files_.contains(path)) return QByteArray(1, char(kStatusNoFile));
      if (handles_.size() >= kMaxHandles) handles_.clear();
      reply += '\0';
      handles_.insert(nextHandle_, path);
      PutLong(reply, nextHandle_++);
      return reply;
    case 0x03:  // create: mode, initial value, path
      if (data.size() < 6 || !TextAt(data, 6, &path)) return QByteArray(1, char(kStatusFailed));
      if (failing(path) || (files_.size() >= kMaxFiles && !files_.contains(path))) {
        return QByteArray(1, char(kStatusFailed));
      }
      if (handles_.size() >= kMaxHandles) handles_.clear();
      files_.insert(path, QByteArray());
      reply += '\0';
      handles_.insert(nextHandle_, path);
      PutLong(reply, nextHandle_++);
      return reply;
    case 0x02: {  // write: handle, offset, count, data
      if (data.size() < 11) return QByteArray(1, char(kStatusFailed));
      const quint32 handle = Long(data, 1);
      const quint32 offset = Long(data, 5);
      const int count = Word(data, 9) & 0x7FFF;
      int status = 0;
      int written = 0;
      const QString target = handles_.value(handle);
      if (target.isEmpty() || !files_.contains(target) || count != data.size() - 11 ||
          failing(target)) {
        status = kStatusFailed;
      } else {
        QByteArray& file = files_[target];
        if (offset > quint32(file.size()) || qsizetype(offset) + count > kMaxFileSize) {
          status = kStatusFailed;
        } else {
          if (file.size() < qsizetype(offset) + count) file.resize(qsizetype(offset) + count);
          file.replace(qsizetype(offset), count, data.mid(11, count));
          written = count;
        }
      }
      PutLong(reply, handle);
      reply += char(status);
      PutLong(reply, offset);
      PutWord(reply, quint16(written));
      return reply;
    }
    case 0x04:  // delete: 0, path
      if (data.size() < 2 || !TextAt(data, 2, &path)) return QByteArray(1, char(kStatusFailed));
      if (failing(path)) return QByteArray(1, char(kStatusFailed));
      return QByteArray(1, char(files_.remove(path) > 0 ? 0 : kStatusNoFile));
    default:
      return QByteArray(1, char(kStatusFailed));
  }
}

QString SimStation::CheckConfig(const QByteArray& text) const {
  QStringList order;
  const QMap<QString, QString> v = ParseConfig(text, &order);
  if (order != ConfigKeys()) {
    return QStringLiteral("kvfwupdate: unexpected keys: %1").arg(order.join(QLatin1Char(',')));
  }
  for (const char* key : {"SERVERIP", "NETMASK", "IPADDR"}) {
    if (!IsDottedIpv4(v.value(key))) return QStringLiteral("kvfwupdate: bad %1").arg(key);
  }
  if (!v.value("GATEWAYIP").isEmpty() && !IsDottedIpv4(v.value("GATEWAYIP"))) {
    return QStringLiteral("kvfwupdate: bad GATEWAYIP");
  }
  const bool plain = !v.value("IMAGE_FILENAME").isEmpty();
  const bool six = !v.value("IMAGE6_FILENAME").isEmpty();
  if (plain == six) return QStringLiteral("kvfwupdate: exactly one of IMAGE and IMAGE6 needed");
  const QString sizeKey = plain ? "IMAGE_SIZE" : "IMAGE6_SIZE";
  const QString otherSize = plain ? "IMAGE6_SIZE" : "IMAGE_SIZE";
  if (!IsDecimal(v.value(sizeKey)) || !v.value(otherSize).isEmpty()) {
    return QStringLiteral("kvfwupdate: bad image size");
  }
  if (options_.mtd5 &&
      (v.value("IMAGEB_FILENAME").isEmpty() || !IsDecimal(v.value("IMAGEB_SIZE")))) {
    return QStringLiteral("kvfwupdate: boot image needed");
  }
  if (v.value("USE_DHCP") != "0" && v.value("USE_DHCP") != "1") {
    return QStringLiteral("kvfwupdate: bad USE_DHCP");
  }
  return QString();
}

void SimStation::BeginRestart() {
  ++resets_;
  restarting_ = true;
  fetchFailed_ = false;
  updateState_ = QStringLiteral("restarting");
  pendingFetches_.clear();
  fetchesStarted_ = 0;
  fetchesRunning_ = 0;
  if (options_.silentAfterReset) dead_ = true;
  if (updatePrepared_ && !options_.neverFetch) {
    QStringList order;
    const QMap<QString, QString> v = ParseConfig(files_.value(kConfigPath), &order);
    fetchServer_ = QHostAddress(v.value("SERVERIP"));
    const QString image = v.value("IMAGE_FILENAME").isEmpty() ? v.value("IMAGE6_FILENAME")
                                                              : v.value("IMAGE_FILENAME");
    pendingFetches_ << image;
    if (options_.mtd5) pendingFetches_ << v.value("IMAGEB_FILENAME");
    images_.clear();
    QTimer::singleShot(20, this, &SimStation::FetchNext);
    return;
  }
  restartTimer_.start(options_.restartMs);
}

void SimStation::FetchNext() {
  if (pendingFetches_.isEmpty() || fetchFailed_) {
    if (fetchesRunning_ == 0) restartTimer_.start(options_.restartMs);
    return;
  }
  const QString name = pendingFetches_.takeFirst();
  const size_t slot = size_t(fetchesStarted_++);
  if (tftp_.size() <= slot) tftp_.push_back(std::make_unique<SimTftpClient>());
  SimTftpClient& client = *tftp_[slot];
  SimTftpClient::Settings settings;
  settings.blockSize = options_.tftpBlockSize;
  settings.timeoutMs = options_.tftpTimeoutMs;
  settings.capacity = kImageCapacity;
  settings.localAddress = options_.address;
  if (options_.tftpLoseAfterBlocks >= 0) settings.stallAfterBlocks = options_.tftpLoseAfterBlocks;
  auto buffer = std::make_shared<QByteArray>();
  SimTftpClient::Callbacks callbacks;
  callbacks.block = [this, buffer](quint64 offset, const QByteArray& data) {
    if (offset != quint64(buffer->size())) return false;
    buffer->append(data);
    if (offset == 0 && options_.overlapFetch) QTimer::singleShot(0, this, &SimStation::FetchNext);
    return true;
  };
  callbacks.finished = [this, name, buffer](bool ok, quint64, const QString& error) {
    --fetchesRunning_;
    if (ok) {
      images_.insert(name, *buffer);
    } else {
      fetchFailed_ = true;
      updateState_ = QStringLiteral("update failed: %1: %2").arg(name, error);
    }
    QTimer::singleShot(0, this, &SimStation::FetchNext);
  };
  QString error;
  if (!client.Start(fetchServer_, options_.tftpPort, name, settings, callbacks, &error)) {
    fetchFailed_ = true;
    updateState_ = QStringLiteral("update failed: %1: %2").arg(name, error);
    if (fetchesRunning_ == 0) restartTimer_.start(options_.restartMs);
    return;
  }
  ++fetchesRunning_;
  // A client that stops answering never finishes; the station gives up and
  // restarts on its old firmware.
  if (options_.tftpLoseAfterBlocks >= 0) restartTimer_.start(options_.restartMs + 20000);
}

void SimStation::FinishRestart() {
  for (auto& client : tftp_) client->Abort();
  bool updated =
      updatePrepared_ && !fetchFailed_ && !options_.neverFetch && pendingFetches_.isEmpty();
  if (updatePrepared_ && updated) {
    QStringList order;
    const QMap<QString, QString> v = ParseConfig(files_.value(kConfigPath), &order);
    const bool plain = !v.value("IMAGE_FILENAME").isEmpty();
    QList<std::pair<QString, QString>> expected;
    expected.append({plain ? v.value("IMAGE_FILENAME") : v.value("IMAGE6_FILENAME"),
                     plain ? v.value("IMAGE_SIZE") : v.value("IMAGE6_SIZE")});
    if (options_.mtd5) expected.append({v.value("IMAGEB_FILENAME"), v.value("IMAGEB_SIZE")});
    for (const auto& [name, size] : expected) {
      if (!images_.contains(name) || QString::number(images_.value(name).size()) != size) {
        updated = false;
        updateState_ = QStringLiteral("update failed: %1 is not %2 bytes").arg(name, size);
      }
    }
  } else if (updatePrepared_ && options_.neverFetch) {
    updateState_ = QStringLiteral("update failed: nothing fetched");
  }
  if (updated) {
    updateState_ = QStringLiteral("updated");
    // The new firmware reports its own build (the version of its image name).
    static const QRegularExpression version(QStringLiteral("(\\d+(?:_\\d+)+)$"));
    QStringList keys;
    const QMap<QString, QString> v = ParseConfig(files_.value(kConfigPath), &keys);
    const QString image = v.value("IMAGE_FILENAME").isEmpty() ? v.value("IMAGE6_FILENAME")
                                                              : v.value("IMAGE_FILENAME");
    const auto match = version.match(image);
    if (match.hasMatch()) options_.build = match.captured(1).replace('_', '.');
  }
  if (!updatePrepared_) updateState_ = QStringLiteral("idle");
  updatePrepared_ = false;
  restarting_ = false;
  emit Restarted(updated);
}

}  // namespace fwl
