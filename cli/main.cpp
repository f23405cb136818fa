// fwload: the loader's core from a terminal, one subcommand per capability.
#include <QCoreApplication>

#include "cli/cli_commands.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("fwload"));
  QCoreApplication::setApplicationVersion(QStringLiteral(FWL_VERSION));
  return fwl::cli::RunCommandLine(QCoreApplication::arguments());
}
