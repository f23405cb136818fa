#include "station/station_record.h"

#include <algorithm>
#include <cstring>

namespace fwl {

QByteArray StationRecord::Data() const {
  const int length = std::min(DataLength(), kStationMaxData);
  return QByteArray(reinterpret_cast<const char*>(bytes.data()) + kStationHeaderSize, length);
}

QByteArray StationRecord::Frame() const {
  const int length = std::min<int>(FrameLength(), int(bytes.size()));
  return QByteArray(reinterpret_cast<const char*>(bytes.data()), length);
}

uint8_t DataReader::Byte() {
  if (at_ >= data_.size()) {
    ok_ = false;
    return 0;
  }
  return static_cast<uint8_t>(data_[at_++]);
}

uint16_t DataReader::Word() {
  const uint16_t high = Byte();
  return static_cast<uint16_t>((high << 8) | Byte());
}

uint32_t DataReader::Long() {
  const uint32_t high = Word();
  return (high << 16) | Word();
}

void AppendWord(QByteArray& out, uint16_t value) {
  out.append(char(value >> 8));
  out.append(char(value & 0xFF));
}

void AppendLong(QByteArray& out, uint32_t value) {
  AppendWord(out, uint16_t(value >> 16));
  AppendWord(out, uint16_t(value & 0xFFFF));
}

bool ParseStationDatagram(const QByteArray& datagram, StationRecord& record) {
  if (datagram.size() < kStationHeaderSize) return false;
  const auto* raw = reinterpret_cast<const uint8_t*>(datagram.constData());
  if (raw[kRecMarker] != kRecordMarker) return false;
  const int dataLength = (raw[kRecDataLength] << 8) | raw[kRecDataLength + 1];
  if (dataLength > kStationMaxData || dataLength + kStationHeaderSize != datagram.size()) {
    return false;
  }
  record.Clear();
  std::memcpy(record.bytes.data(), raw, size_t(datagram.size()));
  return true;
}

}  // namespace fwl
