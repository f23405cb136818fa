// One wrapper per boot-monitor command a load needs: the command line, the
// text it waits for, its time-out, how its reply is judged and what a failure
// reports. Numbers go out in lower-case hexadecimal.
#include <QDateTime>

#include "console/reply_text.h"
#include "engine/load_engine.h"

namespace fwl {

namespace {

QByteArray Hex(uint32_t value) { return QByteArray::number(value, 16); }

// "done", CR LF and the prompt: the end of a protect or copy command's reply.
QByteArray DoneThenPrompt() { return QByteArrayLiteral("done\r\n") + kPromptText; }

const QList<QByteArray>& DoneOrOk() {
  static const QList<QByteArray> markers{"done", "OK"};
  return markers;
}

QString Latin1(const char* text) { return QString::fromLatin1(text); }

// A byte count the loader knows goes out as a number; otherwise the unit's
// own "filesize" is named in the form every command parser expands (the
// "$(...)" form is left as typed by the hush parser, which then reads 0).
QByteArray SizeArgument(uint32_t size) {
  return size != 0 ? Hex(size) : QByteArrayLiteral("${filesize}");
}

// Where the clean marker is built when the board has no RAM address of its own.
constexpr uint32_t kCleanMarkerTemplate = 0x00100000;

}  // namespace

bool LoadEngine::SendAndCollect(ComPort port, const QByteArray& command, const QByteArray& waitText,
                                int timeoutMs, QByteArray& reply, bool& promptSeen) {
  const bool written = WritePort(port, command);
  const QByteArray echo = command.endsWith('\r') ? command.chopped(1) : command;
  promptSeen = CollectReply(port, waitText, reply, kReplyBufferSize, timeoutMs, echo);
  return written;
}

bool LoadEngine::RunMarkerCommand(ComPort port, const QByteArray& command, int timeoutMs,
                                  const QList<QByteArray>& markers, const QString& heading) {
  QByteArray reply;
  bool promptSeen = false;
  SendAndCollect(port, command, kPromptText, timeoutMs, reply, promptSeen);
  for (const QByteArray& marker : markers) {
    if (MarkerBeforeFirstPrompt(reply, marker)) return true;
  }
  ReportFailure(heading, reply);
  return false;
}

bool LoadEngine::RunPromptCommand(ComPort port, const QByteArray& command,
                                  const QByteArray& waitText, int timeoutMs,
                                  const QString& heading) {
  QByteArray reply;
  bool promptSeen = false;
  const bool written = SendAndCollect(port, command, waitText, timeoutMs, reply, promptSeen);
  if (written && promptSeen) return true;
  ReportFailure(heading, reply);
  return false;
}

bool LoadEngine::ProtectFlashOn(ComPort port) {
  return RunPromptCommand(port, "protect on all\r", DoneThenPrompt(), timings.protectMs,
                          Latin1("Error write protecting FLASH. Response was:"));
}

bool LoadEngine::ProtectFlashOff(ComPort port, uint32_t start, uint32_t length) {
  const QByteArray command = "protect off " + Hex(start) + ' ' + Hex(start + length - 1) + '\r';
  // The boot monitor counts the 64 KiB sectors it unprotected.
  const QByteArray marker = "Un-Protected " + QByteArray::number(length >> 16) + " sectors";
  return RunMarkerCommand(port, command, timings.protectMs, {marker},
                          Latin1("Failed to un-protect FLASH memory. Message response was:"));
}

bool LoadEngine::EraseFlash(ComPort port, uint32_t start, uint32_t length) {
  const QByteArray command = "erase " + Hex(start) + ' ' + Hex(start + length - 1) + '\r';
  return RunMarkerCommand(port, command, timings.eraseFlashMs, {"done"},
                          Latin1("Failed to erase FLASH. Message response was:"));
}

bool LoadEngine::EraseNandAllClean(ComPort port) {
  return RunMarkerCommand(port, "nand erase clean\r", timings.eraseNandMs, DoneOrOk(),
                          Latin1("Failed to erase NAND FLASH. Message response was:"));
}

bool LoadEngine::EraseNandRange(ComPort port, uint32_t offset, uint32_t size) {
  const QByteArray command = "nand erase " + Hex(offset) + ' ' + Hex(size) + '\r';
  return RunMarkerCommand(port, command, timings.eraseNandMs, DoneOrOk(),
                          Latin1("Failed to erase range of NAND FLASH. Message response was:"));
}

bool LoadEngine::EraseNandCleanRange(ComPort port, uint32_t offset, uint32_t size) {
  const QByteArray command = "nand erase clean " + Hex(offset) + ' ' + Hex(size) + '\r';
  return RunMarkerCommand(port, command, timings.eraseNandMs, DoneOrOk(),
                          Latin1("Failed to erase range of NAND FLASH. Message response was:"));
}

bool LoadEngine::WriteNandFile(ComPort port, uint32_t memoryAddress, uint32_t nandOffset,
                               uint32_t size) {
  const QByteArray command = "nand write.e " + Hex(memoryAddress) + ' ' + Hex(nandOffset) + ' ' +
                             SizeArgument(size) + '\r';
  return RunMarkerCommand(port, command, timings.writeNandMs, DoneOrOk(),
                          Latin1("Failed to write to NAND FLASH. Message response was:"));
}

bool LoadEngine::WriteNandJffs2(ComPort port, uint32_t memoryAddress, uint32_t nandOffset,
                                uint32_t size) {
  const QByteArray command =
      "nand write.jffs2 " + Hex(memoryAddress) + ' ' + Hex(nandOffset) + ' ' + Hex(size) + '\r';
  // This command prints "done" for partial work too; only "OK" means written.
  return RunMarkerCommand(port, command, timings.writeNandMs, {"OK"},
                          Latin1("Failed to write to NAND FLASH. Message response was:"));
}

bool LoadEngine::CopyMemory(ComPort port, uint32_t source, uint32_t destination, uint32_t count) {
  const QByteArray command =
      "cp.b " + Hex(source) + ' ' + Hex(destination) + ' ' + SizeArgument(count) + '\r';
  return RunPromptCommand(port, command, DoneThenPrompt(), timings.copyMemoryMs,
                          Latin1("Error copying memory. Message response was:"));
}

bool LoadEngine::FillMemory(ComPort port, uint32_t address, uint32_t count, uint32_t value) {
  const QByteArray command =
      "mw.b " + Hex(address) + ' ' + Hex(value & 0xff) + ' ' + Hex(count) + '\r';
  return RunPromptCommand(port, command, kPromptText, timings.memoryWriteMs,
                          Latin1("Error setting memory. Message response was:"));
}

bool LoadEngine::FillMemoryWords(ComPort port, uint32_t address, uint32_t count, uint32_t pattern) {
  const QByteArray command = "mw.l " + Hex(address) + ' ' + Hex(pattern) + ' ' + Hex(count) + '\r';
  return RunPromptCommand(port, command, kPromptText, timings.checksumMs,
                          Latin1("Error setting memory. Message response was:"));
}

bool LoadEngine::WriteCleanMarkers(ComPort port, uint32_t firstAddress, uint32_t step,
                                   uint32_t count) {
  // The 12-byte JFFS2 clean marker (magic, node type, length, header CRC)
  // built once in RAM, then copied to the start of every erase block. The
  // template goes to 0x00100000, the RAM load address of the PowerPC boards;
  // a board whose RAM lies elsewhere (the ARM9 board) gets it at its own RAM
  // load address, or the writes would fail and no marker would be copied.
  const uint32_t templ = tempRamAddress != 0 ? tempRamAddress : kCleanMarkerTemplate;
  const QByteArray at = Hex(templ).rightJustified(8, '0');
  auto plus = [&](uint32_t offset) { return Hex(templ + offset).rightJustified(8, '0'); };
  const QByteArray lines[] = {
      "mw.w " + at + " 1985\r",
      "mw.w " + plus(2) + " 2003\r",
      "mw.l " + plus(4) + " 0000000c\r",
      "mw.l " + plus(8) + " f060dc98\r",
  };
  auto send = [&](const QByteArray& line) {
    QByteArray reply;
    bool promptSeen = false;
    const bool written =
        SendAndCollect(port, line, kPromptText, timings.memoryWriteMs, reply, promptSeen);
    return written && promptSeen;
  };
  bool ok = true;
  for (const QByteArray& line : lines) {
    if (!(ok = send(line))) break;
  }
  for (uint32_t i = 0; ok && i < count; ++i) {
    const uint32_t target = firstAddress + i * step;
    ok = send("cp.l " + at + ' ' + Hex(target).rightJustified(8, '0') + " 3\r");
  }
  if (!ok) ReportLine(Latin1("Failed to write all clean markers for memory erase."));
  return ok;
}

bool LoadEngine::GetFileSize(ComPort port, uint32_t& size, QByteArray* answer) {
  static const QByteArray kCommand = "echo ${filesize}\r";
  size = 0;
  if (answer) answer->clear();
  QByteArray reply;
  bool promptSeen = false;
  SendAndCollect(port, kCommand, kPromptText, timings.queryMs, reply, promptSeen);
  if (promptSeen && ReplyText(reply).contains(kCommand)) {
    size = FileSizeFromReply(reply, kCommand);
    if (answer) {
      uint32_t exact = 0;
      FileSizeAnswer(reply, kCommand, *answer, exact);
    }
    return true;
  }
  ReportFailure(Latin1("Failed to get filesize variable. Message response was:"), reply);
  return false;
}

bool LoadEngine::QueryBoardInfo(ComPort port, const char* startName, const char* sizeName,
                                const QString& startMissing, const QString& sizeMissing,
                                const QString& heading, uint32_t* start, uint32_t& size) {
  if (start) *start = 0;
  size = 0;
  QByteArray reply;
  bool promptSeen = false;
  bool result = SendAndCollect(port, "bdinfo\r", kPromptText, timings.queryMs, reply, promptSeen);
  if (!promptSeen) {
    ReportFailure(heading, reply);
    return false;
  }
  bool found = false;
  if (start) {
    const uint32_t value = BdinfoValue(reply, startName, found);
    if (found) {
      *start = value;
    } else {
      ReportLine(startMissing);
      result = false;
    }
  }
  const uint32_t value = BdinfoValue(reply, sizeName, found);
  if (!found) {
    ReportLine(sizeMissing);
    return false;
  }
  size = value;
  return result;
}

bool LoadEngine::GetNvramInfo(ComPort port, uint32_t& start, uint32_t& size) {
  return QueryBoardInfo(port, "sramstart", "sramsize", Latin1("Failed to get sramstart."),
                        Latin1("Failed to get sramsize."),
                        Latin1("Failed to get NVRAM info. Message response was:"), &start, size);
}

bool LoadEngine::GetDramInfo(ComPort port, uint32_t& start, uint32_t& size) {
  return QueryBoardInfo(port, "memstart", "memsize", Latin1("Failed to get memstart."),
                        Latin1("Failed to get memsize."),
                        Latin1("Failed to get DRAM info. Message response was:"), &start, size);
}

bool LoadEngine::GetNorInfo(ComPort port, uint32_t& size) {
  return QueryBoardInfo(port, nullptr, "flashsize", QString(), Latin1("Failed to get flashsize."),
                        Latin1("Failed to get NOR info. Message response was:"), nullptr, size);
}

bool LoadEngine::GetNandSize(ComPort port, uint32_t& size) {
  size = 0;
  QByteArray reply;
  bool promptSeen = false;
  const bool written =
      SendAndCollect(port, "nand info\r", kPromptText, timings.queryMs, reply, promptSeen);
  if (!promptSeen) {
    ReportFailure(Latin1("Failed to get NAND info. Message response was:"), reply);
    return false;
  }
  size = NandSizeFromReply(reply);
  if (size == 0) ReportLine(Latin1("Expected NAND size not found. Assuming no NAND present."));
  return written;
}

bool LoadEngine::SetClock(ComPort port) { return SetClockAt(port, QDateTime::currentDateTime()); }

bool LoadEngine::SetClockAt(ComPort port, const QDateTime& localTime) {
  const QDate d = localTime.date();
  const QTime t = localTime.time();
  const QByteArray command = QString::asprintf("date %02d%02d%02d%02d%04d.%02d\r", d.month(),
                                               d.day(), t.hour(), t.minute(), d.year(), t.second())
                                 .toLatin1();
  // The boot monitor echoes the time it was set to at the end of a line.
  const QByteArray waitText =
      QString::asprintf("%d:%02d:%02d\r\n", t.hour(), t.minute(), t.second()).toLatin1() +
      kPromptText;
  return RunPromptCommand(port, command, waitText, timings.setClockMs,
                          Latin1("Error Setting clock. Message response was:"));
}

bool LoadEngine::QueryBootMonitorName(ComPort port) {
  bootMonitorName.clear();
  QByteArray reply;
  bool promptSeen = false;
  const bool written =
      SendAndCollect(port, "version\r", kPromptText, timings.queryMs, reply, promptSeen);
  if (promptSeen) {
    const QByteArray text = ReplyText(reply);
    if (text.contains("U-Boot")) bootMonitorName = QStringLiteral("U-Boot");
    if (text.contains("PPCBoot")) bootMonitorName = QStringLiteral("PPCBoot");
  }
  if (written && promptSeen) return true;
  ReportFailure(Latin1("Error getting boot monitor name. Message response was:"), reply);
  return false;
}

bool LoadEngine::MemoryTest(ComPort port, uint32_t start, uint32_t end) {
  const QByteArray command = "mtest " + Hex(start) + ' ' + Hex(end) + '\r';
  FlushInput(port);
  bool written = WritePort(port, command);
  if (written) {
    WaitPumping(timings.mtestStopDelayMs);
    // The test runs until interrupted: Ctrl-C ends it.
    written = WritePort(port, QByteArray(1, '\x03'));
  }
  if (!written) ReportLine(Latin1("Error sending mtest message."));
  QByteArray reply;
  const bool promptSeen = CollectReply(port, kPromptText, reply, kReplyBufferSize, timings.queryMs);
  if (written && promptSeen && !ReplyText(reply).contains("Mem error")) return true;
  ReportFailure(Latin1("Error during memory test. Message response was:"), reply);
  return false;
}

bool LoadEngine::ReadNandFile(ComPort port, uint32_t memoryAddress, uint32_t nandOffset,
                              uint32_t size) {
  const QByteArray command =
      "nand read.e " + Hex(memoryAddress) + ' ' + Hex(nandOffset) + ' ' + Hex(size) + '\r';
  return RunMarkerCommand(port, command, timings.readNandMs, DoneOrOk(),
                          Latin1("Failed to read back NAND FLASH. Message response was:"));
}

bool LoadEngine::ReadNandJffs2(ComPort port, uint32_t memoryAddress, uint32_t nandOffset,
                               uint32_t size) {
  const QByteArray command =
      "nand read.jffs2 " + Hex(memoryAddress) + ' ' + Hex(nandOffset) + ' ' + Hex(size) + '\r';
  // As with the write of this form, "done" may stand for partial work.
  return RunMarkerCommand(port, command, timings.readNandMs, {"OK"},
                          Latin1("Failed to read back NAND FLASH. Message response was:"));
}

Crc32Reply LoadEngine::ChecksumMemory(ComPort port, uint32_t address, uint32_t size,
                                      uint32_t& crc) {
  const QByteArray command = "crc32 " + Hex(address) + ' ' + Hex(size) + '\r';
  // The result line holds "==>", which contains the prompt's two bytes: the
  // reply ends only at a prompt that begins a line.
  static const QByteArray kPromptLine = QByteArrayLiteral("\n") + kPromptText;
  QByteArray reply;
  bool promptSeen = false;
  SendAndCollect(port, command, kPromptLine, timings.checksumMs, reply, promptSeen);
  const Crc32Reply result =
      promptSeen ? ParseCrc32Reply(reply, address, size, crc) : Crc32Reply::kUnreadable;
  if (result == Crc32Reply::kUnreadable) {
    ReportFailure(Latin1("Failed to check memory. Message response was:"), reply);
  }
  return result;
}

}  // namespace fwl
