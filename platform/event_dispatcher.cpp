#include "platform/event_dispatcher.h"

#include <QByteArray>
#include <QtGlobal>

namespace fwl {

void UseLeanEventDispatcher() {
  if (!qEnvironmentVariableIsSet("QT_NO_GLIB")) qputenv("QT_NO_GLIB", QByteArray("1"));
}

}  // namespace fwl
