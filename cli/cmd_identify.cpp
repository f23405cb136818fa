// "fwload identify": what a switch or station runs, read without changing
// anything on it; one JSON object with --json (scripts and fleet tools
// build on its keys).
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

#include "batch/unit_identify.h"
#include "cli/cli_commands.h"
#include "cli/load_checks.h"
#include "cli/password_prompt.h"

namespace fwl::cli {
namespace {

constexpr char kIdentifyUsage[] =
    "Usage: fwload identify --product switch|station --ip ADDR [--json]\n"
    "                       [--user U] [--password P] [--http-port N]\n"
    "                       [--station-port N] [--timeout SECONDS]\n"
    "\n"
    "Reads what the unit at ADDR runs and changes nothing on it. A managed switch\n"
    "answers through its information page (board, firmware revision, boot\n"
    "monitor; the page exists once its information package is installed, which\n"
    "every Ethernet-only load does); a station through the station link (processor,\n"
    "flash table, firmware build).\n"
    "  --user U, --password P   the switch's web login; the password also from\n"
    "                           FWLOAD_PASSWORD, else asked without echo\n"
    "  --http-port N            the switch's web server (default 80)\n"
    "  --station-port N         the station link's UDP port (default 5454)\n"
    "  --timeout SECONDS        per request (default 10 for a switch, 2 for a station)\n"
    "  --json                   one JSON object: product, ip, identified, firmware,\n"
    "                           board, boot_monitor and the product's own keys\n"
    "                           (switch: model, revision; station: processor,\n"
    "                           flash, build)\n"
    "Exit status: 0 identified, 1 the unit could not be read, 2 bad usage.";

int UsageError(const QString& text) {
  std::fprintf(stderr, "fwload identify: %s\n", qPrintable(text));
  return kExitUsage;
}

bool ParseNumber(const QString& text, int low, int high, int* out) {
  bool ok = false;
  const int value = text.toInt(&ok);
  if (!ok || value < low || value > high) return false;
  *out = value;
  return true;
}

void PrintPlain(const UnitIdentity& id) {
  const QJsonObject o = id.ToJson();
  for (auto it = o.begin(); it != o.end(); ++it) {
    QString value;
    if (it.value().isArray()) {
      QStringList parts;
      for (const QJsonValue& row : it.value().toArray()) {
        const QJsonObject r = row.toObject();
        parts << QStringLiteral("%1 %2 %3")
                     .arg(r.value("partition").toString(), r.value("size").toString(),
                          r.value("name").toString());
      }
      value = parts.join(QStringLiteral(", "));
    } else if (it.value().isBool()) {
      value = it.value().toBool() ? QStringLiteral("yes") : QStringLiteral("no");
    } else {
      value = it.value().toVariant().toString();
    }
    std::printf("%s: %s\n", qPrintable(it.key()), qPrintable(value));
  }
}

int RunIdentify(const QStringList& args) {
  QString product, ip;
  bool json = false, passwordGiven = false;
  int timeout = 0;
  IdentifyOptions options;
  for (qsizetype i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    if (a == "--json") {
      json = true;
      continue;
    }
    if (i + 1 >= args.size()) return UsageError(a + " needs a value");
    const QString v = args[++i];
    if (a == "--product") {
      product = v;
    } else if (a == "--ip") {
      ip = v;
    } else if (a == "--user") {
      options.user = v;
    } else if (a == "--password") {
      options.password = v;
      passwordGiven = true;
    } else if (a == "--http-port") {
      if (!ParseNumber(v, 1, 65535, &options.httpPort)) return UsageError("bad --http-port " + v);
    } else if (a == "--station-port") {
      if (!ParseNumber(v, 1, 65535, &options.stationPort)) {
        return UsageError("bad --station-port " + v);
      }
    } else if (a == "--timeout") {
      if (!ParseNumber(v, 1, 600, &timeout)) return UsageError("--timeout needs 1-600 seconds");
    } else {
      return UsageError(QStringLiteral("unknown option '%1'").arg(a));
    }
  }
  if (product != "switch" && product != "station") {
    return UsageError("--product must be switch or station");
  }
  if (!IsDottedIpv4(ip)) return UsageError("--ip needs a dotted IPv4 address");

  UnitIdentity id;
  if (product == "switch") {
    if (!passwordGiven && !PasswordFromEnvironment(kPasswordVariable, &options.password)) {
      options.password = AskPasswordNoEcho();
    }
    if (timeout > 0) options.httpTimeoutSeconds = timeout;
    id = IdentifySwitchUnit(ip, options);
  } else {
    if (timeout > 0) options.stationTimeoutSeconds = float(timeout);
    id = IdentifyStationUnit(ip, options);
  }
  if (json) {
    std::printf("%s\n", QJsonDocument(id.ToJson()).toJson(QJsonDocument::Compact).constData());
  } else {
    PrintPlain(id);
  }
  std::fflush(stdout);
  return id.identified ? kExitOk : kExitFailed;
}

}  // namespace

FWL_REGISTER_SUBCOMMAND(identify, "identify",
                        "read what a switch or station runs, changing nothing", kIdentifyUsage,
                        RunIdentify);

}  // namespace fwl::cli
