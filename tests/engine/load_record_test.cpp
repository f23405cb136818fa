// The load record: written by the dispatcher for every path (serial, switch
// and station over Ethernet only) and every outcome, with the CRCs of the
// checks, the files' SHA-256, the messages shown and never the password;
// and "fwload history" over a folder of records.
#include "engine/load_record.h"

#include <zlib.h>

#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>

#include "platform/system_folders.h"
#include "serial_load_fixture.h"
#include "switch/load_dispatch.h"

namespace fwl::test {
namespace {

constexpr char kPassword[] = "Pw-7e3!qx";

QString Hex8(uint32_t v) { return QString::asprintf("%08x", unsigned(v)); }

class LoadRecordTest : public SerialLoadTest {
 protected:
  void SetUp() override {
    SerialLoadTest::SetUp();
    SetSettingInt(kSectionLoad, "verify flash", 1);
    QDir(LoadRecordsFolder()).removeRecursively();
  }

  LoadJob Job(int product, int method, const QString& firmware) {
    LoadJob job;
    job.product = product;
    job.method = method;
    job.firmwareFile = firmware;
    job.comPort = unit ? unit->SlavePath() : QStringLiteral("ttyS0");
    job.pcAddress = QStringLiteral("127.0.0.1");
    job.stationAddress = QStringLiteral("127.0.0.1");
    job.subnet = QStringLiteral("255.0.0.0");
    job.stationName = product == kProductSwitch ? QString() : QStringLiteral("North Pump");
    job.stationType = product == kProductSwitch ? 0 : 5101;
    job.serialNumber = product == kProductSwitch ? 0 : 4711;
    job.user = QStringLiteral("admin");
    job.password = QString::fromLatin1(kPassword);
    return job;
  }

  // The record the last StartLoad wrote; fails the test when there is none
  // or when it holds the password anywhere.
  QJsonObject LastRecord() {
    const QString path = LastLoadRecordPath();
    EXPECT_TRUE(path.startsWith(LoadRecordsFolder())) << path.toStdString();
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    const QByteArray bytes = file.readAll();
    EXPECT_FALSE(bytes.contains(kPassword));
    EXPECT_EQ(QDir(LoadRecordsFolder()).entryList(QDir::Files).size(), ++expectedRecords);
    return QJsonDocument::fromJson(bytes).object();
  }

  static QStringList StepStatesOf(const QJsonObject& record) {
    QStringList out;
    for (const QJsonValue& s : record["steps"].toArray()) out << s["state"].toString();
    return out;
  }

  qsizetype expectedRecords = 0;
};

TEST_F(LoadRecordTest, SerialLoadsRecordStepsChecksFilesAndOutcome) {
  const QByteArray fs = MakeImage("kvimagea_mums3_1_5", 120000, 1);
  const QByteArray boot = MakeImage("kvimageba_mums3_1_5", 30000, 2);

  // Success.
  StartUnit(UnitOptions("79524"), Path("kvimagea_mums3_1_5"));
  LoadJob job = Job(kProductStation, kMethodSerial, Path("kvimagea_mums3_1_5"));
  ASSERT_EQ(StartLoad(job, engine), 1) << lines.join('\n').toStdString();
  QJsonObject r = LastRecord();
  EXPECT_EQ(r["outcome"].toString(), "success");
  EXPECT_EQ(r["result"].toInt(), 1);
  EXPECT_TRUE(r["complete"].toBool());
  EXPECT_EQ(r["product"].toString(), "station");
  EXPECT_EQ(r["method"].toString(), "serial");
  EXPECT_EQ(r["port"].toString(), unit->SlavePath());
  EXPECT_EQ(r["version"].toString(), FWL_VERSION);
  EXPECT_EQ(r["station"].toObject()["name"].toString(), "North Pump");
  EXPECT_EQ(r["station"].toObject()["serialNumber"].toInt(), 4711);
  EXPECT_EQ(r["unit"].toObject()["boardCode"].toInt(), 20);
  EXPECT_EQ(r["unit"].toObject()["bootMonitor"].toString(), "U-Boot");
  const QDateTime start = QDateTime::fromString(r["start"].toString(), Qt::ISODateWithMs);
  const QDateTime end = QDateTime::fromString(r["end"].toString(), Qt::ISODateWithMs);
  ASSERT_TRUE(start.isValid() && end.isValid());
  EXPECT_EQ(start.timeSpec(), Qt::UTC);
  EXPECT_LE(start, end);
  const QJsonArray files = r["firmware"].toArray();
  ASSERT_EQ(files.size(), 3);
  EXPECT_EQ(files[0]["sha256"].toString(),
            QCryptographicHash::hash(fs, QCryptographicHash::Sha256).toHex());
  EXPECT_EQ(files[2]["size"].toInt(), boot.size());
  const uint32_t fsCrc =
      uint32_t(crc32(0, reinterpret_cast<const Bytef*>(fs.constData()), uInt(fs.size())));
  const uint32_t bootCrc =
      uint32_t(crc32(0, reinterpret_cast<const Bytef*>(boot.constData()), uInt(boot.size())));
  EXPECT_EQ(files[1]["crc32"].toString(), Hex8(fsCrc));
  const QJsonArray steps = r["steps"].toArray();
  ASSERT_EQ(steps.size(), 8);
  EXPECT_EQ(StepStatesOf(r), QStringList(8, "OK"));
  for (const QJsonValue& s : steps) EXPECT_GE(s["durationMs"].toDouble(-1), 0);
  EXPECT_EQ(steps[4]["name"].toString(), "Verify filesystem image");
  EXPECT_EQ(steps[4]["crcExpected"].toString(), Hex8(fsCrc));
  EXPECT_EQ(steps[4]["crcFound"].toString(), Hex8(fsCrc));
  EXPECT_EQ(steps[7]["crcFound"].toString(), Hex8(bootCrc));
  unit->Stop();
  unit.reset();

  // Failure at a check of the flash.
  SimOptions o = UnitOptions("79524");
  o.corruptWriteOffsets = {0x280000 + 10};
  StartUnit(o, Path("kvimagea_mums3_1_5"));
  job = Job(kProductStation, kMethodSerial, Path("kvimagea_mums3_1_5"));
  EXPECT_EQ(StartLoad(job, engine), 0);
  r = LastRecord();
  EXPECT_EQ(r["outcome"].toString(), "failed");
  const QJsonObject failed = r["steps"].toArray()[4].toObject();
  EXPECT_EQ(failed["state"].toString(), "ERROR");
  EXPECT_NE(failed["crcFound"].toString(), failed["crcExpected"].toString());
  EXPECT_TRUE(failed["text"].toString().startsWith("FLASH contents do not match the image"));
  unit->Stop();
  unit.reset();

  // Cancelled at the power prompt: no unit answers, the operator gives up.
  ui.onPrompt = nullptr;
  ui.CancelPromptAfter(2);
  job = Job(kProductStation, kMethodSerial, Path("kvimagea_mums3_1_5"));
  job.comPort = Path("no-such-port");
  EXPECT_EQ(StartLoad(job, engine), 0);
  r = LastRecord();
  EXPECT_EQ(r["outcome"].toString(), "cancelled");
  EXPECT_TRUE(r["steps"].toArray().isEmpty());
  ASSERT_FALSE(r["messages"].toArray().isEmpty());
  EXPECT_EQ(r["messages"].toArray().last()["text"].toString(),
            "Unable to establish communications.");
}

TEST_F(LoadRecordTest, SwitchOverEthernetRecordsEveryOutcomeWithoutThePassword) {
  MakeImage("kvimagea_mums3_1_5", 1000, 3);
  const LoadJob job = Job(kProductSwitch, kMethodEthernetOnly, Path("kvimagea_mums3_1_5"));
  struct Case {
    int result;
    bool cancel;
    const char* outcome;
  };
  for (const Case c :
       {Case{1, false, "success"}, Case{0, false, "failed"}, Case{-2, true, "cancelled"}}) {
    SCOPED_TRACE(c.outcome);
    ui.CancelPromptAfter(c.cancel ? 0 : -1);
    const auto install = [&](const LoadJob& j, WorkFolderList&) {
      // A path that reports progress through its own channel hands it to
      // the recorder, and says what it learnt of the unit.
      LoadRecorder* recorder = LoadRecorder::Active();
      EXPECT_NE(recorder, nullptr);
      LoadProgressEvent plan;
      plan.kind = LoadProgressEvent::kPlan;
      plan.flags = LoadProgressEvent::kPlanFlags;
      plan.steps = {LoadStep{"Identify switch", 0, 1}, LoadStep{"Install firmware", 0, 1}};
      recorder->OnProgress(plan);
      LoadProgressEvent step;
      step.flags = LoadProgressEvent::kStepFlags;
      step.state = kStepStateOk;
      recorder->OnProgress(step);
      recorder->SetUnitFact("switchModel", "MS-8");
      if (c.cancel) {
        Ui::Current().ShowPrompt("Cycle Power", "");
        EXPECT_TRUE(Ui::Current().PromptCancelled());
        return c.result;
      }
      ShowMessage(QStringLiteral("Could not log in as admin with ") + j.password);
      step.stepIndex = 1;
      recorder->OnProgress(step);
      LoadProgressEvent final;
      final.kind = LoadProgressEvent::kFinal;
      final.flags = LoadProgressEvent::kFinalFlags;
      final.state = c.result == 1 ? kStepStateOk : kStepStateError;
      recorder->OnProgress(final);
      return c.result;
    };
    EXPECT_EQ(StartLoad(job, engine, install), c.result);
    const QJsonObject r = LastRecord();
    EXPECT_EQ(r["outcome"].toString(), c.outcome);
    EXPECT_EQ(r["product"].toString(), "switch");
    EXPECT_EQ(r["method"].toString(), "ethernet only");
    EXPECT_FALSE(r.contains("port"));
    EXPECT_EQ(r["user"].toString(), "admin");
    EXPECT_EQ(r["unit"].toObject()["switchModel"].toString(), "MS-8");
    if (!c.cancel) {
      EXPECT_EQ(StepStatesOf(r), QStringList({"OK", c.result == 1 ? "OK" : "ERROR"}));
      EXPECT_EQ(r["messages"].toArray()[0].toObject()["text"].toString(),
                "Could not log in as admin with ********");
    }
  }
  EXPECT_EQ(LoadRecorder::Active(), nullptr);
}

TEST_F(LoadRecordTest, StationOverEthernetRecordsSuccessFailureCancelAndADeclinedWarning) {
  MakeImage("kvimage_razeb3_1_5", 1000, 4);
  const LoadJob job = Job(kProductStation, kMethodEthernetOnly, Path("kvimage_razeb3_1_5"));
  engine.ethernetOnlyUpgrade = [](LoadEngine& e, const QString&) {
    e.AnnouncePlan({LoadStep{"Transfer file", 1000, 0}});
    e.ReportStep(0, true);
    e.ReportFinalResult(true);
    // The restart countdown follows the final result: a program closed now
    // still leaves the record, with the plan's outcome.
    const QStringList saved = QDir(LoadRecordsFolder()).entryList(QDir::Files);
    EXPECT_EQ(saved.size(), 1);
    QJsonObject early;
    EXPECT_TRUE(ReadLoadRecord(LoadRecordsFolder() + saved.value(0), early));
    EXPECT_EQ(early["outcome"].toString(), "success");
    EXPECT_FALSE(early["complete"].toBool());
    return 1;
  };
  EXPECT_EQ(StartLoad(job, engine), 1);
  QJsonObject r = LastRecord();
  EXPECT_EQ(r["outcome"].toString(), "success");
  EXPECT_EQ(StepStatesOf(r), QStringList({"OK"}));

  engine.ethernetOnlyUpgrade = [](LoadEngine&, const QString&) { return 0; };
  EXPECT_EQ(StartLoad(job, engine), 0);
  EXPECT_EQ(LastRecord()["outcome"].toString(), "failed");

  // The operator cancels the upgrade's own prompt.
  ui.CancelPromptAfter(0);
  engine.ethernetOnlyUpgrade = [](LoadEngine&, const QString&) {
    Ui::Current().ShowPrompt("Station restarting", "");
    return Ui::Current().PromptCancelled() ? -2 : 1;
  };
  EXPECT_EQ(StartLoad(job, engine), -2);
  EXPECT_EQ(LastRecord()["outcome"].toString(), "cancelled");

  ui.CancelPromptAfter(-1);
  ui.QueueAnswer(kAnswerNo);
  EXPECT_EQ(StartLoad(job, engine), -2);
  r = LastRecord();
  EXPECT_EQ(r["outcome"].toString(), "declined");
  EXPECT_EQ(r["messages"].toArray()[0].toObject()["caption"].toString(), "Warning");
}

TEST_F(LoadRecordTest, AFolderThatCannotBeWrittenNeverFailsTheLoad) {
  // The records folder's place is taken by a file.
  QDir().mkpath(SystemFolder());
  WriteFileOrFail(SystemFolder() + "loads", "not a folder");
  engine.ethernetOnlyUpgrade = [](LoadEngine&, const QString&) { return 1; };
  EXPECT_EQ(StartLoad(Job(kProductStation, kMethodEthernetOnly, QString()), engine), 1);
  EXPECT_EQ(LastLoadRecordPath(), "");
  QFile::remove(SystemFolder() + "loads");
}

TEST(LoadHistory, ListsNewestFirstAndShowsOne) {
  QTemporaryDir system;
  const QString folder = system.path() + "/loads/";
  auto record = [&](const char* name, const char* start, const char* outcome) {
    const QJsonObject o{
        {"start", start},
        {"product", "station"},
        {"station", QJsonObject{{"name", "Pump 1"}}},
        {"firmware", QJsonArray{QJsonObject{{"role", "selected"}, {"path", "/fw/kvimage_a"}}}},
        {"outcome", outcome},
        {"result", 1}};
    WriteFileOrFail(folder + name, QJsonDocument(o).toJson());
  };
  record("20260101T100000.000Z.json", "2026-01-01T10:00:00.000Z", "success");
  record("20260301T100000.000Z.json", "2026-03-01T10:00:00.000Z", "failed");
  record("20260201T100000.000Z.json", "2026-02-01T10:00:00.000Z", "cancelled");
  WriteFileOrFail(folder + "20250101T000000.000Z.json", QByteArray(5000, '['));

  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("FWLOADER_SYSTEM_DIR", system.path());
  FwloadRun run = RunFwload({"history"}, env);
  ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
  const QStringList out = run.out.split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(out.size(), 4);
  EXPECT_TRUE(out[0].startsWith("2026-03-01T10:00:00.000Z  station  Pump 1"))
      << out[0].toStdString();
  EXPECT_TRUE(out[0].contains("kvimage_a"));
  EXPECT_TRUE(out[1].contains("cancelled"));
  EXPECT_TRUE(out[3].contains("unreadable"));

  run = RunFwload({"history", "--last", "2", "--json"}, env);
  ASSERT_EQ(run.exitCode, 0);
  const QStringList json = run.out.split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(json.size(), 2);
  const QJsonObject newest = QJsonDocument::fromJson(json[0].toUtf8()).object();
  EXPECT_EQ(newest["file"].toString(), "20260301T100000.000Z.json");
  EXPECT_EQ(newest["outcome"].toString(), "failed");
  EXPECT_EQ(newest["unit"].toString(), "Pump 1");

  run = RunFwload({"history", "show", "20260101T100000.000Z.json"}, env);
  ASSERT_EQ(run.exitCode, 0);
  EXPECT_EQ(QJsonDocument::fromJson(run.out.toUtf8()).object()["outcome"].toString(), "success");
  EXPECT_EQ(RunFwload({"history", "show", "20250101T000000.000Z.json"}, env).exitCode, 1);
  EXPECT_EQ(RunFwload({"history", "--last", "x"}, env).exitCode, 2);
}

}  // namespace
}  // namespace fwl::test
