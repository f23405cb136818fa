// fwload's terminal Ui: unattended and typed answers, hooks that stand in for
// the operator (real shell commands), cancelling prompts by a typed line or
// Ctrl-C, and how often progress is printed.
#include "cli/terminal_ui.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fwl::cli {
namespace {

// Captures what the Ui prints and feeds it typed lines through a pipe.
class Terminal {
 public:
  Terminal() {
    out = open_memstream(&buffer_, &size_);
    EXPECT_EQ(pipe(fds_), 0);
  }
  ~Terminal() {
    std::fclose(out);
    std::free(buffer_);
    if (fds_[1] >= 0) close(fds_[1]);
    close(fds_[0]);
  }
  TerminalUiOptions Options(int interactive, bool assumeYes = false) {
    TerminalUiOptions o;
    o.interactive = interactive;
    o.assumeYes = assumeYes;
    o.inFd = fds_[0];
    o.out = out;
    return o;
  }
  void Type(const char* text) {
    ASSERT_EQ(write(fds_[1], text, strlen(text)), ssize_t(strlen(text)));
  }
  void EndInput() {
    close(fds_[1]);
    fds_[1] = -1;
  }
  QString Printed() {
    std::fflush(out);
    return QString::fromLocal8Bit(buffer_, qsizetype(size_));
  }

  std::FILE* out;

 private:
  char* buffer_ = nullptr;
  size_t size_ = 0;
  int fds_[2] = {-1, -1};
};

TEST(TerminalUi, UnattendedAnswersComeFromAssumeYes) {
  struct Case {
    UiButtons buttons;
    int yes;
    int no;
  };
  const Case cases[] = {
      {UiButtons::kOk, kAnswerOk, kAnswerOk},
      {UiButtons::kOkCancel, kAnswerOk, kAnswerCancel},
      {UiButtons::kYesNo, kAnswerYes, kAnswerNo},
      {UiButtons::kYesNoCancel, kAnswerYes, kAnswerNo},
      {UiButtons::kRetryCancel, kAnswerRetry, kAnswerCancel},
  };
  for (const Case& c : cases) {
    Terminal t;
    TerminalUi yes(t.Options(0, true));
    TerminalUi no(t.Options(0, false));
    EXPECT_EQ(yes.MessageBox("text", "caption", UiIcon::kQuestion, c.buttons), c.yes);
    EXPECT_EQ(no.MessageBox("text", "caption", UiIcon::kQuestion, c.buttons), c.no);
  }
  Terminal t;
  TerminalUi ui(t.Options(0));
  ui.MessageBox("Unable to establish communications.", "FirmwareLoader", UiIcon::kError,
                UiButtons::kOk);
  EXPECT_TRUE(t.Printed().contains("error: FirmwareLoader: Unable to establish communications."));
}

TEST(TerminalUi, TypedAnswersWithDefaultsAndEndOfInput) {
  Terminal t;
  TerminalUi ui(t.Options(1, true));
  t.Type("n\n\nmaybe\nRETRY\ncan\n");
  EXPECT_EQ(ui.MessageBox("Continue?", "Q", UiIcon::kQuestion, UiButtons::kYesNo), kAnswerNo);
  // A bare Enter takes the first button.
  EXPECT_EQ(ui.MessageBox("Continue?", "Q", UiIcon::kQuestion, UiButtons::kOkCancel), kAnswerOk);
  // An unknown word asks again.
  EXPECT_EQ(ui.MessageBox("Again?", "Q", UiIcon::kQuestion, UiButtons::kRetryCancel), kAnswerRetry);
  EXPECT_EQ(t.Printed().count("[retry/cancel]"), 2);
  EXPECT_EQ(ui.MessageBox("Again?", "Q", UiIcon::kQuestion, UiButtons::kYesNoCancel),
            kAnswerCancel);
  // Input gone: the unattended answer.
  t.EndInput();
  EXPECT_EQ(ui.MessageBox("Continue?", "Q", UiIcon::kQuestion, UiButtons::kYesNo), kAnswerYes);
}

TEST(TerminalUi, HooksStandInForTheOperator) {
  Terminal t;
  TerminalUi ui(t.Options(0, false));
  QStringList calls;
  ui.OnMessage("Turn Power OFF", [&](const QString& caption, const QString&) {
    calls << caption;
    return true;
  });
  // The caption matches without regard to case; the hook's true is OK even
  // though nobody may answer for the operator.
  EXPECT_EQ(ui.MessageBox("Please turn power to the unit OFF now, then click OK", "turn power off",
                          UiIcon::kNone, UiButtons::kOkCancel),
            kAnswerOk);
  EXPECT_EQ(calls, QStringList{"turn power off"});

  // A failing power command answers Cancel, so the load stops.
  ui.OnMessage("Turn Power OFF", TerminalUi::CommandHook("exit 3"));
  EXPECT_EQ(ui.MessageBox("off", "Turn Power OFF", UiIcon::kNone, UiButtons::kOk), kAnswerCancel);

  // A prompt hook runs when its prompt opens or is retitled to it, once.
  int runs = 0;
  ui.OnPrompt("Turn Power ON", [&](const QString&, const QString&) { return ++runs > 0; });
  ui.ShowPrompt("Cycle Power", "Please turn the power ON now...");
  ui.ShowPrompt("Turn Power ON", "Turn the power ON to begin loading firmware now.");
  ui.ShowPrompt("Turn Power ON", "same prompt, new text");
  EXPECT_EQ(runs, 1);
  EXPECT_FALSE(ui.PromptCancelled());
  ui.ClosePrompt();

  ui.OnPrompt("Turn Power ON", TerminalUi::CommandHook("true"));
  ui.ShowPrompt("Turn Power ON", "on");
  EXPECT_FALSE(ui.PromptCancelled());
  ui.ClosePrompt();
  ui.OnPrompt("Turn Power ON", TerminalUi::CommandHook("kill -9 $$"));
  ui.ShowPrompt("Turn Power ON", "on");
  EXPECT_TRUE(ui.PromptCancelled());
  ui.ClosePrompt();
  EXPECT_FALSE(ui.PromptCancelled());  // nothing open
}

TEST(TerminalUi, PromptCancelledByTypedLineOrInterrupt) {
  Terminal t;
  TerminalUi ui(t.Options(1));
  ui.ShowPrompt("Cycle Power", "Please turn the power ON now...");
  EXPECT_TRUE(t.Printed().contains("type c and Enter"));
  t.Type("hello\n");
  EXPECT_FALSE(ui.PromptCancelled());
  t.Type("c\n");
  EXPECT_TRUE(ui.PromptCancelled());
  ui.ClosePrompt();

  struct sigaction before {};
  sigaction(SIGINT, nullptr, &before);
  ui.ShowPrompt("Cycle Power", "again");
  EXPECT_FALSE(ui.PromptCancelled());
  raise(SIGINT);  // caught while the prompt is open
  EXPECT_TRUE(ui.PromptCancelled());
  ui.ClosePrompt();
  struct sigaction after {};
  sigaction(SIGINT, nullptr, &after);
  EXPECT_EQ(after.sa_handler, before.sa_handler);

  // The next prompt starts afresh.
  ui.ShowPrompt("Cycle Power", "third");
  EXPECT_FALSE(ui.PromptCancelled());
  ui.ClosePrompt();
}

TEST(TerminalUi, ProgressPrintsTextChangesAndTheEndOnly) {
  Terminal t;
  TerminalUiOptions options = t.Options(0);
  options.progressIntervalMs = 60000;
  TerminalUi ui(options);
  ui.BeginProgress("Reading firmware directory...", 200);
  for (int i = 1; i <= 200; ++i)
    ui.SetProgress(i, i == 100 ? QStringLiteral("kvimage_razeb_3_1.tgz") : QString());
  EXPECT_FALSE(ui.ProgressCancelled());
  ui.EndProgress();
  ui.SetProgress(5, "after the end");
  const QStringList lines = t.Printed().split('\n', Qt::SkipEmptyParts);
  EXPECT_EQ(lines, (QStringList{"Reading firmware directory...", "kvimage_razeb_3_1.tgz (50%)",
                                "kvimage_razeb_3_1.tgz (100%)"}));
}

}  // namespace
}  // namespace fwl::cli
