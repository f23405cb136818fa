// Pure text rules of the boot-monitor dialogue: how a reply buffer is read as
// text, where the prompt counts, how markers, numbers, board names and NAND
// sizes are found in a reply. Kept free of I/O so they are easy to test and
// fuzz with hostile replies.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <cstdint>

namespace fwl {

inline constexpr char kPromptText[] = "=>";

// The reply as the boot monitor's text: the bytes up to the first NUL.
QByteArray ReplyText(const QByteArray& reply);

// True when `prompt` occurs in the text of `reply` at a position other than
// the first byte (a reply normally starts with the echo of the command, so
// an "=>" right at the start is a leftover, not the answer).
bool PromptAfterFirstByte(const QByteArray& reply, const QByteArray& prompt);

// True when `marker` lies wholly before the first "=>" of the reply text.
// Without any "=>" nothing is before the prompt.
bool MarkerBeforeFirstPrompt(const QByteArray& reply, const QByteArray& marker);

// Unsigned hexadecimal number after optional leading white space, stopping at
// the first non-hex character; 0 when there is none; saturates at 0xffffffff.
uint32_t ParseHexPrefix(const QByteArray& text);

// The value of "echo ${filesize}" once the echoed command line, prompts and
// line ends are taken out of the reply.
uint32_t FileSizeFromReply(const QByteArray& reply, const QByteArray& commandLine);

// What the unit answered to a size query, trimmed, with the echoed command
// line, prompts and line ends taken out. `size` is set and true returned
// only when the answer is one hexadecimal number of one to eight digits
// (optionally "0x"-prefixed, either case), nothing else: a parser that left
// the variable unexpanded, an empty variable or noise is no size.
bool FileSizeAnswer(const QByteArray& reply, const QByteArray& commandLine, QByteArray& answer,
                    uint32_t& size);

// The boot monitor's texts for a command that failed ("Zero length ???",
// "Unknown command", "## Error", ...).
const QList<QByteArray>& KnownErrorTexts();

// Position of the first known error text that lies at or after `from` in the
// reply text and is followed by a prompt: the command failed and is over.
// -1 when there is none (no error text, or its prompt has not come yet).
qsizetype ErrorReplyAt(const QByteArray& reply, qsizetype from = 0);

// A "bdinfo" value: finds `name`, then "0x" at or after it; reads up to nine
// hex digits after it when at least eleven characters remain from the "0x".
// `nameFound` tells whether `name` occurred; the result is 0 otherwise.
uint32_t BdinfoValue(const QByteArray& reply, const char* name, bool& nameFound);

// NAND size named in a "nand info" reply (16, 32, 64 or 128 MB/MiB); 0 when
// none of those occurs.
uint32_t NandSizeFromReply(const QByteArray& reply);

// Board code from a "printenv" reply; `unexpected` is set when a "board="
// with an unknown value was found.
int BoardCodeFromEnvironment(const QByteArray& reply, bool& unexpected);

// What a reply to "crc32 ADDRESS SIZE" says.
enum class Crc32Reply {
  kValue,      // a result line for exactly that range; the CRC is stored
  kNoCommand,  // the boot monitor has no such command ("Unknown command")
  kUnreadable  // anything else: no line, another range, garbage
};

// Reads the result line "crc32 for START ... END ==> CRC" (any case, any
// blanks around "..." and "==>", one or more between the words) from the
// reply text before the prompt line. START must be `address` and END
// address + size - 1; CRC has one to eight hex digits. Other forms are not
// accepted. `crc` is set only for kValue.
Crc32Reply ParseCrc32Reply(const QByteArray& reply, uint64_t address, uint64_t size, uint32_t& crc);

// Device path of a "Comport" value: a bare name lives in /dev, a path is
// used as it is.
QString ComPortDevicePath(const QString& comport);

// Leading decimal digits of a text ("9600 baud" -> 9600, "" -> 0).
int LeadingNumber(const QString& text);

}  // namespace fwl
