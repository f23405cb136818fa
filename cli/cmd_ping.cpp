// "fwload ping": one ICMP echo, as the switch install sends while it waits
// for a restarted switch; handy to check that a unit answers at all.
#include <QElapsedTimer>
#include <cstdio>

#include "cli/cli_commands.h"
#include "net/icmp_echo.h"

namespace fwl::cli {
namespace {

constexpr char kPingUsage[] =
    "Usage: fwload ping HOST [--ttl N] [--timeout-ms MS]\n"
    "\n"
    "Sends one ICMP echo request with 32 data bytes to the IPv4 address HOST\n"
    "(time-to-live N, default 10) and waits up to MS milliseconds (default 5000)\n"
    "for the reply. Prints \"reply from HOST in T ms\" or \"no reply from HOST\".\n"
    "Exit status: 0 a reply came, 1 none came, 2 bad usage.";

int RunPing(const QStringList& args) {
  QString host;
  int ttl = 10;
  int timeoutMs = 5000;
  for (qsizetype i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    if (a == "--ttl" || a == "--timeout-ms") {
      bool ok = false;
      const int value = i + 1 < args.size() ? args[++i].toInt(&ok) : 0;
      if (!ok || value < 1 || (a == "--ttl" && value > 255)) {
        std::fprintf(stderr, "fwload ping: bad value for %s\n", qPrintable(a));
        return kExitUsage;
      }
      (a == "--ttl" ? ttl : timeoutMs) = value;
    } else if (host.isEmpty() && !a.startsWith("--")) {
      host = a;
    } else {
      std::fprintf(stderr, "fwload ping: unexpected '%s'\n", qPrintable(a));
      return kExitUsage;
    }
  }
  if (host.isEmpty()) {
    std::fprintf(stderr, "fwload ping: which host?\n");
    return kExitUsage;
  }
  QElapsedTimer clock;
  clock.start();
  if (IcmpEcho(host, ttl, timeoutMs, 32)) {
    std::printf("reply from %s in %lld ms\n", qPrintable(host), clock.elapsed());
    return kExitOk;
  }
  std::printf("no reply from %s\n", qPrintable(host));
  return kExitFailed;
}

}  // namespace

FWL_REGISTER_SUBCOMMAND(ping, "ping", "one ICMP echo to a unit", kPingUsage, RunPing);

}  // namespace fwl::cli
