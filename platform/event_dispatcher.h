// Which event dispatcher the programs run their threads with. Every wait of
// a load runs the event loop, and the TFTP server answers each ACK from it,
// so the dispatcher's cost per wake-up is paid once per block sent.
#pragma once

namespace fwl {

// Picks Qt's own UNIX event dispatcher instead of the GLib one (QT_NO_GLIB),
// unless the user chose already: it costs about half as much per wake-up,
// which is most of the TFTP server's time per block. Call before the
// application object is created.
void UseLeanEventDispatcher();

}  // namespace fwl
