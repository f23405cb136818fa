// The Ui of one load in a batch: nobody sits at it. Boxes become the unit's
// messages, Yes/No questions get Yes (the operator confirmed the whole batch
// before it started), and the power prompts of a serial load run the row's
// power commands; without one the prompt simply waits for the boot monitor.
#pragma once

#include <QString>
#include <functional>

#include "platform/ui.h"

namespace fwl {

class BatchUnitUi final : public SilentUi {
 public:
  struct Settings {
    QString powerOffCommand;
    QString powerOnCommand;
    int commandTimeoutMs = 120000;
    // Called on the load's thread for each box and prompt text; `question`
    // for a box that asks (and got Yes), which is no report of an outcome.
    std::function<void(const QString& text, bool question)> message;
    // Called with the restart countdown texts.
    std::function<void(const QString& text)> progress;
  };
  explicit BatchUnitUi(Settings settings);

  int MessageBox(const QString& text, const QString& caption, UiIcon icon,
                 UiButtons buttons) override;
  void ShowPrompt(const QString& title, const QString& text) override;
  void SetPromptText(const QString& text) override;
  bool PromptCancelled() override;
  void BeginProgress(const QString& text, int maximum,
                     UiCancel cancel = UiCancel::kOffered) override;
  void SetProgress(int value, const QString& text) override;
  bool ProgressCancelled() override;

 private:
  // Runs `command` through /bin/sh; true when it exited with status 0.
  bool RunCommand(const QString& what, const QString& command);

  Settings settings_;
  bool promptCancelled_ = false;
};

}  // namespace fwl
