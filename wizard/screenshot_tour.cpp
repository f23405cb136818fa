#include "wizard/screenshot_tour.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTextBrowser>

#include "platform/wait_pumping.h"
#include "wizard/fwload_psheet.h"

namespace fwl {

int TakeScreenshotTour(CFWLoadPSheet& sheet, const QString& folder) {
  QDir().mkpath(folder);
  sheet.show();
  int written = 0;
  for (int page = 1; page <= 6; ++page) {
    WaitPumping(300);  // let the window system map and paint the page
    const QPixmap shot = sheet.grab();
    if (shot.save(QDir(folder).filePath(QStringLiteral("page%1.png").arg(page)))) ++written;
    if (page < 6) sheet.next();
  }
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
