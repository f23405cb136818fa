// The Ui of the wizard: Qt message boxes, a modeless prompt window with a
// Cancel button, a progress dialog and the override cursor. Everything runs
// on the GUI thread; the load code keeps the event loop running while it
// waits, which keeps the prompt and progress windows live. A call from another
// thread is carried over to the GUI thread and waited for (so the GUI thread
// must not be blocked waiting for that thread meanwhile).
#pragma once

#include <QPointer>

#include "platform/ui.h"

class QDialog;
class QLabel;
class QProgressDialog;
class QWidget;

namespace fwl {

class QtUi final : public Ui {
 public:
  QtUi();
  ~QtUi() override;

  // Windows of this Ui are centred on `owner` (the sheet); without one they
  // follow the active window.
  void SetOwner(QWidget* owner) { owner_ = owner; }

  // Closing a box by its title bar or Escape answers Cancel, also for a box
  // with only an OK button. A box without a caption shows the program's
  // title ("FirmwareLoader").
  int MessageBox(const QString& text, const QString& caption, UiIcon icon,
                 UiButtons buttons) override;
  // The prompt window counts as cancelled when its Cancel button is pressed
  // or the window is closed.
  void ShowPrompt(const QString& title, const QString& text) override;
  void SetPromptText(const QString& text) override;
  bool PromptCancelled() override;
  void ClosePrompt() override;
  // Without a cancel offered the window has no Cancel button and ignores
  // Escape and its close button.
  void BeginProgress(const QString& text, int maximum,
                     UiCancel cancel = UiCancel::kOffered) override;
  void SetProgress(int value, const QString& text) override;
  bool ProgressCancelled() override;
  void EndProgress() override;
  void SetWaitCursor(bool on) override;

  // The open prompt window (tests and screenshots), or nullptr.
  QDialog* promptWindow() const { return prompt_; }

 private:
  QWidget* Owner() const;

  QPointer<QWidget> owner_;
  QPointer<QDialog> prompt_;
  QLabel* promptText_ = nullptr;
  bool promptCancelled_ = false;
  QPointer<QProgressDialog> progress_;
  int waitDepth_ = 0;
};

}  // namespace fwl
