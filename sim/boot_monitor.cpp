#include "sim/boot_monitor.h"

#include <QRegularExpression>
#include <QTimer>

#include "sim/sim_tftp_client.h"

namespace fwl {

namespace {

constexpr int kMaxLine = 256;  // longer input is dropped, as the monitor's buffer is full
constexpr char kBuildStamp[] = "(Mar 12 2008 - 10:12:44)";
constexpr char kCtrlC = 0x03;
// What a busy unit holds of the input that arrives meanwhile; the rest is
// lost, as in a full receive buffer.
constexpr qsizetype kMaxPending = 4096;

}  // namespace

BootMonitor::BootMonitor(const SimOptions& options, QObject* parent)
    : QObject(parent), options_(options), memory_(options) {
  commands_ = {
      {"version", &BootMonitor::CmdVersion},  {"printenv", &BootMonitor::CmdPrintenv},
      {"setenv", &BootMonitor::CmdSetenv},    {"saveenv", &BootMonitor::CmdSaveenv},
      {"bdinfo", &BootMonitor::CmdBdinfo},    {"echo", &BootMonitor::CmdEcho},
      {"date", &BootMonitor::CmdDate},        {"reset", &BootMonitor::CmdReset},
      {"help", &BootMonitor::CmdHelp},        {"protect", &BootMonitor::CmdProtect},
      {"erase", &BootMonitor::CmdErase},      {"cp", &BootMonitor::CmdCopy},
      {"cp.b", &BootMonitor::CmdCopy},        {"cp.w", &BootMonitor::CmdCopy},
      {"cp.l", &BootMonitor::CmdCopy},        {"mw", &BootMonitor::CmdMemoryWrite},
      {"mw.b", &BootMonitor::CmdMemoryWrite}, {"mw.w", &BootMonitor::CmdMemoryWrite},
      {"mw.l", &BootMonitor::CmdMemoryWrite}, {"mtest", &BootMonitor::CmdMtest},
      {"tftp", &BootMonitor::CmdTftp},        {"tftpboot", &BootMonitor::CmdTftp},
      {"crc32", &BootMonitor::CmdCrc32},
  };
  if (options_.nandSize > 0) commands_.insert("nand", &BootMonitor::CmdNand);
  for (const QString& name : options_.missingCommands) commands_.remove(name);
  ResetDefaults();
  clockBase_ = QDateTime::currentDateTime();
  clockRunning_.start();
}

BootMonitor::~BootMonitor() = default;

const char* BootMonitor::StateName(State s) {
  switch (s) {
    case State::kOff:
      return "off";
    case State::kCountdown:
      return "countdown";
    case State::kPrompt:
      return "prompt";
    case State::kBusy:
      return "busy";
    case State::kHung:
      return "hung";
    case State::kBooted:
      return "booted";
  }
  return "?";
}

void BootMonitor::ResetDefaults() {
  SimEnvironment env;
  env.Set("bootcmd", QString("bootm %1").arg(options_.norBase + 0x80000u, 0, 16));
  env.Set("bootdelay", QString::number(options_.bootDelaySeconds));
  env.Set("baudrate", "115200");
  env.Set("ethaddr", "00:0a:de:01:02:03");
  env.Set("loadaddr", QString::number(options_.dramBase + 0x100000u, 16));
  if (!options_.noStdin) env.Set("stdin", "serial");
  env.Set("stdout", "serial");
  env.Set("stderr", "serial");
  if (!options_.board.isEmpty()) env.Set("board", options_.board);
  savedEnv_ = env;
  env_ = env;
}

// ---- output ---------------------------------------------------------------

void BootMonitor::Print(const QString& text) {
  QByteArray bytes = text.toLatin1();
  QByteArray out;
  out.reserve(bytes.size() + 16);
  for (char c : bytes) {
    if (c == '\n') out += '\r';
    out += c;
  }
  reply_ += out;
}

void BootMonitor::PrintRaw(const QByteArray& bytes) { reply_ += bytes; }

void BootMonitor::Flush() {
  if (reply_.isEmpty()) return;
  QByteArray out;
  out.swap(reply_);
  if (output_) output_(out);
}

void BootMonitor::ShowPrompt() {
  PrintRaw("=> ");
  Flush();
}

QString BootMonitor::BannerLine() const {
  return QString("%1 %2 %3").arg(options_.monitorName, options_.monitorVersion, kBuildStamp);
}

// ---- power and boot ---------------------------------------------------------

void BootMonitor::PowerOn() {
  if (state_ != State::kOff) PowerOff();
  Boot();
}

void BootMonitor::PowerOff() {
  ++epoch_;
  if (tftp_) tftp_->Abort();
  memory_.PowerOff();
  env_ = savedEnv_;
  pending_.clear();
  keyBuffer_.clear();
  line_.clear();
  reply_.clear();
  lastCommand_.clear();
  ctrlCAborts_ = false;
  tftpRunning_ = false;
  state_ = State::kOff;
}

void BootMonitor::ReleaseSockets() { tftp_.reset(); }

void BootMonitor::Reboot() {
  PowerOff();
  Boot();
}

void BootMonitor::Boot() {
  ++epoch_;
  memory_.ProtectMonitorSectors();
  Print("\n\n" + BannerLine() + "\n\n");
  Print(options_.bigEndian ? "CPU:   PowerPC\n" : "CPU:   ARM926EJ-S\n");
  if (!options_.board.isEmpty()) Print("Board: " + options_.board + "\n");
  Print(QString("DRAM:  %1 MB\n").arg(options_.dramSize >> 20));
  if (options_.norSize) Print(QString("FLASH: %1 MB\n").arg(options_.norSize >> 20));
  if (options_.nandSize) Print(QString("NAND:  %1 MiB\n").arg(options_.nandSize >> 20));
  Print("In:    serial\nOut:   serial\nErr:   serial\nNet:   FEC ETHERNET\n");
  countdown_ = options_.bootDelaySeconds;
  Print(QString("Hit any key to stop autoboot: %1 ").arg(countdown_, 2));
  Flush();
  state_ = State::kCountdown;
  if (!options_.autoboot) return;
  const quint64 epoch = epoch_;
  QTimer::singleShot(options_.countdownTickMs, this, [this, epoch] {
    if (epoch == epoch_) CountdownTick();
  });
}

void BootMonitor::CountdownTick() {
  if (state_ != State::kCountdown) return;
  if (countdown_ > 0) --countdown_;
  Print(QString("\b\b\b%1 ").arg(countdown_, 2));
  if (countdown_ > 0) {
    Flush();
    const quint64 epoch = epoch_;
    QTimer::singleShot(options_.countdownTickMs, this, [this, epoch] {
      if (epoch == epoch_) CountdownTick();
    });
    return;
  }
  // Nobody stopped it: the unit starts its operating system and the boot
  // monitor is gone until the next reset or power cycle.
  Print(QString("\n## Booting image at %1 ...\nStarting kernel ...\n\n")
            .arg(options_.norBase + 0x80000u, 8, 16, QChar('0')));
  Flush();
  state_ = State::kBooted;
}

void BootMonitor::StopCountdown() {
  Print(QString("\b\b\b%1 \n").arg(0, 2));
  state_ = State::kPrompt;
  ShowPrompt();
}

// ---- input -------------------------------------------------------------------

void BootMonitor::Receive(const QByteArray& bytes) {
  if (bytes.isEmpty()) return;
  switch (state_) {
    case State::kOff:
    case State::kBooted:
      return;
    case State::kCountdown: {
      const QByteArray key = options_.stopString.toLatin1();
      if (options_.anyKey || key.isEmpty()) {
        // The first byte only stops the countdown; whatever followed it is
        // typed at the prompt.
        StopCountdown();
        pending_ += bytes.mid(1);
        Pump();
        return;
      }
      keyBuffer_ += bytes;
      const qsizetype at = keyBuffer_.indexOf(key);
      if (at < 0) {
        keyBuffer_ = keyBuffer_.right(key.size() - 1);
        return;
      }
      pending_ += keyBuffer_.mid(at + key.size());
      keyBuffer_.clear();
      StopCountdown();
      Pump();
      return;
    }
    case State::kPrompt:
      pending_ += bytes;
      Pump();
      return;
    case State::kBusy:
      if (ctrlCAborts_) {
        // Commands that poll for Ctrl-C swallow everything else they read.
        if (bytes.contains(kCtrlC)) OnCtrlC();
        return;
      }
      pending_ += bytes.left(qMax<qsizetype>(0, kMaxPending - pending_.size()));
      return;
    case State::kHung:
      if (bytes.contains(kCtrlC)) {
        Print("<INTERRUPT>\n");
        state_ = State::kPrompt;
        ShowPrompt();
      }
      return;
  }
}

void BootMonitor::Pump() {
  while (state_ == State::kPrompt && !pending_.isEmpty()) {
    const char c = pending_.front();
    pending_.remove(0, 1);
    HandleChar(c);
  }
  Flush();
}

void BootMonitor::HandleChar(char c) {
  switch (c) {
    case '\r':
    case '\n': {
      Print("\n");
      QString line = QString::fromLatin1(line_);
      line_.clear();
      if (line.trimmed().isEmpty()) line = lastCommand_;  // empty line repeats
      if (line.trimmed().isEmpty()) {
        ShowPrompt();
        return;
      }
      RunLine(line);
      return;
    }
    case kCtrlC:
      line_.clear();
      Print("<INTERRUPT>\n");
      ShowPrompt();
      return;
    case 0x08:
    case 0x7f:
      if (!line_.isEmpty()) {
        line_.chop(1);
        PrintRaw("\b \b");
      }
      return;
    case '\t':
      c = ' ';
      break;
    default:
      break;
  }
  if (static_cast<unsigned char>(c) < 0x20) return;
  if (line_.size() >= kMaxLine) return;
  line_ += c;
  PrintRaw(QByteArray(1, c));
}

QString BootMonitor::Expand(const QString& line) const {
  // The simple parser expands both bracketed spellings of a variable; hush
  // knows "${name}" and "$name" and leaves "$(name)" as it was typed. An
  // undefined variable expands to nothing.
  static const QRegularExpression simple(R"(\$\(([A-Za-z0-9_]+)\)|\$\{([A-Za-z0-9_]+)\})");
  static const QRegularExpression hush(R"(\$\{([A-Za-z0-9_]+)\}|\$([A-Za-z_][A-Za-z0-9_]*))");
  const QRegularExpression& ref = options_.hushParser ? hush : simple;
  QString out;
  qsizetype last = 0;
  auto it = ref.globalMatch(line);
  while (it.hasNext()) {
    auto m = it.next();
    out += line.mid(last, m.capturedStart() - last);
    const QString name = m.captured(1).isEmpty() ? m.captured(2) : m.captured(1);
    out += env_.Get(name);
    last = m.capturedEnd();
  }
  out += line.mid(last);
  return out;
}

bool BootMonitor::Repeatable(const QString& line) {
  // The commands a boot monitor marks repeatable (display, copy, test and
  // transfer commands); those that change settings or flash layout are not.
  static const QStringList kRepeatable = {"version", "printenv", "bdinfo",   "echo",
                                          "help",    "cp",       "mw",       "mtest",
                                          "nand",    "tftp",     "tftpboot", "crc32"};
  const QString name = line.trimmed().section(' ', 0, 0).section('.', 0, 0);
  return kRepeatable.contains(name);
}

bool BootMonitor::Matches(const QStringList& prefixes, const QString& line) const {
  for (const QString& p : prefixes)
    if (!p.isEmpty() && line.startsWith(p)) return true;
  return false;
}

void BootMonitor::RunLine(const QString& typed) {
  const QString line = Expand(typed).trimmed();
  commandLog_ << line;
  runningLine_ = typed;
  static const QRegularExpression blanks("\\s+");
  const QStringList args = line.split(blanks, Qt::SkipEmptyParts);
  int rc = kOk;
  if (args.isEmpty()) {
    rc = kOk;
  } else if (Matches(options_.failCommands, line)) {
    Print(QString("## Error: '%1' failed\n").arg(args[0]));
    rc = kFailed;
  } else {
    auto it = commands_.constFind(args[0]);
    if (it == commands_.constEnd()) {
      Print(QString("Unknown command '%1' - try 'help'\n").arg(args[0]));
      rc = kUnknown;
    } else {
      state_ = State::kBusy;
      rc = (this->*it.value())(args);
      if (rc == kAsync) {
        Flush();
        return;  // FinishAsync ends it
      }
      if (state_ != State::kBusy) {
        // The command took the unit elsewhere (reset).
        Flush();
        return;
      }
    }
  }
  FinishCommand(rc, typed);
}

void BootMonitor::FinishCommand(int rc, const QString& line) {
  if (rc == kUsage) {
    Print("Usage:\n" + line.section(' ', 0, 0) + " - see 'help'\n");
  }
  // What an empty line runs again: the simple parser repeats any command
  // that succeeded, hush only the commands marked repeatable.
  const bool repeatable = !options_.hushParser || Repeatable(Expand(line));
  lastCommand_ = rc == kOk && repeatable ? line : QString();
  int delay = options_.replyDelayMs;
  for (const auto& slow : options_.slowCommands)
    if (!slow.first.isEmpty() && Expand(line).trimmed().startsWith(slow.first))
      delay += slow.second;
  const bool hang = Matches(options_.hangCommands, Expand(line).trimmed());
  if (delay <= 0) {
    if (hang) {
      Flush();
      state_ = State::kHung;
      return;
    }
    state_ = State::kPrompt;
    ShowPrompt();
    return;
  }
  // Hold the reply back; what arrives meanwhile waits in `pending_`.
  state_ = State::kBusy;
  ctrlCAborts_ = false;
  QByteArray held;
  held.swap(reply_);
  const quint64 epoch = epoch_;
  QTimer::singleShot(delay, this, [this, epoch, held, hang] {
    if (epoch != epoch_) return;
    reply_ = held + reply_;
    if (hang) {
      Flush();
      state_ = State::kHung;
      return;
    }
    EndBusy();
  });
}

void BootMonitor::EndBusy() {
  state_ = State::kPrompt;
  ctrlCAborts_ = false;
  ShowPrompt();
  Pump();
}

void BootMonitor::FinishAsync(int rc) {
  ctrlCAborts_ = false;
  tftpRunning_ = false;
  FinishCommand(rc, runningLine_);
  if (state_ == State::kPrompt) Pump();
}

void BootMonitor::OnCtrlC() {
  ++epoch_;  // cancels the running command's timers and deferred ends
  if (tftpRunning_) {
    tftp_->Abort();
    Print("\nAbort\n");
    FinishAsync(kFailed);
    return;
  }
  // mtest: a Ctrl-C ends the endless test normally.
  Print("\n");
  FinishAsync(kOk);
}

// ---- environment and information commands ----------------------------------

int BootMonitor::CmdVersion(const QStringList&) {
  Print("\n" + BannerLine() + "\n");
  return kOk;
}

int BootMonitor::CmdPrintenv(const QStringList& args) {
  if (args.size() == 1) {
    Print(QString::fromLatin1(env_.Listing()));
    Print(QString("\nEnvironment size: %1/16379 bytes\n").arg(env_.StoredSize()));
    return kOk;
  }
  int rc = kOk;
  for (qsizetype i = 1; i < args.size(); ++i) {
    if (env_.Contains(args[i])) {
      Print(args[i] + "=" + env_.Get(args[i]) + "\n");
    } else {
      Print(QString("## Error: \"%1\" not defined\n").arg(args[i]));
      rc = kFailed;
    }
  }
  return rc;
}

int BootMonitor::CmdSetenv(const QStringList& args) {
  if (args.size() < 2) return kUsage;
  if (args[1].contains('=')) {
    Print("## Error: illegal character '=' in variable name \"" + args[1] + "\"\n");
    return kFailed;
  }
  env_.Set(args[1], args.mid(2).join(' '));
  return kOk;
}

int BootMonitor::CmdSaveenv(const QStringList&) {
  Print(
      "Saving Environment to Flash...\nUn-Protected 1 sectors\nErasing Flash...\n. done\n"
      "Erased 1 sectors\nWriting to Flash... done\nProtected 1 sectors\n");
  savedEnv_ = env_;
  return kOk;
}

int BootMonitor::CmdBdinfo(const QStringList&) {
  auto hex = [](quint64 v) { return "0x" + QString("%1").arg(v, 8, 16, QChar('0')).toUpper(); };
  Print("memstart    = " + hex(options_.dramBase) + "\n");
  Print("memsize     = " + hex(options_.dramSize) + "\n");
  Print("flashstart  = " + hex(options_.norSize ? options_.norBase : 0) + "\n");
  Print("flashsize   = " + hex(options_.norSize) + "\n");
  Print("flashoffset = 0x00030000\n");
  Print("sramstart   = " + hex(options_.nvramSize ? options_.nvramBase : 0) + "\n");
  Print("sramsize    = " + hex(options_.nvramSize) + "\n");
  Print("bootflags   = 0x00000001\n");
  Print("intfreq     =     50 MHz\n");
  Print("busfreq     =     50 MHz\n");
  Print("ethaddr     = " + env_.Get("ethaddr").toUpper() + "\n");
  const QString ip = env_.Get("ipaddr");
  Print("IP addr     = " + (ip.isEmpty() ? QString("unknown") : ip) + "\n");
  Print("baudrate    = " + env_.Get("baudrate") + " bps\n");
  return kOk;
}

int BootMonitor::CmdEcho(const QStringList& args) {
  Print(args.mid(1).join(' ') + "\n");
  return kOk;
}

int BootMonitor::CmdHelp(const QStringList&) {
  QStringList names = commands_.keys();
  names.sort();
  for (const QString& n : names) Print(n + "\n");
  return kOk;
}

int BootMonitor::CmdReset(const QStringList&) {
  Print("resetting ...\n");
  Flush();
  Reboot();
  return kOk;
}

int BootMonitor::CmdDate(const QStringList& args) {
  if (args.size() > 2) return kUsage;
  if (args.size() == 2) {
    // MMDDhhmm[[CC]YY][.ss]
    const QString spec = args[1];
    const QString main = spec.section('.', 0, 0);
    const QString secs = spec.contains('.') ? spec.section('.', 1) : QString("00");
    static const QRegularExpression digits("^[0-9]+$");
    const QDateTime now = clockBase_.addMSecs(clockRunning_.elapsed());
    bool good = digits.match(main).hasMatch() && digits.match(secs).hasMatch() &&
                secs.size() == 2 && (main.size() == 8 || main.size() == 10 || main.size() == 12);
    QDateTime target;
    if (good) {
      int year = now.date().year();
      if (main.size() == 10) year = 2000 + main.mid(8, 2).toInt();
      if (main.size() == 12) year = main.mid(8, 4).toInt();
      const QDate d(year, main.mid(0, 2).toInt(), main.mid(2, 2).toInt());
      const QTime t(main.mid(4, 2).toInt(), main.mid(6, 2).toInt(), secs.toInt());
      good = d.isValid() && t.isValid();
      target = QDateTime(d, t);
    }
    if (!good) {
      Print("## Bad date format\n");
      return kFailed;
    }
    clockBase_ = target;
    clockRunning_.restart();
  }
  static const char* kDays[] = {"Mon", "Tues", "Wednes", "Thurs", "Fri", "Satur", "Sun"};
  const QDateTime now = clockBase_.addMSecs(clockRunning_.elapsed());
  const QDate d = now.date();
  const QTime t = now.time();
  Print(QString("Date: %1-%2-%3 (%4day)    Time: %5:%6:%7\n")
            .arg(d.year(), 4)
            .arg(d.month(), 2, 10, QChar('0'))
            .arg(d.day(), 2, 10, QChar('0'))
            .arg(kDays[d.dayOfWeek() - 1])
            .arg(t.hour(), 2)
            .arg(t.minute(), 2, 10, QChar('0'))
            .arg(t.second(), 2, 10, QChar('0')));
  return kOk;
}

}  // namespace fwl
