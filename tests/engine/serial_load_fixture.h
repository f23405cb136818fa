// A serial load against a simulated unit on a real pseudo-terminal: the
// engine, the unit, a scripted operator who switches the unit on when asked,
// the progress records and diagnostic lines of the load, short time-outs and
// a zero restart countdown.
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTime>
#include <cstdio>
#include <memory>

#include "app/settings.h"
#include "engine/load_engine.h"
#include "sim/sim_unit.h"
#include "support/scripted_ui.h"
#include "support/sim_unit_helpers.h"
#include "support/test_util.h"

namespace fwl::test {

// Where the loads put things: NOR offsets relative to the NOR base.
inline constexpr quint32 kFsFlashNorOffset = 0x80000;  // both board families
inline constexpr quint32 kFsRegionSize = 0x780000;

class SerialLoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    tftpPort = FreeUdpPort();
    engine.tftpListenPort = tftpPort;
    engine.tftpBindAddress = QStringLiteral("127.0.0.1");
    engine.SetMessageSink(
        [this](const QString& line, void*) {
          lines << line;
          if (qEnvironmentVariableIsSet("FWL_TRACE_LOAD")) {
            std::fprintf(stderr, "%s %s\n", qPrintable(QTime::currentTime().toString("ss.zzz")),
                         qPrintable(line));
          }
        },
        nullptr);
    engine.SetProgressCallback(
        [this](const LoadProgressEvent& event, void*) { events.push_back(event); }, nullptr);
    ConsoleTimings& t = engine.timings;
    t.protectMs = t.eraseFlashMs = t.eraseNandMs = t.writeNandMs = t.copyMemoryMs = 8000;
    t.memoryWriteMs = t.queryMs = t.setClockMs = t.detectBoardMs = t.environmentMs = 4000;
    t.tftpFetchMs = 20000;
    t.resetSettleMs = 50;
    t.reopenPauseMs = 50;
    engine.planTimings.catchTimeoutMs = 5000;
    SetSettingInt(kSectionLoad, "hard reset delay ms", 0);
    SetSettingInt(kSectionLoad, "4410 hard reset extension", 0);
    // The plans as first built; the read-back checks have tests of their own.
    SetSettingInt(kSectionLoad, "verify flash", 0);
    // The operator switches the unit on when asked to.
    ui.onPrompt = [this](const QString& title, const QString&) {
      if (title == QLatin1String("Turn Power ON") && unit) unit->PowerCycle();
    };
  }

  void TearDown() override {
    if (unit) unit->Stop();
  }

  // Options of a unit with `board` ("arm9", "ppc855", "79524"), fast timings.
  static SimOptions UnitOptions(const QString& board, const QString& monitor = "U-Boot") {
    SimOptions o;
    o.board = SimBoardValue(board);
    ApplyBoardDefaults(o);
    o.monitorName = monitor;
    o.bootDelaySeconds = 3;
    o.countdownTickMs = 200;
    o.tftpTimeoutMs = 500;
    return o;
  }

  // Starts the unit and writes the load parameter file for it.
  void StartUnit(SimOptions options, const QString& firmware) {
    options.tftpPort = tftpPort;
    unit = std::make_unique<SimUnit>(options);
    QString error;
    ASSERT_TRUE(unit->Start(QString(), &error)) << error.toStdString();
    WriteLoadParametersFor(*unit, firmware);
  }

  // Writes `size` pseudo-random bytes to a file named `name` in the test folder.
  QByteArray MakeImage(const QString& name, qsizetype size, quint32 seed) {
    QByteArray data = RandomBytes(size, seed);
    WriteFileOrFail(Path(name), data);
    return data;
  }
  QString Path(const QString& name) const { return dir.path() + QLatin1Char('/') + name; }

  // The step names of the last plan announced.
  QStringList PlanSteps() const {
    QStringList names;
    for (const LoadProgressEvent& e : events) {
      if (e.kind == LoadProgressEvent::kPlan) {
        names.clear();
        for (const LoadStep& s : e.steps) names << s.name;
      }
    }
    return names;
  }

  // Final state of every step of the plan as a display would show it:
  // 0 pending, 1 working, 2 ERROR, 3 OK.
  std::vector<int> StepStates() const {
    std::vector<int> states;
    int current = -1;
    for (const LoadProgressEvent& e : events) {
      if (e.kind == LoadProgressEvent::kPlan) {
        states.assign(e.steps.size(), 0);
        current = -1;
      } else if (e.kind == LoadProgressEvent::kUpdate &&
                 (e.flags & LoadProgressEvent::kStepIndex)) {
        if (current >= 0 && e.stepIndex != 0) states[size_t(current)] = e.state;
        current = e.stepIndex;
        if (current >= 0 && size_t(current) < states.size()) states[size_t(current)] = 1;
      } else if (e.kind == LoadProgressEvent::kFinal && current >= 0) {
        states[size_t(current)] = e.state;
      }
    }
    return states;
  }

  int FinalState() const {
    for (auto it = events.rbegin(); it != events.rend(); ++it) {
      if (it->kind == LoadProgressEvent::kFinal) return it->state;
    }
    return 0;
  }

  // Command lines the unit ran that begin with `prefix`.
  QStringList Commands(const QString& prefix) const { return CommandsStartingWith(*unit, prefix); }

  QTemporaryDir dir;
  quint16 tftpPort = 0;
  ScriptedUi ui;
  ScopedUi scopedUi{&ui};
  LoadEngine engine;
  std::unique_ptr<SimUnit> unit;
  std::vector<LoadProgressEvent> events;
  QStringList lines;
};

}  // namespace fwl::test
