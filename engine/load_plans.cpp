// The flash programming plans: the classic plan for units whose file system
// lives in NOR flash (or whose firmware predates NAND support) and the new
// plan for NAND units, each an announced list of steps reported one by one,
// followed by the reset and restart countdown.
#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <climits>
#include <cstdint>
#include <vector>

#include "app/settings.h"
#include "engine/load_engine.h"
#include "platform/ui.h"
#include "platform/wait_pumping.h"
#include "station/station_link.h"
#include "tftp/tftp_server.h"
#include "tftp/tftp_service.h"

namespace fwl {
namespace {

constexpr uint32_t kCleanMarkerBlock = 0x10000;
constexpr uint32_t kMaxBootImageSize = 0x200000;
constexpr uint32_t kExpectedNorSize = 0x800000;
constexpr uint32_t kNorBootRegionSize = 0x40000;

// NAND offsets of the new plan per board: file system, boot image, and the
// first erased byte.
constexpr uint32_t kNandFsOffsetBoard10 = 0x200000;
constexpr uint32_t kNandFsOffset = 0x280000;
constexpr uint32_t kNandBootOffset = 0x80000;
constexpr uint32_t kNandEraseStart = 0x80000;
constexpr uint32_t kNandEraseSizeBoard20 = 0xF80000;

constexpr char kPpcBoot[] = "PPCBoot";

// The read-back checks of the written images, steps of their own.
constexpr char kVerifyFsStep[] = "Verify filesystem image";
constexpr char kVerifyBootStep[] = "Verify boot image";

// The step's byte count; files beyond the int range (no image is) are
// shown at the largest count.
int FileSizeOf(const QString& path) {
  const QFileInfo info(path);
  return info.exists() ? static_cast<int>(std::min<qint64>(info.size(), INT_MAX)) : 0;
}

LoadStep TransferStep(const char* name, const QString& path) {
  return LoadStep{QString::fromLatin1(name), FileSizeOf(path), 0};
}

LoadStep CommandStep(const char* name) { return LoadStep{QString::fromLatin1(name), 0, 1}; }

// The clean markers go into every 64 KiB erase block between the end of the
// copied image and the end of the region. Worked in 64 bits so an image
// that fills the region (or a region at the top of the address space) gives
// an empty range rather than a wrapped one.
struct CleanMarkerRange {
  uint32_t start = 0;
  uint32_t count = 0;
};

CleanMarkerRange CleanMarkersAbove(uint32_t address, uint32_t imageSize, uint32_t regionSize) {
  const uint64_t start = (uint64_t{address} + imageSize + 0xFFFF) & ~uint64_t{0xFFFF};
  const uint64_t end = uint64_t{address} + regionSize;
  CleanMarkerRange range;
  range.start = static_cast<uint32_t>(start);
  range.count = end > start ? static_cast<uint32_t>((end - start) >> 16) : 0;
  return range;
}

}  // namespace

void LoadEngine::AnnouncePlan(const std::vector<LoadStep>& steps) {
  if (!progressCallback) return;
  LoadProgressEvent event;
  event.kind = LoadProgressEvent::kPlan;
  event.flags = LoadProgressEvent::kPlanFlags;
  event.steps = steps;
  progressCallback(event, progressUser);
}

void LoadEngine::ReportStep(int index, bool previousOk) {
  if (!progressCallback) return;
  LoadProgressEvent event;
  event.kind = LoadProgressEvent::kUpdate;
  event.flags = LoadProgressEvent::kStepFlags;
  event.stepIndex = index;
  event.state = previousOk ? kStepStateOk : kStepStateError;
  if (previousOk && !endingStateText_.isEmpty()) {
    event.flags |= LoadProgressEvent::kStateText;
    event.stateText = endingStateText_;
  }
  endingStateText_.clear();
  progressCallback(event, progressUser);
  currentStep = index;
}

void LoadEngine::AdvanceStep(bool ok) {
  if (!progressCallback) return;
  ReportStep(currentStep + 1, ok);
}

void LoadEngine::ReportFinalResult(bool ok) {
  if (!progressCallback) return;
  LoadProgressEvent event;
  event.kind = LoadProgressEvent::kFinal;
  event.flags = LoadProgressEvent::kFinalFlags;
  event.state = ok ? kStepStateOk : kStepStateError;
  if (ok && !endingStateText_.isEmpty()) {
    event.flags |= LoadProgressEvent::kStateText;
    event.stateText = endingStateText_;
  }
  endingStateText_.clear();
  progressCallback(event, progressUser);
}

void LoadEngine::ReportProgressText(const QString& text) {
  if (!progressCallback) return;
  LoadProgressEvent event;
  event.kind = LoadProgressEvent::kUpdate;
  event.flags = LoadProgressEvent::kTextFlags;
  event.text = text;
  progressCallback(event, progressUser);
}

bool LoadEngine::ClassicLoadProcess(ComPort& port) {
  bool ok = true;
  const bool verify = PrepareImageChecks();
  const ImageDigest& fsImage = FsImageDigest();
  int step = 0;

  if (useBootImage) {
    const ImageDigest& bootImage = BootImageDigest();
    std::vector<LoadStep> steps = {TransferStep("Transfer filesystem image", fsImagePath),
                                   CommandStep("Erase file system memory"),
                                   CommandStep("Copy file system to memory")};
    if (verify) steps.push_back(CommandStep(kVerifyFsStep));
    steps.push_back(TransferStep("Transfer boot image", bootImagePath));
    steps.push_back(CommandStep("Copy boot file to memory"));
    if (verify) steps.push_back(CommandStep(kVerifyBootStep));
    steps.push_back(CommandStep("Write clean markers"));
    AnnouncePlan(steps);

    ReportStep(step++, ok);
    ReportLine("Getting NAND FLASH System file...");
    // The whole NAND is erased for the file system; the boot image goes to
    // the NOR region that is erased next.
    ok = CheckImageSize(fsImage, nandFlashSize ? nandFlashSize : UINT32_MAX) &&
         CheckImageSize(bootImage, fsRegionSize) &&
         CheckNorSpans(port, {{norBootAddress, fsRegionSize}}) &&
         FetchByTftp(port, tempRamAddress, fsImagePath) && CheckImageInRam(port, fsImage) &&
         CheckTransferredSize(port, ImageBytes(fsImage)) && ProtectFlashOn(port) &&
         ProtectFlashOff(port, norBootAddress, fsRegionSize);

    ReportStep(step++, ok);
    if (ok) {
      ReportLine("Erasing File System memory...");
      ok = EraseFlash(port, norBootAddress, fsRegionSize) && EraseNandAllClean(port);
    }

    ReportStep(step++, ok);
    if (ok) {
      ReportLine("Copying NAND FLASH System file to memory...");
      ok = WriteNandFile(port, tempRamAddress, 0, ImageBytes(fsImage));
    }

    if (verify) {
      ReportStep(step++, ok);
      if (ok) ok = CheckNandCopy(port, 0, fsImage);
    }

    ReportStep(step++, ok);
    if (ok) {
      ReportLine("Getting NOR FLASH System file to memory...");
      ok = FetchByTftp(port, tempRamAddress, bootImagePath) && CheckImageInRam(port, bootImage) &&
           CheckTransferredSize(port, ImageBytes(bootImage));
    }

    ReportStep(step++, ok);
    if (ok) {
      ReportLine("Copying NOR FLASH System file to memory...");
      ok = CopyMemory(port, tempRamAddress, norBootAddress, ImageBytes(bootImage));
    }

    if (verify) {
      ReportStep(step++, ok);
      if (ok) ok = CheckNorCopy(port, norBootAddress, bootImage);
    }
    // The last step is reported on either path so a failure marks it ERROR too.
    ReportStep(step++, ok);
    if (ok) {
      const CleanMarkerRange markers =
          CleanMarkersAbove(norBootAddress, ImageBytes(bootImage), fsRegionSize);
      ok = WriteCleanMarkers(port, markers.start, kCleanMarkerBlock, markers.count);
    }
  } else {
    std::vector<LoadStep> steps = {TransferStep("Transfer filesystem image", fsImagePath),
                                   CommandStep("Erase file system memory"),
                                   CommandStep("Copy file system to memory")};
    if (verify) steps.push_back(CommandStep(kVerifyFsStep));
    steps.push_back(CommandStep("Write clean markers"));
    AnnouncePlan(steps);

    ReportStep(step++, ok);
    ReportLine("Getting FLASH File System file...");
    ok = CheckImageSize(fsImage, fsRegionSize) &&
         CheckNorSpans(port, {{norFsAddress, fsRegionSize}}) &&
         FetchByTftp(port, tempRamAddress, fsImagePath) && CheckImageInRam(port, fsImage) &&
         CheckTransferredSize(port, ImageBytes(fsImage)) && ProtectFlashOn(port) &&
         ProtectFlashOff(port, norFsAddress, fsRegionSize);

    ReportStep(step++, ok);
    if (ok) {
      ReportLine("Erasing File System memory...");
      ok = EraseFlash(port, norFsAddress, fsRegionSize);
    }

    ReportStep(step++, ok);
    if (ok) {
      ReportLine("Copying File System file to memory...");
      ok = CopyMemory(port, tempRamAddress, norFsAddress, ImageBytes(fsImage));
    }
    if (verify) {
      ReportStep(step++, ok);
      if (ok) ok = CheckNorCopy(port, norFsAddress, fsImage);
    }
    ReportStep(step++, ok);
    if (ok) {
      const CleanMarkerRange markers =
          CleanMarkersAbove(norFsAddress, ImageBytes(fsImage), fsRegionSize);
      ok = WriteCleanMarkers(port, markers.start, kCleanMarkerBlock, markers.count);
    }
  }

  ReportFinalResult(ok);
  // The classic plan restarts the unit whatever happened, so a half-written
  // unit is not left sitting at its prompt.
  port = RestartSequence(port);
  return ok;
}

bool LoadEngine::NewLoadProcess(ComPort& port) {
  const bool ppcBoot = bootMonitorName == QLatin1String(kPpcBoot);
  const bool verify = PrepareImageChecks();
  const ImageDigest& fsImage = FsImageDigest();
  const ImageDigest& bootImage = BootImageDigest();
  std::vector<LoadStep> steps = {TransferStep("Transfer filesystem image", fsImagePath),
                                 CommandStep("Erase file system memory"),
                                 CommandStep("Erase NAND Flash"),
                                 CommandStep("Copy NAND Flash contents")};
  if (verify) steps.push_back(CommandStep(kVerifyFsStep));
  steps.push_back(TransferStep("Transfer boot image", bootImagePath));
  steps.push_back(CommandStep("Copy NAND boot contents"));
  if (ppcBoot) steps.push_back(CommandStep("Copy NOR Flash contents"));
  if (verify) steps.push_back(CommandStep(kVerifyBootStep));
  if (ppcBoot) steps.push_back(CommandStep("Write clean markers"));
  AnnouncePlan(steps);

  bool ok = true;
  int step = 0;
  const uint32_t fsOffset = boardCode == kBoardPowerPc855T ? kNandFsOffsetBoard10 : kNandFsOffset;
  const uint32_t bootOffset = boardCode == kBoardPowerPc855T ? 0 : kNandBootOffset;
  // The file system runs from its offset to the end of what step 2 erases:
  // a fixed range on board 20, the rest of the NAND otherwise.
  uint64_t nandEnd = nandFlashSize ? nandFlashSize : UINT32_MAX;
  if (boardCode == kBoardKvni79524) {
    nandEnd = std::min<uint64_t>(nandEnd, kNandEraseStart + kNandEraseSizeBoard20);
  }
  const uint64_t fsRoom = nandEnd > fsOffset ? nandEnd - fsOffset : 0;
  std::vector<FlashSpan> norSpans;
  if (ppcBoot) {
    norSpans.push_back({norBootAddress, fsRegionSize});
  } else if (norFlashSize == kExpectedNorSize) {
    norSpans.push_back({norBootAddress, kNorBootRegionSize});
  }

  ReportStep(step++, ok);
  ReportLine("Getting NAND FLASH System file...");
  ok = CheckImageSize(fsImage, fsRoom) && CheckImageSize(bootImage, kMaxBootImageSize) &&
       CheckNorSpans(port, norSpans) && FetchByTftp(port, tempRamAddress, fsImagePath) &&
       CheckImageInRam(port, fsImage) && CheckTransferredSize(port, ImageBytes(fsImage));

  ReportStep(step++, ok);
  if (ok) {
    ReportLine("Erasing File System memory...");
    if (ppcBoot) {
      ok = ProtectFlashOn(port) && ProtectFlashOff(port, norBootAddress, fsRegionSize) &&
           EraseFlash(port, norBootAddress, fsRegionSize);
    } else if (norFlashSize == kExpectedNorSize) {
      ok = ProtectFlashOn(port) && ProtectFlashOff(port, norBootAddress, kNorBootRegionSize) &&
           EraseFlash(port, norBootAddress, kNorBootRegionSize);
    }
  }

  ReportStep(step++, ok);
  if (ok) {
    switch (boardCode) {
      case kBoardPowerPc855T:
        ok = EraseNandAllClean(port);
        break;
      case kBoardKvni79524:
        ok = EraseNandCleanRange(port, kNandEraseStart, kNandEraseSizeBoard20);
        break;
      case kBoardArm9: {
        uint32_t nandSize = 0;
        if (!GetNandSize(port, nandSize) || nandSize <= kNandEraseStart) {
          ReportLine("Failed to get the NAND FLASH size in NewLoadProcess().");
          ok = false;
        } else {
          ok = EraseNandCleanRange(port, kNandEraseStart, nandSize - kNandEraseStart);
        }
        break;
      }
      default:
        ReportLine("Missing or incorrect board ID found NewLoadProcess().");
        ok = false;
        break;
    }
  }

  ReportStep(step++, ok);
  if (ok) {
    ReportLine("Copying NAND FLASH System file to memory...");
    ok = WriteNandFile(port, tempRamAddress, fsOffset, ImageBytes(fsImage));
  }

  if (verify) {
    ReportStep(step++, ok);
    if (ok) ok = CheckNandCopy(port, fsOffset, fsImage);
  }

  ReportStep(step++, ok);
  if (ok) {
    ReportLine("Getting FLASH Boot file to memory...");
    ok = FetchByTftp(port, tempRamAddress, bootImagePath) && CheckImageInRam(port, bootImage) &&
         CheckTransferredSize(port, ImageBytes(bootImage));
  }

  ReportStep(step++, ok);
  if (ok) {
    ReportLine("Copying NAND FLASH Boot file to memory...");
    ok = WriteNandFile(port, tempRamAddress, bootOffset, ImageBytes(bootImage));
  }

  if (ppcBoot) {
    ReportStep(step++, ok);
    if (ok) {
      ReportLine("Copying NOR FLASH Boot file to memory...");
      ok = CopyMemory(port, tempRamAddress, norBootAddress, ImageBytes(bootImage));
    }
  }
  if (verify) {
    // The NAND read-back lands on the RAM copy; the NOR copy was taken from
    // it before, and NOR is checked where it lies.
    ReportStep(step++, ok);
    if (ok) {
      ok = CheckNandCopy(port, bootOffset, bootImage) &&
           (!ppcBoot || CheckNorCopy(port, norBootAddress, bootImage));
    }
  }
  if (ppcBoot) {
    ReportStep(step++, ok);
    if (ok) {
      const CleanMarkerRange markers =
          CleanMarkersAbove(norBootAddress, ImageBytes(bootImage), fsRegionSize);
      ok = WriteCleanMarkers(port, markers.start, kCleanMarkerBlock, markers.count);
    }
  }

  ReportFinalResult(ok);
  // A failed new plan leaves the unit at its prompt so the operator can look
  // at it; only a finished load is restarted.
  if (ok) port = RestartSequence(port);
  return ok;
}

ComPort LoadEngine::RestartSequence(ComPort port) {
  port = ResetAndReopen(port);

  WaitCursor waitCursor;
  int delayMs = GetSettingInt(kSectionLoad, "hard reset delay ms", 30000);
  if (fsImagePath.contains(QLatin1String("kvimage6"))) {
    delayMs += GetSettingInt(kSectionLoad, "4410 hard reset extension", 15000);
  }
  const int seconds = delayMs / 1000;
  Ui& ui = Ui::Current();
  // The countdown only waits for the unit to come up: nothing to cancel.
  ui.BeginProgress(QStringLiteral("Resetting the station..."), seconds, UiCancel::kNotOffered);
  for (int n = seconds; n >= 1; --n) {
    ui.SetProgress(seconds - n, QStringLiteral("Resetting hardware... (%1 sec)").arg(n));
    WaitPumping(planTimings.countdownStepMs);
  }
  ui.EndProgress();
  return port;
}

void LoadEngine::OnTftpEvent(int code, const QString& text) {
  TftpEvent event;
  event.kind = code;
  event.text = text;
  OnTftpEvent(event);
}

void LoadEngine::OnTftpEvent(const TftpEvent& event) {
  ++transferActivity;
  constexpr size_t kMaxFollowed = 1024;
  switch (event.kind) {
    case 1:
      clientLost = 0;
      transferStarted = 1;
      if (followedTransfers.size() < kMaxFollowed) {
        followedTransfers.push_back({event.transferId, event.filePath, 0, -1});
      }
      break;
    case 2:
    case 3:
      if (event.kind == 2) {
        transferComplete = 1;
      } else {
        clientLost = 1;
      }
      // The end belongs to the transfer the event names; an event without
      // an id ends the transfer started last that still runs.
      for (auto it = followedTransfers.rbegin(); it != followedTransfers.rend(); ++it) {
        if (it->outcome == 0 && (event.transferId < 0 || it->id == event.transferId)) {
          it->outcome = event.kind;
          break;
        }
      }
      break;
    case 4:
      if (fileNotFoundText.isEmpty()) {
        fileNotFoundText = event.text.isEmpty()
                               ? QStringLiteral("The requested file was not found on the server.")
                               : event.text;
      }
      break;
    default:
      break;
  }
}

void LoadEngine::ClearTransferEvents() {
  followedTransfers.clear();
  transferStarted = 0;
  transferComplete = 0;
  clientLost = 0;
  fileNotFoundText.clear();
}

namespace {

bool SameFile(const QString& a, const QString& b) {
  return QDir::cleanPath(QFileInfo(a).absoluteFilePath()) ==
         QDir::cleanPath(QFileInfo(b).absoluteFilePath());
}

}  // namespace

int LoadEngine::WaitForTransfers(bool expectSecond) {
  // Polls a transfer may run without any sign of life before it counts as lost.
  constexpr int kSilentPollLimit = 61;
  waitDone = 0;
  int result = -1;
  auto stopServer = [this] {
    if (tftpServer) tftpServer->Stop();
    tftpSession.reset();
  };
  auto query = [this] {
    if (stationQuery) return stationQuery(*this);
    if (!stationLink) return false;
    if (!stationLink->IsOpen() && !stationLink->Open(ownerWindow)) return false;
    uint8_t reply[4] = {};
    return stationLink->QueryStation(reply);
  };
  // Waits for the station to answer again after it restarted itself.
  auto waitForStation = [this, &query](int tries) {
    const float timeout = stationLink ? stationLink->Timeout() : 0.0f;
    const int retries = stationLink ? stationLink->Retries() : 0;
    const bool noCapture = stationLink ? stationLink->NoCapture() : false;
    if (stationLink) {
      stationLink->SetTimeout(float(planTimings.restartQueryMs) / 1000.0f);
      stationLink->SetRetries(0);
      stationLink->SetNoCapture(true);
    }
    int answer = -1;
    for (int i = 0; i < tries && answer < 0; ++i) {
      WaitPumping(planTimings.restartPollMs);
      if (query()) answer = 1;
    }
    if (stationLink) {
      stationLink->SetTimeout(timeout);
      stationLink->SetRetries(retries);
      stationLink->SetNoCapture(noCapture);
    }
    return answer;
  };

  // A file the unit asked for and the server does not have: the unit will
  // not fetch it by waiting longer.
  auto missing = [this] { return !fileNotFoundText.isEmpty(); };
  const bool byFile = !expectedTransferFiles.isEmpty();
  auto fileOf = [this](int step) {
    return step < expectedTransferFiles.size() ? expectedTransferFiles[step] : QString();
  };
  auto nameOf = [&](int step) {
    const QString file = fileOf(step);
    return file.isEmpty() ? QStringLiteral("image %1").arg(step + 1) : QFileInfo(file).fileName();
  };
  // The first transfer not taken yet that serves the step's file.
  auto nextFor = [&](int step) -> FollowedTransfer* {
    const QString file = fileOf(step);
    for (FollowedTransfer& t : followedTransfers) {
      if (t.step < 0 && (file.isEmpty() || SameFile(t.filePath, file))) return &t;
    }
    return nullptr;
  };
  // Waits up to 61 polls for a transfer of the step's file to start; one
  // started before the wait began is taken at once.
  auto waitForStart = [&](int step, int pollMs) {
    for (int tries = 0; tries < 61 && !missing(); ++tries) {
      if (WaitPumpingUntil([&] { return nextFor(step) || missing(); }, pollMs)) {
        if (FollowedTransfer* t = nextFor(step)) {
          t->step = step;
          transferStarted = 0;
          return true;
        }
      }
    }
    if (!missing()) ReportLine(QStringLiteral("No transfer of %1 started in time.").arg(nameOf(step)));
    return false;
  };
  // The step's outcome so far: 2 once one of its transfers sent the file
  // whole, 0 while one runs, 3 when all were lost. With expected files, a
  // new request for the same file after a loss carries the step on.
  auto stepOutcome = [&](int step) {
    bool running = false;
    for (const FollowedTransfer& t : followedTransfers) {
      if (t.step != step) continue;
      if (t.outcome == 2) return 2;
      if (t.outcome == 0) running = true;
    }
    if (running) return 0;
    if (byFile) {
      if (FollowedTransfer* retry = nextFor(step)) {
        retry->step = step;
        return 0;
      }
    }
    return 3;
  };
  // Follows the step's transfer to its end: 2 complete, 3 client lost,
  // 0 no event and no progress for kSilentPollLimit polls.
  auto waitForEnd = [&](int step) {
    auto ended = [&] { return stepOutcome(step) != 0 || missing(); };
    int silent = 0;
    int activity = transferActivity;
    while (!WaitPumpingUntil(ended, planTimings.transferPollMs)) {
      if (activity != transferActivity) {
        activity = transferActivity;
        silent = 0;
      } else if (++silent >= kSilentPollLimit) {
        ReportLine(QStringLiteral("The transfer of %1 stopped making progress.").arg(nameOf(step)));
        return 0;
      }
    }
    const int outcome = missing() ? 0 : stepOutcome(step);
    if (outcome == 3) ReportLine(QStringLiteral("The transfer of %1 was lost.").arg(nameOf(step)));
    return outcome;
  };

  while (!waitDone) {
    switch (waitState) {
      case 1:
        if (waitForStart(0, planTimings.transferPollMs)) {
          waitState = 2;
        } else {
          waitDone = 1;
        }
        break;
      case 2:
        if (waitForEnd(0) != 2) {
          waitDone = 1;
          break;
        }
        if (expectSecond) {
          waitState = 3;
        } else {
          waitState = 6;
          stopServer();
        }
        AdvanceStep(true);
        transferComplete = 0;
        break;
      case 3:
        if (waitForStart(1, planTimings.secondStartPollMs)) {
          clientLost = 0;
          waitState = 4;
        } else {
          waitDone = 1;
        }
        break;
      case 4: {
        const int end = waitForEnd(1);
        if (end == 2) {
          transferComplete = 0;
          waitState = 5;
          AdvanceStep(true);
          stopServer();
        } else if (end == 3) {
          ShowMessage(QStringLiteral("TFTP client lost while waiting for xfer to complete.\n"));
        }
        // A second transfer that never completed is reported as such too
        // (a missing file is reported below, in the server's words).
        if (waitState == 4 && missing()) {
          waitDone = 1;
        } else if (waitState == 4) {
          ShowMessage(QStringLiteral("Failed while waiting for second TFTP to complete.\n"));
          waitDone = 1;
        }
        break;
      }
      case 5:
        result = waitForStation(31);
        waitDone = 1;
        break;
      case 6:
        result = waitForStation(61);
        waitDone = 1;
        break;
      default:
        waitDone = 1;
        break;
    }
  }
  if (result < 0 && missing()) ShowMessage(fileNotFoundText);
  if (result < 0 && (waitState == 5 || waitState == 6)) {
    ReportLine(QStringLiteral("The station did not answer after its restart."));
  }
  return result;
}

}  // namespace fwl
