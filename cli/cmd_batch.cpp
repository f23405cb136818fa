// "fwload batch": many units from one command, in parallel, beside one TFTP
// server. Everything is checked before anything starts; then each unit is
// loaded as `fwload load` would load it, and the batch leaves a record of its
// own beside the units' load records.
#include <unistd.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>

#include "batch/batch_record.h"
#include "batch/batch_runner.h"
#include "batch/inventory.h"
#include "cli/batch_display.h"
#include "cli/cli_commands.h"
#include "cli/load_checks.h"
#include "cli/password_prompt.h"

namespace fwl::cli {
namespace {

constexpr char kBatchUsage[] =
    "Usage: fwload batch INVENTORY [--parallel N] [--yes] [--json] [--dry-run]\n"
    "                    [--skip-current] [--pc-ip A] [--subnet M] [--gateway G]\n"
    "                    [--firmware FILE] [--user U] [--tftp-port N] [--http-port N]\n"
    "                    [--station-port N] [--catch-timeout SECONDS] [--verbose]\n"
    "                    [--no-verify]\n"
    "       fwload batch --project P [--stations \"NAME,NAME\"] --firmware FILE|DIR\n"
    "                    --pc-ip A [--subnet M] [OPTIONS]\n"
    "\n"
    "Loads every unit of INVENTORY, a CSV file with a header row and columns by\n"
    "name (lines beginning with # are ignored):\n"
    "  name, product (station|switch), method (eth|serial), ip, subnet, gateway,\n"
    "  firmware, user, password_env, port, station_type, project, station, dhcp,\n"
    "  power_off_cmd, power_on_cmd\n"
    "An option gives the value of a column that is missing or empty (method: eth).\n"
    "No password is read from the file: password_env names an environment\n"
    "variable, else FWLOAD_PASSWORD, else one prompt without echo for all rows.\n"
    "Serial rows run power_off_cmd/power_on_cmd (through /bin/sh) for the power\n"
    "prompts. With --project every station of P (or those named) is loaded over\n"
    "Ethernet only with its address and type from P; with a folder each gets the\n"
    "newest image of its type.\n"
    "\n"
    "Everything is checked before anything starts; bad input ends with one line\n"
    "per bad row (\"row 7 (Pump 4): ...\") and exit status 2.\n"
    "  --parallel N      loads at once (default 4, at most 64); serial rows one per port\n"
    "  --yes             start without asking (needed when stdin is no terminal)\n"
    "  --skip-current    skip units that already run the firmware's version\n"
    "  --dry-run         check, identify every unit, print what would be loaded\n"
    "  --json            JSON lines, each with \"unit\"; the last one is the batch:\n"
    "                    {\"kind\":\"batch\",\"result\",\"record\",\"units\":[...]}\n"
    "  --tftp-port N     the one TFTP server of the batch (default 69)\n"
    "  --catch-timeout S a serial unit's boot monitor must answer within S seconds\n"
    "                    of the power-on prompt (default 300)\n"
    "Ctrl-C stops starting new loads and waits for the running ones; a second\n"
    "Ctrl-C ends at once and marks them interrupted.\n"
    "Exit status: 0 every unit loaded or was skipped, 1 any failed, 2 bad input.";

int quitPipe[2] = {-1, -1};

void OnInterrupt(int) {
  const char c = 1;
  [[maybe_unused]] ssize_t n = ::write(quitPipe[1], &c, 1);
}

struct BatchArgs {
  QString inventory;
  QString project;
  QStringList stations;
  InventoryDefaults defaults;
  BatchSettings settings;
  bool yes = false;
  bool json = false;
};

int UsageError(const QString& text) {
  std::fprintf(stderr, "fwload batch: %s\n", qPrintable(text));
  return kExitUsage;
}

bool Number(const QString& text, int low, int high, int* out) {
  bool ok = false;
  const int v = text.toInt(&ok);
  if (!ok || v < low || v > high) return false;
  *out = v;
  return true;
}

int ParseArgs(const QStringList& args, BatchArgs& out) {
  for (qsizetype i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    if (a == "--yes") {
      out.yes = true;
    } else if (a == "--json") {
      out.json = true;
    } else if (a == "--dry-run") {
      out.settings.dryRun = true;
    } else if (a == "--skip-current") {
      out.settings.skipCurrent = true;
    } else if (a == "--verbose") {
      out.settings.verbose = true;
    } else if (a == "--no-verify") {
      out.settings.noVerify = true;
    } else if (a.startsWith("--")) {
      if (i + 1 >= args.size()) return UsageError(a + " needs a value");
      const QString v = args[++i];
      if (a == "--parallel") {
        if (!Number(v, 1, kMaxParallel, &out.settings.parallel)) {
          return UsageError(QStringLiteral("--parallel needs a number 1-%1").arg(kMaxParallel));
        }
      } else if (a == "--pc-ip") {
        out.defaults.pcAddress = v;
      } else if (a == "--subnet") {
        out.defaults.subnet = v;
      } else if (a == "--gateway") {
        out.defaults.gateway = v;
      } else if (a == "--firmware") {
        out.defaults.firmware = QFileInfo(v).absoluteFilePath();
      } else if (a == "--user") {
        out.defaults.user = v;
      } else if (a == "--project") {
        out.project = v;
      } else if (a == "--stations") {
        for (const QString& name : v.split(u',')) {
          if (!name.trimmed().isEmpty()) out.stations << name.trimmed();
        }
      } else if (a == "--tftp-port") {
        if (!Number(v, 1, 65535, &out.settings.tftpPort)) return UsageError("bad --tftp-port " + v);
      } else if (a == "--http-port") {
        if (!Number(v, 1, 65535, &out.settings.httpPort)) return UsageError("bad --http-port " + v);
      } else if (a == "--station-port") {
        if (!Number(v, 1, 65535, &out.settings.stationPort)) {
          return UsageError("bad --station-port " + v);
        }
      } else if (a == "--catch-timeout") {
        if (!Number(v, 1, 24 * 3600, &out.settings.catchTimeoutSeconds)) {
          return UsageError("--catch-timeout needs a number of seconds");
        }
      } else {
        return UsageError(QStringLiteral("unknown option '%1'").arg(a));
      }
    } else if (out.inventory.isEmpty()) {
      out.inventory = a;
    } else {
      return UsageError(QStringLiteral("one INVENTORY only ('%1')").arg(a));
    }
  }
  if (out.inventory.isEmpty() == out.project.isEmpty()) {
    return UsageError("name an INVENTORY or a --project");
  }
  if (!out.stations.isEmpty() && out.project.isEmpty())
    return UsageError("--stations goes with --project");
  if (!out.project.isEmpty() && out.defaults.firmware.isEmpty()) {
    return UsageError("--project needs --firmware FILE|DIR");
  }
  return kExitOk;
}

QJsonObject UnitJson(const UnitResult& r) {
  return QJsonObject{{"unit", r.unit},
                     {"ip", r.ip},
                     {"result", r.result},
                     {"firmware_before", r.firmwareBefore},
                     {"firmware_after", r.firmwareAfter},
                     {"duration_s", qRound(r.durationS * 10.0) / 10.0},
                     {"record", r.record},
                     {"message", r.message}};
}

void PrintBadInput(const QStringList& errors, bool json, const QString& source) {
  for (const QString& e : errors) std::fprintf(stderr, "%s\n", qPrintable(e));
  if (json) {
    const QJsonObject o{{"kind", "batch"},
                        {"result", kExitUsage},
                        {"record", ""},
                        {"inventory", source},
                        {"errors", QJsonArray::fromStringList(errors)},
                        {"units", QJsonArray()}};
    std::printf("%s\n", QJsonDocument(o).toJson(QJsonDocument::Compact).constData());
  }
  std::fflush(stdout);
}

// Asks once for the whole batch. False when the operator declined or no one
// can be asked without --yes.
bool Confirm(const Inventory& inventory, int parallel) {
  if (!::isatty(STDIN_FILENO)) {
    std::fprintf(stderr,
                 "fwload batch: nobody can confirm the batch on this input; start it with --yes\n");
    return false;
  }
  int stationsOverEthernet = 0;
  for (const BatchUnit& unit : inventory.units) {
    if (unit.job.product != kProductSwitch && unit.job.method == kMethodEthernetOnly) {
      ++stationsOverEthernet;
    }
  }
  if (stationsOverEthernet > 0) {
    std::fprintf(stderr,
                 "Warning: With the Ethernet-only option there is the risk of an incomplete "
                 "firmware load which will cause your station to stop functioning properly.\n");
  }
  std::fprintf(stderr, "Load %lld units, %d at a time? [y/N] ",
               static_cast<long long>(inventory.units.size()), parallel);
  std::fflush(stderr);
  char line[16] = {};
  if (!std::fgets(line, sizeof line, stdin)) return false;
  return line[0] == 'y' || line[0] == 'Y';
}

int RunBatch(const QStringList& args) {
  BatchArgs parsed;
  if (const int status = ParseArgs(args, parsed); status != kExitOk) return status;
  const QDateTime startUtc = QDateTime::currentDateTimeUtc();

  Inventory inventory = parsed.project.isEmpty()
                            ? ReadInventory(parsed.inventory, parsed.defaults)
                            : InventoryFromProject(parsed.project, parsed.stations,
                                                   parsed.defaults.firmware, parsed.defaults);
  if (!inventory.errors.isEmpty()) {
    PrintBadInput(inventory.errors, parsed.json, inventory.source);
    return kExitUsage;
  }
  // One prompt for every row whose password is still open.
  bool asked = false;
  QString typed;
  for (BatchUnit& unit : inventory.units) {
    if (!unit.needsPassword || unit.passwordVariable.isEmpty()) continue;
    if (!asked) {
      asked = true;
      typed = AskPasswordNoEcho(QStringLiteral("Password for the switches: "));
      if (!::isatty(STDIN_FILENO)) {
        PrintBadInput({QStringLiteral("no password for the switches: set FWLOAD_PASSWORD or a "
                                      "password_env column")},
                      parsed.json, inventory.source);
        return kExitUsage;
      }
    }
    unit.job.password = typed;
  }
  if (!parsed.yes && !parsed.settings.dryRun && !Confirm(inventory, parsed.settings.parallel)) {
    return kExitUsage;
  }

  const BatchDisplay::Mode mode = parsed.json               ? BatchDisplay::Mode::kJson
                                  : ::isatty(STDOUT_FILENO) ? BatchDisplay::Mode::kLive
                                                            : BatchDisplay::Mode::kPlain;
  BatchDisplay display(mode);
  BatchRunner runner(inventory.units, parsed.settings);
  runner.SetEventSink([&display](const BatchEvent& e) { display.OnEvent(e); });

  // Ctrl-C: the first stops new starts, the second ends at once.
  int interrupts = 0;
  if (::pipe(quitPipe) != 0) return kExitFailed;
  QSocketNotifier notifier(quitPipe[0], QSocketNotifier::Read);
  QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
    char c;
    [[maybe_unused]] ssize_t n = ::read(quitPipe[0], &c, 1);
    if (++interrupts == 1) {
      runner.StopStarting();
      display.Notice(QStringLiteral("Stopping: no new loads; waiting for %1 running (Ctrl-C again "
                                    "to end at once).")
                         .arg(runner.Running()));
    } else {
      runner.Interrupt();
    }
  });
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  struct sigaction previousInt {
  }, previousTerm{};
  sigaction(SIGINT, &action, &previousInt);
  sigaction(SIGTERM, &action, &previousTerm);

  QString error;
  const bool ran = runner.Run(&error);
  sigaction(SIGINT, &previousInt, nullptr);
  sigaction(SIGTERM, &previousTerm, nullptr);
  if (!ran) {
    std::fprintf(stderr, "fwload batch: %s\n", qPrintable(error));
    if (parsed.json) {
      const QJsonObject o{{"kind", "batch"},
                          {"result", kExitFailed},
                          {"record", ""},
                          {"message", error},
                          {"units", QJsonArray()}};
      std::printf("%s\n", QJsonDocument(o).toJson(QJsonDocument::Compact).constData());
    }
    return kExitFailed;
  }

  const int exitCode = runner.ExitCode();
  QJsonArray units;
  QJsonArray recordUnits;
  for (int i = 0; i < runner.results().size(); ++i) {
    const UnitResult& r = runner.results()[i];
    const BatchUnit& unit = inventory.units[i];
    units.append(UnitJson(r));
    QJsonObject o = UnitJson(r);
    o.insert("product", r.product);
    o.insert("method", unit.job.method == kMethodSerial ? "serial" : "ethernet only");
    o.insert("firmware_file", unit.job.firmwareFile);
    if (unit.job.method == kMethodSerial) o.insert("port", unit.job.comPort);
    o.insert("row", unit.row);
    recordUnits.append(o);
  }
  const QJsonObject options{{"parallel", parsed.settings.parallel},
                            {"yes", parsed.yes},
                            {"dry_run", parsed.settings.dryRun},
                            {"skip_current", parsed.settings.skipCurrent},
                            {"pc_ip", parsed.defaults.pcAddress},
                            {"subnet", parsed.defaults.subnet},
                            {"gateway", parsed.defaults.gateway},
                            {"firmware", parsed.defaults.firmware},
                            {"user", parsed.defaults.user},
                            {"tftp_port", parsed.settings.tftpPort},
                            {"stations", QJsonArray::fromStringList(parsed.stations)}};
  const QJsonObject record{
      {"format", 1},
      {"kind", "batch"},
      {"start", startUtc.toString(Qt::ISODateWithMs)},
      {"end", QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)},
      {"program_version", QStringLiteral(FWL_VERSION)},
      {"inventory", QJsonObject{{"path", inventory.source},
                                {"sha256", inventory.sha256},
                                {"kind", parsed.project.isEmpty() ? "csv" : "project"}}},
      {"options", options},
      {"result", exitCode},
      {"interrupted", interrupts > 1},
      {"units", recordUnits}};
  QString recordError;
  const QString recordPath = SaveBatchRecord(
      record, startUtc.toString(QStringLiteral("yyyyMMddTHHmmss.zzzZ")), &recordError);
  if (recordPath.isEmpty()) {
    std::fprintf(stderr, "Batch record could not be saved: %s\n", qPrintable(recordError));
  }
  display.Table(runner.results(), recordPath);
  if (parsed.json) {
    const QJsonObject last{
        {"kind", "batch"}, {"result", exitCode}, {"record", recordPath}, {"units", units}};
    std::printf("%s\n", QJsonDocument(last).toJson(QJsonDocument::Compact).constData());
  }
  std::fflush(stdout);
  std::fflush(stderr);
  // Loads that were running at a second Ctrl-C cannot be cancelled: the
  // process ends without waiting for them.
  if (interrupts > 1) std::_Exit(exitCode);
  return exitCode;
}

}  // namespace

FWL_REGISTER_SUBCOMMAND(batch, "batch", "load many switches and stations at once, in parallel",
                        kBatchUsage, RunBatch);

}  // namespace fwl::cli
