// The wizard's Ui with real Qt dialogs (offscreen): answers of message boxes
// including the ways of closing them, the modeless prompt's Cancel, the
// progress dialog and the wait cursor.
#include "wizard/qt_ui.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <functional>
#include <thread>

#include "platform/wait_pumping.h"

namespace fwl {
namespace {

// Acts on the modal box once it is up (the box's exec() blocks the caller).
void WhenBoxShows(std::function<void(QMessageBox*)> act) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer, act] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      timer->stop();
      timer->deleteLater();
      act(box);
    }
  });
  timer->start(10);
}

void ClickButtonWithText(QMessageBox* box, const QString& text) {
  for (QAbstractButton* b : box->buttons())
    if (b->isVisible() && b->text().remove('&') == text) return b->click();
  ADD_FAILURE() << "no button " << qPrintable(text);
  box->done(0);
}

TEST(QtUi, MessageBoxAnswersFollowTheButtonPressed) {
  QtUi ui;
  struct Case {
    UiButtons buttons;
    const char* press;
    int answer;
  };
  const Case cases[] = {
      {UiButtons::kOk, "OK", kAnswerOk},          {UiButtons::kOkCancel, "Cancel", kAnswerCancel},
      {UiButtons::kYesNo, "Yes", kAnswerYes},     {UiButtons::kYesNo, "No", kAnswerNo},
      {UiButtons::kYesNoCancel, "No", kAnswerNo}, {UiButtons::kRetryCancel, "Retry", kAnswerRetry},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.press);
    QString seenText, seenTitle;
    WhenBoxShows([&](QMessageBox* box) {
      seenText = box->text();
      seenTitle = box->windowTitle();
      ClickButtonWithText(box, c.press);
    });
    EXPECT_EQ(ui.MessageBox("Unable to establish communications.", "FirmwareLoader", UiIcon::kError,
                            c.buttons),
              c.answer);
    EXPECT_EQ(seenText, "Unable to establish communications.");
    EXPECT_EQ(seenTitle, "FirmwareLoader");
  }
}

TEST(QtUi, ClosingABoxAnswersCancelEvenWithOnlyOk) {
  QtUi ui;
  for (UiButtons buttons : {UiButtons::kOk, UiButtons::kYesNo, UiButtons::kOkCancel}) {
    WhenBoxShows([](QMessageBox* box) {
      QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
      QApplication::sendEvent(box, &escape);
      if (box->isVisible()) box->close();
    });
    const int answer = ui.MessageBox("Please turn power to the unit OFF now, then click OK",
                                     "Turn Power OFF", UiIcon::kNone, buttons);
    // A Yes/No box without Cancel cannot be escaped; closing it is Cancel too.
    EXPECT_EQ(answer, kAnswerCancel) << int(buttons);
  }
}

TEST(QtUi, PromptIsModelessAndReportsCancel) {
  QtUi ui;
  EXPECT_FALSE(ui.PromptCancelled());
  ui.ShowPrompt("Cycle Power", "Please turn the power ON now...");
  QDialog* window = ui.promptWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->isVisible());
  EXPECT_FALSE(window->isModal());
  EXPECT_EQ(window->findChild<QLabel*>("promptText")->text(), "Please turn the power ON now...");

  // Retitling keeps the same window and its state.
  ui.ShowPrompt("Turn Power ON", "Turn the power ON to begin loading firmware now.");
  EXPECT_EQ(ui.promptWindow(), window);
  EXPECT_EQ(window->windowTitle(), "Turn Power ON");
  ui.SetPromptText("still waiting");
  EXPECT_EQ(window->findChild<QLabel*>("promptText")->text(), "still waiting");
  EXPECT_FALSE(ui.PromptCancelled());

  window->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
  EXPECT_TRUE(ui.PromptCancelled());
  EXPECT_TRUE(window->isVisible());  // the caller closes it
  ui.ClosePrompt();
  EXPECT_EQ(ui.promptWindow(), nullptr);
  EXPECT_FALSE(ui.PromptCancelled());
  WaitPumping(10);

  // A new prompt starts uncancelled; closing its window cancels it.
  ui.ShowPrompt("Cycle Power", "again");
  EXPECT_FALSE(ui.PromptCancelled());
  ui.promptWindow()->close();
  EXPECT_TRUE(ui.PromptCancelled());
  ui.ClosePrompt();
  ui.ClosePrompt();  // closing twice is harmless
}

TEST(QtUi, ProgressAndWaitCursor) {
  QtUi ui;
  ui.BeginProgress("Reading firmware directory...", 10);
  auto* dialog = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
  ASSERT_NE(dialog, nullptr);
  ui.SetProgress(4, "kvimage_razeb_1_2.tgz");
  EXPECT_EQ(dialog->value(), 4);
  EXPECT_EQ(dialog->labelText(), "kvimage_razeb_1_2.tgz");
  ui.SetProgress(99, QString());  // beyond the maximum is held at it
  EXPECT_EQ(dialog->value(), 10);
  EXPECT_FALSE(ui.ProgressCancelled());
  dialog->cancel();
  EXPECT_TRUE(ui.ProgressCancelled());
  ui.EndProgress();
  EXPECT_FALSE(ui.ProgressCancelled());
  ui.SetProgress(1, "after the end");  // ignored, no crash

  ui.SetWaitCursor(true);
  ui.SetWaitCursor(true);
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  ui.SetWaitCursor(false);
  EXPECT_NE(QApplication::overrideCursor(), nullptr);
  ui.SetWaitCursor(false);
  ui.SetWaitCursor(false);  // unbalanced off does not pop others' cursors
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(QtUi, AWindowThatCannotBeCancelledOffersNoWayToCancel) {
  QtUi ui;
  ui.BeginProgress("Resetting the station...", 3, UiCancel::kNotOffered);
  auto* dialog = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
  ASSERT_NE(dialog, nullptr);
  ui.SetProgress(1, "Resetting hardware... (2 sec)");
  EXPECT_EQ(dialog->labelText(), "Resetting hardware... (2 sec)");
  for (QAbstractButton* b : dialog->findChildren<QAbstractButton*>())
    EXPECT_FALSE(b->isVisible()) << qPrintable(b->text());
  EXPECT_FALSE(dialog->windowFlags() & Qt::WindowCloseButtonHint);
  // Neither Escape nor closing the window takes it away or cancels.
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(dialog, &escape);
  dialog->close();
  WaitPumping(10);
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_FALSE(ui.ProgressCancelled());
  ui.EndProgress();
}

TEST(QtUi, CallsFromAnotherThreadRunOnTheGuiThread) {
  QtUi ui;
  WhenBoxShows([](QMessageBox* box) {
    EXPECT_EQ(box->thread(), QApplication::instance()->thread());
    ClickButtonWithText(box, "No");
  });
  std::atomic<int> answer{0};
  std::atomic<bool> cancelled{true};
  std::atomic<bool> finished{false};
  std::thread worker([&] {
    answer = ui.MessageBox("File not found.", "TFTP", UiIcon::kWarning, UiButtons::kYesNo);
    ui.ShowPrompt("Cycle Power", "from a worker");
    cancelled = ui.PromptCancelled();
    ui.ClosePrompt();
    finished = true;
  });
  // The worker waits for this thread's event loop, so keep it running until
  // the worker is through.
  const bool through = WaitPumpingUntil([&] { return finished.load(); }, 5000);
  worker.join();
  ASSERT_TRUE(through);
  EXPECT_FALSE(cancelled);
  EXPECT_EQ(answer, kAnswerNo);
  EXPECT_EQ(ui.promptWindow(), nullptr);
}

}  // namespace
}  // namespace fwl
