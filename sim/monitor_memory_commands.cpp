// The boot monitor's memory and flash commands: protect, erase, cp, mw,
// mtest and nand. Addresses and counts are hexadecimal, with or without "0x".
#include <QTimer>
#include <cctype>

#include "platform/crc32.h"
#include "sim/boot_monitor.h"

namespace fwl {

namespace {

// Parses a hexadecimal number; false on anything but hex digits.
bool ParseHex(const QString& text, quint64* value) {
  QString t = text;
  if (t.startsWith("0x", Qt::CaseInsensitive)) t = t.mid(2);
  if (t.isEmpty() || t.size() > 16) return false;
  bool ok = false;
  *value = t.toULongLong(&ok, 16);
  return ok;
}

// A count as the boot monitor reads it: the hexadecimal digits it begins
// with, 0 when there are none ("$(filesize)" left unexpanded reads 0).
quint64 LenientHex(const QString& text) {
  QString t = text;
  if (t.startsWith("0x", Qt::CaseInsensitive)) t = t.mid(2);
  qsizetype n = 0;
  while (n < t.size() && n < 16 && std::isxdigit(static_cast<unsigned char>(t[n].toLatin1()))) ++n;
  return n == 0 ? 0 : t.left(n).toULongLong(nullptr, 16);
}

int WidthOf(const QString& command) {
  if (command.endsWith(".w")) return 2;
  if (command.endsWith(".l")) return 4;
  if (command.endsWith(".b")) return 1;
  return 4;  // the monitor's default size is a long word
}

QString Hex8(quint64 v) { return QString("%1").arg(v, 8, 16, QChar('0')); }

constexpr quint64 kChunk = 0x100000;

}  // namespace

bool BootMonitor::NorSectorRange(quint64 start, quint64 end, int* first, int* last) {
  const quint64 base = memory_.NorBase();
  const quint64 size = memory_.Nor().Size();
  if (size == 0 || end < start || start < base || end >= base + size) {
    Print("Error: address range not in flash\n");
    return false;
  }
  if ((start - base) % SimMemoryMap::kNorSector != 0) {
    Print("Error: start address not on sector boundary\n");
    return false;
  }
  if ((end + 1 - base) % SimMemoryMap::kNorSector != 0) {
    Print("Error: end address not on sector boundary\n");
    return false;
  }
  *first = int((start - base) / SimMemoryMap::kNorSector);
  *last = int((end - base) / SimMemoryMap::kNorSector);
  return true;
}

int BootMonitor::CmdProtect(const QStringList& args) {
  if (args.size() < 3 || (args[1] != "on" && args[1] != "off")) return kUsage;
  const bool on = args[1] == "on";
  if (memory_.NorSectorCount() == 0) {
    Print("Error: no flash\n");
    return kFailed;
  }
  if (args[2] == "all" && args.size() == 3) {
    Print(QString("%1Protect Flash Bank # 1\n").arg(on ? "" : "Un-"));
    for (int s = 0; s < memory_.NorSectorCount(); ++s) {
      memory_.SetSectorProtected(s, on);
      if (s % 8 == 7) Print(".");
    }
    Print(" done\n");
    return kOk;
  }
  quint64 start = 0, end = 0;
  if (args.size() != 4 || !ParseHex(args[2], &start) || !ParseHex(args[3], &end)) return kUsage;
  int first = 0, last = 0;
  if (!NorSectorRange(start, end, &first, &last)) return kFailed;
  for (int s = first; s <= last; ++s) memory_.SetSectorProtected(s, on);
  Print(QString("%1Protected %2 sectors\n").arg(on ? "" : "Un-").arg(last - first + 1));
  return kOk;
}

int BootMonitor::CmdErase(const QStringList& args) {
  quint64 start = 0, end = 0;
  if (args.size() != 3 || !ParseHex(args[1], &start) || !ParseHex(args[2], &end)) return kUsage;
  int first = 0, last = 0;
  if (!NorSectorRange(start, end, &first, &last)) return kFailed;
  int guarded = 0;
  for (int s = first; s <= last; ++s) guarded += memory_.SectorProtected(s) ? 1 : 0;
  if (guarded) {
    Print(QString("- Warning: %1 protected sectors will not be erased!\n").arg(guarded));
  } else {
    Print("\n");
  }
  int erased = 0;
  for (int s = first; s <= last; ++s) {
    if (memory_.SectorProtected(s)) continue;
    memory_.Nor().Fill(quint64(s) * SimMemoryMap::kNorSector, SimMemoryMap::kNorSector, char(0xFF));
    ++erased;
    Print(".");
  }
  if (erased == 0) {
    // Nothing could be erased: no completion message, so nobody mistakes
    // this for a flash ready to be written.
    Print("\nNo sectors erased\n");
    return kFailed;
  }
  Print(QString(" done\nErased %1 sectors\n").arg(erased));
  return kOk;
}

int BootMonitor::CmdCopy(const QStringList& args) {
  quint64 src = 0, dst = 0;
  if (args.size() != 4 || !ParseHex(args[1], &src) || !ParseHex(args[2], &dst)) return kUsage;
  const quint64 count = LenientHex(args[3]);
  if (count == 0) {
    Print("Zero length ???\n");
    return kFailed;
  }
  const quint64 bytes = count * quint64(WidthOf(args[0]));
  if (count > 0xFFFFFFFFull) return kUsage;
  const SimMemoryMap::Place from = memory_.Locate(src, bytes);
  const SimMemoryMap::Place to = memory_.Locate(dst, bytes);
  if (from.memory == nullptr) {
    Print(QString("## Error: source 0x%1 .. 0x%2 is not memory\n")
              .arg(Hex8(src), Hex8(src + bytes - 1)));
    return kFailed;
  }
  if (to.memory == nullptr) {
    Print(QString("## Error: target 0x%1 .. 0x%2 is not memory\n")
              .arg(Hex8(dst), Hex8(dst + bytes - 1)));
    return kFailed;
  }
  if (to.area == SimMemoryMap::Area::kNor) {
    Print("Copy to Flash... ");
    const int first = int(to.offset / SimMemoryMap::kNorSector);
    const int last = int((to.offset + bytes - 1) / SimMemoryMap::kNorSector);
    for (int s = first; s <= last; ++s) {
      if (memory_.SectorProtected(s)) {
        Print("Can't write to protected Flash sectors\n");
        return kFailed;
      }
    }
    // Programming can only clear bits; a bit that would have to rise means
    // the target was not erased.
    for (quint64 at = 0; at < bytes; at += kChunk) {
      const quint64 n = std::min(kChunk, bytes - at);
      const QByteArray data = from.memory->Read(from.offset + at, n);
      const QByteArray old = to.memory->Read(to.offset + at, n);
      for (qsizetype i = 0; i < data.size(); ++i) {
        if ((old[i] & data[i]) != data[i]) {
          Print("Flash not Erased\n");
          return kFailed;
        }
      }
    }
    for (quint64 at = 0; at < bytes; at += kChunk) {
      const quint64 n = std::min(kChunk, bytes - at);
      ProgramFlash(*to.memory, to.offset + at, from.memory->Read(from.offset + at, n));
    }
    Print("done\n");
    return kOk;
  }
  for (quint64 at = 0; at < bytes; at += kChunk) {
    const quint64 n = std::min(kChunk, bytes - at);
    to.memory->Write(to.offset + at, from.memory->Read(from.offset + at, n));
  }
  return kOk;
}

int BootMonitor::CmdMemoryWrite(const QStringList& args) {
  quint64 address = 0, value = 0, count = 1;
  if (args.size() < 3 || args.size() > 4 || !ParseHex(args[1], &address) ||
      !ParseHex(args[2], &value) || (args.size() == 4 && !ParseHex(args[3], &count)))
    return kUsage;
  const int width = WidthOf(args[0]);
  if (count > 0xFFFFFFFFull) return kUsage;
  const quint64 bytes = count * quint64(width);
  if (bytes == 0) return kOk;
  const SimMemoryMap::Place to = memory_.Locate(address, bytes);
  if (to.memory == nullptr || to.area == SimMemoryMap::Area::kNor) {
    Print(QString("## Error: cannot write 0x%1 bytes at 0x%2\n")
              .arg(bytes, 0, 16)
              .arg(Hex8(address)));
    return kFailed;
  }
  QByteArray unit(width, 0);
  for (int i = 0; i < width; ++i) {
    const int shift = options_.bigEndian ? 8 * (width - 1 - i) : 8 * i;
    unit[i] = char((value >> shift) & 0xFF);
  }
  if (width == 1) {
    to.memory->Fill(to.offset, bytes, unit[0]);
    return kOk;
  }
  const quint64 chunkUnits = kChunk / quint64(width);
  for (quint64 done = 0; done < count; done += chunkUnits) {
    const quint64 n = std::min(chunkUnits, count - done);
    to.memory->Write(to.offset + done * quint64(width), unit.repeated(qsizetype(n)));
  }
  return kOk;
}

// mtest runs pattern passes until Ctrl-C; a covered fault address makes the
// first pass report "Mem error" and end the test.
int BootMonitor::CmdMtest(const QStringList& args) {
  quint64 start = 0, end = 0;
  if (args.size() != 3 || !ParseHex(args[1], &start) || !ParseHex(args[2], &end)) return kUsage;
  if (end < start) {
    Print("Refusing to do empty test\n");
    return kFailed;
  }
  const SimMemoryMap::Place place = memory_.Locate(start, end - start + 1);
  if (place.memory == nullptr || place.area == SimMemoryMap::Area::kNor) {
    Print(QString("## Error: 0x%1 .. 0x%2 is not RAM\n").arg(Hex8(start), Hex8(end)));
    return kFailed;
  }
  mtestStart_ = start;
  mtestEnd_ = end;
  mtestPattern_ = 0;
  mtestPasses_ = 0;
  Print(QString("Testing %1 ... %2:\n").arg(Hex8(start), Hex8(end)));
  ctrlCAborts_ = true;
  const quint64 epoch = epoch_;
  QTimer::singleShot(0, this, [this, epoch] {
    if (epoch == epoch_) MtestPass();
  });
  return kAsync;
}

void BootMonitor::MtestPass() {
  if (state_ != State::kBusy) return;
  const SimMemoryMap::Place place = memory_.Locate(mtestStart_, mtestEnd_ - mtestStart_ + 1);
  if (place.memory == nullptr) {
    FinishAsync(kFailed);
    return;
  }
  Print("\rPattern " + Hex8(mtestPattern_).toUpper() + "  Writing..." + QString(12, ' ') +
        QString(12, '\b') + "Reading...");
  place.memory->Fill(place.offset, mtestEnd_ - mtestStart_ + 1, char(mtestPattern_ & 0xFF));
  if (options_.memErrorAddress && *options_.memErrorAddress >= mtestStart_ &&
      *options_.memErrorAddress <= mtestEnd_) {
    const quint32 expected = mtestPattern_;
    Print(QString("\nMem error @ 0x%1: found %2, expected %3\n")
              .arg(Hex8(*options_.memErrorAddress).toUpper())
              .arg(Hex8(expected ^ 0x00010000u).toUpper())
              .arg(Hex8(expected).toUpper()));
    FinishAsync(kFailed);
    return;
  }
  Flush();
  ++mtestPasses_;
  static constexpr quint32 kPatterns[] = {0x00000000u, 0xFFFFFFFFu, 0x55555555u, 0xAAAAAAAAu};
  mtestPattern_ = kPatterns[mtestPasses_ % 4];
  const quint64 epoch = epoch_;
  QTimer::singleShot(options_.mtestPassMs, this, [this, epoch] {
    if (epoch == epoch_) MtestPass();
  });
}

int BootMonitor::CmdNand(const QStringList& args) {
  if (args.size() < 2) return kUsage;
  SimMemoryMap& m = memory_;
  const quint64 nandSize = m.Nand().Size();
  const QString& sub = args[1];
  if (sub == "info") {
    Print(QString("\nDevice 0: %1NAND %2MiB 3,3V 8-bit, sector size 128 KiB\n")
              .arg(options_.nandSt ? "ST Micro " : "")
              .arg(nandSize >> 20));
    return kOk;
  }
  if (sub == "erase") {
    qsizetype i = 2;
    const bool clean = args.size() > i && args[i] == "clean";
    if (clean) ++i;
    quint64 off = 0, size = nandSize;
    const bool whole = args.size() == i;
    if (!whole) {
      if (args.size() != i + 2 || !ParseHex(args[i], &off) || !ParseHex(args[i + 1], &size))
        return kUsage;
    }
    if (whole) {
      Print("\nNAND erase: device 0 whole chip\n");
    } else {
      Print(QString("\nNAND erase: device 0 offset 0x%1, size 0x%2\n")
                .arg(off, 0, 16)
                .arg(size, 0, 16));
    }
    if (size == 0 || !m.Nand().Contains(off, size) || off % SimMemoryMap::kNandBlock ||
        size % SimMemoryMap::kNandBlock) {
      Print("nand_erase: Attempt to erase non block aligned data or outside the device\n");
      return kFailed;
    }
    m.Nand().Fill(off, size, char(0xFF));
    const quint64 lastBlock = off + size - SimMemoryMap::kNandBlock;
    Print(QString("Erasing at 0x%1 -- 100% complete.").arg(lastBlock, 0, 16));
    if (clean) Print(QString(" Cleanmarker written at 0x%1.").arg(lastBlock, 0, 16));
    Print("\nOK\n");
    return kOk;
  }
  if (sub == "write" || sub == "write.e" || sub == "write.jffs2") {
    quint64 address = 0, off = 0, size = 0;
    if (args.size() != 5 || !ParseHex(args[2], &address) || !ParseHex(args[3], &off) ||
        !ParseHex(args[4], &size))
      return kUsage;
    Print(QString("\nNAND write: device 0 offset 0x%1, size 0x%2\n")
              .arg(off, 0, 16)
              .arg(size, 0, 16));
    if (size == 0 || !m.Nand().Contains(off, size) || off % 0x800) {
      Print("nand_write: Attempt to write non page aligned data or outside the device\n");
      return kFailed;
    }
    const SimMemoryMap::Place from = m.Locate(address, size);
    if (from.memory == nullptr) {
      Print(QString("## Error: source 0x%1 is not memory\n").arg(Hex8(address)));
      return kFailed;
    }
    // NAND programming clears bits only, like NOR: writing over data that
    // was not erased leaves the AND of both.
    for (quint64 at = 0; at < size; at += kChunk) {
      const quint64 n = std::min(kChunk, size - at);
      ProgramFlash(m.Nand(), off + at, from.memory->Read(from.offset + at, n));
    }
    Print(QString(" %1 bytes written: OK\n").arg(size));
    return kOk;
  }
  if (sub == "read" || sub == "read.e" || sub == "read.jffs2") {
    quint64 address = 0, off = 0, size = 0;
    if (args.size() != 5 || !ParseHex(args[2], &address) || !ParseHex(args[3], &off) ||
        !ParseHex(args[4], &size))
      return kUsage;
    Print(
        QString("\nNAND read: device 0 offset 0x%1, size 0x%2\n").arg(off, 0, 16).arg(size, 0, 16));
    if (size == 0 || !m.Nand().Contains(off, size) || off % 0x800) {
      Print("nand_read: Attempt to read non page aligned data or outside the device\n");
      return kFailed;
    }
    const SimMemoryMap::Place to = m.Locate(address, size);
    if (to.memory == nullptr || to.area == SimMemoryMap::Area::kNor) {
      Print(QString("## Error: target 0x%1 is not RAM\n").arg(Hex8(address)));
      return kFailed;
    }
    // A faulty read may stop short and still claim the whole count.
    const quint64 stored = size - std::min(size, options_.shortNandReadBytes);
    for (quint64 at = 0; at < stored; at += kChunk) {
      const quint64 n = std::min(kChunk, stored - at);
      to.memory->Write(to.offset + at, m.Nand().Read(off + at, n));
    }
    Print(QString(" %1 bytes read: OK\n").arg(size));
    return kOk;
  }
  return kUsage;
}

void BootMonitor::ProgramFlash(SparseMemory& flash, quint64 offset, QByteArray data) {
  for (const quint64 at : options_.corruptWriteOffsets) {
    if (at >= offset && at - offset < quint64(data.size())) data[qsizetype(at - offset)] ^= 0x01;
  }
  flash.AndWrite(offset, data);
}

// "crc32 ADDRESS COUNT": the CRC-32 of a range of RAM or NOR, printed as the
// boot monitor's generation prints it.
int BootMonitor::CmdCrc32(const QStringList& args) {
  quint64 address = 0, count = 0;
  if (args.size() != 3 || !ParseHex(args[1], &address) || !ParseHex(args[2], &count)) {
    return kUsage;
  }
  const SimMemoryMap::Place place = memory_.Locate(address, count);
  if (count == 0 || place.memory == nullptr) {
    Print(QString("## Error: 0x%1 .. 0x%2 is not memory\n")
              .arg(Hex8(address), Hex8(address + count - 1)));
    return kFailed;
  }
  uint32_t crc = 0;
  for (quint64 at = 0; at < count; at += kChunk) {
    const QByteArray chunk = place.memory->Read(place.offset + at, std::min(kChunk, count - at));
    crc = Crc32(crc, chunk.constData(), size_t(chunk.size()));
  }
  // Older generations print the name in capitals, newer ones in lower case.
  const bool older = options_.monitorName == "PPCBoot" || options_.monitorVersion.startsWith("1.");
  Print(QString("%1 for %2 ... %3 ==> %4\n")
            .arg(older ? "CRC32" : "crc32", Hex8(address), Hex8(address + count - 1), Hex8(crc)));
  return kOk;
}

}  // namespace fwl
