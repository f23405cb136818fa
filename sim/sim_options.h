// Everything that makes one simulated unit differ from another: its board,
// boot monitor, memories, timings and the faults it is told to show.
#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <optional>
#include <utility>
#include <vector>

namespace fwl {

// Board values as the unit's environment spells them after "board=".
inline constexpr char kSimBoardArm9[] = "KORVID kvni9260";
inline constexpr char kSimBoardPpc855[] = "KORVID KVNI855T";
inline constexpr char kSimBoard79524[] = "KORVID kvni79524";

struct SimOptions {
  // "board=" value; empty means the environment has no "board=" line.
  QString board = kSimBoard79524;
  // Leave "stdin=" out of the environment (a unit that identifies as nothing).
  bool noStdin = false;
  // "U-Boot" or "PPCBoot": appears in the banner and the "version" reply.
  QString monitorName = "U-Boot";
  QString monitorVersion = "1.1.4";
  // The countdown stops once this text has arrived (the loader sends it
  // followed by CR; what follows it is typed at the prompt). With `anyKey`,
  // or an empty text, the first byte received stops it instead and the rest
  // of what arrived is typed at the prompt.
  QString stopString = "interrupt";
  bool anyKey = false;
  // The command line's parser. The simple one expands "$(name)" and
  // "${name}" and repeats the last command that succeeded on an empty line.
  // The hush parser of current boot monitors expands "${name}" and "$name"
  // only, leaves "$(name)" as typed, and repeats the last repeatable command.
  bool hushParser = false;

  // Memory map. Sizes in bytes; 0 means the memory is absent. Bases default
  // per board (see ApplyBoardDefaults) unless set explicitly.
  quint32 dramBase = 0, dramSize = 0x4000000;
  quint32 nvramBase = 0x40000000, nvramSize = 0x80000;
  quint32 norBase = 0x44000000, norSize = 0x800000;
  quint64 nandSize = 0x8000000;
  // NAND maker shown by "nand info"; true makes it an "ST " part.
  bool nandSt = false;
  // Multi-byte memory writes store the most significant byte first.
  bool bigEndian = true;

  // Timings (milliseconds unless named otherwise); all may be zero.
  int bootDelaySeconds = 3;    // countdown length
  bool autoboot = true;        // false: the countdown waits for a key forever
  int countdownTickMs = 1000;  // one countdown step
  int replyDelayMs = 0;        // before every command's reply
  int mtestPassMs = 100;       // one mtest pattern pass
  int tftpTimeoutMs = 1000;    // retransmission time-out of the TFTP client
  int tftpRetries = 5;         // time-outs in a row before giving up
  quint16 tftpPort = 69;       // server port the "tftp" command sends to
  int tftpBlockSize = 1468;    // requested "blksize"
  // Power comes on when the serial port is first opened (after a power
  // cycle with the port closed, too), so nothing is lost before a peer looks.
  bool bootOnOpen = true;

  // Faults. A command line that begins with one of these texts fails.
  QStringList failCommands;
  // A command line that begins with one of these texts answers and then
  // never returns to the prompt (until Ctrl-C or a power cycle).
  QStringList hangCommands;
  // Extra delay before the reply of command lines beginning with a text.
  std::vector<std::pair<QString, int>> slowCommands;
  // An mtest whose range covers this address reports "Mem error".
  std::optional<quint32> memErrorAddress;
  // The TFTP client stops acknowledging after this many data blocks.
  std::optional<int> tftpStallAfterBlocks;
  // Flash writes (cp into NOR, nand write) flip the lowest bit of the byte
  // they store at each of these offsets (from the start of the NOR or of
  // the NAND), as a worn cell or a faulty driver would.
  std::vector<quint64> corruptWriteOffsets;
  // Every fetch flips the lowest bit of the first byte of each of these
  // TFTP data blocks (numbered from 1) before storing it.
  std::vector<quint64> corruptTransferBlocks;
  // Commands this boot monitor was built without ("Unknown command").
  QStringList missingCommands;
  // NAND reads store this many bytes fewer than asked (the end of the range
  // keeps what RAM held) and still report the whole count as read.
  quint64 shortNandReadBytes = 0;
};

// Sets the memory bases and byte order that belong to the board in `o.board`
// (PowerPC 855T, kvni79524 or ARM9); other boards keep what is set.
void ApplyBoardDefaults(SimOptions& o);

// Expands the short board names "arm9", "ppc855", "79524" and "none" to the
// "board=" value; any other text is taken as the value itself.
QString SimBoardValue(const QString& nameOrValue);

}  // namespace fwl
