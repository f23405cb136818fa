// What a flash plan checks before it erases anything: that each image fits
// the flash it goes to, that the NOR flash it erases lies where the unit
// says its flash is, and that the unit received the whole image (its own
// file size agrees with the file's).
#include "console/reply_text.h"
#include "engine/load_engine.h"

namespace fwl {
namespace {

constexpr char kMsgUnreadableImage[] = "Unable to read firmware.";
constexpr char kMsgEmptyImage[] = "The image %1 is empty.";
constexpr char kMsgImageTooLarge[] =
    "The image %1 is %2 bytes (0x%3); at most 0x%4 bytes fit its flash region.";
constexpr char kMsgOutsideNor[] =
    "Flash range 0x%1 to 0x%2 lies outside the unit's NOR flash (0x%3 to 0x%4); nothing was "
    "erased.";
constexpr char kMsgFileSize[] = "The unit reports file size %s after the transfer, expected %x.";

// What a report can show of a unit's answer: printable ASCII, bounded.
QByteArray Printable(const QByteArray& text) {
  constexpr qsizetype kMaxShown = 80;
  QByteArray out = text.left(kMaxShown);
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e) c = '?';
  }
  if (text.size() > kMaxShown) out += "...";
  return out;
}

QString Hex(uint64_t value) { return QString::number(value, 16); }

}  // namespace

uint32_t LoadEngine::ImageBytes(const ImageDigest& image) {
  return image.Valid() && image.size <= qint64(UINT32_MAX) ? uint32_t(image.size) : 0;
}

bool LoadEngine::CheckImageSize(const ImageDigest& image, uint64_t limit) {
  const QString name = image.path.section(QLatin1Char('/'), -1);
  if (!image.Valid() || image.size > qint64(UINT32_MAX)) {
    ReportLine(QString::fromLatin1(kMsgUnreadableImage));
    return false;
  }
  if (image.size == 0) {
    ReportLine(QString::fromLatin1(kMsgEmptyImage).arg(name));
    return false;
  }
  if (uint64_t(image.size) > limit) {
    ReportLine(QString::fromLatin1(kMsgImageTooLarge)
                   .arg(name)
                   .arg(image.size)
                   .arg(Hex(uint64_t(image.size)), Hex(limit)));
    return false;
  }
  return true;
}

bool LoadEngine::CheckNorSpans(ComPort port, const std::vector<FlashSpan>& spans) {
  if (spans.empty()) return true;
  uint32_t start = 0, size = 0;
  if (!QueryBoardInfo(port, "flashstart", "flashsize", QStringLiteral("Failed to get flashstart."),
                      QStringLiteral("Failed to get flashsize."),
                      QStringLiteral("Failed to get NOR info. Message response was:"), &start,
                      size)) {
    return false;
  }
  const uint64_t bankEnd = uint64_t{start} + size;
  for (const FlashSpan& span : spans) {
    const uint64_t end = uint64_t{span.start} + span.size;
    if (span.size == 0 || span.start < start || end > bankEnd) {
      ReportLine(QString::fromLatin1(kMsgOutsideNor)
                     .arg(Hex(span.start), Hex(end - (span.size ? 1 : 0)), Hex(start),
                          Hex(bankEnd - (size ? 1 : 0))));
      return false;
    }
  }
  return true;
}

bool LoadEngine::CheckTransferredSize(ComPort port, uint32_t expected) {
  uint32_t prefix = 0;
  QByteArray answer;
  if (!GetFileSize(port, prefix, &answer)) return false;
  uint32_t size = 0;
  QByteArray trimmed;
  if (FileSizeAnswer(answer, QByteArray(), trimmed, size) && size == expected) return true;
  ReportLine(QString::asprintf(kMsgFileSize, Printable(answer).constData(), unsigned(expected)));
  return false;
}

}  // namespace fwl
