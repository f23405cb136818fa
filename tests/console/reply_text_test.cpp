// Text rules applied to boot-monitor replies, including hostile replies.
#include "console/reply_text.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include "engine/load_engine.h"

namespace fwl {
namespace {

TEST(ReplyTextTest, PromptCountsOnlyAfterTheFirstByteAndBeforeAnyNul) {
  EXPECT_FALSE(PromptAfterFirstByte("=> ", "=>"));
  EXPECT_TRUE(PromptAfterFirstByte("=> version\r\nU-Boot\r\n=> ", "=>"));
  EXPECT_TRUE(PromptAfterFirstByte("x=>", "=>"));
  EXPECT_FALSE(PromptAfterFirstByte(QByteArray("reply\0=> ", 9), "=>"));
  EXPECT_FALSE(PromptAfterFirstByte("", "=>"));
  EXPECT_TRUE(PromptAfterFirstByte("erase\r\n done\r\n=> ", "done\r\n=>"));
  EXPECT_FALSE(PromptAfterFirstByte("erase\r\n done\n=> ", "done\r\n=>"));
}

TEST(ReplyTextTest, MarkerMustEndBeforeTheFirstPrompt) {
  EXPECT_TRUE(MarkerBeforeFirstPrompt("protect off\r\nUn-Protected 4 sectors\r\n=> ",
                                      "Un-Protected 4 sectors"));
  EXPECT_FALSE(MarkerBeforeFirstPrompt("protect off\r\n=> Un-Protected 4 sectors\r\n=> ",
                                       "Un-Protected 4 sectors"));
  // Overlapping the prompt is not "before" it.
  EXPECT_FALSE(MarkerBeforeFirstPrompt("erase\r\ndon=>e", "done"));
  EXPECT_FALSE(MarkerBeforeFirstPrompt("=> done", "done"));
  EXPECT_FALSE(MarkerBeforeFirstPrompt("done, but no prompt", "done"));
  EXPECT_FALSE(MarkerBeforeFirstPrompt(QByteArray("erase\0done\r\n=> ", 15), "done"));
}

TEST(ReplyTextTest, FileSizeIgnoresEchoPromptsAndLineEnds) {
  const QByteArray cmd = "echo $(filesize)\r";
  EXPECT_EQ(FileSizeFromReply("echo $(filesize)\r\n1a2b3c\r\n=> ", cmd), 0x1a2b3cu);
  EXPECT_EQ(FileSizeFromReply("=> echo $(filesize)\r\n  ff\r\n=> ", cmd), 0xffu);
  EXPECT_EQ(FileSizeFromReply("echo $(filesize)\r\n\r\n=> ", cmd), 0u);
  EXPECT_EQ(FileSizeFromReply("echo $(filesize)\r\nzz\r\n=> ", cmd), 0u);
  EXPECT_EQ(FileSizeFromReply("echo $(filesize)\r\nfffffffffff\r\n=> ", cmd), 0xffffffffu);
}

TEST(ReplyTextTest, FileSizeAnswerIsOneHexNumberOrNoSize) {
  const QByteArray cmd = "echo ${filesize}\r";
  struct Case {
    QByteArray reply;
    bool isSize;
    uint32_t size;
    QByteArray answer;
  };
  const Case cases[] = {
      {"echo ${filesize}\r\n1a2b3c\r\n=> ", true, 0x1a2b3c, "1a2b3c"},
      // Older boot monitors set the variable in capitals.
      {"=> echo ${filesize}\r\n 493E0 \r\n=> ", true, 0x493e0, "493E0"},
      {"echo ${filesize}\r\n0x10\r\n=> ", true, 0x10, "0x10"},
      // A parser that did not expand, an unset variable, noise, too many digits.
      {"echo ${filesize}\r\n$(filesize)\r\n=> ", false, 0, "$(filesize)"},
      {"echo ${filesize}\r\n\r\n=> ", false, 0, ""},
      {"echo ${filesize}\r\n12 34\r\n=> ", false, 0, "12 34"},
      {"echo ${filesize}\r\n123456789\r\n=> ", false, 0, "123456789"},
      {"echo ${filesize}\r\n0x\r\n=> ", false, 0, "0x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply.toStdString());
    QByteArray answer;
    uint32_t size = 7;
    EXPECT_EQ(FileSizeAnswer(c.reply, cmd, answer, size), c.isSize);
    EXPECT_EQ(answer, c.answer);
    if (c.isSize) {
      EXPECT_EQ(size, c.size);
    }
  }
}

TEST(ReplyTextTest, ErrorReplyCountsOnceItsPromptFollows) {
  for (const QByteArray& error : KnownErrorTexts()) {
    SCOPED_TRACE(error.toStdString());
    const QByteArray reply = "cp.b 100000 44080000 0\r\n" + error + " x\r\n";
    EXPECT_EQ(ErrorReplyAt(reply), -1);  // the command may still be printing
    EXPECT_EQ(ErrorReplyAt(reply + "=> "), 24);
  }
  // Nothing to find in a good reply, before the echo's end, or after a NUL.
  EXPECT_EQ(ErrorReplyAt("cp.b 1 2 3\r\nCopy to Flash... done\r\n=> "), -1);
  const QByteArray echoed = "setenv msg Error: x\r\n=> ";
  EXPECT_EQ(ErrorReplyAt(echoed), 11);
  EXPECT_EQ(ErrorReplyAt(echoed, 19), -1);
  EXPECT_EQ(ErrorReplyAt(QByteArray("x\0Zero length ???\r\n=> ", 22)), -1);
  // The earliest error text is the one named.
  EXPECT_EQ(ErrorReplyAt("x\r\n## Error: y\r\n=> "), 3);
}

TEST(ReplyTextTest, BdinfoValueNeedsElevenCharactersFromItsHexPrefix) {
  const QByteArray reply =
      "bdinfo\r\nmemstart    = 0x00000000\r\nmemsize     = 0x04000000\r\n"
      "flashsize   = 0x00800000\r\nsramstart   = 0x40000000\r\nsramsize    = 0x00080000\r\n=> ";
  bool found = false;
  EXPECT_EQ(BdinfoValue(reply, "memsize", found), 0x4000000u);
  EXPECT_TRUE(found);
  EXPECT_EQ(BdinfoValue(reply, "sramstart", found), 0x40000000u);
  EXPECT_EQ(BdinfoValue(reply, "flashsize", found), 0x800000u);
  EXPECT_EQ(BdinfoValue(reply, "nothing", found), 0u);
  EXPECT_FALSE(found);
  // Ends less than eleven characters after its "0x": found, value 0.
  EXPECT_EQ(BdinfoValue("memsize = 0x400000\r\n", "memsize", found), 0u);
  EXPECT_TRUE(found);
  EXPECT_EQ(BdinfoValue("memsize = 0x04000000\r\n", "memsize", found), 0x4000000u);
  EXPECT_EQ(BdinfoValue("memsize = nothing here", "memsize", found), 0u);
}

TEST(ReplyTextTest, NandSizeTakesTheFirstKnownSizeInTableOrder) {
  EXPECT_EQ(NandSizeFromReply("Device 0: NAND 128MiB 3,3V 8-bit, sector size 128 KiB"), 0x8000000u);
  EXPECT_EQ(NandSizeFromReply("Device 0: NAND 16 MiB"), 0x1000000u);
  EXPECT_EQ(NandSizeFromReply("Device 0: NAND 32MB"), 0x2000000u);
  EXPECT_EQ(NandSizeFromReply("Device 0: NAND 64 MB"), 0x4000000u);
  EXPECT_EQ(NandSizeFromReply("Device 0: NAND 256 MiB"), 0u);
  EXPECT_EQ(NandSizeFromReply("No NAND device found!!!"), 0u);
  EXPECT_EQ(NandSizeFromReply(QByteArray("\0 64 MiB", 8)), 0u);
}

TEST(ReplyTextTest, BoardCodes) {
  bool unexpected = true;
  EXPECT_EQ(
      BoardCodeFromEnvironment("stdin=serial\r\nboard=KORVID kvni9260 rev B\r\n=>", unexpected),
      kBoardArm9);
  EXPECT_FALSE(unexpected);
  EXPECT_EQ(
      BoardCodeFromEnvironment("printenv\r\nboard=KORVID KVNI855T\r\nstdin=serial\r\n", unexpected),
      kBoardPowerPc855T);
  EXPECT_EQ(BoardCodeFromEnvironment("printenv\r\nboard=KORVID kvni79524\r\n", unexpected),
            kBoardKvni79524);
  // No "board=" at all: the 855T board, if the listing has "stdin=".
  EXPECT_EQ(BoardCodeFromEnvironment("printenv\r\nstdin=serial\r\n", unexpected),
            kBoardPowerPc855T);
  EXPECT_EQ(BoardCodeFromEnvironment("printenv\r\nbaudrate=9600\r\n", unexpected), kBoardUnknown);
  EXPECT_FALSE(unexpected);
  EXPECT_EQ(BoardCodeFromEnvironment("stdin=serial\r\nboard=KORVID KVNI855T\r\n", unexpected),
            kBoardUnknown);  // "stdin=" only at the first byte does not count
  EXPECT_EQ(BoardCodeFromEnvironment("printenv\r\nboard=OTHER x\r\nstdin=serial\r\n", unexpected),
            kBoardUnknown);
  EXPECT_TRUE(unexpected);
}

TEST(ReplyTextTest, ComPortAndNumbers) {
  EXPECT_EQ(ComPortDevicePath("ttyUSB0"), "/dev/ttyUSB0");
  EXPECT_EQ(ComPortDevicePath("/dev/pts/3"), "/dev/pts/3");
  EXPECT_EQ(LeadingNumber("9600"), 9600);
  EXPECT_EQ(LeadingNumber("115200 baud"), 115200);
  EXPECT_EQ(LeadingNumber("baud"), 0);
  EXPECT_EQ(LeadingNumber(""), 0);
  EXPECT_EQ(LeadingNumber("99999999999999"), 0x7fffffff);
}

// Whatever the line carries, the rules neither crash nor read past the reply
// (the sanitizers watch that) and their answers stay within what they can be.
TEST(ReplyTextTest, HostileRepliesGiveBoundedAnswers) {
  QByteArray noise;
  quint32 x = 12345;
  for (int i = 0; i < 20000; ++i) {
    x = x * 1103515245u + 12345u;
    // No NUL bytes, so the whole of it is text the rules must walk.
    noise += static_cast<char>((x >> 24) | 1);
  }
  const QList<QByteArray> replies = {noise,
                                     QByteArray(12000, '\0'),
                                     QByteArray(12000, '='),
                                     QByteArray(12000, '>'),
                                     QByteArray("0x"),
                                     QByteArray("memsize0x"),
                                     QByteArray(9999, 'f')};
  const QList<uint32_t> nandSizes = {0u, 0x1000000u, 0x2000000u, 0x4000000u, 0x8000000u};
  const QList<int> boards = {kBoardUnknown, kBoardPowerPc855T, kBoardKvni79524, kBoardArm9};
  for (const QByteArray& r : replies) {
    SCOPED_TRACE(r.left(16).toHex().toStdString());
    // The prompt rule agrees with a plain search of the text after byte one.
    EXPECT_EQ(PromptAfterFirstByte(r, "=>"), ReplyText(r).indexOf("=>", 1) > 0);
    EXPECT_TRUE(nandSizes.contains(NandSizeFromReply(r)));
    bool unexpected = false;
    EXPECT_TRUE(boards.contains(BoardCodeFromEnvironment(r, unexpected)));
    bool found = true;
    const uint32_t value = BdinfoValue(r, "memsize", found);
    if (!found) {
      EXPECT_EQ(value, 0u);
    }
  }

  // Nothing but NULs: no text at all.
  const QByteArray zeros(12000, '\0');
  bool found = true;
  bool unexpected = true;
  EXPECT_FALSE(PromptAfterFirstByte(zeros, "=>"));
  EXPECT_FALSE(MarkerBeforeFirstPrompt(zeros, "done"));
  EXPECT_EQ(FileSizeFromReply(zeros, "echo $(filesize)\r"), 0u);
  EXPECT_EQ(BdinfoValue(zeros, "memsize", found), 0u);
  EXPECT_FALSE(found);
  EXPECT_EQ(BoardCodeFromEnvironment(zeros, unexpected), kBoardUnknown);
  EXPECT_FALSE(unexpected);

  // "=" without ">" is no prompt; a flood of hex digits saturates.
  EXPECT_FALSE(PromptAfterFirstByte(QByteArray(12000, '='), "=>"));
  EXPECT_FALSE(MarkerBeforeFirstPrompt(QByteArray(12000, '='), "=="));
  EXPECT_EQ(FileSizeFromReply(QByteArray(9999, 'f'), "echo $(filesize)\r"), 0xffffffffu);
  EXPECT_EQ(ParseHexPrefix(QByteArray(9999, 'f')), 0xffffffffu);

  // A name whose "0x" ends the reply: found, but no value to read.
  EXPECT_EQ(BdinfoValue("memsize0x", "memsize", found), 0u);
  EXPECT_TRUE(found);
  EXPECT_EQ(BdinfoValue(QByteArray(11990, ' ') + "memsize = 0x", "memsize", found), 0u);
  EXPECT_TRUE(found);
  EXPECT_EQ(BdinfoValue("0x", "memsize", found), 0u);
  EXPECT_FALSE(found);
}

}  // namespace
}  // namespace fwl

namespace fwl {
namespace {

struct Crc32Case {
  const char* reply;
  Crc32Reply expected;
  uint32_t crc;
};

TEST(Crc32ReplyTest, AcceptsTheResultLineOfBothGenerationsForTheAskedRangeOnly) {
  constexpr uint64_t kAt = 0x40200000, kSize = 0x40000;
  const Crc32Case cases[] = {
      // Transcripts as boot monitors print them, with the echo and the prompt.
      {"crc32 40200000 40000\r\nCRC32 for 40200000 ... 4023ffff ==> 9f346b6c\r\n=> ",
       Crc32Reply::kValue, 0x9f346b6c},
      {"crc32 40200000 40000\r\ncrc32 for 40200000 ... 4023ffff ==> 9f346b6c\r\n=> ",
       Crc32Reply::kValue, 0x9f346b6c},
      {"=> crc32 40200000 40000\r\nCrC32   FOR\t40200000...4023FFFF==>9F346B6C  \r\n=> ",
       Crc32Reply::kValue, 0x9f346b6c},
      {"crc32 40200000 40000\r\nCRC32 for 40200000 ... 4023ffff ==> 6c\n=> ", Crc32Reply::kValue,
       0x6c},
      // Another range, a second line after the prompt, or the range of a
      // stale reply: not this answer.
      {"x\r\nCRC32 for 40200000 ... 4024ffff ==> 9f346b6c\r\n=> ", Crc32Reply::kUnreadable, 0},
      {"x\r\n=> \r\nCRC32 for 40200000 ... 4023ffff ==> 9f346b6c\r\n=> ", Crc32Reply::kUnreadable,
       0},
      // Not the form: prefixes, extra words, too many digits, missing parts.
      {"x\r\nCRC32 for 0x40200000 ... 0x4023ffff ==> 0x9f346b6c\r\n=> ", Crc32Reply::kUnreadable,
       0},
      {"x\r\nCRC32 for 40200000 ... 4023ffff ==> 9f346b6c (ok)\r\n=> ", Crc32Reply::kUnreadable, 0},
      {"x\r\nCRC32 for 40200000 ... 4023ffff ==> 19f346b6c\r\n=> ", Crc32Reply::kUnreadable, 0},
      {"x\r\nCRC32 for 40200000 ... 4023ffff ==>\r\n=> ", Crc32Reply::kUnreadable, 0},
      {"x\r\nCRC32for 40200000 ... 4023ffff ==> 9f346b6c\r\n=> ", Crc32Reply::kUnreadable, 0},
      {"x\r\nCRC32 for 40200000 .. 4023ffff ==> 9f346b6c\r\n=> ", Crc32Reply::kUnreadable, 0},
      {"x\r\nCRC32 for 40200000 ... 4023ffff => 9f346b6c\r\n=> ", Crc32Reply::kUnreadable, 0},
      {"x\r\nCRC for 40200000 ... 4023ffff ==> 9f346b6c\r\n=> ", Crc32Reply::kUnreadable, 0},
      {"x\r\n## Error: 'crc32' failed\r\n=> ", Crc32Reply::kUnreadable, 0},
      {"", Crc32Reply::kUnreadable, 0},
      // A boot monitor without the command.
      {"crc32 40200000 40000\r\nUnknown command 'crc32' - try 'help'\r\n=> ",
       Crc32Reply::kNoCommand, 0},
      {"crc32 40200000 40000\r\nunknown command 'crc32' - try 'help' without arguments\r\n=> ",
       Crc32Reply::kNoCommand, 0},
  };
  for (const Crc32Case& c : cases) {
    SCOPED_TRACE(c.reply);
    uint32_t crc = 0x12345678;
    EXPECT_EQ(ParseCrc32Reply(c.reply, kAt, kSize, crc), c.expected);
    EXPECT_EQ(crc, c.expected == Crc32Reply::kValue ? c.crc : 0x12345678u);
  }
}

TEST(Crc32ReplyTest, HostileRepliesAreRefusedInBoundedTime) {
  uint32_t crc = 0;
  // A NUL ends the text; what follows it is not read.
  EXPECT_EQ(ParseCrc32Reply(QByteArray("x\r\n\0CRC32 for 0 ... f ==> 1\r\n=> ", 31), 0, 16, crc),
            Crc32Reply::kUnreadable);
  // Endless digits, blanks and dots, a reply of 10,000 "=" and ">".
  const QByteArray digits = "x\r\nCRC32 for " + QByteArray(9000, '4') + " ... 0 ==> 1\r\n=> ";
  EXPECT_EQ(ParseCrc32Reply(digits, 0, 16, crc), Crc32Reply::kUnreadable);
  const QByteArray blanks = "x\r\nCRC32" + QByteArray(9000, ' ') + "for 0 ... f ==> 1\r\n=> ";
  EXPECT_EQ(ParseCrc32Reply(blanks, 0, 16, crc), Crc32Reply::kValue);
  EXPECT_EQ(ParseCrc32Reply(QByteArray(10000, '='), 0, 16, crc), Crc32Reply::kUnreadable);
  QByteArray noise(10000, '\0');
  for (int i = 0; i < noise.size(); ++i) noise[i] = char((i * 7919) % 251 + 1);
  EXPECT_NE(ParseCrc32Reply(noise, 0, 16, crc), Crc32Reply::kValue);
  // A range at the top of the 64-bit space does not wrap into a match.
  EXPECT_EQ(ParseCrc32Reply("x\nCRC32 for ffffffffffffffff ... 0 ==> 1\n=> ", 0xffffffffffffffffull,
                            2, crc),
            Crc32Reply::kUnreadable);
  EXPECT_EQ(ParseCrc32Reply("x\nCRC32 for 0 ... ffffffffffffffff ==> 1\n=> ", 0, 0, crc),
            Crc32Reply::kUnreadable);

  // Replies far beyond any reply buffer, shaped to make a scan that goes
  // back over what it has read (or copies the rest of the text per line)
  // quadratic: 2 MiB is read in milliseconds when the parse is linear and
  // would take minutes when it is not, so the bound leaves a margin of
  // hundreds either way and cannot fail on a slow or busy machine.
  constexpr int kBig = 2 << 20;
  QByteArray manyLines;
  while (manyLines.size() < kBig) manyLines += "CRC32 for 0 ... \r\n";
  QByteArray longLine = "x\r\nCRC32 for ";
  longLine += QByteArray(kBig, ' ');
  longLine += "0 ... f ==> 1\r\n=> ";
  const QByteArray hostile[] = {manyLines, longLine, QByteArray(kBig, '\n'),
                                "x\r\nCRC32 for " + QByteArray(kBig, '4') + "\r\n=> "};
  QElapsedTimer clock;
  clock.start();
  for (const QByteArray& reply : hostile) {
    EXPECT_NE(ParseCrc32Reply(reply, 0x1000, 16, crc), Crc32Reply::kValue);
  }
  EXPECT_LT(clock.elapsed(), 15000);
}

}  // namespace
}  // namespace fwl
