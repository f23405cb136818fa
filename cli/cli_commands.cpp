#include "cli/cli_commands.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace fwl::cli {
namespace {

std::vector<Subcommand>& Table() {
  static std::vector<Subcommand> table;
  return table;
}

const Subcommand* Find(const QString& name) {
  for (const Subcommand& c : Table())
    if (name == QLatin1String(c.name)) return &c;
  return nullptr;
}

void PrintOverview() {
  std::printf("fwload %s - Firmware Loader from the terminal\n\n", FWL_VERSION);
  std::printf("Usage: fwload SUBCOMMAND [OPTIONS]\n       fwload help SUBCOMMAND\n\n");
  std::vector<Subcommand> sorted = Table();
  std::sort(sorted.begin(), sorted.end(),
            [](const Subcommand& a, const Subcommand& b) { return qstrcmp(a.name, b.name) < 0; });
  for (const Subcommand& c : sorted) std::printf("  %-10s %s\n", c.name, c.summary);
  std::printf(
      "\nExit status: 0 success, 1 the operation failed, 2 bad usage or bad input.\n"
      "Most subcommands print JSON lines with --json.\n");
}

}  // namespace

bool RegisterSubcommand(const Subcommand& cmd) {
  Table().push_back(cmd);
  return true;
}

int RunCommandLine(const QStringList& argv) {
  const QStringList args = argv.mid(1);
  if (args.isEmpty() || args[0] == QLatin1String("--help") || args[0] == QLatin1String("-h")) {
    PrintOverview();
    return args.isEmpty() ? kExitUsage : kExitOk;
  }
  if (args[0] == QLatin1String("--version")) {
    std::printf("fwload %s\n", FWL_VERSION);
    return kExitOk;
  }
  if (args[0] == QLatin1String("help")) {
    if (args.size() < 2) {
      PrintOverview();
      return kExitOk;
    }
    const Subcommand* c = Find(args[1]);
    if (!c) {
      std::fprintf(stderr, "fwload: no subcommand '%s'\n", qPrintable(args[1]));
      return kExitUsage;
    }
    std::printf("%s\n", c->usage);
    return kExitOk;
  }
  const Subcommand* c = Find(args[0]);
  if (!c) {
    std::fprintf(stderr, "fwload: unknown subcommand '%s' (try fwload --help)\n",
                 qPrintable(args[0]));
    return kExitUsage;
  }
  const QStringList rest = args.mid(1);
  if (rest.contains(QLatin1String("--help"))) {
    std::printf("%s\n", c->usage);
    return kExitOk;
  }
  return c->run(rest);
}

}  // namespace fwl::cli
