// A Ui for tests: answers come from a queue the test fills, and every message,
// prompt and progress text is recorded so tests can check what the operator
// would have seen.
#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>

#include "platform/ui.h"

namespace fwl::test {

class ScriptedUi final : public Ui {
 public:
  struct Shown {
    QString text;
    QString caption;
    UiIcon icon;
    UiButtons buttons;
  };

  // Queues the answer for the next message box. With the queue empty a box
  // is answered with OK (or Yes for Yes/No boxes).
  void QueueAnswer(int answer) { answers_.push_back(answer); }
  // Makes PromptCancelled() return true once the prompt has been polled
  // `afterPolls` times (0: at the first poll).
  void CancelPromptAfter(int afterPolls) { cancelAfter_ = afterPolls; }
  // Called whenever a prompt is shown (title, text): lets a test act like the
  // operator, e.g. power-cycle a simulated unit.
  std::function<void(const QString&, const QString&)> onPrompt;
  // Makes ProgressCancelled() return true after that many SetProgress calls.
  void CancelProgressAfter(int calls) { cancelProgressAfter_ = calls; }

  const std::vector<Shown>& messages() const { return messages_; }
  QStringList messageTexts() const;
  const QStringList& prompts() const { return prompts_; }
  const QStringList& progressTexts() const { return progress_; }
  // Whether the last progress window offered a Cancel button.
  bool progressCancelOffered() const { return progressCancelOffered_; }
  bool promptOpen() const { return promptOpen_; }
  int waitCursorDepth() const { return waitDepth_; }

  int MessageBox(const QString& text, const QString& caption, UiIcon icon,
                 UiButtons buttons) override;
  void ShowPrompt(const QString& title, const QString& text) override;
  void SetPromptText(const QString& text) override;
  bool PromptCancelled() override;
  void ClosePrompt() override { promptOpen_ = false; }
  void BeginProgress(const QString& text, int maximum,
                     UiCancel cancel = UiCancel::kOffered) override;
  void SetProgress(int value, const QString& text) override;
  bool ProgressCancelled() override;
  void EndProgress() override {}
  void SetWaitCursor(bool on) override { waitDepth_ += on ? 1 : -1; }

 private:
  std::deque<int> answers_;
  std::vector<Shown> messages_;
  QStringList prompts_;
  QStringList progress_;
  bool promptOpen_ = false;
  int cancelAfter_ = -1;
  int polls_ = 0;
  int cancelProgressAfter_ = -1;
  int progressCalls_ = 0;
  bool progressCancelOffered_ = true;
  int waitDepth_ = 0;
};

}  // namespace fwl::test
