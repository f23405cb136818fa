// Fuzzes the TFTP server's handling of outside packets without sockets: a
// request datagram is parsed and its options negotiated, then the rest of
// the input is a stream of ACKs, stray packets and time-outs fed to the
// send window. Invariants that the transfer relies on are checked.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "tftp/tftp_packet.h"
#include "tftp/tftp_send_window.h"

using namespace fwl::tftp;

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// `extra`: blocks a repeated time-out may send past the window.
void CheckAction(const SendWindow& w, const SendWindow::Action& a, int window, int extra = 0) {
  if (a.step != SendWindow::Step::kSendBlocks) return;
  Check(a.first >= 1);
  Check(a.first <= a.last);
  Check(a.last <= w.LastBlock());
  Check(a.last - a.first + 1 <= window + extra);
  Check(a.last <= w.HighestSent());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  // Byte 0: length of the request part (scaled); the rest drives the session.
  const size_t requestLength = static_cast<size_t>(data[0]) * 8 % (size - 1);
  const QByteArray datagram(reinterpret_cast<const char*>(data + 1),
                            static_cast<qsizetype>(requestLength));
  const QByteArray rest(reinterpret_cast<const char*>(data + 1 + requestLength),
                        static_cast<qsizetype>(size - 1 - requestLength));

  BareFileName(QString::fromLatin1(datagram));
  ReadDecimal(QString::fromLatin1(rest.left(64)));
  ParseAck(rest);
  IsError(rest);

  const auto request = ParseRequest(datagram);
  if (!request) return 0;
  const QString bare = BareFileName(request->fileName);
  Check(!bare.contains('/') && !bare.contains('\\'));

  // File size from the stream, small enough to keep block counts sane.
  const int64_t fileSize = rest.isEmpty() ? 0 : (static_cast<uint8_t>(rest[0]) * 977) % 200000;
  const Negotiation n = NegotiateOptions(request->options, fileSize);
  Check(n.blockSize >= 1 && n.blockSize <= kMaxBlockSize);
  Check(n.windowSize >= 1 && n.windowSize <= kMaxWindowSize);
  Check(n.timeoutSeconds >= 0 && n.timeoutSeconds <= 255);
  const QByteArray oack = MakeOack(n.acknowledged);
  // Granted options are short; unknown ones are only added while they fit.
  Check(oack.size() <= kMaxOackSize);

  SendWindow w;
  const int64_t lastBlock = fileSize / n.blockSize + 1;
  const bool withOack = !n.acknowledged.empty();
  w.Reset(lastBlock, n.windowSize, withOack);
  CheckAction(w, w.Begin(), n.windowSize);
  int64_t highest = w.HighestSent();
  for (qsizetype i = 1; i + 1 < rest.size(); i += 2) {
    const uint8_t hi = static_cast<uint8_t>(rest[i]);
    const uint8_t lo = static_cast<uint8_t>(rest[i + 1]);
    SendWindow::Action a;
    int extra = 0;
    if (hi == 0xFF && lo >= 0xF8) {
      a = w.OnRepeatedTimeout();
      extra = 1;
    } else if (hi == 0xFF && lo >= 0xF0) {
      a = w.OnTimeout();
    } else {
      const bool wasComplete = w.Completed();
      a = w.OnAck(static_cast<uint16_t>((hi << 8) | lo));
      if (a.step == SendWindow::Step::kComplete) {
        Check(!wasComplete);
        Check(w.LastBlockSent());
      }
    }
    CheckAction(w, a, n.windowSize, extra);
    Check(w.HighestSent() >= highest);  // never goes back
    highest = w.HighestSent();
    if (w.Completed()) Check(w.OnAck(0).step == SendWindow::Step::kNothing);
  }
  return 0;
}
