// A simulated station for the Ethernet-only upgrade: answers station-link
// requests over UDP on a loopback address (shell commands, file services,
// reset, poll), keeps a small file system, checks the update configuration
// when the update script runs, and after the reset fetches the images it
// names by TFTP before it answers again. Fault switches make it silent,
// negative, failing or lossy so failure paths run for real.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <memory>
#include <vector>

class QUdpSocket;

namespace fwl {

class SimTftpClient;

struct SimStationOptions {
  QHostAddress address{QHostAddress::LocalHost};  // must be a 127.x.y.z address
  quint16 stationPort = 5454;                     // 0: the system chooses (see SimStation::Port)
  quint16 tftpPort = 69;                    // port of the PC's TFTP server the images come from
  QString cpu = QStringLiteral("8xx");      // "8xx", "ARM9", "ARM7" or any other text
  bool mtd5 = false;                        // flash table lists "mtd5:" (takes a boot image)
  QString build = QStringLiteral("3.2.0");  // first field of /etc/korvidinfo.txt
  QString scriptError;                      // non-empty: the update script answers this text
  int restartMs = 500;                      // silence after the reset (after the downloads, if any)
  int replyDelayMs = 0;

  // Faults.
  bool silent = false;    // never answers
  bool negative = false;  // every reply is negative (function code 2)
  // Requests whose command or path begins with one of these get status 1.
  QStringList failStatus;
  // "cat PATH" answers "cat: PATH: No such file or directory" for these.
  QStringList catFails;
  int tftpLoseAfterBlocks = -1;   // >= 0: the TFTP client stops answering then
  bool neverFetch = false;        // the reset restarts without fetching anything
  bool silentAfterReset = false;  // never answers again after a reset
  // The boot image is asked for as soon as the file system image's first
  // block arrives, both downloads running at once.
  bool overlapFetch = false;
  int tftpBlockSize = 1468;
  int tftpTimeoutMs = 1000;
};

class SimStation : public QObject {
  Q_OBJECT

 public:
  explicit SimStation(const SimStationOptions& options, QObject* parent = nullptr);
  ~SimStation() override;

  // Binds the station's UDP port. False with `error` when the address is not
  // a loopback address or the port is taken.
  bool Start(QString* error = nullptr);
  void Stop();
  quint16 Port() const;
  const SimStationOptions& options() const { return options_; }
  // The running build (changes to the image's version after an update).
  QString Build() const { return options_.build; }

  // The file system: path -> content (the "/proc" and "/etc" files are
  // answered from the options and not kept here).
  const QMap<QString, QByteArray>& Files() const { return files_; }
  // Images received after a reset, by the file name requested.
  const QMap<QString, QByteArray>& ReceivedImages() const { return images_; }
  QStringList Commands() const { return commands_; }
  // Every valid request received, as it arrived.
  const QList<QByteArray>& Requests() const { return requests_; }
  int Resets() const { return resets_; }
  // "idle", "restarting" (after a reset, silent) or the last outcome of an
  // update: "updated" or "update failed: REASON".
  QString UpdateState() const { return updateState_; }
  // Checks a configuration text as the update script does: "" when good,
  // else the script's error text.
  QString CheckConfig(const QByteArray& text) const;

 signals:
  // The station answers again after a reset; `updated` tells whether it
  // received every image it needed.
  void Restarted(bool updated);

 private:
  void OnReadyRead();
  QByteArray Handle(const QByteArray& request, int* function);
  QByteArray RunCommand(int mode, const QString& command);
  QByteArray FileService(const QByteArray& data);
  void BeginRestart();
  void FetchNext();
  void FinishRestart();
  QString ShellOutput(const QString& command, bool* ok);

  SimStationOptions options_;
  QUdpSocket* socket_ = nullptr;
  QMap<QString, QByteArray> files_;
  QMap<quint32, QString> handles_;
  quint32 nextHandle_ = 0x100;
  QMap<QString, QByteArray> images_;
  QStringList commands_;
  QList<QByteArray> requests_;
  int resets_ = 0;
  bool restarting_ = false;
  bool dead_ = false;
  bool updatePrepared_ = false;
  QString updateState_ = QStringLiteral("idle");
  QStringList pendingFetches_;
  QHostAddress fetchServer_;
  bool fetchFailed_ = false;
  // One client per download of the current restart; the downloads running.
  std::vector<std::unique_ptr<SimTftpClient>> tftp_;
  int fetchesStarted_ = 0;
  int fetchesRunning_ = 0;
  QTimer restartTimer_;
};

}  // namespace fwl
