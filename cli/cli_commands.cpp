#include "cli/cli_commands.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "cli/reference_pages.h"

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
  std::printf("fwload %s - %s\n\n", FWL_VERSION, kProgramTitle);
  std::printf("Usage: fwload SUBCOMMAND [OPTIONS]\n       fwload help SUBCOMMAND\n\n");
  for (const Subcommand& c : SortedSubcommands()) std::printf("  %-10s %s\n", c.name, c.summary);
  std::printf(
      "\nExit status: %s\n"
      "Most subcommands print JSON lines with --json.\n",
      kExitStatusText);
}

// The packaging's build makes the manual page and the shell completion from
// the running program, so they always describe the same table as --help.
int PrintReferencePage(const QStringList& args) {
  if (args[0] == QLatin1String("--man")) {
    std::fputs(ManualPage(SortedSubcommands()).toUtf8().constData(), stdout);
    return kExitOk;
  }
  if (args.size() == 2 && args[1] == QLatin1String("bash")) {
    std::fputs(BashCompletion(SortedSubcommands()).toUtf8().constData(), stdout);
    return kExitOk;
  }
  std::fprintf(stderr, "fwload: --completion takes the shell's name: bash\n");
  return kExitUsage;
}

}  // namespace

std::vector<Subcommand> SortedSubcommands() {
  std::vector<Subcommand> sorted = Table();
  std::sort(sorted.begin(), sorted.end(),
            [](const Subcommand& a, const Subcommand& b) { return qstrcmp(a.name, b.name) < 0; });
  return sorted;
}

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
  if (args[0] == QLatin1String("--man") || args[0] == QLatin1String("--completion"))
    return PrintReferencePage(args);
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
