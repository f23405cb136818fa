// The boot monitor's "tftp" command: fetches a file from "serverip" into
// memory with the unit's own TFTP client, printing hash marks as it goes.
#include <QHostAddress>
#include <QTimer>
#include <algorithm>

#include "sim/boot_monitor.h"
#include "sim/sim_tftp_client.h"

namespace fwl {

int BootMonitor::CmdTftp(const QStringList& args) {
  if (args.size() > 3) return kUsage;
  quint64 address = env_.Get("loadaddr").toULongLong(nullptr, 16);
  QString file = env_.Get("bootfile");
  if (args.size() >= 2) {
    QString a = args[1];
    if (a.startsWith("0x", Qt::CaseInsensitive)) a = a.mid(2);
    bool ok = false;
    const quint64 v = a.toULongLong(&ok, 16);
    if (args.size() == 3 && !ok) return kUsage;
    if (ok && a.size() <= 8) {
      address = v;
      if (args.size() == 3) file = args[2];
    } else {
      file = args[1];
    }
  }
  const QString serverText = env_.Get("serverip");
  const QString ipText = env_.Get("ipaddr");
  if (ipText.isEmpty()) {
    Print("*** ERROR: `ipaddr' not set\n");
    return kFailed;
  }
  if (serverText.isEmpty()) {
    Print("*** ERROR: `serverip' not set\n");
    return kFailed;
  }
  if (file.isEmpty()) {
    Print("*** ERROR: no file name given\n");
    return kFailed;
  }
  const QHostAddress server(serverText);
  const SimMemoryMap::Place area = memory_.Locate(address, 1);
  if (area.memory == nullptr || area.area == SimMemoryMap::Area::kNor) {
    Print(QString("*** ERROR: load address 0x%1 is not RAM\n").arg(address, 0, 16));
    return kFailed;
  }
  Print("Using FEC ETHERNET device\n");
  Print(QString("TFTP from server %1; our IP address is %2\n").arg(serverText, ipText));
  Print(QString("Filename '%1'.\n").arg(file));
  Print(QString("Load address: 0x%1\n").arg(address, 0, 16));
  Print("Loading: ");

  SimTftpClient::Settings s;
  s.blockSize = options_.tftpBlockSize;
  s.timeoutMs = options_.tftpTimeoutMs;
  s.retries = options_.tftpRetries;
  s.capacity = area.memory->Size() - area.offset;
  s.stallAfterBlocks = options_.tftpStallAfterBlocks.value_or(-1);
  // The unit fetches from the address it was given (a loopback one in tests).
  if (QHostAddress ours(ipText); ours.isLoopback()) s.localAddress = ours;
  SparseMemory* target = area.memory;
  const quint64 base = area.offset;
  tftpLoadAddress_ = quint32(address);
  tftpBlocks_ = 0;
  tftpHashes_ = 0;

  SimTftpClient::Callbacks cb;
  cb.block = [this, target, base](quint64 offset, const QByteArray& data) {
    if (!target->Contains(base + offset, quint64(data.size()))) return false;
    // Blocks arrive in order, so the count so far numbers this one.
    const quint64 number = tftpBlocks_ + 1;
    const auto& corrupt = options_.corruptTransferBlocks;
    if (!data.isEmpty() && std::find(corrupt.begin(), corrupt.end(), number) != corrupt.end()) {
      QByteArray damaged = data;
      damaged[0] = char(damaged[0] ^ 0x01);
      target->Write(base + offset, damaged);
    } else {
      target->Write(base + offset, data);
    }
    if (++tftpBlocks_ % 10 == 0) {
      Print("#");
      if (++tftpHashes_ % 65 == 0) Print("\n         ");
      Flush();
    }
    return true;
  };
  cb.timeout = [this] {
    Print("T ");
    Flush();
  };
  // The end is handled from the event loop, not from inside the client's
  // own packet handler: the prompt may at once run a queued command that
  // starts the next fetch on the same client.
  cb.finished = [this](bool ok, quint64 bytes, const QString& error) {
    const quint64 epoch = epoch_;
    QTimer::singleShot(0, this, [this, epoch, ok, bytes, error] {
      if (epoch != epoch_) return;
      if (!ok) {
        Print("\n" + error + "\n");
        FinishAsync(kFailed);
        return;
      }
      Print("\ndone\n");
      Print(QString("Bytes transferred = %1 (%2 hex)\n").arg(bytes).arg(bytes, 0, 16));
      env_.Set("filesize", QString::number(bytes, 16).toUpper());
      env_.Set("fileaddr", QString::number(tftpLoadAddress_, 16).toUpper());
      FinishAsync(kOk);
    });
  };
  if (!tftp_) tftp_ = std::make_unique<SimTftpClient>();
  QString error;
  if (!tftp_->Start(server, options_.tftpPort, file, s, std::move(cb), &error)) {
    Print("\n*** ERROR: " + error + "\n");
    return kFailed;
  }
  ctrlCAborts_ = true;
  tftpRunning_ = true;
  return kAsync;
}

}  // namespace fwl
