#include "station/station_link.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QObject>
#include <algorithm>

#include "platform/ui.h"
#include "platform/wait_pumping.h"
#include "station/station_transport.h"

namespace fwl {
namespace {

constexpr char kProtocolLnk[] = "LNK";
constexpr char kDeviceEthernet[] = "Ethernet";
constexpr char kMsgNotOpen[] = "Internal Error: Communications device is not currently open!";
constexpr char kMsgBadMessage[] = "Internal Error: Generated invalid Lanwick Driver message!";

constexpr uint8_t kServiceCommand = 0x1E;
constexpr uint8_t kServiceReset = 0x1A;
constexpr uint8_t kFileOpen = 0x00;
constexpr uint8_t kFileWrite = 0x02;
constexpr uint8_t kFileCreate = 0x03;
constexpr uint8_t kFileDelete = 0x04;

constexpr float kLongWriteExtraSeconds = 30.0f;
constexpr float kLongWriteMaxSeconds = 60.0f;

uint32_t ParseAddress(const QString& text) {
  const QString trimmed = text.trimmed();
  if (trimmed.isEmpty()) return 0;
  QHostAddress address;
  if (!address.setAddress(trimmed) || address.protocol() != QAbstractSocket::IPv4Protocol) return 0;
  return address.toIPv4Address();
}

QString DottedAddress(uint32_t address) {
  return QStringLiteral("%1.%2.%3.%4")
      .arg(address >> 24)
      .arg((address >> 16) & 0xFF)
      .arg((address >> 8) & 0xFF)
      .arg(address & 0xFF);
}

// The reply wait in whole milliseconds, kept to 16 bits as the library's
// argument is.
int TimeoutMilliseconds(float seconds) {
  const double ms = double(seconds) * 1000.0;
  uint32_t whole = 0;
  if (ms >= 4294967295.0) {
    whole = 0xFFFFFFFFu;
  } else if (ms > 0) {
    whole = static_cast<uint32_t>(ms);
  }
  return static_cast<uint16_t>(whole);
}

// A path or command with its terminating zero byte, 8-bit text.
void AppendText(QByteArray& out, const QString& text) {
  out.append(text.toLatin1());
  out.append('\0');
}

// Restores a setting when the request that changed it ends.
template <typename T>
class Restore {
 public:
  explicit Restore(T& value) : value_(value), saved_(value) {}
  ~Restore() { value_ = saved_; }
  Restore(const Restore&) = delete;
  Restore& operator=(const Restore&) = delete;

 private:
  T& value_;
  T saved_;
};

}  // namespace

StationLink::StationLink() : transport_(std::make_unique<UdpStationTransport>()) {}

StationLink::~StationLink() = default;

void StationLink::SetProtocol(const QString& name) {
  protocol_ = name;
  if (name == QLatin1String(kProtocolLnk) && device_ != QLatin1String(kDeviceEthernet)) {
    formatB_ = true;
  }
}

void StationLink::SetAddress(const QString& text) { address_ = ParseAddress(text); }

void StationLink::SetAlternateAddress(const QString& text) { alternate_ = ParseAddress(text); }

void StationLink::SetDestination(bool fixed, int number) {
  fixedDestination_ = fixed;
  if (number != -1) fixedNumber_ = static_cast<uint16_t>(number);
}

void StationLink::SetStationPort(uint16_t port) {
  stationPort_ = port;
  transport_->SetStationPort(port);
}

void StationLink::SetTransport(std::unique_ptr<StationTransport> transport) {
  if (!transport) return;
  Close();
  transport_ = std::move(transport);
  if (stationPort_ != 0) transport_->SetStationPort(stationPort_);
}

bool StationLink::IsNullDevice() const {
  return device_.left(4).compare(QLatin1String("NULL"), Qt::CaseInsensitive) == 0;
}

bool StationLink::Open(QObject* window) {
  if (!useLibrary_) return false;
  window_ = window;
  // The station database library that could name another local station
  // does not exist here.
  localStation_ = kDefaultLocalStation;
  if (fixedDestination_) {
    destinationStation_ = fixedNumber_;
  } else {
    if (configuredStation_ > 0x3FFF) return false;
    destinationStation_ = configuredStation_;
  }
  if (device_ == QLatin1String(kDeviceEthernet)) {
    const uint32_t address = useAlternate_ ? alternate_ : address_;
    if (address == 0) return false;
    addressText_ = DottedAddress(address);
  }
  handle_ = IsNullDevice() ? 0 : transport_->OpenConnection(device_);
  return handle_ >= 0;
}

bool StationLink::Close() {
  bool closed = false;
  if (handle_ >= 0) closed = IsNullDevice() ? true : transport_->CloseConnection(handle_);
  handle_ = -1;
  return closed;
}

bool StationLink::Send(int functionCode, const QByteArray& data) {
  if (IsNullDevice()) {
    reply_.Clear();
    reply_.SetWord(kRecFunction, kFunctionPositiveReply);
    reply_.bytes[kRecSequence] = sequence_;
    return true;
  }
  StationRecord request;
  request.bytes[kRecFormat] = static_cast<uint8_t>(FormatCode());
  request.bytes[kRecMarker] = kRecordMarker;
  request.SetWord(kRecSource, localStation_);
  request.SetWord(kRecDestination, destinationStation_);
  request.SetWord(kRecFunction, static_cast<uint16_t>(functionCode));
  request.SetWord(kRecDataLength, static_cast<uint16_t>(std::min<qsizetype>(data.size(), 0xFFFF)));
  if (protocol_ != QLatin1String(kProtocolLnk) || !useLibrary_) return false;
  return Transaction(request, data);
}

bool StationLink::Transaction(StationRecord& request, const QByteArray& data) {
  if (handle_ < 0) {
    ShowMessage(QString::fromLatin1(kMsgNotOpen), QString(), UiIcon::kWarning);
    return false;
  }
  request.bytes[kRecSequence] = sequence_;
  request.SetWord(kRecHandle, static_cast<uint16_t>(handle_));
  if (!transport_->BuildMessage(request, data)) {
    ShowMessage(QString::fromLatin1(kMsgBadMessage), QString(), UiIcon::kWarning);
    return false;
  }
  if (!noCapture_) Ui::Current().SetWaitCursor(true);

  int notices = 0;
  const QMetaObject::Connection connection = QObject::connect(
      transport_.get(), &StationTransport::MessageArrived, [&notices] { ++notices; });
  const int timeoutMs = TimeoutMilliseconds(timeoutSeconds_);
  int retriesLeft = std::max<int>(0, retries_);
  bool accepted = false;
  for (;;) {
    transport_->WriteMessage(request, addressText_);
    const QDeadlineTimer deadline(timeoutMs);
    while (!accepted) {
      const qint64 left = deadline.remainingTime();
      if (notices == 0 && left <= 0) break;
      WaitPumpingUntil([&notices] { return notices > 0; }, int(std::max<qint64>(0, left)));
      if (notices == 0) continue;
      notices = 0;
      StationRecord candidate;
      while (transport_->ReadMessage(candidate)) {
        if (candidate.Sequence() == request.Sequence()) {
          reply_ = candidate;
          accepted = true;
          break;
        }
      }
    }
    if (accepted || retriesLeft == 0) break;
    --retriesLeft;
  }
  QObject::disconnect(connection);
  if (!noCapture_) Ui::Current().SetWaitCursor(false);
  ++sequence_;
  return accepted;
}

bool StationLink::SendPositive(int functionCode, const QByteArray& data) {
  return Send(functionCode, data) && reply_.FunctionCode() == kFunctionPositiveReply;
}

bool StationLink::RunStationCommand(int mode, const QString& command, QString* replyText,
                                    int* status, int extraSeconds, int retries) {
  if (command.size() > kMaxStationCommand) return false;
  if (IsNullDevice()) {
    if (status) *status = 0;
    if (replyText) replyText->clear();
    return true;
  }
  QByteArray data;
  data.append(char(kServiceCommand));
  data.append(char(0x01));
  data.append(char(mode));
  AppendText(data, command);

  bool ok = false;
  {
    Restore<float> keepTimeout(timeoutSeconds_);
    Restore<int16_t> keepRetries(retries_);
    if (retries != -1) retries_ = static_cast<int16_t>(retries);
    if (extraSeconds != -1) timeoutSeconds_ += float(extraSeconds);
    ok = SendPositive(kFunctionSystemServices, data);
  }
  if (!ok) return false;
  const QByteArray replyData = reply_.Data();
  DataReader reader(replyData);
  const int st = reader.Byte();
  if (!reader.Ok()) return false;
  if (status) *status = st;
  if (st == 0 && replyText) {
    replyText->clear();
    const int length = reader.Byte();
    const int available = std::min(length, std::max(0, reader.Remaining()));
    QByteArray text;
    for (int i = 0; i < available; ++i) {
      const char c = char(reader.Byte());
      if (c != '\0') text.append(c);
    }
    *replyText = QString::fromLatin1(text.left(length));
  }
  return true;
}

bool StationLink::CreateStationFile(int mode, uint32_t initialValue, const QString& path,
                                    int* status, uint32_t* handle) {
  if (path.size() > kMaxStationPath) return false;
  if (IsNullDevice()) {
    if (status) *status = 0;
    if (handle) *handle = 0;
    return true;
  }
  QByteArray data;
  data.append(char(kFileCreate));
  data.append(char(mode));
  AppendLong(data, initialValue);
  AppendText(data, path);
  if (!SendPositive(kFunctionFileServices, data)) return false;
  const QByteArray replyData = reply_.Data();
  DataReader reader(replyData);
  const int st = reader.Byte();
  if (!reader.Ok()) return false;
  if (status) *status = st;
  if (st == 0) {
    const uint32_t value = reader.Long();
    if (!reader.Ok()) return false;
    if (handle) *handle = value;
  }
  return true;
}

bool StationLink::WriteStationBlock(uint32_t handle, uint32_t offset, const char* data, int count,
                                    StationWriteResult* result, int flags) {
  if (count < 0 || count > kMaxStationBlock || (count > 0 && !data)) return false;
  if (IsNullDevice()) {
    if (result) *result = StationWriteResult{handle, 0, offset, count};
    return true;
  }
  QByteArray request;
  request.append(char(kFileWrite));
  AppendLong(request, handle);
  AppendLong(request, offset);
  AppendWord(request, static_cast<uint16_t>(count | ((flags & kWriteBlockFlagLong) ? 0x8000 : 0)));
  request.append(data, count);

  bool ok = false;
  {
    Restore<float> keepTimeout(timeoutSeconds_);
    if (flags & kWriteBlockFlagLong) {
      timeoutSeconds_ = std::min(timeoutSeconds_ + kLongWriteExtraSeconds, kLongWriteMaxSeconds);
    }
    ok = SendPositive(kFunctionFileServices, request);
  }
  if (!ok) return false;
  const QByteArray replyData = reply_.Data();
  DataReader reader(replyData);
  StationWriteResult fields;
  fields.first = reader.Long();
  fields.status = reader.Byte();
  fields.second = reader.Long();
  fields.countWritten = reader.Word();
  if (result) *result = fields;
  return reader.Ok() && fields.status == 0 && (fields.countWritten & 0xFF) == (count & 0xFF);
}

bool StationLink::DeleteStationFile(const QString& path) {
  if (path.size() > kMaxStationPath) return false;
  if (IsNullDevice()) return true;
  QByteArray open;
  open.append(char(kFileOpen));
  open.append(char(0));
  AppendText(open, path);
  if (!SendPositive(kFunctionFileServices, open)) return false;
  {
    const QByteArray replyData = reply_.Data();
    DataReader reader(replyData);
    const int st = reader.Byte();
    if (!reader.Ok()) return false;
    if (st != 0) return true;  // nothing there to delete
  }
  QByteArray remove;
  remove.append(char(kFileDelete));
  remove.append(char(0));
  AppendText(remove, path);
  if (!SendPositive(kFunctionFileServices, remove)) return false;
  const QByteArray replyData = reply_.Data();
  DataReader reader(replyData);
  const int st = reader.Byte();
  return reader.Ok() && st == 0;
}

bool StationLink::ResetStation(uint32_t serialNumber, int mode) {
  if (IsNullDevice()) return true;
  QByteArray data;
  data.append(char(kServiceReset));
  AppendLong(data, serialNumber);
  data.append(char(mode));
  return SendPositive(kFunctionSystemServices, data);
}

bool StationLink::QueryStation(uint8_t* reply4) {
  const QByteArray data("\x00\xFE\x01\x00", 4);
  if (!Send(kFunctionPoll, data)) return false;
  if (reply4) {
    const QByteArray replyData = reply_.Data();
    for (int i = 0; i < 4; ++i) reply4[i] = i < replyData.size() ? uint8_t(replyData[i]) : 0;
  }
  return true;
}

}  // namespace fwl
