#include "tftp/tftp_block_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>
#include <cstring>

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

bool BlockSource::Read(int64_t offset, char* out, int64_t count) {
  if (count <= 0) return true;
  if (offset < 0 || offset + count > size_) return false;
  if (fd_ < 0) {
    if (offset + count > preloaded_.size()) return false;
    std::memcpy(out, preloaded_.constData() + offset, static_cast<size_t>(count));
    return true;
  }
  int64_t done = 0;
  while (done < count) {
    const ssize_t got = ::pread(fd_, out + done, static_cast<size_t>(count - done), offset + done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;  // error, or the file ends early: it shrank
    done += got;
  }
  return true;
}

bool BlockSource::SizeUnchanged() const {
  if (fd_ < 0) return true;
  struct stat info {};
  return ::fstat(fd_, &info) == 0 && info.st_size == size_;
}

}  // namespace fwl::tftp
