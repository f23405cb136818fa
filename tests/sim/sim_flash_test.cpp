// Memory and flash commands of the simulated unit, checked against what
// ends up in its memories: protection, erase, copies to NOR, NAND writes,
// memory fills and clean markers, mtest.
#include <gtest/gtest.h>

#include "sim/sim_unit.h"
#include "sim_terminal.h"

namespace fwl {
namespace {

class SimFlash : public ::testing::Test {
 protected:
  void StartUnit(SimOptions o) {
    o.bootDelaySeconds = 30;
    o.mtestPassMs = 20;
    unit_ = std::make_unique<SimUnit>(o);
    ASSERT_TRUE(unit_->Start());
    ASSERT_TRUE(term_.Open(unit_->SlavePath()));
    ASSERT_TRUE(term_.WaitFor("autoboot"));
    ASSERT_TRUE(term_.Send("interrupt\r"));
    ASSERT_TRUE(term_.WaitFor("=> "));
    term_.ReadFor(30);
    term_.Take();
  }
  void StartDefault() {
    SimOptions o;
    ApplyBoardDefaults(o);
    StartUnit(o);
  }
  QByteArray Cmd(const QByteArray& line) { return term_.Command(line); }

  std::unique_ptr<SimUnit> unit_;
  test::SimTerminal term_;
};

TEST_F(SimFlash, NorNeedsUnprotectAndEraseBeforeACopy) {
  StartDefault();  // NOR 8 MiB at 0x44000000, DRAM at 0
  ASSERT_TRUE(Cmd("mw.l 00100000 12345678 4").endsWith("\r\n=> "));
  EXPECT_TRUE(Cmd("protect on all").endsWith("done\r\n=> "));
  // Protected: the copy is refused and says nothing like "done".
  QByteArray r = Cmd("cp.b 100000 44080000 10");
  EXPECT_TRUE(r.contains("Can't write to protected Flash sectors"));
  EXPECT_FALSE(r.contains("done"));

  r = Cmd("protect off 44080000 447fffff");
  EXPECT_TRUE(r.contains("Un-Protected 120 sectors\r\n=> "));
  // The flash was never written, so it is blank and takes the copy at once.
  EXPECT_TRUE(Cmd("cp.b 100000 44080000 10").endsWith("Copy to Flash... done\r\n=> "));
  EXPECT_EQ(unit_->ReadNor(0x80000, 8), QByteArray::fromHex("1234567812345678"));
  // Writing over it without an erase would need bits to rise.
  ASSERT_TRUE(Cmd("mw.b 00100000 ff 10").endsWith("=> "));
  r = Cmd("cp.b 100000 44080000 10");
  EXPECT_TRUE(r.contains("Flash not Erased"));
  EXPECT_FALSE(r.contains("done"));

  r = Cmd("erase 44080000 447fffff");
  EXPECT_TRUE(r.contains(" done\r\nErased 120 sectors\r\n=> "));
  EXPECT_EQ(unit_->ReadNor(0x80000, 4), QByteArray(4, char(0xFF)));
  // Ranges that do not fall on sector boundaries are refused.
  EXPECT_TRUE(Cmd("erase 44080000 44080fff").contains("not on sector boundary"));
  EXPECT_TRUE(Cmd("protect off 44080100 4408ffff").contains("not on sector boundary"));
}

TEST_F(SimFlash, EraseSkipsProtectedSectorsAndSaysSo) {
  StartDefault();
  QByteArray r = Cmd("erase 44000000 4400ffff");  // the monitor's own sector
  EXPECT_TRUE(r.contains("1 protected sectors will not be erased"));
  EXPECT_FALSE(r.contains("done"));
  Cmd("protect on 44060000 4406ffff");
  r = Cmd("erase 44060000 4407ffff");
  EXPECT_TRUE(r.contains("1 protected sectors will not be erased"));
  EXPECT_TRUE(r.contains(" done\r\nErased 1 sectors\r\n"));
}

TEST_F(SimFlash, CleanMarkersAndFillsLandInNvramInTheBoardsByteOrder) {
  for (bool big : {true, false}) {
    SCOPED_TRACE(big);
    SimOptions o;
    o.board = big ? kSimBoard79524 : kSimBoardArm9;
    ApplyBoardDefaults(o);
    StartUnit(o);
    const QByteArray ram = big ? "00100000" : "20100000";
    Cmd("mw.b 40000000 ff 80000");
    Cmd("mw.w " + ram + " 1985");
    Cmd("mw.w " + ram.left(6) + "02 2003");
    Cmd("mw.l " + ram.left(6) + "04 0000000c");
    Cmd("mw.l " + ram.left(6) + "08 f060dc98");
    EXPECT_TRUE(Cmd("cp.l " + ram + " 40010000 3").endsWith("\r\n=> "));
    EXPECT_TRUE(Cmd("cp.l " + ram + " 40011000 3").endsWith("\r\n=> "));
    const QByteArray marker = big ? QByteArray::fromHex("198520030000000cf060dc98")
                                  : QByteArray::fromHex("851903200c00000098dc60f0");
    EXPECT_EQ(unit_->ReadNvram(0x10000, 12), marker);
    EXPECT_EQ(unit_->ReadNvram(0x11000, 12), marker);
    EXPECT_EQ(unit_->ReadNvram(0x1000c, 4), QByteArray(4, char(0xFF)));
    EXPECT_EQ(unit_->ReadNvram(0x7fffc, 4), QByteArray(4, char(0xFF)));
    term_.Close();
    unit_.reset();
  }
}

TEST_F(SimFlash, MemoryCommandsRefuseWhatIsNotThere) {
  StartDefault();
  EXPECT_TRUE(Cmd("mw.b 90000000 1 10").contains("## Error"));
  EXPECT_TRUE(Cmd("mw.b 44080000 1 10").contains("## Error"));  // flash needs cp
  EXPECT_TRUE(Cmd("cp.b 100000 90000000 10").contains("## Error"));
  // A count running past the end of DRAM, and one that overflows.
  EXPECT_TRUE(Cmd("cp.b 100000 3ffff00 1000").contains("## Error"));
  EXPECT_TRUE(Cmd("cp.l 100000 200000 ffffffffffff").contains("Usage"));
  EXPECT_TRUE(Cmd("cp.b 100000 200000 0").contains("Zero length"));
  EXPECT_TRUE(Cmd("cp.b 100000 200000 $(filesize)").contains("Usage"));
  EXPECT_TRUE(Cmd("mw.l zz 1").contains("Usage"));
}

TEST_F(SimFlash, NandEraseAndWriteFromRam) {
  StartDefault();
  Cmd("mw.l 100000 a5a5a5a5 8000");
  Cmd("setenv filesize 20000");
  QByteArray r = Cmd("nand info");
  EXPECT_TRUE(r.contains("Device 0: NAND 128MiB"));
  EXPECT_FALSE(r.contains("ST "));
  EXPECT_TRUE(Cmd("nand erase clean").endsWith("\r\nOK\r\n=> "));
  r = Cmd("nand write.e 100000 200000 $(filesize)");
  EXPECT_TRUE(r.contains(" 131072 bytes written: OK\r\n=> "));
  EXPECT_EQ(unit_->ReadNand(0x200000, 4), QByteArray::fromHex("a5a5a5a5"));
  EXPECT_EQ(unit_->ReadNand(0x220000, 4), QByteArray(4, char(0xFF)));
  // Programming over data that was not erased only clears bits.
  Cmd("mw.l 100000 5a5a5a5a 8000");
  Cmd("nand write.jffs2 100000 200000 20000");
  EXPECT_EQ(unit_->ReadNand(0x200000, 4), QByteArray(4, char(0)));
  r = Cmd("nand erase 80000 f80000");
  EXPECT_TRUE(r.contains("OK\r\n=> "));
  EXPECT_EQ(unit_->ReadNand(0x200000, 4), QByteArray(4, char(0xFF)));
  EXPECT_TRUE(Cmd("nand erase 1000 20000").contains("non block aligned"));
  EXPECT_TRUE(Cmd("nand write.e 100000 7ff0000 20000").contains("outside the device"));
}

TEST_F(SimFlash, NandVariants) {
  SimOptions o;
  ApplyBoardDefaults(o);
  o.nandSt = true;
  o.nandSize = 0x1000000;
  StartUnit(o);
  EXPECT_TRUE(Cmd("nand info").contains("ST Micro NAND 16MiB"));
  term_.Close();
  unit_.reset();
  o.nandSize = 0;
  StartUnit(o);
  EXPECT_TRUE(Cmd("nand info").contains("Unknown command 'nand' - try 'help'"));
}

TEST_F(SimFlash, MtestRunsUntilCtrlCOrReportsTheFaultyAddress) {
  SimOptions o;
  ApplyBoardDefaults(o);
  o.memErrorAddress = 0x4007fffc;
  StartUnit(o);
  ASSERT_TRUE(term_.Send("mtest 40000000 40000008\r"));
  term_.ReadFor(300);
  EXPECT_TRUE(term_.Seen().contains("Pattern 00000000  Writing..."));
  EXPECT_FALSE(term_.Seen().contains("=> "));
  EXPECT_EQ(unit_->State(), "busy");
  ASSERT_TRUE(term_.Send("x\x03"));
  ASSERT_TRUE(term_.WaitFor("=> "));
  EXPECT_FALSE(term_.Take().contains("Mem error"));

  const QByteArray r = Cmd("mtest 4007fff8 4007ffff");
  ASSERT_FALSE(r.isEmpty()) << term_.Seen().toStdString();
  EXPECT_TRUE(r.contains("\r\nMem error @ 0x4007FFFC: found "));
  EXPECT_TRUE(Cmd("mtest 44000000 44000010").contains("not RAM"));
}

TEST_F(SimFlash, FaultsFailHangAndDelayCommands) {
  SimOptions o;
  ApplyBoardDefaults(o);
  o.failCommands << "erase";
  o.hangCommands << "protect on";
  o.slowCommands.push_back({"bdinfo", 300});
  StartUnit(o);
  QByteArray r = Cmd("erase 44080000 447fffff");
  EXPECT_TRUE(r.contains("## Error"));
  EXPECT_FALSE(r.contains("done"));

  term_.Take();
  ASSERT_TRUE(term_.Send("protect on all\r"));
  EXPECT_FALSE(term_.WaitFor("=> ", 300));
  EXPECT_EQ(unit_->State(), "hung");
  ASSERT_TRUE(term_.Send("\x03"));
  ASSERT_TRUE(term_.WaitFor("=> "));

  // Input that arrives during a slow reply waits its turn.
  term_.Take();
  ASSERT_TRUE(term_.Send("bdinfo\recho after\r"));
  EXPECT_FALSE(term_.WaitFor("memsize", 150));
  ASSERT_TRUE(term_.WaitFor("after\r\n=> ", 2000));
  EXPECT_LT(term_.Seen().indexOf("memsize"), term_.Seen().indexOf("echo after"));
}

TEST_F(SimFlash, HostileInputNeverUpsetsTheUnit) {
  StartDefault();
  QByteArray noise;
  for (int i = 0; i < 20000; ++i) noise += char((i * 7919) & 0xFF);
  ASSERT_TRUE(term_.Send(noise));
  term_.ReadFor(300);
  term_.Send("\x03\r");
  term_.ReadFor(100);
  EXPECT_TRUE(Cmd("echo alive").contains("alive\r\n=> "));
  EXPECT_TRUE(Cmd(QByteArray(400, 'a')).contains("Unknown command"));
  EXPECT_TRUE(Cmd("setenv x $(x)$(x)${x}$(").endsWith("=> "));
}

}  // namespace
}  // namespace fwl

namespace fwl {
namespace {

class SimChecks : public SimFlash {
 protected:
  // crc32's result line holds "==> ", so its reply ends only at a prompt
  // that begins a line.
  QByteArray Crc(const QByteArray& line) {
    term_.Take();
    if (!term_.Send(line + "\r") || !term_.WaitFor("\r\n=> ")) return {};
    return term_.Take();
  }
};

TEST_F(SimChecks, Crc32AndNandReadShowWhatFlashHolds) {
  SimOptions o;
  ApplyBoardDefaults(o);
  o.corruptWriteOffsets = {0x80005};
  StartUnit(o);
  ASSERT_TRUE(Cmd("mw.l 00100000 12345678 4").endsWith("=> "));
  // zlib's CRC-32 of 12 34 56 78 repeated four times.
  EXPECT_EQ(Crc("crc32 100000 10"),
            "crc32 100000 10\r\nCRC32 for 00100000 ... 0010000f ==> "
            "69b24190\r\n=> ");
  // NAND write with a worn cell at 0x80005, read back into RAM.
  ASSERT_TRUE(Cmd("nand write.e 100000 80000 10").contains("16 bytes written: OK"));
  ASSERT_TRUE(Cmd("nand read.e 200000 80000 10").contains("16 bytes read: OK"));
  EXPECT_EQ(unit_->ReadDram(0x200000, 8), QByteArray::fromHex("1234567812355678"));
  EXPECT_TRUE(Crc("crc32 200000 10").contains("==> "));
  EXPECT_FALSE(Crc("crc32 200000 10").contains("69b24190"));
  EXPECT_TRUE(Cmd("nand read.jffs2 200000 80001 10").contains("non page aligned"));
  EXPECT_TRUE(Crc("crc32 7ffffff0 20").contains("is not memory"));
}

TEST_F(SimChecks, ABootMonitorWithoutCrc32SaysUnknownCommand) {
  SimOptions o;
  ApplyBoardDefaults(o);
  o.missingCommands = {"crc32"};
  StartUnit(o);
  EXPECT_TRUE(Cmd("crc32 100000 10").contains("Unknown command 'crc32' - try 'help'"));
}

}  // namespace
}  // namespace fwl
