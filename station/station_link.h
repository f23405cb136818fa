// The station link: request/reply transactions with one station over the
// station transport (time-out, retries, sequence numbers), and the few
// station services the Ethernet-only upgrade and the transfer wait use —
// shell commands, file create/write/delete, reset and a short poll.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>

#include "station/station_record.h"

class QObject;

namespace fwl {

class StationTransport;

inline constexpr int kMaxStationCommand = 240;  // characters of a shell command
inline constexpr int kMaxStationPath = 51;      // characters of a file path
inline constexpr int kMaxStationBlock = 230;    // data bytes of one file write
inline constexpr int kWriteBlockFlagLong = 0x80;

inline constexpr uint16_t kDefaultLocalStation = 24624;        // 0x6030
inline constexpr uint16_t kDefaultDestinationStation = 24639;  // 0x603F

// The four values of a file-write reply.
struct StationWriteResult {
  uint32_t first = 0;
  int status = -1;
  uint32_t second = 0;
  int countWritten = 0;
};

class StationLink {
 public:
  StationLink();
  ~StationLink();
  StationLink(const StationLink&) = delete;
  StationLink& operator=(const StationLink&) = delete;

  // ---- Settings. Addresses, station numbers and the window take effect at
  // the next Open; time-out, retries and format at the next request. ----

  // "Ethernet", a serial port name, or a name beginning with "NULL" (any
  // case): the no-device mode, in which every request succeeds at once.
  void SetDevice(const QString& name) { device_ = name; }
  // "LNK" is the only protocol carried; setting it while the device is not
  // "Ethernet" also sets format flag B.
  void SetProtocol(const QString& name);
  // Dotted address; blanks around it are trimmed; empty (or unreadable) text
  // stores 0.
  void SetAddress(const QString& text);
  void SetAlternateAddress(const QString& text);
  void SetUseAlternateAddress(bool flag) { useAlternate_ = flag; }
  void SetTimeout(float seconds) { timeoutSeconds_ = seconds; }
  void SetRetries(int retries) { retries_ = static_cast<int16_t>(retries); }
  void SetFormatFlags(bool a, bool b) {
    formatA_ = a;
    formatB_ = b;
  }
  void SetUseLibrary(bool flag) { useLibrary_ = flag; }
  // The number is stored only when it is not -1.
  void SetDestination(bool fixed, int number);
  // The configured destination used when the destination is not fixed.
  void SetConfiguredStation(int number) { configuredStation_ = static_cast<uint16_t>(number); }
  void SetNoCapture(bool flag) { noCapture_ = flag; }
  // UDP port of the station (default 5454); not part of the original
  // settings, here so tests and simulators can use any port.
  void SetStationPort(uint16_t port);

  QString Device() const { return device_; }
  uint32_t Address() const { return address_; }
  QString AddressText() const { return addressText_; }
  float Timeout() const { return timeoutSeconds_; }
  int Retries() const { return retries_; }
  int FormatCode() const { return formatA_ ? 1 : formatB_ ? 2 : 3; }
  bool NoCapture() const { return noCapture_; }
  int Handle() const { return handle_; }
  int SequenceNumber() const { return sequence_; }
  void SetSequenceNumber(int value) { sequence_ = static_cast<uint8_t>(value); }
  uint16_t LocalStation() const { return localStation_; }
  uint16_t DestinationStation() const { return destinationStation_; }
  bool IsNullDevice() const;
  bool IsOpen() const { return handle_ >= 0; }

  // ---- Operations ----

  // Opens the device; `window` (may be null) receives nothing here but is
  // kept as the owner of the transaction's wait cursor. Fails without
  // touching the transport when the configured destination is out of range
  // (not fixed and above 0x3FFF) or, for "Ethernet", when the address is 0.
  bool Open(QObject* window = nullptr);
  // Closes; the handle becomes -1 in every case. False when it was closed.
  bool Close();

  // One transaction: sends `data` with `functionCode` and waits for the
  // reply with the same sequence number, resending after each time-out
  // while retries are left. True when a reply was accepted; Reply() then
  // holds it (its function code tells positive from negative). Shows
  // "Internal Error: Communications device is not currently open!" or
  // "Internal Error: Generated invalid Lanwick Driver message!" for the two
  // internal faults. The no-device mode returns true without traffic.
  bool Send(int functionCode, const QByteArray& data);
  const StationRecord& Reply() const { return reply_; }

  // ---- Services. Each returns false when no positive reply arrived. ----

  // Runs `command` (at most 240 characters, else false without sending) in
  // the station's shell. `retries` / `extraSeconds` other than -1 replace
  // the retries / add to the time-out for this request only. `status` gets
  // the first reply byte; for status 0, `replyText` the reply text (zero
  // bytes left out, at most 255 characters).
  bool RunStationCommand(int mode, const QString& command, QString* replyText, int* status,
                         int extraSeconds = -1, int retries = -1);
  // Creates the file `path` (at most 51 characters). `status` gets the
  // status; `handle` the file handle, only for status 0.
  bool CreateStationFile(int mode, uint32_t initialValue, const QString& path, int* status,
                         uint32_t* handle);
  // Writes `count` bytes (0..230, else false without sending) at `offset`.
  // With flag 0x80 the time-out is raised by 30 s (to at most 60 s) for this
  // request. True when the station reports status 0 and the whole block
  // written; `result` (may be null) gets the reply's four values even then.
  bool WriteStationBlock(uint32_t handle, uint32_t offset, const char* data, int count,
                         StationWriteResult* result, int flags = 0);
  // True when `path` (at most 51 characters) is gone: a file that cannot be
  // opened counts as deleted.
  bool DeleteStationFile(const QString& path);
  // Asks the station to reset; true on a positive reply.
  bool ResetStation(uint32_t serialNumber, int mode);
  // A poll; true when the station answered at all. `reply4` (may be null)
  // gets the first four reply data bytes (missing ones as 0).
  bool QueryStation(uint8_t* reply4);

  // The transport (the UDP one unless replaced). Replacing it closes the
  // link first.
  StationTransport& Transport() { return *transport_; }
  void SetTransport(std::unique_ptr<StationTransport> transport);

 private:
  bool Transaction(StationRecord& request, const QByteArray& data);
  bool SendPositive(int functionCode, const QByteArray& data);

  QString device_ = QStringLiteral("COM1");
  QString protocol_ = QStringLiteral("LNK");
  uint32_t address_ = 0x0A010001;    // 10.1.0.1
  uint32_t alternate_ = 0x0A010001;  // 10.1.0.1
  bool useAlternate_ = true;
  QString addressText_ = QStringLiteral("127.0.0.1");
  float timeoutSeconds_ = 3.0f;
  int16_t retries_ = 2;
  bool formatA_ = false;
  bool formatB_ = false;
  bool useLibrary_ = false;
  bool fixedDestination_ = true;
  uint16_t fixedNumber_ = kDefaultDestinationStation;
  uint16_t configuredStation_ = kDefaultDestinationStation;
  uint16_t destinationStation_ = kDefaultDestinationStation;
  uint16_t localStation_ = kDefaultLocalStation;
  QObject* window_ = nullptr;
  int handle_ = -1;
  uint8_t sequence_ = 0;
  bool noCapture_ = false;
  uint16_t stationPort_ = 0;  // 0: the transport's own default

  StationRecord reply_;
  std::unique_ptr<StationTransport> transport_;
};

}  // namespace fwl
