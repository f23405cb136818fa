// "fwload sim switch": options into SimSwitchOptions, then the simulated
// switch runs on the event loop until SIGINT or SIGTERM.
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <memory>
#include <vector>

#include "cli/cli_commands.h"
#include "cli/sim_fleet_args.h"
#include "cli/sim_switch_command.h"
#include "sim/sim_switch.h"

namespace fwl::cli {
namespace {

int quitPipe[2] = {-1, -1};

void OnQuitSignal(int) {
  const char c = 1;
  [[maybe_unused]] ssize_t n = ::write(quitPipe[1], &c, 1);
}

int UsageError(const QString& what) {
  std::fprintf(stderr, "fwload sim switch: %s\n", qPrintable(what));
  return kExitUsage;
}

bool ParsePort(const QString& text, quint16* port) {
  bool ok = false;
  const int value = text.toInt(&ok);
  if (!ok || value < 1 || value > 65535) return false;
  *port = quint16(value);
  return true;
}

// One unit's options; kExitOk or a usage error.
int ParseUnit(const QStringList& args, SimSwitchOptions& o, bool& haveAddress) {
  for (qsizetype i = 0; i < args.size(); ++i) {
    const QString a = args[i];
    if (a == "--info-installed") {
      o.infoInstalled = true;
      continue;
    }
    if (i + 1 >= args.size()) return UsageError("missing value after " + a);
    const QString v = args[++i];
    if (a == "--address") {
      if (!o.address.setAddress(v) || !o.address.isLoopback() ||
          o.address.protocol() != QAbstractSocket::IPv4Protocol) {
        return UsageError("--address must be an address in 127.0.0.0/8");
      }
      haveAddress = true;
    } else if (a == "--http-port") {
      if (!ParsePort(v, &o.httpPort)) return UsageError("bad --http-port " + v);
    } else if (a == "--tftp-port") {
      if (!ParsePort(v, &o.tftpPort)) return UsageError("bad --tftp-port " + v);
    } else if (a == "--user") {
      o.user = v;
    } else if (a == "--password") {
      o.password = v;
    } else if (a == "--board") {
      o.boardId = SimSwitchBoardId(v);
    } else if (a == "--fw-rev") {
      o.fwRev = v;
    } else if (a == "--kvid") {
      o.kvid = v;
    } else if (a == "--uboot") {
      o.uboot = v;
    } else if (a == "--installed-rev") {
      o.installedRev = v;
    } else if (a == "--state") {
      o.stateFile = v;
    } else if (a == "--restart-ms" || a == "--fetch-delay-ms" || a == "--tftp-timeout-ms") {
      bool ok = false;
      const int ms = v.toInt(&ok);
      if (!ok || ms < 0) return UsageError("bad " + a + " " + v);
      (a == "--restart-ms"       ? o.restartMs
       : a == "--fetch-delay-ms" ? o.fetchDelayMs
                                 : o.tftpTimeoutMs) = ms;
    } else if (a == "--page-status") {
      const qsizetype eq = v.lastIndexOf('=');
      bool ok = false;
      const int status = eq > 0 ? v.mid(eq + 1).toInt(&ok) : 0;
      if (!ok || status < 100 || status > 599) return UsageError("--page-status PAGE=STATUS");
      QString page = v.left(eq);
      while (page.startsWith('/')) page.remove(0, 1);
      o.pageStatus.insert(page, status);
    } else if (a == "--network-loading") {
      if (v != "enabled" && v != "disabled")
        return UsageError("--network-loading enabled|disabled");
      o.networkLoading = v == "enabled";
    } else if (a == "--fault") {
      if (v == "lose-first" || v == "lose-second") {
        o.loseDownload = v == "lose-first" ? 1 : 2;
      } else if (v == "never-fetch") {
        o.neverFetchImages = true;
      } else if (v == "never-fetch-info") {
        o.neverFetchInfo = true;
      } else if (v == "wrong-board") {
        o.boardId = "kvni8245";
      } else if (v == "old-firmware") {
        o.fwRev = "3.6.9";
      } else if (v == "reject-images") {
        o.rejectImages = true;
      } else if (v == "hold-reply") {
        o.holdInstallReply = true;
      } else if (v == "overlap-fetch") {
        o.overlapFetch = true;
      } else if (v == "boot-twice") {
        o.bootTwice = true;
      } else if (v == "stay-old") {
        o.stayOld = true;
      } else {
        return UsageError("unknown fault " + v);
      }
    } else {
      return UsageError("unknown option " + a);
    }
  }
  if (!haveAddress) return UsageError("--address 127.0.0.x is required");
  return kExitOk;
}

}  // namespace

int RunSimSwitch(const QStringList& args) {
  SimFleetArgs fleet;
  QString splitError;
  if (!SplitFleetArgs(args, &fleet, &splitError)) return UsageError(splitError);
  // Each unit has its own state; the first address counts up.
  std::vector<std::unique_ptr<SimSwitch>> switches;
  QHostAddress first;
  for (int i = 0; i < fleet.count; ++i) {
    SimSwitchOptions o;
    bool haveAddress = false;
    if (const int status = ParseUnit(UnitArgs(fleet, i), o, haveAddress); status != kExitOk) {
      return status;
    }
    if (i == 0) first = o.address;
    o.address = FleetAddress(first, i);
    if (o.address.isNull()) return UsageError("--count runs past 127.255.255.254");
    o.stateFile = FleetPath(o.stateFile, o.address, fleet.count);
    switches.push_back(std::make_unique<SimSwitch>(o));
  }
  for (const auto& sw : switches) {
    QString error;
    if (!sw->Start(&error)) {
      std::fprintf(stderr, "fwload sim switch: %s: %s\n",
                   qPrintable(sw->options().address.toString()), qPrintable(error));
      return kExitFailed;
    }
    std::printf("switch at http://%s:%u/ fetching from TFTP port %u\n",
                qPrintable(sw->options().address.toString()), unsigned(sw->HttpPort()),
                unsigned(sw->options().tftpPort));
  }
  std::fflush(stdout);

  if (::pipe(quitPipe) != 0) return kExitFailed;
  QSocketNotifier quitNotifier(quitPipe[0], QSocketNotifier::Read);
  QObject::connect(&quitNotifier, &QSocketNotifier::activated, [] { QCoreApplication::quit(); });
  std::signal(SIGINT, OnQuitSignal);
  std::signal(SIGTERM, OnQuitSignal);
  QCoreApplication::exec();
  for (const auto& sw : switches) sw->Stop();
  return kExitOk;
}

}  // namespace fwl::cli
