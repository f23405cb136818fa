#include "wizard/local_network.h"

#include <QFile>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QProcess>
#include <QStandardPaths>
#include <QtEndian>

namespace fwl {
namespace {

AdapterListFunction& AdapterSource() {
  static AdapterListFunction source;
  return source;
}

ArpRemovalFunction& ArpRemoval() {
  static ArpRemovalFunction removal;
  return removal;
}

// Default gateways by interface name from the kernel's routing table
// (destination 0, gateway in network byte order as hexadecimal).
QHash<QString, QString> DefaultGateways() {
  QHash<QString, QString> gateways;
  QFile routes(QStringLiteral("/proc/net/route"));
  if (!routes.open(QIODevice::ReadOnly | QIODevice::Text)) return gateways;
  routes.readLine();  // heading
  for (int lines = 0; lines < 4096 && !routes.atEnd(); ++lines) {
    const QList<QByteArray> f = routes.readLine(512).simplified().split(' ');
    if (f.size() < 3 || f[1] != "00000000") continue;
    bool ok = false;
    const quint32 raw = f[2].toUInt(&ok, 16);
    if (!ok || raw == 0) continue;
    const QString name = QString::fromLatin1(f[0]);
    if (!gateways.contains(name))
      gateways.insert(name, QHostAddress(qFromBigEndian(raw)).toString());
  }
  return gateways;
}

QList<AdapterAddress> QtAdapterAddresses() {
  const QHash<QString, QString> gateways = DefaultGateways();
  QList<AdapterAddress> adapters;
  QList<AdapterAddress> loopback;
  for (const QNetworkInterface& iface : QNetworkInterface::allInterfaces()) {
    if (!(iface.flags() & QNetworkInterface::IsUp)) continue;
    const bool isLoopback = iface.flags() & QNetworkInterface::IsLoopBack;
    for (const QNetworkAddressEntry& entry : iface.addressEntries()) {
      const QHostAddress ip = entry.ip();
      if (ip.protocol() != QAbstractSocket::IPv4Protocol || ip.toIPv4Address() == 0) continue;
      AdapterAddress a;
      a.ip = ip.toString();
      a.mask = entry.netmask().toString();
      a.gateway = gateways.value(iface.name(), QStringLiteral("0.0.0.0"));
      (isLoopback ? loopback : adapters) << a;
    }
  }
  return adapters + loopback;
}

}  // namespace

QList<AdapterAddress> AdapterAddresses() {
  QList<AdapterAddress> list = AdapterSource() ? AdapterSource()() : QtAdapterAddresses();
  list.removeIf([](const AdapterAddress& a) { return a.ip == QLatin1String("0.0.0.0"); });
  return list;
}

AdapterListFunction SetAdapterListSource(AdapterListFunction source) {
  AdapterListFunction previous = std::move(AdapterSource());
  AdapterSource() = std::move(source);
  return previous;
}

bool RemoveArpEntry(const QString& address) {
  if (ArpRemoval()) return ArpRemoval()(address);
  // The address goes to the command as one argument, never through a shell.
  if (QHostAddress(address).protocol() != QAbstractSocket::IPv4Protocol) return true;
  auto find = [](const QString& name) {
    QString path = QStandardPaths::findExecutable(name);
    if (path.isEmpty())
      path = QStandardPaths::findExecutable(name,
                                            {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    return path;
  };
  QString program = find(QStringLiteral("ip"));
  QStringList args{QStringLiteral("neigh"), QStringLiteral("flush"), QStringLiteral("to"), address};
  if (program.isEmpty()) {
    program = find(QStringLiteral("arp"));
    args = {QStringLiteral("-d"), address};
  }
  if (program.isEmpty()) return false;
  QProcess process;
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(program, args);
  if (!process.waitForStarted(5000)) return false;
  process.waitForFinished(10000);
  return true;
}

ArpRemovalFunction SetArpRemoval(ArpRemovalFunction removal) {
  ArpRemovalFunction previous = std::move(ArpRemoval());
  ArpRemoval() = std::move(removal);
  return previous;
}

}  // namespace fwl
