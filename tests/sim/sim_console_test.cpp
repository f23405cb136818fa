// The simulated unit's boot monitor as a loader sees it through the pty:
// power-on, catching the countdown, the command line and the environment.
#include <gtest/gtest.h>

#include <QThread>

#include "sim/sim_unit.h"
#include "sim_terminal.h"

namespace fwl {
namespace {

SimOptions QuickUnit() {
  SimOptions o;
  o.bootDelaySeconds = 30;  // nobody's test should see it autoboot by accident
  o.countdownTickMs = 1000;
  ApplyBoardDefaults(o);
  return o;
}

// Starts a unit, opens its port and stops the countdown.
void CatchUnit(SimUnit& unit, test::SimTerminal& term) {
  ASSERT_TRUE(unit.Start());
  ASSERT_TRUE(term.Open(unit.SlavePath()));
  ASSERT_TRUE(term.WaitFor("Hit any key to stop autoboot"));
  ASSERT_TRUE(term.Send("interrupt\r"));
  ASSERT_TRUE(term.WaitFor("=> "));
  term.ReadFor(50);
  term.Take();
}

TEST(SimConsole, PowerComesOnWhenThePortOpensAndOnlyTheStopStringCatches) {
  SimUnit unit(QuickUnit());
  ASSERT_TRUE(unit.Start());
  EXPECT_EQ(unit.State(), "off");
  test::SimTerminal term;
  ASSERT_TRUE(term.Open(unit.SlavePath()));
  ASSERT_TRUE(term.WaitFor("Hit any key to stop autoboot: 30 "));
  EXPECT_TRUE(term.Seen().contains("U-Boot 1.1.4"));
  EXPECT_TRUE(term.Seen().contains("\r\n"));

  // Other keys and a stop string split over two writes: only the whole
  // string counts.
  ASSERT_TRUE(term.Send("\r\rinter"));
  EXPECT_FALSE(term.WaitFor("=> ", 200));
  EXPECT_EQ(unit.State(), "countdown");
  ASSERT_TRUE(term.Send("rupt\rinterrupt\rinterrupt\r"));
  ASSERT_TRUE(
      term.WaitFor("Unknown command 'interrupt' - try 'help'\r\n=> "
                   "interrupt\r\nUnknown command 'interrupt' - try 'help'\r\n=> "));
  EXPECT_EQ(unit.State(), "prompt");
  // The CR after the stop string is an empty line: just another prompt.
  EXPECT_TRUE(term.Seen().contains(" 0 \r\n=> \r\n=> interrupt"));
}

TEST(SimConsole, AnyKeyUnitRunsTheRestOfTheStopStringAsACommand) {
  SimOptions o = QuickUnit();
  o.anyKey = true;
  SimUnit unit(o);
  ASSERT_TRUE(unit.Start());
  test::SimTerminal term;
  ASSERT_TRUE(term.Open(unit.SlavePath()));
  ASSERT_TRUE(term.WaitFor("autoboot"));
  ASSERT_TRUE(term.Send("interrupt\r"));
  ASSERT_TRUE(term.WaitFor("nterrupt\r\nUnknown command 'nterrupt' - try 'help'\r\n=> "));
}

TEST(SimConsole, UncaughtCountdownBootsAndTheMonitorIsGone) {
  SimOptions o = QuickUnit();
  o.bootDelaySeconds = 2;
  o.countdownTickMs = 20;
  SimUnit unit(o);
  ASSERT_TRUE(unit.Start());
  test::SimTerminal term;
  ASSERT_TRUE(term.Open(unit.SlavePath()));
  ASSERT_TRUE(term.WaitFor("Starting kernel"));
  EXPECT_TRUE(term.Seen().contains("\b\b\b 1 \b\b\b 0 "));
  EXPECT_EQ(unit.State(), "booted");
  ASSERT_TRUE(term.Send("interrupt\r"));
  EXPECT_FALSE(term.WaitFor("=> ", 200));

  // A power cycle brings the countdown back.
  term.Take();
  unit.PowerCycle();
  ASSERT_TRUE(term.WaitFor("Hit any key"));
}

TEST(SimConsole, EchoLineEditingAndRepeat) {
  SimUnit unit(QuickUnit());
  test::SimTerminal term;
  CatchUnit(unit, term);
  // Backspace removes a typed character on screen and in the line.
  EXPECT_EQ(term.Command("echo abX\bc"), "echo abX\b \bc\r\nabc\r\n=> ");
  // An empty line runs the previous command again.
  EXPECT_EQ(term.Command(""), "\r\nabc\r\n=> ");
  // Ctrl-C abandons the line.
  ASSERT_TRUE(term.Send("echo no\x03"));
  ASSERT_TRUE(term.WaitFor("<INTERRUPT>\r\n=> "));
  EXPECT_TRUE(term.Command("bogus arg").contains("Unknown command 'bogus' - try 'help'\r\n=> "));
  // A failed command is not repeated by an empty line.
  EXPECT_EQ(term.Command(""), "\r\n=> ");
}

TEST(SimConsole, HushParserExpandsOnlyBracesAndRepeatsOnlyRepeatableCommands) {
  SimOptions o = QuickUnit();
  o.hushParser = true;
  SimUnit unit(o);
  test::SimTerminal term;
  CatchUnit(unit, term);
  term.Command("setenv filesize 2d0000");
  // "$(...)" stays as typed; a count that is no number reads as 0.
  EXPECT_EQ(term.Command("echo $(filesize)"), "echo $(filesize)\r\n$(filesize)\r\n=> ");
  EXPECT_TRUE(term.Command("echo ${filesize} $filesize").contains("\r\n2d0000 2d0000\r\n=> "));
  EXPECT_TRUE(
      term.Command("cp.b 100000 44080000 $(filesize)").contains("\r\nZero length ???\r\n=> "));
  EXPECT_EQ(unit.CommandLog().last(), "cp.b 100000 44080000 $(filesize)");

  // An empty line repeats a repeatable command, and nothing after one
  // that is not.
  term.Command("version");
  EXPECT_TRUE(term.Command("").contains("U-Boot 1.1.4"));
  term.Command("setenv x 1");
  EXPECT_EQ(term.Command(""), "\r\n=> ");

  // The simple parser expands both forms.
  SimUnit simple(QuickUnit());
  test::SimTerminal other;
  CatchUnit(simple, other);
  other.Command("setenv filesize 10");
  EXPECT_TRUE(other.Command("echo $(filesize) ${filesize}").contains("\r\n10 10\r\n=> "));
}

TEST(SimConsole, EnvironmentSurvivesPowerCycleOnlyWhenSaved) {
  SimUnit unit(QuickUnit());
  test::SimTerminal term;
  CatchUnit(unit, term);
  QByteArray env = term.Command("printenv");
  EXPECT_TRUE(env.contains("\r\nboard=KORVID kvni79524\r\n"));
  EXPECT_TRUE(env.contains("\r\nstdin=serial\r\n"));
  EXPECT_TRUE(env.contains("Environment size: "));

  term.Command("setenv serverip 127.0.0.1");
  term.Command("setenv gatewayip 10.0.0.1");
  term.Command("setenv gatewayip");  // deletes
  EXPECT_TRUE(term.Command("saveenv").endsWith("done\r\nProtected 1 sectors\r\n=> "));
  term.Command("setenv ipaddr 127.0.0.2");
  EXPECT_EQ(unit.Env("ipaddr"), "127.0.0.2");
  EXPECT_TRUE(term.Command("printenv gatewayip").contains("## Error: \"gatewayip\" not defined"));

  unit.PowerCycle();
  CatchUnit(unit, term);
  EXPECT_EQ(unit.Env("serverip"), "127.0.0.1");
  EXPECT_EQ(unit.Env("ipaddr"), "");
  EXPECT_TRUE(term.Command("printenv serverip").contains("serverip=127.0.0.1\r\n=> "));
}

TEST(SimConsole, BoardAndMonitorVariants) {
  struct Case {
    QString board;
    bool noStdin;
    QString monitor;
  } cases[] = {{kSimBoardArm9, false, "PPCBoot"},
               {kSimBoardPpc855, false, "U-Boot"},
               {"", false, "U-Boot"},
               {"", true, "U-Boot"},
               {"ACME x1", false, "U-Boot"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.board.toStdString());
    SimOptions o = QuickUnit();
    o.board = c.board;
    o.noStdin = c.noStdin;
    o.monitorName = c.monitor;
    ApplyBoardDefaults(o);
    SimUnit unit(o);
    test::SimTerminal term;
    CatchUnit(unit, term);
    const QByteArray env = term.Command("printenv");
    EXPECT_EQ(env.contains("board="), !c.board.isEmpty());
    if (!c.board.isEmpty()) {
      EXPECT_TRUE(env.contains(("board=" + c.board).toLatin1()));
    }
    EXPECT_EQ(env.contains("stdin="), !c.noStdin);
    EXPECT_TRUE(term.Command("version").contains(("\r\n" + c.monitor + " ").toLatin1()));
  }
}

TEST(SimConsole, ResetRebootsAndLinesSentJustBeforeClosingStillArrive) {
  SimUnit unit(QuickUnit());
  test::SimTerminal term;
  CatchUnit(unit, term);
  term.Command("mw.b 100000 5a 10");
  ASSERT_TRUE(term.Send("reset\r"));
  ASSERT_TRUE(term.WaitFor("resetting ...\r\n\r\n\r\nU-Boot"));
  ASSERT_TRUE(term.WaitFor("Hit any key to stop autoboot"));
  EXPECT_EQ(unit.ReadDram(0x100000, 1), QByteArray(1, 0));

  // A loader that writes a line and closes the port at once: the line was on
  // the wire, so the unit runs it.
  ASSERT_TRUE(term.Send("interrupt\r"));
  ASSERT_TRUE(term.WaitFor("=> "));
  term.ReadFor(30);
  ASSERT_TRUE(term.Send("setenv closed yes\r"));
  term.Close();
  for (int i = 0; i < 100 && unit.Env("closed").isEmpty(); ++i) QThread::msleep(10);
  EXPECT_EQ(unit.Env("closed"), "yes");
  // Nothing the unit said meanwhile waits for the next peer.
  ASSERT_TRUE(term.Open(unit.SlavePath()));
  EXPECT_EQ(term.ReadFor(100), QByteArray());
}

TEST(SimConsole, BdinfoReportsTheConfiguredMemories) {
  SimOptions o = QuickUnit();
  o.nvramSize = 0;
  o.dramSize = 0x1000000;
  SimUnit unit(o);
  test::SimTerminal term;
  CatchUnit(unit, term);
  const QByteArray info = term.Command("bdinfo");
  EXPECT_TRUE(info.contains("memstart    = 0x00000000\r\n"));
  EXPECT_TRUE(info.contains("memsize     = 0x01000000\r\n"));
  EXPECT_TRUE(info.contains("flashsize   = 0x00800000\r\n"));
  EXPECT_TRUE(info.contains("sramsize    = 0x00000000\r\n"));
}

TEST(SimConsole, DateSetsAndShowsTheClock) {
  SimUnit unit(QuickUnit());
  test::SimTerminal term;
  CatchUnit(unit, term);
  EXPECT_TRUE(term.Command("date 121109052008.07").endsWith("Time:  9:05:07\r\n=> "));
  EXPECT_TRUE(term.Command("date").contains("Date: 2008-12-11 (Thursday)"));
  EXPECT_TRUE(term.Command("date 133109052008.07").contains("## Bad date format"));
}

}  // namespace
}  // namespace fwl
