#include "wizard/qt_ui.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>
#include <functional>
#include <type_traits>

#include "app/settings.h"

namespace fwl {
namespace {

QMessageBox::Icon BoxIcon(UiIcon icon) {
  switch (icon) {
    case UiIcon::kInformation:
      return QMessageBox::Information;
    case UiIcon::kWarning:
      return QMessageBox::Warning;
    case UiIcon::kError:
      return QMessageBox::Critical;
    case UiIcon::kQuestion:
      return QMessageBox::Question;
    case UiIcon::kNone:
      break;
  }
  return QMessageBox::NoIcon;
}

struct BoxButton {
  QMessageBox::StandardButton button;
  int answer;
};

QList<BoxButton> BoxButtons(UiButtons buttons) {
  switch (buttons) {
    case UiButtons::kOk:
      return {{QMessageBox::Ok, kAnswerOk}};
    case UiButtons::kOkCancel:
      return {{QMessageBox::Ok, kAnswerOk}, {QMessageBox::Cancel, kAnswerCancel}};
    case UiButtons::kYesNo:
      return {{QMessageBox::Yes, kAnswerYes}, {QMessageBox::No, kAnswerNo}};
    case UiButtons::kYesNoCancel:
      return {{QMessageBox::Yes, kAnswerYes},
              {QMessageBox::No, kAnswerNo},
              {QMessageBox::Cancel, kAnswerCancel}};
    case UiButtons::kRetryCancel:
      return {{QMessageBox::Retry, kAnswerRetry}, {QMessageBox::Cancel, kAnswerCancel}};
  }
  return {{QMessageBox::Ok, kAnswerOk}};
}

// The prompt window: its close button counts as Cancel.
class PromptWindow : public QDialog {
 public:
  using QDialog::QDialog;
  std::function<void()> onCancel;

 protected:
  void reject() override {
    if (onCancel) onCancel();
  }
};

// The progress window. Without a cancel on offer it has no Cancel button,
// no close button in its title bar, and Escape does not take it away: the
// work it shows goes on regardless, so nothing may pretend to stop it.
class ProgressWindow : public QProgressDialog {
 public:
  ProgressWindow(const QString& text, bool cancellable, int maximum, QWidget* owner)
      : QProgressDialog(text, cancellable ? QStringLiteral("Cancel") : QString(), 0, maximum,
                        owner),
        cancellable_(cancellable) {
    if (!cancellable) {
      setWindowFlags((windowFlags() | Qt::CustomizeWindowHint | Qt::WindowTitleHint) &
                     ~Qt::WindowCloseButtonHint);
    }
  }

 protected:
  void reject() override {
    if (cancellable_) QProgressDialog::reject();
  }
  void closeEvent(QCloseEvent* event) override {
    if (cancellable_) {
      QProgressDialog::closeEvent(event);
    } else {
      event->ignore();
    }
  }

 private:
  bool cancellable_;
};

// Widgets live on the GUI thread only. A call from another thread (a server
// or worker thread reporting a problem) is carried over and waited for.
bool OnGuiThread() {
  QCoreApplication* app = QCoreApplication::instance();
  return !app || QThread::currentThread() == app->thread();
}

template <typename F>
auto CallOnGuiThread(F&& f) -> decltype(f()) {
  using Result = decltype(f());
  if constexpr (std::is_void_v<Result>) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::forward<F>(f),
                              Qt::BlockingQueuedConnection);
  } else {
    Result result{};
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [&] { result = f(); }, Qt::BlockingQueuedConnection);
    return result;
  }
}

}  // namespace

QtUi::QtUi() = default;

QtUi::~QtUi() {
  ClosePrompt();
  EndProgress();
  while (waitDepth_ > 0) SetWaitCursor(false);
}

QWidget* QtUi::Owner() const {
  if (owner_) return owner_;
  return QApplication::activeWindow();
}

int QtUi::MessageBox(const QString& text, const QString& caption, UiIcon icon, UiButtons buttons) {
  if (!OnGuiThread())
    return CallOnGuiThread([&] { return MessageBox(text, caption, icon, buttons); });
  // A box without a caption of its own carries the program's title.
  const QString title = caption.isEmpty() ? OemString(kAppNameEntry) : caption;
  QMessageBox box(BoxIcon(icon), title, text, QMessageBox::NoButton, Owner());
  const QList<BoxButton> choices = BoxButtons(buttons);
  QList<QAbstractButton*> added;
  for (const BoxButton& choice : choices) added << box.addButton(choice.button);
  box.setDefaultButton(qobject_cast<QPushButton*>(added.first()));
  // Escape and the title bar's close give Cancel: through the Cancel button
  // when there is one, else through a hidden stand-in.
  QAbstractButton* escape = nullptr;
  for (int i = 0; i < choices.size(); ++i)
    if (choices[i].answer == kAnswerCancel) escape = added[i];
  if (!escape) {
    escape = box.addButton(QMessageBox::Abort);
    escape->hide();
  }
  box.setEscapeButton(escape);
  box.exec();
  QAbstractButton* clicked = box.clickedButton();
  for (int i = 0; i < choices.size(); ++i)
    if (clicked == added[i]) return choices[i].answer;
  return kAnswerCancel;
}

void QtUi::ShowPrompt(const QString& title, const QString& text) {
  if (!OnGuiThread()) return CallOnGuiThread([&] { ShowPrompt(title, text); });
  if (!prompt_) {
    auto* window = new PromptWindow(Owner());
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setModal(false);
    window->onCancel = [this] { promptCancelled_ = true; };
    promptText_ = new QLabel(window);
    promptText_->setObjectName(QStringLiteral("promptText"));
    promptText_->setWordWrap(true);
    promptText_->setMinimumWidth(300);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, window);
    QObject::connect(buttons, &QDialogButtonBox::rejected, window,
                     [this] { promptCancelled_ = true; });
    auto* layout = new QVBoxLayout(window);
    layout->addWidget(promptText_);
    layout->addWidget(buttons);
    prompt_ = window;
    promptCancelled_ = false;
  }
  prompt_->setWindowTitle(title);
  promptText_->setText(text);
  prompt_->show();
  prompt_->raise();
}

void QtUi::SetPromptText(const QString& text) {
  if (!OnGuiThread()) return CallOnGuiThread([&] { SetPromptText(text); });
  if (prompt_) promptText_->setText(text);
}

bool QtUi::PromptCancelled() {
  if (!OnGuiThread()) return CallOnGuiThread([&] { return PromptCancelled(); });
  return prompt_ && promptCancelled_;
}

void QtUi::ClosePrompt() {
  if (!OnGuiThread()) return CallOnGuiThread([&] { ClosePrompt(); });
  if (!prompt_) return;
  QDialog* window = prompt_;
  prompt_ = nullptr;
  promptText_ = nullptr;
  static_cast<PromptWindow*>(window)->onCancel = nullptr;
  window->hide();
  window->deleteLater();
}

void QtUi::BeginProgress(const QString& text, int maximum, UiCancel cancel) {
  if (!OnGuiThread()) return CallOnGuiThread([&] { BeginProgress(text, maximum, cancel); });
  EndProgress();
  const bool offered = cancel == UiCancel::kOffered;
  progress_ = new ProgressWindow(text, offered, qMax(0, maximum), Owner());
  progress_->setWindowModality(Qt::ApplicationModal);
  progress_->setMinimumDuration(0);
  progress_->setAutoClose(false);
  progress_->setAutoReset(false);
  progress_->setValue(0);
  progress_->show();
}

void QtUi::SetProgress(int value, const QString& text) {
  if (!OnGuiThread()) return CallOnGuiThread([&] { SetProgress(value, text); });
  if (!progress_) return;
  if (!text.isEmpty()) progress_->setLabelText(text);
  progress_->setValue(qBound(0, value, progress_->maximum()));
}

bool QtUi::ProgressCancelled() {
  if (!OnGuiThread()) return CallOnGuiThread([&] { return ProgressCancelled(); });
  return progress_ && progress_->wasCanceled();
}

void QtUi::EndProgress() {
  if (!OnGuiThread()) return CallOnGuiThread([&] { EndProgress(); });
  if (!progress_) return;
  QProgressDialog* dialog = progress_;
  progress_ = nullptr;
  dialog->hide();
  dialog->deleteLater();
}

void QtUi::SetWaitCursor(bool on) {
  if (!OnGuiThread()) return CallOnGuiThread([&] { SetWaitCursor(on); });
  if (on) {
    ++waitDepth_;
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else if (waitDepth_ > 0) {
    --waitDepth_;
    QApplication::restoreOverrideCursor();
  }
}

}  // namespace fwl
