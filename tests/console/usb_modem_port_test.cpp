// Which ports take the USB adapter path: decided from the driver that serves
// the tty, as a fake sysfs tree in a temporary folder describes it.
#include "console/usb_modem_port.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace fwl::test {
namespace {

class UsbModemPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    sysfs = dir.filePath("sys");
    devices = dir.filePath("dev");
    ASSERT_TRUE(QDir().mkpath(devices));
  }

  // A tty as the kernel lists it: class/tty/NAME/device/driver is a link
  // into the bus's driver folder, relative as the kernel makes it.
  void AddTty(const QString& name, const QString& busDriverFolder) {
    const QString deviceFolder = sysfs + "/class/tty/" + name + "/device";
    ASSERT_TRUE(QDir().mkpath(deviceFolder));
    ASSERT_TRUE(QDir().mkpath(sysfs + "/bus/" + busDriverFolder));
    ASSERT_TRUE(QFile::link("../../../../bus/" + busDriverFolder, deviceFolder + "/driver"));
  }
  // A device node stand-in under the temporary dev folder.
  QString AddNode(const QString& name) {
    const QString path = devices + "/" + name;
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    return path;
  }

  QTemporaryDir dir;
  QString sysfs;
  QString devices;
};

TEST_F(UsbModemPortTest, OnlyTheModemClassDriverTakesTheUsbPath) {
  AddTty("ttyACM0", "usb/drivers/cdc_acm");
  AddTty("ttyUSB0", "usb-serial/drivers/ftdi_sio");
  AddTty("ttyUSB1", "usb-serial/drivers/pl2303");
  AddTty("ttyUSB2", "usb-serial/drivers/cp210x");
  AddTty("ttyS0", "platform/drivers/serial8250");
  // A modem-class port that some rule renamed is still one.
  AddTty("ttyModem", "usb/drivers/cdc_acm");

  EXPECT_TRUE(IsUsbModemPort("ttyACM0", sysfs));
  EXPECT_TRUE(IsUsbModemPort("/dev/ttyACM0", sysfs));
  EXPECT_TRUE(IsUsbModemPort("ttyModem", sysfs));
  for (const char* port : {"ttyUSB0", "ttyUSB1", "/dev/ttyUSB2", "ttyS0"}) {
    SCOPED_TRACE(port);
    EXPECT_FALSE(IsUsbModemPort(port, sysfs));
  }
}

TEST_F(UsbModemPortTest, ALinkIsJudgedByTheDeviceItLeadsTo) {
  AddTty("ttyACM3", "usb/drivers/cdc_acm");
  AddTty("ttyUSB4", "usb-serial/drivers/ftdi_sio");
  const QString modem = AddNode("ttyACM3");
  const QString converter = AddNode("ttyUSB4");
  const QString byId = dir.filePath("by-id");
  ASSERT_TRUE(QDir().mkpath(byId));
  const QString modemLink = byId + "/usb-Maker_Unit_0001-if00";
  const QString converterLink = byId + "/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0";
  ASSERT_TRUE(QFile::link(modem, modemLink));
  ASSERT_TRUE(QFile::link(converter, converterLink));

  EXPECT_TRUE(IsUsbModemPort(modemLink, sysfs));
  EXPECT_FALSE(IsUsbModemPort(converterLink, sysfs));
}

TEST_F(UsbModemPortTest, WithoutDriverInformationTheKernelNameDecides) {
  // Nothing under sysfs at all (a container, another system).
  EXPECT_TRUE(IsUsbModemPort("ttyACM1", sysfs));
  EXPECT_FALSE(IsUsbModemPort("ttyUSB0", sysfs));
  EXPECT_FALSE(IsUsbModemPort("/dev/pts/3", sysfs));
  EXPECT_FALSE(IsUsbModemPort("", sysfs));
  EXPECT_FALSE(IsUsbModemPort("/dev/..", sysfs));
  // A tty whose driver link is missing falls back the same way.
  ASSERT_TRUE(QDir().mkpath(sysfs + "/class/tty/ttyUSB9/device"));
  EXPECT_FALSE(IsUsbModemPort("ttyUSB9", sysfs));
}

}  // namespace
}  // namespace fwl::test
