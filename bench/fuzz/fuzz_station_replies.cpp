// libFuzzer target: the station link's services on replies a station sends.
// The input is a stream of datagrams, each checked by the same parser the
// UDP transport uses; the link's shell command, file, reset and poll
// services then read their fields out of whatever was accepted, and the
// upgrade's reply texts (processor, running build) are read as well.
#include <QCoreApplication>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <memory>

#include "platform/ui.h"
#include "station/ethernet_upgrade_text.h"
#include "station/station_link.h"
#include "station/station_record.h"
#include "station/station_transport.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// Input layout, repeated: a control byte, a 16-bit big-endian length, then
// that many datagram bytes. Control bit 0 gives the datagram the sequence
// number of the request it answers (a station that is in step); bit 1 lets
// the next datagram arrive for the same request (stray and late replies).
class ScriptedTransport final : public fwl::StationTransport {
 public:
  ScriptedTransport(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  int OpenConnection(const QString&) override {
    open_ = true;
    return 0;
  }
  bool CloseConnection(int) override {
    const bool was = open_;
    open_ = false;
    return was;
  }
  bool IsOpen() const override { return open_; }

  void WriteMessage(const fwl::StationRecord& request, const QString&) override {
    queue_.clear();
    bool more = true;
    bool arrived = false;
    while (more && at_ + 3 <= size_) {
      const uint8_t control = data_[at_];
      const size_t length = (size_t(data_[at_ + 1]) << 8) | data_[at_ + 2];
      at_ += 3;
      const size_t take = std::min(length, size_ - at_);
      const QByteArray datagram(reinterpret_cast<const char*>(data_ + at_), qsizetype(take));
      at_ += take;
      more = (control & 2) != 0;
      fwl::StationRecord reply;
      if (!fwl::ParseStationDatagram(datagram, reply)) continue;
      // What was accepted must be what arrived, within the record.
      Check(reply.Data().size() == datagram.size() - fwl::kStationHeaderSize);
      if (control & 1) reply.bytes[fwl::kRecSequence] = request.bytes[fwl::kRecSequence];
      queue_.push_back(reply);
      arrived = true;
    }
    if (arrived) emit MessageArrived();
  }

  bool ReadMessage(fwl::StationRecord& record) override {
    if (queue_.empty()) return false;
    record = queue_.front();
    queue_.pop_front();
    return true;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
  bool open_ = false;
  std::deque<fwl::StationRecord> queue_;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  static QCoreApplication app(*argc, *argv);
  static fwl::SilentUi ui;
  fwl::Ui::Install(&ui);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fwl::StationLink link;
  link.SetDevice(QStringLiteral("Ethernet"));
  link.SetUseLibrary(true);
  link.SetUseAlternateAddress(false);
  link.SetAddress(QStringLiteral("127.0.0.1"));
  // Replies arrive while the request is written, so no wait is needed and a
  // silent station costs nothing.
  link.SetTimeout(0.0f);
  link.SetRetries(0);
  link.SetNoCapture(true);
  link.SetTransport(std::make_unique<ScriptedTransport>(data, size));
  if (!link.Open()) std::abort();

  // The requests of an Ethernet-only upgrade, in its order.
  QString reply;
  int status = -1;
  for (const char* command : {"cat /proc/mtd", "cat /proc/cpuinfo", "cat /etc/korvidinfo.txt"}) {
    reply = QStringLiteral("untouched");
    if (link.RunStationCommand(0, QString::fromLatin1(command), &reply, &status) && status == 0) {
      Check(reply.size() <= 255 && !reply.contains(QChar(0)));
      fwl::CpuLetterFromCpuInfo(reply);
      Check(fwl::RunningBuild(reply).size() <= 50);
    }
  }
  uint32_t handle = 0;
  link.CreateStationFile(0, 0, QStringLiteral("/tmp/fwupdate.config"), &status, &handle);
  fwl::StationWriteResult written;
  const char block[] = "IMAGE_NAME kvimage_razeb3_1_2";
  link.WriteStationBlock(handle, 0, block, int(sizeof block - 1), &written);
  // (The long-write flag only lengthens the wait by 30 s, so it is left out.)
  link.WriteStationBlock(handle, 29, block, 0, nullptr);
  link.DeleteStationFile(QStringLiteral("/tmp/fwupdate.config"));
  link.ResetStation(40517, 1);
  uint8_t poll[4] = {};
  link.QueryStation(poll);
  link.Close();
  return 0;
}
