// The load parameter file "ZebUtil.ini" in the system folder: the COM port
// and line settings, the unit's temporary addresses, the PC's address as TFTP
// server and the chosen firmware file, handed from the dispatcher to the
// serial load engine and the Ethernet-only upgrade.
#pragma once

#include <QString>

namespace fwl {

inline constexpr char kLoadParameterFileName[] = "ZebUtil.ini";

inline constexpr char kSectionDevice[] = "Device";
inline constexpr char kSectionPpcLoadFiles[] = "PPC Load Files";
inline constexpr char kSectionTftpParameters[] = "TFTP";

inline constexpr char kKeyComport[] = "Comport";
inline constexpr char kKeyParity[] = "Parity";
inline constexpr char kKeyBaud[] = "Baud";
inline constexpr char kKeyStopbits[] = "Stopbits";
inline constexpr char kKeyDatabits[] = "Databits";
inline constexpr char kKeyFlashFsFilename[] = "FlashFSFilename";
inline constexpr char kKeyIpAddr[] = "IPAddr";
inline constexpr char kKeySubnet[] = "Subnet";
inline constexpr char kKeyGatewayIp[] = "GatewayIP";
inline constexpr char kKeyTftpServerIp[] = "TFTPserverIP";  // the [TFTP] spelling readers use

// Buffer sizes the readers use (the text read is cut to one less).
inline constexpr int kComportBufferSize = 20;
inline constexpr int kDeviceKeyBufferSize = 20;
inline constexpr int kTftpKeyBufferSize = 20;
inline constexpr int kFlashFsFilenameBufferSize = 250;

// The values a load writes.
struct LoadParameters {
  QString comPort;         // port box text: "ttyUSB0" or a device path
  QString pcAddress;       // this computer's address (the TFTP server)
  QString stationAddress;  // the unit's temporary address
  QString subnet;
  QString gateway;  // may be empty: written as an empty value
  QString firmwarePath;
};

// Full path of the file: the system folder joined with kLoadParameterFileName.
// The bare name passed to the profile functions reaches the same file.
// A thread with a file of its own (SetThreadLoadParameterFile) gets that one.
QString LoadParameterFilePath();
// The file name the profile functions are given: the bare name, or the
// calling thread's own file.
QString LoadParameterFileName();
// Gives the calling thread a load parameter file of its own (a batch's
// serial load, each in its own work folder); "" returns it to the shared one.
void SetThreadLoadParameterFile(const QString& path);

// Writes every key of the file, one profile write per key, in the fixed
// order the file format lists them ([Device] through the full path, the
// others through the bare name). Existing values are overwritten in place;
// nothing is appended. Write failures are not reported.
void WriteLoadParameterFile(const LoadParameters& parameters);

// The "Comport" text for the port the operator named: `port` itself when it
// fits the file's 19 characters, else the device a longer link (such as
// /dev/serial/by-id/usb-...-if00-port0) leads to, when that fits. "" when
// neither fits (or the link leads nowhere): the port cannot be handed on.
QString ComPortParameterText(const QString& port);

// Reads one key with an empty default, cut to `bufferSize - 1` characters.
QString ReadLoadParameter(const QString& section, const QString& key, int bufferSize);

}  // namespace fwl
