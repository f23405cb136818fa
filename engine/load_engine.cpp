// Construction and registration of the serial load engine.
#include "engine/load_engine.h"

#include <QSerialPort>

#include "tftp/tftp_server.h"

namespace fwl {

LoadEngine::LoadEngine(QObject* parent) : QObject(parent) {}

LoadEngine::~LoadEngine() = default;

void LoadEngine::SetMessageSink(MessageSink sink, void* user) {
  messageSink = std::move(sink);
  messageSinkUser = user;
}

void LoadEngine::SetProgressCallback(LoadProgressCallback callback, void* user) {
  progressCallback = std::move(callback);
  progressUser = user;
}

}  // namespace fwl
