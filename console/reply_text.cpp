// Text rules of the boot-monitor dialogue.
#include "console/reply_text.h"

#include <algorithm>

#include "engine/load_engine.h"

namespace fwl {

namespace {

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return c - 'A' + 10;
}

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

QByteArray ReplyText(const QByteArray& reply) {
  const qsizetype nul = reply.indexOf('\0');
  return nul < 0 ? reply : reply.left(nul);
}

bool PromptAfterFirstByte(const QByteArray& reply, const QByteArray& prompt) {
  if (prompt.isEmpty()) return false;
  return ReplyText(reply).indexOf(prompt, 1) >= 1;
}

bool MarkerBeforeFirstPrompt(const QByteArray& reply, const QByteArray& marker) {
  const QByteArray text = ReplyText(reply);
  const qsizetype prompt = text.indexOf(kPromptText);
  if (prompt < 0) return false;
  return text.left(prompt).contains(marker);
}

uint32_t ParseHexPrefix(const QByteArray& text) {
  qsizetype i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  uint64_t value = 0;
  for (; i < text.size() && IsHexDigit(text[i]); ++i) {
    value = value * 16 + HexValue(text[i]);
    if (value > 0xffffffffu) return 0xffffffffu;
  }
  return static_cast<uint32_t>(value);
}

uint32_t FileSizeFromReply(const QByteArray& reply, const QByteArray& commandLine) {
  QByteArray rest = ReplyText(reply);
  if (!commandLine.isEmpty()) rest.replace(commandLine, QByteArray());
  rest.replace(kPromptText, QByteArray());
  rest.replace("\r", QByteArray());
  rest.replace("\n", QByteArray());
  return ParseHexPrefix(rest);
}

bool FileSizeAnswer(const QByteArray& reply, const QByteArray& commandLine, QByteArray& answer,
                    uint32_t& size) {
  QByteArray rest = ReplyText(reply);
  if (!commandLine.isEmpty()) rest.replace(commandLine, QByteArray());
  rest.replace(kPromptText, QByteArray());
  rest.replace("\r", QByteArray());
  rest.replace("\n", QByteArray());
  answer = rest.trimmed();
  QByteArray digits = answer;
  if (digits.startsWith("0x") || digits.startsWith("0X")) digits.remove(0, 2);
  if (digits.isEmpty() || digits.size() > 8) return false;
  for (char c : digits) {
    if (!IsHexDigit(c)) return false;
  }
  size = ParseHexPrefix(digits);
  return true;
}

const QList<QByteArray>& KnownErrorTexts() {
  static const QList<QByteArray> texts{
      "Zero length ???",
      "Unknown command",
      "## Error",
      "Error:",
      "Can't write to protected Flash sectors",
      "Flash not Erased",
      "Outside available Flash",
      "Retry count exceeded",
      "TFTP error",
  };
  return texts;
}

qsizetype ErrorReplyAt(const QByteArray& reply, qsizetype from) {
  const QByteArray text = ReplyText(reply);
  qsizetype first = -1;
  qsizetype firstEnd = 0;
  for (const QByteArray& error : KnownErrorTexts()) {
    const qsizetype at = text.indexOf(error, std::max<qsizetype>(0, from));
    if (at >= 0 && (first < 0 || at < first)) {
      first = at;
      firstEnd = at + error.size();
    }
  }
  if (first < 0 || text.indexOf(kPromptText, firstEnd) < 0) return -1;
  return first;
}

uint32_t BdinfoValue(const QByteArray& reply, const char* name, bool& nameFound) {
  const QByteArray text = ReplyText(reply);
  const qsizetype at = text.indexOf(name);
  nameFound = at >= 0;
  if (!nameFound) return 0;
  const qsizetype hex = text.indexOf("0x", at);
  if (hex < 0 || text.size() - hex < 11) return 0;
  return ParseHexPrefix(text.mid(hex + 2, 9));
}

uint32_t NandSizeFromReply(const QByteArray& reply) {
  struct Size {
    const char* texts[4];
    uint32_t bytes;
  };
  static const Size kSizes[] = {
      {{"16 MB", "16MB", "16 MiB", "16MiB"}, 0x1000000},
      {{"32 MB", "32MB", "32 MiB", "32MiB"}, 0x2000000},
      {{"64 MB", "64MB", "64 MiB", "64MiB"}, 0x4000000},
      {{"128 MB", "128MB", "128 MiB", "128MiB"}, 0x8000000},
  };
  const QByteArray text = ReplyText(reply);
  for (const Size& size : kSizes) {
    for (const char* t : size.texts) {
      if (text.contains(t)) return size.bytes;
    }
  }
  return 0;
}

int BoardCodeFromEnvironment(const QByteArray& reply, bool& unexpected) {
  const QByteArray text = ReplyText(reply);
  unexpected = false;
  int code;
  if (text.contains("board=KORVID kvni9260")) {
    code = kBoardArm9;
  } else if (text.contains("board=KORVID KVNI855T")) {
    code = kBoardPowerPc855T;
  } else if (text.contains("board=KORVID kvni79524")) {
    code = kBoardKvni79524;
  } else if (text.contains("board=")) {
    code = kBoardUnknown;
    unexpected = true;
  } else {
    code = kBoardPowerPc855T;
  }
  // The 855T board's boot monitor lists "stdin=" in its environment; a reply
  // without it is not an environment listing at all.
  if (code == kBoardPowerPc855T && text.indexOf("stdin=", 1) < 1) code = kBoardUnknown;
  return code;
}

QString ComPortDevicePath(const QString& comport) {
  if (comport.contains(QLatin1Char('/'))) return comport;
  return QStringLiteral("/dev/") + comport;
}

int LeadingNumber(const QString& text) {
  int64_t value = 0;
  for (QChar c : text) {
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) break;
    value = value * 10 + (c.unicode() - '0');
    if (value > 0x7fffffff) return 0x7fffffff;
  }
  return static_cast<int>(value);
}

namespace {

// A cursor over one line of a crc32 reply; every step either consumes what
// it names or leaves the cursor where it was and says no.
class LineCursor {
 public:
  explicit LineCursor(const QByteArray& line) : line_(line) {}
  int SkipBlanks() {
    int n = 0;
    while (at_ < line_.size() && (line_[at_] == ' ' || line_[at_] == '\t')) ++at_, ++n;
    return n;
  }
  bool Word(const char* word) {
    const qsizetype n = qsizetype(qstrlen(word));
    if (line_.size() - at_ < n || qstrnicmp(line_.constData() + at_, word, n) != 0) return false;
    at_ += n;
    return true;
  }
  // One to `maxDigits` hex digits, no prefix.
  bool Hex(int maxDigits, uint64_t& value) {
    value = 0;
    int digits = 0;
    while (at_ < line_.size() && IsHexDigit(line_[at_])) {
      if (++digits > maxDigits) return false;
      value = value * 16 + uint64_t(HexValue(line_[at_++]));
    }
    return digits > 0;
  }
  bool AtEnd() const { return at_ == line_.size(); }

 private:
  const QByteArray& line_;
  qsizetype at_ = 0;
};

bool ParseCrc32Line(const QByteArray& line, uint64_t& start, uint64_t& end, uint32_t& crc) {
  LineCursor c(line);
  uint64_t value = 0;
  c.SkipBlanks();
  if (!c.Word("crc32") || c.SkipBlanks() == 0 || !c.Word("for") || c.SkipBlanks() == 0) {
    return false;
  }
  if (!c.Hex(16, start)) return false;
  c.SkipBlanks();
  if (!c.Word("...")) return false;
  c.SkipBlanks();
  if (!c.Hex(16, end)) return false;
  c.SkipBlanks();
  if (!c.Word("==>")) return false;
  c.SkipBlanks();
  if (!c.Hex(8, value)) return false;
  c.SkipBlanks();
  if (!c.AtEnd()) return false;
  crc = uint32_t(value);
  return true;
}

}  // namespace

Crc32Reply ParseCrc32Reply(const QByteArray& reply, uint64_t address, uint64_t size,
                           uint32_t& crc) {
  const QByteArray text = ReplyText(reply);
  bool unknown = false;
  bool first = true;
  qsizetype from = 0;
  while (from < text.size()) {
    qsizetype to = from;
    while (to < text.size() && text[to] != '\r' && text[to] != '\n') ++to;
    const QByteArray line = text.mid(from, to - from);
    from = to + 1;
    // The prompt line ends the reply; what follows it is not this answer.
    // The first line is the echo, which may carry a prompt left over from
    // before the command.
    if (!first && line.startsWith(kPromptText)) break;
    first = false;
    uint64_t start = 0, end = 0;
    uint32_t value = 0;
    if (ParseCrc32Line(line, start, end, value)) {
      // A range that would run past the top of the address space names no
      // memory; its end must not wrap round into a match.
      const bool fits = size > 0 && address <= UINT64_MAX - (size - 1);
      if (fits && start == address && end == address + (size - 1)) {
        crc = value;
        return Crc32Reply::kValue;
      }
      continue;
    }
    if (line.toLower().contains("unknown command")) unknown = true;
  }
  return unknown ? Crc32Reply::kNoCommand : Crc32Reply::kUnreadable;
}

}  // namespace fwl
