// "fwload batch" as a program against fleets of simulated switches,
// stations and boot-monitor units living in the test process (real HTTP,
// station-link, TFTP and pseudo-terminal peers on loopback addresses): what
// each unit received, what the batch printed, and its record.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <memory>
#include <vector>

#include "app/settings.h"
#include "platform/system_folders.h"
#include "platform/wait_pumping.h"
#include "sim/sim_station.h"
#include "sim/sim_switch.h"
#include "sim/sim_unit.h"
#include "support/test_util.h"

namespace fwl::test {
namespace {

constexpr char kPassword[] = "fleet-Pa55";

struct BatchRun {
  int exitCode = -1;
  QStringList lines;  // stdout
  QString err;
  QJsonObject last;  // the final JSON line
};

class BatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    switchFs = RandomBytes(70000, 11);
    switchBoot = RandomBytes(9000, 12);
    stationFs = RandomBytes(40000, 13);
    stationBoot = RandomBytes(6000, 14);
    unitFs = RandomBytes(60000, 15);
    unitBoot = RandomBytes(20000, 16);
    WriteFileOrFail(Path("kvimagea_mums3_9_1"), switchFs);
    WriteFileOrFail(Path("kvimageba_mums3_9_1"), switchBoot);
    WriteFileOrFail(Path("switchinfo.tgz"), RandomBytes(300, 17));
    WriteFileOrFail(Path("station/kvimage_razeb3_2_1"), stationFs);
    WriteFileOrFail(Path("station/kvimageb_razeb3_2_1"), stationBoot);
    WriteFileOrFail(Path("serial/kvimagea_mums3_1_5"), unitFs);
    WriteFileOrFail(Path("serial/kvimageba_mums3_1_5"), unitBoot);
    SetSettingInt(kSectionLoad, "hard reset delay ms", 0);
    SetSettingInt(kSectionLoad, "4410 hard reset extension", 0);
    SetSettingInt(kSectionEthOnlyLoad, "ping timeout ms", 500);
    SetSettingInt(kSectionEthOnlyLoad, "ping retry count", 3);
    tftpPort = FreeUdpPort();
    httpPort = FreeTcpPort();
    stationPort = FreeUdpPort();
    env = QProcessEnvironment::systemEnvironment();
    env.insert("FWLOADER_SETTINGS_FILE", SettingsFilePath());
    env.insert("FWLOAD_PASSWORD", kPassword);
  }
  void TearDown() override {
    for (auto& s : switches) s->Stop();
    for (auto& s : stations) s->Stop();
    for (auto& u : units) u->Stop();
  }

  QString Path(const QString& name) const { return dir.path() + "/" + name; }

  SimSwitch& AddSwitch(const QString& address, const QString& password = kPassword,
                       const QString& fwRev = "3.7.2") {
    SimSwitchOptions o;
    o.address = QHostAddress(address);
    o.httpPort = httpPort;
    o.tftpPort = tftpPort;
    o.user = "admin";
    o.password = password;
    o.fwRev = fwRev;
    o.infoInstalled = true;  // loaded before: its information page answers
    o.restartMs = 100;
    switches.push_back(std::make_unique<SimSwitch>(o));
    QString error;
    EXPECT_TRUE(switches.back()->Start(&error)) << error.toStdString();
    return *switches.back();
  }

  SimStation& AddStation(const QString& address, bool silent = false,
                         const QString& build = "3.2.0") {
    SimStationOptions o;
    o.address = QHostAddress(address);
    o.stationPort = stationPort;
    o.tftpPort = tftpPort;
    o.cpu = "8xx";
    o.mtd5 = true;
    o.build = build;
    o.silent = silent;
    o.restartMs = 200;
    stations.push_back(std::make_unique<SimStation>(o));
    QString error;
    EXPECT_TRUE(stations.back()->Start(&error)) << error.toStdString();
    return *stations.back();
  }

  // A boot-monitor unit on a pseudo-terminal; returns its power-on command.
  QString AddUnit(SimUnit** out) {
    SimOptions o;
    o.board = kSimBoard79524;
    ApplyBoardDefaults(o);
    o.countdownTickMs = 200;
    o.tftpPort = tftpPort;
    units.push_back(std::make_unique<SimUnit>(o));
    const QString control = Path(QStringLiteral("unit%1.ctl").arg(units.size()));
    QString error;
    EXPECT_TRUE(units.back()->Start(control, &error)) << error.toStdString();
    *out = units.back().get();
    return QStringLiteral("'%1' sim power-cycle --control '%2'").arg(FwloadPath(), control);
  }

  void WriteInventory(const QString& text) {
    QFile file(Path("fleet.csv"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text.toUtf8());
  }

  // Runs fwload batch while this thread keeps serving the simulators.
  BatchRun Batch(const QStringList& extra) {
    QStringList args = {"batch",
                        Path("fleet.csv"),
                        "--pc-ip",
                        "127.0.0.1",
                        "--subnet",
                        "255.0.0.0",
                        "--tftp-port",
                        QString::number(tftpPort),
                        "--http-port",
                        QString::number(httpPort),
                        "--station-port",
                        QString::number(stationPort),
                        "--json",
                        "--parallel",
                        "8"};
    args << extra;
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(FwloadPath(), args);
    process.closeWriteChannel();
    EXPECT_TRUE(process.waitForStarted(10000));
    const bool ended =
        WaitPumpingUntil([&] { return process.state() == QProcess::NotRunning; }, 240000, 50);
    EXPECT_TRUE(ended) << args.join(' ').toStdString();
    if (!ended) {
      process.kill();
      process.waitForFinished();
    }
    BatchRun run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.lines = QString::fromUtf8(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    run.err = QString::fromUtf8(process.readAllStandardError());
    if (!run.lines.isEmpty())
      run.last = QJsonDocument::fromJson(run.lines.last().toUtf8()).object();
    return run;
  }

  static QJsonObject UnitOf(const QJsonObject& last, const QString& name) {
    for (const QJsonValue& v : last.value("units").toArray()) {
      if (v.toObject().value("unit").toString() == name) return v.toObject();
    }
    return QJsonObject();
  }

  QTemporaryDir dir;
  QByteArray switchFs, switchBoot, stationFs, stationBoot, unitFs, unitBoot;
  quint16 tftpPort = 0, httpPort = 0, stationPort = 0;
  QProcessEnvironment env;
  std::vector<std::unique_ptr<SimSwitch>> switches;
  std::vector<std::unique_ptr<SimStation>> stations;
  std::vector<std::unique_ptr<SimUnit>> units;
};

// Two units fail (a switch refuses the password, a station never answers);
// every other one gets exactly the bytes of its images, the batch says so
// unit by unit and its record names each unit's own load record.
TEST_F(BatchTest, MixedFleetLoadsEveryGoodUnitAndReportsEachFailure) {
  SimSwitch& sw1 = AddSwitch("127.0.0.61");
  SimSwitch& sw2 = AddSwitch("127.0.0.62");
  SimSwitch& locked = AddSwitch("127.0.0.63", "another password");
  SimStation& st1 = AddStation("127.0.0.71");
  AddStation("127.0.0.72", true);
  SimUnit* u1 = nullptr;
  SimUnit* u2 = nullptr;
  const QString power1 = AddUnit(&u1);
  const QString power2 = AddUnit(&u2);
  WriteInventory(
      QStringLiteral("# the plant's fleet\n"
                     "name,product,method,ip,firmware,user,port,power_on_cmd\n"
                     "sw1,switch,eth,127.0.0.61,kvimagea_mums3_9_1,admin,,\n"
                     "sw2,switch,eth,127.0.0.62,kvimagea_mums3_9_1,admin,,\n"
                     "locked,switch,eth,127.0.0.63,kvimagea_mums3_9_1,admin,,\n"
                     "Pump 1,station,eth,127.0.0.71,station/kvimage_razeb3_2_1,,,\n"
                     "Pump 2,station,eth,127.0.0.72,station/kvimage_razeb3_2_1,,,\n"
                     "u1,switch,serial,127.0.0.81,serial/kvimagea_mums3_1_5,,%1,\"%2\"\n"
                     "u2,switch,serial,127.0.0.82,serial/kvimagea_mums3_1_5,,%3,\"%4\"\n")
          .arg(u1->SlavePath(), QString(power1).replace('"', "\"\""), u2->SlavePath(),
               QString(power2).replace('"', "\"\"")));
  const BatchRun run = Batch({"--yes", "--catch-timeout", "60"});
  ASSERT_EQ(run.exitCode, 1) << run.err.toStdString() << run.lines.join('\n').toStdString();

  // Every line is a JSON object; every event names its unit.
  for (const QString& line : run.lines.mid(0, run.lines.size() - 1)) {
    const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
    EXPECT_TRUE(o.contains("unit")) << line.toStdString();
  }
  EXPECT_EQ(run.last.value("kind").toString(), "batch");
  EXPECT_EQ(run.last.value("result").toInt(), 1);
  const QMap<QString, QString> expected = {
      {"sw1", "loaded"},    {"sw2", "loaded"}, {"locked", "failed"}, {"Pump 1", "loaded"},
      {"Pump 2", "failed"}, {"u1", "loaded"},  {"u2", "loaded"}};
  for (auto it = expected.begin(); it != expected.end(); ++it) {
    const QJsonObject unit = UnitOf(run.last, it.key());
    EXPECT_EQ(unit.value("result").toString(), it.value())
        << it.key().toStdString() << ": " << unit.value("message").toString().toStdString();
    EXPECT_TRUE(QFileInfo(unit.value("record").toString()).isFile()) << it.key().toStdString();
  }
  EXPECT_EQ(UnitOf(run.last, "sw1").value("firmware_before").toString(), "3.7.2");
  EXPECT_EQ(UnitOf(run.last, "sw1").value("firmware_after").toString(), "3.9.1");
  EXPECT_TRUE(UnitOf(run.last, "locked").value("message").toString().contains("login"));
  EXPECT_TRUE(UnitOf(run.last, "Pump 2").value("message").toString().contains("hardware"));

  // What the peers received.
  for (SimSwitch* sw : {&sw1, &sw2}) {
    ASSERT_EQ(sw->Installs().size(), 1);
    EXPECT_TRUE(sw->Installs().last().accepted);
    EXPECT_EQ(sw->Installs().last().root, switchFs);
    EXPECT_EQ(sw->Installs().last().boot, switchBoot);
  }
  EXPECT_TRUE(locked.Installs().isEmpty());
  EXPECT_EQ(st1.UpdateState(), "updated");
  EXPECT_EQ(st1.ReceivedImages().value("kvimage_razeb3_2_1"), stationFs);
  EXPECT_EQ(st1.ReceivedImages().value("kvimageb_razeb3_2_1"), stationBoot);
  for (SimUnit* u : {u1, u2}) {
    EXPECT_EQ(u->ReadNand(0x280000, quint64(unitFs.size())), unitFs);
    EXPECT_EQ(u->ReadNand(0x80000, quint64(unitBoot.size())), unitBoot);
  }

  // Each load kept its own record with its own boxes, although they ran at once.
  auto recordText = [&](const QString& unit) {
    QFile file(UnitOf(run.last, unit).value("record").toString());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
  };
  EXPECT_TRUE(recordText("locked").contains("login"));
  EXPECT_FALSE(recordText("locked").contains("hardware components"));
  EXPECT_TRUE(recordText("Pump 2").contains("hardware components"));
  EXPECT_FALSE(recordText("sw1").contains("login"));

  // The batch record lists every unit, with the inventory's digest.
  QByteArray recordBytes;
  {
    QFile file(run.last.value("record").toString());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    recordBytes = file.readAll();
  }
  const QJsonObject record = QJsonDocument::fromJson(recordBytes).object();
  EXPECT_EQ(record.value("inventory").toObject().value("sha256").toString().size(), 64);
  EXPECT_EQ(record.value("units").toArray().size(), 7);
  EXPECT_FALSE(recordBytes.contains(kPassword));
  const FwloadRun history = RunFwload({"history"}, env);
  EXPECT_TRUE(history.out.contains("7 units: 5 loaded, 2 failed")) << history.out.toStdString();
}

// Bad rows and duplicates are all named, and nothing is loaded: not even the
// good rows' units hear from the batch.
TEST_F(BatchTest, BadInventoryIsRefusedBeforeAnythingStarts) {
  SimSwitch& sw = AddSwitch("127.0.0.61");
  WriteInventory(
      "name,product,method,ip,firmware,user\n"
      "good,switch,eth,127.0.0.61,kvimagea_mums3_9_1,admin\n"
      "twin,switch,eth,127.0.0.61,kvimagea_mums3_9_1,admin\n"
      "# a comment line counts for the row numbers\n"
      "Pump 4,station,eth,127.0.0.300,station/kvimage_razeb3_2_1,\n"
      "odd,router,eth,127.0.0.65,kvimagea_mums3_9_1,admin\n"
      "wrong,switch,eth,127.0.0.66,station/kvimage_razeb3_2_1,admin\n"
      "gone,switch,eth,127.0.0.67,missing_file,admin\n"
      "u1,switch,serial,127.0.0.68,serial/kvimagea_mums3_1_5,admin\n");
  // (Batches of earlier tests in this process may have left their records.)
  const QStringList recordsBefore =
      QDir(SystemFolder() + "loads").entryList({"batch-*"}, QDir::Files);
  BatchRun run = Batch({"--yes"});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_TRUE(run.err.contains("row 3 (twin): address 127.0.0.61 is also row 2's"))
      << run.err.toStdString();
  EXPECT_TRUE(run.err.contains("row 5 (Pump 4): ip '127.0.0.300'")) << run.err.toStdString();
  EXPECT_TRUE(run.err.contains("row 6 (odd): product must be station or switch"));
  EXPECT_TRUE(run.err.contains("row 7 (wrong): firmware kvimage_razeb3_2_1 does not fit a switch"));
  EXPECT_TRUE(run.err.contains("row 8 (gone): no firmware file"));
  EXPECT_TRUE(run.err.contains("row 9 (u1): a serial row needs its port"));
  EXPECT_FALSE(run.err.contains("(good)"));
  EXPECT_EQ(run.last.value("result").toInt(), 2);
  EXPECT_TRUE(sw.Requests().isEmpty());
  EXPECT_EQ(QDir(SystemFolder() + "loads").entryList({"batch-*"}, QDir::Files), recordsBefore);

  WriteInventory("name,product,ip,colour\nsw,switch,127.0.0.61,blue\n");
  run = Batch({"--yes"});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_TRUE(run.err.contains("unknown column 'colour'")) << run.err.toStdString();

  // Without --yes and without a terminal to ask on, nothing starts either.
  WriteInventory("name,product,ip,firmware,user\nsw,switch,127.0.0.61,kvimagea_mums3_9_1,admin\n");
  run = Batch({});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_TRUE(sw.Requests().isEmpty());
}

// --dry-run identifies and loads nothing; --skip-current leaves a unit that
// already runs the version alone and loads the other.
TEST_F(BatchTest, DryRunAndSkipCurrentChangeNothingOnCurrentUnits) {
  SimSwitch& current = AddSwitch("127.0.0.61", kPassword, "3.9.1");
  SimSwitch& old = AddSwitch("127.0.0.62");
  SimStation& station = AddStation("127.0.0.71", false, "3.2.1");
  WriteInventory(
      "name,product,ip,firmware,user\n"
      "current,switch,127.0.0.61,kvimagea_mums3_9_1,admin\n"
      "old,switch,127.0.0.62,kvimagea_mums3_9_1,admin\n"
      "Pump 1,station,127.0.0.71,station/kvimage_razeb3_2_1,\n");
  BatchRun run = Batch({"--dry-run", "--skip-current"});
  ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
  EXPECT_TRUE(
      UnitOf(run.last, "current").value("message").toString().contains("already runs 3.9.1"));
  EXPECT_TRUE(UnitOf(run.last, "old").value("message").toString().contains("would load"));
  EXPECT_EQ(UnitOf(run.last, "old").value("firmware_before").toString(), "3.7.2");
  EXPECT_TRUE(current.Installs().isEmpty());
  EXPECT_TRUE(old.Installs().isEmpty());
  EXPECT_EQ(station.Resets(), 0);
  EXPECT_TRUE(station.Files().isEmpty());

  run = Batch({"--skip-current", "--yes"});
  ASSERT_EQ(run.exitCode, 0) << run.err.toStdString() << run.lines.join('\n').toStdString();
  EXPECT_EQ(UnitOf(run.last, "current").value("result").toString(), "skipped");
  EXPECT_EQ(UnitOf(run.last, "current").value("message").toString(), "skipped: already runs 3.9.1");
  EXPECT_EQ(UnitOf(run.last, "Pump 1").value("result").toString(), "skipped");
  EXPECT_EQ(UnitOf(run.last, "old").value("result").toString(), "loaded");
  EXPECT_TRUE(current.Installs().isEmpty());
  EXPECT_EQ(station.Resets(), 0);
  ASSERT_EQ(old.Installs().size(), 1);
  EXPECT_EQ(old.Installs().last().root, switchFs);
}

// Two serial rows on one port are refused like two rows with one address.
TEST_F(BatchTest, TwoRowsOnOneSerialPortAreRefused) {
  SimUnit* unit = nullptr;
  AddUnit(&unit);
  WriteInventory(QStringLiteral("name,product,method,ip,port,firmware\n"
                                "a,switch,serial,127.0.0.81,%1,serial/kvimagea_mums3_1_5\n"
                                "b,switch,serial,127.0.0.82,%1,serial/kvimagea_mums3_1_5\n")
                     .arg(unit->SlavePath()));
  const BatchRun run = Batch({"--yes"});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_TRUE(run.err.contains(
      QStringLiteral("row 3 (b): serial port %1 is also row 2's").arg(unit->SlavePath())))
      << run.err.toStdString();
}

// The first Ctrl-C lets the running load finish and starts no other; the
// batch then says which units were never started.
TEST_F(BatchTest, InterruptStopsStartingAndWaitsForTheRunningLoad) {
  SimSwitch& first = AddSwitch("127.0.0.61");
  SimSwitch& second = AddSwitch("127.0.0.62");
  first.options().fetchDelayMs = 1500;
  WriteInventory(
      "name,product,ip,firmware,user\n"
      "first,switch,127.0.0.61,kvimagea_mums3_9_1,admin\n"
      "second,switch,127.0.0.62,kvimagea_mums3_9_1,admin\n");
  QProcess process;
  process.setProcessEnvironment(env);
  process.start(FwloadPath(), {"batch", Path("fleet.csv"), "--pc-ip", "127.0.0.1", "--subnet",
                               "255.0.0.0", "--tftp-port", QString::number(tftpPort), "--http-port",
                               QString::number(httpPort), "--json", "--yes", "--parallel", "1"});
  ASSERT_TRUE(process.waitForStarted(10000));
  QByteArray out;
  ASSERT_TRUE(WaitPumpingUntil(
      [&] {
        out += process.readAllStandardOutput();
        return out.contains("\"kind\":\"step\"");
      },
      30000, 20));
  ::kill(pid_t(process.processId()), SIGINT);
  ASSERT_TRUE(WaitPumpingUntil([&] { return process.state() == QProcess::NotRunning; }, 60000, 50));
  out += process.readAllStandardOutput();
  const QList<QByteArray> lines = out.trimmed().split('\n');
  const QJsonObject last = QJsonDocument::fromJson(lines.last()).object();
  EXPECT_EQ(process.exitCode(), 1);
  EXPECT_EQ(UnitOf(last, "first").value("result").toString(), "loaded");
  EXPECT_EQ(UnitOf(last, "second").value("result").toString(), "interrupted");
  EXPECT_TRUE(UnitOf(last, "second").value("message").toString().contains("not started"));
  ASSERT_EQ(first.Installs().size(), 1);
  EXPECT_TRUE(first.Installs().last().accepted);
  EXPECT_TRUE(second.Requests().isEmpty());
}

// "fwload identify" keeps its JSON keys and exit statuses: what scripts
// and fleet tools build on.
TEST_F(BatchTest, IdentifyPrintsOneObjectAndChangesNothing) {
  SimSwitch& sw = AddSwitch("127.0.0.61", kPassword, "3.8.0");
  SimStation& station = AddStation("127.0.0.71", false, "3.2.1");
  const QString http = QString::number(httpPort);
  auto identify = [&](const QStringList& args, const QProcessEnvironment& e) {
    QProcess p;
    p.setProcessEnvironment(e);
    p.start(FwloadPath(), QStringList{"identify"} + args);
    p.closeWriteChannel();
    WaitPumpingUntil([&] { return p.state() == QProcess::NotRunning; }, 30000, 20);
    const QList<QByteArray> lines = p.readAllStandardOutput().trimmed().split('\n');
    return std::make_pair(p.exitCode(), lines);
  };
  auto [code, lines] = identify({"--product", "switch", "--ip", "127.0.0.61", "--http-port", http,
                                 "--user", "admin", "--json"},
                                env);
  ASSERT_EQ(lines.size(), 1);
  QJsonObject o = QJsonDocument::fromJson(lines[0]).object();
  EXPECT_EQ(code, 0);
  EXPECT_EQ(o.value("product").toString(), "switch");
  EXPECT_EQ(o.value("ip").toString(), "127.0.0.61");
  EXPECT_TRUE(o.value("identified").toBool());
  EXPECT_EQ(o.value("firmware").toString(), "3.8.0");
  EXPECT_EQ(o.value("revision").toString(), "3.8.0");
  EXPECT_EQ(o.value("board").toString(), "kvni79524");
  EXPECT_EQ(o.value("model").toString(), "mums");
  EXPECT_TRUE(o.contains("boot_monitor"));

  std::tie(code, lines) = identify({"--product", "station", "--ip", "127.0.0.71", "--station-port",
                                    QString::number(stationPort), "--json"},
                                   env);
  o = QJsonDocument::fromJson(lines.value(0)).object();
  EXPECT_EQ(code, 0);
  EXPECT_EQ(o.value("firmware").toString(), "3.2.1");
  EXPECT_EQ(o.value("build").toString(), "3.2.1");
  EXPECT_EQ(o.value("board").toString(), "8xx");
  EXPECT_EQ(o.value("flash").toArray().size(), 6);  // mtd0..mtd5

  QProcessEnvironment wrong = env;
  wrong.insert("FWLOAD_PASSWORD", "not it");
  std::tie(code, lines) = identify({"--product", "switch", "--ip", "127.0.0.61", "--http-port",
                                    http, "--user", "admin", "--json"},
                                   wrong);
  o = QJsonDocument::fromJson(lines.value(0)).object();
  EXPECT_EQ(code, 1);
  EXPECT_FALSE(o.value("identified").toBool());
  EXPECT_FALSE(o.contains("firmware"));
  EXPECT_FALSE(lines.value(0).contains("not it"));

  std::tie(code, lines) = identify({"--product", "router", "--ip", "127.0.0.61"}, env);
  EXPECT_EQ(code, 2);
  EXPECT_TRUE(sw.Installs().isEmpty());
  EXPECT_EQ(station.Resets(), 0);
  EXPECT_TRUE(station.Files().isEmpty());
}

// A fleet simulator: each unit at its own address with its own state, and
// options after --unit N for unit N only.
TEST_F(BatchTest, FleetSimulatorRunsUnitsWithTheirOwnOptions) {
  QProcess fleet;
  fleet.setProcessEnvironment(env);
  fleet.start(FwloadPath(), {"sim",
                             "switch",
                             "--address",
                             "127.0.0.101",
                             "--count",
                             "3",
                             "--http-port",
                             QString::number(httpPort),
                             "--tftp-port",
                             QString::number(tftpPort),
                             "--user",
                             "admin",
                             "--password",
                             kPassword,
                             "--info-installed",
                             "--unit",
                             "2",
                             "--fw-rev",
                             "3.9.1",
                             "--password",
                             "other"});
  ASSERT_TRUE(fleet.waitForStarted(10000));
  QByteArray out;
  ASSERT_TRUE(WaitPumpingUntil(
      [&] {
        out += fleet.readAllStandardOutput();
        return out.count('\n') >= 3;
      },
      20000, 20));
  EXPECT_TRUE(out.contains("127.0.0.103:"));
  WriteInventory(
      "name,product,ip,firmware,user\n"
      "one,switch,127.0.0.101,kvimagea_mums3_9_1,admin\n"
      "two,switch,127.0.0.102,kvimagea_mums3_9_1,admin\n"
      "three,switch,127.0.0.103,kvimagea_mums3_9_1,admin\n");
  const BatchRun run = Batch({"--dry-run"});
  fleet.terminate();
  fleet.waitForFinished(10000);
  EXPECT_EQ(UnitOf(run.last, "one").value("firmware_before").toString(), "3.7.2");
  EXPECT_EQ(UnitOf(run.last, "two").value("firmware_before").toString(), "");  // its own password
  EXPECT_EQ(UnitOf(run.last, "three").value("firmware_before").toString(), "3.7.2");
}

}  // namespace
}  // namespace fwl::test
