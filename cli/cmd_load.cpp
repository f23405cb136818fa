// "fwload load": a whole load from the terminal through the same dispatcher
// and engine the wizard uses; the plan's steps and every change of their
// state are printed as lines (or JSON lines), the power prompts are asked on
// the terminal or answered by commands.
#include <QFileInfo>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

#include "catalogue/firmware_names.h"
#include "catalogue/project_file.h"
#include "cli/cli_commands.h"
#include "cli/terminal_ui.h"
#include "engine/load_engine.h"
#include "engine/load_parameter_file.h"
#include "engine/load_record.h"
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
    "Steps and their states go to stdout; boxes and prompts to stderr.\n"
    "Exit status: 0 loaded, 1 the load failed or was cancelled, 2 bad usage or input.";

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
  int catchTimeoutSeconds = 0;  // 0: no limit
};

int UsageError(const QString& text) {
  std::fprintf(stderr, "fwload load: %s\n", qPrintable(text));
  return kExitUsage;
}

bool IsIpv4(const QString& text) {
  QHostAddress address;
  return address.setAddress(text) && address.protocol() == QAbstractSocket::IPv4Protocol &&
         text.count(QLatin1Char('.')) == 3;
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
    else if (a == "--no-verify")
      out.noVerify = true;
    else if (a == "--tftp-port") {
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
  if (method != "serial") {
    return UsageError(method.isEmpty() || method == "ethernet"
                          ? QStringLiteral("--method serial is required (Ethernet-only loads "
                                           "are not available from fwload)")
                          : QStringLiteral("--method must be serial"));
  }
  job.method = kMethodSerial;
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
  if (job.firmwareFile.isEmpty()) return UsageError("--firmware is required");
  const QFileInfo firmware(job.firmwareFile);
  if (!firmware.isFile()) {
    return UsageError(QStringLiteral("no firmware file '%1'").arg(job.firmwareFile));
  }
  job.firmwareFile = firmware.absoluteFilePath();
  if (!IsIpv4(job.pcAddress)) return UsageError("--pc-ip needs a dotted IPv4 address");
  if (!IsIpv4(job.stationAddress)) return UsageError("--ip needs a dotted IPv4 address");
  if (!IsIpv4(job.subnet)) return UsageError("--subnet needs a dotted IPv4 mask");
  if (!job.gateway.isEmpty() && !IsIpv4(job.gateway)) {
    return UsageError("--gateway needs a dotted IPv4 address");
  }

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

const char* StateText(int state) { return state == kStepStateOk ? "OK" : "ERROR"; }

// The word a display shows for the step that ends with `event`: a check
// that could not be made ends OK with its reason instead.
QString EndText(const LoadProgressEvent& event) {
  if ((event.flags & LoadProgressEvent::kStateText) && !event.stateText.isEmpty()) {
    return event.stateText;
  }
  return QString::fromLatin1(StateText(event.state));
}

// Prints the progress records as a display would show them: the plan, each
// step starting, each step's end state, transfer texts and the result.
class ProgressPrinter {
 public:
  explicit ProgressPrinter(bool json) : json_(json) {}

  void OnEvent(const LoadProgressEvent& event) {
    if (!(event.flags & LoadProgressEvent::kValid)) return;
    switch (event.kind) {
      case LoadProgressEvent::kPlan:
        Plan(event);
        break;
      case LoadProgressEvent::kUpdate:
        if (event.flags & LoadProgressEvent::kStepIndex) Step(event);
        if (event.flags & LoadProgressEvent::kCheck) Check(event);
        if (event.flags & LoadProgressEvent::kText) Text(event.text);
        break;
      case LoadProgressEvent::kFinal:
        if (event.flags & LoadProgressEvent::kState) Final(event);
        break;
      default:
        break;
    }
  }

  void Line(const QString& text) {
    if (json_) {
      Emit(QJsonObject{{"kind", "line"}, {"text", text}});
    } else {
      std::printf("  | %s\n", qPrintable(text));
      std::fflush(stdout);
    }
  }

  void Result(int result, const QString& recordPath) {
    if (json_) {
      QJsonObject o{{"kind", "result"}, {"result", result}, {"ok", result == 1}};
      if (!recordPath.isEmpty()) o.insert("record", recordPath);
      Emit(o);
    } else {
      std::printf("%s (result %d)\n", result == 1 ? "Load completed successfully." : "Load failed.",
                  result);
      if (!recordPath.isEmpty()) std::printf("Load record saved: %s\n", qPrintable(recordPath));
      std::fflush(stdout);
    }
  }

 private:
  QString Name(int index) const {
    return index >= 0 && index < steps_.size() ? steps_[index].name : QString();
  }
  QString Label(int index) const {
    return QStringLiteral("[%1/%2] %3").arg(index + 1).arg(steps_.size()).arg(Name(index));
  }

  void Plan(const LoadProgressEvent& event) {
    steps_ = QList<LoadStep>(event.steps.begin(), event.steps.end());
    current_ = -1;
    lastText_.clear();
    if (json_) {
      QJsonArray steps;
      for (const LoadStep& s : steps_) {
        steps.append(
            QJsonObject{{"name", s.name}, {"bytes", s.byteCount}, {"transfer", s.blink == 0}});
      }
      Emit(QJsonObject{{"kind", "plan"}, {"steps", steps}});
      return;
    }
    std::printf("Plan: %lld steps\n", static_cast<long long>(steps_.size()));
    for (int i = 0; i < steps_.size(); ++i) {
      if (steps_[i].blink == 0) {
        std::printf("  %d. %s (%d bytes)\n", i + 1, qPrintable(steps_[i].name),
                    steps_[i].byteCount);
      } else {
        std::printf("  %d. %s\n", i + 1, qPrintable(steps_[i].name));
      }
    }
    std::fflush(stdout);
  }

  void Step(const LoadProgressEvent& event) {
    // A report at index 0 starts the plan; it ends nothing.
    const bool ends =
        current_ >= 0 && event.stepIndex != 0 && (event.flags & LoadProgressEvent::kState);
    if (json_) {
      QJsonObject o{{"kind", "step"}, {"step", event.stepIndex}, {"name", Name(event.stepIndex)}};
      if (ends) {
        QJsonObject ended{
            {"step", current_}, {"name", Name(current_)}, {"state", StateText(event.state)}};
        if (event.flags & LoadProgressEvent::kStateText) ended.insert("note", event.stateText);
        o.insert("ended", ended);
      }
      Emit(o);
    } else {
      if (ends) std::printf("%s: %s\n", qPrintable(Label(current_)), qPrintable(EndText(event)));
      if (event.stepIndex != current_) {
        std::printf("%s: Working...\n", qPrintable(Label(event.stepIndex)));
      }
      std::fflush(stdout);
    }
    current_ = event.stepIndex;
    lastText_.clear();
  }

  // JSON only: the plain form shows a mismatch through its text.
  void Check(const LoadProgressEvent& event) {
    if (!json_ || current_ < 0) return;
    Emit(QJsonObject{{"kind", "check"},
                     {"step", current_},
                     {"expected", QString::asprintf("%08x", unsigned(event.checkExpected))},
                     {"found", QString::asprintf("%08x", unsigned(event.checkFound))}});
  }

  void Text(const QString& text) {
    if (current_ < 0 || text == lastText_) return;
    if (json_) {
      lastText_ = text;
      Emit(QJsonObject{{"kind", "text"}, {"step", current_}, {"text", text}});
      return;
    }
    // Plain lines show a transfer's progress in tens of percent.
    const int percent = text.endsWith(QLatin1Char('%')) ? text.chopped(1).toInt() : -1;
    if (percent >= 0 && percent < 100 && percent / 10 == lastTenth_ && !lastText_.isEmpty()) {
      return;
    }
    lastTenth_ = percent / 10;
    lastText_ = text;
    std::printf("%s: %s\n", qPrintable(Label(current_)), qPrintable(text));
    std::fflush(stdout);
  }

  void Final(const LoadProgressEvent& event) {
    const int state = event.state;
    if (json_) {
      QJsonObject o{{"kind", "final"}, {"state", StateText(state)}};
      if (event.flags & LoadProgressEvent::kStateText) o.insert("note", event.stateText);
      if (current_ >= 0) {
        o.insert("step", current_);
        o.insert("name", Name(current_));
      }
      Emit(o);
      return;
    }
    if (current_ >= 0)
      std::printf("%s: %s\n", qPrintable(Label(current_)), qPrintable(EndText(event)));
    std::fflush(stdout);
  }

  void Emit(const QJsonObject& object) {
    std::printf("%s\n", QJsonDocument(object).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
  }

  bool json_;
  QList<LoadStep> steps_;
  int current_ = -1;
  QString lastText_;
  int lastTenth_ = -1;
};

int RunLoad(const QStringList& args) {
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
  printer.Result(result, LastLoadRecordPath());
  return result == 1 ? kExitOk : kExitFailed;
}

}  // namespace

FWL_REGISTER_SUBCOMMAND(load, "load", "load firmware into a unit through its boot monitor",
                        kLoadUsage, RunLoad);

}  // namespace fwl::cli
