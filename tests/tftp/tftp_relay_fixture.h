// The fixture's server behind the impairment relay: a test names the
// datagrams to lose, repeat or hold back, and reads back when each DATA
// packet crossed the relay.
#pragma once

#include <QElapsedTimer>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "sim/udp_impairment_relay.h"
#include "tftp/tftp_fixture.h"

namespace fwl::test {

// When each DATA block crossed the relay (ms since the relay started), kept
// from the relay's thread.
class DataTimes {
 public:
  DataTimes() { clock_.start(); }
  void Note(const sim::RelayDatagram& d) {
    if (d.direction != sim::RelayDirection::kToClient || d.opcode != 3) return;
    std::lock_guard<std::mutex> lock(mutex_);
    times_[d.block].push_back(static_cast<double>(clock_.nsecsElapsed()) / 1e6);
  }
  std::vector<double> Of(int block) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = times_.find(block);
    return found == times_.end() ? std::vector<double>() : found->second;
  }
  double Now() const { return static_cast<double>(clock_.nsecsElapsed()) / 1e6; }

 private:
  QElapsedTimer clock_;
  mutable std::mutex mutex_;
  std::map<int, std::vector<double>> times_;
};

class TftpRelayFixture : public TftpFixture {
 protected:
  void SetUp() override {
    TftpFixture::SetUp();
    // As the owners run it: 3 s time-out, two retries.
    server_->SetRetransmitInterval(3000);
  }
  void TearDown() override {
    // The server first: closing ACKs still on their way get through.
    TftpFixture::TearDown();
    relay_.Stop();
  }

  // Starts the relay in front of `serverPort` (default: the fixture's
  // server). `rule` decides each datagram; every DATA is timed.
  void StartRelay(std::function<sim::RelayVerdict(const sim::RelayDatagram&)> rule,
                  quint16 serverPort = 0) {
    relay_.SetRule([this, rule](const sim::RelayDatagram& d) {
      times_.Note(d);
      if (qEnvironmentVariableIsSet("FWL_RELAY_TRACE")) {
        std::fprintf(stderr, "%9.3f leg %d %s op %d block %d\n", times_.Now(), d.leg,
                     d.direction == sim::RelayDirection::kToClient ? "S>C" : "C>S", d.opcode,
                     d.block);
      }
      return rule ? rule(d) : sim::RelayVerdict{};
    });
    ASSERT_TRUE(relay_.Start(serverPort ? serverPort : port_));
  }

  sim::UdpImpairmentRelay relay_;
  DataTimes times_;
};

}  // namespace fwl::test
