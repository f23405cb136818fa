// What the wizard needs from this computer's network: its IPv4 addresses
// with mask and gateway (the IP settings page) and the removal of the
// station's ARP entry after a load (the begin-load page). Both go through
// replaceable functions, so the network helpers of the core (or a test) can
// stand in for the Qt-based defaults here.
#pragma once

#include <QList>
#include <QString>
#include <functional>

namespace fwl {

struct AdapterAddress {
  QString ip;       // dotted quad, never "0.0.0.0"
  QString mask;     // dotted quad
  QString gateway;  // dotted quad; "0.0.0.0" when the adapter has none
};

using AdapterListFunction = std::function<QList<AdapterAddress>()>;
// Starts removing the ARP entry of `address` and waits for it to end; false
// only when the removal could not be started.
using ArpRemovalFunction = std::function<bool(const QString& address)>;

// This computer's IPv4 addresses in adapter order (loopback adapters last),
// "0.0.0.0" left out.
QList<AdapterAddress> AdapterAddresses();
// Replaces the source of AdapterAddresses(); an empty function restores the
// default (QNetworkInterface for addresses and masks, the routing table for
// default gateways). Returns the previous source.
AdapterListFunction SetAdapterListSource(AdapterListFunction source);

// Removes the ARP table entry of `address` ("ip neigh del", or "arp -d"
// where "ip" is missing) and waits for the command. Its outcome is not
// judged: an entry that is not there, or missing rights, is no error.
bool RemoveArpEntry(const QString& address);
ArpRemovalFunction SetArpRemoval(ArpRemovalFunction removal);

}  // namespace fwl
