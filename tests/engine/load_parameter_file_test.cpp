// The load parameter file: key order, overwriting, both path forms, buffer cuts.
#include "engine/load_parameter_file.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "platform/ini_file.h"
#include "platform/system_folders.h"

namespace fwl {
namespace {

LoadParameters Sample(const QString& tag) {
  LoadParameters p;
  p.comPort = "ttyUSB" + tag;
  p.pcAddress = "127.0.0." + tag;
  p.stationAddress = "127.0.1." + tag;
  p.subnet = "255.255.255.0";
  p.gateway = "127.0.0.254";
  p.firmwarePath = "/firmware/kvimage_razeb_1_" + tag;
  return p;
}

TEST(LoadParameterFileTest, WrittenInTableOrderAndOverwrittenByTheNextLoad) {
  QFile::remove(LoadParameterFilePath());
  WriteLoadParameterFile(Sample("1"));
  QFile file(LoadParameterFilePath());
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray first = file.readAll();
  file.close();
  EXPECT_EQ(first,
            "[Device]\nComport=ttyUSB1\nParity=None\nBaud=9600\nStopbits=1\nDatabits=8\n"
            "[PPC Load Files]\nTFTPServerIP=127.0.0.1\nKernelStartAddr=f8040000\nKernelSize=0\n"
            "KernelFilename=\nBootStartAddr=f8000000\nBootSize=40000\nBootFilename=\n"
            "FlashFSStartAddr=f8080000\nFlashFSSize=780000\n"
            "FlashFSFilename=/firmware/kvimage_razeb_1_1\n"
            "[TFTP]\nIPAddr=127.0.1.1\nSubnet=255.255.255.0\nGatewayIP=127.0.0.254\n"
            "TFTPserverIP=127.0.0.1\n");

  LoadParameters second = Sample("2");
  second.gateway.clear();
  WriteLoadParameterFile(second);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray again = file.readAll();
  EXPECT_EQ(again.count('\n'), first.count('\n'));  // nothing appended
  EXPECT_TRUE(again.contains("Comport=ttyUSB2\n"));
  EXPECT_TRUE(again.contains("GatewayIP=\n"));
  EXPECT_FALSE(again.contains("ttyUSB1"));
}

TEST(LoadParameterFileTest, FullPathAndBareNameReachTheSameFile) {
  WriteLoadParameterFile(Sample("3"));
  EXPECT_EQ(ResolveProfilePath(kLoadParameterFileName), LoadParameterFilePath());
  EXPECT_TRUE(LoadParameterFilePath().startsWith(WithTrailingSeparator(SystemFolder())));
  EXPECT_EQ(ReadLoadParameter("Device", "Comport", kComportBufferSize), "ttyUSB3");
  EXPECT_EQ(GetPrivateProfileString("TFTP", "IPAddr", "", 20, LoadParameterFilePath()),
            "127.0.1.3");
  // The two server keys differ in one letter's case; the [TFTP] one is read.
  EXPECT_EQ(ReadLoadParameter("TFTP", "TFTPserverIP", kTftpKeyBufferSize), "127.0.0.3");
}

TEST(LoadParameterFileTest, ReadersCutToTheirBuffers) {
  LoadParameters p = Sample("4");
  p.firmwarePath = "/" + QString(300, 'f');
  p.stationAddress = "127.000.000.001.extra.text";
  WriteLoadParameterFile(p);
  EXPECT_EQ(
      ReadLoadParameter("PPC Load Files", "FlashFSFilename", kFlashFsFilenameBufferSize).size(),
      249);
  EXPECT_EQ(ReadLoadParameter("TFTP", "IPAddr", kTftpKeyBufferSize), "127.000.000.001.ext");
}

TEST(LoadParameterFileTest, ALongPortPathIsHandedOnAsTheDeviceItLeadsTo) {
  EXPECT_EQ(ComPortParameterText("ttyUSB0"), "ttyUSB0");
  EXPECT_EQ(ComPortParameterText("/dev/ttyUSB12345678"), "/dev/ttyUSB12345678");  // 19
  EXPECT_EQ(ComPortParameterText("/dev/serial/by-id/usb-none-if00-port0"), "");

  // A link to a short device name stands for it; one to a long name cannot.
  QTemporaryDir dir("/tmp/fwXXXXXX");
  ASSERT_TRUE(dir.isValid());
  const QString shortDevice = dir.filePath("tty0");
  const QString longDevice = dir.filePath("a-device-with-a-long-name");
  for (const QString& path : {shortDevice, longDevice}) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  }
  ASSERT_LT(shortDevice.size(), kComportBufferSize);
  const QString byId = dir.filePath("usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0");
  ASSERT_TRUE(QFile::link(shortDevice, byId));
  EXPECT_EQ(ComPortParameterText(byId), shortDevice);
  const QString toLong = dir.filePath("usb-Other_Adapter_0001-if00-port0");
  ASSERT_TRUE(QFile::link(longDevice, toLong));
  EXPECT_EQ(ComPortParameterText(toLong), "");
}

}  // namespace
}  // namespace fwl
