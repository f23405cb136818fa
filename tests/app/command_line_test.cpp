// The wizard's command line: abbreviations, value forms, dropped arguments
// and their messages, and the help file the options select.
#include "app/command_line.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "app/help.h"
#include "support/scripted_ui.h"

namespace fwl {
namespace {

struct Parsed {
  Application app;
  StandardCommandLine standard;
  QStringList messages;
};

Parsed Parse(const QStringList& args) {
  test::ScriptedUi ui;
  ScopedUi scope(&ui);
  Parsed p;
  p.app.Station = QStringLiteral("stale");  // the table clears old values
  p.standard = ParseCommandLine(args, p.app);
  p.messages = ui.messageTexts();
  for (const auto& shown : ui.messages()) {
    EXPECT_EQ(shown.buttons, UiButtons::kOk);
    EXPECT_EQ(shown.caption, QStringLiteral("FirmwareLoader"));
  }
  return p;
}

TEST(CommandLine, AbbreviationsRespectMinimumLengthsAndIgnoreCase) {
  Parsed p = Parse({"/st=X"});
  EXPECT_EQ(p.app.Station, "");
  EXPECT_EQ(p.standard.flags, QStringList{"st=X"});
  EXPECT_TRUE(p.messages.isEmpty());

  EXPECT_EQ(Parse({"/sta=X"}).app.Station, "X");
  EXPECT_EQ(Parse({"/STATION=X"}).app.Station, "X");
  EXPECT_EQ(Parse({"-sTaTi=X"}).app.Station, "X");
  // Longer than the name is no abbreviation.
  EXPECT_EQ(Parse({"/Stations=X"}).app.Station, "");

  p = Parse({"/pro=X"});
  EXPECT_EQ(p.app.Project, "");
  EXPECT_EQ(p.app.Production, "");
  EXPECT_EQ(Parse({"/proj=X"}).app.Project, QDir::current().absoluteFilePath("X"));
  EXPECT_EQ(Parse({"/prod=X"}).app.Production, "X");
  // The placeholder and end marker never match.
  EXPECT_EQ(Parse({"/$$Doc=X"}).standard.flags, QStringList{"$$Doc=X"});
  EXPECT_EQ(Parse({"/$$End=X"}).standard.flags, QStringList{"$$End=X"});
}

TEST(CommandLine, ValueAfterEqualsOrAsNextArgument) {
  Parsed p = Parse({"/Station", "Pump 4", "-Project=/plant/a.6pj", "/Production", "yes"});
  EXPECT_EQ(p.app.Station, "Pump 4");
  EXPECT_EQ(p.app.Project, "/plant/a.6pj");
  EXPECT_EQ(p.app.Production, "yes");
  EXPECT_TRUE(p.messages.isEmpty());
  EXPECT_TRUE(p.standard.documentName.isEmpty());

  // Only the first "=" splits; the rest belongs to the value.
  EXPECT_EQ(Parse({"/sta=a=b"}).app.Station, "a=b");
  // An absolute path is a value, not a flag.
  p = Parse({"/Project", "/home/op/plant.6pj", "/Station", "S1"});
  EXPECT_EQ(p.app.Project, "/home/op/plant.6pj");
  EXPECT_EQ(p.app.Station, "S1");
}

TEST(CommandLine, ARelativeProjectIsInTheFolderTheWizardStartedIn) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString before = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(dir.path()));
  const Parsed bare = Parse({"/Project=plant.6pj", "/Station=Pump1"});
  const Parsed sub = Parse({"-Project", "projects/plant.6pj"});
  QDir::setCurrent(before);
  const QString here = QFileInfo(dir.path()).canonicalFilePath();
  EXPECT_EQ(bare.app.Project, here + "/plant.6pj");
  EXPECT_EQ(sub.app.Project, here + "/projects/plant.6pj");
  EXPECT_TRUE(bare.messages.isEmpty());
}

TEST(CommandLine, SecondValuesAreReportedAndDropped) {
  Parsed p = Parse({"/Station", "A", "B", "C"});
  EXPECT_EQ(p.app.Station, "A");
  EXPECT_EQ(p.messages, (QStringList{"Extra value B for /Station ignored",
                                     "Extra value C for /Station ignored"}));

  p = Parse({"/Station=A", "/Station=B"});
  EXPECT_EQ(p.app.Station, "A");
  EXPECT_EQ(p.messages, QStringList{"Extra value B for /Station ignored"});

  // An empty "=" value leaves the option open for the next argument.
  p = Parse({"/Station=", "A"});
  EXPECT_EQ(p.app.Station, "A");
  EXPECT_TRUE(p.messages.isEmpty());
}

TEST(CommandLine, DocumentAndUnknownFlagArguments) {
  // The first plain argument is the (unused) document, a second is dropped.
  Parsed p = Parse({"one.txt", "two.txt"});
  EXPECT_EQ(p.standard.documentName, "one.txt");
  EXPECT_EQ(p.messages, QStringList{"Document two.txt ignored"});

  // A value after an unknown flag is the flag's parameter, not a document.
  p = Parse({"/nosuch", "value", "/sta", "S"});
  EXPECT_EQ(p.standard.flags, QStringList{"nosuch"});
  EXPECT_EQ(p.standard.parameters, QStringList{"value"});
  EXPECT_TRUE(p.standard.documentName.isEmpty());
  EXPECT_EQ(p.app.Station, "S");

  // Print-to takes further plain arguments without complaint.
  p = Parse({"doc", "/pt", "printer", "driver"});
  EXPECT_TRUE(p.messages.isEmpty());

  // Hostile-looking values are stored verbatim, never read as message holes.
  p = Parse({"/Station=%s%n", "%s"});
  EXPECT_EQ(p.app.Station, "%s%n");
  EXPECT_EQ(p.messages, QStringList{"Extra value %s for /Station ignored"});
}

TEST(Help, PathFollowsStationOrProject) {
  const QString base = "/opt/fwl/help/FirmwareLoader.hlp";
  EXPECT_EQ(ChooseHelpPath(base, "", ""), "/opt/fwl/help/msfirmload.hlp");
  EXPECT_EQ(ChooseHelpPath(base, "", "p.6pj"), "/opt/fwl/help/zebfirmload.hlp");
  EXPECT_EQ(ChooseHelpPath(base, "S1", ""), "/opt/fwl/help/zebfirmload.hlp");
  EXPECT_EQ(HelpPagePath("/opt/fwl/help/zebfirmload.hlp"), "/opt/fwl/help/zebfirmload.html");
  const QUrl url = HelpUrl("/opt/fwl/help/msfirmload.hlp", HelpContextForDialog(107));
  EXPECT_EQ(url.toString(), "file:///opt/fwl/help/msfirmload.html#ctx-131179");
}

TEST(Help, ShippedPagesCarryEveryPageAnchor) {
  for (const char* file : {kStationHelpFile, kSwitchHelpFile}) {
    const QString page = HelpPagePath(HelpFolder() + QLatin1String(file));
    QFile f(page);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << qPrintable(page);
    const QByteArray html = f.readAll();
    for (int dialog = 107; dialog <= 112; ++dialog) {
      EXPECT_TRUE(html.contains(
          QStringLiteral("id=\"ctx-%1\"").arg(HelpContextForDialog(dialog)).toLatin1()))
          << file << " " << dialog;
    }
  }
}

}  // namespace
}  // namespace fwl
