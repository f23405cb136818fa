#include "catalogue/archive_listing.h"

#include <QDateTime>
#include <QRegularExpression>
#include <algorithm>
#include <limits>

namespace fwl {
namespace {

// A date or time field longer than this is not one.
constexpr int kMaxDateFieldLength = 30;

struct Column {
  int start = 0;
  int length = 0;
  bool valid() const { return length > 0; }
};

// Column positions of the fixed layout the archiver printed for years; used
// when the header line names no columns.
constexpr Column kFallbackSize{26, 12};
constexpr int kFallbackNameStart = 53;

QStringList SplitOutputLines(const QString& output) {
  QStringList lines;
  for (QString line : output.split(u'\n', Qt::SkipEmptyParts)) {
    line.remove(u'\r');
    if (!line.isEmpty()) lines.append(line);
  }
  return lines;
}

// Dash groups of a separator line ("----- ---- ------"); empty when the line
// is anything else. A single group is the archiver's "--" block marker.
QList<Column> SeparatorGroups(const QString& line) {
  QList<Column> groups;
  if (!line.startsWith(u'-')) return {};
  int i = 0;
  const int n = static_cast<int>(line.size());
  while (i < n) {
    if (line[i] == u' ') {
      ++i;
      continue;
    }
    if (line[i] != u'-') return {};
    const int start = i;
    while (i < n && line[i] == u'-') ++i;
    groups.append({start, i - start});
  }
  return groups.size() >= 2 ? groups : QList<Column>{};
}

// The group a header word belongs to: the one it overlaps most (the first of
// equals), else the nearest one (the left one of two as near). -1 when there
// are no groups. Groups are sorted and disjoint, so only those the word
// overlaps and its two neighbours are looked at: a header of many words
// against a separator of many groups stays linear.
int GroupOfWord(const QList<Column>& groups, int wordStart, int wordEnd) {
  if (groups.isEmpty()) return -1;
  // First group that ends after the word starts.
  const auto first = std::partition_point(
      groups.begin(), groups.end(),
      [wordStart](const Column& c) { return c.start + c.length <= wordStart; });
  const int lo = static_cast<int>(first - groups.begin());
  int best = -1;
  int bestOverlap = 0;
  for (int g = lo; g < groups.size() && groups[g].start < wordEnd; ++g) {
    const int overlap = std::min(groups[g].start + groups[g].length, wordEnd) -
                        std::max(groups[g].start, wordStart);
    if (overlap > bestOverlap) {
      bestOverlap = overlap;
      best = g;
    }
  }
  if (best >= 0) return best;
  // No overlap: the distance to the group on each side.
  if (lo == 0) return 0;
  if (lo == groups.size()) return lo - 1;
  const int left = wordStart - (groups[lo - 1].start + groups[lo - 1].length);
  const int right = groups[lo].start - wordEnd;
  return left <= right ? lo - 1 : lo;
}

struct Layout {
  Column dateTime;  // the date and time fields, space separated
  Column time;      // set only when the time has a group of its own
  Column attributes;
  Column size = kFallbackSize;
  int nameStart = kFallbackNameStart;
};

Layout LayoutFromHeader(const QString& header, const QList<Column>& groups) {
  Layout layout;
  bool haveName = false;
  static const QRegularExpression kWord(QStringLiteral("\\S+"));
  auto it = kWord.globalMatch(header);
  while (it.hasNext()) {
    const QRegularExpressionMatch m = it.next();
    const int g =
        GroupOfWord(groups, static_cast<int>(m.capturedStart()), static_cast<int>(m.capturedEnd()));
    if (g < 0) break;
    const QString word = m.captured();
    if (word == u"Date") {
      layout.dateTime = groups[g];
    } else if (word == u"Time") {
      if (!layout.dateTime.valid() || layout.dateTime.start != groups[g].start)
        layout.time = groups[g];
    } else if (word == u"Attr") {
      layout.attributes = groups[g];
    } else if (word == u"Size") {
      layout.size = groups[g];
    } else if (word == u"Name") {
      layout.nameStart = groups[g].start;
      haveName = true;
    }
  }
  if (!haveName && groups.size() >= 5) layout.nameStart = groups.last().start;
  if (layout.time.valid() && !layout.dateTime.valid()) std::swap(layout.time, layout.dateTime);
  return layout;
}

QString Field(const QString& line, const Column& c) {
  if (!c.valid() || line.size() <= c.start) return QString();
  return line.mid(c.start, c.length).trimmed();
}

quint32 UtcSecondsFromLocal(const QString& date, const QString& time) {
  if (date.isEmpty() || time.isEmpty() || date.size() > kMaxDateFieldLength ||
      time.size() > kMaxDateFieldLength)
    return 0;
  const QStringList d = date.split(u'-');
  const QStringList t = time.split(u':');
  if (d.size() != 3 || t.size() < 2) return 0;
  const QDate day(d[0].toInt(), d[1].toInt(), d[2].toInt());
  const QTime clock(t[0].toInt(), t[1].toInt(), t.size() > 2 ? t[2].toInt() : 0);
  if (!day.isValid() || !clock.isValid()) return 0;
  const qint64 secs = QDateTime(day, clock).toSecsSinceEpoch();
  if (secs < 0 || secs > std::numeric_limits<quint32>::max()) return 0;
  return static_cast<quint32>(secs);
}

ListedMember ParseMemberLine(const QString& line, const Layout& layout, bool fromHeader) {
  ListedMember member;
  if (line.size() > layout.nameStart) {
    QString name = line.mid(layout.nameStart);
    while (!name.isEmpty() && name.back().isSpace()) name.chop(1);
    member.name = name;
  }
  QString date, time;
  if (fromHeader && layout.dateTime.valid()) {
    const QStringList parts = Field(line, layout.dateTime).split(u' ', Qt::SkipEmptyParts);
    if (!parts.isEmpty()) date = parts[0];
    if (layout.time.valid())
      time = Field(line, layout.time);
    else if (parts.size() > 1)
      time = parts[1];
  } else {
    const QStringList parts = line.split(u' ', Qt::SkipEmptyParts);
    if (parts.size() > 1) {
      date = parts[0];
      time = parts[1];
    }
  }
  member.time = UtcSecondsFromLocal(date, time);
  member.attributes = Field(line, layout.attributes);
  bool ok = false;
  const qint64 size = Field(line, layout.size).toLongLong(&ok);
  member.size = ok && size >= 0 ? size : -1;
  return member;
}

}  // namespace

ArchiveListing ParseArchiveListing(const QString& output) {
  ArchiveListing listing;
  const QStringList lines = SplitOutputLines(output);
  int first = -1;
  QList<Column> groups;
  bool unclosedComment = false;
  for (int i = 0; i < lines.size(); ++i) {
    if (listing.type.isEmpty() && lines[i].startsWith(u"Type = "))
      listing.type = lines[i].mid(7).trimmed();
    // A comment of several lines is printed between braces before the table;
    // a row of dashes in it is no separator of the member table.
    if (!unclosedComment && lines[i].trimmed() == u"Comment =" && i + 1 < lines.size() &&
        lines[i + 1] == u"{") {
      const qsizetype close = lines.indexOf(QStringLiteral("}"), i + 2);
      if (close > 0) {
        i = static_cast<int>(close);
        continue;
      }
      unclosedComment = true;  // no "}" further on: no later comment has one either
    }
    groups = SeparatorGroups(lines[i]);
    if (!groups.isEmpty()) {
      first = i;
      break;
    }
  }
  if (first < 0) return listing;
  listing.valid = true;
  const QString header = first > 0 ? lines[first - 1] : QString();
  const bool fromHeader = header.contains(u"Name");
  const Layout layout = fromHeader ? LayoutFromHeader(header, groups) : Layout();
  for (int i = first + 1; i < lines.size(); ++i) {
    if (!SeparatorGroups(lines[i]).isEmpty()) break;
    ListedMember member = ParseMemberLine(lines[i], layout, fromHeader);
    if (!member.name.isEmpty()) listing.members.append(std::move(member));
  }
  return listing;
}

QStringList ParseExtractedNames(const QString& output) {
  static const QString kNewForm = QStringLiteral("- ");
  static const QString kOldForm = QStringLiteral("Extracting  ");
  QStringList names;
  for (QString line : output.split(u'\n', Qt::SkipEmptyParts)) {
    line.remove(u'\r');
    QString name;
    if (line.startsWith(kNewForm)) {
      name = line.mid(kNewForm.size());
    } else if (line.startsWith(kOldForm)) {
      name = line.mid(kOldForm.size());
      while (!name.isEmpty() && name.back().isSpace()) name.chop(1);
    }
    if (!name.isEmpty()) names.append(name);
  }
  return names;
}

bool MemberNameEscapes(const QString& name) {
  if (name.startsWith(u'/') || name.startsWith(u'\\')) return true;
  if (name.size() >= 2 && name[1] == u':' && name[0].isLetter()) return true;
  for (const QString& part : name.split(QRegularExpression(QStringLiteral("[/\\\\]")))) {
    if (part == u"..") return true;
  }
  return false;
}

}  // namespace fwl
