#include "switch/switch_web.h"

#include "platform/ui.h"

namespace fwl {
namespace {

constexpr char kNetworkLoadingOption[] = "<option value='network' selected>Enabled</option>";

int Call(const SwitchWebTarget& target, const QString& path, const QString& resource,
         const QString& data, QByteArray* body, bool encodeResource, bool rawBody) {
  return HttpCall(target.address, target.httpPort, path, resource, data, body, target.display,
                  target.user, target.password, encodeResource, rawBody, target.limits);
}

}  // namespace

int ReadSwitchInfo(const SwitchWebTarget& target, SwitchInfo* info) {
  QByteArray body;
  const int status = Call(target, QString(), QString::fromLatin1(kInfoPageResource), QString(),
                          &body, true, false);
  if (status == 200) {
    if (info) *info = ParseSwitchInfo(body);
    return 0;
  }
  if (status == 404) return -2;
  if (target.limits.showFailure) ShowMessage(QString::fromLatin1(kUnableToCommunicate));
  return -1;
}

int SendSwitchInfoPackage(const SwitchWebTarget& target, const QString& pcAddress) {
  QByteArray body;
  const QString form =
      QStringLiteral("tftp=%1&file=%2").arg(pcAddress, QString::fromLatin1(kInfoPackageName));
  const int status =
      Call(target, QString::fromLatin1(kInfoPackagePath), QString(), form, &body, true, true);
  if (status == 200) return 0;
  if (status == 404) {
    ShowMessage(QStringLiteral("The requested file (%1) was not found.")
                    .arg(QString::fromLatin1(kInfoPackagePath)));
    return -1;
  }
  ShowMessage(QString::fromLatin1(kUnableToCommunicate));
  return -2;
}

int ReadRemoteConfiguration(const SwitchWebTarget& target, QByteArray* body) {
  return Call(target, QString(), QString::fromLatin1(kRemoteConfigResource), QString(), body, true,
              false);
}

bool NetworkLoadingEnabled(const QByteArray& remoteConfigurationBody) {
  return remoteConfigurationBody.contains(kNetworkLoadingOption);
}

QString InstallRequestResource(const QString& switchAddress, const QString& subnet,
                               const QString& pcAddress, const QString& gateway,
                               const QString& bootImageName, const QString& rootImageName) {
  return QStringLiteral(
             "cgi-bin/perform_fwinstall.cgi?ipaddr=%1&netmask=%2&serverip=%3&gatewayip=%4"
             "&bootimage=%5&rootimage=%6")
      .arg(switchAddress, subnet, pcAddress, gateway, bootImageName, rootImageName);
}

int SendInstallRequest(const SwitchWebTarget& target, const QString& resource, QByteArray* body) {
  return Call(target, QString(), resource, QString(), body, false, false);
}

}  // namespace fwl
