#include "sim/pty_port.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace fwl {

PtyPort::~PtyPort() { Close(); }

bool PtyPort::Open() {
  Close();
  int fd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  if (grantpt(fd) != 0 || unlockpt(fd) != 0) {
    ::close(fd);
    return false;
  }
  char name[128] = {};
  if (ptsname_r(fd, name, sizeof name) != 0) {
    ::close(fd);
    return false;
  }
  // The line discipline must neither echo nor translate: the boot monitor
  // echoes for itself and its line ends are CR LF on the wire.
  termios tio{};
  if (tcgetattr(fd, &tio) == 0) {
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
  }
  master_ = fd;
  slavePath_ = QString::fromLocal8Bit(name);
  // A slave that has never been opened does not report a hang-up; opening and
  // closing it once makes "nobody connected" visible from the start.
  int slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (slave >= 0) ::close(slave);
  return true;
}

void PtyPort::Close() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
  slavePath_.clear();
}

bool PtyPort::PeerConnected() const {
  if (master_ < 0) return false;
  pollfd p{master_, POLLIN, 0};
  if (::poll(&p, 1, 0) < 0) return false;
  return (p.revents & POLLHUP) == 0;
}

QByteArray PtyPort::ReadAvailable() {
  // Bytes the peer wrote just before closing the port are still read: they
  // were on the wire, so the unit gets them.
  QByteArray result;
  if (master_ < 0) return result;
  char buf[4096];
  for (;;) {
    ssize_t n = ::read(master_, buf, sizeof buf);
    if (n > 0) {
      result.append(buf, n);
      if (result.size() >= 65536) break;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    break;
  }
  return result;
}

void PtyPort::Write(const QByteArray& data) {
  qsizetype done = 0;
  int stalls = 0;
  while (done < data.size() && PeerConnected()) {
    ssize_t n = ::write(master_, data.constData() + done, size_t(data.size() - done));
    if (n > 0) {
      done += n;
      stalls = 0;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) break;
    // The peer is not reading; a real UART would drop characters after a
    // while too, so give up rather than block the unit forever.
    if (++stalls > 2000) break;
    pollfd p{master_, POLLOUT, 0};
    ::poll(&p, 1, 1);
  }
}

void PtyPort::DiscardUnread() {
  if (slavePath_.isEmpty()) return;
  int slave = ::open(slavePath_.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (slave < 0) return;
  tcflush(slave, TCIFLUSH);
  ::close(slave);
}

}  // namespace fwl
