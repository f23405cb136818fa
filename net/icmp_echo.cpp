// The echo request is built by hand (type 8, code 0, identifier, sequence,
// data); on a datagram socket the kernel fills in the identifier and strips
// the IP header of the reply, on a raw socket the reply carries its IP
// header and every echo reply to this host arrives, so it is matched by
// source, identifier and sequence.
#include "net/icmp_echo.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QHostAddress>
#include <atomic>

#include "platform/wait_pumping.h"

namespace fwl {
namespace {

constexpr int kMaxDataBytes = 1024;
constexpr int kSliceMs = 20;
constexpr quint8 kEchoRequest = 8;
constexpr quint8 kEchoReply = 0;

std::atomic<quint16> nextSequence{1};

quint16 Checksum(const QByteArray& bytes) {
  quint32 sum = 0;
  for (qsizetype i = 0; i + 1 < bytes.size(); i += 2) {
    sum += (quint8(bytes[i]) << 8) | quint8(bytes[i + 1]);
  }
  if (bytes.size() % 2) sum += quint8(bytes.back()) << 8;
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return quint16(~sum);
}

class Socket {
 public:
  explicit Socket(int fd) : fd_(fd) {}
  ~Socket() {
    if (fd_ >= 0) ::close(fd_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

quint16 U16(const char* p) { return quint16((quint8(p[0]) << 8) | quint8(p[1])); }

}  // namespace

bool IcmpEcho(const QString& host, int ttl, int timeoutMs, int dataBytes) {
  QHostAddress address;
  if (!address.setAddress(host) || address.protocol() != QAbstractSocket::IPv4Protocol) {
    return false;
  }
  bool raw = false;
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (fd < 0) {
    fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    raw = true;
  }
  if (fd < 0) return false;
  Socket socket(fd);
  if (ttl > 0) {
    const int value = std::min(ttl, 255);
    ::setsockopt(fd, IPPROTO_IP, IP_TTL, &value, sizeof value);
  }

  const quint16 identifier = quint16(::getpid() & 0xFFFF);
  const quint16 sequence = nextSequence.fetch_add(1);
  QByteArray packet(8, '\0');
  packet[0] = char(kEchoRequest);
  packet[4] = char(identifier >> 8);
  packet[5] = char(identifier & 0xFF);
  packet[6] = char(sequence >> 8);
  packet[7] = char(sequence & 0xFF);
  const int count = std::clamp(dataBytes, 0, kMaxDataBytes);
  for (int i = 0; i < count; ++i) packet += char('a' + i % 23);
  const quint16 sum = Checksum(packet);
  packet[2] = char(sum >> 8);
  packet[3] = char(sum & 0xFF);

  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(address.toIPv4Address());
  if (::sendto(fd, packet.constData(), size_t(packet.size()), 0, reinterpret_cast<sockaddr*>(&to),
               sizeof to) != packet.size()) {
    return false;
  }

  const QDeadlineTimer deadline(std::max(0, timeoutMs));
  char buffer[2048];
  for (;;) {
    pollfd waiting{fd, POLLIN, 0};
    const int slice =
        int(std::min<qint64>(kSliceMs, std::max<qint64>(0, deadline.remainingTime())));
    const int ready = ::poll(&waiting, 1, slice);
    if (ready > 0 && (waiting.revents & POLLIN)) {
      sockaddr_in from{};
      socklen_t fromLength = sizeof from;
      const ssize_t got =
          ::recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
      if (got > 0 && from.sin_addr.s_addr == to.sin_addr.s_addr) {
        const char* icmp = buffer;
        ssize_t length = got;
        if (raw) {
          const int headerBytes = (quint8(buffer[0]) & 0x0F) * 4;
          if (headerBytes < 20 || got < headerBytes) continue;
          icmp += headerBytes;
          length -= headerBytes;
        }
        // The datagram socket's kernel picks the identifier and filters on it.
        if (length >= 8 && quint8(icmp[0]) == kEchoReply && U16(icmp + 6) == sequence &&
            (!raw || U16(icmp + 4) == identifier)) {
          return true;
        }
      }
    }
    if (deadline.hasExpired()) return false;
    WaitPumping(0);
  }
}

}  // namespace fwl
