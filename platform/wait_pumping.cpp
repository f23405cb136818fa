#include "platform/wait_pumping.h"

#include <algorithm>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

namespace fwl {

void WaitPumping(int milliseconds) {
  WaitPumpingUntil([] { return false; }, milliseconds);
}

bool WaitPumpingUntil(const std::function<bool()>& done, int milliseconds, int pollMs) {
  const QDeadlineTimer deadline(std::max(0, milliseconds));
  // The timer only bounds each blocking dispatch; any other event (a socket
  // becoming readable, a queued signal) ends the dispatch early, so done() is
  // seen as soon as something happens.
  QTimer wake;
  wake.setSingleShot(true);
  for (;;) {
    if (done()) return true;
    const qint64 left = deadline.remainingTime();
    if (left <= 0) {
      QCoreApplication::processEvents(QEventLoop::AllEvents);
      return done();
    }
    wake.start(static_cast<int>(std::min<qint64>(left, std::max(1, pollMs))));
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  }
}

}  // namespace fwl
