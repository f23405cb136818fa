#include "batch/batch_runner.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QThread>

#include "batch/batch_unit_ui.h"
#include "batch/shared_tftp_server.h"
#include "batch/unit_identify.h"
#include "catalogue/firmware_names.h"
#include "catalogue/work_folder_list.h"
#include "engine/load_engine.h"
#include "engine/load_parameter_file.h"
#include "engine/load_record.h"
#include "platform/system_folders.h"
#include "platform/wait_pumping.h"
#include "station/station_link.h"
#include "switch/load_dispatch.h"

namespace fwl {
namespace {

// Follows one load's progress records and turns them into batch events.
class StepTracker {
 public:
  explicit StepTracker(std::function<void(BatchEvent)> post) : post_(std::move(post)) {}

  void OnProgress(const LoadProgressEvent& event) {
    if (!(event.flags & LoadProgressEvent::kValid)) return;
    if (event.kind == LoadProgressEvent::kPlan) {
      steps_.clear();
      for (const LoadStep& s : event.steps) steps_ << s.name;
      BatchEvent e;
      e.kind = QStringLiteral("plan");
      e.steps = int(steps_.size());
      e.text = steps_.join(QStringLiteral(", "));
      post_(e);
      if (current_ >= 0 && current_ < steps_.size()) Step(current_, QString());
      return;
    }
    if (event.kind == LoadProgressEvent::kUpdate) {
      if (event.flags & LoadProgressEvent::kStepIndex) {
        QString ended;
        if (current_ >= 0 && event.stepIndex != 0 && (event.flags & LoadProgressEvent::kState)) {
          ended = event.state == kStepStateOk ? QStringLiteral("OK") : QStringLiteral("ERROR");
          if (ended == QLatin1String("ERROR")) failedStep_ = Name(current_);
        }
        current_ = event.stepIndex;
        if (!steps_.isEmpty()) Step(current_, ended);
      }
      if ((event.flags & LoadProgressEvent::kText) && current_ >= 0) {
        BatchEvent e;
        e.kind = QStringLiteral("text");
        e.step = current_;
        e.steps = int(steps_.size());
        e.name = Name(current_);
        e.text = event.text;
        if (event.text.endsWith(u'%')) {
          bool ok = false;
          const int percent = event.text.chopped(1).trimmed().toInt(&ok);
          if (ok) e.percent = percent;
        }
        if (e.percent >= 0 && e.percent == lastPercent_) return;
        lastPercent_ = e.percent;
        post_(e);
      }
      return;
    }
    if (event.kind == LoadProgressEvent::kFinal && (event.flags & LoadProgressEvent::kState)) {
      if (event.state != kStepStateOk && current_ >= 0) failedStep_ = Name(current_);
      BatchEvent e;
      e.kind = QStringLiteral("step");
      e.step = current_;
      e.steps = int(steps_.size());
      e.name = Name(current_);
      e.state = event.state == kStepStateOk ? QStringLiteral("OK") : QStringLiteral("ERROR");
      post_(e);
    }
  }
  QString failedStep() const { return failedStep_; }
  QString currentStep() const { return Name(current_); }

 private:
  QString Name(int index) const {
    return index >= 0 && index < steps_.size() ? steps_[index] : QString();
  }
  void Step(int index, const QString& endedState) {
    BatchEvent e;
    e.kind = QStringLiteral("step");
    e.step = index;
    e.steps = int(steps_.size());
    e.name = Name(index);
    e.state = endedState;  // the state of the step before, when one ended
    lastPercent_ = -1;
    post_(e);
  }

  std::function<void(BatchEvent)> post_;
  QStringList steps_;
  int current_ = -1;
  int lastPercent_ = -1;
  QString failedStep_;
};

// How long a unit has to answer its identification after a load.
constexpr int kAfterIdentifyTries = 30;
constexpr int kAfterIdentifyPauseMs = 2000;

bool SameVersion(const QString& running, const QString& file) {
  return !running.isEmpty() && !file.isEmpty() && CompareVersions(running, file) == 0;
}

}  // namespace

class BatchRunner::UnitThread final : public QThread {
 public:
  UnitThread(BatchRunner* runner, int index, const BatchUnit& unit, const BatchSettings& settings,
             TftpService* tftp)
      : runner_(runner), index_(index), unit_(unit), settings_(settings), tftp_(tftp) {}

 protected:
  void run() override {
    QElapsedTimer clock;
    clock.start();
    UnitResult r;
    r.unit = unit_.name;
    r.ip = unit_.job.stationAddress;
    r.product =
        unit_.job.product == kProductSwitch ? QStringLiteral("switch") : QStringLiteral("station");
    r.started = true;
    QString lastMessage;
    BatchUnitUi::Settings uiSettings;
    uiSettings.powerOffCommand = unit_.powerOffCommand;
    uiSettings.powerOnCommand = unit_.powerOnCommand;
    uiSettings.message = [this, &lastMessage](const QString& text, bool question) {
      // A question the batch answered says nothing about how the load ended.
      if (!question) lastMessage = text;
      Post(QStringLiteral("message"), text);
    };
    uiSettings.progress = [this](const QString& text) { Post(QStringLiteral("text"), text); };
    BatchUnitUi ui(uiSettings);
    Ui* previousUi = Ui::InstallForThread(&ui);

    Load(r, lastMessage);

    Ui::InstallForThread(previousUi);
    r.durationS = double(clock.elapsed()) / 1000.0;
    r.finished = true;
    BatchRunner* runner = runner_;
    const int index = index_;
    QMetaObject::invokeMethod(
        runner, [runner, index, r] { runner->OnFinished(index, r); }, Qt::QueuedConnection);
  }

 private:
  void Post(const QString& kind, const QString& text) {
    BatchEvent e;
    e.kind = kind;
    e.text = text;
    Post(e);
  }
  void Post(BatchEvent e) {
    e.unit = unit_.name;
    BatchRunner* runner = runner_;
    QMetaObject::invokeMethod(
        runner, [runner, e] { runner->OnEvent(e); }, Qt::QueuedConnection);
  }

  UnitIdentity Identify() const {
    IdentifyOptions options;
    options.user = unit_.job.user;
    options.password = unit_.job.password;
    options.httpPort = settings_.httpPort;
    options.stationPort = settings_.stationPort;
    return unit_.job.product == kProductSwitch
               ? IdentifySwitchUnit(unit_.job.stationAddress, options)
               : IdentifyStationUnit(unit_.job.stationAddress, options);
  }

  void Load(UnitResult& r, QString& lastMessage) {
    const LoadJob& job = unit_.job;
    const bool ethernet = job.method == kMethodEthernetOnly;
    const QString version = DottedFirmwareVersion(job.firmwareFile);
    UnitIdentity before;
    if (ethernet) {
      before = Identify();
      r.firmwareBefore = before.firmware;
    }
    if (settings_.dryRun) {
      r.result = QStringLiteral("skipped");
      const QString file = QFileInfo(job.firmwareFile).fileName();
      if (ethernet && !before.identified) {
        r.message = QStringLiteral("dry run: would load %1 (unit not identified: %2)")
                        .arg(file, before.message);
      } else if (settings_.skipCurrent && SameVersion(before.firmware, version)) {
        r.message = QStringLiteral("dry run: would skip, already runs %1").arg(before.firmware);
      } else {
        r.message = ethernet
                        ? QStringLiteral("dry run: would load %1 (runs %2)")
                              .arg(file, before.firmware.isEmpty() ? "?" : before.firmware)
                        : QStringLiteral("dry run: would load %1 over %2").arg(file, job.comPort);
      }
      return;
    }
    if (settings_.skipCurrent && SameVersion(before.firmware, version)) {
      r.result = QStringLiteral("skipped");
      r.firmwareAfter = before.firmware;
      r.message = QStringLiteral("skipped: already runs %1").arg(before.firmware);
      return;
    }

    // The engine's loads read and write a load parameter file: each gets
    // its own, in its own work folder.
    WorkFolderList folders;
    const QString work = folders.CreateTemporaryFolder();
    if (work.isEmpty()) {
      r.result = QStringLiteral("failed");
      r.message = QStringLiteral("Unable to create temporary directory.");
      return;
    }
    SetThreadLoadParameterFile(WithTrailingSeparator(work) +
                               QString::fromLatin1(kLoadParameterFileName));

    StepTracker tracker([this](BatchEvent e) { Post(std::move(e)); });
    {
      LoadEngine engine;
      engine.tftpService = tftp_;
      engine.tftpListenPort = quint16(settings_.tftpPort);
      if (settings_.stationPort > 0)
        engine.stationLink->SetStationPort(uint16_t(settings_.stationPort));
      engine.catchLimitMs = settings_.catchTimeoutSeconds * 1000;
      engine.noVerify = settings_.noVerify;
      engine.SetProgressCallback(
          [&tracker](const LoadProgressEvent& event, void*) { tracker.OnProgress(event); },
          nullptr);
      if (settings_.verbose) {
        engine.SetMessageSink(
            [this](const QString& line, void*) { Post(QStringLiteral("line"), line); }, nullptr);
      }
      SwitchInstallSettings switchSettings;
      switchSettings.httpPort = settings_.httpPort;
      switchSettings.tftpPort = quint16(settings_.tftpPort);
      switchSettings.tftpService = tftp_;
      switchSettings.openBrowser = [this](const QString& url) {
        Post(QStringLiteral("message"), QStringLiteral("Remote configuration page: %1").arg(url));
      };
      if (settings_.tuneSwitch) settings_.tuneSwitch(switchSettings);
      r.loadResult = StartLoad(job, engine, [&](const LoadJob& j, WorkFolderList& f) {
        return InstallSwitchEthernetOnly(j, f, engine, switchSettings);
      });
      r.record = LastLoadRecordPath();
      if (engine.catchTimedOut) {
        lastMessage = QStringLiteral("The boot monitor did not answer within %1 seconds.")
                          .arg(settings_.catchTimeoutSeconds);
      }
    }
    SetThreadLoadParameterFile(QString());

    if (r.loadResult == 1) {
      r.result = QStringLiteral("loaded");
      r.firmwareAfter = version;
      if (ethernet) {
        // What the unit says it runs now is the last word. A switch's web
        // server may still be starting after its restart: it gets a while.
        UnitIdentity after = Identify();
        for (int tries = 1; !after.answered && tries < kAfterIdentifyTries; ++tries) {
          WaitPumping(kAfterIdentifyPauseMs);
          after = Identify();
        }
        if (!after.identified) {
          r.firmwareAfter.clear();
          r.message = QStringLiteral("Loaded; the unit did not tell its firmware afterwards (%1)")
                          .arg(after.message);
        } else {
          r.firmwareAfter = after.firmware;
          if (!version.isEmpty() && !SameVersion(after.firmware, version)) {
            r.result = QStringLiteral("failed");
            r.message = QStringLiteral("The unit restarted but still runs firmware %1.")
                            .arg(after.firmware);
          }
        }
      }
      return;
    }
    r.result = QStringLiteral("failed");
    r.firmwareAfter = QString();
    if (!lastMessage.isEmpty()) {
      r.message = lastMessage;
    } else if (!tracker.failedStep().isEmpty()) {
      r.message = QStringLiteral("%1 failed").arg(tracker.failedStep());
    } else if (!tracker.currentStep().isEmpty()) {
      r.message = QStringLiteral("%1 did not complete").arg(tracker.currentStep());
    } else {
      r.message = QStringLiteral("Error(s) were found during the load process.");
    }
  }

  BatchRunner* runner_;
  int index_;
  BatchUnit unit_;
  BatchSettings settings_;
  TftpService* tftp_;
};

BatchRunner::BatchRunner(const QList<BatchUnit>& units, const BatchSettings& settings)
    : units_(units), settings_(settings) {
  settings_.parallel = std::clamp(settings_.parallel, 1, kMaxParallel);
  for (const BatchUnit& unit : units_) {
    UnitResult r;
    r.unit = unit.name;
    r.ip = unit.job.stationAddress;
    r.product =
        unit.job.product == kProductSwitch ? QStringLiteral("switch") : QStringLiteral("station");
    r.message = QStringLiteral("not started");
    results_ << r;
  }
}

BatchRunner::~BatchRunner() {
  if (interrupted_) {
    // Loads that cannot be cancelled keep running until the process ends.
    for (auto& thread : threads_) {
      if (thread && thread->isRunning()) (void)thread.release();
    }
    (void)tftp_.release();
    return;
  }
  for (auto& thread : threads_) {
    if (thread) thread->wait();
  }
}

bool BatchRunner::Run(QString* error) {
  if (!settings_.dryRun) {
    SharedTftpSettings tftpSettings;
    tftpSettings.port = settings_.tftpPort;
    tftpSettings.bindAddress = settings_.tftpBindAddress;
    tftp_ = std::make_unique<SharedTftpServer>(tftpSettings);
    if (!tftp_->Start(error)) return false;
  }
  threads_.resize(size_t(units_.size()));
  QEventLoop loop;
  loop_ = &loop;
  StartMore();
  if (running_ > 0 || next_ < units_.size()) loop.exec();
  loop_ = nullptr;
  if (!interrupted_) {
    for (auto& thread : threads_) {
      if (thread) thread->wait();
    }
    if (tftp_) tftp_->Stop();
  }
  return true;
}

void BatchRunner::StartMore() {
  while (!stopStarting_ && running_ < settings_.parallel && next_ < units_.size()) {
    // A serial port carries one load at a time: a row whose port is busy
    // waits for it (the inventory check refuses two rows on one port).
    int pick = -1;
    for (int i = next_; i < units_.size(); ++i) {
      if (results_[i].started) continue;
      const BatchUnit& unit = units_[i];
      if (unit.job.method == kMethodSerial && busyPorts_.contains(unit.job.comPort)) continue;
      pick = i;
      break;
    }
    if (pick < 0) break;
    BatchUnit& unit = units_[pick];
    if (unit.job.method == kMethodSerial) busyPorts_ << unit.job.comPort;
    results_[pick].started = true;
    results_[pick].message.clear();
    ++running_;
    BatchEvent e;
    e.unit = unit.name;
    e.kind = QStringLiteral("start");
    e.text = QFileInfo(unit.job.firmwareFile).fileName();
    if (sink_) sink_(e);
    threads_[size_t(pick)] = std::make_unique<UnitThread>(this, pick, unit, settings_, tftp_.get());
    threads_[size_t(pick)]->start();
    while (next_ < units_.size() && results_[next_].started) ++next_;
  }
  if (running_ == 0 && (stopStarting_ || next_ >= units_.size()) && loop_) loop_->quit();
}

void BatchRunner::OnEvent(const BatchEvent& event) {
  if (interrupted_) return;
  if (sink_) sink_(event);
}

void BatchRunner::OnFinished(int index, const UnitResult& result) {
  if (interrupted_) return;
  results_[index] = result;
  --running_;
  const BatchUnit& unit = units_[index];
  if (unit.job.method == kMethodSerial) busyPorts_.removeAll(unit.job.comPort);
  threads_[size_t(index)]->wait();
  BatchEvent e;
  e.unit = unit.name;
  e.kind = QStringLiteral("result");
  e.state = result.result;
  e.text = result.message;
  if (sink_) sink_(e);
  StartMore();
}

void BatchRunner::StopStarting() {
  stopStarting_ = true;
  for (UnitResult& r : results_) {
    if (!r.started) {
      r.result = QStringLiteral("interrupted");
      r.message = QStringLiteral("not started: the batch was stopped");
    }
  }
  if (running_ == 0 && loop_) loop_->quit();
}

void BatchRunner::Interrupt() {
  StopStarting();
  interrupted_ = true;
  for (UnitResult& r : results_) {
    if (r.started && !r.finished) {
      r.result = QStringLiteral("interrupted");
      r.message = QStringLiteral("interrupted while loading");
    }
  }
  if (loop_) loop_->quit();
}

int BatchRunner::ExitCode() const {
  for (const UnitResult& r : results_) {
    if (r.result != QLatin1String("loaded") && r.result != QLatin1String("skipped")) return 1;
  }
  return 0;
}

qint64 BatchRunner::CachedImageBytes() const { return tftp_ ? tftp_->CachedBytes() : 0; }

}  // namespace fwl
