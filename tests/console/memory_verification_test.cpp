// VerifyMemories against a scripted unit: the pass and each failure branch.
#include <QDateTime>
#include <atomic>
#include <mutex>

#include "console_fixture.h"

namespace fwl::test {
namespace {

// A unit that answers the memory commands from its settings.
struct MemoryUnit {
  quint32 sramStart = 0x40000000, sramSize = 0x80000;
  quint32 memStart = 0, memSize = 0x4000000;
  quint32 flashSize = 0x800000;
  QByteArray nand = "Device 0: NAND 128MiB 3,3V 8-bit";
  QByteArray mtestFailFrom;  // mtest lines starting so report "Mem error"
  QByteArray failPrefix;     // lines starting so get no prompt
  QDateTime clock;           // the time the unit was last set to

  QByteArray Answer(const QByteArray& line) {
    auto hex = [](quint32 v) { return "0x" + QByteArray::number(v, 16).rightJustified(8, '0'); };
    if (!failPrefix.isEmpty() && line.startsWith(failPrefix)) return "";
    if (line == "\x03") return "\r\n=> ";
    if (line.startsWith("mtest")) {
      if (!mtestFailFrom.isEmpty() && line.startsWith(mtestFailFrom))
        return "Pattern 00000000  Writing...\r\nMem error @ 0x40000008\r\n";
      return "Pattern 00000000  Writing...  Reading...";
    }
    if (line == "bdinfo") {
      return "memstart    = " + hex(memStart) + "\r\nmemsize     = " + hex(memSize) +
             "\r\nflashsize   = " + hex(flashSize) + "\r\nsramstart   = " + hex(sramStart) +
             "\r\nsramsize    = " + hex(sramSize) + "\r\n=> ";
    }
    if (line == "nand info") return "\r\n" + nand + "\r\n=> ";
    if (line.startsWith("date ")) return AnswerDate(line, &clock);
    return "=> ";
  }
};

class VerifyMemoriesTest : public ConsoleTest {
 protected:
  void SetUp() override {
    ConsoleTest::SetUp();
    peer.SetResponder([this](const QByteArray& line) {
      std::lock_guard<std::mutex> lock(unitMutex);
      return unit.Answer(line);
    });
    engine.expectedNvram = "512KiB";
    engine.expectedDram = "64 MiB";
    engine.expectedNor = "8 MiB";
    engine.expectedNand = "128 MiB";
  }
  void Configure(const std::function<void(MemoryUnit&)>& change) {
    std::lock_guard<std::mutex> lock(unitMutex);
    change(unit);
  }
  QDateTime Clock() {
    std::lock_guard<std::mutex> lock(unitMutex);
    return unit.clock;
  }
  QList<QByteArray> SentStartingWith(const char* prefix) const {
    QList<QByteArray> out;
    for (const QByteArray& l : Sent())
      if (l.startsWith(prefix)) out << l;
    return out;
  }

  std::mutex unitMutex;
  MemoryUnit unit;
};

TEST_F(VerifyMemoriesTest, AMatchingUnitIsTestedPreparedAndItsClockSet) {
  const QDateTime before = QDateTime::currentDateTime().addMSecs(-999);
  EXPECT_TRUE(engine.VerifyMemories(port)) << lines.join('\n').toStdString();
  const QDateTime after = QDateTime::currentDateTime();
  EXPECT_EQ(SentStartingWith("mtest"),
            (QList<QByteArray>{"mtest 40000000 40000008", "mtest 4007fff8 4007ffff",
                               "mtest 40000000 4007ffff"}));
  EXPECT_EQ(SentStartingWith("mw.b"), QList<QByteArray>{"mw.b 40000000 ff 80000"});
  const QList<QByteArray> markers = SentStartingWith("cp.l");
  ASSERT_EQ(markers.size(), 112);
  EXPECT_EQ(markers.first(), "cp.l 00100000 40010000 3");
  EXPECT_EQ(markers.last(), "cp.l 00100000 4007f000 3");
  EXPECT_TRUE(lines.contains(
      "Successfully tested 0MiB (0x80000) bytes of NVRAM starting at address 0x40000000."));
  EXPECT_TRUE(
      lines.contains("Successfully tested 64MiB (0x4000000) of DRAM starting at address 0x0."));
  EXPECT_TRUE(lines.contains("Successfully verified NOR FLASH = 8 MiB."));
  EXPECT_TRUE(lines.contains("Successfully verified NAND FLASH = 128 MiB."));
  EXPECT_EQ(lines.last(), "Setting clock...");
  EXPECT_EQ(SentStartingWith("date").size(), 1);
  // The unit now keeps this computer's local time.
  const QDateTime clock = Clock();
  EXPECT_GE(clock, before) << clock.toString().toStdString();
  EXPECT_LE(clock, after) << clock.toString().toStdString();
}

TEST_F(VerifyMemoriesTest, AClockTheUnitDoesNotTakeFailsTheCheck) {
  Configure([](MemoryUnit& u) { u.failPrefix = "date"; });
  EXPECT_FALSE(engine.VerifyMemories(port));
  EXPECT_TRUE(lines.contains("Successfully verified NAND FLASH = 128 MiB."));
  EXPECT_TRUE(lines.contains("Error Setting clock. Message response was:"));
  EXPECT_FALSE(Clock().isValid());
}

TEST_F(VerifyMemoriesTest, NoNvramPassesWithoutTests) {
  engine.expectedNvram = "none";
  engine.expectedNand = "0 MiB";
  Configure([](MemoryUnit& u) {
    u.sramSize = 0;
    u.nand = "No NAND device found!!!";
  });
  engine.VerifyMemories(port);
  EXPECT_TRUE(SentStartingWith("mtest").isEmpty());
  EXPECT_TRUE(SentStartingWith("mw.b").isEmpty());
  EXPECT_TRUE(lines.contains(
      "Successfully tested 0MiB (0x0) bytes of NVRAM starting at address 0x40000000."));
  EXPECT_TRUE(lines.contains("Successfully verified NAND FLASH = 0 MiB."));
}

TEST_F(VerifyMemoriesTest, NvramFailures) {
  engine.expectedNvram = "";
  EXPECT_FALSE(engine.VerifyMemories(port));
  EXPECT_EQ(lines, (QStringList{"Expected NVRAM size unknown. Select a unit type.",
                                "Failed NVRAM test."}));
  lines.clear();
  engine.expectedNvram = "1 GiB";
  EXPECT_FALSE(engine.VerifyMemories(port));
  EXPECT_EQ(lines,
            (QStringList{"Couldn't determine the NVRAM size to expect.", "Failed NVRAM test."}));
  lines.clear();
  engine.expectedNvram = "2 MiB";
  EXPECT_FALSE(engine.VerifyMemories(port));
  EXPECT_EQ(lines, (QStringList{"NVRAM Memory size mismatch. Expected 2MiB (0x200000), found "
                                "0MiB (0x80000).",
                                "Failed NVRAM test."}));
  EXPECT_TRUE(SentStartingWith("mtest").isEmpty());

  // A failed test stops the tests, but the NVRAM is still erased and marked.
  lines.clear();
  peer.ClearReceived();
  engine.expectedNvram = "512KiB";
  Configure([](MemoryUnit& u) { u.mtestFailFrom = "mtest 4007fff8"; });
  EXPECT_FALSE(engine.VerifyMemories(port));
  EXPECT_EQ(SentStartingWith("mtest").size(), 2);
  EXPECT_EQ(SentStartingWith("mw.b").size(), 1);
  EXPECT_EQ(SentStartingWith("cp.l").size(), 112);
  EXPECT_EQ(lines.last(), "Failed NVRAM test.");
  EXPECT_TRUE(SentStartingWith("nand").isEmpty());

  // Clean markers that do not go through fail the NVRAM.
  lines.clear();
  Configure([](MemoryUnit& u) {
    u.mtestFailFrom.clear();
    u.failPrefix = "cp.l";
  });
  EXPECT_FALSE(engine.VerifyMemories(port));
  EXPECT_TRUE(lines.contains("Failed to write all clean markers for memory erase."));
  EXPECT_EQ(lines.last(), "Failed NVRAM test.");
}

TEST_F(VerifyMemoriesTest, DramFailuresStopBeforeAnyFlashQuery) {
  engine.expectedDram = "16 MiB";
  EXPECT_FALSE(engine.VerifyMemories(port));
  EXPECT_TRUE(
      lines.contains("DRAM Memory size mismatch. Expected 16MiB (0x1000000), found 64MiB "
                     "(0x4000000)."));
  EXPECT_TRUE(lines.contains("Failed DRAM test."));
  EXPECT_TRUE(SentStartingWith("nand").isEmpty());
  EXPECT_EQ(lines.last(), "Failed NAND FLASH Verification.");

  lines.clear();
  engine.expectedDram = "";
  EXPECT_FALSE(engine.VerifyMemories(port));
  EXPECT_TRUE(lines.contains("Expected DRAM size unknown. Select a unit type."));
  EXPECT_FALSE(lines.contains("Failed DRAM test."));

  lines.clear();
  engine.expectedDram = "32 MiB";
  engine.cpuTypeRequired = true;
  EXPECT_FALSE(engine.VerifyMemories(port));
  EXPECT_EQ(lines.mid(lines.size() - 2),
            (QStringList{"Couldn't determine the DRAM size to expect.", "Failed DRAM test."}));
}

TEST_F(VerifyMemoriesTest, CpuTypeRequiredButUnknown) {
  engine.cpuTypeRequired = true;
  EXPECT_FALSE(engine.VerifyMemories(port));
  EXPECT_EQ(lines.last(), "CPU type unknown. Can't complete FLASH verification.");
  EXPECT_TRUE(SentStartingWith("nand").isEmpty());
}

TEST_F(VerifyMemoriesTest, FlashFailures) {
  engine.expectedNor = "1 MiB";
  EXPECT_FALSE(engine.VerifyMemories(port));
  EXPECT_TRUE(
      lines.contains("NOR FLASH Memory size mismatch. Expected 1 MiB, found 8MiB "
                     "(0x800000)."));
  EXPECT_TRUE(lines.contains("Failed NOR FLASH Verification."));
  EXPECT_EQ(lines.last(), "Failed NAND FLASH Verification.");
  EXPECT_TRUE(SentStartingWith("nand").isEmpty());

  lines.clear();
  engine.expectedNor = "4 MiB";
  EXPECT_FALSE(engine.VerifyMemories(port));
  EXPECT_TRUE(lines.contains("Couldn't determine the NOR FLASH size to expect."));

  lines.clear();
  engine.expectedNor = "8 MiB";
  engine.expectedNand = "64 MiB";
  EXPECT_FALSE(engine.VerifyMemories(port));
  EXPECT_EQ(lines.mid(lines.size() - 2),
            (QStringList{"Couldn't determine the NAND FLASH size to expect.",
                         "Failed NAND FLASH Verification."}));

  lines.clear();
  engine.expectedNand = "16 MiB";
  EXPECT_FALSE(engine.VerifyMemories(port));
  EXPECT_EQ(lines.mid(lines.size() - 2),
            (QStringList{"NAND FLASH Memory size mismatch. Expected 16 MiB, found 128MiB "
                         "(0x8000000).",
                         "Failed NAND FLASH Verification."}));
  // A unit whose "nand info" names no known size matches only "0 MiB".
  lines.clear();
  Configure([](MemoryUnit& u) { u.nand = "Device 0: NAND 256MiB"; });
  EXPECT_FALSE(engine.VerifyMemories(port));
  EXPECT_TRUE(
      lines.contains("NAND FLASH Memory size mismatch. Expected 16 MiB, found 0MiB (0x0)."));
}

}  // namespace
}  // namespace fwl::test
