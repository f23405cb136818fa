#include "tftp/tftp_datagram_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <ctime>

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

bool TftpDatagramSocket::SetDestination(const QHostAddress& address, quint16 port) {
  if (port == toPort_ && address == toAddress_) return true;
  bool isIpv4 = false;
  const quint32 ip = address.toIPv4Address(&isIpv4);
  if (!isIpv4) {
    error_ = TftpErrnoCode(EADDRNOTAVAIL);
    return false;
  }
  to_ = sockaddr_in{};
  to_.sin_family = AF_INET;
  to_.sin_port = htons(port);
  to_.sin_addr.s_addr = htonl(ip);
  toAddress_ = address;
  toPort_ = port;
  return true;
}

qint64 TftpDatagramSocket::SendTo(const char* data, qint64 size, const QHostAddress& address,
                                  quint16 port) {
  if (fd_ < 0) {
    error_ = TftpErrnoCode(EBADF);
    return -1;
  }
  if (!SetDestination(address, port)) return -1;
  for (;;) {
    const ssize_t sent = ::sendto(fd_, data, static_cast<size_t>(size), 0,
                                  reinterpret_cast<const sockaddr*>(&to_), sizeof to_);
    if (sent >= 0) return sent;
    if (errno == EINTR) continue;
    error_ = TftpErrnoCode(errno);
    return -1;
  }
}

int TftpDatagramSocket::SendBatch(const char* headers, int headerSize, const char* const* payloads,
                                  const qint64* payloadSizes, int count,
                                  const QHostAddress& address, quint16 port) {
  if (fd_ < 0) {
    error_ = TftpErrnoCode(EBADF);
    return 0;
  }
  if (!SetDestination(address, port)) return 0;
  constexpr int kMaxBatch = 64;
  int done = 0;
  while (done < count) {
    const int n = std::min(count - done, kMaxBatch);
    iovec parts[kMaxBatch][2];
    mmsghdr messages[kMaxBatch];
    for (int i = 0; i < n; ++i) {
      const int k = done + i;
      parts[i][0].iov_base = const_cast<char*>(headers + static_cast<qint64>(k) * headerSize);
      parts[i][0].iov_len = static_cast<size_t>(headerSize);
      parts[i][1].iov_base = const_cast<char*>(payloads[k]);
      parts[i][1].iov_len = static_cast<size_t>(payloadSizes[k]);
      messages[i] = mmsghdr{};
      messages[i].msg_hdr.msg_name = &to_;
      messages[i].msg_hdr.msg_namelen = sizeof to_;
      messages[i].msg_hdr.msg_iov = parts[i];
      messages[i].msg_hdr.msg_iovlen = payloadSizes[k] > 0 ? 2 : 1;
    }
    const int sent = ::sendmmsg(fd_, messages, static_cast<unsigned>(n), 0);
    if (sent < 0) {
      if (errno == EINTR) continue;
      error_ = TftpErrnoCode(errno);
      return done;
    }
    done += sent;
    if (sent < n) {
      // sendmmsg stops at the first datagram that fails; ask that one alone
      // for its error.
      continue;
    }
  }
  return done;
}

bool TftpDatagramSocket::SpinUntilReadable(qint64 nanoseconds) {
  if (fd_ < 0) return false;
  pollfd entry{fd_, POLLIN, 0};
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (;;) {
    if (::poll(&entry, 1, 0) > 0) return true;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const qint64 elapsed =
        (now.tv_sec - start.tv_sec) * 1000000000LL + (now.tv_nsec - start.tv_nsec);
    if (elapsed >= nanoseconds) return false;
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
