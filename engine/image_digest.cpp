#include "engine/image_digest.h"

#include <QCryptographicHash>
#include <QFile>

#include "platform/crc32.h"

namespace fwl {

bool DigestFile(const QString& path, ImageDigest& out) {
  out = ImageDigest();
  out.path = path;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  QCryptographicHash sha(QCryptographicHash::Sha256);
  uint32_t crc = 0;
  qint64 total = 0;
  QByteArray chunk(1 << 20, Qt::Uninitialized);
  for (;;) {
    const qint64 n = file.read(chunk.data(), chunk.size());
    if (n < 0) return false;
    if (n == 0) break;
    crc = Crc32(crc, chunk.constData(), size_t(n));
    sha.addData(QByteArrayView(chunk.constData(), n));
    out.lastByte = static_cast<uint8_t>(chunk[n - 1]);
    total += n;
  }
  out.size = total;
  out.crc32 = crc;
  out.sha256 = sha.result().toHex();
  return true;
}

}  // namespace fwl
