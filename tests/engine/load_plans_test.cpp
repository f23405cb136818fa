// The flash plans when a step fails: the failing step and every later one end
// in ERROR, nothing is sent after the failing command, the classic plan
// still resets the unit and the new plan leaves it at its prompt. Also the
// size limits, the restart countdown, the step reports and the wait for
// transfers a station runs by itself.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QRegularExpression>
#include <QTimer>
#include <QUdpSocket>
#include <cctype>
#include <ostream>

#include "serial_load_fixture.h"
#include "station/station_link.h"
#include "tftp/tftp_server.h"

namespace fwl::test {
namespace {

struct PlanCase {
  const char* name;
  const char* board;
  const char* monitor;
  quint64 nandSize;
  const char* image;      // file-system image name
  const char* bootImage;  // its boot image ("" for the single-image plan)
  const char* options;
  // The first command of each step, in step order: making it fail fails
  // that step. A leading "!" makes it hang instead (the clean-marker lines
  // are judged by their prompt alone).
  std::vector<const char*> stepCommands;
  bool resetsAfterFailure;
};

void PrintTo(const PlanCase& plan, std::ostream* os) { *os << plan.name; }

const PlanCase kPlans[] = {
    {"new plan, U-Boot",
     "79524",
     "U-Boot",
     0x8000000,
     "kvimagea_mums3_1_5",
     "kvimageba_mums3_1_5",
     "",
     {"tftp 100000 kvimagea_", "protect on", "nand erase", "nand write.e 100000 280000",
      "tftp 100000 kvimageba_", "nand write.e 100000 80000"},
     false},
    {"new plan, PPCBoot",
     "ppc855",
     "PPCBoot",
     0x1000000,
     "kvimage_razeb3_2_0",
     "kvimageb_razeb3_2_0",
     "",
     {"tftp 100000 kvimage_", "protect on", "nand erase", "nand write.e 100000 200000",
      "tftp 100000 kvimageb_", "nand write.e 100000 0", "cp.b", "!mw.w"},
     false},
    {"classic plan, one image",
     "79524",
     "U-Boot",
     0,
     "kvimagea_mums3_1_5",
     "",
     "",
     {"tftp", "erase ", "cp.b", "!mw.w"},
     true},
    {"classic plan, two images",
     "ppc855",
     "U-Boot",
     0x8000000,
     "kvimage_razeb1_5_99",
     "kvimageb_razeb1_5_99",
     "-NUM_TFTP=2",
     {"tftp 100000 kvimage_", "erase ", "nand write.e", "tftp 100000 kvimageb_", "cp.b", "!mw.w"},
     true},
};

class LoadPlansTest : public SerialLoadTest {};

class PlanFailureTest : public SerialLoadTest, public ::testing::WithParamInterface<PlanCase> {};

TEST_P(PlanFailureTest, FailureAtEachStepMarksItAndEveryLaterStepAndStopsCommands) {
  const PlanCase& plan = GetParam();
  for (size_t failing = 0; failing < plan.stepCommands.size(); ++failing) {
    SCOPED_TRACE("failing step " + std::to_string(failing));
    MakeImage(plan.image, 70000, 1);
    if (*plan.bootImage) MakeImage(plan.bootImage, 30000, 2);
    SimOptions o = UnitOptions(plan.board, plan.monitor);
    o.nandSize = plan.nandSize;
    QString command = QString::fromLatin1(plan.stepCommands[failing]);
    const bool hang = command.startsWith('!');
    if (hang) {
      command.remove(0, 1);
      o.hangCommands = {command};
      engine.timings.memoryWriteMs = 500;
    } else {
      o.failCommands = {command};
    }
    StartUnit(o, Path(plan.image));
    events.clear();

    EXPECT_EQ(engine.Run(plan.options), 0);

    const std::vector<int> states = StepStates();
    ASSERT_EQ(states.size(), plan.stepCommands.size());
    for (size_t i = 0; i < states.size(); ++i) {
      EXPECT_EQ(states[i], i < failing ? 3 : 2) << "step " << i;
    }
    EXPECT_EQ(FinalState(), 2);
    // Nothing was sent after the failing command, except the classic plan's
    // reset (which a hung unit does not take).
    QStringList log = unit->CommandLog();
    if (plan.resetsAfterFailure && !hang) {
      ASSERT_FALSE(log.isEmpty());
      EXPECT_EQ(log.takeLast(), "reset");
    }
    ASSERT_FALSE(log.isEmpty());
    EXPECT_TRUE(log.last().startsWith(command)) << log.last().toStdString();
    unit->Stop();
    unit.reset();
  }
}

INSTANTIATE_TEST_SUITE_P(Plans, PlanFailureTest, ::testing::ValuesIn(kPlans),
                         [](const ::testing::TestParamInfo<PlanCase>& info) {
                           std::string name = info.param.name;
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

TEST_F(LoadPlansTest, BootImageOfTheNewPlanMayFillButNotExceed2MiB) {
  for (const qsizetype size : {qsizetype(0x200000), qsizetype(0x200001)}) {
    SCOPED_TRACE(size);
    MakeImage("kvimagea_mums3_1_5", 5000, 3);
    MakeImage("kvimageba_mums3_1_5", size, 4);
    StartUnit(UnitOptions("79524"), Path("kvimagea_mums3_1_5"));
    events.clear();

    const int result = engine.Run(QString());

    const std::vector<int> states = StepStates();
    ASSERT_EQ(states.size(), 6u);
    if (size == 0x200000) {
      EXPECT_EQ(result, 1);
      EXPECT_EQ(states[5], 3);
    } else {
      EXPECT_EQ(result, 0);
      // Known from the file before anything is fetched or erased.
      EXPECT_EQ(states, std::vector<int>(6, 2));
      EXPECT_TRUE(
          lines.contains("The image kvimageba_mums3_1_5 is 2097153 bytes (0x200001); at "
                         "most 0x200000 bytes fit its flash region."));
      for (const char* command : {"tftp", "protect", "erase", "nand erase"}) {
        EXPECT_TRUE(Commands(command).isEmpty()) << command;
      }
    }
    unit->Stop();
    unit.reset();
  }
}

TEST_F(LoadPlansTest, ClassicImageLargerThanItsRegionIsNotWritten) {
  MakeImage("kvimagea_mums3_1_5", kFsRegionSize + 1, 5);
  SimOptions o = UnitOptions("79524");
  o.nandSize = 0;
  StartUnit(o, Path("kvimagea_mums3_1_5"));

  EXPECT_EQ(engine.Run(QString()), 0);
  EXPECT_EQ(StepStates(), (std::vector<int>{2, 2, 2, 2}));
  EXPECT_TRUE(Commands("protect").isEmpty());
  EXPECT_TRUE(Commands("erase").isEmpty());
}

class RestartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // No unit: the reopen fails quickly and the countdown still runs.
    LoadParameters p;
    p.comPort = QStringLiteral("/nonexistent/tty");
    WriteLoadParameterFile(p);
    engine.timings.resetSettleMs = 1;
    engine.timings.reopenPauseMs = 1;
    engine.timings.reopenAttempts = 1;
    engine.planTimings.countdownStepMs = 1;
  }
  QStringList Countdown() const {
    return ui.progressTexts().filter(QRegularExpression("^Resetting hardware"));
  }
  ScriptedUi ui;
  ScopedUi scoped{&ui};
  LoadEngine engine;
};

TEST_F(RestartTest, CountsDownWholeSecondsOfTheDelaySettings) {
  SetSettingInt(kSectionLoad, "hard reset delay ms", 2999);
  SetSettingInt(kSectionLoad, "4410 hard reset extension", 1500);
  engine.fsImagePath = QStringLiteral("/x/kvimage_razeb3_1_5");
  EXPECT_EQ(engine.RestartSequence(nullptr), nullptr);
  EXPECT_EQ(Countdown(),
            QStringList({"Resetting hardware... (2 sec)", "Resetting hardware... (1 sec)"}));
  EXPECT_FALSE(ui.progressCancelOffered());  // nothing stops the countdown, so no Cancel

  // The "6" generation adds the extension.
  engine.fsImagePath = QStringLiteral("/x/kvimage6_razeb3_1_5");
  const qsizetype before = Countdown().size();
  engine.RestartSequence(nullptr);
  EXPECT_EQ(Countdown().mid(before),
            QStringList({"Resetting hardware... (4 sec)", "Resetting hardware... (3 sec)",
                         "Resetting hardware... (2 sec)", "Resetting hardware... (1 sec)"}));
  EXPECT_EQ(ui.waitCursorDepth(), 0);

  SetSettingInt(kSectionLoad, "hard reset delay ms", 999);
  engine.fsImagePath = QStringLiteral("/x/kvimage_razeb3_1_5");
  const qsizetype again = Countdown().size();
  engine.RestartSequence(nullptr);
  EXPECT_EQ(Countdown().size(), again);
}

TEST(LoadStepReports, StepIndexAndStatesFollowTheReports) {
  LoadEngine engine;
  engine.currentStep = 7;
  engine.ReportStep(2, false);  // without a receiver nothing changes
  EXPECT_EQ(engine.currentStep, 7);

  std::vector<LoadProgressEvent> events;
  engine.SetProgressCallback([&](const LoadProgressEvent& e, void*) { events.push_back(e); },
                             nullptr);
  engine.ReportStep(0, true);
  engine.AdvanceStep(false);
  engine.ReportFinalResult(true);
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].flags, 0x25);
  EXPECT_EQ(events[0].stepIndex, 0);
  EXPECT_EQ(events[1].stepIndex, 1);
  EXPECT_EQ(events[1].state, kStepStateError);
  EXPECT_EQ(engine.currentStep, 1);
  EXPECT_EQ(events[2].kind, LoadProgressEvent::kFinal);
  EXPECT_EQ(events[2].flags, 0x21);
  EXPECT_EQ(events[2].state, kStepStateOk);
}

class TransferWaitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    engine.planTimings.transferPollMs = 5;
    engine.planTimings.secondStartPollMs = 5;
    engine.planTimings.restartPollMs = 5;
    engine.SetProgressCallback(
        [this](const LoadProgressEvent& e, void*) {
          if (e.flags & LoadProgressEvent::kStepIndex) advanced << e.stepIndex;
        },
        nullptr);
    engine.stationQuery = [this](LoadEngine&) { return ++queries >= 3; };
    engine.waitState = 1;
  }
  // Delivers the server's events `code...` one after another while the wait runs.
  void Deliver(std::vector<int> codes) {
    int at = 20;
    for (int code : codes) {
      QTimer::singleShot(at, &engine, [this, code] { engine.OnTftpEvent(code); });
      at += 20;
    }
  }
  ScriptedUi ui;
  ScopedUi scoped{&ui};
  LoadEngine engine;
  QList<int> advanced;
  int queries = 0;
};

TEST_F(TransferWaitTest, TwoTransfersThenTheStationAnswers) {
  engine.currentStep = 0;
  Deliver({1, 2, 1, 2});
  EXPECT_EQ(engine.WaitForTransfers(true), 1);
  EXPECT_EQ(advanced, QList<int>({1, 2}));
  EXPECT_EQ(engine.waitState, 5);
  EXPECT_EQ(queries, 3);
}

TEST_F(TransferWaitTest, OneTransferGoesStraightToTheRestartWait) {
  Deliver({1, 2});
  EXPECT_EQ(engine.WaitForTransfers(false), 1);
  EXPECT_EQ(engine.waitState, 6);
  EXPECT_EQ(advanced.size(), 1);
}

TEST_F(TransferWaitTest, LostClientEndsTheWait) {
  Deliver({1, 3});
  EXPECT_EQ(engine.WaitForTransfers(false), -1);
  EXPECT_EQ(queries, 0);

  engine.waitState = 1;
  Deliver({1, 2, 1, 3});
  EXPECT_EQ(engine.WaitForTransfers(true), -1);
  // The lost client and the unfinished second transfer are both reported.
  const QStringList texts = ui.messageTexts();
  ASSERT_GE(texts.size(), 2);
  EXPECT_EQ(texts.mid(texts.size() - 2),
            QStringList({"TFTP client lost while waiting for xfer to complete.\n",
                         "Failed while waiting for second TFTP to complete.\n"}));
}

TEST_F(TransferWaitTest, BothTransfersInsideOnePollAreEachCounted) {
  // Small images: both transfers start and end before the wait looks again.
  engine.planTimings.transferPollMs = 300;
  engine.planTimings.secondStartPollMs = 300;
  for (int code : {1, 2, 1, 2}) {
    QTimer::singleShot(5, &engine, [this, code] { engine.OnTftpEvent(code); });
  }
  EXPECT_EQ(engine.WaitForTransfers(true), 1);
  EXPECT_EQ(advanced, QList<int>({1, 2}));
  EXPECT_EQ(engine.waitState, 5);
}

// Each step counts for its own image, sent whole, however the events of
// the two transfers interleave; other files count for nothing, and a new
// request for an image whose transfer was lost carries the step on.
TEST_F(TransferWaitTest, EachImageIsFollowedByItsOwnTransfer) {
  engine.expectedTransferFiles = {"/srv/fs.img", "/srv/boot.img"};
  auto event = [](int kind, int id, const QString& path) {
    TftpEvent e;
    e.kind = kind;
    e.transferId = id;
    e.filePath = path;
    return e;
  };
  auto run = [&](const std::vector<TftpEvent>& events, bool second) {
    engine.ClearTransferEvents();
    engine.waitState = 1;
    engine.currentStep = 0;
    advanced.clear();
    queries = 0;
    for (const TftpEvent& e : events) engine.OnTftpEvent(e);
    return engine.WaitForTransfers(second);
  };
  // The boot image's request comes before the file system's last ACK.
  EXPECT_EQ(run({event(1, 7, "/srv/fs.img"), event(1, 8, "/srv/boot.img"),
                 event(2, 7, "/srv/fs.img"), event(2, 8, "/srv/boot.img")},
                true),
            1);
  EXPECT_EQ(advanced, QList<int>({1, 2}));
  // The boot image finishes first.
  EXPECT_EQ(run({event(1, 7, "/srv/fs.img"), event(1, 8, "/srv/boot.img"),
                 event(2, 8, "/srv/boot.img"), event(2, 7, "/srv/fs.img")},
                true),
            1);
  // A lost transfer of the file system image and a second request for it.
  EXPECT_EQ(run({event(1, 1, "/srv/fs.img"), event(3, 1, "/srv/fs.img"),
                 event(1, 2, "/srv/fs.img"), event(2, 2, "/srv/fs.img")},
                false),
            1);
  // Another file sent whole, twice, is not the boot image.
  engine.planTimings.secondStartPollMs = 1;
  EXPECT_EQ(run({event(1, 1, "/srv/fs.img"), event(2, 1, "/srv/fs.img"),
                 event(1, 2, "/srv/fs.img"), event(2, 2, "/srv/fs.img"),
                 event(1, 3, "/srv/other.img"), event(2, 3, "/srv/other.img")},
                true),
            -1);
  EXPECT_EQ(advanced, QList<int>({1}));
  EXPECT_EQ(queries, 0);
}

TEST_F(TransferWaitTest, EventsBeforeTheWaitBeganAreNotLost) {
  engine.OnTftpEvent(1);
  engine.OnTftpEvent(2);
  EXPECT_EQ(engine.WaitForTransfers(false), 1);
  // Cleared events are forgotten.
  engine.OnTftpEvent(1);
  engine.ClearTransferEvents();
  engine.waitState = 1;
  EXPECT_EQ(engine.WaitForTransfers(false), -1);
  EXPECT_EQ(engine.waitState, 1);
}

TEST_F(TransferWaitTest, RunningTransferWithoutSignOfLifeIsGivenUp) {
  Deliver({1});
  EXPECT_EQ(engine.WaitForTransfers(false), -1);
  EXPECT_EQ(engine.waitState, 2);
  EXPECT_TRUE(advanced.isEmpty());

  // Progress keeps a slow transfer alive past the same number of polls.
  engine.ClearTransferEvents();
  engine.waitState = 1;
  QTimer progress;
  QObject::connect(&progress, &QTimer::timeout, [this] { engine.NoteTransferActivity(); });
  progress.start(2);
  QTimer::singleShot(10, &engine, [this] { engine.OnTftpEvent(1); });
  QTimer::singleShot(900, &engine, [this] { engine.OnTftpEvent(2); });
  EXPECT_EQ(engine.WaitForTransfers(false), 1);
}

TEST_F(TransferWaitTest, NoTransferGivesUpAfter61Tries) {
  EXPECT_EQ(engine.WaitForTransfers(true), -1);
  EXPECT_EQ(engine.waitState, 1);
  EXPECT_TRUE(advanced.isEmpty());
}

TEST_F(TransferWaitTest, StationThatNeverAnswersFails) {
  // The engine's own polls go to a real socket that never answers.
  QUdpSocket silent;
  ASSERT_TRUE(silent.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0));
  QList<QByteArray> polls;
  QObject::connect(&silent, &QUdpSocket::readyRead, [&] {
    while (silent.hasPendingDatagrams()) polls << silent.receiveDatagram().data();
  });
  engine.stationQuery = nullptr;
  engine.stationLink->SetDevice(QStringLiteral("Ethernet"));
  engine.stationLink->SetUseLibrary(true);
  engine.stationLink->SetUseAlternateAddress(false);
  engine.stationLink->SetAddress(QStringLiteral("127.0.0.1"));
  engine.stationLink->SetStationPort(silent.localPort());
  engine.stationLink->SetRetries(2);
  engine.planTimings.restartQueryMs = 20;
  Deliver({1, 2});
  EXPECT_EQ(engine.WaitForTransfers(false), -1);
  QCoreApplication::processEvents();
  // 61 polls after the single transfer, each one send (no retries), each
  // the station poll (function code 3).
  ASSERT_EQ(polls.size(), 61);
  for (const QByteArray& p : polls) {
    ASSERT_GE(p.size(), 10);
    EXPECT_EQ((quint8(p[8]) << 8) | quint8(p[9]), 3);
  }
  // The link's own settings are back after the wait.
  EXPECT_EQ(engine.stationLink->Retries(), 2);
}

TEST_F(TransferWaitTest, FileTheServerLacksEndsTheWaitBeforeAnyTransfer) {
  // (A missing second image is tested against the simulated station.)
  const QString text = QStringLiteral("The requested file kvimage_x was not found on the server.");
  engine.planTimings.transferPollMs = 1000;
  QTimer::singleShot(20, &engine, [this, text] { engine.OnTftpEvent(4, text); });
  QElapsedTimer clock;
  clock.start();
  EXPECT_EQ(engine.WaitForTransfers(false), -1);
  EXPECT_LT(clock.elapsed(), 20000);  // not 61 polls of a second
  EXPECT_EQ(ui.messageTexts(), QStringList(text));
  EXPECT_EQ(queries, 0);
}

}  // namespace
}  // namespace fwl::test
