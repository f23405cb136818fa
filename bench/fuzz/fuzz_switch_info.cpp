// libFuzzer target: a switch's information page and remote-configuration
// page as the loader reads them - the page's fields, the board they name,
// the brand, the firmware version rules and the image names chosen for the
// board.
#include <QByteArray>
#include <QString>
#include <cstdint>
#include <cstdlib>

#include "switch/switch_info.h"
#include "switch/switch_web.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray body(reinterpret_cast<const char*>(data), qsizetype(size));
  const fwl::SwitchInfo info = fwl::ParseSwitchInfo(body);
  Check(info.kvid.isEmpty() || info.kvid.startsWith(QLatin1String("kvid=")));
  for (const QString* field : {&info.kvid, &info.boardId, &info.fwRev, &info.uboot}) {
    Check(field->size() <= body.size());
  }
  const int board = fwl::BoardIndexFromId(info.boardId);
  Check(board >= fwl::kSwitchBoardUnknown && board <= fwl::kSwitchBoard9260);
  Check(fwl::SwitchOemName(info.kvid).size() <= 100);
  int major = 0;
  int minor = 0;
  fwl::FirmwareMajorMinor(info.fwRev, &major, &minor);
  fwl::SupportsEthernetOnlyLoad(info.fwRev);
  fwl::NetworkLoadingEnabled(body);

  // The page's own texts as the chosen image, for every board.
  for (int b = fwl::kSwitchBoardUnknown; b <= fwl::kSwitchBoard9260; ++b) {
    fwl::BoardFilesystemStem(b);
    fwl::BoardBootStem(b);
    fwl::BoardBundleSection(b);
    for (const QString& path :
         {info.uboot, info.fwRev, QStringLiteral("/fw/kvimage_") + info.kvid}) {
      const fwl::BoardImageNamesResult names = fwl::BoardImageNames(b, path);
      Check(!names.filesystemName.contains(u'/'));
    }
  }
  return 0;
}
