#include "tftp/tftp_packet.h"

#include <limits>

namespace fwl::tftp {

namespace {

// Splits `data` from `pos` into NUL-terminated strings; an unterminated tail
// is dropped.
QStringList SplitStrings(const QByteArray& data, qsizetype pos) {
  QStringList out;
  while (pos < data.size()) {
    const qsizetype nul = data.indexOf('\0', pos);
    if (nul < 0) break;
    out << QString::fromLatin1(data.constData() + pos, nul - pos);
    pos = nul + 1;
  }
  return out;
}

bool IsPlainNumber(const QString& text, long long value) { return text == QString::number(value); }

}  // namespace

std::optional<Request> ParseRequest(const QByteArray& datagram) {
  const QByteArray data = datagram.left(kMaxRequestSize);
  if (data.size() < 2 || data[0] != '\0') return std::nullopt;
  const int opcode = static_cast<unsigned char>(data[1]);
  if (opcode != kOpRrq && opcode != kOpWrq) return std::nullopt;
  const qsizetype nameEnd = data.indexOf('\0', 2);
  if (nameEnd < 0) return std::nullopt;
  Request request;
  request.opcode = opcode;
  request.fileName = QString::fromLatin1(data.constData() + 2, nameEnd - 2);
  qsizetype pos = nameEnd + 1;
  const qsizetype modeEnd = data.indexOf('\0', pos);
  if (modeEnd >= 0) {
    request.mode = QString::fromLatin1(data.constData() + pos, modeEnd - pos);
    request.options = SplitStrings(data, modeEnd + 1);
  }
  return request;
}

std::optional<uint16_t> ParseAck(const QByteArray& datagram) {
  if (datagram.size() < 4 || datagram[0] != '\0' || datagram[1] != kOpAck) return std::nullopt;
  return static_cast<uint16_t>((static_cast<unsigned char>(datagram[2]) << 8) |
                               static_cast<unsigned char>(datagram[3]));
}

bool IsError(const QByteArray& datagram) {
  return datagram.size() >= 2 && datagram[0] == '\0' && datagram[1] == kOpError;
}

QByteArray MakeData(int64_t block, const char* payload, int size) {
  QByteArray packet(4 + size, Qt::Uninitialized);
  packet[0] = 0;
  packet[1] = kOpData;
  packet[2] = static_cast<char>((block >> 8) & 0xFF);
  packet[3] = static_cast<char>(block & 0xFF);
  if (size > 0) memcpy(packet.data() + 4, payload, static_cast<size_t>(size));
  return packet;
}

QByteArray MakeError(int code, const QString& message) {
  QByteArray packet;
  packet.append('\0').append(static_cast<char>(kOpError));
  packet.append(static_cast<char>((code >> 8) & 0xFF)).append(static_cast<char>(code & 0xFF));
  packet.append(message.toLatin1()).append('\0');
  return packet;
}

QByteArray MakeOack(const std::vector<std::pair<QString, QString>>& options) {
  QByteArray packet;
  packet.append('\0').append(static_cast<char>(kOpOack));
  for (const auto& [name, value] : options) {
    packet.append(name.toLatin1()).append('\0');
    packet.append(value.toLatin1()).append('\0');
  }
  return packet;
}

long long ReadDecimal(const QString& text) {
  qsizetype i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  constexpr long long kLimit = std::numeric_limits<long long>::max() / 10 - 10;
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (value < kLimit) value = value * 10 + (text[i].unicode() - '0');
  }
  return negative ? -value : value;
}

Negotiation NegotiateOptions(const QStringList& options, int64_t fileSize) {
  // Option map in first-appearance order; a later pair replaces the value.
  std::vector<std::pair<QString, QString>> map;
  for (qsizetype i = 0; i + 1 < options.size(); i += 2) {
    const QString name = options[i].toLower();
    bool replaced = false;
    for (auto& entry : map) {
      if (entry.first == name) {
        entry.second = options[i + 1];
        replaced = true;
        break;
      }
    }
    if (!replaced) map.emplace_back(name, options[i + 1]);
  }

  Negotiation result;
  std::vector<std::pair<QString, QString>> unknown;
  qsizetype windowEntry = -1;
  for (const auto& [name, value] : map) {
    if (name == "blksize") {
      const long long n = ReadDecimal(value);
      if (n >= kMaxBlockSize + 1) {
        result.blockSize = kMaxBlockSize;
        result.acknowledged.emplace_back(name, QString::number(kMaxBlockSize));
      } else if (n < 1) {
        result.blockSize = kDefaultBlockSize;
        result.acknowledged.emplace_back(name, QString::number(kDefaultBlockSize));
      } else {
        result.blockSize = static_cast<int>(n);
        result.acknowledged.emplace_back(name,
                                         IsPlainNumber(value, n) ? value : QString::number(n));
      }
    } else if (name == "tsize") {
      result.acknowledged.emplace_back(name, QString::number(fileSize));
    } else if (name == "timeout") {
      const long long n = ReadDecimal(value);
      if (n >= 1 && n <= 255) {
        result.timeoutSeconds = static_cast<int>(n);
        result.acknowledged.emplace_back(name,
                                         IsPlainNumber(value, n) ? value : QString::number(n));
      }
    } else if (name == "windowsize") {
      const long long n = ReadDecimal(value);
      if (n >= 1 && n <= 65535) {
        result.windowSize = static_cast<int>(n < kMaxWindowSize ? n : kMaxWindowSize);
        windowEntry = static_cast<qsizetype>(result.acknowledged.size());
        result.acknowledged.emplace_back(name, QString());
      }
    } else {
      unknown.emplace_back(name, value);
    }
  }
  if (windowEntry >= 0) {
    // The block size is known only now: "blksize" may follow "windowsize".
    const int byBytes = kMaxWindowBytes / result.blockSize;
    if (result.windowSize > byBytes) result.windowSize = byBytes > 1 ? byBytes : 1;
    result.acknowledged[static_cast<size_t>(windowEntry)].second =
        QString::number(result.windowSize);
  }
  qsizetype size = 2;
  for (const auto& [name, value] : result.acknowledged) size += name.size() + value.size() + 2;
  for (const auto& entry : unknown) {
    const qsizetype extra = entry.first.size() + entry.second.size() + 2;
    if (size + extra > kMaxOackSize) continue;
    size += extra;
    result.acknowledged.push_back(entry);
  }
  return result;
}

QString BareFileName(const QString& requested) {
  qsizetype start = 0;
  if (requested.size() >= 2 && requested[1] == ':' && requested[0].isLetter()) start = 2;
  const qsizetype slash = requested.lastIndexOf('/');
  const qsizetype backslash = requested.lastIndexOf('\\');
  const qsizetype sep = slash > backslash ? slash : backslash;
  if (sep >= start) start = sep + 1;
  return requested.mid(start);
}

}  // namespace fwl::tftp
