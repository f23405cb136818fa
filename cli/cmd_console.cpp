// fwload console: catches a unit's boot monitor on a serial port without the
// power prompt (the operator powers the unit on or resets it meanwhile) and
// tells which boot monitor and board it found. For people at a bench.
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

#include "cli/cli_commands.h"
#include "engine/load_engine.h"
#include "engine/load_parameter_file.h"
#include "platform/ini_file.h"

namespace fwl::cli {
namespace {

constexpr int kDefaultTimeoutSeconds = 30;

void PrintJson(const QJsonObject& object) {
  std::printf("%s\n", QJsonDocument(object).toJson(QJsonDocument::Compact).constData());
  std::fflush(stdout);
}

int RunConsole(const QStringList& args) {
  QString port;
  int timeoutSeconds = kDefaultTimeoutSeconds;
  bool json = false;
  for (int i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    if (a == QLatin1String("--port") && i + 1 < args.size()) {
      port = args[++i];
    } else if (a == QLatin1String("--timeout") && i + 1 < args.size()) {
      bool ok = false;
      timeoutSeconds = args[++i].toInt(&ok);
      if (!ok || timeoutSeconds < 0 || timeoutSeconds > 24 * 3600) {
        std::fprintf(stderr, "fwload console: bad --timeout '%s'\n", qPrintable(args[i]));
        return kExitUsage;
      }
    } else if (a == QLatin1String("--json")) {
      json = true;
    } else {
      std::fprintf(stderr, "fwload console: unexpected argument '%s'\n", qPrintable(a));
      return kExitUsage;
    }
  }
  if (port.isEmpty()) {
    std::fprintf(stderr, "fwload console: --port PATH is required\n");
    return kExitUsage;
  }

  // The port is opened from the load parameter file, as a load opens it.
  const QString portText = ComPortParameterText(port);
  if (portText.isEmpty()) {
    std::fprintf(stderr, "fwload console: --port '%s' is longer than %d characters\n",
                 qPrintable(port), kComportBufferSize - 1);
    return kExitUsage;
  }
  const QString file = LoadParameterFilePath();
  const QString device = QString::fromLatin1(kSectionDevice);
  WritePrivateProfileString(device, kKeyComport, portText, file);
  WritePrivateProfileString(device, kKeyParity, QStringLiteral("None"), file);
  WritePrivateProfileString(device, kKeyBaud, QStringLiteral("9600"), file);
  WritePrivateProfileString(device, kKeyStopbits, QStringLiteral("1"), file);
  WritePrivateProfileString(device, kKeyDatabits, QStringLiteral("8"), file);

  LoadEngine engine;
  engine.SetMessageSink(
      [json](const QString& line, void*) {
        if (json) {
          PrintJson({{QStringLiteral("line"), line}});
        } else {
          std::printf("%s\n", line.toLocal8Bit().constData());
          std::fflush(stdout);
        }
      },
      nullptr);

  ComPort com = nullptr;
  if (!engine.OpenComPort(com)) {
    if (json) PrintJson({{QStringLiteral("caught"), false}});
    return kExitFailed;
  }
  if (!json) {
    std::fprintf(stderr,
                 "Waiting up to %d s for the boot monitor on %s: power the unit on or "
                 "reset it now.\n",
                 timeoutSeconds, qPrintable(port));
  }
  const bool caught = engine.CatchBootMonitor(com, timeoutSeconds * 1000, false);
  LoadEngine::CloseComPort(com);

  if (json) {
    PrintJson({{QStringLiteral("caught"), caught},
               {QStringLiteral("bootMonitor"), engine.bootMonitorName},
               {QStringLiteral("boardCode"), engine.boardCode}});
  } else if (caught) {
    std::printf("Boot monitor: %s\n", engine.bootMonitorName.isEmpty()
                                          ? "(unknown)"
                                          : qPrintable(engine.bootMonitorName));
    std::printf("Board code: %d\n", engine.boardCode);
  } else {
    std::printf("Boot monitor not caught within %d s.\n", timeoutSeconds);
  }
  return caught ? kExitOk : kExitFailed;
}

}  // namespace

FWL_REGISTER_SUBCOMMAND(
    console, "console", "catch a unit's boot monitor and identify its board",
    "Usage: fwload console --port PATH [--timeout SECONDS] [--json]\n"
    "\n"
    "Opens PATH (a name such as ttyUSB0 means /dev/ttyUSB0; a pseudo-terminal\n"
    "such as /dev/pts/3 works too; a link with a longer path, such as\n"
    "/dev/serial/by-id/..., stands for the device it leads to) at 9600 8N1,\n"
    "sends the boot monitor's autoboot stop string until its prompt answers\n"
    "and identifies the board.\n"
    "Power the unit on or reset it within the time-out (default 30 s); a\n"
    "unit already at its prompt is caught at once. Prints the diagnostic\n"
    "lines, the boot monitor name and the board code (0 unknown, 10, 20, 30).\n"
    "The [Device] keys of the load parameter file are set to these values.\n"
    "\n"
    "Exit status: 0 caught, 1 not caught or the port did not open, 2 bad usage.",
    RunConsole);

}  // namespace fwl::cli
