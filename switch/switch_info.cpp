#include "switch/switch_info.h"

#include <QFileInfo>

#include "catalogue/firmware_bundle.h"
#include "catalogue/firmware_names.h"

namespace fwl {
namespace {

constexpr int kOemNameMaxChars = 100;
constexpr int kVersionFieldMaxChars = 10;

// Value of `key` up to the next "&" searched from one past the key's start;
// `keepKey` keeps the key in front. A missing "&" gives "" unless
// `toEndWithoutLast`.
QString KeyValue(const QByteArray& body, const QByteArray& key, bool keepKey,
                 bool toEndWithoutLast = false) {
  const qsizetype p = body.indexOf(key);
  if (p < 0) return QString();
  qsizetype q = body.indexOf('&', p + 1);
  if (q < 0) {
    if (!toEndWithoutLast) return QString();
    q = body.size() - 1;
  }
  const qsizetype from = keepKey ? p : p + key.size();
  if (q <= from) return QString();
  return QString::fromLatin1(body.mid(from, q - from));
}

int AtoiField(const QString& text) {
  qsizetype i = 0;
  int value = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  for (; i < text.size() && text[i].isDigit() && text[i].unicode() < 0x80; ++i) {
    value = value * 10 + (text[i].unicode() - u'0');  // at most 10 characters: bounded
    if (value > 100000000) break;
  }
  return negative ? -value : value;
}

}  // namespace

SwitchInfo ParseSwitchInfo(const QByteArray& body) {
  SwitchInfo info;
  if (body.isEmpty()) return info;
  info.kvid = KeyValue(body, "kvid=", true);
  info.boardId = KeyValue(body, "boardId=", false);
  info.fwRev = KeyValue(body, "fwRev=", false);
  info.uboot = KeyValue(body, "uboot=", false, true);
  return info;
}

int BoardIndexFromId(const QString& boardId) {
  for (int i = 0; i < 3; ++i) {
    if (boardId == QLatin1String(kSwitchBoardNames[i])) return i;
  }
  const QString second = DelimitedField(boardId, u' ', 2, int(boardId.size())).toLower();
  for (int i = 0; i < 3; ++i) {
    if (second == QLatin1String(kSwitchBoardNames[i])) return i;
  }
  return kSwitchBoardUnknown;
}

QString SwitchOemName(const QString& kvid) {
  if (!kvid.contains(u'.')) return QString();
  return DelimitedField(kvid, u'.', 2, kOemNameMaxChars);
}

QString BoardFilesystemStem(int board) {
  switch (board) {
    case kSwitchBoard855T:
      return QStringLiteral("kvimage");
    case kSwitchBoard79524:
      return QStringLiteral("kvimagea");
    case kSwitchBoard9260:
      return QStringLiteral("kvimage9");
    default:
      return QString();
  }
}

QString BoardBootStem(int board) {
  switch (board) {
    case kSwitchBoard855T:
      return QStringLiteral("kvimageb");
    case kSwitchBoard79524:
      return QStringLiteral("kvimageba");
    case kSwitchBoard9260:
      return QStringLiteral("kvimageb9");
    default:
      return QString();
  }
}

quint32 BoardBundleSection(int board) {
  switch (board) {
    case kSwitchBoard855T:
      return kTagCpuA;
    case kSwitchBoard79524:
      return kTagCpuB;
    case kSwitchBoard9260:
      return kTagCpuC;
    default:
      return 0;
  }
}

BoardImageNamesResult BoardImageNames(int board, const QString& path) {
  BoardImageNamesResult result;
  const QString name = QFileInfo(path).completeBaseName().toLower();
  const qsizetype p = name.indexOf(QLatin1String("kvimage"));
  if (p < 0 || board < kSwitchBoard855T || board > kSwitchBoard9260) return result;
  const QChar c = p + 7 < name.size() ? name[p + 7] : QChar();
  // The variant letter of the chosen name: 'a' (kvni79524), '9' (ARM9) or
  // none (855T). Any variant is turned into the board's, so a name made for
  // one board never passes as fitting another.
  const QChar own = board == kSwitchBoard79524 ? u'a' : board == kSwitchBoard9260 ? u'9' : QChar();
  const bool variantA = c == u'a';
  const bool variant9 = c == u'9';
  const bool fits = board == kSwitchBoard855T ? !(c.isNull() || variantA || variant9) : c == own;
  if (fits) {
    result.alreadyFits = true;
    return result;
  }
  QString plain = name;
  plain.replace(QLatin1String("kvimagea"), QLatin1String("kvimage"));
  plain.replace(QLatin1String("kvimage9"), QLatin1String("kvimage"));
  const QString stem = BoardFilesystemStem(board);
  result.filesystemName = plain;
  if (stem != QLatin1String("kvimage"))
    result.filesystemName.replace(QLatin1String("kvimage"), stem);
  result.bootName = result.filesystemName;
  result.bootName.replace(stem, BoardBootStem(board));
  return result;
}

void FirmwareMajorMinor(const QString& fwRev, int* major, int* minor) {
  *major = AtoiField(DelimitedField(fwRev, u'.', 1, kVersionFieldMaxChars));
  *minor = AtoiField(DelimitedField(fwRev, u'.', 2, kVersionFieldMaxChars));
}

bool SupportsEthernetOnlyLoad(const QString& fwRev) {
  int major = 0, minor = 0;
  FirmwareMajorMinor(fwRev, &major, &minor);
  return !(major < 3 || (major == 3 && minor < 7));
}

}  // namespace fwl
