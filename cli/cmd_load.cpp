// "fwload load": a whole load from the terminal through the same dispatcher
// and engine the wizard uses; the plan's steps and every change of their
// state are printed as lines (or JSON lines), the power prompts are asked on
// the terminal or answered by commands.
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

#include "catalogue/firmware_names.h"
#include "catalogue/project_file.h"
#include "cli/cli_commands.h"
#include "cli/load_checks.h"
#include "cli/progress_printer.h"
#include "cli/switch_load.h"
#include "cli/terminal_ui.h"
#include "engine/load_engine.h"
#include "engine/load_parameter_file.h"
#include "engine/load_record.h"
#include "station/station_link.h"
#include "switch/load_dispatch.h"

namespace fwl::cli {
namespace {

constexpr char kLoadUsage[] =
    "Usage: fwload load --product station|switch --method serial --port PORT\n"
    "                   --pc-ip A --ip B --subnet M [--gateway G] --firmware FILE\n"
    "                   [--project P --station NAME | --station-type CODE]\n"
    "                   [--power-off-cmd CMD] [--power-on-cmd CMD] [--yes]\n"
    "                   [--json] [--verbose] [--tftp-port N] [--catch-timeout SECONDS]\n"
    "                   [--no-verify]\n"
    "\n"
    "Loads FILE (an image, an archive or a firmware bundle) into the unit on the\n"
    "serial port PORT (a name such as ttyUSB0 or a device path): the unit is\n"
    "powered off and on, caught at its boot monitor and programmed from this\n"
    "computer's TFTP server at A; B, M and G are the unit's temporary address,\n"
    "subnet mask and gateway during the load.\n"
    "  --project P --station NAME   the station of a project file (type and serial number)\n"
    "  --station-type CODE          the station type without a project (5102: two images)\n"
    "  --power-off-cmd CMD          run CMD (through /bin/sh) instead of asking to switch\n"
    "                               the unit off; --power-on-cmd likewise for on\n"
    "  --yes                        answer every question with Yes/OK\n"
    "  --json                       one JSON object per progress event on stdout\n"
    "  --verbose                    also print the load's diagnostic lines\n"
    "  --tftp-port N                UDP port of the TFTP server (default 69)\n"
    "  --catch-timeout SECONDS      give up when the boot monitor has not answered\n"
    "                               SECONDS after the power-on prompt (default: wait\n"
    "                               until it answers or the prompt is cancelled)\n"
    "  --no-verify                  do not check the images with the unit's crc32 for this\n"
    "                               load (setting \"verify flash\" of section \"load\")\n"
    "\n"
    "       fwload load --product station --method eth --ip STATION --pc-ip A --subnet M\n"
    "                   [--gateway G] --firmware FILE [--station-type CODE |\n"
    "                   --project P --station NAME] [--dhcp] [--station-port N]\n"
    "                   [--tftp-port N] [--yes] [--json] [--verbose]\n"
    "\n"
    "Upgrades the running station at STATION over Ethernet alone (--method eth or\n"
    "ethernet): the station is asked over the station link (UDP port 5454, or N)\n"
    "for its hardware and build, gets its update file, is reset and fetches the\n"
    "images from this computer's TFTP server at A (port 69, or --tftp-port).\n"
    "The Ethernet-only warning is answered by --yes. --dhcp has the station\n"
    "take its address by DHCP during the upgrade.\n"
    "Steps and their states go to stdout; boxes and prompts to stderr.\n"
    "Exit status: 0 loaded, 1 the load failed or was cancelled, 2 bad usage or input.\n"
    "\n" FWL_SWITCH_LOAD_USAGE;

// A day: far beyond any unit's start-up, and safe to turn into milliseconds.
constexpr int kMaxCatchSeconds = 24 * 3600;

struct LoadArgs {
  LoadJob job;
  QString project;
  QString powerOffCommand;
  QString powerOnCommand;
  bool yes = false;
  bool json = false;
  bool verbose = false;
  bool noVerify = false;
  int tftpPort = 69;
  int stationPort = 0;          // 0: the station link's default
  int catchTimeoutSeconds = 0;  // 0: no limit
};

int UsageError(const QString& text) {
  std::fprintf(stderr, "fwload load: %s\n", qPrintable(text));
  return kExitUsage;
}

// Parses the arguments into `out`; returns kExitOk or a usage error.
int ParseArgs(const QStringList& args, LoadArgs& out) {
  QString product, method, stationType;
  LoadJob& job = out.job;
  for (int i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    auto value = [&](QString& target) {
      if (i + 1 >= args.size()) return false;
      target = args[++i];
      return true;
    };
    bool ok = true;
    if (a == "--product")
      ok = value(product);
    else if (a == "--method")
      ok = value(method);
    else if (a == "--port")
      ok = value(job.comPort);
    else if (a == "--pc-ip")
      ok = value(job.pcAddress);
    else if (a == "--ip")
      ok = value(job.stationAddress);
    else if (a == "--subnet")
      ok = value(job.subnet);
    else if (a == "--gateway")
      ok = value(job.gateway);
    else if (a == "--firmware")
      ok = value(job.firmwareFile);
    else if (a == "--project")
      ok = value(out.project);
    else if (a == "--station")
      ok = value(job.stationName);
    else if (a == "--station-type")
      ok = value(stationType);
    else if (a == "--power-off-cmd")
      ok = value(out.powerOffCommand);
    else if (a == "--power-on-cmd")
      ok = value(out.powerOnCommand);
    else if (a == "--yes")
      out.yes = true;
    else if (a == "--json")
      out.json = true;
    else if (a == "--verbose")
      out.verbose = true;
    else if (a == "--dhcp")
      job.dhcp = 1;
    else if (a == "--station-port") {
      QString text;
      ok = value(text);
      bool number = false;
      out.stationPort = text.toInt(&number);
      if (ok && (!number || out.stationPort < 1 || out.stationPort > 65535)) {
        return UsageError("--station-port needs a port number 1-65535");
      }
    } else if (a == "--no-verify") {
      out.noVerify = true;
    } else if (a == "--tftp-port") {
      QString text;
      ok = value(text);
      bool number = false;
      out.tftpPort = text.toInt(&number);
      if (ok && (!number || out.tftpPort < 1 || out.tftpPort > 65535)) {
        return UsageError("--tftp-port needs a port number 1-65535");
      }
    } else if (a == "--catch-timeout") {
      QString text;
      ok = value(text);
      bool number = false;
      out.catchTimeoutSeconds = text.toInt(&number);
      if (ok &&
          (!number || out.catchTimeoutSeconds < 1 || out.catchTimeoutSeconds > kMaxCatchSeconds)) {
        return UsageError(
            QStringLiteral("--catch-timeout needs a number of seconds 1-%1").arg(kMaxCatchSeconds));
      }
    } else {
      return UsageError(QStringLiteral("unknown option '%1'").arg(a));
    }
    if (!ok) return UsageError(QStringLiteral("%1 needs a value").arg(a));
  }

  if (product == "station")
    job.product = kProductStation;
  else if (product == "switch")
    job.product = kProductSwitch;
  else
    return UsageError("--product must be station or switch");
  if (method == "serial") {
    job.method = kMethodSerial;
  } else if (method == "eth" || method == "ethernet") {
    job.method = kMethodEthernetOnly;
  } else {
    return UsageError("--method must be serial or eth");
  }
  if (job.method == kMethodEthernetOnly && job.product != kProductStation) {
    return UsageError("--method eth is available for --product station");
  }
  if (job.method == kMethodSerial) {
    if (job.comPort.isEmpty()) return UsageError("--port is required");
    // The load parameter file carries the port in 19 characters; a longer
    // link (such as a by-id name or a simulator's) stands for its device.
    const QString portText = ComPortParameterText(job.comPort);
    if (portText.isEmpty()) {
      return UsageError(QStringLiteral("--port '%1' is longer than %2 characters")
                            .arg(job.comPort)
                            .arg(kComportBufferSize - 1));
    }
    job.comPort = portText;
  }
  if (const int status = CheckFirmwareAndAddresses(job); status != kExitOk) return status;

  if (!out.project.isEmpty() || !job.stationName.isEmpty()) {
    if (out.project.isEmpty() || job.stationName.isEmpty()) {
      return UsageError("--project and --station go together");
    }
    if (!stationType.isEmpty()) return UsageError("--station-type cannot go with --project");
    if (job.product != kProductStation) return UsageError("--project is for --product station");
    if (!QFileInfo(out.project).isFile()) {
      return UsageError(QStringLiteral("no project file '%1'").arg(out.project));
    }
    out.project = ProjectFilePath(out.project);
    StationList stations;
    LoadStationList(out.project, job.product, &stations);
    if (!stations.typeCodes.contains(job.stationName)) {
      return UsageError(QStringLiteral("no station '%1' in %2").arg(job.stationName, out.project));
    }
    job.stationType = stations.typeCodes.value(job.stationName);
    job.serialNumber =
        static_cast<int>(SerialNumberValue(StationSerialNumber(out.project, job.stationName)));
  } else if (!stationType.isEmpty()) {
    bool number = false;
    job.stationType = stationType.toInt(&number);
    if (!number || job.stationType < 0) return UsageError("--station-type needs a type code");
  }
  return kExitOk;
}

int RunLoad(const QStringList& args) {
  if (IsSwitchEthernetLoad(args)) return RunSwitchEthernetLoad(args);
  LoadArgs parsed;
  if (const int status = ParseArgs(args, parsed); status != kExitOk) return status;

  TerminalUiOptions uiOptions;
  uiOptions.assumeYes = parsed.yes;
  if (parsed.yes) uiOptions.interactive = 0;
  TerminalUi ui(uiOptions);
  if (!parsed.powerOffCommand.isEmpty()) {
    ui.OnMessage(QStringLiteral("Turn Power OFF"), TerminalUi::CommandHook(parsed.powerOffCommand));
  }
  if (!parsed.powerOnCommand.isEmpty()) {
    ui.OnPrompt(QStringLiteral("Turn Power ON"), TerminalUi::CommandHook(parsed.powerOnCommand));
  }
  ScopedUi scopedUi(&ui);

  ProgressPrinter printer(parsed.json);
  LoadEngine engine;
  engine.tftpListenPort = static_cast<quint16>(parsed.tftpPort);
  if (parsed.stationPort > 0) {
    engine.stationLink->SetStationPort(static_cast<uint16_t>(parsed.stationPort));
  }
  engine.catchLimitMs = parsed.catchTimeoutSeconds * 1000;
  engine.noVerify = parsed.noVerify;
  engine.SetProgressCallback(
      [&printer](const LoadProgressEvent& event, void*) { printer.OnEvent(event); }, nullptr);
  if (parsed.verbose) {
    engine.SetMessageSink([&printer](const QString& line, void*) { printer.Line(line); }, nullptr);
  }

  const int result = StartLoad(parsed.job, engine);
  if (engine.catchTimedOut) {
    std::fprintf(stderr, "The boot monitor did not answer within %d seconds.\n",
                 parsed.catchTimeoutSeconds);
  }
  printer.Result(result, LastLoadRecordPath(), LastLoadRecordError());
  return result == 1 ? kExitOk : kExitFailed;
}

}  // namespace

FWL_REGISTER_SUBCOMMAND(load, "load", "load firmware into a unit (boot monitor or Ethernet only)",
                        kLoadUsage, RunLoad);

}  // namespace fwl::cli
