// Where a transfer's DATA blocks come from: the server's preloaded copy of
// the file, shared by every transfer of it, or the file itself, read one
// block at a time as each block is first sent, so the first block leaves at
// once and a transfer holds no more than the block it sends.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace fwl::tftp {

class BlockSource {
 public:
  BlockSource() = default;
  ~BlockSource();
  BlockSource(const BlockSource&) = delete;
  BlockSource& operator=(const BlockSource&) = delete;

  // Serves `data` (shared, not copied).
  void UsePreloaded(const QByteArray& data);
  // Opens a regular file for reading and takes its size. False when it
  // cannot be opened or is not a regular file (a folder, a device or a
  // FIFO could never be read to a size).
  bool OpenFile(const QString& path);
  // Forgets the data and closes the file.
  void Close();

  int64_t Size() const { return size_; }

  // The `count` bytes from `offset`: inside the preloaded copy, or read from
  // the file into `scratch` (grown as needed). Null when the file no longer
  // holds them: it was cut or rewritten shorter while being served.
  const char* Bytes(int64_t offset, int64_t count, QByteArray& scratch);
  // False when the file's size is no longer the size it was opened with.
  bool SizeUnchanged() const;

 private:
  QByteArray preloaded_;
  int fd_ = -1;
  int64_t size_ = 0;
};

}  // namespace fwl::tftp
