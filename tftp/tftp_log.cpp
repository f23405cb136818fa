#include "tftp/tftp_log.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <thread>

#include "platform/ui.h"

namespace fwl {

namespace {

constexpr int kWriterPeriodMs = 150;
// An old log beyond this size is not read back: holding it (and rewriting it
// every round) would cost more than the log is worth.
constexpr qint64 kMaxReadBackBytes = 64LL * 1024 * 1024;

}  // namespace

std::recursive_timed_mutex& TftpLogMutex() {
  static std::recursive_timed_mutex mutex;
  return mutex;
}

std::recursive_timed_mutex& TftpStatusMutex() {
  static std::recursive_timed_mutex mutex;
  return mutex;
}

std::recursive_timed_mutex& TftpGetServerMutex() {
  static std::recursive_timed_mutex mutex;
  return mutex;
}

TimedLock::TimedLock(std::recursive_timed_mutex& mutex, int timeoutMs)
    : mutex_(mutex), owned_(mutex.try_lock_for(std::chrono::milliseconds(timeoutMs))) {}

TimedLock::~TimedLock() {
  if (owned_) mutex_.unlock();
}

struct TftpLog::Shared {
  // Guarded by TftpLogMutex().
  QStringList lines;
  qsizetype written = 0;
  quint64 generation = 0;
  QString path;

  std::mutex wakeMutex;
  std::condition_variable wake;
  std::atomic<bool> stop{false};
  std::atomic<bool> running{false};

  void WriteRound();
  void Run();
};

void TftpLog::Shared::WriteRound() {
  QStringList copy;
  QString target;
  quint64 copiedGeneration = 0;
  {
    TimedLock lock(TftpLogMutex(), kTftpLockWaitMs);
    if (lines.size() <= written) return;
    copy = lines;
    target = path;
    copiedGeneration = generation;
  }
  const QString tmpPath = target + ".tmp";
  if (QFile::exists(tmpPath) && !QFile::remove(tmpPath)) return;
  QFile tmp(tmpPath);
  if (!tmp.open(QIODevice::WriteOnly | QIODevice::Truncate)) return;
  QByteArray text;
  for (const QString& line : copy) text.append(line.toLocal8Bit()).append('\n');
  const bool ok = tmp.write(text) == text.size();
  tmp.close();
  if (!ok) return;
  if (QFile::exists(target)) QFile::remove(target);
  QFile::rename(tmpPath, target);
  TimedLock lock(TftpLogMutex(), kTftpLockWaitMs);
  if (generation == copiedGeneration) written = copy.size();
}

void TftpLog::Shared::Run() {
  for (;;) {
    const bool last = stop.load();
    WriteRound();
    if (last) break;
    std::unique_lock<std::mutex> lock(wakeMutex);
    wake.wait_for(lock, std::chrono::milliseconds(kWriterPeriodMs), [this] { return stop.load(); });
  }
  running = false;
}

TftpLog::TftpLog() : shared_(std::make_shared<Shared>()) {}

TftpLog::~TftpLog() { StopWriter(25000); }

QString TftpLog::StampNow() {
  return QDateTime::currentDateTime().toString("MM/dd/yyyy HH:mm:ss") + " >> ";
}

void TftpLog::Configure(bool enabled, const QString& path) {
  // A writer for an earlier setting saves its lines before the list is
  // replaced, so nothing logged so far is lost.
  if (WriterRunning()) StopWriter(25000);
  enabled_ = enabled;
  path_ = path;
  if (!enabled) return;

  QStringList readBack;
  if (QFileInfo::exists(path)) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
      ShowMessage(QString("Unable to open %1 for reading/writing.").arg(path));
      enabled_ = false;
      return;
    }
    if (file.size() > kMaxReadBackBytes) {
      ShowMessage(
          "Memory exception found while reading existing log file.\nPlease check log file size.");
      enabled_ = false;
      return;
    }
    while (!file.atEnd()) {
      QByteArray line = file.readLine(kMaxReadBackBytes);
      while (line.endsWith('\n') || line.endsWith('\r')) line.chop(1);
      readBack << QString::fromLocal8Bit(line);
    }
  }
  {
    TimedLock lock(TftpLogMutex(), kTftpLockWaitMs);
    shared_->lines = readBack;
    shared_->written = 0;
    ++shared_->generation;
    shared_->path = path;
  }
  StartWriter();
}

void TftpLog::Append(const QString& text) {
  if (!enabled_) return;
  const QString line = StampNow() + text;
  TimedLock lock(TftpLogMutex(), kTftpLockWaitMs);
  shared_->lines << line;
}

void TftpLog::Clear() {
  TimedLock lock(TftpLogMutex(), kTftpLockWaitMs);
  shared_->lines.clear();
  shared_->written = 0;
  ++shared_->generation;
}

QStringList TftpLog::Lines() const {
  TimedLock lock(TftpLogMutex(), kTftpLockWaitMs);
  return shared_->lines;
}

void TftpLog::StartWriter() {
  if (shared_->running) return;
  if (writer_.joinable()) writer_.join();
  shared_->stop = false;
  shared_->running = true;
  writer_ = std::thread([shared = shared_] { shared->Run(); });
}

bool TftpLog::WriterRunning() const { return shared_->running.load(); }

bool TftpLog::StopWriter(int waitMs) {
  if (!shared_->running) {
    if (writer_.joinable()) writer_.join();
    return true;
  }
  {
    std::lock_guard<std::mutex> lock(shared_->wakeMutex);
    shared_->stop = true;
  }
  shared_->wake.notify_all();
  for (int waited = 0; shared_->running && waited < waitMs; waited += 10) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (shared_->running) {
    // The writer keeps its own reference and ends by itself; a later writer
    // works on fresh state so the two never share a list.
    auto fresh = std::make_shared<Shared>();
    {
      TimedLock lock(TftpLogMutex(), kTftpLockWaitMs);
      fresh->lines = shared_->lines;
      fresh->written = fresh->lines.size();
      fresh->path = shared_->path;
    }
    shared_ = fresh;
    writer_.detach();
    return false;
  }
  writer_.join();
  return true;
}

}  // namespace fwl
