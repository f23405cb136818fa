// The load record: written by the dispatcher for every path (serial, switch
// and station over Ethernet only) and every outcome, with the CRCs of the
// checks, the files' SHA-256, the messages shown and never the password;
// and "fwload history" over a folder of records.
#include "engine/load_record.h"

#include <sys/stat.h>
#include <zlib.h>

#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QSet>
#include <barrier>
#include <thread>

#include "engine/record_file.h"
#include "platform/system_folders.h"
#include "serial_load_fixture.h"
#include "sim/sim_station.h"
#include "station/station_link.h"
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

TEST_F(LoadRecordTest, StationOverEthernetRecordsTheRealUpgradeStepByStep) {
  const QByteArray fs = MakeImage("kvimage_razeb3_2_1", 30000, 4);
  const QByteArray boot = MakeImage("kvimageb_razeb3_2_1", 4000, 5);
  const quint16 stationPort = FreeUdpPort();
  engine.stationLink->SetStationPort(stationPort);
  engine.planTimings.transferPollMs = 100;
  engine.planTimings.secondStartPollMs = 100;
  engine.planTimings.restartPollMs = 20;
  auto startStation = [&](const QString& build) {
    SimStationOptions o;
    o.address = QHostAddress(QStringLiteral("127.0.0.1"));
    o.stationPort = stationPort;
    o.tftpPort = tftpPort;
    o.mtd5 = true;
    o.build = build;
    o.restartMs = 30;
    o.tftpTimeoutMs = 300;
    auto station = std::make_unique<SimStation>(o);
    EXPECT_TRUE(station->Start());
    return station;
  };
  const LoadJob job = Job(kProductStation, kMethodEthernetOnly, Path("kvimage_razeb3_2_1"));

  // Success. The record is on the disk as soon as the final result is
  // known, before the dispatcher returns.
  QJsonObject early;
  engine.SetProgressCallback(
      [&](const LoadProgressEvent& e, void*) {
        if (e.kind != LoadProgressEvent::kFinal) return;
        const QStringList saved = QDir(LoadRecordsFolder()).entryList(QDir::Files);
        if (saved.size() == 1) ReadLoadRecord(LoadRecordsFolder() + saved[0], early);
      },
      nullptr);
  std::unique_ptr<SimStation> station = startStation("3.2.0");
  ASSERT_EQ(StartLoad(job, engine), 1) << ui.messageTexts().join('\n').toStdString();
  EXPECT_EQ(early["outcome"].toString(), "success");
  EXPECT_FALSE(early["complete"].toBool(true));
  QJsonObject r = LastRecord();
  EXPECT_EQ(r["outcome"].toString(), "success");
  EXPECT_EQ(r["method"].toString(), "ethernet only");
  // Step 0 begins before the plan is announced; it is still recorded.
  EXPECT_EQ(StepStatesOf(r), QStringList(6, "OK"));
  EXPECT_GE(r["steps"].toArray()[0].toObject()["durationMs"].toDouble(-1), 0);
  // Both images the station fetched, not only the file chosen.
  const QJsonArray files = r["firmware"].toArray();
  ASSERT_EQ(files.size(), 3);
  EXPECT_EQ(files[1]["role"].toString(), "file system image");
  EXPECT_EQ(files[1]["size"].toInt(), fs.size());
  EXPECT_EQ(files[2]["role"].toString(), "boot image");
  EXPECT_EQ(files[2]["path"].toString(), Path("kvimageb_razeb3_2_1"));
  EXPECT_EQ(files[2]["size"].toInt(), boot.size());
  EXPECT_EQ(files[2]["sha256"].toString(),
            QCryptographicHash::hash(boot, QCryptographicHash::Sha256).toHex());
  EXPECT_EQ(station->ReceivedImages().value("kvimageb_razeb3_2_1"), boot);

  // Refused at the firmware check: the step that failed is step 0.
  station.reset();
  station = startStation("1.5.9");
  EXPECT_EQ(StartLoad(job, engine), 0);
  r = LastRecord();
  EXPECT_EQ(r["outcome"].toString(), "failed");
  EXPECT_EQ(StepStatesOf(r),
            QStringList({"ERROR", "not run", "not run", "not run", "not run", "not run"}));
  EXPECT_TRUE(r["messages"].toArray().last().toObject()["text"].toString().startsWith(
      "Firmware versions 1.6"));

  // The warning declined: nothing ran.
  ui.QueueAnswer(kAnswerNo);
  EXPECT_EQ(StartLoad(job, engine), -2);
  r = LastRecord();
  EXPECT_EQ(r["outcome"].toString(), "declined");
  EXPECT_EQ(r["messages"].toArray()[0].toObject()["caption"].toString(), "Warning");
  EXPECT_TRUE(r["steps"].toArray().isEmpty());
  EXPECT_EQ(LastLoadRecordLine(),
            "Load record saved (cancelled): " + QDir::toNativeSeparators(LastLoadRecordPath()));
}

TEST_F(LoadRecordTest, ALoadCancelledAtAPromptIsRecordedAsCancelled) {
  // The Ethernet-only upgrade itself asks nothing; a path that does and is
  // cancelled there is recorded as cancelled, whatever it returns.
  const LoadJob job = Job(kProductStation, kMethodEthernetOnly, QString());
  ui.CancelPromptAfter(0);
  engine.ethernetOnlyUpgrade = [](LoadEngine&, const QString&) {
    Ui::Current().ShowPrompt("Station restarting", "");
    return Ui::Current().PromptCancelled() ? -2 : 1;
  };
  EXPECT_EQ(StartLoad(job, engine), -2);
  EXPECT_EQ(LastRecord()["outcome"].toString(), "cancelled");
}

TEST_F(LoadRecordTest, APpcBootBootImageCheckKeepsBothOfItsChecks) {
  MakeImage("kvimage_razeb3_2_0", 60000, 6);
  const QByteArray boot = MakeImage("kvimageb_razeb3_2_0", 0x3456, 7);
  SimOptions o = UnitOptions("ppc855", "PPCBoot");
  o.nandSize = 0x1000000;
  StartUnit(o, Path("kvimage_razeb3_2_0"));
  ASSERT_EQ(StartLoad(Job(kProductStation, kMethodSerial, Path("kvimage_razeb3_2_0")), engine), 1)
      << lines.join('\n').toStdString();
  const QString crc =
      Hex8(uint32_t(crc32(0, reinterpret_cast<const Bytef*>(boot.constData()), uInt(boot.size()))));
  const QJsonObject r = LastRecord();
  QJsonObject verify;
  for (const QJsonValue& step : r["steps"].toArray()) {
    if (step["name"].toString() == "Verify boot image") verify = step.toObject();
  }
  // The NAND copy read back and the NOR copy in place, each with its CRC.
  const QJsonArray checks = verify["checks"].toArray();
  ASSERT_EQ(checks.size(), 2) << QJsonDocument(verify).toJson().toStdString();
  for (const QJsonValue& c : checks) {
    EXPECT_EQ(c["crcExpected"].toString(), crc);
    EXPECT_EQ(c["crcFound"].toString(), crc);
  }
}

TEST_F(LoadRecordTest, AFolderThatCannotBeWrittenNeverFailsTheLoad) {
  // The records folder's place is taken by a file.
  QDir().mkpath(SystemFolder());
  WriteFileOrFail(SystemFolder() + "loads", "not a folder");
  engine.ethernetOnlyUpgrade = [](LoadEngine&, const QString&) { return 1; };
  EXPECT_EQ(StartLoad(Job(kProductStation, kMethodEthernetOnly, QString()), engine), 1);
  EXPECT_EQ(LastLoadRecordPath(), "");
  EXPECT_FALSE(LastLoadRecordError().isEmpty());
  EXPECT_EQ(LastLoadRecordLine(), "Load record could not be saved: " + LastLoadRecordError());
  QFile::remove(SystemFolder() + "loads");
}

TEST(LoadRecordFile, RecordsCreatedAtOnceUnderOneNameAllSurvive) {
  // Two loads that started in the same millisecond, in two processes, ask
  // for the same name at the same moment: each must get a file of its own.
  QTemporaryDir dir;
  const QString folder = dir.path() + "/";
  constexpr int kWriters = 2;
  constexpr int kRecords = 40;
  std::barrier start(kWriters);
  std::vector<std::thread> writers;
  std::vector<QStringList> paths(kWriters);
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&, w] {
      for (int i = 0; i < kRecords; ++i) {
        start.arrive_and_wait();
        QString path, error;
        const QByteArray bytes = QByteArray::number(w) + ":" + QByteArray::number(i);
        if (CreateRecordFile(folder, "20261209T031522.123Z", bytes, path, error)) {
          paths[size_t(w)] << path;
        }
      }
    });
  }
  for (std::thread& t : writers) t.join();
  QSet<QString> names;
  for (int w = 0; w < kWriters; ++w) {
    ASSERT_EQ(paths[size_t(w)].size(), kRecords);
    for (int i = 0; i < kRecords; ++i) {
      const QString& path = paths[size_t(w)][i];
      names.insert(path);
      EXPECT_EQ(ReadFileOrEmpty(path), QByteArray::number(w) + ":" + QByteArray::number(i));
    }
  }
  EXPECT_EQ(names.size(), kWriters * kRecords);
  // Nothing else is left in the folder (no temporary files).
  EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), kWriters * kRecords);
}

TEST(LoadRecordFile, AFullFileSystemIsReportedAndLeavesNoHalfRecord) {
  // The records folder is a 64 KiB tmpfs filled to the last byte, mounted
  // in a mount namespace of this test's own (no change to the machine).
  QProcess probe;
  probe.start("unshare", {"-rm", "true"});
  if (!probe.waitForFinished(10000) || probe.exitStatus() != QProcess::NormalExit ||
      probe.exitCode() != 0) {
    GTEST_SKIP() << "no mount namespace may be created here (unshare -rm failed), so no small "
                    "file system can be mounted for the test";
  }
  QTemporaryDir system;
  const char* script =
      "sys=$1; shift\n"
      "mkdir -p \"$sys/loads\" || exit 90\n"
      "mount -t tmpfs -o size=64k tmpfs \"$sys/loads\" || exit 91\n"
      "head -c 1048576 /dev/zero > \"$sys/loads/filler\" 2>/dev/null\n"
      "\"$@\"; status=$?\n"
      "ls -A \"$sys/loads\" >&2\n"
      "exit $status\n";
  QProcess run;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("FWLOADER_SYSTEM_DIR", system.path());
  run.setProcessEnvironment(env);
  run.start("unshare",
            {"-rm",        "sh",
             "-c",         script,
             "sh",         system.path(),
             FwloadPath(), "load",
             "--product",  "station",
             "--method",   "serial",
             "--port",     "/nonexistent/tty",
             "--pc-ip",    "127.0.0.1",
             "--ip",       "127.0.0.1",
             "--subnet",   "255.0.0.0",
             "--firmware", QString(FWL_SOURCE_DIR) + "/samples/firmware/kvimagea_mums3_2_7",
             "--yes",      "--catch-timeout",
             "1"});
  ASSERT_TRUE(run.waitForFinished(120000));
  const QString out = QString::fromUtf8(run.readAllStandardOutput());
  const QString err = QString::fromUtf8(run.readAllStandardError());
  if (run.exitCode() == 91) GTEST_SKIP() << "tmpfs cannot be mounted here: " << err.toStdString();
  ASSERT_EQ(run.exitCode(), 1) << out.toStdString() << err.toStdString();
  EXPECT_TRUE(out.contains("Load failed.")) << out.toStdString();
  EXPECT_FALSE(out.contains("Load record saved")) << out.toStdString();
  EXPECT_TRUE(err.contains("Load record could not be saved: No space left on device ("))
      << err.toStdString();
  // The filler and nothing else: no empty record, no temporary file.
  EXPECT_TRUE(err.trimmed().endsWith("\nfiller")) << err.toStdString();
  EXPECT_FALSE(err.contains(".json")) << err.toStdString();
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

TEST(LoadHistory, ShowsRecordFieldsSafelyAndReadsOnlyRegularFiles) {
  QTemporaryDir system;
  const QString folder = system.path() + "/loads/";
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("FWLOADER_SYSTEM_DIR", system.path());

  FwloadRun run = RunFwload({"history"}, env);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, QStringLiteral("No load records in %1.\n").arg(folder));

  // A record whose fields would clear the screen, return the cursor and
  // turn the rest of the line around.
  const QString name = QStringLiteral("Pump\x1b[2J\r\u009b7m\u202e1");
  const QJsonObject o{
      {"start", "2026-01-01T10:00:00.000Z"},
      {"product", "station"},
      {"station", QJsonObject{{"name", name}}},
      {"firmware", QJsonArray{QJsonObject{{"role", "selected"}, {"path", "/fw/kv\\\x07image"}}}},
      {"outcome", "success\n"}};
  WriteFileOrFail(folder + "20260101T100000.000Z.json", QJsonDocument(o).toJson());
  auto raw = [](const QString& text) {
    for (const QChar c : text) {
      const char16_t u = c.unicode();
      if ((u < 0x20 && u != '\n') || (u >= 0x7f && u <= 0x9f) || u == 0x202e) return true;
    }
    return false;
  };
  run = RunFwload({"history"}, env);
  ASSERT_EQ(run.exitCode, 0);
  EXPECT_FALSE(raw(run.out)) << run.out.toStdString();
  EXPECT_TRUE(run.out.contains("Pump\\x1b[2J\\x0d\\x9b7m\\u202e1")) << run.out.toStdString();
  EXPECT_TRUE(run.out.contains("kv\\\\\\x07image")) << run.out.toStdString();
  EXPECT_EQ(run.out.count('\n'), 1);
  // JSON keeps the text exact, in escapes.
  for (const QStringList& args : {QStringList{"history", "--json"},
                                  QStringList{"history", "show", "20260101T100000.000Z.json"}}) {
    run = RunFwload(args, env);
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_FALSE(raw(run.out)) << run.out.toStdString();
    const QJsonObject back = QJsonDocument::fromJson(run.out.toUtf8()).object();
    EXPECT_EQ(args.size() == 2 ? back["unit"].toString() : back["station"]["name"].toString(),
              name);
  }

  // A FIFO named like a record is neither waited on nor read.
  const QString fifo = folder + "20270101T000000.000Z.json";
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  run = RunFwload({"history", "show", fifo}, env);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(run.err.contains("not a regular file")) << run.err.toStdString();
  run = RunFwload({"history"}, env);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(run.out.contains("Pump")) << run.out.toStdString();
}

}  // namespace
}  // namespace fwl::test
