#include "sim_terminal.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>

namespace fwl::test {

bool SimTerminal::Open(const QString& path) {
  Close();
  fd_ = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd_ < 0) return false;
  termios tio{};
  tcgetattr(fd_, &tio);
  cfmakeraw(&tio);
  tcsetattr(fd_, TCSANOW, &tio);
  seen_.clear();
  return true;
}

void SimTerminal::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool SimTerminal::Send(const QByteArray& bytes) {
  qsizetype done = 0;
  QDeadlineTimer deadline(10000);
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd_, bytes.constData() + done, size_t(bytes.size() - done));
    if (n > 0) {
      done += n;
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
    if (deadline.hasExpired()) return false;
    // The unit reads in small bites; keep draining its output meanwhile so
    // neither side blocks the other.
    ReadSome(1);
  }
  return true;
}

void SimTerminal::ReadSome(int ms) {
  QCoreApplication::processEvents();
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, ms) <= 0) return;
  char buf[4096];
  const ssize_t n = ::read(fd_, buf, sizeof buf);
  if (n > 0) seen_.append(buf, n);
}

bool SimTerminal::WaitFor(const QByteArray& text, int ms) {
  QDeadlineTimer deadline(ms);
  while (!seen_.contains(text)) {
    if (deadline.hasExpired()) return false;
    ReadSome(1);
  }
  return true;
}

QByteArray SimTerminal::ReadFor(int ms) {
  const qsizetype from = seen_.size();
  QDeadlineTimer deadline(ms);
  while (!deadline.hasExpired()) ReadSome(5);
  return seen_.mid(from);
}

QByteArray SimTerminal::Command(const QByteArray& line, int ms) {
  Take();
  if (!Send(line + "\r")) return {};
  QDeadlineTimer deadline(ms);
  // The reply ends with a prompt that is not the first thing after the echo.
  for (;;) {
    const qsizetype echoEnd = seen_.indexOf("\r\n");
    if (echoEnd >= 0 && seen_.indexOf("=> ", echoEnd) >= 0 && seen_.endsWith("=> ")) break;
    if (deadline.hasExpired()) return {};
    ReadSome(1);
  }
  return Take();
}

QByteArray SimTerminal::Take() {
  QByteArray out;
  out.swap(seen_);
  return out;
}

}  // namespace fwl::test
