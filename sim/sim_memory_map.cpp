#include "sim/sim_memory_map.h"

namespace fwl {

SimMemoryMap::SimMemoryMap(const SimOptions& o)
    : dramBase_(o.dramBase),
      nvramBase_(o.nvramBase),
      norBase_(o.norBase),
      dram_(o.dramSize, 0),
      nvram_(o.nvramSize, 0),
      nor_(o.norSize, char(0xFF)),
      nand_(o.nandSize, char(0xFF)),
      protected_(o.norSize / kNorSector, false) {
  ProtectMonitorSectors();
}

SimMemoryMap::Place SimMemoryMap::Locate(quint64 address, quint64 length) {
  if (length == 0) return {};
  struct Candidate {
    Area area;
    SparseMemory* memory;
    quint64 base;
  } candidates[] = {{Area::kDram, &dram_, dramBase_},
                    {Area::kNvram, &nvram_, nvramBase_},
                    {Area::kNor, &nor_, norBase_}};
  for (const auto& c : candidates) {
    if (c.memory->Size() == 0 || address < c.base) continue;
    if (c.memory->Contains(address - c.base, length)) return {c.area, c.memory, address - c.base};
  }
  return {};
}

void SimMemoryMap::ProtectMonitorSectors() {
  for (size_t i = 0; i < protected_.size(); ++i) protected_[i] = i < 5;
}

void SimMemoryMap::PowerOff() { dram_.Clear(); }

}  // namespace fwl
