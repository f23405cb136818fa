// How fast a windowed transfer lets its blocks go. A window sent back to
// back reaches the client in any order over a link that delays each
// datagram differently (a radio bridge, a busy switch), and a client that
// keeps only blocks in order (RFC 7440) then takes one or two of each
// window while the rest are sent again. A gap slows the window down,
// block by block; windows that arrive whole speed it up again, back to
// back on a clean link. No clocks or sockets, so tests feed it any history.
#pragma once

#include <cstdint>

namespace fwl::tftp {

class SendPacer {
 public:
  // The first step down from back to back, and the pace below which blocks
  // go back to back again.
  static constexpr int64_t kFirstIntervalUs = 1000;
  static constexpr int64_t kBackToBackUs = 250;

  // Microseconds between two blocks of a window; 0: back to back.
  int64_t IntervalUs() const { return intervalUs_; }

  // A window arrived short or scrambled (an ACK showed a gap, a resend was
  // needed, or the time-out struck) while `acknowledged` was the client's
  // last block and `highestSent` the highest one out. The pace halves once
  // per flight, never below one block per smoothed round trip `srttUs`:
  // slower than lock-step would gain nothing.
  void OnGap(int64_t acknowledged, int64_t highestSent, int64_t srttUs);
  // An ACK acknowledged every block sent: after the flight that slowed it
  // down, the pace quickens by a quarter.
  void OnAllAcknowledged(int64_t acknowledged);

 private:
  int64_t intervalUs_ = 0;
  int64_t recoverUntil_ = 0;  // no further change before this block is acknowledged
};

}  // namespace fwl::tftp
