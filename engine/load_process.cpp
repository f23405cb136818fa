// The serial load process: from the dispatcher's option string and the load
// parameter file to a programmed unit — power-up, catch, board and firmware
// checks, image preparation (archives, bundles) and the choice of flash plan.
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <algorithm>
#include <optional>

#include "app/settings.h"
#include "catalogue/archive_tool.h"
#include "catalogue/firmware_bundle.h"
#include "catalogue/firmware_names.h"
#include "catalogue/work_folder_list.h"
#include "console/usb_modem_port.h"
#include "engine/firmware_selection.h"
#include "engine/load_engine.h"
#include "engine/load_parameter_file.h"
#include "platform/ini_file.h"
#include "platform/system_folders.h"
#include "platform/ui.h"

namespace fwl {
namespace {

constexpr uint32_t kFsRegionSize = 0x780000;
constexpr uint32_t kExpectedNorSize = 0x800000;
constexpr uint32_t kNewPlanNorFsAddress = 0x200000;

// Lowest firmware a unit with the "ST " NAND marker takes, and lowest
// firmware the new (NAND) plan takes.
constexpr char kStMinimumVersion[] = "3.1.999";
constexpr char kNandPlanMinimumVersion[] = "1.5.100";

constexpr char kMsgNoCommunications[] = "Unable to establish communications.";
constexpr char kMsgStVersion[] =
    "This station cannot accept firmware versions less than 3.1 due to hardware limitations.";
constexpr char kMsgNeedImageA[] =
    "The selected firmware image is not compatible with the processor. Please select an image "
    "file name that begins with kvimagea_*.";
constexpr char kMsgNeedImage9[] =
    "The selected firmware image is not compatible with the processor. Please select an image "
    "file name that begins with kvimage9_*.";
constexpr char kMsgIncompatible[] =
    "The selected firmware image is not compatible with the processor.";
constexpr char kMsgOldNandFirmware[] =
    "The selected hardware type cannot accept firmware versions less than 1.5";
constexpr char kLineUnexpectedFlash[] = "Unexpected FLASH configuration found during Load Process.";

struct BoardEntry {
  int code;
  uint32_t fsFlashAddress;
  uint32_t tempRamAddress;
  quint32 imageLetter;  // the bundle folder holding this processor's images
};

constexpr BoardEntry kBoards[] = {
    {kBoardPowerPc855T, 0xF8080000, 0x00100000, kTagCpuA},
    {kBoardKvni79524, 0x44080000, 0x00100000, kTagCpuB},
    {kBoardArm9, 0x44080000, 0x20100000, kTagCpuC},
};

const BoardEntry* FindBoard(int code) {
  for (const BoardEntry& board : kBoards) {
    if (board.code == code) return &board;
  }
  return nullptr;
}

void Message(const char* text) {
  ShowMessage(QString::fromLatin1(text), QString(), UiIcon::kWarning);
}

// Version of a firmware file with dots, compared by its numeric fields.
bool VersionBelow(const QString& path, const char* minimum) {
  QString version = VersionFromFileName(path);
  version.replace(QLatin1Char('_'), QLatin1Char('.'));
  return CompareVersions(version, QString::fromLatin1(minimum)) < 0;
}

// Asks the operator to switch the unit off and on, opens the port and
// catches the boot monitor. 1 when caught, -1 failed, -2 cancelled. With a
// catch limit the port opening and the catch together end at that limit
// (engine.catchTimedOut tells so).
int PowerUp(LoadEngine& engine, ComPort& port) {
  Ui& ui = Ui::Current();
  if (ui.MessageBox(QStringLiteral("Please turn power to the unit OFF now, then click OK"),
                    QStringLiteral("Turn Power OFF"), UiIcon::kNone, UiButtons::kOk) != kAnswerOk) {
    return -2;
  }
  int result = 1;
  ui.ShowPrompt(QStringLiteral("Turn Power ON"),
                QStringLiteral("Turn the power ON to begin loading firmware now."));
  const int limitMs = engine.catchLimitMs;
  QElapsedTimer sincePrompt;
  sincePrompt.start();
  auto limitPassed = [&] { return limitMs > 0 && sincePrompt.elapsed() >= limitMs; };
  int failedAttempts = 0;
  while (!engine.OpenComPort(port)) {
    if (ui.PromptCancelled()) {
      result = -2;
      break;
    }
    engine.WaitPumping(engine.planTimings.powerOnPollMs);
    if (++failedAttempts >= engine.planTimings.powerOnAttempts || limitPassed()) {
      result = -1;
      engine.catchTimedOut = limitPassed();
      break;
    }
  }
  ui.ClosePrompt();
  if (port && result == 1) {
    // A USB adapter is caught within its own time; the prompted catch waits
    // for the operator unless a limit is set. Either way the limit holds.
    const int remainingMs =
        limitMs > 0 ? std::max<int>(1, limitMs - int(sincePrompt.elapsed())) : 0;
    int timeoutMs = remainingMs;
    if (engine.usbSerial) {
      timeoutMs = engine.planTimings.catchTimeoutMs;
      if (limitMs > 0) timeoutMs = std::min(timeoutMs, remainingMs);
    }
    if (!engine.CatchBootMonitor(port, timeoutMs, !engine.usbSerial)) {
      result = -1;
      engine.catchTimedOut = limitPassed();
    }
  }
  return result;
}

// Steps after the power-up: everything up to and including the plan. The
// port stays open for the caller to close. Returns the run's result.
bool LoadOnCaughtUnit(LoadEngine& engine, ComPort& port, const QString& options,
                      WorkFolderList& folders, ArchiveTool& archive) {
  engine.phaseName = QStringLiteral("Catch boot loader");
  QByteArray reply;
  if (!engine.WritePort(port, QByteArrayLiteral("nand info\r")) ||
      !engine.CollectReply(port, QByteArrayLiteral("=>"), reply, kReplyBufferSize,
                           engine.planTimings.nandInfoMs)) {
    return false;
  }
  const bool stMark = reply.contains("ST ");

  engine.phaseName = QStringLiteral("Detect board ID");
  const BoardEntry* board = FindBoard(engine.boardCode);
  if (!board) return false;

  engine.phaseName = QStringLiteral("Determine compatibility");
  QString chosen =
      ReadLoadParameter(QString::fromLatin1(kSectionPpcLoadFiles),
                        QString::fromLatin1(kKeyFlashFsFilename), kFlashFsFilenameBufferSize);
  if (chosen.isEmpty()) return false;
  if (ChooseFromArchive(archive, chosen) <= 0) return false;
  const bool isBundle = IsBundlePath(chosen);

  if (stMark && VersionBelow(chosen, kStMinimumVersion)) {
    Message(kMsgStVersion);
    port = engine.ResetAndReopen(port);
    return false;
  }
  if (!isBundle) {
    // Only the file name says which processor an image is for; a folder
    // name must not make an image look compatible.
    const QString name = QFileInfo(chosen).fileName();
    const char* refusal = nullptr;
    if (engine.boardCode == kBoardKvni79524) {
      if (!name.contains(QLatin1String("kvimagea_"))) refusal = kMsgNeedImageA;
    } else if (engine.boardCode == kBoardArm9) {
      if (!name.contains(QLatin1String("kvimage9_"))) refusal = kMsgNeedImage9;
    } else if (!name.contains(QLatin1String("kvimage_")) &&
               !name.contains(QLatin1String("kvimage6_"))) {
      refusal = kMsgIncompatible;
    }
    if (refusal) {
      engine.WritePort(port, QByteArrayLiteral("reset\r"));
      Message(refusal);
      return false;
    }
  }

  engine.phaseName = QStringLiteral("Initializing TFTP parameters");
  QString secondImage;
  if (options.contains(QLatin1String("-NUM_TFTP=2"))) {
    engine.tftpMode = 6;
    secondImage = BootImagePathFor(chosen);
  }
  if (isBundle) {
    BundleImages images;
    if (!UnpackBundleImages(chosen, board->imageLetter, engine.tftpMode == 6, true, folders,
                            images)) {
      return false;
    }
    chosen = images.fsImage;
    secondImage = images.bootImage;
  }

  engine.tempRamAddress = board->tempRamAddress;
  engine.fsImagePath = chosen;
  engine.fsRegionSize = kFsRegionSize;
  engine.bootImagePath = engine.tftpMode == 6 ? secondImage : QString();
  engine.useBootImage = engine.tftpMode == 6;
  engine.norFlashSize = 0;

  engine.phaseName = QStringLiteral("Check NAND info");
  uint32_t nandSize = 0;
  const bool nandQueried = engine.GetNandSize(port, nandSize);
  engine.nandFlashSize = nandQueried ? nandSize : 0;
  const uint32_t address = board->fsFlashAddress;

  if (!nandQueried) {
    engine.norFsAddress = address;
    engine.norBootAddress = 0;
    return engine.ClassicLoadProcess(port);
  }
  const bool oldFirmware = VersionBelow(chosen, kNandPlanMinimumVersion);
  if (nandSize == 0 || oldFirmware) {
    engine.phaseName = QStringLiteral("Check NOR info");
    uint32_t norSize = 0;
    if (!engine.GetNorInfo(port, norSize) || norSize != kExpectedNorSize) {
      engine.ReportLine(QString::fromLatin1(kLineUnexpectedFlash));
      if (nandSize != 0) Message(kMsgOldNandFirmware);
      return false;
    }
    engine.norFsAddress = nandSize == 0 ? address : 0;
    engine.norBootAddress = nandSize == 0 ? 0 : address;
    return engine.ClassicLoadProcess(port);
  }
  engine.phaseName = QStringLiteral("Check NOR info");
  const bool norQueried = engine.GetNorInfo(port, engine.norFlashSize);
  engine.useBootImage = true;
  engine.bootImagePath = isBundle ? secondImage : BootImagePathFor(chosen);
  engine.norBootAddress = address;
  engine.norFsAddress = kNewPlanNorFsAddress;
  if (!norQueried) return false;
  return engine.NewLoadProcess(port);
}

}  // namespace

int LoadEngine::Run(const QString& options) {
  ArchiveTool archive;
  dhcp = options.contains(QLatin1String("-DHCP")) ? 1 : 0;
  if (options.contains(QLatin1String("-ETH_ONLY"))) {
    if (ethernetOnlyUpgrade) return ethernetOnlyUpgrade(*this, options);
    return UpgradeOverEthernet(options);
  }

  // Bundle images live in folders of the dispatcher's list; a run of its own
  // removes them when it returns.
  std::optional<WorkFolderList> ownFolders;
  WorkFolderList& folders = workFolderList ? *workFolderList : ownFolders.emplace();

  ReportLine(QStringLiteral("Loading FLASH file system file..."));
  phaseName = QStringLiteral("Initializing load parameters");
  tftpMode = 0;
  catchTimedOut = false;
  const QString comPort = ReadLoadParameter(QString::fromLatin1(kSectionDevice),
                                            QString::fromLatin1(kKeyComport), kComportBufferSize);
  usbSerial = IsUsbModemPort(comPort) ? 1 : 0;

  phaseName = QStringLiteral("Open COM port");
  ComPort port = nullptr;
  bool ok = false;
  if (PowerUp(*this, port) < 0) {
    Message(kMsgNoCommunications);
  } else {
    ok = LoadOnCaughtUnit(*this, port, options, folders, archive);
  }
  CloseComPort(port);
  ReportLine(ok ? QStringLiteral("Completed loading Flash File System file.")
                : QStringLiteral("Failed to load new Flash File System file!"));
  return ok ? 1 : 0;
}

}  // namespace fwl
