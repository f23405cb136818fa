#include "platform/ui.h"

#include <atomic>
#include <cstdio>

namespace fwl {
namespace {

// Used when no front end installed its own: never blocks, answers the
// affirmative button, keeps the operator's texts visible on stderr.
class QuietUi final : public SilentUi {
 public:
  int MessageBox(const QString& text, const QString& caption, UiIcon icon,
                 UiButtons buttons) override {
    std::fprintf(stderr, "%s%s%s\n", qPrintable(caption), caption.isEmpty() ? "" : ": ",
                 qPrintable(text));
    return SilentUi::MessageBox(text, caption, icon, buttons);
  }
  void ShowPrompt(const QString&, const QString& text) override {
    std::fprintf(stderr, "%s\n", qPrintable(text));
  }
  void SetPromptText(const QString& text) override {
    std::fprintf(stderr, "%s\n", qPrintable(text));
  }
};

QuietUi g_quiet;
std::atomic<Ui*> g_current{nullptr};
thread_local Ui* t_current = nullptr;

}  // namespace

int SilentUi::MessageBox(const QString&, const QString&, UiIcon, UiButtons buttons) {
  return (buttons == UiButtons::kYesNo || buttons == UiButtons::kYesNoCancel) ? kAnswerYes
                                                                               : kAnswerOk;
}

Ui& Ui::Current() {
  if (t_current) return *t_current;
  Ui* ui = g_current.load();
  return ui ? *ui : g_quiet;
}

Ui* Ui::Install(Ui* ui) {
  if (t_current) {
    Ui* previous = t_current;
    t_current = ui;
    return previous;
  }
  return g_current.exchange(ui);
}

Ui* Ui::InstallForThread(Ui* ui) {
  Ui* previous = t_current;
  t_current = ui;
  return previous;
}

int ShowMessage(const QString& text, const QString& caption, UiIcon icon) {
  return Ui::Current().MessageBox(text, caption, icon, UiButtons::kOk);
}

}  // namespace fwl
