// Checks that a unit's memories are the ones its unit type promises and that
// its NVRAM works, prepares the NVRAM for the file system and sets the clock.
#include <optional>

#include "engine/load_engine.h"

namespace fwl {

namespace {

struct Expected {
  uint32_t size = 0;
  uint32_t blockStep = 0;  // NVRAM only
};

std::optional<Expected> ExpectedNvram(const QString& text) {
  if (text == QLatin1String("512KiB")) return Expected{0x80000, 4096};
  if (text == QLatin1String("2 MiB")) return Expected{0x200000, 0x4000};
  if (text.compare(QLatin1String("None"), Qt::CaseInsensitive) == 0) return Expected{0, 0};
  return std::nullopt;
}

std::optional<Expected> ExpectedDram(const QString& text) {
  if (text == QLatin1String("16 MiB")) return Expected{0x1000000, 0};
  if (text == QLatin1String("64 MiB")) return Expected{0x4000000, 0};
  return std::nullopt;
}

std::optional<Expected> ExpectedNor(const QString& text) {
  if (text == QLatin1String("1 MiB")) return Expected{0x100000, 0};
  if (text == QLatin1String("8 MiB")) return Expected{0x800000, 0};
  return std::nullopt;
}

std::optional<Expected> ExpectedNand(const QString& text) {
  if (text == QLatin1String("0 MiB")) return Expected{0, 0};
  if (text == QLatin1String("16 MiB")) return Expected{0x1000000, 0};
  if (text == QLatin1String("128 MiB")) return Expected{0x8000000, 0};
  return std::nullopt;
}

QString Hex(uint32_t value) { return QString::number(value, 16); }
QString MiB(uint32_t value) { return QString::number(value >> 20); }

QString Mismatch(const char* memory, uint32_t expected, uint32_t found) {
  return QStringLiteral("%1 Memory size mismatch. Expected %2MiB (0x%3), found %4MiB (0x%5).")
      .arg(QLatin1String(memory), MiB(expected), Hex(expected), MiB(found), Hex(found));
}

QString FlashMismatch(const char* memory, const QString& expected, uint32_t found) {
  return QStringLiteral("%1 Memory size mismatch. Expected %2, found %3MiB (0x%4).")
      .arg(QLatin1String(memory), expected, MiB(found), Hex(found));
}

}  // namespace

bool LoadEngine::VerifyMemories(ComPort port) {
  // NVRAM: size, tests, erased contents and clean markers.
  bool nvramOk = false;
  uint32_t start = 0;
  uint32_t size = 0;
  const std::optional<Expected> nvram = ExpectedNvram(expectedNvram);
  if (expectedNvram.isEmpty()) {
    ReportLine(QStringLiteral("Expected NVRAM size unknown. Select a unit type."));
  } else if (!nvram) {
    ReportLine(QStringLiteral("Couldn't determine the NVRAM size to expect."));
  } else if (GetNvramInfo(port, start, size)) {
    nvramOk = size == nvram->size;
    if (!nvramOk) ReportLine(Mismatch("NVRAM", nvram->size, size));
  }
  if (nvramOk && size != 0) {
    nvramOk = MemoryTest(port, start, start + 8) &&
              MemoryTest(port, start + size - 8, start + size - 1) &&
              MemoryTest(port, start, start + size - 1);
    // The region is erased and marked even after a failed test; a failed
    // fill is left to show in the file system later.
    if (FillMemory(port, start, size, 0xff) &&
        !WriteCleanMarkers(port, start + 0x10000, nvram->blockStep,
                           (size - 0x10000) / nvram->blockStep)) {
      nvramOk = false;
    }
  }
  if (!nvramOk) {
    ReportLine(QStringLiteral("Failed NVRAM test."));
    return false;
  }
  ReportLine(QStringLiteral("Successfully tested %1MiB (0x%2) bytes of NVRAM starting at address "
                            "0x%3.")
                 .arg(MiB(size), Hex(size), Hex(start)));

  // DRAM: size only.
  bool result = false;
  const std::optional<Expected> dram = ExpectedDram(expectedDram);
  if (expectedDram.isEmpty()) {
    ReportLine(QStringLiteral("Expected DRAM size unknown. Select a unit type."));
  } else if (!dram) {
    ReportLine(QStringLiteral("Couldn't determine the DRAM size to expect."));
    ReportLine(QStringLiteral("Failed DRAM test."));
  } else if (!GetDramInfo(port, start, size)) {
    ReportLine(QStringLiteral("Failed DRAM test."));
  } else if (size != dram->size) {
    ReportLine(Mismatch("DRAM", dram->size, size));
    ReportLine(QStringLiteral("Failed DRAM test."));
  } else {
    ReportLine(QStringLiteral("Successfully tested %1MiB (0x%2) of DRAM starting at address 0x%3.")
                   .arg(MiB(size), Hex(size), Hex(start)));
    result = true;
  }

  if (cpuTypeRequired) {
    if (!result) return false;
    if (cpuType.isEmpty()) {
      ReportLine(QStringLiteral("CPU type unknown. Can't complete FLASH verification."));
      return false;
    }
  }

  // NOR flash.
  bool norOk = false;
  if (result) {
    const std::optional<Expected> nor = ExpectedNor(expectedNor);
    uint32_t norSize = 0;
    if (!nor) {
      ReportLine(QStringLiteral("Couldn't determine the NOR FLASH size to expect."));
    } else if (GetNorInfo(port, norSize)) {
      norOk = norSize == nor->size;
      if (norOk) {
        ReportLine(QStringLiteral("Successfully verified NOR FLASH = %1.").arg(expectedNor));
      } else {
        ReportLine(FlashMismatch("NOR FLASH", expectedNor, norSize));
      }
    }
    if (!norOk) ReportLine(QStringLiteral("Failed NOR FLASH Verification."));
  }

  // NAND flash, then the clock.
  const std::optional<Expected> nand = ExpectedNand(expectedNand);
  if (!nand) {
    ReportLine(QStringLiteral("Couldn't determine the NAND FLASH size to expect."));
    ReportLine(QStringLiteral("Failed NAND FLASH Verification."));
    return false;
  }
  uint32_t nandSize = 0;
  if (norOk && GetNandSize(port, nandSize)) {
    if (nandSize == nand->size) {
      ReportLine(QStringLiteral("Successfully verified NAND FLASH = %1.").arg(expectedNand));
      ReportLine(QStringLiteral("Setting clock..."));
      return SetClock(port);
    }
    ReportLine(FlashMismatch("NAND FLASH", expectedNand, nandSize));
  }
  ReportLine(QStringLiteral("Failed NAND FLASH Verification."));
  return false;
}

}  // namespace fwl
