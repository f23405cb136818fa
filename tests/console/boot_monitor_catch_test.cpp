// Catching the boot monitor of a powering unit and telling its board.
#include <QElapsedTimer>
#include <atomic>
#include <chrono>
#include <thread>

#include "app/settings.h"
#include "console_fixture.h"
#include "support/scripted_ui.h"

namespace fwl::test {
namespace {

QByteArray Environment(const QByteArray& extra) {
  return "printenv\r\nbootdelay=3\r\nbaudrate=9600\r\n" + extra +
         "\r\nEnvironment size: 312/8188 bytes\r\n=> ";
}

// A boot monitor that counts down until the first byte and then runs every
// line as a command, like the real one: queued stop lines become unknown
// commands, each with its own prompt.
class CountingDownUnit {
 public:
  explicit CountingDownUnit(MonitorPeer& peer, QByteArray name = "U-Boot 1.1.4 (Mar 3 2008)")
      : peer_(peer), name_(std::move(name)) {
    peer_.SetEcho(false);
    peer_.SetResponder([this](const QByteArray& line) { return Answer(line); });
  }
  void PowerOn() {
    peer_.Send("\r\n\r\n" + name_ + "\r\n\r\nDRAM:  64 MB\r\nHit any key to stop autoboot:  3");
  }

  std::atomic<bool> atPrompt{false};
  std::atomic<bool> answerVersion{true};
  QByteArray board = "board=KORVID kvni9260\r\nstdin=serial";

 private:
  QByteArray Answer(const QByteArray& line) {
    if (!atPrompt) {
      atPrompt = true;
      return "\b\b\b 0 \r\n=> ";
    }
    if (line == "printenv") return Environment(board);
    if (line.isEmpty()) return "\r\n=> ";
    if (line == "version") {
      return answerVersion ? "version\r\n\r\n" + name_ + "\r\n=> " : QByteArray("version\r\n");
    }
    if (line == "reset") {
      atPrompt = false;
      answerVersion = true;
      return "reset\r\n\r\n\r\n" + name_ + "\r\nHit any key to stop autoboot:  3";
    }
    return line + "\r\nUnknown command '" + line + "' - try 'help'\r\n=> ";
  }

  MonitorPeer& peer_;
  QByteArray name_;
};

class CatchTest : public ConsoleTest {
 protected:
  ScriptedUi ui;
  ScopedUi scopedUi{&ui};
};

TEST_F(CatchTest, CatchesWithoutPromptSendingTheStopLine) {
  CountingDownUnit unit(peer);
  unit.PowerOn();
  ASSERT_TRUE(engine.CatchBootMonitor(port, 3000, false));
  EXPECT_EQ(engine.bootMonitorName, "U-Boot");
  EXPECT_EQ(engine.boardCode, kBoardArm9);
  EXPECT_TRUE(peer.Received().startsWith("interrupt\r"));
  EXPECT_TRUE(ui.prompts().isEmpty());
  // The reply judged by the board detection was the one to "printenv", not
  // a prompt left over from the queued stop lines.
  EXPECT_EQ(Sent().last(), "printenv");
}

TEST_F(CatchTest, StopLinesStillOnTheirWayAreAnsweredBeforeTheBoardIsAsked) {
  // A unit slow to show its prompt and to answer each line: the stop lines
  // sent meanwhile queue up and come back as late "Unknown command" answers
  // once the prompt is there.
  std::atomic<bool> prompted{false};
  peer.SetEcho(false);
  peer.SetResponder([&prompted](const QByteArray& line) -> QByteArray {
    std::this_thread::sleep_for(std::chrono::milliseconds(prompted ? 60 : 250));
    if (!prompted.exchange(true)) return "\r\nU-Boot 2023.01\r\n\b\b\b 0 \r\n=> ";
    if (line == "printenv") return Environment("board=KORVID kvni79524\r\nstdin=serial");
    return "\r\nUnknown command '" + line + "' - try 'help'\r\n=> ";
  });
  ASSERT_TRUE(engine.CatchBootMonitor(port, 3000, false));
  EXPECT_EQ(engine.boardCode, kBoardKvni79524) << lines.join('\n').toStdString();
  EXPECT_GE(Sent().count("interrupt"), 3);  // stop lines were queued indeed
  EXPECT_EQ(Sent().last(), "printenv");
  EXPECT_FALSE(Sent().contains(QByteArray()));  // no bare empty line reached the unit
}

TEST_F(CatchTest, BannerNamesTheMonitorAndAnUnknownBoardStillCountsAsCaught) {
  // A banner naming both monitors: the later rule, PPCBoot, wins, and the
  // banner alone is enough (no version query).
  CountingDownUnit unit(peer, "PPCBoot 2.0.0 (U-Boot compatible)");
  unit.board = "stdout=serial";  // neither "board=" nor "stdin="
  unit.PowerOn();
  EXPECT_TRUE(engine.CatchBootMonitor(port, 3000, false));
  EXPECT_EQ(engine.bootMonitorName, "PPCBoot");
  EXPECT_FALSE(Sent().contains("version"));
  EXPECT_EQ(engine.boardCode, kBoardUnknown);
}

TEST_F(CatchTest, StopStringIsASetting) {
  SetSettingText(kSectionLoad, "autoboot stop string", "abcdefghi");
  CountingDownUnit unit(peer);
  unit.PowerOn();
  EXPECT_TRUE(engine.CatchBootMonitor(port, 3000, false));
  EXPECT_TRUE(peer.Received().startsWith("abcdefghi\r"));
  SetSettingText(kSectionLoad, "autoboot stop string", "interrupt");
}

TEST_F(CatchTest, AUnitAlreadyAtItsPromptIsCaughtAtOnce) {
  CountingDownUnit unit(peer, "PPCBoot 2.0.0");
  unit.atPrompt = true;
  unit.board = "board=KORVID KVNI855T\r\nstdin=serial";
  ASSERT_TRUE(engine.CatchBootMonitor(port, 3000, false));
  // Nothing on the line named the monitor: the version query did.
  EXPECT_TRUE(Sent().contains("version"));
  EXPECT_EQ(engine.bootMonitorName, "PPCBoot");
  EXPECT_EQ(engine.boardCode, kBoardPowerPc855T);
}

TEST_F(CatchTest, SilentUnitTimesOut) {
  QElapsedTimer clock;
  clock.start();
  EXPECT_FALSE(engine.CatchBootMonitor(port, 400, false));
  EXPECT_GE(clock.elapsed(), 400);
  EXPECT_EQ(engine.boardCode, kBoardUnknown);
}

TEST_F(CatchTest, PowerPromptAsksTheOperatorAndCloses) {
  CountingDownUnit unit(peer);
  ui.onPrompt = [&](const QString&, const QString&) { unit.PowerOn(); };
  ASSERT_TRUE(engine.CatchBootMonitor(port, 0, true));
  EXPECT_EQ(ui.prompts(), QStringList{"Cycle Power: Please turn the power ON now..."});
  EXPECT_FALSE(ui.promptOpen());
  EXPECT_EQ(engine.boardCode, kBoardArm9);
}

TEST_F(CatchTest, PowerPromptRunsUntilCancelled) {
  ui.CancelPromptAfter(15);
  // Time-out 0 has no say with the prompt: only Cancel ends the catch.
  EXPECT_FALSE(engine.CatchBootMonitor(port, 0, true));
  EXPECT_FALSE(ui.promptOpen());
  EXPECT_GE(peer.Received().count("interrupt\r"), 10);
}

TEST_F(CatchTest, PowerPromptWithALimitEndsThereWithoutCancel) {
  ui.CancelPromptAfter(2000);  // a safety net only
  EXPECT_FALSE(engine.CatchBootMonitor(port, 300, true));
  EXPECT_FALSE(ui.promptOpen());
  // Ended by the limit after a dozen or so rounds, long before the net.
  const qsizetype rounds = peer.Received().count("interrupt\r");
  EXPECT_GE(rounds, 2);
  EXPECT_LT(rounds, 1000);
}

TEST_F(CatchTest, AnUnpluggedAdapterEndsTheCatchWithAReport) {
  ui.CancelPromptAfter(2000);  // a safety net only
  ui.onPrompt = [&](const QString&, const QString&) { peer.Unplug(); };
  EXPECT_FALSE(engine.CatchBootMonitor(port, 0, true));
  EXPECT_EQ(lines, QStringList{"Lost connection to comport."});
  EXPECT_FALSE(ui.promptOpen());

  lines.clear();
  ComPort none = nullptr;
  EXPECT_FALSE(engine.CatchBootMonitor(none, 60000, false));
  EXPECT_EQ(lines, QStringList{"Lost connection to comport."});
}

TEST_F(CatchTest, AnUnnamedMonitorThatIgnoresVersionIsResetAndCaughtAgain) {
  CountingDownUnit unit(peer, "Boot Monitor");
  unit.atPrompt = true;
  unit.answerVersion = false;
  engine.timings.queryMs = 300;
  ASSERT_TRUE(engine.CatchBootMonitor(port, 5000, false));
  EXPECT_TRUE(lines.contains("Resetting station."));
  EXPECT_TRUE(Sent().contains("reset"));
  EXPECT_EQ(engine.bootMonitorName, "");  // the second version query answered, nameless
  EXPECT_EQ(engine.boardCode, kBoardArm9);
}

TEST_F(CatchTest, BoardDetectionForEveryBoard) {
  struct Case {
    QByteArray environment;
    int code;
    bool result;
  };
  const Case cases[] = {
      {"board=KORVID kvni9260-extra\r\nstdin=serial", kBoardArm9, true},
      {"board=KORVID KVNI855T\r\nstdin=serial", kBoardPowerPc855T, true},
      {"board=KORVID kvni79524\r\nstdin=serial", kBoardKvni79524, true},
      {"stdin=serial", kBoardPowerPc855T, true},
      {"", kBoardUnknown, false},
  };
  for (const Case& c : cases) {
    const QByteArray env = Environment(c.environment);
    peer.SetEcho(false);
    peer.SetResponder(
        [env](const QByteArray& line) { return line == "printenv" ? env : QByteArray("\r\n=> "); });
    engine.boardCode = -1;
    EXPECT_EQ(engine.DetectBoard(port), c.result) << c.environment.constData();
    EXPECT_EQ(engine.boardCode, c.code) << c.environment.constData();
  }
  EXPECT_TRUE(lines.isEmpty());

  const QByteArray odd = Environment("board=ACME 1000\r\nstdin=serial");
  peer.SetResponder(
      [odd](const QByteArray& line) { return line == "printenv" ? odd : QByteArray("\r\n=> "); });
  EXPECT_FALSE(engine.DetectBoard(port));
  ASSERT_EQ(lines.size(), 1);
  EXPECT_TRUE(lines[0].startsWith("Unexpected board found. (printenv\r\n"));
  EXPECT_TRUE(lines[0].contains("board=ACME 1000"));

  lines.clear();
  peer.SetResponder([](const QByteArray&) { return QByteArray("garbage without prompt"); });
  engine.timings.detectBoardMs = 300;
  EXPECT_FALSE(engine.DetectBoard(port));
  EXPECT_EQ(lines.first(), "Error getting board ID. Message response was:");
  EXPECT_EQ(lines.last(), "End of response.");
}

}  // namespace
}  // namespace fwl::test
