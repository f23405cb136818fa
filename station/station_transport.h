// The transport under the station link: carries request records to a station
// as UDP datagrams and hands back its replies in the same record layout. It
// offers the four calls the link relies on (open, build, write, read) and a
// signal for each arrival, so another transport could take its place.
#pragma once

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <deque>

#include "station/station_record.h"

class QUdpSocket;

namespace fwl {

inline constexpr quint16 kDefaultStationPort = 5454;

class StationTransport : public QObject {
  Q_OBJECT

 public:
  explicit StationTransport(QObject* parent = nullptr);
  ~StationTransport() override;
  StationTransport(const StationTransport&) = delete;
  StationTransport& operator=(const StationTransport&) = delete;

  // UDP port the station listens on (default 5454); used by the next write.
  void SetStationPort(quint16 port) { stationPort_ = port; }
  quint16 StationPort() const { return stationPort_; }

  // Opens the device. Only "Ethernet" is carried (a UDP socket on a port the
  // system chooses); returns the connection handle (0) or -1 for any other
  // device or when no socket can be bound. Opening an open device returns
  // its handle again.
  int OpenConnection(const QString& device);
  // Closes the connection `handle`; true when it was open.
  bool CloseConnection(int handle);
  bool IsOpen() const { return socket_ != nullptr; }

  // Puts `data` after the header of `record` and sets the frame length
  // (28 + data length) and the data length. False when the data does not
  // fit into one datagram (more than 1024 bytes).
  static bool BuildMessage(StationRecord& record, const QByteArray& data);

  // Sends the built frame of `record` to the station at `addressText`
  // (dotted IPv4) and its port; replies are accepted from there only until
  // the next write. Discards replies still queued from earlier requests.
  void WriteMessage(const StationRecord& record, const QString& addressText);

  // Copies the oldest reply waiting into `record`; false when none waits.
  bool ReadMessage(StationRecord& record);

 signals:
  // One or more replies have arrived (the library's arrival notice).
  void MessageArrived();

 private:
  void OnReadyRead();

  QUdpSocket* socket_ = nullptr;
  quint16 stationPort_ = kDefaultStationPort;
  QHostAddress peer_;
  std::deque<StationRecord> queue_;
};

}  // namespace fwl
