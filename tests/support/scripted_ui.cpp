#include "support/scripted_ui.h"

namespace fwl::test {

QStringList ScriptedUi::messageTexts() const {
  QStringList out;
  for (const Shown& m : messages_) out << m.text;
  return out;
}

int ScriptedUi::MessageBox(const QString& text, const QString& caption, UiIcon icon,
                           UiButtons buttons) {
  messages_.push_back({text, caption, icon, buttons});
  if (!answers_.empty()) {
    const int a = answers_.front();
    answers_.pop_front();
    return a;
  }
  return (buttons == UiButtons::kYesNo || buttons == UiButtons::kYesNoCancel) ? kAnswerYes
                                                                              : kAnswerOk;
}

void ScriptedUi::ShowPrompt(const QString& title, const QString& text) {
  promptOpen_ = true;
  polls_ = 0;
  prompts_ << title + QStringLiteral(": ") + text;
  if (onPrompt) onPrompt(title, text);
}

void ScriptedUi::SetPromptText(const QString& text) {
  prompts_ << text;
  if (onPrompt) onPrompt(QString(), text);
}

bool ScriptedUi::PromptCancelled() {
  if (cancelAfter_ < 0) return false;
  return polls_++ >= cancelAfter_;
}

void ScriptedUi::BeginProgress(const QString& text, int, UiCancel cancel) {
  progressCalls_ = 0;
  progressCancelOffered_ = cancel == UiCancel::kOffered;
  progress_ << text;
}

void ScriptedUi::SetProgress(int, const QString& text) {
  ++progressCalls_;
  if (!text.isEmpty()) progress_ << text;
}

bool ScriptedUi::ProgressCancelled() {
  return progressCancelOffered_ && cancelProgressAfter_ >= 0 &&
         progressCalls_ >= cancelProgressAfter_;
}

}  // namespace fwl::test
