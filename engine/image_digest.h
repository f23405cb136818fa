// What the loader knows of an image file before it sends it: its size, the
// CRC-32 a unit can compute over the copy it received or wrote, and the
// SHA-256 kept in the load record.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace fwl {

struct ImageDigest {
  QString path;
  qint64 size = -1;      // -1 when the file could not be read
  uint32_t crc32 = 0;    // zlib's CRC-32 of the whole file
  QByteArray sha256;     // lower-case hex
  uint8_t lastByte = 0;  // the file's last byte (0 for an empty file)
  bool Valid() const { return size >= 0; }
};

// Reads `path` once and fills `out` (path always; the rest only on success).
// False when the file cannot be opened or read to its end.
bool DigestFile(const QString& path, ImageDigest& out);

}  // namespace fwl
