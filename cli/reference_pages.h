// The fwload(1) manual page and the bash completion script. Both are rendered
// from the subcommand table and its usage texts, the same texts "fwload
// --help" and "fwload help NAME" print, so a new subcommand or option shows
// up in all three at once.
#pragma once

#include <QString>
#include <QStringList>
#include <utility>
#include <vector>

#include "cli/cli_commands.h"

namespace fwl::cli {

// What completion can offer for one subcommand, read from its usage text.
struct UsageWords {
  // Second words of its synopsis lines: "extract" and "create" for
  // "fwload bundle extract FILE" and "fwload bundle create OUT"; the
  // alternatives of "fwload sim power-cycle|power-off ..." each count.
  QStringList actions;
  // Every "--name" the text mentions, sorted, without "--help".
  QStringList options;
  // Options shown with a fixed list of values ("--product station|switch"),
  // first mention wins.
  std::vector<std::pair<QString, QStringList>> choices;
};
UsageWords ReadUsageWords(const Subcommand& cmd);

// Roff source of fwload(1): synopsis, one section per subcommand with its
// summary and full usage text, exit status, environment and files. Lines of
// usage text are kept as they are (no filling), escaped for roff.
QString ManualPage(const std::vector<Subcommand>& commands);

// A bash script that defines completion for fwload: subcommands, "help
// NAME", each subcommand's actions, options and option values; anything else
// falls back to file names.
QString BashCompletion(const std::vector<Subcommand>& commands);

}  // namespace fwl::cli
