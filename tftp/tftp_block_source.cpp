#include "tftp/tftp_block_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>

namespace fwl::tftp {

BlockSource::~BlockSource() { Close(); }

void BlockSource::UsePreloaded(const QByteArray& data) {
  Close();
  preloaded_ = data;
  size_ = data.size();
}

bool BlockSource::OpenFile(const QString& path) {
  Close();
  // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused
  // below anyway.
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  size_ = info.st_size;
  return true;
}

void BlockSource::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  preloaded_ = QByteArray();
  size_ = 0;
}

const char* BlockSource::Bytes(int64_t offset, int64_t count, QByteArray& scratch) {
  static const char kNothing = 0;
  if (count <= 0) return &kNothing;
  if (offset < 0 || offset + count > size_) return nullptr;
  if (fd_ < 0) {
    if (offset + count > preloaded_.size()) return nullptr;
    return preloaded_.constData() + offset;
  }
  if (scratch.size() < count) scratch.resize(count);
  char* out = scratch.data();
  int64_t done = 0;
  while (done < count) {
    const ssize_t got = ::pread(fd_, out + done, static_cast<size_t>(count - done), offset + done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return nullptr;  // error, or the file ends early: it shrank
    done += got;
  }
  return out;
}

bool BlockSource::SizeUnchanged() const {
  if (fd_ < 0) return true;
  struct stat info {};
  return ::fstat(fd_, &info) == 0 && info.st_size == size_;
}

}  // namespace fwl::tftp
