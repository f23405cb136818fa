// A large memory held as the pages that were ever written, so a unit with
// 64 MiB of DRAM and 128 MiB of NAND costs only what a load puts into it.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QtGlobal>

namespace fwl {

class SparseMemory {
 public:
  // `size` bytes that read as `blankValue` until written.
  explicit SparseMemory(quint64 size = 0, char blankValue = 0) : size_(size), blank_(blankValue) {}

  quint64 Size() const { return size_; }
  char BlankValue() const { return blank_; }

  // All ranges are offsets from 0; callers check bounds with Contains().
  bool Contains(quint64 offset, quint64 length) const {
    return offset <= size_ && length <= size_ - offset;
  }
  QByteArray Read(quint64 offset, quint64 length) const;
  void Write(quint64 offset, const QByteArray& data);
  // NOR programming can only clear bits: stores old AND new.
  void AndWrite(quint64 offset, const QByteArray& data);
  void Fill(quint64 offset, quint64 length, char value);
  // True when every byte of the range holds the blank value.
  bool IsBlank(quint64 offset, quint64 length) const;
  // Forgets everything (all bytes read as blank again).
  void Clear() { pages_.clear(); }

 private:
  static constexpr quint64 kPage = 0x10000;
  QByteArray& PageFor(quint64 index);

  quint64 size_;
  char blank_;
  QHash<quint64, QByteArray> pages_;
};

}  // namespace fwl
