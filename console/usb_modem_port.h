// Tells whether a serial port is served by the USB modem-class driver
// ("cdc_acm", ports named ttyACM*). Such an adapter comes and goes with the
// unit's power, so a load catches it without the power prompts; FTDI,
// Prolific, CP210x and other ttyUSB* converters are ordinary serial ports.
#pragma once

#include <QString>

namespace fwl {

inline constexpr char kUsbModemDriver[] = "cdc_acm";

// `comPort` is the "Comport" text: a bare name ("ttyACM0", meaning /dev/ttyACM0)
// or a device path, links such as /dev/serial/by-id/... followed to the
// device. The port's driver is read from `sysfsRoot`/class/tty/NAME/device/driver
// (a link whose last part names the driver); when the system does not tell,
// the kernel name decides (only the modem-class driver makes ttyACM ports).
// False for an empty text and for anything that is not a tty of that driver.
bool IsUsbModemPort(const QString& comPort, const QString& sysfsRoot = QStringLiteral("/sys"));

}  // namespace fwl
