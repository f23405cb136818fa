#include "platform/event_dispatcher.h"

#include <QtGlobal>

namespace fwl {

void UseLeanEventDispatcher() {
  if (!qEnvironmentVariableIsSet("QT_NO_GLIB")) qputenv("QT_NO_GLIB", "1");
}

}  // namespace fwl
