// Complete loads into units with either command parser, and the checks a
// plan makes before it erases anything: a size query that is no number, a
// NOR region outside the unit's flash, an error reply that must not hold the
// load for its command's time-out.
#include <QElapsedTimer>

#include "serial_load_fixture.h"

namespace fwl::test {
namespace {

class PlanChecksTest : public SerialLoadTest {
 protected:
  void SetUp() override {
    SerialLoadTest::SetUp();
    SetSettingInt(kSectionLoad, "verify flash", 1);
  }

  // Commands that change flash, none of which may run before the checks.
  void ExpectNothingErasedOrWritten() {
    for (const char* command : {"protect", "erase", "nand erase", "nand write", "cp."}) {
      EXPECT_TRUE(Commands(command).isEmpty()) << command;
    }
  }
};

struct ParserCase {
  bool hush;
  quint64 nandSize;  // 0: the classic plan into NOR
};

TEST_F(PlanChecksTest, CompleteLoadWithEitherParserWritesTheImagesAndNothingElse) {
  for (const ParserCase c : {ParserCase{false, 0x8000000}, ParserCase{true, 0x8000000},
                             ParserCase{false, 0}, ParserCase{true, 0}}) {
    SCOPED_TRACE(std::string(c.hush ? "hush" : "simple") + (c.nandSize ? " NAND" : " NOR"));
    const QByteArray fs = MakeImage("kvimagea_mums3_1_5", 300001, 21);
    const QByteArray boot = MakeImage("kvimageba_mums3_1_5", 70001, 22);
    SimOptions o = UnitOptions("79524");
    o.hushParser = c.hush;
    o.nandSize = c.nandSize;
    StartUnit(o, Path("kvimagea_mums3_1_5"));
    const QByteArray norBefore = unit->ReadNor(0, 0x800000);
    events.clear();
    lines.clear();

    ASSERT_EQ(engine.Run(QString()), 1) << lines.join('\n').toStdString();

    for (const QString& command : unit->CommandLog()) {
      EXPECT_FALSE(command.contains("$(")) << command.toStdString();
    }
    const QByteArray nor = unit->ReadNor(0, 0x800000);
    EXPECT_EQ(nor.left(int(kFsFlashNorOffset)), norBefore.left(int(kFsFlashNorOffset)));
    if (c.nandSize) {
      EXPECT_EQ(unit->ReadNand(0x280000, quint64(fs.size())), fs);
      EXPECT_EQ(unit->ReadNand(0x80000, quint64(boot.size())), boot);
      // Only the boot region of the NOR was erased; nothing written there.
      EXPECT_EQ(nor.mid(int(kFsFlashNorOffset), 0x40000), QByteArray(0x40000, char(0xFF)));
      EXPECT_EQ(nor.mid(int(kFsFlashNorOffset) + 0x40000),
                norBefore.mid(int(kFsFlashNorOffset) + 0x40000));
    } else {
      EXPECT_EQ(nor.mid(int(kFsFlashNorOffset), fs.size()), fs);
    }
    unit->Stop();
    unit.reset();
  }
}

TEST_F(PlanChecksTest, SizeQueryWithoutANumberStopsThePlanBeforeAnythingIsErased) {
  for (const quint64 nandSize : {quint64(0x8000000), quint64(0)}) {
    SCOPED_TRACE(nandSize);
    MakeImage("kvimagea_mums3_1_5", 100000, 23);
    MakeImage("kvimageba_mums3_1_5", 20000, 24);
    SimOptions o = UnitOptions("79524");
    o.nandSize = nandSize;
    o.missingCommands = {"echo"};
    StartUnit(o, Path("kvimagea_mums3_1_5"));
    const QByteArray norBefore = unit->ReadNor(0, 0x800000);
    events.clear();
    lines.clear();

    EXPECT_EQ(engine.Run(QString()), 0);

    EXPECT_TRUE(
        lines.contains("The unit reports file size Unknown command 'echo' - try 'help' "
                       "after the transfer, expected 186a0."))
        << lines.join('\n').toStdString();
    const std::vector<int> states = StepStates();
    ASSERT_FALSE(states.empty());
    EXPECT_EQ(states, std::vector<int>(states.size(), 2));
    ExpectNothingErasedOrWritten();
    EXPECT_EQ(unit->ReadNor(0, 0x800000), norBefore);
    if (nandSize) {
      EXPECT_EQ(unit->ReadNand(0, 0x400000).count(char(0xFF)), 0x400000);
    }
    unit->Stop();
    unit.reset();
  }
}

TEST_F(PlanChecksTest, NorRegionOutsideTheUnitsFlashIsNeitherFetchedForNorErased) {
  MakeImage("kvimagea_mums3_1_5", 100000, 25);
  SimOptions o = UnitOptions("79524");
  o.nandSize = 0;
  o.norBase = 0x45000000;  // the classic plan's region lies at 0x44080000
  StartUnit(o, Path("kvimagea_mums3_1_5"));

  EXPECT_EQ(engine.Run(QString()), 0);

  EXPECT_TRUE(
      lines.contains("Flash range 0x44080000 to 0x447fffff lies outside the unit's NOR "
                     "flash (0x45000000 to 0x457fffff); nothing was erased."))
      << lines.join('\n').toStdString();
  EXPECT_EQ(StepStates(), std::vector<int>(5, 2));
  EXPECT_TRUE(Commands("tftp").isEmpty());
  ExpectNothingErasedOrWritten();
}

TEST_F(PlanChecksTest, ErrorReplyEndsTheLoadInsteadOfItsCommandsTimeOut) {
  // The time-outs a unit needs: a copy may take minutes.
  engine.timings = ConsoleTimings();
  engine.timings.resetSettleMs = 50;
  engine.timings.reopenPauseMs = 50;
  MakeImage("kvimagea_mums3_1_5", 100000, 26);
  SimOptions o = UnitOptions("79524");
  o.nandSize = 0;
  o.failCommands = {"cp.b"};
  StartUnit(o, Path("kvimagea_mums3_1_5"));

  QElapsedTimer clock;
  clock.start();
  EXPECT_EQ(engine.Run(QString()), 0);
  // Far below the copy's 150 s: the "## Error" reply ended it.
  EXPECT_LT(clock.elapsed(), 60000);
  EXPECT_EQ(StepStates(), (std::vector<int>{3, 3, 2, 2, 2}));
  EXPECT_TRUE(lines.contains("Error copying memory. Message response was:"));
  EXPECT_TRUE(lines.contains("## Error: 'cp.b' failed"));
}

}  // namespace
}  // namespace fwl::test
