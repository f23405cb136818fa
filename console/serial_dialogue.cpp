// The PC's side of the boot-monitor dialogue: opening the COM port with the
// line settings of the load parameter file, reads bounded in time, writes of
// whole command lines, reply collection up to the prompt, diagnostic lines,
// and the reset that closes and reopens the port.
#include <QElapsedTimer>
#include <QFile>
#include <QSerialPort>
#include <algorithm>
#include <cerrno>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

#include "console/line_settings.h"
#include "console/reply_text.h"
#include "engine/load_engine.h"
#include "engine/load_parameter_file.h"
#include "platform/wait_pumping.h"

namespace fwl {

namespace {

constexpr char kMsgOpenFailed[] = "Failed to open comport.";
constexpr char kMsgDialoutHint[] =
    "add your user to the dialout group: sudo usermod -aG dialout $USER, then log in again";
constexpr char kMsgFlushFailed[] = "Error flushing comport buffer.";
constexpr char kMsgResetting[] = "Resetting station.";
constexpr char kMsgEndOfResponse[] = "End of response.";

// QSerialPort keeps what the driver delivers while the event loop runs; a
// bound keeps a chattering line from growing it without limit (the driver
// holds back the rest).
constexpr qint64 kPortReadBufferSize = 64 * 1024;

// A port that has failed this way will not deliver anything again.
bool PortIsGone(const QSerialPort* port) {
  if (!port->isOpen()) return true;
  switch (port->error()) {
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:  // what a hung-up line gives
    case QSerialPort::DeviceNotFoundError:
    case QSerialPort::PermissionError:
    case QSerialPort::NotOpenError:
      return true;
    default:
      return false;
  }
}

// Serial devices belong to the "dialout" group, so an ordinary user outside
// it is refused by the device file's permissions. Qt calls a port locked by
// another program a permission error as well, hence the device file is asked.
bool DeniedByFilePermissions(const QString& device) {
#ifdef Q_OS_UNIX
  return ::access(QFile::encodeName(device).constData(), R_OK | W_OK) != 0 && errno == EACCES;
#else
  Q_UNUSED(device);
  return false;
#endif
}

// Where a reply's own text begins: after the echo of the command line, so an
// error text that is part of the command itself does not count.
qsizetype ErrorSearchStart(const QByteArray& text, const QByteArray& echo) {
  if (echo.isEmpty()) return 0;
  const qsizetype at = text.indexOf(echo);
  return at < 0 ? 0 : at + echo.size();
}

}  // namespace

bool LoadEngine::OpenComPort(ComPort& port) {
  port = nullptr;
  const QString device = QString::fromLatin1(kSectionDevice);
  const QString baud = ReadLoadParameter(device, kKeyBaud, kDeviceKeyBufferSize);
  const QString databits = ReadLoadParameter(device, kKeyDatabits, kDeviceKeyBufferSize);
  const QString parity = ReadLoadParameter(device, kKeyParity, kDeviceKeyBufferSize);
  const QString stopbits = ReadLoadParameter(device, kKeyStopbits, kDeviceKeyBufferSize);
  const QString comport = ReadLoadParameter(device, kKeyComport, kDeviceKeyBufferSize);

  auto serial = std::make_unique<QSerialPort>();
  serial->setPortName(ComPortDevicePath(comport));
  if (comport.isEmpty() || !serial->open(QIODevice::ReadWrite)) {
    ReportLine(QString::fromLatin1(kMsgOpenFailed));
    if (!comport.isEmpty() && DeniedByFilePermissions(ComPortDevicePath(comport)))
      ReportLine(QString::fromLatin1(kMsgDialoutHint));
    return false;
  }
  serial->setReadBufferSize(kPortReadBufferSize);

  static const QSerialPort::Parity kParity[] = {QSerialPort::NoParity, QSerialPort::OddParity,
                                                QSerialPort::EvenParity, QSerialPort::MarkParity,
                                                QSerialPort::SpaceParity};
  const LineSettings line = ParseLineSettings(baud, databits, parity, stopbits);
  bool settingsOk = line.baud > 0 && line.dataBits >= 5 && line.dataBits <= 8;
  if (settingsOk) {
    settingsOk &= serial->setBaudRate(line.baud);
    settingsOk &= serial->setDataBits(static_cast<QSerialPort::DataBits>(line.dataBits));
    settingsOk &= serial->setParity(kParity[line.parity]);
    settingsOk &=
        serial->setStopBits(line.twoStopBits ? QSerialPort::TwoStop : QSerialPort::OneStop);
  }
  settingsOk &= serial->setFlowControl(QSerialPort::NoFlowControl);
  // DTR and RTS are raised for adapters that power the line from them; a
  // device without modem lines (a pseudo-terminal) refuses, which is no
  // reason to give up the port.
  serial->setDataTerminalReady(true);
  serial->setRequestToSend(true);
  serial->clearError();
  if (!settingsOk) {
    serial->close();
    return false;
  }
  port = serial.release();
  return true;
}

bool LoadEngine::PortLost(ComPort port) { return !port || PortIsGone(port); }

void LoadEngine::CloseComPort(ComPort& port) {
  if (port) {
    port->close();
    delete port;
  }
  port = nullptr;
}

bool LoadEngine::ReadPort(ComPort port, char* buffer, int maxBytes, int& received) {
  received = 0;
  if (!port || PortIsGone(port)) return false;
  if (maxBytes <= 0) return true;
  if (port->bytesAvailable() == 0) {
    // Wait with the event loop running: the port's notifier delivers bytes as
    // they come (ending the wait early), and a TFTP server on this thread
    // keeps serving while the dialogue waits for the unit's reply.
    WaitPumpingUntil([port] { return port->bytesAvailable() > 0 || PortIsGone(port); },
                     std::max(0, timings.readMs), 5);
    if (PortIsGone(port)) return false;
  }
  const qint64 n = port->read(buffer, maxBytes);
  if (n < 0) return false;
  received = static_cast<int>(n);
  return true;
}

bool LoadEngine::WritePort(ComPort port, const QByteArray& bytes) {
  if (!port || PortIsGone(port)) return false;
  if (port->write(bytes) != bytes.size()) return false;
  // Allow 10 ms per byte plus one second, as a slow line needs.
  QElapsedTimer clock;
  clock.start();
  const qint64 limit = 10LL * bytes.size() + 1000;
  while (port->bytesToWrite() > 0) {
    const qint64 left = limit - clock.elapsed();
    if (left <= 0 || !port->waitForBytesWritten(static_cast<int>(left))) break;
  }
  return port->bytesToWrite() == 0 && !PortIsGone(port);
}

bool LoadEngine::FlushInput(ComPort port) {
  char scratch[10];
  QElapsedTimer clock;
  clock.start();
  for (;;) {
    int got = 0;
    if (!ReadPort(port, scratch, sizeof scratch, got) || clock.elapsed() > timings.flushLimitMs) {
      ReportLine(QString::fromLatin1(kMsgFlushFailed));
      return false;
    }
    if (got == 0) return true;
  }
}

bool LoadEngine::SettleConsole(ComPort port) {
  char scratch[256];
  QElapsedTimer total;
  total.start();
  QElapsedTimer quiet;
  quiet.start();
  while (quiet.elapsed() < timings.settleQuietMs) {
    int got = 0;
    if (!ReadPort(port, scratch, sizeof scratch, got) || total.elapsed() > timings.flushLimitMs) {
      ReportLine(QString::fromLatin1(kMsgFlushFailed));
      return false;
    }
    if (got > 0) quiet.restart();
  }
  return true;
}

bool LoadEngine::CollectReply(ComPort port, const QByteArray& prompt, QByteArray& reply,
                              int capacity, int timeoutMs, const QByteArray& echo) {
  capacity = std::max(1, capacity);
  reply.clear();
  QByteArray held(capacity, '\0');
  int count = 0;
  QElapsedTimer clock;
  clock.start();
  bool found = false;
  for (;;) {
    int got = 0;
    const bool readOk = ReadPort(port, held.data() + count, capacity - count - 1, got);
    count += got;
    held[count] = '\0';
    const QByteArray text = held.left(count);
    found = PromptAfterFirstByte(text, prompt);
    // A vanished port will never bring the prompt: end here rather than
    // sitting out a time-out of minutes.
    if (!readOk) break;
    // The unit said the command failed and is back at its prompt: the text
    // waited for will not come.
    if (!found && got > 0 && ErrorReplyAt(text, ErrorSearchStart(text, echo)) >= 0) break;
    // Events are served once more either way; only an unfinished reply is
    // worth waiting on (every command would otherwise cost 20 ms more).
    WaitPumping(found ? 0 : 20);
    if (found || clock.elapsed() >= timeoutMs) break;
  }
  reply = held.left(count);
  return found;
}

void LoadEngine::ReportLine(const QString& line) {
  if (messageSink) messageSink(line, messageSinkUser);
}

void LoadEngine::ReportReplyLines(const char* buffer, int length) {
  int runStart = -1;
  for (int i = 0; i <= length; ++i) {
    const bool printable = i < length && static_cast<unsigned char>(buffer[i]) >= 0x20 &&
                           static_cast<unsigned char>(buffer[i]) <= 0x7e;
    if (printable) {
      if (runStart < 0) runStart = i;
    } else if (runStart >= 0) {
      ReportLine(QString::fromLatin1(buffer + runStart, i - runStart));
      runStart = -1;
    }
  }
}

void LoadEngine::ReportReplyLines(const QByteArray& reply) {
  ReportReplyLines(reply.constData(), static_cast<int>(reply.size()));
}

void LoadEngine::ReportFailure(const QString& heading, const QByteArray& reply) {
  ReportLine(heading);
  ReportReplyLines(reply);
  ReportLine(QString::fromLatin1(kMsgEndOfResponse));
}

void LoadEngine::WaitPumping(int milliseconds) { ::fwl::WaitPumping(milliseconds); }

ComPort LoadEngine::ResetAndReopen(ComPort port) {
  WritePort(port, QByteArrayLiteral("reset\r"));
  ReportLine(QString::fromLatin1(kMsgResetting));
  FlushInput(port);
  CloseComPort(port);
  WaitPumping(timings.resetSettleMs);
  ComPort reopened = nullptr;
  for (int attempt = 0; attempt < timings.reopenAttempts; ++attempt) {
    if (OpenComPort(reopened)) return reopened;
    if (attempt + 1 < timings.reopenAttempts) WaitPumping(timings.reopenPauseMs);
  }
  return nullptr;
}

}  // namespace fwl
