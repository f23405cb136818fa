// The part of a simulated unit that lives on the unit's own thread: it
// polls the pty, feeds the boot monitor and serves the control socket.
#pragma once

#include <QObject>
#include <QTimer>

#include "sim/boot_monitor.h"
#include "sim/pty_port.h"
#include "sim/sim_options.h"

class QLocalServer;

namespace fwl {

class SimUnitCore : public QObject {
  Q_OBJECT
 public:
  explicit SimUnitCore(const SimOptions& options);
  ~SimUnitCore() override;

  // Opens the pty. Called before the object moves to its thread.
  bool OpenPty(QString* error);
  QString SlavePath() const { return port_.SlavePath(); }
  // Starts polling (on the unit's thread).
  void Begin();
  // Listens for control clients on `path` (on the unit's thread).
  bool Listen(const QString& path, QString* error);
  void End();

  void PowerCycle();
  void PowerOff();
  void PowerOn();
  BootMonitor& Monitor() { return monitor_; }

  // One control request line -> one answer line.
  QString HandleControl(const QString& request);

 private:
  void Poll();
  void OnControlClient();

  SimOptions options_;
  PtyPort port_;
  BootMonitor monitor_;
  QTimer poll_;
  QLocalServer* control_ = nullptr;
  bool connected_ = false;
  bool powerWaitsForPort_ = false;
};

}  // namespace fwl
