// fwload tftpd: the built-in TFTP server on its own, for recovering a unit
// by hand. Serves one folder until SIGINT/SIGTERM or, with --once, until one
// transfer completes.
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <map>

#include "app/settings.h"
#include "cli/cli_commands.h"
#include "platform/system_folders.h"
#include "tftp/tftp_server.h"

namespace fwl::cli {
namespace {

constexpr char kUsage[] =
    "Usage: fwload tftpd --root DIR [--port 69] [--retries N] [--timeout S]\n"
    "                    [--fixed-timer] [--log FILE] [--once] [--bind ADDR] [--json]\n"
    "\n"
    "Serves the files of DIR by TFTP (read requests only; the options blksize,\n"
    "tsize, timeout and windowsize are understood) until SIGINT or SIGTERM.\n"
    "Prints one line per request and per completion, and progress at 25, 50\n"
    "and 75 percent of larger files.\n"
    "\n"
    "  --root DIR     folder to serve (a requested path is reduced to its bare name)\n"
    "  --port N       UDP port to listen on (default 69)\n"
    "  --retries N    retransmissions per packet, 0..10 (default 3): a silent\n"
    "                 client is given up after (retries + 1) time-outs\n"
    "  --timeout S    longest wait before a retransmission, 1..255 s (default 3)\n"
    "  --fixed-timer  always wait the whole time-out before a retransmission\n"
    "                 (default: follow the measured round trip, 10 ms at least)\n"
    "  --log FILE     also keep the server's log in FILE\n"
    "  --once         exit after the first completed transfer\n"
    "  --bind ADDR    listen on this IPv4 address only (default: all)\n"
    "  --json         JSON lines instead of plain text\n"
    "\n"
    "The stored settings of the loader are not changed.\n"
    "A second SIGINT or SIGTERM ends it at once, without waiting for running\n"
    "transfers.\n"
    "Exit status: 0 after a signal (or the transfer with --once), 2 on bad usage\n"
    "or when the port cannot be bound.";

// Files smaller than this get no progress lines, only request and completion.
constexpr int kProgressMinBlocks = 64;

volatile std::sig_atomic_t gSignalled = 0;

// The first signal asks for a clean stop, which may wait a few seconds for
// running transfers; a second one ends the program at once.
void OnSignal(int signal) {
  if (gSignalled) {
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    return;
  }
  gSignalled = 1;
}

struct Options {
  QString root;
  int port = 69;
  int retries = 3;
  int timeout = 3;
  bool fixedTimer = false;
  QString logFile;
  bool once = false;
  bool json = false;
  QHostAddress bind{QHostAddress::AnyIPv4};
};

bool ReadInt(const QStringList& args, qsizetype& i, int low, int high, int& out) {
  if (i + 1 >= args.size()) return false;
  bool ok = false;
  const int value = args[++i].toInt(&ok);
  if (!ok || value < low || value > high) return false;
  out = value;
  return true;
}

// Returns an error text, or "" when the arguments are good.
QString ParseArgs(const QStringList& args, Options& o) {
  for (qsizetype i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    if (a == "--root" && i + 1 < args.size()) {
      o.root = args[++i];
    } else if (a == "--port") {
      if (!ReadInt(args, i, 0, 65535, o.port)) return "--port needs a number 0..65535";
    } else if (a == "--retries") {
      if (!ReadInt(args, i, 0, 10, o.retries)) return "--retries needs a number 0..10";
    } else if (a == "--timeout") {
      if (!ReadInt(args, i, 1, 255, o.timeout)) return "--timeout needs a number 1..255";
    } else if (a == "--log" && i + 1 < args.size()) {
      o.logFile = args[++i];
    } else if (a == "--bind" && i + 1 < args.size()) {
      o.bind = QHostAddress(args[++i]);
      if (o.bind.protocol() != QAbstractSocket::IPv4Protocol) return "--bind needs an IPv4 address";
    } else if (a == "--fixed-timer") {
      o.fixedTimer = true;
    } else if (a == "--once") {
      o.once = true;
    } else if (a == "--json") {
      o.json = true;
    } else {
      return QString("unknown or incomplete option '%1'").arg(a);
    }
  }
  if (o.root.isEmpty()) return "--root DIR is required";
  if (!QFileInfo(o.root).isDir()) return QString("'%1' is not a folder").arg(o.root);
  return QString();
}

class Printer {
 public:
  explicit Printer(bool json) : json_(json) {}

  void Line(const char* type, const QString& text, FILE* stream = stdout) {
    if (json_) {
      Json(QJsonObject{{"type", type}, {"text", text}}, stream);
    } else {
      std::fprintf(stream, "%s\n", qPrintable(text));
      std::fflush(stream);
    }
  }

  void Json(const QJsonObject& object, FILE* stream = stdout) {
    std::fprintf(stream, "%s\n", QJsonDocument(object).toJson(QJsonDocument::Compact).constData());
    std::fflush(stream);
  }

  bool json() const { return json_; }

 private:
  bool json_;
};

// Percentage at the end of a progress text "...(NN%)".
int PercentOf(const QString& text) {
  const qsizetype open = text.lastIndexOf('(');
  const qsizetype pct = text.lastIndexOf('%');
  if (open < 0 || pct <= open) return -1;
  bool ok = false;
  const int value = text.mid(open + 1, pct - open - 1).toInt(&ok);
  return ok ? value : -1;
}

int RunTftpd(const QStringList& args) {
  Options options;
  const QString error = ParseArgs(args, options);
  if (!error.isEmpty()) {
    std::fprintf(stderr, "fwload tftpd: %s\n\n%s\n", qPrintable(error), kUsage);
    return kExitUsage;
  }

  // The server keeps its configuration in the stored settings; a private
  // settings file keeps this run from changing what the wizard remembers.
  QTemporaryDir settingsDir;
  if (!settingsDir.isValid()) {
    std::fprintf(stderr, "fwload tftpd: cannot create a temporary folder\n");
    return kExitFailed;
  }
  const QString savedSettings = SettingsFilePath();
  SetSettingsFile(settingsDir.filePath("tftpd.ini"));

  Printer out(options.json);
  TftpServer server;
  server.SetBindAddress(options.bind);
  server.SetListenPort(options.port);
  const QString root = WithTrailingSeparator(QDir(options.root).absolutePath());
  server.SetOutboundFolder(root);
  server.SetInboundFolder(root);
  server.SetRetries(options.retries);
  server.SetTimeout(qMin(options.timeout, 10));
  server.SetRetransmitInterval(options.timeout * 1000);
  server.SetAdaptive(!options.fixedTimer);
  if (!options.logFile.isEmpty()) {
    SetSettingText(kSectionTftp, "log file", QFileInfo(options.logFile).absoluteFilePath());
    SetSettingInt(kSectionTftp, "log to file", 1);
  }

  bool startFailed = false;
  server.SetLogCallback([&](const QString& line) {
    if (line.startsWith("Unable to start server")) {
      startFailed = true;
      out.Line("error", line, stderr);
      return;
    }
    out.Line("log", line);
  });
  std::map<int, int> lastQuarter;  // transfer id -> last quarter printed
  server.SetStatusCallback(
      [&](int id, const QString& text, int flag, void*) {
        if (flag != kTftpStatusProgress) return;
        const int percent = PercentOf(text);
        const qsizetype bytes = text.indexOf(" bytes sent");
        const QString head = text.left(bytes);
        const qsizetype colon = head.lastIndexOf(": ");
        const long long offset = head.mid(colon + 2).toLongLong();
        if (percent < 0 || offset < static_cast<long long>(kProgressMinBlocks) * 512) return;
        const int quarter = percent / 25;
        if (quarter < 1 || quarter > 3 || lastQuarter[id] >= quarter) return;
        lastQuarter[id] = quarter;
        if (out.json()) {
          out.Json(QJsonObject{{"type", "progress"}, {"transfer", id}, {"percent", quarter * 25}});
        } else {
          out.Line("progress", QString("Transfer %1: %2%").arg(id).arg(quarter * 25));
        }
      },
      nullptr);
  bool finishedOnce = false;
  server.SetEventCallback(
      [&](const TftpEvent& event, void*) {
        if (out.json()) {
          out.Json(QJsonObject{{"type", "event"},
                               {"kind", event.kind},
                               {"client", event.clientAddress},
                               {"text", event.text}});
        }
        if (event.kind == kTftpEventTransferComplete && options.once) finishedOnce = true;
      },
      nullptr);

  // Handlers go in before the server says it listens, so a signal sent on
  // that line already ends the run cleanly.
  gSignalled = 0;
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  const int started = server.Start();
  if (started != 0) {
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    SetSettingsFile(savedSettings);
    if (!startFailed) std::fprintf(stderr, "fwload tftpd: the server did not start\n");
    if (!server.StartFailureReason().isEmpty()) {
      out.Line("error", server.StartFailureReason(), stderr);
    }
    return kExitUsage;
  }

  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (gSignalled || finishedOnce) QCoreApplication::exit(0);
  });
  poll.start(50);
  QCoreApplication::exec();
  poll.stop();
  server.Stop();
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  SetSettingsFile(savedSettings);
  return kExitOk;
}

}  // namespace

FWL_REGISTER_SUBCOMMAND(tftpd, "tftpd", "serve a folder by TFTP (recovering a unit by hand)",
                        kUsage, RunTftpd);

}  // namespace fwl::cli
