// libFuzzer target: the text rules applied to whatever a serial line
// delivers as a boot monitor's reply - prompt search, markers, numbers,
// board names, NAND sizes, crc32 results, file sizes, error replies, and the
// splitting of a reply into report lines.
#include <QByteArray>
#include <cstdint>

#include "console/reply_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray reply(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  bool found = false;
  bool unexpected = false;
  fwl::PromptAfterFirstByte(reply, "=>");
  fwl::PromptAfterFirstByte(reply, "done\r\n=>");
  fwl::MarkerBeforeFirstPrompt(reply, "done");
  fwl::MarkerBeforeFirstPrompt(reply, "Un-Protected 8 sectors");
  fwl::FileSizeFromReply(reply, "echo ${filesize}\r");
  QByteArray answer;
  uint32_t fileSize = 0;
  fwl::FileSizeAnswer(reply, "echo ${filesize}\r", answer, fileSize);
  fwl::ErrorReplyAt(reply);
  fwl::ErrorReplyAt(reply, reply.size() / 2);
  for (const char* name : {"sramstart", "sramsize", "memstart", "memsize", "flashsize"}) {
    fwl::BdinfoValue(reply, name, found);
  }
  fwl::NandSizeFromReply(reply);
  uint32_t crc = 0;
  fwl::ParseCrc32Reply(reply, 0x40200000, 0x40000, crc);
  fwl::ParseCrc32Reply(reply, 0, 0, crc);
  fwl::ParseCrc32Reply(reply, UINT64_MAX, 2, crc);
  fwl::BoardCodeFromEnvironment(reply, unexpected);
  fwl::ParseHexPrefix(reply);
  fwl::LeadingNumber(QString::fromLatin1(reply));
  return 0;
}
