#include "tftp/tftp_rtt_estimator.h"

#include <algorithm>

namespace fwl::tftp {

namespace {

// Doublings beyond this cannot matter: 2^20 times the floor is minutes,
// far above any ceiling a transfer accepts (255 s).
constexpr int kMaxBackoffs = 20;

}  // namespace

RttEstimator::RttEstimator(int ceilingMs, bool adaptive)
    : ceilingUs_(std::max<int64_t>(ceilingMs, 1) * 1000), adaptive_(adaptive) {}

int64_t RttEstimator::Clamp(int64_t us) const {
  // A configured time-out below the floor wins: the user asked for it.
  return std::min(std::max(us, kFloorUs), ceilingUs_);
}

void RttEstimator::AddSample(int64_t roundTripUs) {
  if (roundTripUs < 0) return;
  if (samples_ == 0) {
    srttUs_ = roundTripUs;
    rttvarUs_ = roundTripUs / 2;
  } else {
    const int64_t deviation = srttUs_ > roundTripUs ? srttUs_ - roundTripUs : roundTripUs - srttUs_;
    rttvarUs_ = (3 * rttvarUs_ + deviation) / 4;
    srttUs_ = (7 * srttUs_ + roundTripUs) / 8;
  }
  ++samples_;
}

void RttEstimator::Backoff() { backoffs_ = std::min(backoffs_ + 1, kMaxBackoffs); }

int64_t RttEstimator::EstimateUs() const {
  // The variation term is at least the floor (the clock granularity of RFC
  // 6298): a steady client's variation falls towards zero, and a time-out
  // equal to its round trip would resend on every scheduling hiccup.
  int64_t timeout = samples_ == 0 ? kInitialUs : srttUs_ + std::max(kFloorUs, 4 * rttvarUs_);
  timeout = Clamp(timeout);
  for (int i = 0; i < backoffs_ && timeout < ceilingUs_; ++i) timeout *= 2;
  return Clamp(timeout);
}

}  // namespace fwl::tftp
