// Prints a load's progress records as the begin-load page would show them:
// the plan, each step starting, each step's end state, transfer texts and
// the result, as plain lines or JSON lines on stdout.
#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <cstdio>

#include "engine/load_progress.h"

namespace fwl::cli {

inline const char* StateText(int state) { return state == kStepStateOk ? "OK" : "ERROR"; }

// The word a display shows for the step that ends with `event`: a check
// that could not be made ends OK with its reason instead.
inline QString EndText(const LoadProgressEvent& event) {
  if ((event.flags & LoadProgressEvent::kStateText) && !event.stateText.isEmpty()) {
    return event.stateText;
  }
  return QString::fromLatin1(StateText(event.state));
}

// One printer per load; feed it every progress record.
class ProgressPrinter {
 public:
  explicit ProgressPrinter(bool json) : json_(json) {}

  void OnEvent(const LoadProgressEvent& event) {
    if (!(event.flags & LoadProgressEvent::kValid)) return;
    switch (event.kind) {
      case LoadProgressEvent::kPlan:
        Plan(event);
        break;
      case LoadProgressEvent::kUpdate:
        if (event.flags & LoadProgressEvent::kStepIndex) Step(event);
        if (event.flags & LoadProgressEvent::kCheck) Check(event);
        if (event.flags & LoadProgressEvent::kText) Text(event.text);
        break;
      case LoadProgressEvent::kFinal:
        if (event.flags & LoadProgressEvent::kState) Final(event);
        break;
      default:
        break;
    }
  }

  void Line(const QString& text) {
    if (json_) {
      Emit(QJsonObject{{"kind", "line"}, {"text", text}});
    } else {
      std::printf("  | %s\n", qPrintable(text));
      std::fflush(stdout);
    }
  }

  // The load's result and where its record went: `recordPath` when it was
  // saved, else `recordError` (why it could not be).
  void Result(int result, const QString& recordPath = QString(),
              const QString& recordError = QString()) {
    if (json_) {
      QJsonObject o{{"kind", "result"}, {"result", result}, {"ok", result == 1}};
      if (!recordPath.isEmpty()) o.insert("record", recordPath);
      if (!recordError.isEmpty()) o.insert("recordError", recordError);
      Emit(o);
    } else {
      std::printf("%s (result %d)\n", result == 1 ? "Load completed successfully." : "Load failed.",
                  result);
      if (!recordPath.isEmpty()) std::printf("Load record saved: %s\n", qPrintable(recordPath));
      std::fflush(stdout);
      if (!recordError.isEmpty()) {
        std::fprintf(stderr, "Load record could not be saved: %s\n", qPrintable(recordError));
      }
    }
  }

 private:
  QString Name(int index) const {
    return index >= 0 && index < steps_.size() ? steps_[index].name : QString();
  }
  QString Label(int index) const {
    return QStringLiteral("[%1/%2] %3").arg(index + 1).arg(steps_.size()).arg(Name(index));
  }

  void Plan(const LoadProgressEvent& event) {
    steps_ = QList<LoadStep>(event.steps.begin(), event.steps.end());
    // A step begun before its plan was announced (the Ethernet-only upgrade
    // starts step 0 first) stays current, as in the wizard's list.
    if (current_ >= steps_.size()) current_ = -1;
    lastText_.clear();
    if (json_) {
      QJsonArray steps;
      for (const LoadStep& s : steps_) {
        steps.append(
            QJsonObject{{"name", s.name}, {"bytes", s.byteCount}, {"transfer", s.blink == 0}});
      }
      Emit(QJsonObject{{"kind", "plan"}, {"steps", steps}});
      if (current_ >= 0)
        Emit(QJsonObject{{"kind", "step"}, {"step", current_}, {"name", Name(current_)}});
      return;
    }
    std::printf("Plan: %lld steps\n", static_cast<long long>(steps_.size()));
    for (int i = 0; i < steps_.size(); ++i) {
      if (steps_[i].blink == 0) {
        std::printf("  %d. %s (%d bytes)\n", i + 1, qPrintable(steps_[i].name),
                    steps_[i].byteCount);
      } else {
        std::printf("  %d. %s\n", i + 1, qPrintable(steps_[i].name));
      }
    }
    if (current_ >= 0) std::printf("%s: Working...\n", qPrintable(Label(current_)));
    std::fflush(stdout);
  }

  void Step(const LoadProgressEvent& event) {
    if (steps_.isEmpty()) {  // no plan yet: nothing to show
      current_ = event.stepIndex;
      return;
    }
    // A report at index 0 starts the plan; it ends nothing.
    const bool ends =
        current_ >= 0 && event.stepIndex != 0 && (event.flags & LoadProgressEvent::kState);
    if (json_) {
      QJsonObject o{{"kind", "step"}, {"step", event.stepIndex}, {"name", Name(event.stepIndex)}};
      if (ends) {
        QJsonObject ended{
            {"step", current_}, {"name", Name(current_)}, {"state", StateText(event.state)}};
        if (event.flags & LoadProgressEvent::kStateText) ended.insert("note", event.stateText);
        o.insert("ended", ended);
      }
      Emit(o);
    } else {
      if (ends) std::printf("%s: %s\n", qPrintable(Label(current_)), qPrintable(EndText(event)));
      if (event.stepIndex != current_) {
        std::printf("%s: Working...\n", qPrintable(Label(event.stepIndex)));
      }
      std::fflush(stdout);
    }
    current_ = event.stepIndex;
    lastText_.clear();
  }

  // JSON only: the plain form shows a mismatch through its text.
  void Check(const LoadProgressEvent& event) {
    if (!json_ || current_ < 0) return;
    Emit(QJsonObject{{"kind", "check"},
                     {"step", current_},
                     {"expected", QString::asprintf("%08x", unsigned(event.checkExpected))},
                     {"found", QString::asprintf("%08x", unsigned(event.checkFound))}});
  }

  void Text(const QString& text) {
    if (current_ < 0 || text == lastText_) return;
    if (json_) {
      lastText_ = text;
      Emit(QJsonObject{{"kind", "text"}, {"step", current_}, {"text", text}});
      return;
    }
    // Plain lines show a transfer's progress in tens of percent.
    const int percent = text.endsWith(QLatin1Char('%')) ? text.chopped(1).toInt() : -1;
    if (percent >= 0 && percent < 100 && percent / 10 == lastTenth_ && !lastText_.isEmpty()) {
      return;
    }
    lastTenth_ = percent / 10;
    lastText_ = text;
    std::printf("%s: %s\n", qPrintable(Label(current_)), qPrintable(text));
    std::fflush(stdout);
  }

  void Final(const LoadProgressEvent& event) {
    const int state = event.state;
    if (json_) {
      QJsonObject o{{"kind", "final"}, {"state", StateText(state)}};
      if (event.flags & LoadProgressEvent::kStateText) o.insert("note", event.stateText);
      if (current_ >= 0) {
        o.insert("step", current_);
        o.insert("name", Name(current_));
      }
      Emit(o);
      return;
    }
    if (current_ >= 0)
      std::printf("%s: %s\n", qPrintable(Label(current_)), qPrintable(EndText(event)));
    std::fflush(stdout);
  }

  void Emit(const QJsonObject& object) {
    std::printf("%s\n", QJsonDocument(object).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
  }

  bool json_;
  QList<LoadStep> steps_;
  int current_ = -1;
  QString lastText_;
  int lastTenth_ = -1;
};

}  // namespace fwl::cli
