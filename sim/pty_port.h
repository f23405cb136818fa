// The simulated unit's end of its serial line: a pseudo-terminal master in
// raw mode whose slave path is what the loader opens as its serial port.
#pragma once

#include <QByteArray>
#include <QString>

namespace fwl {

class PtyPort {
 public:
  PtyPort() = default;
  ~PtyPort();
  PtyPort(const PtyPort&) = delete;
  PtyPort& operator=(const PtyPort&) = delete;

  // Opens a new master in raw mode. Returns false (and leaves the port
  // closed) when the system has no pseudo-terminal to give.
  bool Open();
  void Close();
  bool IsOpen() const { return master_ >= 0; }

  // Path of the slave device, e.g. "/dev/pts/7"; empty when closed.
  QString SlavePath() const { return slavePath_; }

  // True while some process holds the slave open (the "cable is plugged").
  bool PeerConnected() const;

  // Reads what has arrived, without waiting (also what a peer wrote just
  // before it closed the port); empty when nothing has.
  QByteArray ReadAvailable();

  // Writes all of `data` unless the peer goes away; bytes written while no
  // peer is connected are dropped, as on an unplugged cable.
  void Write(const QByteArray& data);

  // Drops bytes that were sent to the slave but not read by it, so a peer
  // that opens the port later does not see output meant for an earlier one.
  void DiscardUnread();

 private:
  int master_ = -1;
  QString slavePath_;
};

}  // namespace fwl
