#include "tftp/tftp_datagram_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>

namespace fwl {

unsigned long TftpErrnoCode(int error) {
  switch (error) {
    case EADDRINUSE:
      return 10048;  // WSAEADDRINUSE
    case EACCES:
    case EPERM:
      return 10013;  // WSAEACCES
    case EADDRNOTAVAIL:
      return 10049;  // WSAEADDRNOTAVAIL
    case ENOBUFS:
    case ENOMEM:
      return 10055;  // WSAENOBUFS
    case EMSGSIZE:
      return 10040;  // WSAEMSGSIZE
    case ENETDOWN:
      return 10050;  // WSAENETDOWN
    case ENETUNREACH:
      return 10051;  // WSAENETUNREACH
    case EHOSTUNREACH:
      return 10065;  // WSAEHOSTUNREACH
    case ECONNREFUSED:
      return 10061;  // WSAECONNREFUSED
    case EMFILE:
    case ENFILE:
      return 10024;  // WSAEMFILE
    default:
      return 10022;  // WSAEINVAL
  }
}

TftpDatagramSocket::TftpDatagramSocket(QObject* parent) : QObject(parent) {}

TftpDatagramSocket::~TftpDatagramSocket() { Close(); }

bool TftpDatagramSocket::Bind(const QHostAddress& address, quint16 port) {
  Close();
  bool isIpv4 = false;
  const quint32 ip = address.toIPv4Address(&isIpv4);
  if (!isIpv4) {
    error_ = TftpErrnoCode(EADDRNOTAVAIL);
    return false;
  }
  fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd_ < 0) {
    error_ = TftpErrnoCode(errno);
    return false;
  }
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  local.sin_addr.s_addr = htonl(ip);
  if (::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    error_ = TftpErrnoCode(errno);
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &TftpDatagramSocket::readyRead);
  return true;
}

quint16 TftpDatagramSocket::LocalPort() const {
  if (fd_ < 0) return 0;
  sockaddr_in local{};
  socklen_t length = sizeof local;
  if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length) != 0) return 0;
  return ntohs(local.sin_port);
}

void TftpDatagramSocket::Close() {
  if (notifier_) {
    // Close() may run inside this notifier's own signal.
    notifier_->setEnabled(false);
    notifier_->deleteLater();
    notifier_ = nullptr;
  }
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

qint64 TftpDatagramSocket::SendTo(const char* data, qint64 size, const QHostAddress& address,
                                  quint16 port) {
  if (fd_ < 0) {
    error_ = TftpErrnoCode(EBADF);
    return -1;
  }
  if (port != toPort_ || address != toAddress_) {
    bool isIpv4 = false;
    const quint32 ip = address.toIPv4Address(&isIpv4);
    if (!isIpv4) {
      error_ = TftpErrnoCode(EADDRNOTAVAIL);
      return -1;
    }
    to_ = sockaddr_in{};
    to_.sin_family = AF_INET;
    to_.sin_port = htons(port);
    to_.sin_addr.s_addr = htonl(ip);
    toAddress_ = address;
    toPort_ = port;
  }
  for (;;) {
    const ssize_t sent = ::sendto(fd_, data, static_cast<size_t>(size), 0,
                                  reinterpret_cast<const sockaddr*>(&to_), sizeof to_);
    if (sent >= 0) return sent;
    if (errno == EINTR) continue;
    error_ = TftpErrnoCode(errno);
    return -1;
  }
}

qint64 TftpDatagramSocket::ReceiveFrom(char* buffer, qint64 size, quint32* address, quint16* port) {
  if (fd_ < 0) return -2;
  for (;;) {
    sockaddr_in from{};
    socklen_t length = sizeof from;
    const ssize_t got = ::recvfrom(fd_, buffer, static_cast<size_t>(size), 0,
                                   reinterpret_cast<sockaddr*>(&from), &length);
    if (got >= 0) {
      *address = ntohl(from.sin_addr.s_addr);
      *port = ntohs(from.sin_port);
      return got;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return -2;
    error_ = TftpErrnoCode(errno);
    return -1;
  }
}

}  // namespace fwl
