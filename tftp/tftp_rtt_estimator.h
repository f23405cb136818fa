// The retransmission time-out of one transfer, measured from its own round
// trips in the manner of TCP (smoothed round trip and its variation, RFC
// 6298): a lost packet on a fast link is resent within milliseconds, a slow
// client gets the time it needs. No clocks or sockets, so tests feed it any
// sequence of samples.
#pragma once

#include <cstdint>

namespace fwl::tftp {

class RttEstimator {
 public:
  // The shortest time-out: below it a scheduler's jitter would pass for a loss.
  static constexpr int64_t kFloorUs = 10000;
  // The time-out before the first sample (RFC 6298), unless the ceiling is lower.
  static constexpr int64_t kInitialUs = 1000000;

  // `ceilingMs` (>= 1) is the configured time-out: the estimate never
  // exceeds it. `adaptive` false keeps the time-out at the ceiling whatever
  // is measured (the fixed timer).
  RttEstimator(int ceilingMs, bool adaptive);

  // One round trip, from the only send of a packet to its ACK. The caller
  // passes none for retransmitted packets (Karn): their ACK may answer
  // either copy. Negative samples are ignored.
  void AddSample(int64_t roundTripUs);
  // A retransmission of the same packet: the time-out doubles, up to the
  // ceiling.
  void Backoff();
  // A fresh ACK arrived: the time-out is the estimate again.
  void ResetBackoff() { backoffs_ = 0; }
  int Backoffs() const { return backoffs_; }

  // The measured time-out with the doublings since the last fresh ACK, in
  // microseconds, within [floor, ceiling]. Measured also for the fixed
  // timer: a duplicate ACK resends only when no copy went out within it.
  int64_t EstimateUs() const;
  // The time-out the retransmission timer waits: EstimateUs(), or the
  // ceiling for the fixed timer.
  int64_t TimeoutUs() const { return adaptive_ ? EstimateUs() : ceilingUs_; }

  bool Adaptive() const { return adaptive_; }
  bool HasSample() const { return samples_ > 0; }
  int64_t CeilingUs() const { return ceilingUs_; }
  int64_t SmoothedUs() const { return srttUs_; }
  int64_t VariationUs() const { return rttvarUs_; }

 private:
  int64_t Clamp(int64_t us) const;

  int64_t ceilingUs_;
  bool adaptive_;
  int64_t srttUs_ = 0;
  int64_t rttvarUs_ = 0;
  int64_t samples_ = 0;
  int backoffs_ = 0;
};

}  // namespace fwl::tftp
