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
#include <map>
#include <memory>

#include "switch/load_job.h"
#include "switch/switch_info.h"
#include "switch/switch_web.h"
#include "tftp/tftp_server.h"

namespace fwl {

class ArchiveTool;
class CTFTPThread;
class LoadEngine;
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
// The switch fetched files, but never this image of the install request.
inline constexpr char kImageNeverFetched[] = "The switch did not fetch the image %1.";
// The switch answered after its restart with another firmware revision than
// the one loaded (its revision in place of %1).
inline constexpr char kStillOldFirmware[] = "The switch restarted but still runs firmware %1.";

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
  // After the first answered ping, how long the information page may take
  // to answer before the revision check is left out.
  int infoAfterRestartMs = 60000;
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
  // 1 the switch fetched both images whole, answered again and (where its
  // information page answers) runs the version loaded; 0 the images could
  // not be located, or the switch did not complete the upgrade (the step it
  // stopped at ends as ERROR); -1/-2 a failure already reported.
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

  // Follows the downloads of the two images the install request named
  // (SetInstallImages) and the restart. 0 when each image was sent
  // completely, the switch answered a ping afterwards and, where its
  // information page answers again, it runs the version being loaded; -1
  // otherwise (the step it stopped at ends as ERROR).
  int WaitForSwitchUpgrade(const QString& switchAddress);

  // The files the wait follows, and the version they carry ("" when the
  // names tell none: the revision is then not checked).
  void SetInstallImages(const QString& filesystemImage, const QString& bootImage,
                        const QString& version);

  // Receiver of the install server's events (1 started, 2 complete, 3 client
  // lost, 4 file not found). Events are queued, never merged, and each is
  // matched to its transfer by id and file, so a small image that starts and
  // ends between two polls is still seen and the order in which events of
  // different transfers interleave does not matter.
  void OnTftpEvent(const TftpEvent& event);

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
  int ImageIndex(const QString& servedPath) const;
  // After the restart: false with the switch's `revision` when its
  // information page answers with another revision than the one loaded.
  bool RunsLoadedFirmware(const QString& switchAddress, QString* revision);
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
  std::deque<TftpEvent> events_;
  // The install's two images: 0 the filesystem image, 1 the boot image
  // (the order of the step list).
  QString images_[2];
  QString loadingVersion_;
  std::map<int, int> transferImage_;  // running transfer id -> image index, -1 other file
  int currentRow_ = 0;
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
