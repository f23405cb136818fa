#include "tftp/tftp_send_pacer.h"

#include <algorithm>

namespace fwl::tftp {

void SendPacer::OnGap(int64_t acknowledged, int64_t highestSent, int64_t srttUs) {
  // The ACKs of one scrambled flight show its gaps one after another: they
  // are one piece of news.
  if (acknowledged < recoverUntil_) return;
  recoverUntil_ = std::max(highestSent, acknowledged + 1);
  // One block per round trip cannot scramble: the client holds each block
  // before the next leaves. From there windows that arrive whole speed up.
  intervalUs_ = std::max(srttUs, kFirstIntervalUs);
}

void SendPacer::OnAllAcknowledged(int64_t acknowledged) {
  if (intervalUs_ == 0 || acknowledged < recoverUntil_) return;
  recoverUntil_ = acknowledged + 1;
  intervalUs_ = intervalUs_ * 3 / 4;
  if (intervalUs_ < kBackToBackUs) intervalUs_ = 0;
}

}  // namespace fwl::tftp
