#include "engine/load_record.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <algorithm>

#include "engine/load_engine.h"
#include "engine/record_file.h"
#include "platform/system_folders.h"
#include "platform/ui.h"

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace fwl {

namespace {

constexpr int kRecordFormat = 1;
constexpr qint64 kMaxRecordBytes = 4 << 20;
// A password this short would be found in ordinary words and numbers;
// shorter ones are kept out of the record only by never being written.
constexpr int kMinScrubbedPassword = 3;

// Per thread: a batch runs several loads at once, each on its own thread.
thread_local LoadRecorder* g_active = nullptr;
thread_local QString g_lastPath;
thread_local QString g_lastError;
thread_local QString g_lastOutcome;

QString IsoUtc(const QDateTime& time) { return time.toUTC().toString(Qt::ISODateWithMs); }

QString StateName(int state) {
  return state == kStepStateOk ? QStringLiteral("OK") : QStringLiteral("ERROR");
}

QString OperatorName() {
  QString name = qEnvironmentVariable("USER");
  if (name.isEmpty()) name = qEnvironmentVariable("USERNAME");
#ifdef Q_OS_UNIX
  if (name.isEmpty()) {
    if (const passwd* pw = getpwuid(geteuid())) name = QString::fromLocal8Bit(pw->pw_name);
  }
#endif
  return name;
}

QString Hex8(uint32_t value) { return QString::asprintf("%08x", unsigned(value)); }

QJsonObject FileEntry(const QString& role, const ImageDigest& digest, bool withCrc) {
  QJsonObject o{{"role", role}, {"path", digest.path}};
  if (digest.Valid()) {
    o.insert("size", double(digest.size));
    o.insert("sha256", QString::fromLatin1(digest.sha256));
    if (withCrc) o.insert("crc32", Hex8(digest.crc32));
  } else {
    o.insert("unreadable", true);
  }
  return o;
}

}  // namespace

// Passes everything on to the Ui that was in force and notes the boxes
// shown and whether the operator cancelled a prompt or progress window.
class RecordingUi final : public Ui {
 public:
  RecordingUi(LoadRecorder& recorder, Ui& next) : recorder_(recorder), next_(next) {}
  int MessageBox(const QString& text, const QString& caption, UiIcon icon,
                 UiButtons buttons) override {
    const int answer = next_.MessageBox(text, caption, icon, buttons);
    const QJsonObject shown{{"caption", recorder_.Scrub(caption)}, {"text", recorder_.Scrub(text)}};
    std::lock_guard<std::mutex> lock(recorder_.uiMutex_);
    recorder_.messages_.append(shown);
    return answer;
  }
  void ShowPrompt(const QString& title, const QString& text) override {
    next_.ShowPrompt(title, text);
  }
  void SetPromptText(const QString& text) override { next_.SetPromptText(text); }
  bool PromptCancelled() override { return Noted(next_.PromptCancelled()); }
  void ClosePrompt() override { next_.ClosePrompt(); }
  void BeginProgress(const QString& text, int maximum,
                     UiCancel cancel = UiCancel::kOffered) override {
    next_.BeginProgress(text, maximum, cancel);
  }
  void SetProgress(int value, const QString& text) override { next_.SetProgress(value, text); }
  bool ProgressCancelled() override { return Noted(next_.ProgressCancelled()); }
  void EndProgress() override { next_.EndProgress(); }
  void SetWaitCursor(bool on) override { next_.SetWaitCursor(on); }

 private:
  bool Noted(bool cancelled) {
    if (cancelled) {
      std::lock_guard<std::mutex> lock(recorder_.uiMutex_);
      recorder_.cancelled_ = true;
    }
    return cancelled;
  }
  LoadRecorder& recorder_;
  Ui& next_;
};

QString LoadRecordsFolder() {
  return WithTrailingSeparator(SystemFolder() + QStringLiteral("loads"));
}

QString LastLoadRecordPath() { return g_lastPath; }

QString LastLoadRecordError() { return g_lastError; }

QString LastLoadRecordLine() {
  if (!g_lastError.isEmpty()) {
    return QStringLiteral("Load record could not be saved: %1").arg(g_lastError);
  }
  if (g_lastPath.isEmpty()) return QString();
  // The operator's words for the outcome; a declined warning loaded nothing
  // and reads as cancelled.
  QString word = QStringLiteral("failed");
  if (g_lastOutcome == QLatin1String("success")) word = QStringLiteral("loaded");
  if (g_lastOutcome == QLatin1String("cancelled") || g_lastOutcome == QLatin1String("declined")) {
    word = QStringLiteral("cancelled");
  }
  return QStringLiteral("Load record saved (%1): %2")
      .arg(word, QDir::toNativeSeparators(g_lastPath));
}

LoadRecorder::LoadRecorder(const LoadRecordSubject& subject, LoadEngine& engine)
    : subject_(subject), engine_(engine) {
  startUtc_ = QDateTime::currentDateTimeUtc();
  clock_.start();
  // What a previous load learnt must not pass for this one's.
  engine_.boardCode = kBoardUnknown;
  engine_.bootMonitorName.clear();
  engine_.imageDigests.clear();
  if (!subject_.firmwareFile.isEmpty()) {
    ImageDigest digest;
    DigestFile(subject_.firmwareFile, digest);
    selectedFirmware_.append(FileEntry(QStringLiteral("selected"), digest, false));
  }
  previousProgress_ = engine_.progressCallback;
  previousProgressUser_ = engine_.progressUser;
  engine_.SetProgressCallback(
      [this](const LoadProgressEvent& event, void*) {
        OnProgress(event);
        if (previousProgress_) previousProgress_(event, previousProgressUser_);
      },
      nullptr);
  ui_ = new RecordingUi(*this, Ui::Current());
  previousUi_ = Ui::Install(ui_);
  previousActive_ = g_active;
  g_active = this;
}

LoadRecorder::~LoadRecorder() {
  if (!finished_) Finish(-1);
  g_active = previousActive_;
  engine_.SetProgressCallback(previousProgress_, previousProgressUser_);
  // Hands back the Ui that was in force, unless someone replaced ours meanwhile.
  if (&Ui::Current() == ui_) Ui::Install(previousUi_);
  delete ui_;
}

LoadRecorder* LoadRecorder::Active() { return g_active; }

void LoadRecorder::OnProgress(const LoadProgressEvent& event) {
  if (!(event.flags & LoadProgressEvent::kValid)) return;
  const qint64 now = clock_.elapsed();
  switch (event.kind) {
    case LoadProgressEvent::kPlan:
      steps_.clear();
      for (const LoadStep& s : event.steps) {
        Step step;
        step.name = s.name;
        steps_.append(step);
      }
      // A step begun before the plan was announced stays current, as in
      // the wizard's list; it began when it was reported.
      if (current_ >= 0 && current_ < steps_.size()) {
        steps_[current_].state = QStringLiteral("working");
        steps_[current_].startedMs = currentStartedMs_;
      } else {
        current_ = -1;
      }
      return;
    case LoadProgressEvent::kUpdate:
      if (current_ >= 0 && current_ < steps_.size()) {
        Step& step = steps_[current_];
        if (event.flags & LoadProgressEvent::kCheck) {
          constexpr qsizetype kMaxChecks = 64;
          if (step.checks.size() < kMaxChecks) {
            step.checks.append(Check{event.checkExpected, event.checkFound});
          }
          if (event.flags & LoadProgressEvent::kText) step.text = Scrub(event.text);
        }
      }
      if (event.flags & LoadProgressEvent::kStepIndex) {
        // The report that opens the plan ends no step.
        if (current_ >= 0 && event.stepIndex != 0 && (event.flags & LoadProgressEvent::kState)) {
          EndCurrentStep(event.state, event);
        }
        current_ = event.stepIndex;
        currentStartedMs_ = now;
        if (current_ >= 0 && current_ < steps_.size()) {
          steps_[current_].state = QStringLiteral("working");
          steps_[current_].startedMs = now;
        }
      }
      return;
    case LoadProgressEvent::kFinal:
      if (event.flags & LoadProgressEvent::kState) {
        EndCurrentStep(event.state, event);
        current_ = -1;
        // Saved now as well: the restart countdown follows, and the program
        // may be closed during it.
        result_ = event.state == kStepStateOk ? 1 : 0;
        haveResult_ = true;
        endUtc_ = QDateTime::currentDateTimeUtc();
        Save();
        haveResult_ = false;
      }
      return;
    default:
      return;
  }
}

void LoadRecorder::EndCurrentStep(int state, const LoadProgressEvent& event) {
  if (current_ < 0 || current_ >= steps_.size()) return;
  Step& step = steps_[current_];
  step.state = StateName(state);
  if (step.startedMs >= 0) step.durationMs = clock_.elapsed() - step.startedMs;
  if (event.flags & LoadProgressEvent::kStateText) step.note = Scrub(event.stateText);
}

void LoadRecorder::SetUnitFact(const QString& key, const QString& value) {
  unitFacts_.insert(Scrub(key), Scrub(value));
}

QString LoadRecorder::Scrub(const QString& text) const {
  if (subject_.password.size() < kMinScrubbedPassword) return text;
  QString out = text;
  return out.replace(subject_.password, QStringLiteral("********"));
}

QJsonObject LoadRecorder::ToJson() const {
  QJsonObject o;
  o.insert("format", kRecordFormat);
  o.insert("start", IsoUtc(startUtc_));
  if (endUtc_.isValid()) o.insert("end", IsoUtc(endUtc_));
  o.insert("program", QStringLiteral("Firmware Loader"));
  o.insert("version", QStringLiteral(FWL_VERSION));
  o.insert("operator", OperatorName());
  auto put = [&o, this](const char* key, const QString& value) {
    if (!value.isEmpty()) o.insert(key, Scrub(value));
  };
  put("pcAddress", subject_.pcAddress);
  put("product", subject_.product);
  put("method", subject_.method);
  put("port", subject_.comPort);
  put("unitAddress", subject_.unitAddress);
  put("subnet", subject_.subnet);
  put("gateway", subject_.gateway);
  put("user", subject_.userName);
  QJsonObject station;
  if (!subject_.stationName.isEmpty()) station.insert("name", Scrub(subject_.stationName));
  if (subject_.stationType != 0) station.insert("type", subject_.stationType);
  if (subject_.serialNumber != 0) station.insert("serialNumber", subject_.serialNumber);
  if (!station.isEmpty()) o.insert("station", station);
  QJsonObject unit = unitFacts_;
  if (engine_.boardCode != kBoardUnknown) unit.insert("boardCode", engine_.boardCode);
  if (!engine_.bootMonitorName.isEmpty()) unit.insert("bootMonitor", engine_.bootMonitorName);
  if (!unit.isEmpty()) o.insert("unit", unit);

  QJsonArray files = selectedFirmware_;
  for (size_t i = 0; i < engine_.imageDigests.size(); ++i) {
    files.append(
        FileEntry(i == 0 ? QStringLiteral("file system image") : QStringLiteral("boot image"),
                  engine_.imageDigests[i], true));
  }
  o.insert("firmware", files);

  QJsonArray steps;
  for (const Step& s : steps_) {
    QJsonObject step{{"name", s.name}, {"state", s.state}};
    if (s.durationMs >= 0) step.insert("durationMs", double(s.durationMs));
    if (!s.checks.isEmpty()) {
      // The last check is the one that decided the step.
      step.insert("crcExpected", Hex8(s.checks.last().expected));
      step.insert("crcFound", Hex8(s.checks.last().found));
      QJsonArray checks;
      for (const Check& c : s.checks) {
        checks.append(QJsonObject{{"crcExpected", Hex8(c.expected)}, {"crcFound", Hex8(c.found)}});
      }
      step.insert("checks", checks);
    }
    if (!s.text.isEmpty()) step.insert("text", s.text);
    if (!s.note.isEmpty()) step.insert("note", s.note);
    steps.append(step);
  }
  o.insert("steps", steps);
  std::lock_guard<std::mutex> lock(uiMutex_);
  if (haveResult_ || finished_) {
    o.insert("result", result_);
    o.insert("outcome", OutcomeLocked());
    o.insert("complete", finished_);
  }
  o.insert("messages", messages_);
  return o;
}

QString LoadRecorder::OutcomeLocked() const {
  if (result_ == 1) return QStringLiteral("success");
  if (cancelled_) return QStringLiteral("cancelled");
  return result_ == -2 ? QStringLiteral("declined") : QStringLiteral("failed");
}

QString LoadRecorder::Outcome() const {
  std::lock_guard<std::mutex> lock(uiMutex_);
  return OutcomeLocked();
}

QString LoadRecorder::Finish(int result) {
  if (finished_) return saveError_.isEmpty() ? path_ : QString();
  result_ = result;
  finished_ = true;
  endUtc_ = QDateTime::currentDateTimeUtc();
  g_lastPath = Save();
  g_lastError = g_lastPath.isEmpty() ? saveError_ : QString();
  g_lastOutcome = Outcome();
  return g_lastPath;
}

QString LoadRecorder::Save() {
  const QString folder = LoadRecordsFolder();
  saveError_.clear();
  if (!QDir().mkpath(folder)) {
    saveError_ =
        QStringLiteral("the folder %1 cannot be created").arg(QDir::toNativeSeparators(folder));
    return QString();
  }
  const QByteArray bytes = QJsonDocument(ToJson()).toJson(QJsonDocument::Indented);
  // The first save takes a name of its own; later ones replace that file
  // whole, so a crash leaves the earlier record or the new one.
  bool saved = false;
  if (path_.isEmpty()) {
    const QString stem = startUtc_.toString(QStringLiteral("yyyyMMdd'T'HHmmss.zzz'Z'"));
    saved = CreateRecordFile(folder, stem, bytes, path_, saveError_);
  } else {
    saved = ReplaceRecordFile(path_, bytes, saveError_);
  }
  return saved ? path_ : QString();
}

bool ReadLoadRecord(const QString& path, QJsonObject& record, QString* error) {
  auto fail = [error](const QString& reason) {
    if (error) *error = reason;
    return false;
  };
  QFile file;
#ifdef Q_OS_UNIX
  // Opened without waiting (a FIFO would block until a writer came) and
  // judged by what was opened, not by a name that may change meanwhile.
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return fail(QString::fromLocal8Bit(std::strerror(errno)));
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return fail(QStringLiteral("not a regular file"));
  }
  if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
    ::close(fd);
    return fail(file.errorString());
  }
#else
  file.setFileName(path);
  if (!QFileInfo(path).isFile()) return fail(QStringLiteral("not a regular file"));
  if (!file.open(QIODevice::ReadOnly)) return fail(file.errorString());
#endif
  if (file.size() > kMaxRecordBytes) return fail(QStringLiteral("larger than 4 MiB"));
  // What the file holds, not a 4 MiB buffer for every record listed (records
  // are renamed into place whole, never grown where they lie).
  const QByteArray bytes = file.read(std::min(file.size(), kMaxRecordBytes) + 1);
  if (bytes.size() > kMaxRecordBytes) return fail(QStringLiteral("larger than 4 MiB"));
  QJsonParseError parseError;
  const QJsonDocument doc = QJsonDocument::fromJson(bytes, &parseError);
  if (parseError.error != QJsonParseError::NoError || !doc.isObject()) {
    return fail(QStringLiteral("not a load record"));
  }
  record = doc.object();
  return true;
}

LoadRecordSummary SummarizeLoadRecord(const QString& fileName, const QJsonObject& record) {
  LoadRecordSummary s;
  s.fileName = fileName;
  s.start = record.value("start").toString();
  s.product = record.value("product").toString();
  s.unit = record.value("station").toObject().value("name").toString();
  if (s.unit.isEmpty()) s.unit = record.value("unitAddress").toString();
  if (s.unit.isEmpty()) s.unit = record.value("port").toString();
  for (const QJsonValue& f : record.value("firmware").toArray()) {
    const QJsonObject file = f.toObject();
    if (file.value("role").toString() == QLatin1String("selected")) {
      s.firmware = QFileInfo(file.value("path").toString()).fileName();
      break;
    }
  }
  s.outcome = record.value("outcome").toString(QStringLiteral("unfinished"));
  s.result = record.value("result").toInt();
  return s;
}

QList<LoadRecordSummary> ListLoadRecords(const QString& folder) {
  QList<LoadRecordSummary> out;
  QDir dir(folder);
  const QStringList names =
      dir.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name | QDir::Reversed);
  for (const QString& name : names) {
    QJsonObject record;
    if (ReadLoadRecord(dir.filePath(name), record)) {
      out.append(SummarizeLoadRecord(name, record));
    } else {
      LoadRecordSummary s;
      s.fileName = name;
      s.outcome = QStringLiteral("unreadable");
      out.append(s);
    }
  }
  return out;
}

}  // namespace fwl
