// "fwload console" as a program: a port named by a path longer than the load
// parameter file keeps is caught through the device the path leads to.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "sim/sim_unit.h"
#include "support/test_util.h"

namespace fwl::test {
namespace {

TEST(FwloadConsoleTest, ALongLinkToTheUnitsPortIsCaught) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  SimOptions o;
  o.board = kSimBoardArm9;
  ApplyBoardDefaults(o);
  o.countdownTickMs = 200;
  SimUnit unit(o);
  QString error;
  ASSERT_TRUE(unit.Start(QString(), &error)) << error.toStdString();

  // Shaped like the names udev gives USB serial adapters.
  const QString byId = dir.filePath("serial/by-id");
  ASSERT_TRUE(QDir().mkpath(byId));
  const QString link = byId + "/usb-FTDI_FT232R_USB_UART_A1B2C3D4-if00-port0";
  ASSERT_TRUE(QFile::link(unit.SlavePath(), link));

  const FwloadRun r = RunFwload({"console", "--port", link, "--timeout", "20"});
  EXPECT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
  EXPECT_TRUE(r.out.contains("Boot monitor: U-Boot")) << r.out.toStdString();
  EXPECT_TRUE(r.out.contains("Board code: 30"));
  EXPECT_EQ(unit.State(), "prompt");
  unit.Stop();
}

TEST(FwloadConsoleTest, ALongPathThatLeadsNowhereIsBadUsage) {
  const FwloadRun r =
      RunFwload({"console", "--port", "/dev/serial/by-id/usb-none-if00-port0", "--timeout", "1"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_TRUE(r.err.contains("longer than 19 characters")) << r.err.toStdString();
}

}  // namespace
}  // namespace fwl::test
