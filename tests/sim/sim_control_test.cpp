// The simulated unit as another process sees it: "fwload sim unit" with its
// terminal link and control socket, power-cycled and read back with the
// "fwload sim" requests.
#include <gtest/gtest.h>

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include "sim/sim_unit.h"
#include "sim_terminal.h"
#include "support/test_util.h"

namespace fwl {
namespace {

int RunFwload(const QStringList& args, QByteArray* out = nullptr) {
  QProcess p;
  p.start(test::FwloadPath(), args);
  if (!p.waitForFinished(30000)) return -1;
  if (out) *out = p.readAllStandardOutput();
  return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

TEST(SimControl, ProcessWithLinkControlSocketPowerCycleAndDumps) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString link = dir.path() + "/ttyUnit";
  const QString control = dir.path() + "/unit.ctl";
  QProcess sim;
  sim.start(test::FwloadPath(),
            {"sim", "unit", "--link", link, "--control", control, "--board", "arm9", "--monitor",
             "PPCBoot", "--boot-delay", "30", "--nor", "1M", "--nand", "none"});
  ASSERT_TRUE(sim.waitForStarted());
  ASSERT_TRUE(sim.waitForReadyRead(20000));
  const QString pty = QString::fromLocal8Bit(sim.readLine()).trimmed();
  EXPECT_TRUE(pty.startsWith("/dev/pts/")) << pty.toStdString();
  EXPECT_EQ(QFileInfo(link).symLinkTarget(), pty);

  test::SimTerminal term;
  ASSERT_TRUE(term.Open(link));
  ASSERT_TRUE(term.WaitFor("PPCBoot 2.0.0"));
  ASSERT_TRUE(term.WaitFor("autoboot"));
  ASSERT_TRUE(term.Send("interrupt\r"));
  ASSERT_TRUE(term.WaitFor("=> "));
  term.ReadFor(30);
  EXPECT_TRUE(term.Command("bdinfo").contains("flashsize   = 0x00100000"));
  term.Command("setenv kept yes");
  term.Command("saveenv");
  term.Command("setenv lost yes");
  term.Command("mw.b 20100000 ab 10");

  QByteArray out;
  ASSERT_EQ(RunFwload({"sim", "state", "--control", control}, &out), 0);
  EXPECT_EQ(out.trimmed(), "prompt");
  const QString ram = dir.path() + "/ram.bin";
  ASSERT_EQ(RunFwload({"sim", "dump", "--control", control, "--what", "dram", "--offset",
                       "0x100000", "--length", "0x20", "--out", ram}),
            0);
  EXPECT_EQ(test::ReadFileOrEmpty(ram), QByteArray(16, char(0xAB)) + QByteArray(16, 0));

  term.Take();
  ASSERT_EQ(RunFwload({"sim", "power-cycle", "--control", control}), 0);
  ASSERT_TRUE(term.WaitFor("Hit any key to stop autoboot"));

  const QString env = dir.path() + "/env.txt";
  ASSERT_EQ(RunFwload({"sim", "dump", "--control", control, "--what", "env", "--out", env}), 0);
  const QByteArray envText = test::ReadFileOrEmpty(env);
  EXPECT_TRUE(envText.contains("\nkept=yes\n"));
  EXPECT_FALSE(envText.contains("lost="));
  EXPECT_TRUE(envText.contains("board=KORVID kvni9260\n"));
  ASSERT_EQ(RunFwload({"sim", "dump", "--control", control, "--what", "dram", "--offset",
                       "0x100000", "--length", "0x10", "--out", ram}),
            0);
  EXPECT_EQ(test::ReadFileOrEmpty(ram), QByteArray(16, 0));  // RAM did not survive
  const QString nor = dir.path() + "/nor.bin";
  ASSERT_EQ(RunFwload({"sim", "dump", "--control", control, "--what", "nor", "--out", nor}), 0);
  EXPECT_EQ(test::ReadFileOrEmpty(nor), QByteArray(0x100000, char(0xFF)));

  EXPECT_EQ(RunFwload({"sim", "dump", "--control", control, "--what", "cpu", "--out", nor}), 1);
  EXPECT_EQ(RunFwload({"sim", "power-cycle", "--control", dir.path() + "/nobody"}), 1);
  EXPECT_EQ(RunFwload({"sim", "unit", "--dram", "lots"}), 2);

  sim.terminate();
  ASSERT_TRUE(sim.waitForFinished(10000));
  EXPECT_EQ(sim.exitCode(), 0);
  EXPECT_FALSE(QFileInfo::exists(link) || QFileInfo(link).isSymLink());
}

TEST(SimControl, InProcessUnitAnswersOnItsSocketToo) {
  QTemporaryDir dir;
  const QString control = dir.path() + "/unit.ctl";
  SimOptions o;
  o.bootOnOpen = false;
  ApplyBoardDefaults(o);
  SimUnit unit(o);
  QString error;
  ASSERT_TRUE(unit.Start(control, &error)) << error.toStdString();
  QString answer;
  ASSERT_TRUE(SendSimControl(control, "state", &answer));
  EXPECT_EQ(answer, "ok countdown");  // powered at once, nobody listening
  ASSERT_TRUE(SendSimControl(control, "power-off", &answer));
  EXPECT_EQ(unit.State(), "off");
  ASSERT_TRUE(SendSimControl(control, "bogus", &answer));
  EXPECT_TRUE(answer.startsWith("error"));
  ASSERT_TRUE(SendSimControl(control, "dump nor 0 - ", &answer));
  EXPECT_TRUE(answer.startsWith("error"));
}

}  // namespace
}  // namespace fwl
