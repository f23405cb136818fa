#include "wizard/screenshot_tour.h"

#include <QCoreApplication>
#include <QDir>
#include <QPixmap>

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
  return written;
}

}  // namespace fwl
