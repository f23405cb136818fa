// The unit's memories as the boot monitor addresses them: DRAM, NVRAM and
// NOR flash on the bus (NOR in 64 KiB sectors with write protection), and
// NAND flash reached only through the "nand" commands.
#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <vector>

#include "sim/sim_options.h"
#include "sim/sparse_memory.h"

namespace fwl {

class SimMemoryMap {
 public:
  static constexpr quint32 kNorSector = 0x10000;
  static constexpr quint32 kNandBlock = 0x20000;

  enum class Area { kNone, kDram, kNvram, kNor };
  struct Place {
    Area area = Area::kNone;
    SparseMemory* memory = nullptr;
    quint64 offset = 0;  // from the start of the area
  };

  explicit SimMemoryMap(const SimOptions& options);

  // The area holding the whole range [address, address + length), or kNone
  // when the range is empty, unmapped or straddles two areas.
  Place Locate(quint64 address, quint64 length);

  quint32 DramBase() const { return dramBase_; }
  quint32 NvramBase() const { return nvramBase_; }
  quint32 NorBase() const { return norBase_; }
  SparseMemory& Dram() { return dram_; }
  SparseMemory& Nvram() { return nvram_; }
  SparseMemory& Nor() { return nor_; }
  SparseMemory& Nand() { return nand_; }

  int NorSectorCount() const { return int(protected_.size()); }
  bool SectorProtected(int sector) const { return protected_[size_t(sector)]; }
  void SetSectorProtected(int sector, bool on) { protected_[size_t(sector)] = on; }
  // Protection as the boot monitor sets it at power-on: its own sectors
  // (code and environment, the first 0x50000 bytes) protected, the rest not.
  void ProtectMonitorSectors();

  // Power off: DRAM loses its contents; NVRAM and flash keep theirs.
  void PowerOff();

 private:
  quint32 dramBase_, nvramBase_, norBase_;
  SparseMemory dram_, nvram_, nor_, nand_;
  std::vector<bool> protected_;
};

}  // namespace fwl
