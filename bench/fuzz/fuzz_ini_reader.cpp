// libFuzzer target: the profile (INI) functions on arbitrary file contents -
// reads with small and large buffers, listings, and a write and a delete
// that must keep the rest of the file.
#include <stdlib.h>
#include <unistd.h>

#include <QString>
#include <cstdint>
#include <cstdio>

#include "platform/ini_file.h"

namespace {

const QString& ScratchFile() {
  static const QString path = [] {
    // Writes commit with a sync; on a memory file system that costs nothing.
    char name[64];
    std::snprintf(name, sizeof name, "%s/fuzz_ini_XXXXXX",
                  access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
    const int fd = mkstemp(name);
    if (fd < 0) abort();
    close(fd);
    return QString::fromLatin1(name);
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString& path = ScratchFile();
  std::FILE* file = std::fopen(path.toLocal8Bit().constData(), "wb");
  if (!file) abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) abort();
  std::fclose(file);

  // Section and key names taken from the input itself reach the odd lines.
  const QString text = QString::fromLatin1(reinterpret_cast<const char*>(data), qsizetype(size));
  const QStringList sections = fwl::GetPrivateProfileSectionNames(path);
  for (const QString& section : sections.mid(0, 4)) {
    const QStringList keys = fwl::GetPrivateProfileKeys(section, path);
    for (const QString& key : keys.mid(0, 4)) {
      fwl::GetPrivateProfileString(section, key, "d", 1, path);
      fwl::GetPrivateProfileString(section, key, "d", 1024, path);
      fwl::GetPrivateProfileInt(section, key, 7, path);
    }
  }
  fwl::GetPrivateProfileString(text.left(8), text.mid(8, 8), "", 16, path);
  fwl::GetPrivateProfileString("tftp settings", "timeout", "", 0, path);

  // A write and a delete must leave every section that was there.
  const QString section = sections.isEmpty() ? QStringLiteral("load") : sections.first();
  fwl::WritePrivateProfileString(section, "FuzzKey", "value", path);
  if (fwl::GetPrivateProfileString(section, "FuzzKey", "", 256, path) != "value") abort();
  fwl::DeletePrivateProfileKey(section, "FuzzKey", path);
  const QStringList after = fwl::GetPrivateProfileSectionNames(path);
  for (const QString& s : sections) {
    if (!after.contains(s, Qt::CaseInsensitive)) abort();
  }
  return 0;
}
