// The one door through which the core talks to the operator: message boxes,
// the modeless power prompt with its Cancel button, the progress window and
// the wait cursor. The wizard implements it with Qt dialogs, `fwload` on the
// terminal, tests with scripted answers. Core code never includes a widget
// header; it calls Ui::Current().
#pragma once

#include <QString>

namespace fwl {

enum class UiIcon { kNone, kInformation, kWarning, kError, kQuestion };

enum class UiButtons { kOk, kOkCancel, kYesNo, kYesNoCancel, kRetryCancel };

// Whether a progress window lets the operator stop the work. A wait that
// cannot be stopped (the restart countdown) shows no Cancel at all rather
// than a button that does nothing.
enum class UiCancel { kOffered, kNotOffered };

// Answers keep the Windows dialog result numbers, which callers compare with.
enum UiAnswer : int {
  kAnswerOk = 1,
  kAnswerCancel = 2,
  kAnswerRetry = 4,
  kAnswerYes = 6,
  kAnswerNo = 7,
};

class Ui {
 public:
  virtual ~Ui() = default;

  // Modal message box. Returns the button chosen (UiAnswer); closing the box
  // any other way returns kAnswerCancel.
  virtual int MessageBox(const QString& text, const QString& caption, UiIcon icon,
                         UiButtons buttons) = 0;

  // Modeless prompt with a text and a Cancel button (the "Cycle Power" /
  // "Turn Power ON" dialog). The caller keeps working and polls
  // PromptCancelled() while it waits; ClosePrompt() removes it. Only one
  // prompt is open at a time; ShowPrompt() on an open prompt retitles it.
  virtual void ShowPrompt(const QString& title, const QString& text) = 0;
  virtual void SetPromptText(const QString& text) = 0;
  virtual bool PromptCancelled() = 0;
  virtual void ClosePrompt() = 0;

  // Progress window: a text line, a bar and, with UiCancel::kOffered, a
  // Cancel button. With kNotOffered the window cannot be closed by the
  // operator and ProgressCancelled() stays false.
  virtual void BeginProgress(const QString& text, int maximum,
                             UiCancel cancel = UiCancel::kOffered) = 0;
  virtual void SetProgress(int value, const QString& text) = 0;
  virtual bool ProgressCancelled() = 0;
  virtual void EndProgress() = 0;

  // The wait (busy) cursor; calls nest.
  virtual void SetWaitCursor(bool on) = 0;

  // The service in force for the calling thread: its own (InstallForThread),
  // else the process's. Never null: without an installed implementation a
  // quiet one answers OK/Yes and writes messages to stderr.
  static Ui& Current();
  // Installs `ui` (not owned) and returns the previous one; nullptr restores
  // the default. On a thread with a Ui of its own this replaces that one, so
  // whatever wraps the Ui during a load wraps that thread's only.
  static Ui* Install(Ui* ui);
  // Gives the calling thread a Ui of its own (a batch runs each load on its
  // own thread, each with its own answers); nullptr returns the thread to
  // the process's. Returns the thread's previous one.
  static Ui* InstallForThread(Ui* ui);
};

// A Ui that shows nothing: boxes get their affirmative button, prompts and
// progress are never cancelled. A base for front ends that care about only a
// few of the calls (benchmarks, a subcommand that hides progress).
class SilentUi : public Ui {
 public:
  int MessageBox(const QString& text, const QString& caption, UiIcon icon,
                 UiButtons buttons) override;
  void ShowPrompt(const QString&, const QString&) override {}
  void SetPromptText(const QString&) override {}
  bool PromptCancelled() override { return false; }
  void ClosePrompt() override {}
  void BeginProgress(const QString&, int, UiCancel = UiCancel::kOffered) override {}
  void SetProgress(int, const QString&) override {}
  bool ProgressCancelled() override { return false; }
  void EndProgress() override {}
  void SetWaitCursor(bool) override {}
};

// Installs a Ui for the lifetime of the guard.
class ScopedUi {
 public:
  explicit ScopedUi(Ui* ui) : previous_(Ui::Install(ui)) {}
  ~ScopedUi() { Ui::Install(previous_); }
  ScopedUi(const ScopedUi&) = delete;
  ScopedUi& operator=(const ScopedUi&) = delete;

 private:
  Ui* previous_;
};

// Shows the wait cursor while in scope.
class WaitCursor {
 public:
  WaitCursor() { Ui::Current().SetWaitCursor(true); }
  ~WaitCursor() { Ui::Current().SetWaitCursor(false); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

// Shorthand for the common modal box with an OK button.
int ShowMessage(const QString& text, const QString& caption = QString(),
                UiIcon icon = UiIcon::kNone);

}  // namespace fwl
