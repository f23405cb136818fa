// Runs the loads of a batch: up to N at once, each on its own thread with
// its own event loop, Ui, load record and (for the engine's loads) load
// parameter file in its own work folder, all beside one shared TFTP server.
// One unit's failure, hang or silence ends that unit only, within its own
// time limits. The runner lives on the calling (main) thread and reports
// each unit's progress there.
#pragma once

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "batch/inventory.h"
#include "switch/switch_install.h"

class QEventLoop;

namespace fwl {

class SharedTftpServer;

inline constexpr int kDefaultParallel = 4;
inline constexpr int kMaxParallel = 64;

struct BatchSettings {
  int parallel = kDefaultParallel;
  bool skipCurrent = false;  // identify first; skip units already on the firmware's version
  bool dryRun = false;       // identify every unit, load nothing
  bool verbose = false;      // pass the loads' diagnostic lines on
  bool noVerify = false;
  int tftpPort = 69;
  QHostAddress tftpBindAddress{QHostAddress::AnyIPv4};
  int httpPort = 80;
  int stationPort = 0;  // 0: the station link's default
  int catchTimeoutSeconds = 300;
  // Applied to each switch install's settings after the batch's own (tests
  // and benches shorten the waits).
  std::function<void(SwitchInstallSettings&)> tuneSwitch;
};

// One thing that happened to a unit, on the main thread.
struct BatchEvent {
  QString unit;
  QString kind;   // "start", "plan", "step", "text", "message", "line", "result"
  int step = -1;  // 0-based
  int steps = 0;
  QString name;   // step name
  QString state;  // "OK"/"ERROR" for an ended step; the result for "result"
  QString text;
  int percent = -1;
};

struct UnitResult {
  QString unit;
  QString ip;
  QString product;
  QString result = QStringLiteral("interrupted");  // "loaded", "failed", "skipped", "interrupted"
  QString firmwareBefore;
  QString firmwareAfter;
  double durationS = 0;
  QString record;
  QString message;
  int loadResult = 0;
  bool started = false;
  bool finished = false;
};

class BatchRunner : public QObject {
  Q_OBJECT

 public:
  BatchRunner(const QList<BatchUnit>& units, const BatchSettings& settings);
  ~BatchRunner() override;  // waits for running loads unless interrupted

  void SetEventSink(std::function<void(const BatchEvent&)> sink) { sink_ = std::move(sink); }

  // Runs every unit; returns when all have ended, or at once after
  // Interrupt(). False (nothing started) with `error` when the shared TFTP
  // server cannot start.
  bool Run(QString* error);
  // No further unit starts; running ones finish (first Ctrl-C).
  void StopStarting();
  // Run returns now; running units are marked interrupted (second Ctrl-C).
  void Interrupt();
  bool stopping() const { return stopStarting_; }
  int Running() const { return running_; }

  const QList<UnitResult>& results() const { return results_; }
  // 0 every unit loaded or was skipped, 1 any failed or was interrupted.
  int ExitCode() const;
  // Bytes of images the shared server holds (each file once).
  qint64 CachedImageBytes() const;

 private:
  class UnitThread;
  void StartMore();
  void OnEvent(const BatchEvent& event);
  void OnFinished(int index, const UnitResult& result);

  QList<BatchUnit> units_;
  BatchSettings settings_;
  std::function<void(const BatchEvent&)> sink_;
  std::unique_ptr<SharedTftpServer> tftp_;
  std::vector<std::unique_ptr<UnitThread>> threads_;
  QList<UnitResult> results_;
  QList<QString> busyPorts_;
  int next_ = 0;
  int running_ = 0;
  bool stopStarting_ = false;
  bool interrupted_ = false;
  QEventLoop* loop_ = nullptr;
};

}  // namespace fwl
