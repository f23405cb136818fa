// Removal of one entry from this computer's ARP (neighbour) table, so the
// next packet to a unit that changed its address or hardware asks afresh.
#pragma once

#include <QString>

namespace fwl {

// Starts the system's command that deletes the neighbour entry of `address`
// ("ip neigh flush to ADDRESS", or "arp -d ADDRESS" where there is no "ip")
// and waits for it to end (a few seconds at most). Whether an entry existed
// or the command was allowed to change the table does not matter. Returns
// false only when no command could be started (or `address` is not a dotted
// IPv4 address).
bool RemoveArpEntry(const QString& address);

}  // namespace fwl
