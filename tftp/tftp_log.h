// The TFTP server's log: a list of time-stamped lines that a writer thread
// saves to the log file every 150 ms (through a ".tmp" file renamed over
// it), and the process-wide locks shared by servers and transfers.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <mutex>
#include <thread>

namespace fwl {

// Process-local stand-ins for the named mutexes "tftplogmutex" (log line
// list), "tftpstatusmutex" (status callbacks) and "getservermutex" (calls
// from a transfer into its server). Recursive like the named mutexes they
// replace, so a callback that logs or reports again on the same thread does
// not block itself.
std::recursive_timed_mutex& TftpLogMutex();
std::recursive_timed_mutex& TftpStatusMutex();
std::recursive_timed_mutex& TftpGetServerMutex();

// Holds `mutex` for its scope, waiting at most `timeoutMs`; after a
// time-out the caller goes ahead without it, as the server always has.
class TimedLock {
 public:
  TimedLock(std::recursive_timed_mutex& mutex, int timeoutMs);
  ~TimedLock();
  TimedLock(const TimedLock&) = delete;
  TimedLock& operator=(const TimedLock&) = delete;

 private:
  std::recursive_timed_mutex& mutex_;
  bool owned_;
};

inline constexpr int kTftpLockWaitMs = 60000;
inline constexpr int kTftpGetServerWaitMs = 15000;

class TftpLog {
 public:
  TftpLog();
  ~TftpLog();  // stops the writer after a last save

  TftpLog(const TftpLog&) = delete;
  TftpLog& operator=(const TftpLog&) = delete;

  // Turns logging to `path` on or off. On: an existing file is read back
  // (its lines keep their own time stamps) and the writer starts. A file
  // that cannot be read shows "Unable to open %s for reading/writing.";
  // one too large to hold shows "Memory exception found while reading
  // existing log file.\nPlease check log file size."; both turn logging off.
  void Configure(bool enabled, const QString& path);
  bool Enabled() const { return enabled_; }
  QString Path() const { return path_; }

  // Appends `text` stamped "%m/%d/%Y %H:%M:%S >> " with the current local
  // time, when logging is on.
  void Append(const QString& text);
  // Forgets every line not yet read back from a file.
  void Clear();

  // Asks the writer to save what is left and end; waits up to `waitMs`.
  // False when the writer is still busy then (it finishes on its own).
  bool StopWriter(int waitMs);
  bool WriterRunning() const;

  // The lines as they will be written (for tests).
  QStringList Lines() const;

  // Stamp prefix for `now`-style formatting, exposed for tests.
  static QString StampNow();

 private:
  struct Shared;
  void StartWriter();

  bool enabled_ = false;
  QString path_;
  std::shared_ptr<Shared> shared_;
  std::thread writer_;
};

}  // namespace fwl
