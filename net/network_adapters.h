// This computer's IPv4 addresses with their subnet masks and default
// gateways, in adapter order: what the IP settings page offers as the
// address a unit is to reach this computer at.
#pragma once

#include <QList>
#include <QString>

namespace fwl {

struct AdapterAddress {
  QString interfaceName;  // "eth0", "enp3s0", ...
  QString ip;             // dotted quad
  QString mask;           // dotted quad
  QString gateway;        // the adapter's default gateway, "0.0.0.0" when none
};

// Every IPv4 address of every interface that is up, in interface order and
// each interface's own address order. Addresses "0.0.0.0" are left out, and
// loopback interfaces unless `includeLoopback`.
QList<AdapterAddress> LocalAdapterAddresses(bool includeLoopback = false);

// Default gateways per interface name from a routing table in the form of
// /proc/net/route (exposed for tests); the first default route of an
// interface wins.
QList<QPair<QString, QString>> DefaultGatewaysFromRouteTable(const QByteArray& table);

}  // namespace fwl
