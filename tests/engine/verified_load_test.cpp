// Loads that check their images: the unit's crc32 over the fetched copy and
// over what was written to NOR and NAND, against the simulated unit with
// corrupted transfers, corrupted flash writes and no crc32 command at all.
#include <zlib.h>

#include "platform/crc32.h"
#include "serial_load_fixture.h"

namespace fwl::test {
namespace {

constexpr char kNoCrc32Line[] =
    "This boot monitor cannot check images (no crc32 command); load not verified.";

uint32_t ZlibCrc(const QByteArray& data) {
  return uint32_t(crc32(0L, reinterpret_cast<const Bytef*>(data.constData()), uInt(data.size())));
}

struct Check {
  int step;
  uint32_t expected;
  uint32_t found;
};

class VerifiedLoadTest : public SerialLoadTest {
 protected:
  void SetUp() override {
    SerialLoadTest::SetUp();
    SetSettingInt(kSectionLoad, "verify flash", 1);
  }

  // The check records of the load, with the step each belongs to.
  std::vector<Check> Checks() const {
    std::vector<Check> out;
    int current = -1;
    for (const LoadProgressEvent& e : events) {
      if (e.flags & LoadProgressEvent::kStepIndex) current = e.stepIndex;
      if (e.flags & LoadProgressEvent::kCheck) {
        out.push_back({current, e.checkExpected, e.checkFound});
      }
    }
    return out;
  }

  // The texts shown instead of a state word, by the step that ended.
  std::map<int, QString> StateTexts() const {
    std::map<int, QString> out;
    int current = -1;
    for (const LoadProgressEvent& e : events) {
      if (e.flags & LoadProgressEvent::kStateText) out[current] = e.stateText;
      if (e.flags & LoadProgressEvent::kStepIndex) current = e.stepIndex;
    }
    return out;
  }

  void ExpectStates(const std::vector<int>& expected) {
    EXPECT_EQ(StepStates(), expected) << lines.join('\n').toStdString();
  }
};

TEST(Crc32, MatchesZlibWholeAndInPieces) {
  EXPECT_EQ(Crc32(0, "123456789", 9), 0xCBF43926u);
  EXPECT_EQ(Crc32(0, "", 0), 0u);
  for (const qsizetype size : {qsizetype(1), qsizetype(3), qsizetype(4097), qsizetype(300001)}) {
    const QByteArray data = RandomBytes(size, quint32(size));
    EXPECT_EQ(Crc32(0, data.constData(), size_t(size)), ZlibCrc(data)) << size;
    const qsizetype half = size / 2 + 1;
    const uint32_t first = Crc32(0, data.constData(), size_t(half));
    EXPECT_EQ(Crc32(first, data.constData() + half, size_t(size - half)), ZlibCrc(data));
  }
}

TEST_F(VerifiedLoadTest, NewPlanChecksEachImageInRamAndReadsNandBack) {
  const QByteArray fs = MakeImage("kvimagea_mums3_1_5", 300000, 1);
  const QByteArray boot = MakeImage("kvimageba_mums3_1_5", 70000, 2);
  StartUnit(UnitOptions("79524"), Path("kvimagea_mums3_1_5"));

  ASSERT_EQ(engine.Run(QString()), 1) << lines.join('\n').toStdString();

  EXPECT_EQ(PlanSteps(),
            QStringList({"Transfer filesystem image", "Erase file system memory",
                         "Erase NAND Flash", "Copy NAND Flash contents", "Verify filesystem image",
                         "Transfer boot image", "Copy NAND boot contents", "Verify boot image"}));
  ExpectStates(std::vector<int>(8, 3));
  const std::vector<Check> checks = Checks();
  ASSERT_EQ(checks.size(), 4u);
  const int steps[] = {0, 4, 5, 7};
  const uint32_t crcs[] = {ZlibCrc(fs), ZlibCrc(fs), ZlibCrc(boot), ZlibCrc(boot)};
  for (size_t i = 0; i < checks.size(); ++i) {
    EXPECT_EQ(checks[i].step, steps[i]);
    EXPECT_EQ(checks[i].expected, crcs[i]);
    EXPECT_EQ(checks[i].found, crcs[i]);
  }
  EXPECT_EQ(Commands("crc32"), QStringList({"crc32 100000 493e0", "crc32 100000 493e0",
                                            "crc32 100000 11170", "crc32 100000 11170"}));
  EXPECT_EQ(Commands("nand read"),
            QStringList({"nand read.e 100000 280000 493e0", "nand read.e 100000 80000 11170"}));
  ASSERT_EQ(engine.imageDigests.size(), 2u);
  EXPECT_EQ(engine.imageDigests[0].crc32, ZlibCrc(fs));
  EXPECT_EQ(unit->ReadNand(0x280000, fs.size()), fs);
  EXPECT_EQ(unit->ReadNand(0x80000, boot.size()), boot);
}

TEST_F(VerifiedLoadTest, PpcBootChecksTheBootImageInNandAndNor) {
  const QByteArray fs = MakeImage("kvimage_razeb3_2_0", 200000, 3);
  const QByteArray boot = MakeImage("kvimageb_razeb3_2_0", 0x23456, 4);
  SimOptions o = UnitOptions("ppc855", "PPCBoot");
  o.nandSize = 0x1000000;
  StartUnit(o, Path("kvimage_razeb3_2_0"));

  ASSERT_EQ(engine.Run(QString()), 1) << lines.join('\n').toStdString();

  const QStringList plan = PlanSteps();
  ASSERT_EQ(plan.size(), 10);
  EXPECT_EQ(plan.mid(6), QStringList({"Copy NAND boot contents", "Copy NOR Flash contents",
                                      "Verify boot image", "Write clean markers"}));
  ExpectStates(std::vector<int>(10, 3));
  EXPECT_EQ(Commands("crc32 f8080000"), QStringList({"crc32 f8080000 23456"}));
  EXPECT_EQ(Checks().size(), 5u);
  EXPECT_EQ(Checks().back().found, ZlibCrc(boot));
}

TEST_F(VerifiedLoadTest, ClassicPlanChecksTheNorCopy) {
  const QByteArray fs = MakeImage("kvimagea_mums3_1_5", 150000, 5);
  SimOptions o = UnitOptions("79524");
  o.nandSize = 0;
  StartUnit(o, Path("kvimagea_mums3_1_5"));

  ASSERT_EQ(engine.Run(QString()), 1) << lines.join('\n').toStdString();

  EXPECT_EQ(PlanSteps(), QStringList({"Transfer filesystem image", "Erase file system memory",
                                      "Copy file system to memory", "Verify filesystem image",
                                      "Write clean markers"}));
  ExpectStates(std::vector<int>(5, 3));
  EXPECT_EQ(Commands("crc32"), QStringList({"crc32 100000 249f0", "crc32 44080000 249f0"}));
  EXPECT_EQ(unit->ReadNor(kFsFlashNorOffset, fs.size()), fs);
}

TEST_F(VerifiedLoadTest, CorruptedTransferStopsThePlanBeforeAnythingIsErased) {
  struct Case {
    quint64 nandSize;
    int steps;
  };
  for (const Case c : {Case{0x8000000, 8}, Case{0, 5}}) {
    SCOPED_TRACE(c.nandSize);
    const QByteArray fs = MakeImage("kvimagea_mums3_1_5", 100000, 6);
    MakeImage("kvimageba_mums3_1_5", 20000, 7);
    SimOptions o = UnitOptions("79524");
    o.nandSize = c.nandSize;
    o.corruptTransferBlocks = {3};
    StartUnit(o, Path("kvimagea_mums3_1_5"));
    const QByteArray norBefore = unit->ReadNor(0, 0x800000);
    events.clear();
    lines.clear();

    EXPECT_EQ(engine.Run(QString()), 0);

    ExpectStates(std::vector<int>(size_t(c.steps), 2));
    const std::vector<Check> checks = Checks();
    ASSERT_EQ(checks.size(), 1u);
    EXPECT_EQ(checks[0].expected, ZlibCrc(fs));
    EXPECT_NE(checks[0].found, ZlibCrc(fs));
    EXPECT_TRUE(lines.contains(
        QString::asprintf("Image in memory does not match the file (CRC-32 expected %08x, "
                          "found %08x).",
                          checks[0].expected, checks[0].found)));
    for (const char* command : {"protect", "erase", "nand erase", "nand write", "cp."}) {
      EXPECT_TRUE(Commands(command).isEmpty()) << command;
    }
    EXPECT_EQ(unit->ReadNor(0, 0x800000), norBefore);
    if (c.nandSize) {
      EXPECT_EQ(unit->ReadNand(0, 0x400000).count(char(0xFF)), 0x400000);
    }
    unit->Stop();
    unit.reset();
  }
}

TEST_F(VerifiedLoadTest, CorruptedFlashWriteFailsAtTheVerifyStepOfThatImage) {
  struct Case {
    const char* name;
    quint64 nandSize;
    quint64 offset;   // in the NAND (or NOR without NAND)
    int failingStep;  // the verify step that must fail
    int steps;
    bool resets;
  };
  const Case cases[] = {
      {"file system in NAND", 0x8000000, 0x280000 + 777, 4, 8, false},
      {"boot image in NAND", 0x8000000, 0x80000 + 5, 7, 8, false},
      {"file system in NOR", 0, kFsFlashNorOffset + 0x10001, 3, 5, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const QByteArray fs = MakeImage("kvimagea_mums3_1_5", 100000, 8);
    MakeImage("kvimageba_mums3_1_5", 20000, 9);
    SimOptions o = UnitOptions("79524");
    o.nandSize = c.nandSize;
    o.corruptWriteOffsets = {c.offset};
    StartUnit(o, Path("kvimagea_mums3_1_5"));
    events.clear();
    lines.clear();

    EXPECT_EQ(engine.Run(QString()), 0);

    std::vector<int> expected(size_t(c.steps), 2);
    for (int i = 0; i < c.failingStep; ++i) expected[size_t(i)] = 3;
    ExpectStates(expected);
    const std::vector<Check> checks = Checks();
    ASSERT_FALSE(checks.empty());
    EXPECT_EQ(checks.back().step, c.failingStep);
    EXPECT_NE(checks.back().found, checks.back().expected);
    EXPECT_TRUE(lines.contains(
        QString::asprintf("FLASH contents do not match the image (CRC-32 expected %08x, "
                          "found %08x).",
                          checks.back().expected, checks.back().found)));
    // Nothing after the failed check but the classic plan's reset.
    QStringList log = unit->CommandLog();
    if (c.resets) {
      EXPECT_EQ(log.takeLast(), "reset");
    }
    EXPECT_TRUE(log.last().startsWith("crc32")) << log.last().toStdString();
    unit->Stop();
    unit.reset();
  }
}

TEST_F(VerifiedLoadTest, NandReadThatStopsShortFailsTheVerifyStep) {
  // The read-back lands where the fetched image lay: a read that stops a
  // few bytes short and still says OK must not pass on what RAM held.
  const QByteArray fs = MakeImage("kvimagea_mums3_1_5", 100000, 18);
  MakeImage("kvimageba_mums3_1_5", 20000, 19);
  SimOptions o = UnitOptions("79524");
  o.shortNandReadBytes = 3;
  StartUnit(o, Path("kvimagea_mums3_1_5"));

  EXPECT_EQ(engine.Run(QString()), 0);

  ExpectStates({3, 3, 3, 3, 2, 2, 2, 2});
  const std::vector<Check> checks = Checks();
  ASSERT_EQ(checks.size(), 2u);
  EXPECT_EQ(checks[1].step, 4);
  EXPECT_NE(checks[1].found, ZlibCrc(fs));
  // The RAM copy was overwritten before the read, the write itself was good.
  const QStringList log = unit->CommandLog();
  const qsizetype read = log.indexOf("nand read.e 100000 280000 186a0");
  ASSERT_GT(read, 0);
  EXPECT_TRUE(log[read - 1].startsWith("mw.l 100000 ")) << log[read - 1].toStdString();
  EXPECT_TRUE(log[read - 1].endsWith(" 61a8")) << log[read - 1].toStdString();
  EXPECT_EQ(unit->ReadNand(0x280000, fs.size()), fs);
}

TEST_F(VerifiedLoadTest, BootMonitorWithoutCrc32LoadsUnverifiedAndSaysSoOnce) {
  const QByteArray fs = MakeImage("kvimagea_mums3_1_5", 100000, 10);
  const QByteArray boot = MakeImage("kvimageba_mums3_1_5", 20000, 11);
  SimOptions o = UnitOptions("79524");
  o.missingCommands = {"crc32"};
  StartUnit(o, Path("kvimagea_mums3_1_5"));

  ASSERT_EQ(engine.Run(QString()), 1) << lines.join('\n').toStdString();

  ExpectStates(std::vector<int>(8, 3));
  EXPECT_EQ(lines.count(kNoCrc32Line), 1);
  const std::map<int, QString> notes = StateTexts();
  EXPECT_EQ(notes, (std::map<int, QString>{{4, kNoCrc32Line}, {7, kNoCrc32Line}}));
  // One try, then neither crc32 nor the read-backs it would need.
  EXPECT_EQ(Commands("crc32").size(), 1);
  EXPECT_TRUE(Commands("nand read").isEmpty());
  EXPECT_EQ(unit->ReadNand(0x280000, fs.size()), fs);
  EXPECT_EQ(unit->ReadNand(0x80000, boot.size()), boot);
}

TEST_F(VerifiedLoadTest, NoVerifySendsNoCheckAndAnnouncesThePlainPlan) {
  MakeImage("kvimagea_mums3_1_5", 100000, 12);
  MakeImage("kvimageba_mums3_1_5", 20000, 13);
  StartUnit(UnitOptions("79524"), Path("kvimagea_mums3_1_5"));
  engine.noVerify = true;

  ASSERT_EQ(engine.Run(QString()), 1);

  EXPECT_EQ(PlanSteps().size(), 6);
  EXPECT_FALSE(PlanSteps().contains("Verify filesystem image"));
  EXPECT_TRUE(Commands("crc32").isEmpty());
  EXPECT_TRUE(Commands("nand read").isEmpty());
  EXPECT_TRUE(Checks().empty());
}

TEST_F(VerifiedLoadTest, ClassicTwoImagePlanReadsTheNandBackAndChecksTheNorBootCopy) {
  const QByteArray fs = MakeImage("kvimage_razeb1_5_99", 90000, 14);
  const QByteArray boot = MakeImage("kvimageb_razeb1_5_99", 40000, 15);
  StartUnit(UnitOptions("ppc855"), Path("kvimage_razeb1_5_99"));

  ASSERT_EQ(engine.Run("-NUM_TFTP=2"), 1) << lines.join('\n').toStdString();

  EXPECT_EQ(PlanSteps(), QStringList({"Transfer filesystem image", "Erase file system memory",
                                      "Copy file system to memory", "Verify filesystem image",
                                      "Transfer boot image", "Copy boot file to memory",
                                      "Verify boot image", "Write clean markers"}));
  ExpectStates(std::vector<int>(8, 3));
  EXPECT_EQ(Commands("nand read"), QStringList({"nand read.e 100000 0 15f90"}));
  EXPECT_EQ(Commands("crc32"), QStringList({"crc32 100000 15f90", "crc32 100000 15f90",
                                            "crc32 100000 9c40", "crc32 f8080000 9c40"}));
  EXPECT_EQ(Checks().size(), 4u);
  EXPECT_EQ(unit->ReadNand(0, fs.size()), fs);
}

TEST_F(VerifiedLoadTest, ACheckThatCannotBeMadeFailsItsStep) {
  struct Case {
    const char* failing;  // command prefix the unit refuses
    int failingStep;
  };
  // A refused crc32 right after the fetch fails the transfer before any
  // erase; a refused read-back fails the verify step.
  for (const Case c : {Case{"crc32", 0}, Case{"nand read", 4}}) {
    SCOPED_TRACE(c.failing);
    MakeImage("kvimagea_mums3_1_5", 50000, 16);
    MakeImage("kvimageba_mums3_1_5", 20000, 17);
    SimOptions o = UnitOptions("79524");
    o.failCommands = {c.failing};
    StartUnit(o, Path("kvimagea_mums3_1_5"));
    events.clear();
    lines.clear();

    EXPECT_EQ(engine.Run(QString()), 0);

    std::vector<int> expected(8, 2);
    for (int i = 0; i < c.failingStep; ++i) expected[size_t(i)] = 3;
    ExpectStates(expected);
    EXPECT_TRUE(unit->CommandLog().last().startsWith(c.failing));
    // A refused crc32 leaves no check; a refused read-back leaves only the
    // check of the fetched copy in RAM (step 0): the flash copy is never
    // judged from RAM that was not read back into.
    const std::vector<Check> checks = Checks();
    if (c.failingStep == 0) {
      EXPECT_TRUE(checks.empty());
    } else {
      ASSERT_EQ(checks.size(), 1u);
      EXPECT_EQ(checks[0].step, 0);
    }
    if (c.failingStep == 0) {
      EXPECT_TRUE(lines.contains("Failed to check memory. Message response was:"));
      EXPECT_TRUE(Commands("erase").isEmpty());
    }
    unit->Stop();
    unit.reset();
  }
}

}  // namespace
}  // namespace fwl::test
