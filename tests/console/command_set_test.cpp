// Every command wrapper: the exact line it sends, the answers it accepts and
// the ones it rejects, with the failure report it gives.
#include <QDateTime>
#include <mutex>

#include "console_fixture.h"

namespace fwl::test {
namespace {

class CommandSetTest : public ConsoleTest {
 protected:
  // Answers the next command with `reply` and then the prompt.
  void Answer(const QByteArray& reply) { peer.AnswerAll(reply); }
  // Answers with exactly these bytes, prompt included or not.
  void AnswerRaw(const QByteArray& bytes) {
    peer.SetResponder([bytes](const QByteArray&) { return bytes; });
  }
  QByteArray LastLine() const { return Sent().isEmpty() ? QByteArray() : Sent().last(); }
  bool Reported(const char* heading) const {
    return lines.contains(heading) && lines.last() == "End of response.";
  }
};

TEST_F(CommandSetTest, ProtectionNeedsDoneRightBeforeThePrompt) {
  Answer("Protect Flash Bank # 1\r\n........ done\r\n");
  EXPECT_TRUE(engine.ProtectFlashOn(port));
  EXPECT_EQ(LastLine(), "protect on all");

  Answer("Protect Flash Bank # 1\r\n");
  EXPECT_FALSE(engine.ProtectFlashOn(port));
  EXPECT_TRUE(Reported("Error write protecting FLASH. Response was:"));
}

TEST_F(CommandSetTest, UnprotectCountsSixtyFourKibSectorsBeforeThePrompt) {
  Answer("Un-Protected 4 sectors\r\n");
  EXPECT_TRUE(engine.ProtectFlashOff(port, 0x40000000, 0x40000));
  EXPECT_EQ(LastLine(), "protect off 40000000 4003ffff");

  // A length that is not a multiple of 64 KiB expects the rounded-down count.
  Answer("Un-Protected 4 sectors\r\n");
  EXPECT_TRUE(engine.ProtectFlashOff(port, 0x44080000, 0x4ffff));

  lines.clear();
  AnswerRaw("\r\n=> Un-Protected 4 sectors\r\n=> ");
  EXPECT_FALSE(engine.ProtectFlashOff(port, 0x40000000, 0x40000));
  EXPECT_TRUE(Reported("Failed to un-protect FLASH memory. Message response was:"));
}

TEST_F(CommandSetTest, EraseCommandsAndTheirMarkers) {
  Answer("Erasing sector 8 ... done\r\nErased 120 sectors\r\n");
  EXPECT_TRUE(engine.EraseFlash(port, 0xf8080000, 0x780000));
  EXPECT_EQ(LastLine(), "erase f8080000 f87fffff");

  AnswerRaw("\r\nErasing\r\n=> done\r\n=> ");
  EXPECT_FALSE(engine.EraseFlash(port, 0xf8080000, 0x780000));
  EXPECT_TRUE(Reported("Failed to erase FLASH. Message response was:"));

  Answer("NAND erase: device 0 whole chip\r\nErasing at 0x7fe0000 -- 100% complete.\r\nOK\r\n");
  EXPECT_TRUE(engine.EraseNandAllClean(port));
  EXPECT_EQ(LastLine(), "nand erase clean");
  Answer("Erasing... done\r\n");
  EXPECT_TRUE(engine.EraseNandRange(port, 0x80000, 0xf80000));
  EXPECT_EQ(LastLine(), "nand erase 80000 f80000");
  Answer("OK\r\n");
  EXPECT_TRUE(engine.EraseNandCleanRange(port, 0x80000, 0xf80000));
  EXPECT_EQ(LastLine(), "nand erase clean 80000 f80000");

  lines.clear();
  Answer("Bad block\r\n");
  EXPECT_FALSE(engine.EraseNandCleanRange(port, 0x80000, 0x1000));
  EXPECT_TRUE(Reported("Failed to erase range of NAND FLASH. Message response was:"));
  lines.clear();
  Answer("Bad block\r\n");
  EXPECT_FALSE(engine.EraseNandAllClean(port));
  EXPECT_TRUE(Reported("Failed to erase NAND FLASH. Message response was:"));
}

TEST_F(CommandSetTest, NandWritesAndTheirMarkers) {
  Answer(" 3145728 bytes written: OK\r\n");
  EXPECT_TRUE(engine.WriteNandFile(port, 0x100000, 0x280000));
  EXPECT_EQ(LastLine(), "nand write.e 100000 280000 ${filesize}");

  Answer("Writing data ... done\r\n");
  EXPECT_TRUE(engine.WriteNandFile(port, 0x20100000, 0, 0x2d0000));
  EXPECT_EQ(LastLine(), "nand write.e 20100000 0 2d0000");

  // write.jffs2 only trusts "OK".
  Answer("Writing data ... done\r\n");
  EXPECT_FALSE(engine.WriteNandJffs2(port, 0x100000, 0x200000, 0x1234));
  EXPECT_EQ(LastLine(), "nand write.jffs2 100000 200000 1234");
  EXPECT_TRUE(Reported("Failed to write to NAND FLASH. Message response was:"));
  Answer("1234 bytes written: OK\r\n");
  EXPECT_TRUE(engine.WriteNandJffs2(port, 0x100000, 0x200000, 0x1234));
}

TEST_F(CommandSetTest, CopyAndFillMemory) {
  Answer("Copy to Flash... done\r\n");
  EXPECT_TRUE(engine.CopyMemory(port, 0x100000, 0xf8000000));
  EXPECT_EQ(LastLine(), "cp.b 100000 f8000000 ${filesize}");
  Answer("Copy to Flash... done\r\n");
  EXPECT_TRUE(engine.CopyMemory(port, 0x100000, 0xf8000000, 0x400));
  EXPECT_EQ(LastLine(), "cp.b 100000 f8000000 400");
  Answer("Copy to Flash... Flash not Erased\r\n");
  EXPECT_FALSE(engine.CopyMemory(port, 0x100000, 0xf8000000));
  EXPECT_TRUE(Reported("Error copying memory. Message response was:"));

  Answer("");
  EXPECT_TRUE(engine.FillMemory(port, 0x40000000, 0x80000, 0x1ff));
  EXPECT_EQ(LastLine(), "mw.b 40000000 ff 80000");
  lines.clear();
  AnswerRaw("");
  EXPECT_FALSE(engine.FillMemory(port, 0x40000000, 0x80000, 0xff));
  EXPECT_TRUE(Reported("Error setting memory. Message response was:"));
}

TEST_F(CommandSetTest, CleanMarkersTemplateThenOneCopyPerBlock) {
  Answer("");
  EXPECT_TRUE(engine.WriteCleanMarkers(port, 0x40010000, 0x1000, 3));
  EXPECT_EQ(Sent(),
            (QList<QByteArray>{"mw.w 00100000 1985", "mw.w 00100002 2003", "mw.l 00100004 0000000c",
                               "mw.l 00100008 f060dc98", "cp.l 00100000 40010000 3",
                               "cp.l 00100000 40011000 3", "cp.l 00100000 40012000 3"}));
  peer.ClearReceived();
  EXPECT_TRUE(engine.WriteCleanMarkers(port, 0x10000, 0x10000, 0));
  EXPECT_EQ(Sent().size(), 4);

  // The first missing prompt stops the sequence with its own single line.
  peer.ClearReceived();
  lines.clear();
  peer.SetResponder([](const QByteArray& line) {
    return line.startsWith("mw.l 00100008") ? QByteArray() : QByteArray("=> ");
  });
  EXPECT_FALSE(engine.WriteCleanMarkers(port, 0x10000, 0x10000, 5));
  EXPECT_EQ(Sent().size(), 4);
  EXPECT_EQ(lines, QStringList{"Failed to write all clean markers for memory erase."});
}

TEST_F(CommandSetTest, FileSizeNeedsTheEchoedCommand) {
  uint32_t size = 1;
  Answer("2d0000\r\n");
  EXPECT_TRUE(engine.GetFileSize(port, size));
  EXPECT_EQ(size, 0x2d0000u);
  EXPECT_EQ(LastLine(), "echo ${filesize}");

  peer.SetEcho(false);
  Answer("2d0000\r\n");
  EXPECT_FALSE(engine.GetFileSize(port, size));
  EXPECT_EQ(size, 0u);
  EXPECT_TRUE(Reported("Failed to get filesize variable. Message response was:"));
}

TEST_F(CommandSetTest, BoardInfoQueries) {
  const QByteArray bdinfo =
      "memstart    = 0x00000000\r\nmemsize     = 0x04000000\r\nflashstart  = 0x44000000\r\n"
      "flashsize   = 0x00800000\r\nsramstart   = 0x40000000\r\nsramsize    = 0x00080000\r\n";
  Answer(bdinfo);
  uint32_t start = 1, size = 1;
  EXPECT_TRUE(engine.GetNvramInfo(port, start, size));
  EXPECT_EQ(LastLine(), "bdinfo");
  EXPECT_EQ(start, 0x40000000u);
  EXPECT_EQ(size, 0x80000u);
  EXPECT_TRUE(engine.GetDramInfo(port, start, size));
  EXPECT_EQ(start, 0u);
  EXPECT_EQ(size, 0x4000000u);
  EXPECT_TRUE(engine.GetNorInfo(port, size));
  EXPECT_EQ(size, 0x800000u);

  // A missing start name fails but the size is still read; a missing size
  // ends the query.
  lines.clear();
  Answer("memsize     = 0x01000000\r\n");
  EXPECT_FALSE(engine.GetDramInfo(port, start, size));
  EXPECT_EQ(size, 0x1000000u);
  EXPECT_EQ(lines, QStringList{"Failed to get memstart."});
  lines.clear();
  Answer("sramstart   = 0x40000000\r\n");
  EXPECT_FALSE(engine.GetNvramInfo(port, start, size));
  EXPECT_EQ(lines, QStringList{"Failed to get sramsize."});
  lines.clear();
  Answer("memsize     = 0x01000000\r\n");
  EXPECT_FALSE(engine.GetNorInfo(port, size));
  EXPECT_EQ(lines, QStringList{"Failed to get flashsize."});

  // A value too close to the end of the reply stays 0, still a success.
  peer.SetEcho(false);
  AnswerRaw("xmemstart = 0x00000000\r\nmemsize = 0x4000=> ");
  EXPECT_TRUE(engine.GetDramInfo(port, start, size));
  EXPECT_EQ(size, 0u);

  lines.clear();
  AnswerRaw("no prompt");
  EXPECT_FALSE(engine.GetNorInfo(port, size));
  EXPECT_TRUE(Reported("Failed to get NOR info. Message response was:"));
}

TEST_F(CommandSetTest, NandSize) {
  uint32_t size = 1;
  Answer("\r\nDevice 0: NAND 128MiB 3,3V 8-bit, sector size 128 KiB\r\n");
  EXPECT_TRUE(engine.GetNandSize(port, size));
  EXPECT_EQ(size, 0x8000000u);
  EXPECT_EQ(LastLine(), "nand info");

  Answer("\r\nDevice 0: NAND 256MiB 3,3V 8-bit\r\n");
  EXPECT_TRUE(engine.GetNandSize(port, size));
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(lines, QStringList{"Expected NAND size not found. Assuming no NAND present."});

  lines.clear();
  AnswerRaw("");
  EXPECT_FALSE(engine.GetNandSize(port, size));
  EXPECT_TRUE(Reported("Failed to get NAND info. Message response was:"));
}

TEST_F(CommandSetTest, ClockIsSetToTheGivenTimeAndItsEchoAwaited) {
  std::mutex lock;
  QDateTime given;
  peer.SetResponder([&](const QByteArray& line) {
    std::lock_guard<std::mutex> guard(lock);
    return AnswerDate(line, &given);
  });
  auto unitClock = [&] {
    std::lock_guard<std::mutex> guard(lock);
    return given;
  };

  const QDateTime when(QDate(2008, 12, 11), QTime(9, 5, 7));
  EXPECT_TRUE(engine.SetClockAt(port, when));
  EXPECT_EQ(LastLine(), "date 121109052008.07");
  EXPECT_EQ(unitClock(), when);
  const QDateTime later(QDate(2031, 1, 2), QTime(23, 59, 58));
  EXPECT_TRUE(engine.SetClockAt(port, later));
  EXPECT_EQ(unitClock(), later);

  // SetClock gives the unit this computer's local time, to the second.
  const QDateTime before = QDateTime::currentDateTime().addMSecs(-999);
  EXPECT_TRUE(engine.SetClock(port));
  const QDateTime after = QDateTime::currentDateTime();
  EXPECT_GE(unitClock(), before) << unitClock().toString().toStdString();
  EXPECT_LE(unitClock(), after);
  EXPECT_TRUE(lines.isEmpty());

  // A unit that kept another time has not taken this one.
  Answer("Date: 2008-12-11 (Thursday)    Time:  9:05:08\r\n");
  EXPECT_FALSE(engine.SetClockAt(port, when));
  EXPECT_TRUE(Reported("Error Setting clock. Message response was:"));
}

TEST_F(CommandSetTest, BootMonitorNameFromVersion) {
  engine.bootMonitorName = "stale";
  Answer("\r\nU-Boot 1.1.4 (Jan  1 2008 - 00:00:00)\r\n");
  EXPECT_TRUE(engine.QueryBootMonitorName(port));
  EXPECT_EQ(engine.bootMonitorName, "U-Boot");
  EXPECT_EQ(LastLine(), "version");
  Answer("\r\nPPCBoot 2.0.0 (U-Boot compatible)\r\n");
  EXPECT_TRUE(engine.QueryBootMonitorName(port));
  EXPECT_EQ(engine.bootMonitorName, "PPCBoot");
  Answer("\r\nSomething else\r\n");
  EXPECT_TRUE(engine.QueryBootMonitorName(port));
  EXPECT_EQ(engine.bootMonitorName, "");
  AnswerRaw("U-Boot");
  EXPECT_FALSE(engine.QueryBootMonitorName(port));
  EXPECT_TRUE(Reported("Error getting boot monitor name. Message response was:"));
}

TEST_F(CommandSetTest, MemoryTestIsStoppedWithCtrlC) {
  // The unit tests until Ctrl-C, then returns to its prompt.
  peer.SetResponder([](const QByteArray& line) {
    if (line == "\x03") return QByteArray("\r\n=> ");
    return QByteArray("Testing 40000000 ... 40000008:\r\nPattern 00000000  Writing...");
  });
  EXPECT_TRUE(engine.MemoryTest(port, 0x40000000, 0x40000008));
  EXPECT_EQ(Sent(), (QList<QByteArray>{"mtest 40000000 40000008", "\x03"}));

  peer.SetResponder([](const QByteArray& line) {
    if (line == "\x03") return QByteArray("\r\n=> ");
    return QByteArray("Mem error @ 0x40000004: found 00000000, expected ffffffff\r\n");
  });
  EXPECT_FALSE(engine.MemoryTest(port, 0x40000000, 0x40000008));
  EXPECT_TRUE(Reported("Error during memory test. Message response was:"));
  EXPECT_TRUE(lines.contains("Mem error @ 0x40000004: found 00000000, expected ffffffff"));
}

TEST_F(CommandSetTest, AnUnpluggedUnitFailsEveryWrapperQuickly) {
  peer.Unplug();
  uint32_t a = 0, b = 0;
  EXPECT_FALSE(engine.EraseFlash(port, 0, 0x10000));
  EXPECT_FALSE(engine.GetNvramInfo(port, a, b));
  EXPECT_FALSE(engine.MemoryTest(port, 0, 8));
  EXPECT_TRUE(lines.contains("Error sending mtest message."));
  EXPECT_TRUE(lines.contains("Failed to erase FLASH. Message response was:"));
}

}  // namespace
}  // namespace fwl::test
