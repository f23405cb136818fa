// libFuzzer target: the archiver's console output as the archive tool reads
// it - the member table of the list command, the names of the extract
// command and the check that keeps every member inside its folder.
#include <QString>
#include <cstdint>
#include <cstdlib>

#include "catalogue/archive_listing.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The tool's output is decoded as UTF-8, as the archive tool does.
  const QString output = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
  const fwl::ArchiveListing listing = fwl::ParseArchiveListing(output);
  if (!listing.valid) Check(listing.members.isEmpty());
  for (const fwl::ListedMember& member : listing.members) {
    Check(!member.name.isEmpty());
    Check(member.size >= -1);
    Check(!member.name.contains(u'\n') && !member.name.contains(u'\r'));
    fwl::MemberNameEscapes(member.name);
  }
  for (const QString& name : fwl::ParseExtractedNames(output)) fwl::MemberNameEscapes(name);
  return 0;
}
