// A serial port the user may not open says how to get access, after the
// usual first line; a port that is simply missing does not.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QFile>
#include <QStandardPaths>
#include <QTemporaryFile>

#include "support/test_util.h"

namespace fwl::test {
namespace {

constexpr char kDeniedLines[] =
    "Failed to open comport.\n"
    "add your user to the dialout group: sudo usermod -aG dialout $USER, then log in again\n";

// Runs "fwload console" as a user without the right to override file
// permissions: as it is for an ordinary user, or for root with those two
// capabilities dropped (CI runs as root).
FwloadRun RunConsoleUnprivileged(const QString& port) {
  const QStringList consoleArgs{"console", "--port", port, "--timeout", "1"};
  if (::geteuid() != 0) return RunFwload(consoleArgs);
  QProcess process;
  process.start(QStringLiteral("setpriv"),
                QStringList{"--inh-caps=-all", "--bounding-set=-dac_override,-dac_read_search",
                            "--", FwloadPath()} +
                    consoleArgs);
  if (!process.waitForFinished(60000)) {
    process.kill();
    process.waitForFinished(5000);
    return {};
  }
  return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
          QString::fromLocal8Bit(process.readAllStandardOutput()),
          QString::fromLocal8Bit(process.readAllStandardError())};
}

TEST(PortPermissionTest, DeniedPortNamesTheDialoutGroup) {
  if (::geteuid() == 0 && QStandardPaths::findExecutable("setpriv").isEmpty())
    GTEST_SKIP() << "setpriv (util-linux) is needed to drop root's file access override";
  // A short path: the load parameter file keeps the port in 20 characters.
  QTemporaryFile device(QStringLiteral("/tmp/fwlpXXXXXX"));
  ASSERT_TRUE(device.open());
  const QString port = device.fileName();
  ASSERT_TRUE(QFile::setPermissions(port, QFileDevice::ReadOwner));  // no write for anyone

  const FwloadRun denied = RunConsoleUnprivileged(port);
  EXPECT_EQ(denied.exitCode, 1) << denied.err.toStdString();
  EXPECT_TRUE(denied.out.startsWith(kDeniedLines)) << denied.out.toStdString();

  // Missing is not denied: only the first line.
  const FwloadRun missing = RunConsoleUnprivileged(port.left(port.size() - 3) + "-x");
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_EQ(missing.out, "Failed to open comport.\n");
}

}  // namespace
}  // namespace fwl::test
