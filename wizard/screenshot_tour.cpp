#include "wizard/screenshot_tour.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTextBrowser>
#include <QTimer>
#include <cstdio>

#include "platform/wait_pumping.h"
#include "wizard/fwload_page5.h"
#include "wizard/fwload_psheet.h"
#include "wizard/step_status_list.h"

namespace fwl {
namespace {

// The sheet as it looks on the screen (with boxes over it) where the
// platform can grab the screen; the sheet alone elsewhere.
QPixmap Picture(CFWLoadPSheet& sheet) {
  QPixmap picture;
  if (QGuiApplication::platformName() == QLatin1String("xcb")) {
    if (QScreen* screen = sheet.screen()) {
      const QRect frame = sheet.frameGeometry();
      picture = screen->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    }
  }
  if (picture.isNull()) picture = sheet.grab();
  return picture;
}

}  // namespace

int TakeScreenshotTour(CFWLoadPSheet& sheet, const QString& folder, bool runLoad) {
  QDir().mkpath(folder);
  int written = 0;
  auto shoot = [&](const QString& name) {
    WaitPumping(300);  // let the window system map and paint
    if (Picture(sheet).save(QDir(folder).filePath(name + QStringLiteral(".png")))) ++written;
  };

  // The operator's hands: every box is read, then answered with its default
  // button; the load's progress is photographed once the plan is under way.
  bool duringTaken = false;
  bool loading = false;
  QTimer hands;
  QObject::connect(&hands, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box && box->isVisible()) {
      hands.stop();
      std::fprintf(stderr, "box: %s\n", qPrintable(box->text()));
      if (loading && (box->text().startsWith(QLatin1String("Load completed")) ||
                      box->text().startsWith(QLatin1String("Error(s)"))))
        shoot(QStringLiteral("page5-after"));
      if (QAbstractButton* b = box->defaultButton()) {
        b->click();
      } else {
        box->done(0);
      }
      hands.start();
      return;
    }
    StepStatusList* list = sheet.page5()->statusList();
    if (loading && !duringTaken && list->rowCount() > 3 && list->currentRow() >= 3) {
      duringTaken = true;
      hands.stop();
      shoot(QStringLiteral("page5-during"));
      hands.start();
    }
  });
  hands.start(100);

  sheet.show();
  for (int page = 1; page <= 6; ++page) {
    if (sheet.currentId() != page - 1) break;  // a page refused Next
    shoot(QStringLiteral("page%1").arg(page));
    if (page == 5 && runLoad) {
      loading = true;
      sheet.page5()->loadNowButton()->click();
      loading = false;
      // A controller load moves on by itself.
      if (WaitPumpingUntil([&] { return sheet.currentId() != CFWLoadPSheet::kPage5; }, 1000))
        continue;
    }
    if (page < 6) sheet.next();
  }
  hands.stop();

  // The help window on the last page's topic.
  sheet.ShowPageHelp();
  WaitPumping(300);
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w != &sheet && w->isVisible() && w->findChild<QTextBrowser*>()) {
      if (w->grab().save(QDir(folder).filePath(QStringLiteral("help.png")))) ++written;
      w->close();
      break;
    }
  }
  return written;
}

}  // namespace fwl
