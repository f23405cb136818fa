// A simulated unit on a real pseudo-terminal: the boot monitor runs on a
// thread of its own behind the pty master, so a loader (or a person with a
// terminal program) opens the slave path as its serial port. An optional
// local control socket lets another process power-cycle it and read its
// flash and environment.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QThread>
#include <memory>

#include "sim/sim_options.h"

namespace fwl {

class SimUnitCore;

class SimUnit {
 public:
  explicit SimUnit(const SimOptions& options);
  ~SimUnit();  // stops the unit and removes the control socket
  SimUnit(const SimUnit&) = delete;
  SimUnit& operator=(const SimUnit&) = delete;

  // Opens the pty and starts the unit's thread; with a non-empty
  // `controlSocket` also listens there. False (with `error`) when the pty or
  // the socket cannot be had. Power comes on when the port is first opened
  // (or at once when the options say so).
  bool Start(const QString& controlSocket = QString(), QString* error = nullptr);
  void Stop();

  // Slave device path, e.g. "/dev/pts/4"; empty before Start.
  QString SlavePath() const { return slavePath_; }

  // Power switch. PowerCycle = off then on: DRAM cleared, unsaved
  // environment lost, flash and NVRAM kept; banner and countdown again.
  void PowerCycle();
  void PowerOff();
  void PowerOn();

  // "off", "countdown", "prompt", "busy", "hung" or "booted".
  QString State() const;

  // Contents of the memories. Ranges outside a memory are cut to it.
  QByteArray ReadNor(quint64 offset, quint64 length) const;
  QByteArray ReadNand(quint64 offset, quint64 length) const;
  QByteArray ReadNvram(quint64 offset, quint64 length) const;
  // DRAM by bus address.
  QByteArray ReadDram(quint64 address, quint64 length) const;
  // Environment variable (working copy, or the copy "saveenv" stored).
  QString Env(const QString& name, bool saved = false) const;
  // All variables as "name=value\n" lines.
  QByteArray EnvListing(bool saved = false) const;
  // Command lines run so far (variables expanded).
  QStringList CommandLog() const;

  // Runs one control-channel request line and returns the answer line
  // (what a control client would receive). See docs/simulator.md.
  QString Control(const QString& request);

 private:
  SimOptions options_;
  QThread thread_;
  SimUnitCore* core_ = nullptr;  // lives on thread_
  QString slavePath_;
};

// Sends one request line to a unit's control socket and returns its answer
// line; false when the socket cannot be reached or does not answer within
// `timeoutMs` (then `answer` holds the reason).
bool SendSimControl(const QString& socketPath, const QString& request, QString* answer,
                    int timeoutMs = 10000);

}  // namespace fwl
