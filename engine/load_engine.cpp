// Construction and registration of the serial load engine.
#include "engine/load_engine.h"

#include <QSerialPort>

#include "station/station_link.h"
#include "tftp/tftp_server.h"
#include "tftp/tftp_service.h"

namespace fwl {

LoadEngine::LoadEngine(QObject* parent)
    : QObject(parent), ownStationLink_(std::make_unique<StationLink>()) {
  stationLink = ownStationLink_.get();
}

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
