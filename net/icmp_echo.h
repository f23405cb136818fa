// One ICMP echo ("ping") to a host: used to learn when a switch answers
// again after it restarted with new firmware.
#pragma once

#include <QString>

namespace fwl {

// Sends one echo request with `dataBytes` bytes of data (at most 1024) and
// time-to-live `ttl` to the IPv4 address `host`, and waits up to `timeoutMs`
// for its reply while the thread's events keep being dispatched. Uses an
// unprivileged ICMP datagram socket where the kernel allows one, a raw socket
// otherwise. True when the matching reply arrived; false on a time-out, an
// address that is not dotted IPv4, or when no socket could be opened or the
// request could not be sent.
bool IcmpEcho(const QString& host, int ttl, int timeoutMs, int dataBytes = 32);

}  // namespace fwl
