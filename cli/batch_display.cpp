#include "cli/batch_display.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

namespace fwl::cli {
namespace {

void EmitJson(const QJsonObject& o) {
  std::printf("%s\n", QJsonDocument(o).toJson(QJsonDocument::Compact).constData());
  std::fflush(stdout);
}

QString Dash(const QString& text) { return text.isEmpty() ? QStringLiteral("-") : text; }

}  // namespace

QString BatchDisplay::LiveLine(const QString& unit, const Live& live) const {
  QString line = unit + QStringLiteral(": ");
  if (live.index >= 0) {
    line += QStringLiteral("[%1/%2] %3").arg(live.index + 1).arg(live.steps).arg(live.step);
  } else {
    line += QStringLiteral("starting");
  }
  if (live.percent >= 0) {
    line += QStringLiteral(" %1%").arg(live.percent);
  } else if (!live.text.isEmpty()) {
    line += QStringLiteral(" - ") + live.text;
  }
  return line.left(200);
}

void BatchDisplay::ClearLive() {
  if (drawn_ > 0) {
    std::printf("\x1b[%dA", drawn_);
    for (int i = 0; i < drawn_; ++i) std::printf("\x1b[2K\n");
    std::printf("\x1b[%dA", drawn_);
  }
  drawn_ = 0;
}

void BatchDisplay::Redraw() {
  ClearLive();
  for (const QString& unit : order_) {
    std::printf("\x1b[2K%s\n", qPrintable(LiveLine(unit, live_.value(unit))));
  }
  drawn_ = int(order_.size());
  std::fflush(stdout);
}

void BatchDisplay::PrintAbove(const QString& line) {
  if (mode_ == Mode::kLive) {
    ClearLive();
    std::printf("%s\n", qPrintable(line));
    Redraw();
  } else {
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
  }
}

void BatchDisplay::Notice(const QString& text) {
  if (mode_ == Mode::kJson) {
    EmitJson(QJsonObject{{"unit", ""}, {"kind", "notice"}, {"text", text}});
  } else {
    PrintAbove(text);
  }
}

void BatchDisplay::OnEvent(const BatchEvent& e) {
  if (mode_ == Mode::kJson) {
    QJsonObject o{{"unit", e.unit}, {"kind", e.kind}};
    if (e.step >= 0) o.insert("step", e.step);
    if (e.steps > 0) o.insert("steps", e.steps);
    if (!e.name.isEmpty()) o.insert("name", e.name);
    if (!e.state.isEmpty()) o.insert(e.kind == "result" ? "result" : "state", e.state);
    if (!e.text.isEmpty()) o.insert(e.kind == "result" ? "message" : "text", e.text);
    if (e.percent >= 0) o.insert("percent", e.percent);
    EmitJson(o);
    return;
  }
  if (e.kind == "start") {
    if (mode_ == Mode::kLive) {
      order_ << e.unit;
      live_.insert(e.unit, Live());
      Redraw();
    } else {
      PrintAbove(QStringLiteral("%1: starting (%2)").arg(e.unit, e.text));
    }
    return;
  }
  if (e.kind == "result") {
    const QString line = e.text.isEmpty()
                             ? QStringLiteral("%1: %2").arg(e.unit, e.state)
                             : QStringLiteral("%1: %2 - %3").arg(e.unit, e.state, e.text);
    if (mode_ == Mode::kLive) {
      order_.removeAll(e.unit);
      live_.remove(e.unit);
    }
    PrintAbove(line);
    return;
  }
  if (e.kind == "message" || e.kind == "line") {
    if (mode_ == Mode::kLive && e.kind == "message") {
      // Boxes scroll above the live lines; the line keeps its step.
      PrintAbove(QStringLiteral("%1: %2").arg(e.unit, e.text.simplified()));
    } else if (mode_ == Mode::kPlain) {
      std::printf("%s: %s%s\n", qPrintable(e.unit), e.kind == "line" ? "| " : "",
                  qPrintable(e.text.simplified()));
      std::fflush(stdout);
    } else if (mode_ == Mode::kLive) {
      PrintAbove(QStringLiteral("%1: | %2").arg(e.unit, e.text.simplified()));
    }
    return;
  }
  if (mode_ == Mode::kLive) {
    if (!live_.contains(e.unit)) return;
    Live& live = live_[e.unit];
    if (e.kind == "step" || e.kind == "plan") {
      if (e.step >= 0) {
        live.index = e.step;
        live.step = e.name;
      }
      live.steps = e.steps;
      live.percent = -1;
      live.text.clear();
    } else if (e.kind == "text") {
      live.percent = e.percent;
      live.text = e.text;
    }
    Redraw();
    return;
  }
  // Plain: steps as they begin and end, transfers in quarters.
  if (e.kind == "step" && e.step >= 0) {
    std::printf(
        "%s: [%d/%d] %s%s\n", qPrintable(e.unit), e.step + 1, e.steps, qPrintable(e.name),
        e.state.isEmpty() ? "" : qPrintable(QStringLiteral(" (previous step %1)").arg(e.state)));
    lastTenth_.insert(e.unit, -1);
  } else if (e.kind == "text" && e.percent >= 0) {
    const int quarter = e.percent / 25;
    if (quarter == lastTenth_.value(e.unit, -1)) return;
    lastTenth_.insert(e.unit, quarter);
    std::printf("%s: [%d/%d] %s %d%%\n", qPrintable(e.unit), e.step + 1, e.steps,
                qPrintable(e.name), e.percent);
  } else if (e.kind == "text") {
    std::printf("%s: %s\n", qPrintable(e.unit), qPrintable(e.text));
  }
  std::fflush(stdout);
}

void BatchDisplay::Table(const QList<UnitResult>& results, const QString& recordPath) {
  if (mode_ == Mode::kJson) return;
  if (mode_ == Mode::kLive) ClearLive();
  int nameWidth = 4;
  for (const UnitResult& r : results) nameWidth = std::max(nameWidth, int(r.unit.size()));
  nameWidth = std::min(nameWidth, 32);
  std::printf("\n%-*s  %-15s  %-11s  %-10s  %-10s  %8s  %s\n", nameWidth, "unit", "address",
              "result", "before", "after", "duration", "record");
  for (const UnitResult& r : results) {
    std::printf("%-*s  %-15s  %-11s  %-10s  %-10s  %7.1fs  %s\n", nameWidth,
                qPrintable(r.unit.left(32)), qPrintable(r.ip), qPrintable(r.result),
                qPrintable(Dash(r.firmwareBefore)), qPrintable(Dash(r.firmwareAfter)), r.durationS,
                qPrintable(Dash(r.record)));
  }
  for (const UnitResult& r : results) {
    if ((r.result == "failed" || r.result == "interrupted") && !r.message.isEmpty()) {
      std::printf("%s: %s\n", qPrintable(r.unit), qPrintable(r.message.simplified()));
    }
  }
  if (!recordPath.isEmpty()) std::printf("Batch record saved: %s\n", qPrintable(recordPath));
  std::fflush(stdout);
}

}  // namespace fwl::cli
