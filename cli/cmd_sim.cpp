// "fwload sim": the simulated unit (a boot monitor on a pseudo-terminal) and
// the requests that power-cycle it and read back its flash and environment.
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <optional>

#include "cli/cli_commands.h"
#include "cli/sim_station_command.h"
#include "cli/sim_switch_command.h"
#include "sim/sim_unit.h"

namespace fwl::cli {
namespace {

constexpr char kSimUsage[] =
    "Usage: fwload sim unit [OPTIONS]\n"
    "       fwload sim power-cycle|power-off|power-on|state --control SOCKET\n"
    "       fwload sim dump --control SOCKET --what nor|nand|nvram|dram|env|savedenv|log\n"
    "                       --out FILE [--offset N] [--length N]\n" FWL_SIM_STATION_USAGE
    "\n"
    "\n"
    "sim unit runs a simulated unit whose boot monitor answers on a pseudo-terminal;\n"
    "it prints the terminal's path and runs until interrupted.\n"
    "  --link PATH           also make PATH a symbolic link to the terminal\n"
    "  --control SOCKET      accept control requests on this local socket\n"
    "  --board NAME          arm9, ppc855, 79524, none, or a literal board= value\n"
    "  --no-stdin            leave stdin= out of the environment\n"
    "  --monitor NAME        U-Boot (default) or PPCBoot\n"
    "  --stop-string TEXT    autoboot stop string (default interrupt)\n"
    "  --any-key             any byte stops the countdown\n"
    "  --parser simple|hush  command parser (default simple); hush leaves $(NAME)\n"
    "                        unexpanded and repeats only repeatable commands\n"
    "  --dram/--nvram/--nor/--nand SIZE   memory sizes (bytes, K/M suffix, or none)\n"
    "  --dram-base/--nvram-base/--nor-base ADDR   bus addresses (hex)\n"
    "  --nand-st             NAND made by ST (\"ST \" in nand info)\n"
    "  --little-endian / --big-endian\n"
    "  --boot-delay SEC      countdown length (default 3)\n"
    "  --tick-ms MS          length of one countdown step (default 1000)\n"
    "  --no-autoboot         the countdown never runs out\n"
    "  --boot-now            power on at once instead of when the port is opened\n"
    "  --reply-delay MS      delay before every reply\n"
    "  --slow PREFIX=MS      delay before the reply of commands beginning with PREFIX\n"
    "  --fail PREFIX         commands beginning with PREFIX fail\n"
    "  --hang PREFIX         commands beginning with PREFIX never return to the prompt\n"
    "  --mem-error ADDR      mtest over ADDR reports a memory error\n"
    "  --mtest-pass-ms MS    length of one mtest pass (default 100)\n"
    "  --tftp-port N         server port for the tftp command (default 69)\n"
    "  --tftp-blksize N      requested block size (default 1468, 0 = no options)\n"
    "  --tftp-timeout-ms MS  retransmission time-out (default 1000)\n"
    "  --tftp-stall-after N  stop acknowledging after N blocks\n"
    "  --corrupt-write OFFSET     flash writes flip a bit of the byte at OFFSET of the\n"
    "                             NOR or NAND (0x for hex; may be repeated)\n"
    "  --corrupt-transfer BLOCK   every fetch flips a bit in TFTP data block BLOCK\n"
    "                             (from 1; may be repeated)\n"
    "  --short-nand-read N   nand read stores N bytes fewer than asked, says OK\n"
    "  --no-crc32            a boot monitor built without the crc32 command\n"
    "  --no-command NAME     a boot monitor built without the command NAME\n"
    "\n" FWL_SIM_SWITCH_USAGE;

int signalPipe[2] = {-1, -1};

void OnSignal(int) {
  const char c = 1;
  [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &c, 1);
}

bool ParseNumber(const QString& text, quint64* value) {
  QString t = text.trimmed().toLower();
  if (t == "none") {
    *value = 0;
    return true;
  }
  quint64 scale = 1;
  if (t.endsWith("kib") || t.endsWith('k')) {
    scale = 1024;
    t.chop(t.endsWith("kib") ? 3 : 1);
  } else if (t.endsWith("mib") || t.endsWith('m')) {
    scale = 1024 * 1024;
    t.chop(t.endsWith("mib") ? 3 : 1);
  }
  bool ok = false;
  const quint64 v = t.toULongLong(&ok, 0);
  if (!ok || v > (~0ull) / scale) return false;
  *value = v * scale;
  return true;
}

bool ParseHexAddress(const QString& text, quint32* value) {
  QString t = text;
  if (t.startsWith("0x", Qt::CaseInsensitive)) t = t.mid(2);
  bool ok = false;
  const quint64 v = t.toULongLong(&ok, 16);
  if (!ok || v > 0xFFFFFFFFull) return false;
  *value = quint32(v);
  return true;
}

int UsageError(const QString& what) {
  std::fprintf(stderr, "fwload sim: %s\n", qPrintable(what));
  return kExitUsage;
}

// Flags without a value.
bool ParseFlag(const QString& a, SimOptions& o, std::optional<bool>& bigEndian) {
  if (a == "--no-stdin") {
    o.noStdin = true;
  } else if (a == "--any-key") {
    o.anyKey = true;
  } else if (a == "--nand-st") {
    o.nandSt = true;
  } else if (a == "--boot-now") {
    o.bootOnOpen = false;
  } else if (a == "--no-autoboot") {
    o.autoboot = false;
  } else if (a == "--no-crc32") {
    o.missingCommands << QStringLiteral("crc32");
  } else if (a == "--little-endian") {
    bigEndian = false;
  } else if (a == "--big-endian") {
    bigEndian = true;
  } else {
    return false;
  }
  return true;
}

// Options that take a plain non-negative number.
bool ParseCount(const QString& a, int k, SimOptions& o) {
  if (a == "--boot-delay") {
    o.bootDelaySeconds = k;
  } else if (a == "--tick-ms") {
    o.countdownTickMs = k;
  } else if (a == "--reply-delay") {
    o.replyDelayMs = k;
  } else if (a == "--mtest-pass-ms") {
    o.mtestPassMs = k;
  } else if (a == "--tftp-port" && k <= 65535) {
    o.tftpPort = quint16(k);
  } else if (a == "--tftp-blksize" && (k == 0 || (k >= 8 && k <= 65464))) {
    o.tftpBlockSize = k;
  } else if (a == "--tftp-timeout-ms") {
    o.tftpTimeoutMs = k;
  } else if (a == "--tftp-retries") {
    o.tftpRetries = k;
  } else if (a == "--tftp-stall-after") {
    o.tftpStallAfterBlocks = k;
  } else {
    return false;
  }
  return true;
}

int RunUnit(const QStringList& args) {
  SimOptions o;
  QString control, link, monitorVersion;
  std::optional<quint32> bases[3];  // DRAM, NVRAM, NOR
  std::optional<bool> bigEndian;
  for (qsizetype i = 0; i < args.size(); ++i) {
    const QString a = args[i];
    if (ParseFlag(a, o, bigEndian)) continue;
    if (i + 1 >= args.size()) return UsageError("missing value after " + a);
    const QString v = args[++i];
    quint64 n = 0;
    quint32 addr = 0;
    if (a == "--control") {
      control = v;
    } else if (a == "--link") {
      link = v;
    } else if (a == "--board") {
      o.board = SimBoardValue(v);
    } else if (a == "--monitor") {
      o.monitorName = v.compare("PPCBoot", Qt::CaseInsensitive) == 0  ? QString("PPCBoot")
                      : v.compare("U-Boot", Qt::CaseInsensitive) == 0 ? QString("U-Boot")
                                                                      : v;
    } else if (a == "--monitor-version") {
      monitorVersion = v;
    } else if (a == "--stop-string") {
      o.stopString = v;
    } else if (a == "--parser") {
      if (v != "simple" && v != "hush") return UsageError("--parser takes simple or hush");
      o.hushParser = v == "hush";
    } else if (a == "--short-nand-read") {
      if (!ParseNumber(v, &n)) return UsageError("bad value for " + a + ": " + v);
      o.shortNandReadBytes = n;
    } else if (a == "--dram" || a == "--nvram" || a == "--nor" || a == "--nand") {
      if (!ParseNumber(v, &n) || (a != "--nand" && n > 0xFFFFFFFFull)) {
        return UsageError("bad size " + v);
      }
      if (a == "--dram") o.dramSize = quint32(n);
      if (a == "--nvram") o.nvramSize = quint32(n);
      if (a == "--nor") o.norSize = quint32(n);
      if (a == "--nand") o.nandSize = n;
    } else if (a == "--dram-base" || a == "--nvram-base" || a == "--nor-base") {
      if (!ParseHexAddress(v, &addr)) return UsageError("bad address " + v);
      bases[a == "--dram-base" ? 0 : a == "--nvram-base" ? 1 : 2] = addr;
    } else if (a == "--mem-error") {
      if (!ParseHexAddress(v, &addr)) return UsageError("bad address " + v);
      o.memErrorAddress = addr;
    } else if (a == "--corrupt-write" || a == "--corrupt-transfer") {
      if (!ParseNumber(v, &n) || (a == "--corrupt-transfer" && n == 0)) {
        return UsageError("bad value for " + a + ": " + v);
      }
      (a == "--corrupt-write" ? o.corruptWriteOffsets : o.corruptTransferBlocks).push_back(n);
    } else if (a == "--no-command") {
      o.missingCommands << v;
    } else if (a == "--fail") {
      o.failCommands << v;
    } else if (a == "--hang") {
      o.hangCommands << v;
    } else if (a == "--slow") {
      const qsizetype eq = v.lastIndexOf('=');
      bool ok = false;
      const int ms = eq > 0 ? v.mid(eq + 1).toInt(&ok) : 0;
      if (!ok || ms < 0) return UsageError("--slow needs PREFIX=MS");
      o.slowCommands.push_back({v.left(eq), ms});
    } else {
      bool ok = false;
      const int k = v.toInt(&ok);
      if (!ok || k < 0 || !ParseCount(a, k, o)) {
        return UsageError("unknown option or bad value: " + a + " " + v);
      }
    }
  }
  ApplyBoardDefaults(o);
  if (bases[0]) o.dramBase = *bases[0];
  if (bases[1]) o.nvramBase = *bases[1];
  if (bases[2]) o.norBase = *bases[2];
  if (bigEndian) o.bigEndian = *bigEndian;
  if (!monitorVersion.isEmpty()) {
    o.monitorVersion = monitorVersion;
  } else if (o.monitorName == "PPCBoot") {
    o.monitorVersion = "2.0.0";
  }

  SimUnit unit(o);
  QString error;
  if (!unit.Start(control, &error)) {
    std::fprintf(stderr, "fwload sim: %s\n", qPrintable(error));
    return kExitFailed;
  }
  if (!link.isEmpty()) {
    QFile::remove(link);
    if (!QFile::link(unit.SlavePath(), link)) {
      std::fprintf(stderr, "fwload sim: cannot make the link %s\n", qPrintable(link));
      return kExitFailed;
    }
  }
  std::printf("%s\n", qPrintable(unit.SlavePath()));
  std::fflush(stdout);

  if (::pipe(signalPipe) != 0) return kExitFailed;
  QSocketNotifier quitNotifier(signalPipe[0], QSocketNotifier::Read);
  QObject::connect(&quitNotifier, &QSocketNotifier::activated, [] { QCoreApplication::quit(); });
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  QCoreApplication::exec();
  unit.Stop();
  if (!link.isEmpty() && QFileInfo(link).isSymLink()) QFile::remove(link);
  if (!control.isEmpty()) QFile::remove(control);
  return kExitOk;
}

int RunRequest(const QString& verb, const QStringList& args) {
  QString control, what, out, offset = "0", length = "-";
  QString* fields[] = {&control, &what, &out, &offset, &length};
  const char* names[] = {"--control", "--what", "--out", "--offset", "--length"};
  for (qsizetype i = 0; i < args.size(); i += 2) {
    if (i + 1 >= args.size()) return UsageError("missing value after " + args[i]);
    const auto* at = std::find(std::begin(names), std::end(names), args[i]);
    if (at == std::end(names)) return UsageError("unknown option " + args[i]);
    *fields[at - std::begin(names)] = args[i + 1];
  }
  if (control.isEmpty()) return UsageError("--control SOCKET is needed");
  QString request = verb;
  if (verb == "dump") {
    quint64 from = 0, count = 0;
    if (what.isEmpty() || out.isEmpty()) return UsageError("dump needs --what and --out");
    if (!ParseNumber(offset, &from) || (length != "-" && !ParseNumber(length, &count))) {
      return UsageError("bad --offset or --length");
    }
    request =
        QString("dump %1 %2 %3 %4")
            .arg(what, QString::number(from), length == "-" ? QString("-") : QString::number(count),
                 QFileInfo(out).absoluteFilePath());
  }
  QString answer;
  if (!SendSimControl(control, request, &answer)) {
    std::fprintf(stderr, "fwload sim: %s\n", qPrintable(answer));
    return kExitFailed;
  }
  if (!answer.startsWith("ok")) {
    std::fprintf(stderr, "fwload sim: %s\n", qPrintable(answer));
    return kExitFailed;
  }
  const QString rest = answer.mid(3);
  if (!rest.isEmpty()) std::printf("%s\n", qPrintable(rest));
  return kExitOk;
}

int RunSim(const QStringList& args) {
  if (args.isEmpty()) return UsageError("what to do? (unit, power-cycle, dump, ...)");
  const QString verb = args[0];
  if (verb == "unit") return RunUnit(args.mid(1));
  if (verb == "switch") return RunSimSwitch(args.mid(1));
  if (verb == "station") return RunSimStation(args.mid(1));
  if (verb == "power-cycle" || verb == "power-off" || verb == "power-on" || verb == "state" ||
      verb == "dump")
    return RunRequest(verb, args.mid(1));
  return UsageError("unknown sim request " + verb);
}

}  // namespace

FWL_REGISTER_SUBCOMMAND(sim, "sim", "simulated unit: boot monitor on a pseudo-terminal", kSimUsage,
                        RunSim);

}  // namespace fwl::cli
