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

// The four calls the station link relies on, and the arrival notice.
class StationTransport : public QObject {
  Q_OBJECT

 public:
  explicit StationTransport(QObject* parent = nullptr) : QObject(parent) {}
  ~StationTransport() override = default;
  StationTransport(const StationTransport&) = delete;
  StationTransport& operator=(const StationTransport&) = delete;

  // Opens `device`; returns the connection handle (0 or more) or -1.
  // Opening an open device returns its handle again.
  virtual int OpenConnection(const QString& device) = 0;
  // Closes the connection `handle`; true when it was open.
  virtual bool CloseConnection(int handle) = 0;
  virtual bool IsOpen() const = 0;

  // Puts `data` after the header of `record` and sets the frame length
  // (28 + data length) and the data length. False when the data does not
  // fit into one frame (more than 1024 bytes).
  virtual bool BuildMessage(StationRecord& record, const QByteArray& data);

  // Sends the built frame of `record` to the station at `addressText`;
  // replies are accepted from there only until the next write. Discards
  // replies still queued from earlier requests.
  virtual void WriteMessage(const StationRecord& record, const QString& addressText) = 0;

  // Copies the oldest reply waiting into `record`; false when none waits.
  virtual bool ReadMessage(StationRecord& record) = 0;

  // Where the station listens, for transports that have such a thing.
  virtual void SetStationPort(quint16) {}

 signals:
  // One or more replies have arrived (the library's arrival notice).
  void MessageArrived();
};

// The transport used here: one UDP datagram per request and per reply, in
// the layout of docs/station-link.md.
class UdpStationTransport final : public StationTransport {
  Q_OBJECT

 public:
  explicit UdpStationTransport(QObject* parent = nullptr);
  ~UdpStationTransport() override;

  // Only "Ethernet" is carried (a UDP socket on a port the system chooses);
  // its handle is 0.
  int OpenConnection(const QString& device) override;
  bool CloseConnection(int handle) override;
  bool IsOpen() const override { return socket_ != nullptr; }
  // Datagrams go to `addressText` (dotted IPv4) at the station port.
  void WriteMessage(const StationRecord& record, const QString& addressText) override;
  bool ReadMessage(StationRecord& record) override;

  // UDP port the station listens on (default 5454); used by the next write.
  void SetStationPort(quint16 port) override { stationPort_ = port; }
  quint16 StationPort() const { return stationPort_; }

 private:
  void OnReadyRead();

  QUdpSocket* socket_ = nullptr;
  quint16 stationPort_ = kDefaultStationPort;
  QHostAddress peer_;
  std::deque<StationRecord> queue_;
};

}  // namespace fwl
