// Common ground of the wizard's pages: each knows its dialog id (which also
// names its help topic), its window title and header texts, and learns when
// it becomes the active page. Pages reach each other through the sheet.
#pragma once

#include <QString>
#include <QWizardPage>

class QLabel;

namespace fwl {

class CFWLoadPSheet;

// Button mask bits of SetWizardButtons.
inline constexpr int kWizardBack = 1;
inline constexpr int kWizardNext = 2;
inline constexpr int kWizardFinish = 4;

// Object name of a page control: "ctl" followed by its dialog control id.
QString ControlName(int id);
// `text` without its mnemonic marks ("&&" stays one "&").
QString WithoutMnemonic(const QString& text);
// A label for `buddy` (its "&" letter moves the focus there); the buddy gets
// the label's text, without the mark, as its accessible name. `id` > 0 also names the label.
QLabel* BuddyLabel(const QString& text, QWidget* buddy, QWidget* parent, int id = 0);
// A bold section heading such as "Product selection:".
QLabel* HeadingLabel(const QString& text, QWidget* parent, int id = 0);

class CFWLoadPage : public QWizardPage {
  Q_OBJECT

 public:
  // `dialogTitle` is shown in the window's title bar while the page is
  // active; `headerTitle` and `headerSubtitle` in the header band.
  CFWLoadPage(int dialogId, const QString& dialogTitle, const QString& headerTitle,
              const QString& headerSubtitle, QWidget* parent = nullptr);

  int dialogId() const { return dialogId_; }
  const QString& dialogTitle() const { return dialogTitle_; }

  // The sheet this page belongs to, or nullptr before it is added.
  CFWLoadPSheet* sheet() const;

  // Runs once, the first time the page becomes active.
  virtual void OnInitDialog() {}
  // Runs every time the page becomes active (after OnInitDialog the first
  // time); pages set the wizard buttons here.
  virtual void OnSetActive() {}
  // Runs when the operator presses Finish on this page; false keeps the
  // wizard open.
  virtual bool OnWizardFinish() { return true; }

  // Called by the sheet on activation; not for pages to override.
  void Activate();

 private:
  int dialogId_;
  QString dialogTitle_;
  bool initialised_ = false;
};

}  // namespace fwl
