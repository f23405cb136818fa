// Which DATA blocks a transfer sends next: the lock-step exchange of TFTP
// and the windowed one of the "windowsize" option, with 16-bit block
// numbers on the wire and 64-bit counters inside. No sockets or timers, so
// the fuzzer and tests drive it with any ACK sequence.
#pragma once

#include <cstdint>

namespace fwl::tftp {

class SendWindow {
 public:
  enum class Step { kNothing, kSendOack, kSendBlocks, kComplete };
  struct Action {
    Step step = Step::kNothing;
    int64_t first = 0;  // kSendBlocks: blocks first..last, in order
    int64_t last = -1;
    // The ACK acknowledged nothing new (a duplicate, a stale or a foreign
    // number): the resend it asks for repeats what went out before, and the
    // transfer decides whether one is due.
    bool duplicate = false;
  };

  // `lastBlock` = file size / block size + 1 (the closing short or empty
  // block); `window` 1..64. With `oackFirst` the OACK counts as block 0 and
  // must be acknowledged before data; Begin() says what to send first.
  void Reset(int64_t lastBlock, int window, bool oackFirst);
  Action Begin();

  // An ACK carrying `number`. A number matching a block after the last
  // acknowledged one, up to the highest sent, releases the window past it
  // (the last block: complete); below the highest sent it shows a gap, and
  // the window resent from there starts with the first missing block. Any
  // other number (the last acknowledged block again, or none of the
  // outstanding ones) asks to resend from the block after the last
  // acknowledged one, marked `duplicate`.
  Action OnAck(uint16_t number);
  // What a retransmission time-out resends: the OACK while it is
  // unacknowledged, else the window after the last acknowledged block.
  Action OnTimeout() const;
  // A repeated time-out: the window as OnTimeout() and one block past it.
  // A client that has the whole window and lost its ACK may never answer
  // a window it already has again; the next block is news to it, and a
  // client that misses an earlier block says so. Counted as sent.
  Action OnRepeatedTimeout();

  bool Completed() const { return completed_; }
  // Highest block the client has acknowledged (0: none yet; -1 while the
  // OACK is unacknowledged).
  int64_t Acknowledged() const { return acked_; }
  // Highest block sent so far (0 before any DATA).
  int64_t HighestSent() const { return sent_; }
  int64_t LastBlock() const { return lastBlock_; }
  bool LastBlockSent() const { return sent_ >= lastBlock_; }

 private:
  Action WindowFrom(int64_t acked);

  int64_t lastBlock_ = 1;
  int window_ = 1;
  int64_t acked_ = 0;  // -1 while the OACK is unacknowledged
  int64_t sent_ = 0;
  bool completed_ = false;
};

}  // namespace fwl::tftp
