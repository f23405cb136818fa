#include "net/network_adapters.h"

#include <QFile>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QtEndian>

namespace fwl {

QList<QPair<QString, QString>> DefaultGatewaysFromRouteTable(const QByteArray& table) {
  QList<QPair<QString, QString>> gateways;
  const QList<QByteArray> lines = table.split('\n');
  // Columns: Iface Destination Gateway Flags RefCnt Use Metric Mask ...
  for (qsizetype i = 1; i < lines.size(); ++i) {
    const QList<QByteArray> fields = lines[i].simplified().split(' ');
    if (fields.size() < 8) continue;
    bool okDestination = false, okGateway = false, okMask = false;
    const quint32 destination = fields[1].toUInt(&okDestination, 16);
    const quint32 gateway = fields[2].toUInt(&okGateway, 16);
    const quint32 mask = fields[7].toUInt(&okMask, 16);
    if (!okDestination || !okGateway || !okMask || destination != 0 || mask != 0 || gateway == 0) {
      continue;
    }
    const QString name = QString::fromLatin1(fields[0]);
    bool known = false;
    for (const auto& entry : gateways) known = known || entry.first == name;
    if (known) continue;
    // The table prints the address's network-order bytes read as a host
    // integer.
    gateways.append({name, QHostAddress(qFromBigEndian(gateway)).toString()});
  }
  return gateways;
}

QList<AdapterAddress> LocalAdapterAddresses(bool includeLoopback) {
  QByteArray table;
  QFile route(QStringLiteral("/proc/net/route"));
  if (route.open(QIODevice::ReadOnly)) table = route.read(1 << 20);
  const auto gateways = DefaultGatewaysFromRouteTable(table);

  QList<AdapterAddress> addresses;
  for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces()) {
    const auto flags = interface.flags();
    if (!(flags & QNetworkInterface::IsUp)) continue;
    if ((flags & QNetworkInterface::IsLoopBack) && !includeLoopback) continue;
    QString gateway = QStringLiteral("0.0.0.0");
    for (const auto& entry : gateways) {
      if (entry.first == interface.name()) gateway = entry.second;
    }
    for (const QNetworkAddressEntry& entry : interface.addressEntries()) {
      const QHostAddress ip = entry.ip();
      if (ip.protocol() != QAbstractSocket::IPv4Protocol || ip.toIPv4Address() == 0) continue;
      addresses.append({interface.name(), ip.toString(), entry.netmask().toString(), gateway});
    }
  }
  return addresses;
}

}  // namespace fwl
