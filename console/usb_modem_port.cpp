#include "console/usb_modem_port.h"

#include <QFileInfo>
#include <filesystem>
#include <system_error>

#include "console/reply_text.h"

namespace fwl {

bool IsUsbModemPort(const QString& comPort, const QString& sysfsRoot) {
  if (comPort.isEmpty()) return false;
  const QString device = ComPortDevicePath(comPort);
  // A by-id or by-path link (or one of our own) names the device it points to.
  const QString canonical = QFileInfo(device).canonicalFilePath();
  const QString name = QFileInfo(canonical.isEmpty() ? device : canonical).fileName();
  if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) return false;

  const std::filesystem::path driverLink = std::filesystem::path(sysfsRoot.toStdString()) /
                                           "class" / "tty" / name.toStdString() / "device" /
                                           "driver";
  std::error_code error;
  const std::filesystem::path driver = std::filesystem::read_symlink(driverLink, error);
  if (!error) return driver.filename() == kUsbModemDriver;
  return name.startsWith(QLatin1String("ttyACM"));
}

}  // namespace fwl
