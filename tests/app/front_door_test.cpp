// The wizard program's front door: --help and --version answered on the
// terminal, and a missing display told as such (use fwload), never the GUI
// library's abort — both as the choice made from arguments and environment
// and with the built program.
#include "app/front_door.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QProcess>

namespace fwl {
namespace {

QProcessEnvironment Env(const QStringList& assignments) {
  QProcessEnvironment env;
  for (const QString& a : assignments) env.insert(a.section('=', 0, 0), a.section('=', 1));
  return env;
}

TEST(FrontDoor, ChosenFromArgumentsAndEnvironment) {
  struct Case {
    QStringList args;
    QStringList env;
    FrontDoor expected;
  };
  const Case cases[] = {
      // Help and version need no display and win over everything else.
      {{"--help"}, {}, FrontDoor::kPrintUsage},
      {{"/sta=Pump 4", "-h"}, {"DISPLAY=:0"}, FrontDoor::kPrintUsage},
      {{"/?"}, {}, FrontDoor::kPrintUsage},
      {{"--version", "--help"}, {}, FrontDoor::kPrintUsage},
      {{"/Station", "A", "--version"}, {}, FrontDoor::kPrintVersion},
      // A display of some kind.
      {{}, {"DISPLAY=:0"}, FrontDoor::kRunWizard},
      {{"/Project=x.6pj"}, {"WAYLAND_DISPLAY=wayland-0"}, FrontDoor::kRunWizard},
      {{}, {"QT_QPA_PLATFORM=offscreen"}, FrontDoor::kRunWizard},
      {{"-platform", "vnc"}, {}, FrontDoor::kRunWizard},
      {{}, {"QT_QPA_PLATFORM=wayland;xcb", "DISPLAY=:1"}, FrontDoor::kRunWizard},
      // None.
      {{}, {}, FrontDoor::kNoDisplay},
      {{"/sta=Pump 4"}, {"DISPLAY="}, FrontDoor::kNoDisplay},
      {{}, {"QT_QPA_PLATFORM=xcb"}, FrontDoor::kNoDisplay},
      {{}, {"QT_QPA_PLATFORM=wayland", "DISPLAY=:0"}, FrontDoor::kNoDisplay},
      {{"--helpful"}, {}, FrontDoor::kNoDisplay},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(qPrintable(c.args.join(' ') + " | " + c.env.join(' ')));
    EXPECT_EQ(ChooseFrontDoor(c.args, Env(c.env)), c.expected);
  }
}

#ifdef FWL_FWLOADER_PATH

struct WizardRun {
  int exitCode = -1;
  QString out;
  QString err;
};

// The built wizard program with no display at all, or with `display` as
// DISPLAY (a local display number that has no server behind it).
WizardRun RunWizard(const QStringList& args, const QString& display = QString()) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(name);
  if (!display.isEmpty()) env.insert("DISPLAY", display);
  QProcess p;
  p.setProcessEnvironment(env);
  p.start(QStringLiteral(FWL_FWLOADER_PATH), args);
  WizardRun run;
  if (!p.waitForFinished(60000)) {
    p.kill();
    p.waitForFinished(5000);
    return run;
  }
  if (p.exitStatus() == QProcess::NormalExit) run.exitCode = p.exitCode();
  run.out = QString::fromLocal8Bit(p.readAllStandardOutput());
  run.err = QString::fromLocal8Bit(p.readAllStandardError());
  return run;
}

TEST(FrontDoor, TheProgramWithoutADisplay) {
  const WizardRun help = RunWizard({"--help"});
  EXPECT_EQ(help.exitCode, 0) << qPrintable(help.err);
  EXPECT_EQ(help.out, WizardUsage());
  EXPECT_TRUE(help.out.startsWith("Usage: fwloader [/Station=NAME]"));
  EXPECT_TRUE(help.out.contains("fwload --help"));

  const WizardRun version = RunWizard({"/sta=Pump 4", "--version"});
  EXPECT_EQ(version.exitCode, 0) << qPrintable(version.err);
  EXPECT_EQ(version.out, "fwloader " FWL_VERSION "\n");

  const WizardRun none = RunWizard({"/sta=Pump 4"});
  EXPECT_EQ(none.exitCode, 1);
  EXPECT_EQ(none.err, QString::fromLatin1(kNoDisplayText));
  EXPECT_TRUE(none.out.isEmpty());

  // A display variable with no server behind it is found out by the GUI
  // library; the program still says what is wrong instead of aborting.
  ASSERT_FALSE(QFileInfo::exists("/tmp/.X11-unix/X987"));
  const WizardRun unreachable = RunWizard({}, ":987");
  EXPECT_EQ(unreachable.exitCode, 1) << qPrintable(unreachable.err);
  EXPECT_TRUE(unreachable.err.contains(QString::fromLatin1(kNoDisplayText)))
      << qPrintable(unreachable.err);
  EXPECT_FALSE(unreachable.err.contains("Reinstalling")) << qPrintable(unreachable.err);
}

#endif  // FWL_FWLOADER_PATH (the wizard is not built without Qt Widgets)

}  // namespace
}  // namespace fwl
