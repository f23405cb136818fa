// The boot monitor of the simulated unit: power-on banner, autoboot
// countdown, the "=> " command line with echo and line editing, and the
// commands a serial load uses, acting on the unit's environment and memories.
// It is fed the bytes that arrive on the serial line and hands what it prints
// to an output function; it runs on one thread (timers drive its delays).
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QStringList>
#include <functional>
#include <memory>

#include "sim/sim_environment.h"
#include "sim/sim_memory_map.h"
#include "sim/sim_options.h"

namespace fwl {

class SimTftpClient;

class BootMonitor : public QObject {
  Q_OBJECT
 public:
  enum class State { kOff, kCountdown, kPrompt, kBusy, kHung, kBooted };

  explicit BootMonitor(const SimOptions& options, QObject* parent = nullptr);
  ~BootMonitor() override;

  // Where printed bytes go (line ends are already CR LF).
  void SetOutput(std::function<void(const QByteArray&)> output) { output_ = std::move(output); }

  // Power on: banner, then the countdown. Power off: DRAM and everything
  // running are lost; flash, NVRAM and the saved environment stay.
  void PowerOn();
  void PowerOff();
  // Frees the sockets of the unit's thread before the thread ends.
  void ReleaseSockets();
  // Bytes that arrived on the serial line.
  void Receive(const QByteArray& bytes);

  State CurrentState() const { return state_; }
  static const char* StateName(State s);

  SimEnvironment& Environment() { return env_; }
  SimEnvironment& SavedEnvironment() { return savedEnv_; }
  SimMemoryMap& Memories() { return memory_; }
  // Every command line run since construction, after variable expansion.
  const QStringList& CommandLog() const { return commandLog_; }

 private:
  using Handler = int (BootMonitor::*)(const QStringList& args);
  static constexpr int kOk = 0;
  static constexpr int kFailed = 1;
  static constexpr int kUsage = -1;
  static constexpr int kUnknown = -2;
  static constexpr int kAsync = 2;

  void Print(const QString& text);
  void PrintRaw(const QByteArray& bytes);
  void Flush();
  void ShowPrompt();
  QString BannerLine() const;
  void Boot();
  void CountdownTick();
  void StopCountdown();
  void Pump();
  void HandleChar(char c);
  void RunLine(const QString& line);
  QString Expand(const QString& line) const;
  void FinishCommand(int rc, const QString& line);
  void EndBusy();
  bool Matches(const QStringList& prefixes, const QString& line) const;
  static bool Repeatable(const QString& line);
  void ResetDefaults();
  void Reboot();

  // Commands (args[0] is the command name as typed).
  int CmdVersion(const QStringList& args);
  int CmdPrintenv(const QStringList& args);
  int CmdSetenv(const QStringList& args);
  int CmdSaveenv(const QStringList& args);
  int CmdBdinfo(const QStringList& args);
  int CmdEcho(const QStringList& args);
  int CmdDate(const QStringList& args);
  int CmdReset(const QStringList& args);
  int CmdHelp(const QStringList& args);
  int CmdProtect(const QStringList& args);
  int CmdErase(const QStringList& args);
  int CmdCopy(const QStringList& args);
  int CmdMemoryWrite(const QStringList& args);
  int CmdMtest(const QStringList& args);
  int CmdNand(const QStringList& args);
  int CmdTftp(const QStringList& args);
  int CmdCrc32(const QStringList& args);

  // Helpers of the flash commands.
  bool NorSectorRange(quint64 start, quint64 end, int* first, int* last);
  void MtestPass();
  void FinishAsync(int rc);
  // Stores `data` into flash area `flash` at `offset` the way programming
  // does (AND with what is there), with the configured corruptions.
  void ProgramFlash(SparseMemory& flash, quint64 offset, QByteArray data);
  void OnCtrlC();

  SimOptions options_;
  SimMemoryMap memory_;
  SimEnvironment env_, savedEnv_;
  std::function<void(const QByteArray&)> output_;
  QHash<QString, Handler> commands_;

  State state_ = State::kOff;
  quint64 epoch_ = 0;  // bumps at every power change; stale timers check it
  int countdown_ = 0;
  QByteArray pending_;    // received, not yet consumed
  QByteArray keyBuffer_;  // received during the countdown
  QByteArray line_;       // the line being typed
  QString lastCommand_;
  QByteArray reply_;  // output of the running command, held for delays
  QString runningLine_;
  bool ctrlCAborts_ = false;  // the running command watches for Ctrl-C
  QStringList commandLog_;

  QDateTime clockBase_;
  QElapsedTimer clockRunning_;

  // mtest in progress
  quint64 mtestStart_ = 0, mtestEnd_ = 0;
  quint32 mtestPattern_ = 0;
  int mtestPasses_ = 0;

  std::unique_ptr<SimTftpClient> tftp_;
  bool tftpRunning_ = false;
  quint32 tftpLoadAddress_ = 0;
  quint64 tftpBlocks_ = 0;
  int tftpHashes_ = 0;
};

}  // namespace fwl
