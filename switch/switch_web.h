// The exchanges with a managed switch's web interface: its information
// page, the request that makes it fetch the information package, the
// remote-configuration page and the firmware install request. Each is one
// HttpCall with the switch's Basic credentials.
#pragma once

#include <QByteArray>
#include <QString>

#include "net/http_client.h"
#include "switch/switch_info.h"

namespace fwl {

// Where and how to reach the switch's web interface.
struct SwitchWebTarget {
  QString address;  // dotted quad
  QString user;
  QString password;
  int httpPort = 80;  // the switches serve on 80; simulators elsewhere
  HttpLimits limits;
  HttpStatusDisplay display;  // optional status lines
};

inline constexpr char kInfoPageResource[] = "/cgi-bin/getinfo.cgi";
inline constexpr char kInfoPackagePath[] = "/cgi-bin/updcommit.cgi";
inline constexpr char kRemoteConfigResource[] = "cgi-bin/rmtconf.cgi";
inline constexpr char kInfoPackageName[] = "switchinfo.tgz";
inline constexpr char kUnableToCommunicate[] =
    "Unable to communicate / login. Please verify the IP Address and login credentials.";

// Reads the information page. 0 on HTTP 200 (with `info` parsed from the
// body); -2 on HTTP 404 (no message: the page appears only once the
// information package is installed); -1 on any other outcome after
// "Unable to communicate / login..." (no box at all when the target's
// limits say showFailure = false).
int ReadSwitchInfo(const SwitchWebTarget& target, SwitchInfo* info);

// Asks the switch to fetch "switchinfo.tgz" from `pcAddress` by TFTP and
// install it. 0 on HTTP 200; -1 on HTTP 404 after "The requested file
// (/cgi-bin/updcommit.cgi) was not found."; -2 on any other outcome after
// "Unable to communicate / login...".
int SendSwitchInfoPackage(const SwitchWebTarget& target, const QString& pcAddress);

// The remote-configuration page: HTTP status and body.
int ReadRemoteConfiguration(const SwitchWebTarget& target, QByteArray* body);
// True when the page has network firmware loading selected (the exact
// option text, case-sensitive).
bool NetworkLoadingEnabled(const QByteArray& remoteConfigurationBody);

// The object name of the install request, exactly as it is sent.
QString InstallRequestResource(const QString& switchAddress, const QString& subnet,
                               const QString& pcAddress, const QString& gateway,
                               const QString& bootImageName, const QString& rootImageName);
// Sends the install request; the HTTP status (not judged by the install).
int SendInstallRequest(const SwitchWebTarget& target, const QString& resource, QByteArray* body);

}  // namespace fwl
