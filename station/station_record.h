// The request/reply record of the station link: a 28-byte header followed by
// the request or reply data, laid out exactly as the UDP transport puts it on
// the wire (docs/station-link.md). All multi-byte numbers are big-endian.
#pragma once

#include <QByteArray>
#include <array>
#include <cstdint>

namespace fwl {

inline constexpr int kStationHeaderSize = 28;
// Largest data part a datagram may carry; longer ones are dropped.
inline constexpr int kStationMaxData = 1024;

// Header offsets.
inline constexpr int kRecFormat = 0;
inline constexpr int kRecMarker = 1;  // always 0x80
inline constexpr int kRecSource = 2;
inline constexpr int kRecHandle = 4;
inline constexpr int kRecDestination = 6;
inline constexpr int kRecFunction = 8;
inline constexpr int kRecFrameLength = 10;
inline constexpr int kRecSequence = 24;
inline constexpr int kRecDataLength = 26;

inline constexpr uint8_t kRecordMarker = 0x80;

// Function codes.
inline constexpr int kFunctionPositiveReply = 1;
inline constexpr int kFunctionPoll = 3;
inline constexpr int kFunctionFileServices = 0x1A;
inline constexpr int kFunctionSystemServices = 0x6010;

// One record with room for the largest data part. Accessors never read or
// write outside the buffer.
struct StationRecord {
  std::array<uint8_t, kStationHeaderSize + kStationMaxData> bytes{};

  void Clear() { bytes.fill(0); }
  uint16_t Word(int offset) const {
    return static_cast<uint16_t>((bytes[size_t(offset)] << 8) | bytes[size_t(offset) + 1]);
  }
  void SetWord(int offset, uint16_t value) {
    bytes[size_t(offset)] = static_cast<uint8_t>(value >> 8);
    bytes[size_t(offset) + 1] = static_cast<uint8_t>(value);
  }
  int FunctionCode() const { return Word(kRecFunction); }
  int Sequence() const { return bytes[kRecSequence]; }
  int DataLength() const { return Word(kRecDataLength); }
  int FrameLength() const { return Word(kRecFrameLength); }
  // The data part (at most kStationMaxData bytes, as the length says).
  QByteArray Data() const;
  // The header and data as one datagram: FrameLength() bytes.
  QByteArray Frame() const;
};

// Reads big-endian fields out of reply data; a field that lies past the end
// of the data reads as missing (the Ok() flag turns false) instead of
// reading beyond what arrived.
class DataReader {
 public:
  explicit DataReader(const QByteArray& data) : data_(data) {}
  uint8_t Byte();
  uint16_t Word();
  uint32_t Long();
  int Remaining() const { return int(data_.size()) - at_; }
  int Position() const { return at_; }
  bool Ok() const { return ok_; }

 private:
  const QByteArray& data_;
  int at_ = 0;
  bool ok_ = true;
};

void AppendWord(QByteArray& out, uint16_t value);
void AppendLong(QByteArray& out, uint32_t value);

// Checks a received datagram and copies it into `record`. False (record
// untouched) for a datagram shorter than the header, whose byte 1 is not
// 0x80, whose data length disagrees with its size or whose data exceeds
// kStationMaxData.
bool ParseStationDatagram(const QByteArray& datagram, StationRecord& record);

}  // namespace fwl
