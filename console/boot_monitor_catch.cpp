// Catching the boot monitor while the unit powers up, and telling the board
// from its environment listing.
#include <QElapsedTimer>

#include "app/settings.h"
#include "console/reply_text.h"
#include "engine/load_engine.h"
#include "platform/ui.h"

namespace fwl {

namespace {

constexpr char kPowerPromptTitle[] = "Cycle Power";
constexpr char kPowerPromptText[] = "Please turn the power ON now...";
constexpr char kStopStringKey[] = "autoboot stop string";
constexpr int kCatchCapacity = 10000;

constexpr char kMsgPortLost[] = "Lost connection to comport.";
constexpr char kMsgBoardIdError[] = "Error getting board ID. Message response was:";
constexpr char kMsgUnexpectedBoard[] = "Unexpected board found. (%1)";

// The monitor names the banner or "version" shows; the later one wins.
QString BootMonitorNameIn(const QByteArray& text) {
  QString name;
  if (text.contains("U-Boot")) name = QStringLiteral("U-Boot");
  if (text.contains("PPCBoot")) name = QStringLiteral("PPCBoot");
  return name;
}

}  // namespace

bool LoadEngine::CatchBootMonitor(ComPort& port, int timeoutMs, bool showPowerPrompt) {
  // The boot monitor's countdown only stops for its own stop line.
  const QByteArray stopLine =
      GetSettingText(kSectionLoad, kStopStringKey).toLatin1() + QByteArrayLiteral("\r");

  catchBuffer = QByteArray(kCatchCapacity, '\0');
  catchCount = 0;
  caught = false;

  Ui& ui = Ui::Current();
  if (showPowerPrompt) {
    ui.ShowPrompt(QString::fromLatin1(kPowerPromptTitle), QString::fromLatin1(kPowerPromptText));
    WaitPumping(100);
  }

  QElapsedTimer clock;
  clock.start();
  bool finished = false;
  while (!caught && !finished) {
    // Without a port nothing can ever answer; waiting on would only hold
    // the operator at the prompt until Cancel.
    if (PortLost(port)) {
      ReportLine(QString::fromLatin1(kMsgPortLost));
      break;
    }
    const bool written = WritePort(port, stopLine);
    WaitPumping(20);
    if (written) {
      int got = 0;
      ReadPort(port, catchBuffer.data() + catchCount, kCatchCapacity - 1 - catchCount, got);
      catchCount += got;
      catchBuffer[catchCount] = '\0';
      // Raw scan: a prompt with at least one byte after it, NULs and all.
      for (int i = 0; catchCount > 2 && i <= catchCount - 3; ++i) {
        if (catchBuffer[i] == '=' && catchBuffer[i + 1] == '>') {
          caught = true;
          break;
        }
      }
    }
    const QByteArray held = catchBuffer.left(catchCount);
    if (PromptAfterFirstByte(held, kPromptText)) caught = true;

    if (showPowerPrompt) {
      WaitPumping(5);
      finished = ui.PromptCancelled() || (timeoutMs > 0 && clock.elapsed() >= timeoutMs);
    } else {
      finished = clock.elapsed() >= timeoutMs;
    }

    if (caught) {
      // Stop strings sent while the prompt was on its way are run as
      // commands now; their answers go before anything is asked.
      SettleConsole(port);
      bootMonitorName = BootMonitorNameIn(ReplyText(held));
      if (bootMonitorName.isEmpty() && !QueryBootMonitorName(port)) {
        // Something answered with "=>" but not to "version": start the unit
        // afresh and catch it again.
        caught = false;
        catchBuffer.fill('\0');
        catchCount = 0;
        port = ResetAndReopen(port);
      }
    }
  }

  boardCode = kBoardUnknown;
  if (caught) DetectBoard(port);
  if (showPowerPrompt) ui.ClosePrompt();
  return caught;
}

bool LoadEngine::DetectBoard(ComPort port) {
  // No empty line to make the unit answer: a boot monitor repeats its last
  // command on one. Whatever is still on its way is discarded instead.
  FlushInput(port);
  WritePort(port, QByteArrayLiteral("printenv\r"));
  QByteArray reply;
  if (!CollectReply(port, kPromptText, reply, kReplyBufferSize, timings.detectBoardMs)) {
    ReportFailure(QString::fromLatin1(kMsgBoardIdError), reply);
    return false;
  }
  bool unexpected = false;
  const int code = BoardCodeFromEnvironment(reply, unexpected);
  if (unexpected) {
    ReportLine(QString::fromLatin1(kMsgUnexpectedBoard).arg(QString::fromLatin1(ReplyText(reply))));
  }
  boardCode = code;
  return boardCode != kBoardUnknown;
}

}  // namespace fwl
