// The switch path of "fwload load": its own options (credentials, web and
// TFTP ports, the browser), then StartLoad with a switch install that
// reports through the same progress printer as every other load.
#include "cli/switch_load.h"

#include <QProcess>
#include <cstdio>

#include "catalogue/work_folder_list.h"
#include "cli/cli_commands.h"
#include "cli/load_checks.h"
#include "cli/password_prompt.h"
#include "cli/progress_printer.h"
#include "cli/terminal_ui.h"
#include "engine/load_engine.h"
#include "engine/load_record.h"
#include "platform/ui.h"
#include "switch/load_dispatch.h"
#include "switch/switch_install.h"

namespace fwl::cli {
namespace {

constexpr char kBlankCredentials[] = "Warning: User name and/or password field is blank.";
constexpr char kSwitchLoadErrors[] = "Error(s) were found during the load process.";

struct SwitchLoadArgs {
  LoadJob job;
  bool passwordGiven = false;
  bool yes = false;
  bool json = false;
  bool verbose = false;
  bool openBrowser = false;
  int tftpPort = 69;
  int httpPort = 80;
};

int UsageError(const QString& text) {
  std::fprintf(stderr, "fwload load: %s\n", qPrintable(text));
  return kExitUsage;
}

bool ParsePort(const QString& text, int* port) {
  bool ok = false;
  const int value = text.toInt(&ok);
  if (!ok || value < 1 || value > 65535) return false;
  *port = value;
  return true;
}

int ParseArgs(const QStringList& args, SwitchLoadArgs& out) {
  LoadJob& job = out.job;
  job.product = kProductSwitch;
  job.method = kMethodEthernetOnly;
  for (int i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    QString v;
    auto value = [&]() {
      if (i + 1 >= args.size()) return false;
      v = args[++i];
      return true;
    };
    if (a == "--yes") {
      out.yes = true;
    } else if (a == "--json") {
      out.json = true;
    } else if (a == "--verbose") {
      out.verbose = true;
    } else if (a == "--open-browser") {
      out.openBrowser = true;
    } else if (a == "--product" || a == "--method") {
      if (!value()) return UsageError(a + " needs a value");
    } else if (a == "--ip" || a == "--pc-ip" || a == "--subnet" || a == "--gateway" ||
               a == "--user" || a == "--password" || a == "--firmware" || a == "--tftp-port" ||
               a == "--http-port") {
      if (!value()) return UsageError(a + " needs a value");
      if (a == "--ip") job.stationAddress = v;
      if (a == "--pc-ip") job.pcAddress = v;
      if (a == "--subnet") job.subnet = v;
      if (a == "--gateway") job.gateway = v;
      if (a == "--user") job.user = v;
      if (a == "--firmware") job.firmwareFile = v;
      if (a == "--password") {
        job.password = v;
        out.passwordGiven = true;
      }
      if (a == "--tftp-port" && !ParsePort(v, &out.tftpPort)) {
        return UsageError("--tftp-port needs a port number 1-65535");
      }
      if (a == "--http-port" && !ParsePort(v, &out.httpPort)) {
        return UsageError("--http-port needs a port number 1-65535");
      }
    } else {
      return UsageError(
          QStringLiteral("unknown option '%1' for a switch over Ethernet only").arg(a));
    }
  }
  if (const int status = CheckFirmwareAndAddresses(job); status != kExitOk) return status;
  if (!out.passwordGiven) {
    if (!PasswordFromEnvironment(kPasswordVariable, &job.password) && !out.yes) {
      job.password = AskPasswordNoEcho();
    }
  }
  return kExitOk;
}

}  // namespace

bool IsSwitchEthernetLoad(const QStringList& args) {
  bool isSwitch = false, ethernet = false;
  for (int i = 0; i + 1 < args.size(); ++i) {
    if (args[i] == "--product") isSwitch = args[i + 1] == "switch";
    if (args[i] == "--method") ethernet = args[i + 1] == "eth" || args[i + 1] == "ethernet";
  }
  return isSwitch && ethernet;
}

int RunSwitchEthernetLoad(const QStringList& args) {
  SwitchLoadArgs parsed;
  if (const int status = ParseArgs(args, parsed); status != kExitOk) return status;

  TerminalUiOptions uiOptions;
  uiOptions.assumeYes = parsed.yes;
  if (parsed.yes) uiOptions.interactive = 0;
  TerminalUi ui(uiOptions);
  ScopedUi scopedUi(&ui);
  if (parsed.job.user.isEmpty() || parsed.job.password.isEmpty()) {
    std::fprintf(stderr, "%s\n", kBlankCredentials);
  }

  ProgressPrinter printer(parsed.json);
  LoadEngine engine;
  engine.SetProgressCallback(
      [&printer](const LoadProgressEvent& event, void*) { printer.OnEvent(event); }, nullptr);
  if (parsed.verbose) {
    engine.SetMessageSink([&printer](const QString& line, void*) { printer.Line(line); }, nullptr);
  }

  SwitchInstallSettings settings;
  settings.httpPort = parsed.httpPort;
  settings.tftpPort = quint16(parsed.tftpPort);
  const bool openBrowser = parsed.openBrowser;
  settings.openBrowser = [openBrowser](const QString& url) {
    std::fprintf(stderr, "Remote configuration page: %s\n", qPrintable(url));
    if (openBrowser) QProcess::startDetached(QStringLiteral("xdg-open"), {url});
  };
  const int result =
      StartLoad(parsed.job, engine, [&](const LoadJob& job, WorkFolderList& folders) {
        return InstallSwitchEthernetOnly(job, folders, engine, settings);
      });
  // Errors found end as the wizard ends them; declined or already reported
  // failures (negative results) have had their say.
  if (result == 0) {
    ShowMessage(QString::fromLatin1(kSwitchLoadErrors), QStringLiteral("Error"), UiIcon::kError);
  }
  printer.Result(result, LastLoadRecordPath(), LastLoadRecordError());
  return result == 1 ? kExitOk : kExitFailed;
}

}  // namespace fwl::cli
