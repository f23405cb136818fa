// The Ui of `fwload`: message boxes and prompts on the terminal, progress as
// occasional lines. A subcommand may replace the operator's hands by hooks,
// e.g. run a relay script when the "Turn Power ON" prompt appears.
#pragma once

#include <QHash>
#include <QString>
#include <cstdio>
#include <functional>

#include "platform/ui.h"

namespace fwl::cli {

struct TerminalUiOptions {
  // Answer given to every question (Yes/No, OK/Cancel, Retry/Cancel boxes)
  // when nobody can be asked: true answers Yes/OK/Retry (`--yes`), false
  // answers No, or Cancel where there is no No. OK-only boxes are just shown.
  bool assumeYes = false;
  // Whether to ask on the terminal. -1: ask when `inFd` is a terminal;
  // 0: never ask (answers come from assumeYes); 1: always read answers from
  // `inFd` (tests feed a pipe). End of input counts as the assumeYes answer.
  int interactive = -1;
  // Where answers are read from, and where boxes, prompts and progress lines
  // are written (never stdout, which carries a subcommand's results).
  int inFd = 0;
  std::FILE* out = stderr;
  // Least time between two progress lines that only move the bar, in ms.
  int progressIntervalMs = 1000;
};

// Runs in place of the operator: for a message box it returns true to answer
// the affirmative button (OK/Yes/Retry) and false for No, or Cancel where
// there is no No (an OK-only box too); for a prompt, false marks the prompt
// cancelled.
using TerminalUiHook = std::function<bool(const QString& caption, const QString& text)>;

class TerminalUi final : public Ui {
 public:
  explicit TerminalUi(const TerminalUiOptions& options = TerminalUiOptions());
  ~TerminalUi() override;

  // A message box whose caption equals `caption` (case-insensitive) runs
  // `hook` instead of asking, e.g. OnMessage("Turn Power OFF", ...). The box's
  // text is still printed.
  void OnMessage(const QString& caption, TerminalUiHook hook);
  // A prompt shown with title `title` (case-insensitive) runs `hook` once
  // when it opens (or is retitled to it), e.g. OnPrompt("Turn Power ON", ...).
  void OnPrompt(const QString& title, TerminalUiHook hook);

  // A hook that runs `command` through /bin/sh and waits for it (up to
  // `timeoutMs`); true when it ran and exited with status 0. Its output goes
  // to the terminal; a failure is reported on stderr with the exit status.
  static TerminalUiHook CommandHook(const QString& command, int timeoutMs = 120000);

  // Ui. A prompt tells the operator how to cancel it: "c" + Enter when
  // answers are read from the terminal, or Ctrl-C (caught only while a prompt
  // or progress window is open).
  int MessageBox(const QString& text, const QString& caption, UiIcon icon,
                 UiButtons buttons) override;
  void ShowPrompt(const QString& title, const QString& text) override;
  void SetPromptText(const QString& text) override;
  bool PromptCancelled() override;
  void ClosePrompt() override;
  void BeginProgress(const QString& text, int maximum,
                     UiCancel cancel = UiCancel::kOffered) override;
  void SetProgress(int value, const QString& text) override;
  bool ProgressCancelled() override;
  void EndProgress() override;
  void SetWaitCursor(bool on) override;

  bool interactive() const { return interactive_; }

 private:
  bool ReadLine(QString* line);  // blocking; false at end of input
  bool PollCancelLine();         // non-blocking look for a "c" line
  // Sets `cancelled` once Ctrl-C or a "c" line came; it stays set.
  bool LatchCancel(bool& cancelled);
  void CatchInterrupt(bool on);
  void Print(const QString& line);

  TerminalUiOptions options_;
  bool interactive_;
  QHash<QString, TerminalUiHook> messageHooks_;
  QHash<QString, TerminalUiHook> promptHooks_;
  QString pendingInput_;

  bool promptOpen_ = false;
  bool promptCancelled_ = false;
  QString promptTitle_;

  bool progressOpen_ = false;
  bool progressCancelled_ = false;
  int progressMaximum_ = 0;
  QString progressText_;
  int lastPercent_ = -1;
  qint64 lastProgressLineMs_ = 0;

  int interruptCatchers_ = 0;
};

}  // namespace fwl::cli
