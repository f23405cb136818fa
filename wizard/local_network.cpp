#include "wizard/local_network.h"

#include <QHostAddress>
#include <algorithm>

#include "net/arp_entry.h"

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

// Every address, the loopback ones after the rest: on a bench without a
// network the operator can still pick 127.0.0.1, but a real adapter comes first.
QList<AdapterAddress> MachineAdapterAddresses() {
  QList<AdapterAddress> list = LocalAdapterAddresses(true);
  std::stable_partition(list.begin(), list.end(),
                        [](const AdapterAddress& a) { return !QHostAddress(a.ip).isLoopback(); });
  return list;
}

}  // namespace

QList<AdapterAddress> AdapterAddresses() {
  QList<AdapterAddress> list = AdapterSource() ? AdapterSource()() : MachineAdapterAddresses();
  list.removeIf([](const AdapterAddress& a) { return a.ip == QLatin1String("0.0.0.0"); });
  return list;
}

AdapterListFunction SetAdapterListSource(AdapterListFunction source) {
  AdapterListFunction previous = std::move(AdapterSource());
  AdapterSource() = std::move(source);
  return previous;
}

bool RemoveStationArpEntry(const QString& address) {
  if (ArpRemoval()) return ArpRemoval()(address);
  // Not an address: nothing to remove, and no command to start.
  if (QHostAddress(address).protocol() != QAbstractSocket::IPv4Protocol) return true;
  return RemoveArpEntry(address);
}

ArpRemovalFunction SetArpRemoval(ArpRemovalFunction removal) {
  ArpRemovalFunction previous = std::move(ArpRemoval());
  ArpRemoval() = std::move(removal);
  return previous;
}

}  // namespace fwl
