#include "platform/ui.h"

#include <atomic>
#include <cstdio>

namespace fwl {
namespace {

// Used when no front end installed its own: never blocks, answers the
// affirmative button, keeps the operator's texts visible on stderr.
class QuietUi final : public Ui {
 public:
  int MessageBox(const QString& text, const QString& caption, UiIcon, UiButtons buttons) override {
    std::fprintf(stderr, "%s%s%s\n", qPrintable(caption), caption.isEmpty() ? "" : ": ",
                 qPrintable(text));
    return (buttons == UiButtons::kYesNo || buttons == UiButtons::kYesNoCancel) ? kAnswerYes
                                                                                 : kAnswerOk;
  }
  void ShowPrompt(const QString&, const QString& text) override {
    std::fprintf(stderr, "%s\n", qPrintable(text));
  }
  void SetPromptText(const QString& text) override {
    std::fprintf(stderr, "%s\n", qPrintable(text));
  }
  bool PromptCancelled() override { return false; }
  void ClosePrompt() override {}
  void BeginProgress(const QString&, int) override {}
  void SetProgress(int, const QString&) override {}
  bool ProgressCancelled() override { return false; }
  void EndProgress() override {}
  void SetWaitCursor(bool) override {}
};

QuietUi g_quiet;
std::atomic<Ui*> g_current{nullptr};

}  // namespace

Ui& Ui::Current() {
  Ui* ui = g_current.load();
  return ui ? *ui : g_quiet;
}

Ui* Ui::Install(Ui* ui) { return g_current.exchange(ui); }

int ShowMessage(const QString& text, const QString& caption, UiIcon icon) {
  return Ui::Current().MessageBox(text, caption, icon, UiButtons::kOk);
}

}  // namespace fwl
