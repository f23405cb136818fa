// The manual page and completion rendered from usage texts: which words of a
// usage text become actions, options and option values, and that any text
// reaches roff and the shell as plain text.
#include "cli/reference_pages.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QRegularExpression>

namespace fwl::cli {
namespace {

int RunNothing(const QStringList&) { return kExitOk; }

constexpr char kDemoUsage[] =
    "Usage: fwload demo run FILE [--mode fast|slow] [--json]\n"
    "       fwload demo stop|status --control SOCKET\n"
    "\n"
    "fwload demo for a prose line names no action; FILE is a placeholder.\n"
    ".starts like a request, 'and like one, and holds a back\\slash\n"
    "  --mode M        fast or slow (pseudo-terminal stays a word)\n"
    "  --level=N|--x   neither N nor --x is a list of values\n";

TEST(ReferencePages, UsageWordsComeFromSynopsisAndOptions) {
  const UsageWords words = ReadUsageWords({"demo", "a demo", kDemoUsage, RunNothing});
  EXPECT_EQ(words.actions, (QStringList{"run", "status", "stop"}));
  EXPECT_EQ(words.options, (QStringList{"--control", "--json", "--level", "--mode", "--x"}));
  ASSERT_EQ(words.choices.size(), 1u);
  EXPECT_EQ(words.choices[0].first, "--mode");
  EXPECT_EQ(words.choices[0].second, (QStringList{"fast", "slow"}));

  // A subcommand whose usage starts with an option has no actions.
  const UsageWords load =
      ReadUsageWords({"load", "", "Usage: fwload load --product station|switch", RunNothing});
  EXPECT_TRUE(load.actions.isEmpty());
  EXPECT_EQ(load.options, QStringList{"--product"});

  // One value per form in the synopsis adds up; prose and placeholders add
  // nothing.
  const UsageWords forms = ReadUsageWords(
      {"load", "",
       "Usage: fwload load --product station|switch --method serial --port PORT\n"
       "       fwload load --product station --method eth [--dhcp]\n"
       "Over Ethernet alone (--method eth or\nethernet); --dhcp has the station...\n",
       RunNothing});
  ASSERT_EQ(forms.choices.size(), 2u);
  EXPECT_EQ(forms.choices[0].first, "--product");
  EXPECT_EQ(forms.choices[0].second, (QStringList{"station", "switch"}));
  EXPECT_EQ(forms.choices[1].first, "--method");
  EXPECT_EQ(forms.choices[1].second, (QStringList{"serial", "eth"}));
}

TEST(ReferencePages, ManualPageKeepsUsageTextAsPlainText) {
  const QString page = ManualPage({{"demo", "a demo", kDemoUsage, RunNothing}});
  EXPECT_TRUE(page.contains("\n.SS \"fwload demo\"\na demo.\n.PP\n.nf\nUsage: fwload demo run"));
  EXPECT_TRUE(
      page.contains("\n\\&.starts like a request, 'and like one, and holds a back\\eslash\n"));
  EXPECT_TRUE(page.contains("[\\-\\-mode fast|slow]"));
  EXPECT_TRUE(page.contains("(pseudo-terminal stays a word)"));
  EXPECT_TRUE(page.contains("\\-\\-level=N|\\-\\-x"));
  // Every line a request of our own or text: no line starts a request by accident.
  for (const QString& line : page.split('\n')) {
    if (line.startsWith('.')) {
      EXPECT_TRUE(QRegularExpression("^\\.(\\\\\"|TH|SH|SS|PP|nf|fi|TP|B|BR|I|IR|RI|br)( |$)")
                      .match(line)
                      .hasMatch())
          << line.toStdString();
    }
    EXPECT_FALSE(line.startsWith('\'')) << line.toStdString();
  }
}

TEST(ReferencePages, CompletionIsValidBashWithOnlyPlainWords) {
  const QString script = BashCompletion(
      {{"demo", "", kDemoUsage, RunNothing}, {"bad;touch /tmp/x", "", "Usage: x", RunNothing}});
  EXPECT_TRUE(script.contains("local commands=\"demo\"\n"));
  EXPECT_TRUE(script.contains("            actions=\"run status stop\"\n"));
  EXPECT_TRUE(script.contains("                --mode) values=\"fast slow\" ;;\n"));
  EXPECT_FALSE(script.contains("touch"));
  QProcess bash;
  bash.start("bash", {"-n"});
  bash.write(script.toUtf8());
  bash.closeWriteChannel();
  ASSERT_TRUE(bash.waitForFinished(30000));
  EXPECT_EQ(bash.exitCode(), 0) << bash.readAllStandardError().constData();
}

}  // namespace
}  // namespace fwl::cli
