// The Ethernet-only controller upgrade: the running station is asked over
// the station link for its flash layout, processor and firmware build, gets
// an update configuration file and runs its update script, then restarts
// into its updater and fetches the images from this computer's TFTP server.
#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <optional>

#include "catalogue/archive_tool.h"
#include "catalogue/firmware_bundle.h"
#include "catalogue/firmware_names.h"
#include "catalogue/work_folder_list.h"
#include "engine/firmware_selection.h"
#include "engine/load_engine.h"
#include "engine/load_parameter_file.h"
#include "platform/ui.h"
#include "station/ethernet_upgrade_text.h"
#include "station/station_link.h"
#include "tftp/tftp_server.h"
#include "tftp/tftp_service.h"

namespace fwl {
namespace {

constexpr char kMsgOpenForHardware[] =
    "Failed to open communications while attempting to determine hardware components.";
constexpr char kMsgHardware[] = "Unable to determine hardware components.";
constexpr char kMsgCpu[] = "Unable to determine CPU type.";
constexpr char kMsgBuild[] = "Unable to determine overall firmware build.";
constexpr char kMsgNeed16[] =
    "Firmware versions 1.6 and greater are needed to load firmware using Ethernet only. Please "
    "use the method which uses both Ethernet and serial communications.";
constexpr char kMsgBelow31[] =
    "Unable to load versions less than 3.1. It may be possible to load this version using the "
    "serial port method. Since the Ethernet Only method has been selected, it is not possible to "
    "determine critical hardware components that are not compatible with older firmware.";
constexpr char kMsgCreateConfig[] = "Unable to create update configuration file.";
constexpr char kMsgWriteConfig[] = "Failed while writing update file.";
constexpr char kMsgOpenForConfig[] =
    "Failed to open communications while attempting to load fwupdate.config file.";
constexpr char kMsgScriptFailed[] = "Unable to execute the station's update script.";

constexpr char kCommandMtd[] = "cat /proc/mtd";
constexpr char kCommandCpu[] = "cat /proc/cpuinfo";
constexpr char kCommandBuild[] = "cat /etc/korvidinfo.txt";
constexpr char kCommandUpdate[] = "/usr/local/bin/kvfwupdate";
constexpr char kConfigPath[] = "/tmp/fwupdate.config";

constexpr int kChosenBufferSize = 512;
constexpr int kAddressBufferSize = 100;
constexpr uint32_t kAnySerialNumber = 0xFFFFFFFF;

void Message(const QString& text) { ShowMessage(text, QString(), UiIcon::kWarning); }
void Message(const char* text) { Message(QString::fromLatin1(text)); }

bool StartsWithCat(const QString& text) {
  return text.left(4).compare(QLatin1String("cat:"), Qt::CaseInsensitive) == 0;
}

class EthernetUpgrade {
 public:
  EthernetUpgrade(LoadEngine& engine, const QString& options)
      : engine_(engine),
        link_(*engine.stationLink),
        options_(options),
        folders_(engine.workFolderList ? *engine.workFolderList : ownFolders_.emplace()) {}

  int Run() {
    const bool ok = Upgrade();
    if (planAnnounced_) engine_.ReportFinalResult(ok);
    if (engine_.tftpServer) {
      engine_.tftpServer->Stop();
      engine_.tftpServer.reset();
    }
    engine_.tftpSession.reset();
    link_.Close();
    return ok ? 1 : 0;
  }

 private:
  bool Upgrade() {
    const QString section = QString::fromLatin1(kSectionTftpParameters);
    engine_.tftpMode = 0;

    // Which file is loaded.
    QString chosen = ReadLoadParameter(QString::fromLatin1(kSectionPpcLoadFiles),
                                       QString::fromLatin1(kKeyFlashFsFilename), kChosenBufferSize);
    if (ChooseFromArchive(archive_, chosen) <= 0) return false;
    const bool isBundle = IsBundlePath(chosen);
    QString bootImage = isBundle ? QString() : BootImagePathFor(chosen);
    const QString newVersion = VersionFromFileName(chosen);

    // What the station is made of.
    link_.SetUseAlternateAddress(false);
    const QString stationAddress = ReadLoadParameter(section, kKeyIpAddr, kAddressBufferSize);
    link_.SetAddress(stationAddress);
    link_.SetTimeout(2.0f);
    link_.SetRetries(2);
    link_.SetProtocol(QStringLiteral("LNK"));
    link_.SetDevice(QStringLiteral("Ethernet"));
    link_.SetFormatFlags(false, false);
    link_.SetUseLibrary(true);
    link_.SetDestination(true, -1);
    if (!link_.Open(engine_.ownerWindow)) return Fail(kMsgOpenForHardware);
    engine_.ReportStep(0, true);

    QString reply;
    int status = -1;
    if (!link_.RunStationCommand(0, QString::fromLatin1(kCommandMtd), &reply, &status) ||
        status != 0 || reply.size() < 4 || StartsWithCat(reply)) {
      return Fail(kMsgHardware);
    }
    const bool hasMtd5 = reply.contains(QLatin1String("mtd5:"));

    reply.clear();
    status = -1;
    quint32 letter = 0;
    if (link_.RunStationCommand(0, QString::fromLatin1(kCommandCpu), &reply, &status) &&
        status == 0) {
      letter = CpuLetterFromCpuInfo(reply);
    }
    if (letter == 0) return Fail(kMsgCpu);
    link_.Close();

    if (options_.contains(QLatin1String("-NUM_TFTP=2"))) {
      if (!isBundle) bootImage = BootImagePathFor(chosen);
      engine_.tftpMode = 6;
    }
    UpdateConfig config;
    config.gateway = ReadLoadParameter(section, kKeyGatewayIp, kTftpKeyBufferSize);
    config.netmask = ReadLoadParameter(section, kKeySubnet, kTftpKeyBufferSize);
    config.serverIp = ReadLoadParameter(section, kKeyTftpServerIp, kTftpKeyBufferSize);
    config.ipAddress = stationAddress;
    config.dhcp = options_.contains(QLatin1String("-DHCP"));
    config.sixImage = engine_.tftpMode == 6;

    QString fsImage = chosen;
    if (isBundle) {
      BundleImages images;
      if (!UnpackBundleImages(chosen, letter, engine_.tftpMode == 6, false, folders_, images)) {
        return Fail(nullptr);
      }
      fsImage = images.fsImage;
      bootImage = images.bootImage;
    }
    config.fsImage = fsImage;
    config.bootImage = bootImage;
    // The station fetches the file-system image, and the boot image when
    // it has the boot partition; each must be there before the station is
    // told to fetch it, or it is reset into an update it cannot finish.
    if (!CheckImages(fsImage, hasMtd5 ? bootImage : QString())) return false;

    std::vector<LoadStep> steps;
    steps.push_back({QStringLiteral("Verify firmware version"), 0, 1});
    steps.push_back({QStringLiteral("Create update cfg file"), 0, 1});
    steps.push_back({QStringLiteral("Execute update script"), 0, 1});
    steps.push_back({QStringLiteral("Transfer filesystem image"), FileSize(fsImage), 0});
    if (hasMtd5) steps.push_back({QStringLiteral("Transfer boot image"), FileSize(bootImage), 0});
    steps.push_back({QStringLiteral("Wait for station to perform upgrade"), 0, 1});
    engine_.AnnouncePlan(steps);
    planAnnounced_ = true;

    // Verify firmware version.
    if (!link_.Open(engine_.ownerWindow)) return Fail(kMsgBuild);
    reply.clear();
    status = -1;
    if (!link_.RunStationCommand(0, QString::fromLatin1(kCommandBuild), &reply, &status) ||
        status != 0 || StartsWithCat(reply)) {
      return Fail(kMsgBuild);
    }
    const QString build = RunningBuild(reply);
    engine_.ReportLine(QStringLiteral("Station firmware build: %1").arg(build));
    QString dotted = newVersion;
    dotted.replace(QLatin1Char('_'), QLatin1Char('.'));
    if (CompareVersions(build, QStringLiteral("1.6")) < 0) return Fail(kMsgNeed16);
    if (CompareVersions(build, QStringLiteral("3.1.999")) >= 0 &&
        CompareVersions(dotted, QStringLiteral("3.1.999")) < 0) {
      return Fail(kMsgBelow31);
    }
    const QByteArray text = UpdateConfigText(config);

    // Create update cfg file.
    engine_.ReportStep(1, true);
    if (!link_.IsOpen() && !link_.Open(engine_.ownerWindow)) return Fail(kMsgOpenForConfig);
    link_.DeleteStationFile(QString::fromLatin1(kConfigPath));
    uint32_t handle = 0;
    status = -1;
    if (!link_.CreateStationFile(3, 0, QString::fromLatin1(kConfigPath), &status, &handle) ||
        status != 0) {
      return Fail(kMsgCreateConfig);
    }
    for (int offset = 0; offset < text.size(); offset += kMaxStationBlock) {
      const int count = std::min<int>(kMaxStationBlock, int(text.size()) - offset);
      if (!link_.WriteStationBlock(handle, uint32_t(offset), text.constData() + offset, count,
                                   nullptr)) {
        return Fail(kMsgWriteConfig);
      }
    }

    // Execute update script. Its reply text, when there is one, is its
    // error report; a script that could not be run at all fails too rather
    // than resetting the station into an update nobody prepared.
    engine_.ReportStep(2, true);
    reply.clear();
    status = -1;
    if (!link_.RunStationCommand(0, QString::fromLatin1(kCommandUpdate), &reply, &status) ||
        status != 0) {
      return Fail(kMsgScriptFailed);
    }
    if (!reply.isEmpty()) return Fail(reply);

    // Transfers: the station restarts into its updater and fetches the
    // images named in the configuration file.
    engine_.ReportStep(3, true);
    engine_.ClearTransferEvents();
    if (engine_.tftpService) {
      QString error;
      if (!OpenSharedSession(fsImage, bootImage, stationAddress, &error)) {
        return Fail(TftpStartFailureMessage(error));
      }
    } else if (!StartServer(fsImage)) {
      return Fail(TftpStartFailureMessage(*engine_.tftpServer));
    }
    if (!link_.ResetStation(kAnySerialNumber, 1)) {
      engine_.ReportLine(QStringLiteral("The station did not confirm the reset request."));
    }
    // Each transfer step counts only for its own image, sent whole.
    engine_.expectedTransferFiles = QStringList{fsImage};
    if (hasMtd5) engine_.expectedTransferFiles << bootImage;
    engine_.waitState = 1;
    return engine_.WaitForTransfers(hasMtd5) > 0;
  }

  // Reads every image the station will fetch once (the load record lists
  // each with its size and digests) and refuses a missing, unreadable,
  // non-regular or empty one with a message that names it.
  bool CheckImages(const QString& fsImage, const QString& bootImage) {
    engine_.imageDigests.clear();
    const std::pair<const char*, QString> images[] = {{"file system image", fsImage},
                                                      {"boot image", bootImage}};
    for (const auto& [role, path] : images) {
      if (path.isEmpty()) continue;
      ImageDigest digest;
      const QFileInfo info(path);
      const char* problem = nullptr;
      if (!info.exists()) {
        problem = "does not exist";
      } else if (!info.isFile()) {
        problem = "is not a regular file";
      } else if (!DigestFile(path, digest)) {
        problem = "cannot be read";
      } else if (digest.size == 0) {
        problem = "is empty";
      }
      digest.path = path;
      engine_.imageDigests.push_back(digest);
      if (problem) {
        return Fail(
            QStringLiteral("The %1 %2 %3. Nothing was changed on the station.")
                .arg(QLatin1String(role), QDir::toNativeSeparators(path), QLatin1String(problem)));
      }
    }
    return true;
  }

  bool StartServer(const QString& fsImage) {
    engine_.tftpServer = std::make_unique<TftpServer>();
    TftpServer& server = *engine_.tftpServer;
    server.SetListenPort(engine_.tftpListenPort);
    if (!engine_.tftpBindAddress.isEmpty()) {
      server.SetBindAddress(QHostAddress(engine_.tftpBindAddress));
    }
    LoadEngine* engine = &engine_;
    server.SetStatusCallback(
        [engine](int, const QString& text, int, void*) {
          engine->NoteTransferActivity();
          if (engine->progressCallback) engine->ReportProgressText(text);
        },
        nullptr);
    server.SetEventCallback(
        [engine](const TftpEvent& event, void*) { engine->OnTftpEvent(event); },
        nullptr);
    server.SetPercentOnly(1);
    const QString folder = QFileInfo(fsImage).absolutePath() + QLatin1Char('/');
    server.SetOutboundFolder(folder);
    server.SetInboundFolder(folder);
    server.SetRetries(2);
    server.SetTimeout(3);
    server.PreloadFile(fsImage);
    return server.Start() >= 0;
  }

  // The batch's shared server: the station's requests come to this upgrade.
  bool OpenSharedSession(const QString& fsImage, const QString& bootImage,
                         const QString& stationAddress, QString* error) {
    LoadEngine* engine = &engine_;
    TftpSessionRequest request;
    request.clientAddress = stationAddress;
    request.folder = QFileInfo(fsImage).absolutePath() + QLatin1Char('/');
    request.preload << fsImage;
    if (!bootImage.isEmpty() && QFileInfo(bootImage).isFile()) request.preload << bootImage;
    request.onEvent = [engine](const TftpEvent& event) { engine->OnTftpEvent(event); };
    request.onStatus = [engine](int, const QString& text, int) {
      engine->NoteTransferActivity();
      if (engine->progressCallback) engine->ReportProgressText(text);
    };
    engine_.tftpSession = engine_.tftpService->Open(request, error);
    return engine_.tftpSession != nullptr;
  }

  static int FileSize(const QString& path) {
    const qint64 size = QFileInfo(path).size();
    return size > INT_MAX ? INT_MAX : int(size);
  }

  // Shows `text` (nothing for null: the failure was shown already).
  bool Fail(const char* text) {
    if (text) Message(text);
    return false;
  }
  bool Fail(const QString& text) {
    Message(text);
    return false;
  }

  LoadEngine& engine_;
  StationLink& link_;
  QString options_;
  std::optional<WorkFolderList> ownFolders_;
  WorkFolderList& folders_;
  ArchiveTool archive_;
  bool planAnnounced_ = false;
};

}  // namespace

int LoadEngine::UpgradeOverEthernet(const QString& options) {
  if (!stationLink) return 0;
  EthernetUpgrade upgrade(*this, options);
  return upgrade.Run();
}

}  // namespace fwl
