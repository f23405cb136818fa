// The Ethernet-only install of a managed switch: find the two images, have
// the switch identify itself (after fetching its information package), check
// that it allows network firmware loading, serve the images by TFTP, send
// the install request and follow the switch's two downloads and restart.
// One SwitchInstaller holds the state the wizard sheet keeps for this path.
#pragma once

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <deque>
#include <functional>
#include <memory>

#include "switch/load_job.h"
#include "switch/switch_info.h"
#include "switch/switch_web.h"

namespace fwl {

class ArchiveTool;
class CTFTPThread;
class LoadEngine;
class TftpServer;
class TftpService;
class TftpSession;
class WorkFolderList;

// Messages of the install, spelled as shown.
inline constexpr char kNetworkLoadingDisabled[] =
    "\"Network firmware loading\" must be enabled to load firmware using Ethernet only (no "
    "serial port).Please enable this feature or choose the method that includes the use of the "
    "serial port.";
inline constexpr char kClientLostMessage[] =
    "TFTP client lost while waiting for xfer to complete.\n";
inline constexpr char kSecondTransferFailed[] =
    "Failed while waiting for second TFTP to complete.\n";

// Everything that differs between the wizard, fwload, a demo and a test.
struct SwitchInstallSettings {
  int httpPort = 80;      // the switch's web server
  quint16 tftpPort = 69;  // this computer's TFTP server (the switch fetches from 69)
  QHostAddress tftpBindAddress{QHostAddress::AnyIPv4};
  HttpLimits httpLimits;
  HttpStatusDisplay httpDisplay;

  // Waits, in milliseconds and counts. The defaults are the switch's needs.
  int infoPackagePolls = 20;  // polls for the information package to be served
  int infoPackagePollMs = 1000;
  int startPolls = 61;  // polls for a download to start
  int firstStartPollMs = 1000;
  int secondStartPollMs = 3000;
  int transferPollMs = 1000;
  int transferIdleMs = 120000;  // a running download that shows no sign of life
  int restartPollMs = 3000;     // pause before each ping of the restarting switch
  int tftpRetransmitMs = 3000;
  // A server shared with other loads (a batch; not owned), or nullptr: the
  // install then starts servers of its own on tftpPort.
  TftpService* tftpService = nullptr;

  // Opens the switch's remote-configuration page for the operator (default:
  // the desktop's URL handler).
  std::function<void(const QString& url)> openBrowser;
  // One ICMP echo (default IcmpEcho): host, ttl, time-out ms, data bytes.
  std::function<bool(const QString&, int, int, int)> ping;
  // The begin-load page's firmware line follows the filesystem image chosen
  // for the switch's board.
  std::function<void(const QString& filesystemImage)> firmwareChanged;
};

// Identification request: in/out image paths as the install hands them over.
struct SwitchIdentifyRequest {
  QString switchAddress;
  QString pcAddress;
  QString user;
  QString password;
  QString bootImage;        // in: work folder (bundle) or boot image; out: boot image
  QString filesystemImage;  // in: bundle or filesystem image; out: filesystem image
};

class SwitchInstaller {
 public:
  // Progress goes to `engine`'s progress callback and its message sink, the
  // receivers the begin-load page registers.
  explicit SwitchInstaller(LoadEngine& engine, SwitchInstallSettings settings = {});
  ~SwitchInstaller();
  SwitchInstaller(const SwitchInstaller&) = delete;
  SwitchInstaller& operator=(const SwitchInstaller&) = delete;

  // Runs the whole install for `job`; temporary folders go to `folders`.
  // 1 the switch fetched both images and answered again; 0 the images could
  // not be located, or the switch did not complete the upgrade (the step
  // it stopped at stays unmarked); -1/-2 a failure already reported.
  int InstallSwitchEthernetOnly(const LoadJob& job, WorkFolderList& folders);

  // Which two files to serve for `firmwareFile`: both the bundle for a
  // ".fwb"; the images found in an archive; a bare filesystem image and its
  // boot image by name. 1 with both paths set, 0 after a message.
  int LocateSwitchImages(const QString& firmwareFile, QString* bootImage, QString* filesystemImage);

  // Has the switch fetch its information package, reads what it is and
  // settles the two images for its board (see SwitchIdentifyRequest). 0 when
  // both paths are ready; -1/-2 after a message.
  int IdentifySwitch(SwitchIdentifyRequest& request);

  // Replaces the step list with the three install steps.
  void SetSwitchSteps(const QString& filesystemImage, const QString& bootImage);

  // Follows the two downloads and the restart. 0 when the switch answered a
  // ping after its second download; -1 otherwise.
  int WaitForSwitchUpgrade(const QString& switchAddress);

  // Receiver of the install server's events (1 started, 2 complete, 3 client
  // lost, 4 file not found). Events are queued, never merged, so a small
  // image that starts and ends between two polls is still seen.
  void OnTftpEvent(int kind, const QString& text);

  // The reply of the last remote-configuration or install request.
  const QByteArray& switchReply() const { return switchReply_; }
  int upgradeState() const { return upgradeState_; }
  // Destroys a TFTP server left from an earlier install (Load Now does this
  // before every load).
  void DeleteTftpServer();

 private:
  bool WaitForInfoPackage();
  // The part of IdentifySwitch after the information package is offered.
  int IdentifyWithServer(SwitchIdentifyRequest& request, bool bundle);
  int IdentifyFromBundle(SwitchIdentifyRequest& request, const SwitchInfo& info, int board);
  int IdentifyFromImages(SwitchIdentifyRequest& request, int board);
  void StopInfoThread();
  int StartInstallServer(const QString& bootImage);
  int NextEvent();
  SwitchWebTarget Target(const QString& address, const QString& user,
                         const QString& password) const;

  LoadEngine& engine_;
  SwitchInstallSettings settings_;
  std::unique_ptr<QObject> infoContext_;  // receives the thread's notice on this thread
  std::unique_ptr<CTFTPThread> infoThread_;
  std::unique_ptr<TftpServer> tftpServer_;
  // With a shared service: the open sessions in place of the servers.
  std::unique_ptr<TftpSession> tftpSession_;
  std::unique_ptr<TftpSession> infoSession_;
  QString switchAddress_;
  QString filesystemImage_;
  std::unique_ptr<ArchiveTool> archiveTool_;
  bool infoPackageServed_ = false;
  int upgradeState_ = 0;
  int upgradeDone_ = 0;
  std::deque<int> events_;
  QString lastEventText_;
  qint64 lastActivityMs_ = 0;
  QByteArray switchReply_;
  QString user_;
  QString password_;
};

// The dispatcher's entry for the switch path: a SwitchInstaller with
// `settings` reporting through `engine`.
int InstallSwitchEthernetOnly(const LoadJob& job, WorkFolderList& folders, LoadEngine& engine,
                              const SwitchInstallSettings& settings = {});

}  // namespace fwl
