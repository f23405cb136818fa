// TFTP packet encoding and decoding, and the option negotiation of a read
// request. No sockets here, so every parser can be driven by tests and the
// fuzzer with arbitrary bytes.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace fwl::tftp {

inline constexpr int kOpRrq = 1;
inline constexpr int kOpWrq = 2;
inline constexpr int kOpData = 3;
inline constexpr int kOpAck = 4;
inline constexpr int kOpError = 5;
inline constexpr int kOpOack = 6;

inline constexpr int kDefaultBlockSize = 512;
inline constexpr int kMaxBlockSize = 8192;
inline constexpr int kMaxWindowSize = 64;
// Most bytes one window may put in flight: a burst beyond what a client's
// receive buffer holds loses its tail every time and the transfer crawls.
inline constexpr int kMaxWindowBytes = 64 * 1024;
// A request is read into a buffer of this size; longer datagrams are cut.
inline constexpr int kMaxRequestSize = 1024;
// The option acknowledgement must fit a client's 512-byte receive buffer.
inline constexpr int kMaxOackSize = 512;

// A read or write request. Strings are taken byte for byte (Latin-1).
struct Request {
  int opcode = 0;  // kOpRrq or kOpWrq
  QString fileName;
  QString mode;
  // Every NUL-terminated string after the mode, in order (name, value, ...);
  // a last string without its NUL is dropped.
  QStringList options;
};

// Parses a datagram received on the listening port. Only the first
// kMaxRequestSize bytes count. Returns nothing unless the datagram starts
// with 0x00 and an opcode of 1 or 2 and holds a NUL-terminated file name.
// A missing mode reads as empty.
std::optional<Request> ParseRequest(const QByteArray& datagram);

// The block number of an ACK (0x00 0x04 hi lo ...); nothing for any other datagram.
std::optional<uint16_t> ParseAck(const QByteArray& datagram);

// True for an ERROR packet (0x00 0x05 ...).
bool IsError(const QByteArray& datagram);

// DATA packet: 0x00 0x03, low 16 bits of `block`, then `payload` bytes.
QByteArray MakeData(int64_t block, const char* payload, int size);
// ERROR packet: code, message text, NUL.
QByteArray MakeError(int code, const QString& message);
// OACK packet from (name, value) pairs, each NUL-terminated, no padding.
QByteArray MakeOack(const std::vector<std::pair<QString, QString>>& options);

// atoi-style reading: optional blanks and sign, then leading digits; 0 when
// there are none. Saturates instead of overflowing.
long long ReadDecimal(const QString& text);

// The outcome of negotiating a read request's options.
struct Negotiation {
  int blockSize = kDefaultBlockSize;
  int windowSize = 1;
  int timeoutSeconds = 0;  // 0: the server's interval
  // The options to echo in the OACK, in order; empty: send block 1 at once.
  std::vector<std::pair<QString, QString>> acknowledged;
};

// Builds the option map from `options` taken in pairs (names lower-cased, a
// later pair replaces an earlier one, a last name without value dropped)
// and decides what to grant:
//  - "blksize": >= 8193 -> "8192"; < 1 or not a number -> "512"; otherwise
//    the client's own text and value.
//  - "tsize": the file size in decimal, whatever the client sent.
//  - "timeout": 1..255 is used and echoed as sent; other values are not
//    acknowledged.
//  - "windowsize": 1..65535 is granted as min(value, 64, 64 KiB / block
//    size, at least 1) and echoed with that value; other values are not
//    acknowledged.
//  - anything else is echoed as sent.
// The granted options come first, then unknown ones in request order while
// the OACK stays within kMaxOackSize bytes.
Negotiation NegotiateOptions(const QStringList& options, int64_t fileSize);

// Bare file name of a requested path: any drive and directory part is
// dropped (both "/" and "\\" separate).
QString BareFileName(const QString& requested);

}  // namespace fwl::tftp
