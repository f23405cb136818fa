// What `fwload batch` shows while it runs: on a terminal one live line per
// running unit (name, step, percent) above which each finished unit gets a
// line of its own; plain lines when stdout is no terminal; JSON lines, each
// carrying its "unit", with --json. At the end the table of results.
#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include "batch/batch_runner.h"

namespace fwl::cli {

class BatchDisplay {
 public:
  enum class Mode { kLive, kPlain, kJson };
  explicit BatchDisplay(Mode mode) : mode_(mode) {}

  void OnEvent(const BatchEvent& event);
  // A line of the batch itself (not of a unit): Ctrl-C notices and the like.
  void Notice(const QString& text);
  // The table (plain and live) at the end.
  void Table(const QList<UnitResult>& results, const QString& recordPath);

 private:
  struct Live {
    QString step;
    int index = -1;
    int steps = 0;
    int percent = -1;
    QString text;
  };
  void Redraw();
  void ClearLive();
  void PrintAbove(const QString& line);
  QString LiveLine(const QString& unit, const Live& live) const;

  Mode mode_;
  QMap<QString, Live> live_;
  QStringList order_;  // running units in start order
  int drawn_ = 0;
  QMap<QString, int> lastTenth_;
};

}  // namespace fwl::cli
