#include "sim/udp_impairment_relay.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace fwl::sim {

namespace {

constexpr int64_t kIdleWaitNs = 100 * 1000 * 1000;
constexpr int kMaxDatagram = 65536;
// Relay sockets buffer a whole window of the largest blocks, so that only
// the chosen impairments lose datagrams.
constexpr int kSocketBuffer = 1 << 20;

int64_t NowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

int OpenSocket(uint16_t port, uint16_t* bound) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kSocketBuffer, sizeof kSocketBuffer);
  setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kSocketBuffer, sizeof kSocketBuffer);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(fd);
    return -1;
  }
  if (bound) *bound = ntohs(address.sin_port);
  return fd;
}

int Opcode(const char* data, int64_t size) {
  if (size < 2 || data[0] != 0) return -1;
  return static_cast<unsigned char>(data[1]);
}

}  // namespace

int RelayCounts::MostCopies() const {
  int most = 0;
  for (const auto& [block, copies] : dataCopies) most = std::max(most, copies);
  return most;
}

struct UdpImpairmentRelay::Leg {
  int id = 0;
  uint32_t clientIp = 0;  // host order
  uint16_t clientPort = 0;
  int toServer = -1;  // the client as the server sees it
  int toClient = -1;  // the transfer port as the client sees it
  uint16_t transferPort = 0;
  int sentToServer = 0;
  int sentToClient = 0;
  uint16_t clientHolds = 0;  // last block delivered in order
};

namespace {

// True for a DATA copy of a block the client already holds.
bool HeldAlready(uint16_t holds, int block) {
  const uint16_t behind = static_cast<uint16_t>(holds - static_cast<uint16_t>(block));
  return behind < 0x8000;
}

}  // namespace

UdpImpairmentRelay::UdpImpairmentRelay() = default;
UdpImpairmentRelay::~UdpImpairmentRelay() { Stop(); }

void UdpImpairmentRelay::SetImpairment(RelayDirection direction, const Impairment& impairment) {
  (direction == RelayDirection::kToServer ? toServer_ : toClient_) = impairment;
}

bool UdpImpairmentRelay::Start(uint16_t serverPort, uint16_t listenPort) {
  if (thread_.joinable()) return false;
  serverPort_ = serverPort;
  state_ = seed_ ? seed_ : 1;
  front_ = OpenSocket(listenPort, &port_);
  if (front_ < 0) return false;
  if (pipe2(wake_, O_NONBLOCK | O_CLOEXEC) != 0) {
    close(front_);
    front_ = -1;
    return false;
  }
  stop_ = false;
  thread_ = std::thread([this] { Run(); });
  return true;
}

void UdpImpairmentRelay::Stop() {
  if (!thread_.joinable()) return;
  stop_ = true;
  const char byte = 0;
  [[maybe_unused]] const ssize_t written = write(wake_[1], &byte, 1);
  thread_.join();
  for (const auto& leg : legs_) {
    close(leg->toServer);
    close(leg->toClient);
  }
  legs_.clear();
  queue_.clear();
  close(front_);
  close(wake_[0]);
  close(wake_[1]);
  front_ = wake_[0] = wake_[1] = -1;
}

RelayCounts UdpImpairmentRelay::Counts() const {
  std::lock_guard<std::mutex> lock(countsMutex_);
  return counts_;
}

void UdpImpairmentRelay::ResetCounts() {
  std::lock_guard<std::mutex> lock(countsMutex_);
  counts_ = RelayCounts();
}

double UdpImpairmentRelay::Draw() {
  // splitmix64: the same seed gives every server the same network.
  uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  z ^= z >> 31;
  return static_cast<double>(z >> 11) / static_cast<double>(1ULL << 53);
}

void UdpImpairmentRelay::Run() {
  std::vector<pollfd> fds;
  std::vector<Leg*> owners;
  while (!stop_) {
    const int64_t now = NowNs();
    SendDue(now);
    const int64_t waitNs = queue_.empty()
                               ? kIdleWaitNs
                               : std::clamp<int64_t>(queue_.front().dueNs - now, 0, kIdleWaitNs);
    fds.clear();
    owners.clear();
    fds.push_back({wake_[0], POLLIN, 0});
    owners.push_back(nullptr);
    fds.push_back({front_, POLLIN, 0});
    owners.push_back(nullptr);
    for (const auto& leg : legs_) {
      fds.push_back({leg->toServer, POLLIN, 0});
      owners.push_back(leg.get());
      fds.push_back({leg->toClient, POLLIN, 0});
      owners.push_back(leg.get());
    }
    const timespec timeout{static_cast<time_t>(waitNs / 1000000000),
                           static_cast<long>(waitNs % 1000000000)};
    if (ppoll(fds.data(), fds.size(), &timeout, nullptr) <= 0) continue;
    for (size_t i = 1; i < fds.size(); ++i) {
      if (fds[i].revents & POLLIN) Receive(fds[i].fd, owners[i]);
    }
  }
}

void UdpImpairmentRelay::Receive(int fd, Leg* leg) {
  std::vector<char> buffer(kMaxDatagram);
  for (;;) {
    sockaddr_in from{};
    socklen_t length = sizeof from;
    const ssize_t size = recvfrom(fd, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                  reinterpret_cast<sockaddr*>(&from), &length);
    if (size < 0) return;  // EAGAIN, or an ICMP error of an earlier send
    const uint32_t ip = ntohl(from.sin_addr.s_addr);
    const uint16_t port = ntohs(from.sin_port);
    if (!leg) {
      // A request on the front port: a new client gets its own leg.
      Leg* found = nullptr;
      for (const auto& l : legs_) {
        if (l->clientIp == ip && l->clientPort == port) found = l.get();
      }
      if (!found) {
        auto created = std::make_unique<Leg>();
        created->id = static_cast<int>(legs_.size());
        created->clientIp = ip;
        created->clientPort = port;
        created->toServer = OpenSocket(0, nullptr);
        created->toClient = OpenSocket(0, nullptr);
        if (created->toServer < 0 || created->toClient < 0) {
          if (created->toServer >= 0) close(created->toServer);
          if (created->toClient >= 0) close(created->toClient);
          continue;
        }
        found = created.get();
        legs_.push_back(std::move(created));
      }
      {
        std::lock_guard<std::mutex> lock(countsMutex_);
        ++counts_.requests;
      }
      if (!impairRequests_ && !rule_) {
        Schedule(found->toServer, INADDR_LOOPBACK, serverPort_, buffer.data(), size,
                 NowNs() + toServer_.delayUs * 1000);
        continue;
      }
      Handle(buffer.data(), size, found, false, port);
      continue;
    }
    Handle(buffer.data(), size, leg, fd == leg->toServer, port);
  }
}

void UdpImpairmentRelay::Handle(const char* data, int64_t size, Leg* leg, bool fromServer,
                                uint16_t fromPort) {
  if (fromServer) leg->transferPort = fromPort;
  const int opcode = Opcode(data, size);
  RelayDatagram datagram{
      fromServer ? RelayDirection::kToClient : RelayDirection::kToServer,
      leg->id,
      fromServer ? ++leg->sentToClient : ++leg->sentToServer,
      opcode,
      (opcode == 3 || opcode == 4) && size >= 4
          ? (static_cast<unsigned char>(data[2]) << 8) | static_cast<unsigned char>(data[3])
          : -1,
      opcode == 3 ? std::max<int64_t>(0, size - 4) : 0};
  const Impairment& impairment = fromServer ? toClient_ : toServer_;
  RelayVerdict verdict;
  if (rule_) {
    verdict = rule_(datagram);
  } else {
    if (impairment.loss > 0 && Draw() < impairment.loss) verdict.copies = 0;
    if (verdict.copies && impairment.duplicate > 0 && Draw() < impairment.duplicate) {
      verdict.copies = 2;
    }
  }
  {
    std::lock_guard<std::mutex> lock(countsMutex_);
    if (fromServer && opcode == 3) {
      ++counts_.dataFromServer;
      ++counts_.dataCopies[datagram.block];
      // A lost copy is judged now; one that goes on when it arrives.
      if (verdict.copies == 0 && HeldAlready(leg->clientHolds, datagram.block)) {
        ++counts_.dataUnneeded;
      }
    }
    if (!fromServer && opcode == 4) ++counts_.acksFromClient;
    if (verdict.copies == 0) ++counts_.dropped;
    if (verdict.copies > 1) counts_.duplicated += verdict.copies - 1;
  }
  const int fd = fromServer ? leg->toClient : leg->toServer;
  const uint32_t ip = fromServer ? leg->clientIp : INADDR_LOOPBACK;
  const uint16_t port = fromServer                                     ? leg->clientPort
                        : datagram.opcode == 1 || datagram.opcode == 2 ? serverPort_
                                                                       : leg->transferPort;
  const int64_t now = NowNs();
  if (observer_) observer_(datagram, verdict, now);
  if (port == 0) return;  // the server has not answered yet
  for (int copy = 0; copy < verdict.copies; ++copy) {
    int64_t delayUs = impairment.delayUs + verdict.extraDelayUs;
    if (impairment.jitterUs > 0) delayUs += static_cast<int64_t>(Draw() * impairment.jitterUs);
    Schedule(fd, ip, port, data, size, now + delayUs * 1000, copy > 0);
  }
}

void UdpImpairmentRelay::Schedule(int fd, uint32_t ip, uint16_t port, const char* data,
                                  int64_t size, int64_t atNs, bool duplicate) {
  queue_.push_back(
      Pending{atNs, sequence_++, fd, ip, port, std::vector<char>(data, data + size), duplicate});
  std::push_heap(queue_.begin(), queue_.end());
}

void UdpImpairmentRelay::SendDue(int64_t nowNs) {
  while (!queue_.empty() && queue_.front().dueNs <= nowNs) {
    std::pop_heap(queue_.begin(), queue_.end());
    const Pending& pending = queue_.back();
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(pending.ip);
    to.sin_port = htons(pending.port);
    NoteDelivery(pending);
    // A full buffer loses the datagram, as a congested link would.
    sendto(pending.fd, pending.data.data(), pending.data.size(), MSG_DONTWAIT,
           reinterpret_cast<const sockaddr*>(&to), sizeof to);
    queue_.pop_back();
  }
}

void UdpImpairmentRelay::NoteDelivery(const Pending& pending) {
  if (pending.data.size() < 4 || pending.data[1] != 3) return;
  for (const auto& leg : legs_) {
    if (leg->toClient != pending.fd) continue;
    const int block = (static_cast<unsigned char>(pending.data[2]) << 8) |
                      static_cast<unsigned char>(pending.data[3]);
    // A copy the relay made itself is the network's doing, not a send.
    bool unneeded = false;
    if (block == static_cast<uint16_t>(leg->clientHolds + 1)) {
      leg->clientHolds = static_cast<uint16_t>(block);
    } else if (HeldAlready(leg->clientHolds, block)) {
      unneeded = !pending.duplicate;
    }
    if (unneeded) {
      std::lock_guard<std::mutex> lock(countsMutex_);
      ++counts_.dataUnneeded;
    }
    return;
  }
}

}  // namespace fwl::sim
