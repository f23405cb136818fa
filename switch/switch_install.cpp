// The Ethernet-only switch install: image location, the bundle work folder,
// the remote-configuration check, the install server and request, and the
// wait that follows the switch's downloads and restart.
#include "switch/switch_install.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>

#include "app/settings.h"
#include "catalogue/archive_tool.h"
#include "catalogue/firmware_bundle.h"
#include "catalogue/work_folder_list.h"
#include "engine/load_engine.h"
#include "net/icmp_echo.h"
#include "platform/ui.h"
#include "platform/wait_pumping.h"
#include "tftp/tftp_server.h"
#include "tftp/tftp_service.h"
#include "tftp/tftp_thread.h"

namespace fwl {
namespace {

constexpr char kUnableToLocate[] = "Unable to locate all required image files.";
constexpr char kUnreadableFirmware[] = "Unable to read firmware.";
constexpr int kPingDataBytes = 32;

// Filesystem image stems of an archive, and the boot image stem.
const char* const kArchiveFilesystemStems[] = {"kvimage_mums", "kvimagea_mums", "kvimage9_mums"};
constexpr char kArchiveBootStem[] = "kvimageb_mums";

QString FolderOf(const QString& path) {
  return QDir::toNativeSeparators(QFileInfo(path).absolutePath() + QDir::separator());
}

QString WithoutTrailingSeparator(QString folder) {
  while (folder.size() > 1 && (folder.endsWith(u'/') || folder.endsWith(QDir::separator()))) {
    folder.chop(1);
  }
  return folder;
}

void OpenWithDesktop(const QString& url) {
  QProcess::startDetached(QStringLiteral("xdg-open"), {url});
}

}  // namespace

SwitchInstaller::SwitchInstaller(LoadEngine& engine, SwitchInstallSettings settings)
    : engine_(engine), settings_(std::move(settings)) {
  if (!settings_.openBrowser) settings_.openBrowser = OpenWithDesktop;
  if (!settings_.ping) settings_.ping = IcmpEcho;
}

SwitchInstaller::~SwitchInstaller() {
  StopInfoThread();
  DeleteTftpServer();
}

void SwitchInstaller::DeleteTftpServer() {
  tftpSession_.reset();
  if (!tftpServer_) return;
  tftpServer_->Stop();
  tftpServer_.reset();
}

SwitchWebTarget SwitchInstaller::Target(const QString& address, const QString& user,
                                        const QString& password) const {
  SwitchWebTarget target;
  target.address = address;
  target.user = user;
  target.password = password;
  target.httpPort = settings_.httpPort;
  target.limits = settings_.httpLimits;
  target.display = settings_.httpDisplay;
  return target;
}

int SwitchInstaller::LocateSwitchImages(const QString& firmwareFile, QString* bootImage,
                                        QString* filesystemImage) {
  const QString suffix = QFileInfo(firmwareFile).suffix().toLower();
  const QString extension = suffix.isEmpty() ? QString() : QStringLiteral(".") + suffix;
  QString boot, filesystem;
  if (!extension.isEmpty() && extension != OemString(kOemBundleExtension)) {
    archiveTool_ = std::make_unique<ArchiveTool>();
    if (archiveTool_->Open(firmwareFile) < 0) {
      ShowMessage(QStringLiteral("Unable to read or extract archive ") + firmwareFile);
      return 0;
    }
    QList<ArchiveEntry> entries;
    archiveTool_->ListEntries(entries);
    for (const ArchiveEntry& entry : entries) {
      const QString name = QFileInfo(entry.fileName).completeBaseName();
      for (const char* stem : kArchiveFilesystemStems) {
        if (name.startsWith(QLatin1String(stem))) filesystem = entry.fullPath;
      }
      if (name.startsWith(QLatin1String(kArchiveBootStem))) boot = entry.fullPath;
      if (!boot.isEmpty() && !filesystem.isEmpty()) break;
    }
    if (boot.isEmpty() || filesystem.isEmpty()) {
      ShowMessage(QString::fromLatin1(kUnableToLocate));
      return 0;
    }
  } else if (!extension.isEmpty()) {
    boot = filesystem = firmwareFile;
  } else {
    const QFileInfo info(firmwareFile);
    const QString name = info.fileName();
    static const std::pair<const char*, const char*> kPairs[] = {
        {"kvimage_mums", "kvimageb_mums"},
        {"kvimagea_mums", "kvimageba_mums"},
        {"kvimage9_mums", "kvimageb9_mums"}};
    for (const auto& [stem, bootStem] : kPairs) {
      if (name.startsWith(QLatin1String(stem))) {
        QString bootName = name;
        bootName.replace(QLatin1String(stem), QLatin1String(bootStem));
        boot = FolderOf(firmwareFile) + bootName;
        break;
      }
    }
    if (boot.isEmpty()) {
      ShowMessage(QString::fromLatin1(kUnableToLocate));
      return 0;
    }
    filesystem = firmwareFile;
  }
  *bootImage = boot;
  *filesystemImage = filesystem;
  return 1;
}

int SwitchInstaller::StartInstallServer(const QString& bootImage) {
  DeleteTftpServer();
  if (settings_.tftpService) {
    TftpSessionRequest request;
    request.clientAddress = switchAddress_;
    request.folder = FolderOf(bootImage);
    request.preload << bootImage;
    if (!filesystemImage_.isEmpty()) request.preload << filesystemImage_;
    request.onEvent = [this](const TftpEvent& event) { OnTftpEvent(event.kind, event.text); };
    request.onStatus = [this](const QString& text, int) {
      lastActivityMs_ = QDateTime::currentMSecsSinceEpoch();
      engine_.ReportProgressText(text);
    };
    QString error;
    tftpSession_ = settings_.tftpService->Open(request, &error);
    if (!tftpSession_) {
      ShowMessage(QString::fromLatin1(kTftpStartFailed) + QLatin1Char('\n') + error);
      return -1;
    }
    return 0;
  }
  tftpServer_ = std::make_unique<TftpServer>();
  TftpServer& server = *tftpServer_;
  server.SetListenPort(settings_.tftpPort);
  server.SetBindAddress(settings_.tftpBindAddress);
  server.SetLogCallback([this](const QString& line) { engine_.ReportLine(line); });
  server.SetEventCallback(
      [this](const TftpEvent& event, void*) { OnTftpEvent(event.kind, event.text); }, nullptr);
  server.SetStatusCallback(
      [this](int, const QString& text, int, void*) {
        lastActivityMs_ = QDateTime::currentMSecsSinceEpoch();
        engine_.ReportProgressText(text);
      },
      nullptr);
  server.SetPercentOnly(1);
  const QString folder = FolderOf(bootImage);
  server.SetOutboundFolder(folder);
  server.SetInboundFolder(folder);
  server.SetRetries(2);
  server.SetTimeout(3);
  server.SetRetransmitInterval(settings_.tftpRetransmitMs);
  server.PreloadFile(bootImage);
  if (server.Start() < 0) {
    ShowMessage(QStringLiteral("Failed to start TFTP server."));
    return -1;
  }
  return 0;
}

int SwitchInstaller::InstallSwitchEthernetOnly(const LoadJob& job, WorkFolderList& folders) {
  infoPackageServed_ = false;
  switchAddress_ = job.stationAddress;
  QString boot, filesystem;
  if (!LocateSwitchImages(job.firmwareFile, &boot, &filesystem)) return 0;

  if (boot == filesystem) {
    const QString temp = QDir::tempPath();
    if (temp.isEmpty() || (!QFileInfo(temp).isDir() && !QDir().mkpath(temp))) {
      ShowMessage(QStringLiteral("Your Windows temporary directory is set improperly."));
      return -1;
    }
    const QString work = folders.CreateTemporaryFolder();
    if (work.isEmpty()) {
      ShowMessage(QStringLiteral("Unable to create temporary directory."));
      return -1;
    }
    std::unique_ptr<FirmwareBundle> bundle = OpenBundle(filesystem);
    if (!bundle) {
      ShowMessage(QString::fromLatin1(kUnreadableFirmware));
      return -1;
    }
    const BundleNode* info =
        FindBundleEntry(*bundle, kTagCpuNone, kTagNoImage, QString::fromLatin1(kInfoPackageName));
    if (info && ExtractBundleEntry(*bundle, *info, work + kInfoPackageName) != 0) {
      ShowMessage(QString::fromLatin1(kUnreadableFirmware));
      return -1;
    }
    CloseBundle(bundle);
    boot = WithoutTrailingSeparator(work);
  }

  SwitchIdentifyRequest request{job.stationAddress, job.pcAddress, job.user,
                                job.password,       boot,          filesystem};
  const int identified = IdentifySwitch(request);
  if (identified != 0) return identified;
  boot = request.bootImage;
  filesystem = request.filesystemImage;
  // The load record lists the images the switch is sent, by the names it
  // fetches them under (board-swapped, or taken out of a bundle).
  engine_.imageDigests.clear();
  for (const QString& image : {filesystem, boot})
    DigestFile(image, engine_.imageDigests.emplace_back());

  const SwitchWebTarget target = Target(job.stationAddress, job.user, job.password);
  switchReply_.clear();
  QByteArray body;
  if (ReadRemoteConfiguration(target, &body) != 200) {
    ShowMessage(QString::fromLatin1(kUnableToCommunicate));
    return -2;
  }
  switchReply_ = body;
  if (!NetworkLoadingEnabled(body)) {
    ShowMessage(QString::fromLatin1(kNetworkLoadingDisabled));
    const QString host =
        settings_.httpPort == 80
            ? job.stationAddress
            : QStringLiteral("%1:%2").arg(job.stationAddress).arg(settings_.httpPort);
    settings_.openBrowser(QStringLiteral("http://%1/cgi-bin/rmtconf.cgi").arg(host));
    return -2;
  }

  filesystemImage_ = filesystem;
  if (StartInstallServer(boot) < 0) return -1;

  // The switch may ask for its first image before its reply to the request
  // arrives, so the wait's state is set before the request goes out.
  upgradeState_ = 1;
  upgradeDone_ = 0;
  events_.clear();
  const QString resource =
      InstallRequestResource(job.stationAddress, job.subnet, job.pcAddress, job.gateway,
                             QFileInfo(boot).fileName(), QFileInfo(filesystem).fileName());
  body.clear();
  SendInstallRequest(target, resource, &body);
  switchReply_ = body;

  // A switch that never fetched its images, lost a download or never came
  // back has not been upgraded: the load ends as failed.
  return WaitForSwitchUpgrade(job.stationAddress) == 0 ? 1 : 0;
}

void SwitchInstaller::OnTftpEvent(int kind, const QString& text) {
  lastActivityMs_ = QDateTime::currentMSecsSinceEpoch();
  if (kind == kTftpEventFileNotFound) lastEventText_ = text;
  events_.push_back(kind);
}

int SwitchInstaller::NextEvent() {
  if (events_.empty()) return 0;
  const int kind = events_.front();
  events_.pop_front();
  return kind;
}

int SwitchInstaller::WaitForSwitchUpgrade(const QString& switchAddress) {
  WaitCursor cursor;
  const int pingRetries =
      GetSettingInt(kSectionEthOnlyLoad, QStringLiteral("ping retry count"), 25);
  const int pingTimeoutMs =
      GetSettingInt(kSectionEthOnlyLoad, QStringLiteral("ping timeout ms"), 5000);
  const int pingTtl = GetSettingInt(kSectionEthOnlyLoad, QStringLiteral("ping ttl"), 10);
  int result = 0;
  int pings = 0;
  engine_.ReportStep(0, true);

  auto fail = [&](const QString& message) {
    if (!message.isEmpty()) ShowMessage(message);
    upgradeDone_ = 1;
    result = -1;
  };
  // Waits for the next download to start; every earlier event is stale.
  auto waitForStart = [&](int pollMs) {
    bool started = false;
    bool missing = false;
    WaitPumpingUntil(
        [&] {
          while (!started && !missing && !events_.empty()) {
            const int kind = NextEvent();
            started = kind == kTftpEventTransferStarted;
            missing = kind == kTftpEventFileNotFound;
          }
          return started || missing;
        },
        settings_.startPolls * pollMs, std::min(pollMs, 100));
    if (missing) fail(lastEventText_);
    return started;
  };
  // Follows a running download: 1 complete, 0 client lost, -1 no sign of
  // life for transferIdleMs, -2 a file the switch asked for is missing.
  auto waitForEnd = [&] {
    int outcome = 2;
    lastActivityMs_ = QDateTime::currentMSecsSinceEpoch();
    while (outcome == 2) {
      WaitPumpingUntil([&] { return !events_.empty(); }, settings_.transferPollMs,
                       std::min(settings_.transferPollMs, 100));
      while (outcome == 2 && !events_.empty()) {
        const int kind = NextEvent();
        if (kind == kTftpEventTransferComplete) outcome = 1;
        if (kind == kTftpEventClientLost) outcome = 0;
        if (kind == kTftpEventFileNotFound) outcome = -2;
      }
      if (outcome == 2 &&
          QDateTime::currentMSecsSinceEpoch() - lastActivityMs_ > settings_.transferIdleMs) {
        outcome = -1;
      }
    }
    return outcome;
  };

  while (!upgradeDone_) {
    switch (upgradeState_) {
      case 1:
        if (waitForStart(settings_.firstStartPollMs)) {
          upgradeState_ = 2;
        } else if (!upgradeDone_) {
          fail(QString());
        }
        break;
      case 2: {
        const int end = waitForEnd();
        if (end == 1) {
          upgradeState_ = 3;
          engine_.AdvanceStep(true);
        } else {
          fail(end == -2 ? lastEventText_ : QString());
        }
        break;
      }
      case 3:
        if (waitForStart(settings_.secondStartPollMs)) {
          upgradeState_ = 4;
        } else if (!upgradeDone_) {
          fail(QString());
        }
        break;
      case 4: {
        const int end = waitForEnd();
        if (end == 1) {
          upgradeState_ = 5;
          engine_.AdvanceStep(true);
          DeleteTftpServer();
        } else if (end == 0) {
          fail(QString::fromLatin1(kClientLostMessage));
        } else {
          fail(end == -2 ? lastEventText_ : QString::fromLatin1(kSecondTransferFailed));
        }
        break;
      }
      case 5:
        WaitPumping(settings_.restartPollMs);
        if (settings_.ping(switchAddress, pingTtl, pingTimeoutMs, kPingDataBytes)) {
          upgradeDone_ = 1;
          engine_.ReportFinalResult(true);
        } else if (++pings > pingRetries) {
          fail(QString());
        }
        break;
      default:
        fail(QString());
        break;
    }
  }
  return result;
}

int InstallSwitchEthernetOnly(const LoadJob& job, WorkFolderList& folders, LoadEngine& engine,
                              const SwitchInstallSettings& settings) {
  SwitchInstaller installer(engine, settings);
  return installer.InstallSwitchEthernetOnly(job, folders);
}

}  // namespace fwl
