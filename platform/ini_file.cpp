#include "platform/ini_file.h"

#include <algorithm>
#include <climits>
#include <mutex>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "platform/system_folders.h"

namespace fwl {
namespace {

// Writes read, change and rewrite the whole file; one lock for the process
// keeps two threads (the wizard and a server thread saving its settings)
// from losing each other's change.
std::mutex g_writeMutex;

// Profile files are small; anything past this is ignored rather than read
// into memory, so a hostile file cannot exhaust it.
constexpr qint64 kMaxProfileBytes = 16 * 1024 * 1024;

struct ParsedLine {
  enum Kind { kOther, kSection, kEntry } kind = kOther;
  QString name;   // section name or key, trimmed
  QString value;  // entry value, trimmed
};

// Splits the raw bytes into lines, remembering the line ending used so a
// rewrite keeps the file's style.
QList<QByteArray> SplitLines(const QByteArray& data, QByteArray* eol) {
  *eol = data.contains("\r\n") ? QByteArray("\r\n") : QByteArray("\n");
  QList<QByteArray> lines = data.split('\n');
  if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
  for (QByteArray& line : lines) {
    if (line.endsWith('\r')) line.chop(1);
  }
  return lines;
}

ParsedLine ParseLine(const QByteArray& raw) {
  ParsedLine out;
  const QString line = QString::fromLocal8Bit(raw).trimmed();
  if (line.isEmpty() || line.startsWith(u';')) return out;
  if (line.startsWith(u'[')) {
    const qsizetype close = line.indexOf(u']');
    out.kind = ParsedLine::kSection;
    out.name = (close < 0 ? line.mid(1) : line.mid(1, close - 1)).trimmed();
    return out;
  }
  const qsizetype eq = line.indexOf(u'=');
  if (eq < 0) return out;
  out.kind = ParsedLine::kEntry;
  out.name = line.left(eq).trimmed();
  out.value = line.mid(eq + 1).trimmed();
  return out;
}

QString Unquote(const QString& value) {
  if (value.size() >= 2 && value.startsWith(u'"') && value.endsWith(u'"'))
    return value.mid(1, value.size() - 2);
  return value;
}

QByteArray ReadAll(const QString& path, bool* exists) {
  QFile f(path);
  *exists = f.open(QIODevice::ReadOnly);
  if (!*exists) return {};
  // read(n) sets aside all n bytes before reading, so ask only for what the
  // file holds: every profile call reads the file again.
  return f.read(std::min(f.size(), kMaxProfileBytes));
}

bool SameName(const QString& a, const QString& b) {
  return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Finds the first section called `section`: the index of its header line and
// the index one past its last line. Returns false when absent.
bool FindSection(const QList<QByteArray>& lines, const QString& section, int* header, int* end) {
  for (int i = 0; i < lines.size(); ++i) {
    const ParsedLine p = ParseLine(lines[i]);
    if (p.kind != ParsedLine::kSection || !SameName(p.name, section)) continue;
    *header = i;
    int j = i + 1;
    while (j < lines.size() && ParseLine(lines[j]).kind != ParsedLine::kSection) ++j;
    *end = j;
    return true;
  }
  return false;
}

int FindKey(const QList<QByteArray>& lines, int from, int to, const QString& key) {
  for (int i = from; i < to; ++i) {
    const ParsedLine p = ParseLine(lines[i]);
    if (p.kind == ParsedLine::kEntry && SameName(p.name, key)) return i;
  }
  return -1;
}

bool WriteLines(const QString& path, const QList<QByteArray>& lines, const QByteArray& eol) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QSaveFile f(path);
  if (!f.open(QIODevice::WriteOnly)) return false;
  for (const QByteArray& line : lines) {
    f.write(line);
    f.write(eol);
  }
  return f.commit();
}

}  // namespace

QString ResolveProfilePath(const QString& file) {
  if (file.contains(u'/') || file.contains(u'\\')) return file;
  return QDir(SystemFolder()).filePath(file);
}

QString GetPrivateProfileString(const QString& section, const QString& key,
                                const QString& defaultValue, int bufferSize,
                                const QString& file) {
  if (bufferSize <= 0) return QString();
  bool exists = false;
  const QByteArray data = ReadAll(ResolveProfilePath(file), &exists);
  QString result = defaultValue;
  if (exists) {
    QByteArray eol;
    const QList<QByteArray> lines = SplitLines(data, &eol);
    int header = 0, end = 0;
    if (FindSection(lines, section, &header, &end)) {
      const int at = FindKey(lines, header + 1, end, key);
      if (at >= 0) result = Unquote(ParseLine(lines[at]).value);
    }
  }
  return result.left(bufferSize - 1);
}

int GetPrivateProfileInt(const QString& section, const QString& key, int defaultValue,
                         const QString& file) {
  static const QString kMissing = QStringLiteral("\x01missing\x01");
  const QString text = GetPrivateProfileString(section, key, kMissing, 256, file);
  if (text == kMissing) return defaultValue;
  qsizetype i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
  long long value = 0;
  for (; i < text.size() && text[i].isDigit(); ++i) {
    value = value * 10 + text[i].digitValue();
    if (value > INT_MAX) value = INT_MAX;  // saturate: no overflow
  }
  return static_cast<int>(negative ? -value : value);
}

bool WritePrivateProfileString(const QString& section, const QString& key,
                               const QString& value, const QString& file) {
  const std::lock_guard<std::mutex> lock(g_writeMutex);
  const QString path = ResolveProfilePath(file);
  bool exists = false;
  QByteArray eol;
  QList<QByteArray> lines = SplitLines(ReadAll(path, &exists), &eol);
  const QByteArray entry = (key + u'=' + value).toLocal8Bit();
  int header = 0, end = 0;
  if (!FindSection(lines, section, &header, &end)) {
    lines.append(('[' + section + ']').toLocal8Bit());
    lines.append(entry);
    return WriteLines(path, lines, eol);
  }
  const int at = FindKey(lines, header + 1, end, key);
  if (at >= 0) {
    // Keep the key as it was spelled in the file.
    lines[at] = (ParseLine(lines[at]).name + u'=' + value).toLocal8Bit();
  } else {
    int insert = end;  // after the section's last non-blank line
    while (insert > header + 1 && lines[insert - 1].trimmed().isEmpty()) --insert;
    lines.insert(insert, entry);
  }
  return WriteLines(path, lines, eol);
}

bool DeletePrivateProfileKey(const QString& section, const QString& key, const QString& file) {
  const std::lock_guard<std::mutex> lock(g_writeMutex);
  const QString path = ResolveProfilePath(file);
  bool exists = false;
  QByteArray eol;
  QList<QByteArray> lines = SplitLines(ReadAll(path, &exists), &eol);
  int header = 0, end = 0;
  if (!exists || !FindSection(lines, section, &header, &end)) return true;
  const int at = FindKey(lines, header + 1, end, key);
  if (at < 0) return true;
  lines.removeAt(at);
  return WriteLines(path, lines, eol);
}

QStringList GetPrivateProfileSectionNames(const QString& file) {
  bool exists = false;
  QByteArray eol;
  QStringList names;
  for (const QByteArray& raw : SplitLines(ReadAll(ResolveProfilePath(file), &exists), &eol)) {
    const ParsedLine p = ParseLine(raw);
    if (p.kind == ParsedLine::kSection && !names.contains(p.name, Qt::CaseInsensitive))
      names.append(p.name);
  }
  return names;
}

QStringList GetPrivateProfileKeys(const QString& section, const QString& file) {
  bool exists = false;
  QByteArray eol;
  const QList<QByteArray> lines = SplitLines(ReadAll(ResolveProfilePath(file), &exists), &eol);
  QStringList keys;
  int header = 0, end = 0;
  if (!FindSection(lines, section, &header, &end)) return keys;
  for (int i = header + 1; i < end; ++i) {
    const ParsedLine p = ParseLine(lines[i]);
    if (p.kind == ParsedLine::kEntry) keys.append(p.name);
  }
  return keys;
}

}  // namespace fwl
