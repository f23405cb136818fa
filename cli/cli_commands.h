// The subcommand table of fwload. Each subcommand lives in its own
// cli/cmd_<name>.cpp and registers itself here with one table row.
#pragma once

#include <QStringList>
#include <vector>

namespace fwl::cli {

// Exit statuses shared by every subcommand.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // the operation ran and failed
inline constexpr int kExitUsage = 2;   // bad usage or bad input

struct Subcommand {
  const char* name;
  const char* summary;  // one line for "fwload --help"
  const char* usage;    // full text for "fwload help NAME"
  int (*run)(const QStringList& args);  // args after the subcommand name
};

// Texts shared by "fwload --help" and the reference pages made from the table.
inline constexpr char kProgramTitle[] = "Firmware Loader from the terminal";
inline constexpr char kExitStatusText[] =
    "0 success, 1 the operation failed, 2 bad usage or bad input.";

// Registers a subcommand; used through FWL_REGISTER_SUBCOMMAND at file scope.
bool RegisterSubcommand(const Subcommand& cmd);

// Every registered subcommand, sorted by name: what "fwload --help" lists.
std::vector<Subcommand> SortedSubcommands();

// Dispatches argv (argv[0] included). Returns the process exit status.
int RunCommandLine(const QStringList& argv);

}  // namespace fwl::cli

#define FWL_REGISTER_SUBCOMMAND(ident, ...) \
  static const bool ident##_registered = ::fwl::cli::RegisterSubcommand({__VA_ARGS__})
