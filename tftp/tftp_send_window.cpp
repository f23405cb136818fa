#include "tftp/tftp_send_window.h"

#include <algorithm>

namespace fwl::tftp {

void SendWindow::Reset(int64_t lastBlock, int window, bool oackFirst) {
  lastBlock_ = std::max<int64_t>(lastBlock, 1);
  window_ = std::clamp(window, 1, 64);
  acked_ = oackFirst ? -1 : 0;
  sent_ = 0;
  completed_ = false;
}

SendWindow::Action SendWindow::Begin() {
  if (acked_ < 0) return {Step::kSendOack};
  return WindowFrom(0);
}

SendWindow::Action SendWindow::WindowFrom(int64_t acked) {
  Action action{Step::kSendBlocks, acked + 1, std::min(acked + window_, lastBlock_)};
  sent_ = std::max(sent_, action.last);
  return action;
}

SendWindow::Action SendWindow::OnAck(uint16_t number) {
  if (completed_) return {};
  const int64_t low = std::max<int64_t>(acked_, 0);
  // At most window + 1 candidates, fewer than 65536, so the match is unique.
  for (int64_t k = low; k <= sent_; ++k) {
    if (static_cast<uint16_t>(k & 0xFFFF) != number) continue;
    if (k == acked_) break;  // acknowledged before: a duplicate
    if (k >= lastBlock_) {
      acked_ = k;
      completed_ = true;
      return {Step::kComplete};
    }
    acked_ = k;
    return WindowFrom(k);
  }
  Action resend = OnTimeout();
  resend.duplicate = true;
  return resend;
}

SendWindow::Action SendWindow::OnTimeout() const {
  if (completed_) return {};
  if (acked_ < 0) return {Step::kSendOack};
  return {Step::kSendBlocks, acked_ + 1, std::min(acked_ + window_, lastBlock_)};
}

SendWindow::Action SendWindow::OnRepeatedTimeout() {
  Action action = OnTimeout();
  if (action.step != Step::kSendBlocks) return action;
  action.last = std::min(acked_ + window_ + 1, lastBlock_);
  sent_ = std::max(sent_, action.last);
  return action;
}

}  // namespace fwl::tftp
