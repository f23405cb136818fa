// The serial load engine: owns the boot-monitor dialogue on the COM port (open,
// collect replies, catch the boot monitor, identify the board), the command
// wrappers, the image fetch and the memory check, and runs the flash plans.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "console/reply_text.h"
#include "engine/image_digest.h"
#include "engine/load_progress.h"

class QDateTime;
class QSerialPort;

namespace fwl {

class TftpServer;
class TftpService;
class TftpSession;
struct TftpEvent;
class StationLink;

// An open serial device, or nullptr (the invalid port). A port obtained from
// OpenComPort or ResetAndReopen belongs to the caller and is released with
// LoadEngine::CloseComPort.
using ComPort = QSerialPort*;

// Board codes found by DetectBoard.
inline constexpr int kBoardUnknown = 0;
inline constexpr int kBoardPowerPc855T = 10;
inline constexpr int kBoardKvni79524 = 20;
inline constexpr int kBoardArm9 = 30;

// Every command wrapper collects into a reply buffer of this many bytes (one
// kept for the terminating NUL).
inline constexpr int kReplyBufferSize = 10000;

using MessageSink = std::function<void(const QString& line, void* user)>;

// Time-outs and pauses of the boot-monitor dialogue, in milliseconds. The
// defaults are the values the hardware needs; tests shorten them.
struct ConsoleTimings {
  int readMs = 50;             // one port read returns at the latest after this
  int protectMs = 5000;        // protect on / protect off
  int eraseFlashMs = 180000;   // NOR erase
  int eraseNandMs = 60000;     // nand erase (all three forms)
  int writeNandMs = 120000;    // nand write.e / write.jffs2
  int copyMemoryMs = 150000;   // cp.b
  int memoryWriteMs = 1000;    // mw.b, each clean-marker line
  int queryMs = 2000;          // echo ${filesize}, bdinfo, nand info, version, mtest
  int setClockMs = 3000;       // date
  int detectBoardMs = 4000;    // printenv
  int environmentMs = 2000;    // each setenv / saveenv of the image fetch
  int tftpFetchMs = 300000;    // the boot monitor's tftp command
  int readNandMs = 120000;     // nand read.e / read.jffs2 of a written image
  int checksumMs = 60000;      // crc32 over an image in RAM or NOR
  int mtestStopDelayMs = 800;  // between mtest and its Ctrl-C
  int resetSettleMs = 3000;    // after closing the port on reset
  int reopenPauseMs = 1000;    // between two failed reopen attempts
  int reopenAttempts = 7;
  // A line that never falls quiet is given up after this long (see FlushInput).
  int flushLimitMs = 10000;
  // Quiet that ends the drain after a catch (see SettleConsole).
  int settleQuietMs = 250;
};

class LoadEngine : public QObject {
  Q_OBJECT

 public:
  explicit LoadEngine(QObject* parent = nullptr);
  ~LoadEngine() override;
  LoadEngine(const LoadEngine&) = delete;
  LoadEngine& operator=(const LoadEngine&) = delete;

  // Registration by the engine's owner; an empty function unregisters.
  void SetMessageSink(MessageSink sink, void* user);
  void SetProgressCallback(LoadProgressCallback callback, void* user);

  // ---- Serial port and console dialogue -----------------------------------

  // Opens the device named by [Device] "Comport" of the load parameter file
  // (a bare name such as ttyUSB0 means /dev/ttyUSB0; a path is used as it is)
  // with the line settings of that section. `port` is set to nullptr first
  // and to the open port on success. Reports "Failed to open comport." when
  // the device cannot be opened, followed by how to join the dialout group
  // when the device file's permissions refuse this user; a settings failure
  // closes it silently.
  bool OpenComPort(ComPort& port);
  // Closes and releases `port` (nullptr is fine) and sets it to nullptr.
  static void CloseComPort(ComPort& port);

  // One read: returns what has arrived, waiting at most timings.readMs when
  // nothing has; returns earlier as soon as bytes are there. False on a read
  // error (the port vanished) or an invalid port.
  bool ReadPort(ComPort port, char* buffer, int maxBytes, int& received);
  // One write of exactly `bytes`; true when all of them were written.
  bool WritePort(ComPort port, const QByteArray& bytes);
  // True for the invalid port and for a port whose device has gone away
  // (an unplugged adapter, a closed pseudo-terminal).
  static bool PortLost(ComPort port);

  // Discards waiting input: reads until one read comes back empty, i.e.
  // until the line has been quiet for one read time-out. Reports
  // "Error flushing comport buffer." and returns false when a read fails (or
  // the line never falls quiet within timings.flushLimitMs).
  bool FlushInput(ComPort port);
  // Reads and discards what the unit still prints until the line has been
  // quiet for timings.settleQuietMs: after a catch, the stop strings that
  // were on their way when the prompt showed are run as commands, and their
  // answers must not be taken for the next command's reply. Reports
  // "Error flushing comport buffer." and returns false when a read fails or
  // the line is not quiet within timings.flushLimitMs.
  bool SettleConsole(ComPort port);

  // Collects the reply into `reply` (at most capacity - 1 bytes) until
  // `prompt` occurs in the text (up to its first NUL) at a position other
  // than the first byte, or `timeoutMs` has passed. True when the prompt was
  // seen. A port that fails while reading ends the collection with false.
  // So does a known error text of the boot monitor (KnownErrorTexts) once a
  // prompt has followed it: the command is over and failed, and waiting out
  // its time-out would only hold the load. Error texts inside `echo` (the
  // command line as the unit echoes it) do not count.
  bool CollectReply(ComPort port, const QByteArray& prompt, QByteArray& reply, int capacity,
                    int timeoutMs, const QByteArray& echo = QByteArray());

  // Hands `line` to the message sink, if one is registered.
  void ReportLine(const QString& line);
  // Reports every run of printable ASCII in the first `length` bytes as a line.
  void ReportReplyLines(const char* buffer, int length);
  void ReportReplyLines(const QByteArray& reply);
  // Heading, the reply's lines, then "End of response.".
  void ReportFailure(const QString& heading, const QByteArray& reply);

  // Waits `milliseconds` while the event loop runs.
  void WaitPumping(int milliseconds);

  // Sends "reset\r", reports "Resetting station.", flushes and closes `port`,
  // waits, and reopens the port (up to timings.reopenAttempts tries). Returns
  // the reopened port or nullptr. `port` is consumed either way.
  ComPort ResetAndReopen(ComPort port);

  // Stops the autoboot by sending the stop string until the prompt shows.
  // With `showPowerPrompt` the operator is asked to power the unit on and the
  // catch runs until caught or cancelled, or until `timeoutMs` when that is
  // above 0; without the prompt, until `timeoutMs`.
  // Once the prompt shows, drains what the unit still answers to stop
  // strings on their way (SettleConsole). Sets bootMonitorName, then runs
  // DetectBoard when caught. `port` may be
  // replaced by a reopened one. True when the boot monitor was caught.
  bool CatchBootMonitor(ComPort& port, int timeoutMs, bool showPowerPrompt);

  // Reads "printenv" and sets boardCode; true when a known board was found.
  bool DetectBoard(ComPort port);

  // ---- Boot monitor command set -------------------------------------------
  // Each wrapper writes its command, waits for its text, judges the reply and
  // on failure reports its heading, the reply lines and "End of response.".

  bool ProtectFlashOn(ComPort port);
  bool ProtectFlashOff(ComPort port, uint32_t start, uint32_t length);
  bool EraseFlash(ComPort port, uint32_t start, uint32_t length);
  bool EraseNandAllClean(ComPort port);
  bool EraseNandRange(ComPort port, uint32_t offset, uint32_t size);
  bool EraseNandCleanRange(ComPort port, uint32_t offset, uint32_t size);
  // Writes `size` bytes; size 0 writes the unit's ${filesize} bytes.
  bool WriteNandFile(ComPort port, uint32_t memoryAddress, uint32_t nandOffset, uint32_t size = 0);
  bool WriteNandJffs2(ComPort port, uint32_t memoryAddress, uint32_t nandOffset, uint32_t size);
  // count 0 copies the unit's ${filesize} bytes.
  bool CopyMemory(ComPort port, uint32_t source, uint32_t destination, uint32_t count = 0);
  bool FillMemory(ComPort port, uint32_t address, uint32_t count, uint32_t value);
  // "mw.l ADDRESS PATTERN COUNT": `count` 32-bit words of RAM set to
  // `pattern`; judged as FillMemory, with the time of a pass over a whole
  // image (timings.checksumMs).
  bool FillMemoryWords(ComPort port, uint32_t address, uint32_t count, uint32_t pattern);
  bool WriteCleanMarkers(ComPort port, uint32_t firstAddress, uint32_t step, uint32_t count);
  // "echo ${filesize}": `size` is the hexadecimal number the answer begins
  // with (0 when none); `answer`, when given, receives the answer's text.
  bool GetFileSize(ComPort port, uint32_t& size, QByteArray* answer = nullptr);
  bool GetNvramInfo(ComPort port, uint32_t& start, uint32_t& size);
  bool GetDramInfo(ComPort port, uint32_t& start, uint32_t& size);
  bool GetNorInfo(ComPort port, uint32_t& size);
  // True with size 0 when the reply names no known NAND size.
  bool GetNandSize(ComPort port, uint32_t& size);
  // Sets the unit's clock to the PC's local time (SetClockAt: to `localTime`).
  bool SetClock(ComPort port);
  bool SetClockAt(ComPort port, const QDateTime& localTime);
  bool QueryBootMonitorName(ComPort port);
  bool MemoryTest(ComPort port, uint32_t start, uint32_t end);
  // Read-back of a NAND range into RAM, with the read form that matches the
  // write ("nand read.e" after "nand write.e", "nand read.jffs2" after
  // "nand write.jffs2"): true when "done" or "OK" ("OK" alone for jffs2)
  // came before the prompt.
  bool ReadNandFile(ComPort port, uint32_t memoryAddress, uint32_t nandOffset, uint32_t size);
  bool ReadNandJffs2(ComPort port, uint32_t memoryAddress, uint32_t nandOffset, uint32_t size);
  // "crc32 ADDRESS SIZE": the unit's CRC-32 of a memory range (RAM, or NOR
  // which is memory-mapped). kValue stores it in `crc`; kNoCommand for a
  // boot monitor without the command; kUnreadable (any other reply, or no
  // prompt) reports "Failed to check memory. Message response was:".
  Crc32Reply ChecksumMemory(ComPort port, uint32_t address, uint32_t size, uint32_t& crc);

  // ---- Network settings and image fetch -----------------------------------

  // Has the unit fetch `imagePath` into RAM at `ramAddress` from a TFTP
  // server started for this fetch (and stopped before returning). Reads the
  // [TFTP] keys of the load parameter file; reports each missing one. True
  // when the boot monitor reported the bytes transferred.
  bool FetchImage(ComPort port, uint32_t ramAddress, const QString& imagePath);
  bool FetchByTftp(ComPort port, uint32_t ramAddress, const QString& imagePath) {
    return FetchImage(port, ramAddress, imagePath);
  }

  // ---- Memory and flash verification --------------------------------------

  // Checks NVRAM, DRAM, NOR and NAND against the expectation texts below,
  // tests and prepares the NVRAM and sets the clock. Reports every outcome.
  bool VerifyMemories(ComPort port);

  // ---- Data ----------------------------------------------------------------

  QString phaseName;
  int clientLost = 0;
  int waitState = 0;
  int currentStep = 0;
  int expectedSerial = -1;
  QString stationSubnet;
  QString stationGateway;
  QString stationAddress;
  std::unique_ptr<TftpServer> tftpServer;  // the running fetch's server
  // A server shared with other loads (a batch), or nullptr: each fetch and
  // upgrade then starts a server of its own on tftpListenPort. With one,
  // `tftpSession` is the open session in place of `tftpServer`.
  TftpService* tftpService = nullptr;
  std::unique_ptr<TftpSession> tftpSession;
  // The station link of the Ethernet-only path and of WaitForTransfers'
  // station queries: the engine's own link unless a test puts another here.
  // One link per engine, so its sequence numbers run on across loads.
  StationLink* stationLink = nullptr;

  QString bootMonitorName;  // "U-Boot", "PPCBoot" or empty
  QByteArray catchBuffer;   // bytes seen while catching (at most 9999)
  int catchCount = 0;
  bool caught = false;

  // The unit's temporary network settings as last read for a fetch.
  QString envIpAddr;
  QString envSubnet;
  QString envGatewayIp;
  QString envServerIp;

  int tftpMode = 0;
  int boardCode = kBoardUnknown;

  uint32_t tempRamAddress = 0;
  QString fsImagePath;
  uint32_t norFsAddress = 0;
  uint32_t fsRegionSize = 0;
  QString bootImagePath;
  uint32_t norBootAddress = 0;
  bool useBootImage = false;
  uint32_t norFlashSize = 0;
  // NAND size found by the load's NAND query (0: none, or not asked).
  uint32_t nandFlashSize = 0;

  int dhcp = 0;

  MessageSink messageSink;
  void* messageSinkUser = nullptr;
  LoadProgressCallback progressCallback;
  void* progressUser = nullptr;

  int usbSerial = 0;
  // Longest wait of Run for the boot monitor, counted from the "Turn Power
  // ON" prompt, in milliseconds; 0 waits until it answers or the operator
  // cancels. Unattended runs set it so a silent unit cannot hold them.
  int catchLimitMs = 0;
  // Set by Run when the boot monitor had not answered within catchLimitMs.
  bool catchTimedOut = false;
  int transferComplete = 0;
  int transferStarted = 0;
  int waitDone = 0;
  QObject* ownerWindow = nullptr;

  // Expected memories of the selected unit type (texts such as "512KiB",
  // "64 MiB", "8 MiB", "128 MiB", "None") and its CPU type.
  QString expectedNvram;
  QString expectedDram;
  QString expectedNor;
  QString expectedNand;
  QString cpuType;
  bool cpuTypeRequired = false;

  ConsoleTimings timings;
  // UDP port of the TFTP server started by FetchImage (69 on a real load).
  quint16 tftpListenPort = 69;
  // Local address the fetch's server listens on; empty means every address.
  QString tftpBindAddress;

  // Serial load process and flash plans

  // Runs one serial load. `options` holds switches found anywhere in it:
  // "-DHCP" (the unit is told to use DHCP), "-NUM_TFTP=2" (two-image board),
  // "-ETH_ONLY" (hand the load to the Ethernet-only upgrade). Reads the load
  // parameter file, has the operator power the unit up, catches the boot
  // monitor, checks the firmware against the board, prepares the images and
  // runs a flash plan. Returns 1 on success and 0 on failure (messages shown
  // through the Ui service); with "-ETH_ONLY" the upgrade's own result.
  int Run(const QString& options);
  void SetOwnerWindow(QObject* window) { ownerWindow = window; }

  // The flash plans: run on an open port whose unit is at the prompt, with
  // the plan parameters filled. Report every step, send the final record and
  // reset the unit (the classic plan always, the new plan only after a
  // success). `port` is replaced by the reopened one. True on success.
  bool ClassicLoadProcess(ComPort& port);
  bool NewLoadProcess(ComPort& port);

  // Progress records (sent only while a progress callback is registered).
  // AnnouncePlan: kind 0 with the step list. ReportStep: the current step
  // ended ok / not ok and step `index` begins; currentStep = index.
  // AdvanceStep: the same for step currentStep + 1. ReportFinalResult: kind 2.
  // ReportProgressText: kind 1 carrying only `text` (a transfer's progress).
  void AnnouncePlan(const std::vector<LoadStep>& steps);
  void ReportStep(int index, bool previousOk);
  void AdvanceStep(bool ok);
  void ReportFinalResult(bool ok);
  void ReportProgressText(const QString& text);

  // Receiver of the TFTP server's events: 1 started, 2 complete, 3 client
  // lost, 4 file not found (`text` is then the server's message). Sets the
  // flags and keeps every transfer with its own outcome, matched by the
  // event's transfer id, so a wait that polls only now and then still sees
  // each transfer start and end exactly once, however the events of two
  // transfers interleave. The overload without an event is for callers that
  // know no transfer id: an end then belongs to the last transfer running.
  void OnTftpEvent(const TftpEvent& event);
  void OnTftpEvent(int code, const QString& text = QString());
  // Forgets every event counted so far; called before a server whose
  // transfers a wait will follow is started.
  void ClearTransferEvents();
  // Follows transfers the unit starts by itself from `tftpServer` (one, or
  // two with `expectSecond`), then waits for the station to answer again
  // (`stationQuery`, or else a poll over `stationLink` with a 1 s time-out
  // and no retries). waitState must be 1 on entry. A transfer step counts
  // only when a transfer of its file (`expectedTransferFiles`) was sent
  // whole; when its transfer is lost, a new request for the same file
  // carries on. Every state is bounded: a transfer that shows neither
  // progress nor an event for 61 polls counts as lost. A file the unit asks
  // for that the server does not have ends the wait at once with the
  // server's message. Each way it fails leaves a line saying why. 1 or -1.
  int WaitForTransfers(bool expectSecond);
  // Marks activity of a running transfer (a progress text) for
  // WaitForTransfers' bound.
  void NoteTransferActivity() { ++transferActivity; }

  // A transfer started since the last ClearTransferEvents: the server's id
  // for it (-1 unknown), the file it serves, its outcome (0 running, 2
  // complete, 3 client lost) and the transfer step WaitForTransfers took it
  // for (-1 none yet).
  struct FollowedTransfer {
    int id = -1;
    QString filePath;
    int outcome = 0;
    int step = -1;
  };
  std::vector<FollowedTransfer> followedTransfers;
  // The files WaitForTransfers expects, in order: the file system image,
  // then the boot image. A transfer of another file counts for nothing.
  // Empty: the first transfers count, whatever they serve.
  QStringList expectedTransferFiles;
  // Activity seen (events and progress).
  int transferActivity = 0;
  // The server's message for the first file not found since the last
  // ClearTransferEvents; empty when none.
  QString fileNotFoundText;

  // The Ethernet-only controller upgrade (Run with "-ETH_ONLY"): asks the
  // running station over the station link for its flash layout, processor
  // and firmware build, writes "/tmp/fwupdate.config" into it, runs its
  // update script, serves the images by TFTP (port tftpListenPort), resets
  // it and follows its downloads. Every failure shows its message. 1 or 0.
  int UpgradeOverEthernet(const QString& options);

  // Resets the unit, reopens the port and counts down while it restarts
  // ("load" settings "hard reset delay ms" and, for "kvimage6" images,
  // "4410 hard reset extension"). Returns the reopened port or nullptr.
  ComPort RestartSequence(ComPort port);

  // The fwbXXXXXX folders of a run are added here; without a list (a Run
  // not started by the dispatcher) the run keeps its own and removes them
  // when it returns.
  class WorkFolderList* workFolderList = nullptr;
  // Replaces UpgradeOverEthernet for "-ETH_ONLY" loads when set (tests of
  // the dispatcher).
  std::function<int(LoadEngine& engine, const QString& options)> ethernetOnlyUpgrade;
  // One station query of WaitForTransfers' restart states; true when the
  // station answered.
  std::function<bool(LoadEngine& engine)> stationQuery;

  // ---- Read-back verification ----------------------------------------------
  // With verification on (settings "load" / "verify flash", default 1, and
  // not `noVerify`) the plans check every image: its CRC-32 in RAM after the
  // fetch (a mismatch stops the plan before anything is erased), and its
  // copy in flash after the write, as steps of their own ("Verify
  // filesystem image", "Verify boot image").

  // Turns verification off for this engine's loads whatever the setting
  // says (fwload load --no-verify).
  bool noVerify = false;
  // Size, CRC-32 and SHA-256 of the images of the last plan (file system
  // first, then the boot image), computed once before the plan sends them.
  std::vector<ImageDigest> imageDigests;

  // Digests the plan's images and decides whether this plan verifies.
  // Returns whether it does.
  bool PrepareImageChecks();
  // The checks; each is true when the copy matches or cannot be checked
  // (a boot monitor without "crc32": reported once, load not verified). A
  // mismatch reports its line and a check record, and gives false.
  bool CheckImageInRam(ComPort port, const ImageDigest& image);
  bool CheckNorCopy(ComPort port, uint32_t norAddress, const ImageDigest& image);
  bool CheckNandCopy(ComPort port, uint32_t nandOffset, const ImageDigest& image,
                     bool jffs2 = false);
  // The digest of the plan's file-system / boot image (an invalid one when
  // it was not computed).
  const ImageDigest& FsImageDigest() const;
  const ImageDigest& BootImageDigest() const;

  // ---- Checks a plan makes before it erases anything ------------------------
  // Nothing is erased before each image is known to fit where it goes, the
  // NOR range to be erased lies inside the unit's flash, and the unit has
  // the whole image in RAM (its CRC-32, CheckImageInRam, and its size).

  // A range of NOR flash a plan erases and writes.
  struct FlashSpan {
    uint32_t start = 0;
    uint32_t size = 0;
  };
  // The bytes a plan copies or writes for `image`: its file's size, as the
  // TFTP server sends it (0 when the file could not be read).
  static uint32_t ImageBytes(const ImageDigest& image);
  // True when `image` was read, is not empty and has at most `limit` bytes;
  // otherwise reports "Unable to read firmware.", "The image %1 is empty."
  // or "The image %1 is %2 bytes (0x%3); at most 0x%4 bytes fit its flash
  // region." and returns false.
  bool CheckImageSize(const ImageDigest& image, uint64_t limit);
  // Asks the unit where its NOR flash lies ("bdinfo" flashstart and
  // flashsize) and checks that every span lies wholly inside it. A failed
  // query reports as GetNorInfo does; a span outside reports "Flash range
  // 0x%1 to 0x%2 lies outside the unit's NOR flash (0x%3 to 0x%4); nothing
  // was erased.". True without asking when there are no spans.
  bool CheckNorSpans(ComPort port, const std::vector<FlashSpan>& spans);
  // After a fetch: the unit's "filesize" must be one hexadecimal number equal
  // to `expected`; otherwise reports "The unit reports file size %s after
  // the transfer, expected %x." (the answer as the unit gave it).
  bool CheckTransferredSize(ComPort port, uint32_t expected);

  // Pauses of the load process and of WaitForTransfers, in milliseconds;
  // tests shorten them (the try counts are fixed).
  struct PlanTimings {
    int powerOnPollMs = 50;        // between two port-opening attempts
    int powerOnAttempts = 1002;    // the attempt that gives up
    int catchTimeoutMs = 15000;    // catch of a USB adapter (no power prompt)
    int nandInfoMs = 3000;         // the "nand info" after the catch
    int transferPollMs = 1000;     // first transfer, and every running transfer
    int secondStartPollMs = 3000;  // waiting for the second transfer to start
    int restartPollMs = 3000;      // between two station queries
    int restartQueryMs = 1000;     // time-out of one station query
    int countdownStepMs = 1000;    // one second of the restart countdown
  };
  PlanTimings planTimings;

  // End of serial load process and flash plans

 private:
  std::unique_ptr<StationLink> ownStationLink_;

  // Sends a check record for the current step.
  void ReportCheck(uint32_t expected, uint32_t found, const QString& text);
  // Compares the unit's CRC over a range with `image`; `mismatchText` is the
  // message format for a difference (two %08x values).
  bool CheckRange(ComPort port, uint32_t address, const ImageDigest& image,
                  const char* mismatchText);

  bool verifying_ = false;          // this plan verifies
  bool checksUnavailable_ = false;  // the unit has no crc32 command
  // Shown instead of the state word of the step that ends next.
  QString endingStateText_;

  // The common shape of a wrapper: write `command`, collect up to `waitText`
  // within `timeoutMs` into `reply`. Returns whether the write succeeded;
  // `promptSeen` tells whether the wait text came.
  bool SendAndCollect(ComPort port, const QByteArray& command, const QByteArray& waitText,
                      int timeoutMs, QByteArray& reply, bool& promptSeen);
  // Wrapper rows judged by a marker before the first prompt.
  bool RunMarkerCommand(ComPort port, const QByteArray& command, int timeoutMs,
                        const QList<QByteArray>& markers, const QString& heading);
  // Wrapper rows judged by the write and the wait text alone.
  bool RunPromptCommand(ComPort port, const QByteArray& command, const QByteArray& waitText,
                        int timeoutMs, const QString& heading);
  // One "bdinfo" query for a start/size pair (or the size alone).
  bool QueryBoardInfo(ComPort port, const char* startName, const char* sizeName,
                      const QString& startMissing, const QString& sizeMissing,
                      const QString& heading, uint32_t* start, uint32_t& size);
};

}  // namespace fwl
