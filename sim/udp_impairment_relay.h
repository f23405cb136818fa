// A lossy network on loopback: a UDP relay between TFTP clients and a
// server that drops, delays, duplicates and reorders datagrams, from a seed
// or by a test's own rule. It follows each transfer to the port the server
// answers from, as a client would, so clients talk to it as to a server.
// Runs on its own thread, so its timing does not depend on the event loop
// of the server it stands in front of.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace fwl::sim {

// What happens to the datagrams of one direction.
struct Impairment {
  double loss = 0.0;       // chance that a datagram is dropped
  double duplicate = 0.0;  // chance that it arrives twice
  int64_t delayUs = 0;     // one-way delay of every datagram
  int64_t jitterUs = 0;    // extra delay drawn from 0..jitterUs: datagrams
                           // closer together than this may swap places
};

enum class RelayDirection { kToServer, kToClient };

// One datagram as the relay saw it, for a rule.
struct RelayDatagram {
  RelayDirection direction;
  int leg;          // 0 for the first client, 1 for the next, ...
  int index;        // 1-based count of datagrams of this leg and direction
  int opcode;       // TFTP opcode (1 RRQ .. 6 OACK), -1 when too short
  int block;        // DATA / ACK block number, -1 for other packets
  int64_t payload;  // DATA payload bytes, else 0
};

// A rule's verdict: how many copies go on (0 drops it) and how much later
// than the direction's own delay.
struct RelayVerdict {
  int copies = 1;
  int64_t extraDelayUs = 0;
};

// Runs on the relay's thread: it must not block, and shares only what it
// guards itself.
using RelayRule = std::function<RelayVerdict(const RelayDatagram&)>;
// Sees every datagram with its verdict and the relay's clock (ns), on the
// relay's thread, for traces.
using RelayObserver =
    std::function<void(const RelayDatagram&, const RelayVerdict&, int64_t nowNs)>;

// What crossed the relay so far.
struct RelayCounts {
  int64_t dataFromServer = 0;  // DATA packets the server sent (before any loss)
  // Of those, copies of a block the client held already, counting what it
  // holds as a client that keeps only blocks in order would: the sends no
  // loss or reordering made necessary.
  int64_t dataUnneeded = 0;
  int64_t acksFromClient = 0;  // ACK packets the clients sent
  int64_t dropped = 0;
  int64_t duplicated = 0;
  int64_t requests = 0;
  std::map<int, int> dataCopies;  // 16-bit block number -> DATA packets sent
  int MostCopies() const;
};

class UdpImpairmentRelay {
 public:
  UdpImpairmentRelay();
  ~UdpImpairmentRelay();  // stops the thread
  UdpImpairmentRelay(const UdpImpairmentRelay&) = delete;
  UdpImpairmentRelay& operator=(const UdpImpairmentRelay&) = delete;

  // Configuration, before Start(). Requests pass unimpaired unless
  // `impairRequests` (their loss tests only the client's own timer).
  void SetImpairment(RelayDirection direction, const Impairment& impairment);
  void SetSeed(uint64_t seed) { seed_ = seed; }
  void SetRule(RelayRule rule) { rule_ = std::move(rule); }
  void SetObserver(RelayObserver observer) { observer_ = std::move(observer); }
  void SetImpairRequests(bool impair) { impairRequests_ = impair; }

  // Listens on 127.0.0.1:`listenPort` (0: any free port) and relays to the
  // server's listening port on 127.0.0.1. False when the port cannot be bound.
  bool Start(uint16_t serverPort, uint16_t listenPort = 0);
  void Stop();
  uint16_t Port() const { return port_; }

  RelayCounts Counts() const;
  void ResetCounts();

 private:
  struct Leg;
  // A datagram waiting for its time.
  struct Pending {
    int64_t dueNs;
    uint64_t sequence;
    int fd;
    uint32_t ip;
    uint16_t port;
    std::vector<char> data;
    bool duplicate = false;  // a copy the relay made, not one the sender sent
    // Earliest first, in arrival order among equals: a heap's "less" is "later".
    bool operator<(const Pending& other) const {
      return dueNs != other.dueNs ? dueNs > other.dueNs : sequence > other.sequence;
    }
  };
  void Run();
  void Receive(int fd, Leg* leg);
  void Handle(const char* data, int64_t size, Leg* leg, bool fromServer, uint16_t fromPort);
  void Schedule(int fd, uint32_t ip, uint16_t port, const char* data, int64_t size, int64_t atNs,
                bool duplicate = false);
  // Judges a DATA copy as it reaches the client (RelayCounts::dataUnneeded).
  void NoteDelivery(const Pending& pending);
  void SendDue(int64_t nowNs);
  double Draw();

  uint16_t serverPort_ = 0;
  uint16_t port_ = 0;
  int front_ = -1;
  int wake_[2] = {-1, -1};
  Impairment toServer_;
  Impairment toClient_;
  uint64_t seed_ = 1;
  uint64_t state_ = 1;
  RelayRule rule_;
  RelayObserver observer_;
  bool impairRequests_ = false;
  std::vector<std::unique_ptr<Leg>> legs_;
  std::vector<Pending> queue_;  // a heap on (due, sequence)
  uint64_t sequence_ = 0;
  mutable std::mutex countsMutex_;
  RelayCounts counts_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace fwl::sim
