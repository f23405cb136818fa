// Read-back verification of the flash plans: the loader's CRC-32 of each
// image against the unit's, over the copy fetched into RAM and over the copy
// written into NOR or NAND flash.
#include "app/settings.h"
#include "engine/load_engine.h"

namespace fwl {
namespace {

constexpr char kSettingVerifyFlash[] = "verify flash";

constexpr char kMsgRamMismatch[] =
    "Image in memory does not match the file (CRC-32 expected %08x, found %08x).";
constexpr char kMsgFlashMismatch[] =
    "FLASH contents do not match the image (CRC-32 expected %08x, found %08x).";
constexpr char kMsgNoCrc32[] =
    "This boot monitor cannot check images (no crc32 command); load not verified.";
constexpr char kMsgUnreadableImage[] = "Unable to read firmware.";

QString Mismatch(const char* format, uint32_t expected, uint32_t found) {
  return QString::asprintf(format, unsigned(expected), unsigned(found));
}

const ImageDigest& NoDigest() {
  static const ImageDigest none;
  return none;
}

}  // namespace

bool LoadEngine::PrepareImageChecks() {
  imageDigests.clear();
  checksUnavailable_ = false;
  endingStateText_.clear();
  for (const QString& path : {fsImagePath, useBootImage ? bootImagePath : QString()}) {
    if (path.isEmpty()) continue;
    ImageDigest digest;
    DigestFile(path, digest);
    imageDigests.push_back(digest);
  }
  verifying_ = !noVerify && GetSettingInt(kSectionLoad, kSettingVerifyFlash, 1) != 0;
  return verifying_;
}

const ImageDigest& LoadEngine::FsImageDigest() const {
  return !imageDigests.empty() ? imageDigests[0] : NoDigest();
}

const ImageDigest& LoadEngine::BootImageDigest() const {
  return imageDigests.size() > 1 ? imageDigests[1] : NoDigest();
}

void LoadEngine::ReportCheck(uint32_t expected, uint32_t found, const QString& text) {
  if (!progressCallback) return;
  LoadProgressEvent event;
  event.kind = LoadProgressEvent::kUpdate;
  event.flags = LoadProgressEvent::kValid | LoadProgressEvent::kCheck;
  event.checkExpected = expected;
  event.checkFound = found;
  if (!text.isEmpty()) {
    event.flags |= LoadProgressEvent::kText;
    event.text = text;
  }
  progressCallback(event, progressUser);
}

bool LoadEngine::CheckRange(ComPort port, uint32_t address, const ImageDigest& image,
                            const char* mismatchText) {
  if (!verifying_) return true;
  if (checksUnavailable_) {
    endingStateText_ = QString::fromLatin1(kMsgNoCrc32);
    return true;
  }
  if (!image.Valid()) {
    ReportLine(QString::fromLatin1(kMsgUnreadableImage));
    return false;
  }
  // An empty image has nothing to compare; the unit's reply for a zero
  // length differs between boot monitors.
  if (image.size == 0) return true;
  uint32_t found = 0;
  switch (ChecksumMemory(port, address, uint32_t(image.size), found)) {
    case Crc32Reply::kValue:
      break;
    case Crc32Reply::kNoCommand:
      checksUnavailable_ = true;
      ReportLine(QString::fromLatin1(kMsgNoCrc32));
      endingStateText_ = QString::fromLatin1(kMsgNoCrc32);
      return true;
    case Crc32Reply::kUnreadable:
      return false;
  }
  if (found == image.crc32) {
    ReportCheck(image.crc32, found, QString());
    return true;
  }
  const QString text = Mismatch(mismatchText, image.crc32, found);
  ReportLine(text);
  ReportCheck(image.crc32, found, text);
  return false;
}

bool LoadEngine::CheckImageInRam(ComPort port, const ImageDigest& image) {
  const bool ok = CheckRange(port, tempRamAddress, image, kMsgRamMismatch);
  // A transfer step that could not be checked still ends plainly OK; only
  // the verify steps carry the reason.
  endingStateText_.clear();
  return ok;
}

bool LoadEngine::CheckNorCopy(ComPort port, uint32_t norAddress, const ImageDigest& image) {
  return CheckRange(port, norAddress, image, kMsgFlashMismatch);
}

bool LoadEngine::CheckNandCopy(ComPort port, uint32_t nandOffset, const ImageDigest& image,
                               bool jffs2) {
  if (!verifying_ || checksUnavailable_ || !image.Valid() || image.size == 0) {
    return CheckRange(port, tempRamAddress, image, kMsgFlashMismatch);
  }
  // NAND is not on the bus: the written range comes back into RAM, over
  // the image, which is no longer needed once written, and is checked
  // there. The RAM copy is overwritten first with a byte that differs from
  // the image's last one, so a read that stops short cannot pass on what
  // the fetch had left: only bytes that came out of NAND are checked.
  const uint32_t size = uint32_t(image.size);
  const uint32_t fill = uint8_t(~image.lastByte) * 0x01010101u;
  const uint32_t words = uint32_t((uint64_t{size} + 3) / 4);
  if (!FillMemoryWords(port, tempRamAddress, words, fill)) return false;
  const bool read = jffs2 ? ReadNandJffs2(port, tempRamAddress, nandOffset, size)
                          : ReadNandFile(port, tempRamAddress, nandOffset, size);
  return read && CheckRange(port, tempRamAddress, image, kMsgFlashMismatch);
}

}  // namespace fwl
