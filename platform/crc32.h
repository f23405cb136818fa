// CRC-32 as zlib and the boot monitor's "crc32" command compute it
// (reflected polynomial 0xEDB88320, initial and final XOR 0xFFFFFFFF), so a
// value computed here can be compared with what a unit prints.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fwl {

// Continues `crc` (0 to start) over `length` bytes at `data` and returns the
// new value; feeding a buffer in pieces gives the same result as in one go.
uint32_t Crc32(uint32_t crc, const void* data, size_t length);

}  // namespace fwl
