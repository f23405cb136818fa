#include "engine/record_file.h"

#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <QSaveFile>
#endif

namespace fwl {
namespace {

constexpr int kMaxNumberedNames = 999;

[[maybe_unused]] QString Reason(int error, const QString& path) {
  return QStringLiteral("%1 (%2)").arg(QString::fromLocal8Bit(std::strerror(error)),
                                       QDir::toNativeSeparators(path));
}

#ifdef Q_OS_UNIX

QByteArray Native(const QString& path) { return QFile::encodeName(path); }

// Writes all of `bytes` to `fd` and syncs it; false with errno set.
bool WriteAllAndSync(int fd, const QByteArray& bytes) {
  const char* at = bytes.constData();
  qsizetype left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, at, size_t(left));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    at += n;
    left -= n;
  }
  return ::fsync(fd) == 0;
}

// The folder's entry for a new or renamed file is only durable once the
// folder itself is synced. File systems that cannot sync a folder say so
// with EINVAL; that is not a lost record.
bool SyncFolder(const QString& folder, QString& error) {
  const int fd = ::open(Native(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    error = Reason(errno, folder);
    return false;
  }
  const bool ok = ::fsync(fd) == 0 || errno == EINVAL || errno == EROFS;
  const int saved = errno;
  ::close(fd);
  if (!ok) error = Reason(saved, folder);
  return ok;
}

// Writes `bytes` into a new hidden file of `folder` (not named *.json, so
// no reader takes it for a record). True with `temp` set.
bool WriteTemporary(const QString& folder, const QByteArray& bytes, QString& temp, QString& error) {
  QByteArray name = Native(folder + QStringLiteral(".record-XXXXXX"));
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    error = Reason(errno, folder);
    return false;
  }
  temp = QFile::decodeName(name);
  bool ok = ::fchmod(fd, 0644) == 0 && WriteAllAndSync(fd, bytes);
  int saved = errno;
  // close() is where some file systems report a write that did not make it.
  if (::close(fd) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  if (!ok) {
    ::unlink(name.constData());
    error = Reason(saved, temp);
  }
  return ok;
}

bool NoHardLinks(int error) {
  return error == EPERM || error == ENOTSUP || error == EOPNOTSUPP || error == ENOSYS ||
         error == EXDEV;
}

// Gives the synced temporary file the name `target` unless that name
// exists. 1 done, 0 the name is taken, -1 failure (errno set).
int PublishExclusively(const QByteArray& temp, const QByteArray& target) {
  if (::link(temp.constData(), target.constData()) == 0) {
    ::unlink(temp.constData());
    return 1;
  }
  if (errno == EEXIST) return 0;
  if (!NoHardLinks(errno)) return -1;
  // Without hard links the name is reserved by creating it exclusively,
  // then the record is renamed over the empty reservation.
  const int fd = ::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return errno == EEXIST ? 0 : -1;
  ::close(fd);
  if (::rename(temp.constData(), target.constData()) == 0) return 1;
  const int saved = errno;
  ::unlink(target.constData());
  errno = saved;
  return -1;
}

#endif

}  // namespace

bool CreateRecordFile(const QString& folder, const QString& stem, const QByteArray& bytes,
                      QString& path, QString& error) {
#ifdef Q_OS_UNIX
  QString temp;
  if (!WriteTemporary(folder, bytes, temp, error)) return false;
  const QByteArray tempName = Native(temp);
  for (int n = 1; n <= kMaxNumberedNames; ++n) {
    const QString candidate =
        folder + stem + (n == 1 ? QStringLiteral(".json") : QStringLiteral("-%1.json").arg(n));
    const int published = PublishExclusively(tempName, Native(candidate));
    if (published == 0) continue;
    if (published < 0) {
      error = Reason(errno, candidate);
      ::unlink(tempName.constData());
      return false;
    }
    path = candidate;
    return SyncFolder(folder, error);
  }
  ::unlink(tempName.constData());
  error = Reason(EEXIST, folder + stem + QStringLiteral(".json"));
  return false;
#else
  for (int n = 1; n <= kMaxNumberedNames; ++n) {
    const QString candidate =
        folder + stem + (n == 1 ? QStringLiteral(".json") : QStringLiteral("-%1.json").arg(n));
    QFile file(candidate);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
      if (QFileInfo::exists(candidate)) continue;
      error = file.errorString();
      return false;
    }
    if (file.write(bytes) != bytes.size() || !file.flush()) {
      error = file.errorString();
      file.close();
      file.remove();
      return false;
    }
    path = candidate;
    return true;
  }
  error = QStringLiteral("no free name for %1").arg(stem);
  return false;
#endif
}

bool ReplaceRecordFile(const QString& path, const QByteArray& bytes, QString& error) {
#ifdef Q_OS_UNIX
  const QString folder = QFileInfo(path).absolutePath() + QLatin1Char('/');
  QString temp;
  if (!WriteTemporary(folder, bytes, temp, error)) return false;
  if (::rename(Native(temp).constData(), Native(path).constData()) != 0) {
    error = Reason(errno, path);
    ::unlink(Native(temp).constData());
    return false;
  }
  return SyncFolder(folder, error);
#else
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
    error = file.errorString();
    return false;
  }
  return true;
#endif
}

}  // namespace fwl
