// libFuzzer target: the firmware bundle reader on arbitrary file contents,
// followed by the lookups and extractions the load engines make.
#include <stdlib.h>
#include <unistd.h>

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <cstdio>

#include "catalogue/firmware_bundle.h"

namespace {

// The reader takes a path, so each input goes through one scratch file.
QString ScratchFile(const char* pattern) {
  // A memory file system keeps the per-input file writes cheap.
  QByteArray name =
      QByteArray(access("/dev/shm", W_OK) == 0 ? "/dev/shm/" : "/tmp/") + pattern + "XXXXXX";
  const int fd = mkstemp(name.data());
  if (fd < 0) abort();
  close(fd);
  return QString::fromLatin1(name);
}

const QString& InputPath() {
  static const QString path = ScratchFile("fuzz_bundle_in_");
  return path;
}

const QString& OutputPath() {
  static const QString path = ScratchFile("fuzz_bundle_out_");
  return path;
}

// Visits every node as a consumer would, following each link once.
size_t Walk(const fwl::BundleNode& node) {
  size_t count = 1 + size_t(node.name.size()) + size_t(node.label.size());
  if (node.target) count += size_t(node.target->type);
  for (const auto& child : node.children) count += Walk(*child);
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::FILE* file = std::fopen(InputPath().toLocal8Bit().constData(), "wb");
  if (!file) abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) abort();
  std::fclose(file);

  int error = 0;
  QString message;
  auto bundle = fwl::OpenBundle(InputPath(), &error, &message);
  if (!bundle) return 0;
  volatile size_t sink = Walk(bundle->Root()) + size_t(bundle->VersionString().size());
  (void)sink;
  static const quint32 kFolders[] = {0, fwl::kTagCpuNone, fwl::kTagCpuA, fwl::kTagCpuB,
                                     fwl::kTagCpuC};
  static const quint32 kFiles[] = {fwl::kTagImageBoot, fwl::kTagImage, fwl::kTagImage6,
                                   fwl::kTagNoImage};
  for (quint32 folder : kFolders) {
    for (quint32 tag : kFiles) {
      for (const QString& label : {QString(), QString(""), QStringLiteral("switchinfo.tgz")}) {
        if (const fwl::BundleNode* node = fwl::FindBundleEntry(*bundle, folder, tag, label)) {
          fwl::ExtractBundleEntry(*bundle, *node, OutputPath());
        }
      }
    }
  }
  fwl::BundleMatchesOem(*bundle, QStringLiteral(" korvid "));
  fwl::CloseBundle(bundle);
  return 0;
}
