// What the wizard needs from this computer's network: its IPv4 addresses
// with mask and gateway (the IP settings page) and the removal of the
// station's ARP entry after a load (the begin-load page). Both come from the
// core's network helpers through replaceable functions, so a test can stand
// in for the machine's own network.
#pragma once

#include <QList>
#include <QString>
#include <functional>

#include "net/network_adapters.h"

namespace fwl {

using AdapterListFunction = std::function<QList<AdapterAddress>()>;
// Removes the ARP entry of `address`; false only when the removal could not
// be started.
using ArpRemovalFunction = std::function<bool(const QString& address)>;

// This computer's IPv4 addresses in adapter order (loopback adapters last),
// "0.0.0.0" left out.
QList<AdapterAddress> AdapterAddresses();
// Replaces the source of AdapterAddresses(); an empty function restores the
// default (LocalAdapterAddresses). Returns the previous source.
AdapterListFunction SetAdapterListSource(AdapterListFunction source);

// Removes the station's ARP table entry after a load (RemoveArpEntry unless
// replaced). Its outcome is not judged: an entry that is not there, or
// missing rights, is no error.
bool RemoveStationArpEntry(const QString& address);
ArpRemovalFunction SetArpRemoval(ArpRemovalFunction removal);

}  // namespace fwl
