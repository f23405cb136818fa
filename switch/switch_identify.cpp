// Switch identification: the information package download through a
// CTFTPThread, the information page, the firmware-version and board checks,
// and the choice (or extraction from a bundle) of the images for the board.
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "app/settings.h"
#include "catalogue/firmware_bundle.h"
#include "engine/load_engine.h"
#include "platform/ui.h"
#include "platform/wait_pumping.h"
#include "switch/switch_install.h"
#include "tftp/tftp_server.h"
#include "tftp/tftp_service.h"
#include "tftp/tftp_thread.h"

namespace fwl {
namespace {

constexpr char kNoInfoPage[] =
    "Unable to retrieve current firmware version. Make sure the switch is running 3.7 or higher, "
    "and that switchinfo.tgz is available in the firmware directory.";
constexpr char kOldFirmware[] =
    "The current firmware version running in the switch (%1) does not support Ethernet-Only "
    "firmware loading (3.7 and up is required). Please use the Serial/Ethernet loading method.";
constexpr char kHardwareMismatch[] =
    "The hardware type does not match the selected firmware file. The following files are "
    "required by the hardware type and could not be found:\n\n";
constexpr char kUnreadableFirmware[] = "Unable to read firmware.";
// How long the information package server may take to open its socket.
constexpr int kServerStartWaitMs = 5000;

bool IsBundlePath(const QString& path) {
  return path.toLower().endsWith(OemString(kOemBundleExtension));
}

QString FolderOf(const QString& path) {
  return QDir::toNativeSeparators(QFileInfo(path).absolutePath() + QDir::separator());
}

int FileSize(const QString& path) {
  const qint64 size = QFileInfo(path).size();
  return size > 0 && size < (qint64(1) << 31) ? int(size) : 0;
}

}  // namespace

void SwitchInstaller::SetSwitchSteps(const QString& filesystemImage, const QString& bootImage) {
  std::vector<LoadStep> steps;
  steps.push_back({QStringLiteral("Transfer filesystem image"), FileSize(filesystemImage), 0});
  steps.push_back({QStringLiteral("Transfer boot image"), FileSize(bootImage), 0});
  steps.push_back({QStringLiteral("Wait for switch to perform upgrade"), 0, 1});
  engine_.AnnouncePlan(steps);
}

void SwitchInstaller::StopInfoThread() {
  infoSession_.reset();
  if (!infoThread_) return;
  // Its one download is over (or will not come); the install's own server
  // needs the port.
  infoThread_->RequestStop();
  infoThread_->quit();
  infoThread_->wait();
  infoThread_.reset();
  infoContext_.reset();
}

bool SwitchInstaller::WaitForInfoPackage() {
  for (int second = 0; second < settings_.infoPackagePolls && !infoPackageServed_; ++second) {
    WaitPumpingUntil([this] { return infoPackageServed_; }, settings_.infoPackagePollMs);
  }
  return infoPackageServed_;
}

int SwitchInstaller::IdentifySwitch(SwitchIdentifyRequest& request) {
  struct ThreadStop {
    SwitchInstaller* self;
    ~ThreadStop() { self->StopInfoThread(); }
  } threadStop{this};

  const bool bundle = IsBundlePath(request.filesystemImage);
  StopInfoThread();
  const QString infoFolder = bundle
                                 ? QDir::toNativeSeparators(request.bootImage + QDir::separator())
                                 : FolderOf(request.filesystemImage);
  if (settings_.tftpService) {
    // The shared server serves the package to this switch; its one download
    // ends the wait as the information thread's shutdown would.
    TftpSessionRequest session;
    session.clientAddress = request.switchAddress;
    session.folder = infoFolder;
    session.onEvent = [this](const TftpEvent& event) {
      if (event.kind == kTftpEventTransferComplete || event.kind == kTftpEventFileNotFound) {
        infoPackageServed_ = true;
      }
    };
    QString error;
    infoSession_ = settings_.tftpService->Open(session, &error);
    if (!infoSession_) {
      ShowMessage(TftpStartFailureMessage(error));
      return -1;
    }
    return IdentifyWithServer(request, bundle);
  }
  infoContext_ = std::make_unique<QObject>();
  infoThread_ = std::make_unique<CTFTPThread>();
  infoThread_->SetFolder(infoFolder);
  infoThread_->SetListenPort(settings_.tftpPort);
  infoThread_->SetBindAddress(settings_.tftpBindAddress);
  infoThread_->SetRetransmitInterval(settings_.tftpRetransmitMs);
  QObject::connect(
      infoThread_.get(), &CTFTPThread::Shutdown, infoContext_.get(),
      [this] { infoPackageServed_ = true; }, Qt::QueuedConnection);
  infoThread_->start();
  // The switch fetches as soon as it has answered; the server must be up.
  WaitPumpingUntil([this] { return infoThread_->StartResult() != 1; }, kServerStartWaitMs);
  if (infoThread_->StartResult() < 0) {
    // Nothing could serve the package: say why, not that the switch is old.
    ShowMessage(TftpStartFailureMessage(infoThread_->StartFailureReason()));
    return -1;
  }
  return IdentifyWithServer(request, bundle);
}

int SwitchInstaller::IdentifyWithServer(SwitchIdentifyRequest& request, bool bundle) {
  const SwitchWebTarget target = Target(request.switchAddress, request.user, request.password);
  const int sent = SendSwitchInfoPackage(target, request.pcAddress);
  if (sent == -2) return -1;
  if (sent == -1) {
    infoPackageServed_ = true;  // no update page: the information page may exist already
  } else if (!WaitForInfoPackage()) {
    // Without the package the switch cannot be identified; no install may
    // start on a guess.
    ShowMessage(QString::fromLatin1(kNoInfoPage));
    return -1;
  }

  SwitchInfo info;
  const int read = ReadSwitchInfo(target, &info);
  if (read == -2) {
    ShowMessage(QString::fromLatin1(kNoInfoPage));
    return -1;
  }
  if (read != 0) return -1;
  engine_.ReportLine(
      QStringLiteral("Switch: %1 boardId=%2 fwRev=%3").arg(info.kvid, info.boardId, info.fwRev));

  if (!SupportsEthernetOnlyLoad(info.fwRev)) {
    ShowMessage(QString::fromLatin1(kOldFirmware).arg(info.fwRev));
    return -2;
  }
  const int board = BoardIndexFromId(info.boardId);
  if (board == kSwitchBoardUnknown) {
    ShowMessage(QStringLiteral("Unknown architecture found ") + info.boardId + QStringLiteral("."));
    return -2;
  }
  const int chosen =
      bundle ? IdentifyFromBundle(request, info, board) : IdentifyFromImages(request, board);
  if (chosen != 0) return chosen;
  SetSwitchSteps(request.filesystemImage, request.bootImage);
  return 0;
}

int SwitchInstaller::IdentifyFromImages(SwitchIdentifyRequest& request, int board) {
  const BoardImageNamesResult names = BoardImageNames(board, request.filesystemImage);
  if (names.alreadyFits || names.filesystemName.isEmpty()) return 0;
  const QString folder = FolderOf(request.filesystemImage);
  QString missing;
  if (!QFileInfo::exists(folder + names.filesystemName)) {
    missing = names.filesystemName;
  } else if (!QFileInfo::exists(folder + names.bootName)) {
    missing = names.bootName;
  }
  if (!missing.isEmpty()) {
    ShowMessage(QString::fromLatin1(kHardwareMismatch) + missing + QStringLiteral("\n"));
    return -1;
  }
  request.filesystemImage = folder + names.filesystemName;
  request.bootImage = folder + names.bootName;
  if (settings_.firmwareChanged) settings_.firmwareChanged(request.filesystemImage);
  return 0;
}

int SwitchInstaller::IdentifyFromBundle(SwitchIdentifyRequest& request, const SwitchInfo& info,
                                        int board) {
  std::unique_ptr<FirmwareBundle> bundle = OpenBundle(request.filesystemImage);
  if (!bundle) return 0;  // the paths stay; serving them will fail visibly
  const QString oem = bundle->RootName();
  if (!oem.isEmpty() && oem != SwitchOemName(info.kvid)) {
    ShowMessage(QStringLiteral("This is not a %1 switch!").arg(oem));
    return -2;
  }
  const QString folder = request.bootImage;
  const QString filesystemPath = QDir::toNativeSeparators(folder + QDir::separator() + "image");
  const QString bootPath = QDir::toNativeSeparators(folder + QDir::separator() + "imageb");
  const quint32 section = BoardBundleSection(board);
  const BundleNode* boot = FindBundleEntry(*bundle, section, kTagImageBoot);
  const BundleNode* filesystem = FindBundleEntry(*bundle, section, kTagImage);
  if (!boot || !filesystem || ExtractBundleEntry(*bundle, *boot, bootPath) != 0 ||
      ExtractBundleEntry(*bundle, *filesystem, filesystemPath) != 0) {
    ShowMessage(QString::fromLatin1(kUnreadableFirmware));
    return -2;
  }
  request.bootImage = bootPath;
  request.filesystemImage = filesystemPath;
  return 0;
}

}  // namespace fwl
