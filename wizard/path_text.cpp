#include "wizard/path_text.h"

#include <QDir>
#include <algorithm>

namespace fwl {
namespace {

constexpr int kSpare = 5;

bool IsSeparator(QChar c) { return c == QLatin1Char('/') || c == QLatin1Char('\\'); }

qsizetype LastSeparator(const QString& path) {
  return std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
}

// The separator the path itself uses (the native one when it has none).
QChar SeparatorOf(const QString& path) {
  for (QChar c : path)
    if (IsSeparator(c)) return c;
  return QDir::separator();
}

bool StartsWithDots(const QString& path, int dots) {
  if (path.size() <= dots) return false;
  for (int i = 0; i < dots; ++i)
    if (path[i] != QLatin1Char('.')) return false;
  return IsSeparator(path[dots]);
}

}  // namespace

QString ShortenPathForField(const QString& path, const QFontMetrics& metrics, int fieldWidth) {
  auto width = [&](const QString& text) { return metrics.horizontalAdvance(text); };
  if (width(path) + kSpare < fieldWidth) return path;

  const QChar sep = SeparatorOf(path);
  const qsizetype last = LastSeparator(path);
  const QString fileName = path.mid(last + 1);

  // Root part: ".", a run of "..\" groups, or everything before the second
  // separator (drive and first folder, or "/first" on a rooted path).
  QString root;
  bool relative = false;
  if (StartsWithDots(path, 2)) {
    relative = true;
    qsizetype end = 0;
    while (StartsWithDots(path.mid(end), 2)) end += 3;
    root = path.left(end - 1);
  } else if (StartsWithDots(path, 1)) {
    relative = true;
    root = QStringLiteral(".");
  } else {
    qsizetype first = -1;
    for (qsizetype i = 0; i < path.size(); ++i) {
      if (!IsSeparator(path[i])) continue;
      if (first < 0 && i > 0) {
        first = i;
      } else if (first >= 0 || i > 0) {
        root = path.left(i);
        break;
      } else {
        first = 0;  // a leading separator belongs to the root
      }
    }
    if (root.isEmpty()) root = last > 0 ? path.left(last) : QString();
  }
  if (last < 0 || root.size() >= last) return path;  // nothing between root and name

  const QString ellipsis = sep + QStringLiteral("...") + sep;
  const QString candidate = root + ellipsis + fileName;
  const int average = metrics.averageCharWidth();
  if (width(candidate) + kSpare < fieldWidth) {
    // Show as much of the end of the middle part as fits.
    const QString middle = path.mid(root.size() + 1, last - root.size() - 1);
    QString best = candidate;
    for (qsizetype i = 1; i <= middle.size(); ++i) {
      const QString text = root + sep + QStringLiteral("...") + middle.right(i) + sep + fileName;
      if (width(text) + average + kSpare >= fieldWidth) return best;
      best = text;
    }
    return path;
  }
  const QString nameOnly = QStringLiteral("...") + sep + fileName;
  if (relative) return nameOnly;
  for (qsizetype n = root.size() - 1; n >= 1; --n) {
    const QString text = root.left(n) + ellipsis + fileName;
    if (width(text) + average + kSpare < fieldWidth) return text;
  }
  return nameOnly;
}

QString PathEllipsis(const QString& path, const QFontMetrics& metrics, int width) {
  if (metrics.horizontalAdvance(path) <= width) return path;
  const qsizetype last = LastSeparator(path);
  const QString tail = path.mid(last);  // separator and file name
  const QString dots = QStringLiteral("...");
  if (last < 0 || metrics.horizontalAdvance(dots + tail) > width)
    return metrics.elidedText(path, Qt::ElideLeft, width);
  // Drop characters from the end of the head until head + "..." + tail fits.
  QString head = path.left(last);
  while (!head.isEmpty() && metrics.horizontalAdvance(head + dots + tail) > width) head.chop(1);
  return head + dots + tail;
}

}  // namespace fwl
