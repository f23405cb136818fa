// The Ethernet-only switch install: image location, the bundle work folder,
// the remote-configuration check, the install server and request, and the
// wait that follows the switch's downloads and restart.
#include "switch/switch_install.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

#include "app/settings.h"
#include "catalogue/archive_tool.h"
#include "catalogue/firmware_bundle.h"
#include "catalogue/firmware_names.h"
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

// Whether a switch's revision text is the version loaded: 1 the same (first
// three numbers, a missing one counting 0), 0 another, -1 when the text
// holds no number to compare.
int SameRevision(const QString& fwRev, const QString& version) {
  static const QRegularExpression number(QStringLiteral("\\d+"));
  auto numbers = [](const QString& text) {
    QList<qint64> found;
    for (auto it = number.globalMatch(text); it.hasNext() && found.size() < 3;) {
      found << it.next().captured().left(9).toLongLong();
    }
    return found;
  };
  QList<qint64> running = numbers(fwRev);
  QList<qint64> loaded = numbers(version);
  if (running.isEmpty() || loaded.isEmpty()) return -1;
  while (running.size() < 3) running << 0;
  while (loaded.size() < 3) loaded << 0;
  return running == loaded ? 1 : 0;
}

// The version an image's name carries ("kvimagea_mums3_8_1" -> "3.8.1").
QString ImageVersion(const QString& imagePath) {
  return DisplayVersion(VersionPart(QFileInfo(imagePath).completeBaseName()));
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
    request.onEvent = [this](const TftpEvent& event) { OnTftpEvent(event); };
    request.onStatus = [this](int transferId, const QString& text, int) {
      lastActivityMs_ = QDateTime::currentMSecsSinceEpoch();
      const auto found = transferImage_.find(transferId);
      if (found == transferImage_.end() || found->second == currentRow_) {
        engine_.ReportProgressText(text);
      }
    };
    QString error;
    tftpSession_ = settings_.tftpService->Open(request, &error);
    if (!tftpSession_) {
      ShowMessage(TftpStartFailureMessage(error));
      return -1;
    }
    return 0;
  }
  tftpServer_ = std::make_unique<TftpServer>();
  TftpServer& server = *tftpServer_;
  server.SetListenPort(settings_.tftpPort);
  server.SetBindAddress(settings_.tftpBindAddress);
  server.SetLogCallback([this](const QString& line) { engine_.ReportLine(line); });
  server.SetEventCallback([this](const TftpEvent& event, void*) { OnTftpEvent(event); }, nullptr);
  server.SetStatusCallback(
      [this](int transferId, const QString& text, int, void*) {
        lastActivityMs_ = QDateTime::currentMSecsSinceEpoch();
        // Only the image of the current row shows its progress there; a
        // second download running beside it would make the text jump.
        const auto found = transferImage_.find(transferId);
        if (found == transferImage_.end() || found->second == currentRow_) {
          engine_.ReportProgressText(text);
        }
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
    ShowMessage(TftpStartFailureMessage(server));
    return -1;
  }
  return 0;
}

int SwitchInstaller::InstallSwitchEthernetOnly(const LoadJob& job, WorkFolderList& folders) {
  infoPackageServed_ = false;
  switchAddress_ = job.stationAddress;
  user_ = job.user;
  password_ = job.password;
  QString version;
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
    version = DisplayVersion(bundle->VersionString());
    CloseBundle(bundle);
    boot = WithoutTrailingSeparator(work);
  }

  SwitchIdentifyRequest request{job.stationAddress, job.pcAddress, job.user,
                                job.password,       boot,          filesystem};
  const int identified = IdentifySwitch(request);
  if (identified != 0) return identified;
  boot = request.bootImage;
  filesystem = request.filesystemImage;
  if (version.isEmpty()) version = ImageVersion(filesystem);
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
  SetInstallImages(filesystem, boot, version);
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

void SwitchInstaller::OnTftpEvent(const TftpEvent& event) {
  lastActivityMs_ = QDateTime::currentMSecsSinceEpoch();
  events_.push_back(event);
}

void SwitchInstaller::SetInstallImages(const QString& filesystemImage, const QString& bootImage,
                                       const QString& version) {
  images_[0] = filesystemImage;
  images_[1] = bootImage;
  loadingVersion_ = version;
}

int SwitchInstaller::ImageIndex(const QString& servedPath) const {
  const QString served = QDir::cleanPath(QFileInfo(servedPath).absoluteFilePath());
  for (int i = 0; i < 2; ++i) {
    if (!images_[i].isEmpty() &&
        served == QDir::cleanPath(QFileInfo(images_[i]).absoluteFilePath())) {
      return i;
    }
  }
  return -1;
}

int SwitchInstaller::WaitForSwitchUpgrade(const QString& switchAddress) {
  WaitCursor cursor;
  const int pingRetries =
      GetSettingInt(kSectionEthOnlyLoad, QStringLiteral("ping retry count"), 25);
  const int pingTimeoutMs =
      GetSettingInt(kSectionEthOnlyLoad, QStringLiteral("ping timeout ms"), 5000);
  const int pingTtl = GetSettingInt(kSectionEthOnlyLoad, QStringLiteral("ping ttl"), 10);
  int result = 0;
  transferImage_.clear();
  currentRow_ = 0;
  engine_.ReportStep(0, true);

  auto fail = [&](const QString& message) {
    if (!message.isEmpty()) ShowMessage(message);
    // The step it stopped at stays in the list, marked as the one that failed.
    engine_.ReportFinalResult(false);
    upgradeDone_ = 1;
    result = -1;
  };

  // Each image counts once a transfer of that very file has sent it whole;
  // other files the switch asks for, and repeats, change nothing.
  bool sent[2] = {false, false};
  int running[2] = {0, 0};
  bool fetchedAnything = false;
  qint64 phaseStart = QDateTime::currentMSecsSinceEpoch();
  lastActivityMs_ = phaseStart;
  auto sentCount = [&] { return int(sent[0]) + int(sent[1]); };
  auto neededRunning = [&] { return (!sent[0] && running[0] > 0) || (!sent[1] && running[1] > 0); };

  while (!upgradeDone_ && sentCount() < 2) {
    const int pollMs = std::min(settings_.transferPollMs, 100);
    WaitPumpingUntil([this] { return !events_.empty(); }, settings_.transferPollMs, pollMs);
    while (!upgradeDone_ && !events_.empty()) {
      const TftpEvent event = events_.front();
      events_.pop_front();
      const auto known = transferImage_.find(event.transferId);
      switch (event.kind) {
        case kTftpEventTransferStarted: {
          const int image = ImageIndex(event.filePath);
          transferImage_[event.transferId] = image;
          fetchedAnything = true;
          if (image >= 0) ++running[image];
          break;
        }
        case kTftpEventTransferComplete:
        case kTftpEventClientLost: {
          if (known == transferImage_.end()) break;  // not a transfer of this install
          const int image = known->second;
          transferImage_.erase(known);
          if (image < 0) break;
          --running[image];
          if (event.kind == kTftpEventTransferComplete) {
            if (!sent[image]) phaseStart = QDateTime::currentMSecsSinceEpoch();
            sent[image] = true;
          } else if (!sent[image] && running[image] == 0) {
            // No other transfer of that image is still under way.
            fail(sentCount() == 0 ? QString() : QString::fromLatin1(kClientLostMessage));
          }
          break;
        }
        case kTftpEventFileNotFound:
          fail(event.text);
          break;
        default:
          break;
      }
    }
    if (upgradeDone_) break;
    // The rows follow the images in their order: a boot image sent before
    // the filesystem image is marked once the filesystem image is through.
    while (currentRow_ < 2 && sent[currentRow_]) {
      ++currentRow_;
      engine_.AdvanceStep(true);
    }
    upgradeState_ = sentCount() == 2 ? 5 : 1 + 2 * sentCount() + (neededRunning() ? 1 : 0);
    if (sentCount() == 2) break;

    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (neededRunning()) {
      if (now - lastActivityMs_ > settings_.transferIdleMs) {
        fail(sentCount() == 0 ? QString() : QString::fromLatin1(kSecondTransferFailed));
      }
    } else {
      const int startPollMs =
          sentCount() == 0 ? settings_.firstStartPollMs : settings_.secondStartPollMs;
      if (now - phaseStart > qint64(settings_.startPolls) * startPollMs) {
        // A switch that fetched nothing at all gets no box, as before; one
        // that fetched something else is told which image it left out.
        const int missing = sent[0] ? 1 : 0;
        fail(fetchedAnything ? QString::fromLatin1(kImageNeverFetched)
                                   .arg(QFileInfo(images_[missing]).fileName())
                             : QString());
      }
    }
  }
  if (upgradeDone_) return result;

  DeleteTftpServer();
  int pings = 0;
  while (!upgradeDone_) {
    WaitPumping(settings_.restartPollMs);
    if (settings_.ping(switchAddress, pingTtl, pingTimeoutMs, kPingDataBytes)) {
      QString revision;
      if (!RunsLoadedFirmware(switchAddress, &revision)) {
        fail(QString::fromLatin1(kStillOldFirmware).arg(revision));
      } else {
        upgradeDone_ = 1;
        engine_.ReportFinalResult(true);
      }
    } else if (++pings > pingRetries) {
      fail(QString());
    }
  }
  return result;
}

bool SwitchInstaller::RunsLoadedFirmware(const QString& switchAddress, QString* revision) {
  // A switch answers pings before its web server is up again: the page gets
  // a while, and a page that never answers is no failure (only the ping
  // can be relied upon), just a line for the record.
  SwitchWebTarget target = Target(switchAddress, user_, password_);
  target.limits.showFailure = false;
  QElapsedTimer waited;
  waited.start();
  for (;;) {
    SwitchInfo info;
    const int read = ReadSwitchInfo(target, &info);
    if (read == 0) {
      *revision = info.fwRev;
      engine_.ReportLine(QStringLiteral("Switch after its restart: fwRev=%1").arg(info.fwRev));
      if (loadingVersion_.isEmpty() || SameRevision(info.fwRev, loadingVersion_) != 0) return true;
      return false;
    }
    if (read == -2 || waited.elapsed() >= settings_.infoAfterRestartMs) break;
    WaitPumping(settings_.restartPollMs);
  }
  engine_.ReportLine(
      QStringLiteral("The switch's information page did not answer after its restart; its "
                     "firmware revision was not checked."));
  return true;
}

int InstallSwitchEthernetOnly(const LoadJob& job, WorkFolderList& folders, LoadEngine& engine,
                              const SwitchInstallSettings& settings) {
  SwitchInstaller installer(engine, settings);
  return installer.InstallSwitchEthernetOnly(job, folders);
}

}  // namespace fwl
