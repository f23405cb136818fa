// A scripted far end of a real pseudo-terminal for the console tests: it
// plays a boot monitor whose every answer the test chooses, so replies the
// simulated unit never gives (prompt at the first byte, NULs, noise, silence,
// an unplugged cable) can be produced on demand.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

namespace fwl::test {

class MonitorPeer {
 public:
  // Answer to one received line (CR not included; a lone Ctrl-C arrives as
  // "\x03"). Runs on the peer's thread; may sleep to play a slow unit.
  using Responder = std::function<QByteArray(const QByteArray& line)>;

  MonitorPeer();
  ~MonitorPeer();
  MonitorPeer(const MonitorPeer&) = delete;
  MonitorPeer& operator=(const MonitorPeer&) = delete;

  bool ok() const { return master_ >= 0; }
  // Slave path, e.g. /dev/pts/5: what the engine opens.
  QString path() const { return path_; }

  // Echo received characters as a boot monitor does (CR echoed as CR LF).
  void SetEcho(bool on) { echo_ = on; }
  void SetResponder(Responder responder);
  // Convenience: answer every line with `reply` followed by "=> ".
  void AnswerAll(const QByteArray& reply);

  // Queues bytes for the engine, unasked; the peer's thread writes them as
  // the line takes them, so a test never blocks on a full line.
  void Send(const QByteArray& bytes);
  // Everything received so far / the received lines (CR-terminated units).
  QByteArray Received() const;
  QList<QByteArray> Lines() const;
  void ClearReceived();

  // Pulls the plug: the master end closes, the engine's reads fail.
  void Unplug();

 private:
  void Run();
  void WriteSome();

  int master_ = -1;
  int slaveKeeper_ = -1;  // keeps the line discipline raw between opens
  QString path_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> echo_{true};
  mutable std::mutex mutex_;
  Responder responder_;
  QByteArray received_;
  QByteArray outgoing_;
  QList<QByteArray> lines_;
  std::thread thread_;
};

// Default settings file for opening `path` at 9600 8N1.
void WriteDeviceSettings(const QString& path);

}  // namespace fwl::test
