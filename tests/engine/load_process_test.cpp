// Complete serial loads against the simulated unit: every board, with and
// without NAND, both boot monitors, single- and two-image plans, from a plain
// image, an archive and a bundle; the flash is read back afterwards.
#include <QDirIterator>
#include <QProcess>

#include "catalogue/firmware_bundle.h"
#include "catalogue/firmware_names.h"
#include "engine/load_parameter_file.h"
#include "platform/system_folders.h"
#include "serial_load_fixture.h"
#include "sim/bundle_writer.h"

namespace fwl::test {
namespace {

// The 12-byte clean marker as the unit stores it.
QByteArray CleanMarker(bool bigEndian) {
  return bigEndian ? QByteArray::fromHex("198520030000000cf060dc98")
                   : QByteArray::fromHex("851903200c00000098dc60f0");
}

// Marker positions (NOR offsets) the arithmetic gives for an image of
// `imageSize` bytes copied to NOR offset `offset`.
std::vector<quint32> MarkerOffsets(quint32 offset, quint32 imageSize) {
  std::vector<quint32> out;
  const quint32 start = (offset + imageSize + 0xFFFF) & ~0xFFFFu;
  for (quint32 at = start; at < offset + kFsRegionSize; at += 0x10000) out.push_back(at);
  return out;
}

class LoadProcessTest : public SerialLoadTest {
 protected:
  void ExpectMarkers(quint32 offset, quint32 imageSize, bool bigEndian) {
    const QByteArray marker = CleanMarker(bigEndian);
    const std::vector<quint32> at = MarkerOffsets(offset, imageSize);
    ASSERT_FALSE(at.empty());
    for (quint32 o : at) {
      ASSERT_EQ(unit->ReadNor(o, 12).toHex(), marker.toHex()) << "marker at NOR offset " << o;
    }
    // Nothing in the block right below the first marker past the image.
    EXPECT_EQ(Commands("cp.l").size(), qsizetype(at.size()));
  }

  void ExpectAllOk() {
    const std::vector<int> states = StepStates();
    for (size_t i = 0; i < states.size(); ++i) EXPECT_EQ(states[i], 3) << "step " << i;
    EXPECT_EQ(FinalState(), 3);
  }
};

TEST_F(LoadProcessTest, NandBoardWithUBootTakesTheNewPlanWithoutNorCopy) {
  const QByteArray fs = MakeImage("kvimagea_mums3_1_5", 300000, 1);
  const QByteArray boot = MakeImage("kvimageba_mums3_1_5", 70000, 2);
  SimOptions o = UnitOptions("79524");
  StartUnit(o, Path("kvimagea_mums3_1_5"));

  ASSERT_EQ(engine.Run(QString()), 1) << lines.join('\n').toStdString();

  EXPECT_EQ(PlanSteps(), QStringList({"Transfer filesystem image", "Erase file system memory",
                                      "Erase NAND Flash", "Copy NAND Flash contents",
                                      "Transfer boot image", "Copy NAND boot contents"}));
  ExpectAllOk();
  EXPECT_EQ(events.front().steps[0].byteCount, 300000);
  EXPECT_EQ(events.front().steps[0].blink, 0);
  EXPECT_EQ(events.front().steps[1].blink, 1);
  EXPECT_EQ(unit->ReadNand(0x280000, fs.size()), fs);
  EXPECT_EQ(unit->ReadNand(0x80000, boot.size()), boot);
  // The NOR boot sector of the 8 MiB part was erased, nothing copied there.
  EXPECT_EQ(Commands("erase "), QStringList({"erase 44080000 440bffff"}));
  EXPECT_EQ(Commands("nand erase "), QStringList({"nand erase clean 80000 f80000"}));
  EXPECT_TRUE(Commands("cp.").isEmpty());
  EXPECT_TRUE(lines.contains("Completed loading Flash File System file."));
  // The unit was reset at the end.
  EXPECT_EQ(unit->CommandLog().last(), "reset");
}

TEST_F(LoadProcessTest, PowerPcBoardWithPpcBootCopiesBootImageToNorAndWritesMarkers) {
  const QByteArray fs = MakeImage("kvimage_razeb3_2_0", 200000, 3);
  const QByteArray boot = MakeImage("kvimageb_razeb3_2_0", 0x23456, 4);
  SimOptions o = UnitOptions("ppc855", "PPCBoot");
  o.nandSize = 0x1000000;
  StartUnit(o, Path("kvimage_razeb3_2_0"));

  ASSERT_EQ(engine.Run(QString()), 1) << lines.join('\n').toStdString();

  EXPECT_EQ(PlanSteps().size(), 8);
  EXPECT_EQ(PlanSteps().last(), "Write clean markers");
  ExpectAllOk();
  EXPECT_EQ(unit->ReadNand(0x200000, fs.size()), fs);
  EXPECT_EQ(unit->ReadNand(0, boot.size()), boot);
  EXPECT_EQ(unit->ReadNor(kFsFlashNorOffset, boot.size()), boot);
  EXPECT_EQ(Commands("nand erase"), QStringList({"nand erase clean"}));
  ExpectMarkers(kFsFlashNorOffset, boot.size(), true);
}

TEST_F(LoadProcessTest, Arm9BoardErasesNandFromItsReportedSize) {
  const QByteArray fs = MakeImage("kvimage9_lozeb2_0_1", 150000, 5);
  const QByteArray boot = MakeImage("kvimageb9_lozeb2_0_1", 40000, 6);
  SimOptions o = UnitOptions("arm9");
  o.nandSize = 0x4000000;
  StartUnit(o, Path("kvimage9_lozeb2_0_1"));

  ASSERT_EQ(engine.Run(QString()), 1) << lines.join('\n').toStdString();

  ExpectAllOk();
  EXPECT_EQ(Commands("nand erase "), QStringList({"nand erase clean 80000 3f80000"}));
  EXPECT_EQ(Commands("tftp "), QStringList({"tftp 20100000 kvimage9_lozeb2_0_1",
                                            "tftp 20100000 kvimageb9_lozeb2_0_1"}));
  EXPECT_EQ(unit->ReadNand(0x280000, fs.size()), fs);
  EXPECT_EQ(unit->ReadNand(0x80000, boot.size()), boot);
}

TEST_F(LoadProcessTest, UnitWithoutNandTakesTheSingleImageClassicPlan) {
  // Ends exactly on a 64 KiB boundary: the markers start right there.
  const QByteArray fs = MakeImage("kvimagea_mums3_1_5", 0x30000, 7);
  SimOptions o = UnitOptions("79524");
  o.nandSize = 0;
  StartUnit(o, Path("kvimagea_mums3_1_5"));

  ASSERT_EQ(engine.Run(QString()), 1) << lines.join('\n').toStdString();

  EXPECT_EQ(PlanSteps(), QStringList({"Transfer filesystem image", "Erase file system memory",
                                      "Copy file system to memory", "Write clean markers"}));
  ExpectAllOk();
  EXPECT_EQ(unit->ReadNor(kFsFlashNorOffset, fs.size()), fs);
  EXPECT_EQ(Commands("protect off"), QStringList({"protect off 44080000 447fffff"}));
  ExpectMarkers(kFsFlashNorOffset, fs.size(), true);
  EXPECT_EQ(Commands("cp.l").first(), "cp.l 00100000 440b0000 3");
}

TEST_F(LoadProcessTest, Arm9UnitWithoutNandBuildsTheMarkerTemplateInItsOwnRam) {
  const QByteArray fs = MakeImage("kvimage9_lozeb3_1_5", 0x28000, 17);
  SimOptions o = UnitOptions("arm9");
  o.nandSize = 0;
  StartUnit(o, Path("kvimage9_lozeb3_1_5"));

  ASSERT_EQ(engine.Run(QString()), 1) << lines.join('\n').toStdString();

  ExpectAllOk();
  EXPECT_EQ(unit->ReadNor(kFsFlashNorOffset, fs.size()), fs);
  EXPECT_EQ(Commands("mw.w").first(), "mw.w 20100000 1985");
  EXPECT_EQ(Commands("cp.l").first(), "cp.l 20100000 440b0000 3");
  ExpectMarkers(kFsFlashNorOffset, fs.size(), o.bigEndian);
}

TEST_F(LoadProcessTest, OldFirmwareOnNandUnitTakesTheTwoImageClassicPlan) {
  const QByteArray fs = MakeImage("kvimage_razeb1_5_99", 120000, 8);
  const QByteArray boot = MakeImage("kvimageb_razeb1_5_99", 50000, 9);
  SimOptions o = UnitOptions("ppc855");
  StartUnit(o, Path("kvimage_razeb1_5_99"));

  ASSERT_EQ(engine.Run(QStringLiteral("-NUM_TFTP=2")), 1) << lines.join('\n').toStdString();

  EXPECT_EQ(PlanSteps(), QStringList({"Transfer filesystem image", "Erase file system memory",
                                      "Copy file system to memory", "Transfer boot image",
                                      "Copy boot file to memory", "Write clean markers"}));
  ExpectAllOk();
  EXPECT_EQ(engine.tftpMode, 6);
  EXPECT_EQ(unit->ReadNand(0, fs.size()), fs);
  EXPECT_EQ(unit->ReadNor(kFsFlashNorOffset, boot.size()), boot);
  ExpectMarkers(kFsFlashNorOffset, boot.size(), true);
}

TEST_F(LoadProcessTest, OldFirmwareOnNandUnitNeedsThe8MiBNor) {
  MakeImage("kvimage_razeb1_5_99", 1000, 8);
  SimOptions o = UnitOptions("ppc855");
  o.norSize = 0x400000;
  StartUnit(o, Path("kvimage_razeb1_5_99"));

  EXPECT_EQ(engine.Run(QString()), 0);
  EXPECT_TRUE(lines.contains("Unexpected FLASH configuration found during Load Process."));
  EXPECT_TRUE(ui.messageTexts().contains(
      "The selected hardware type cannot accept firmware versions less than 1.5"));
  EXPECT_TRUE(Commands("tftp").isEmpty());
}

// 1.5.100 is the first firmware for the NAND plan, which does not care about
// the size of a NOR part it does not use.
TEST_F(LoadProcessTest, FirmwareFrom1_5_100OnNandUnitTakesTheNewPlanWhateverTheNor) {
  const QByteArray fs = MakeImage("kvimage_razeb1_5_100", 60000, 21);
  MakeImage("kvimageb_razeb1_5_100", 20000, 22);
  SimOptions o = UnitOptions("ppc855");
  o.norSize = 0x400000;
  StartUnit(o, Path("kvimage_razeb1_5_100"));

  ASSERT_EQ(engine.Run(QString()), 1) << lines.join('\n').toStdString();

  EXPECT_EQ(PlanSteps().size(), 6);
  EXPECT_EQ(PlanSteps()[2], "Erase NAND Flash");
  ExpectAllOk();
  EXPECT_EQ(unit->ReadNand(0x200000, fs.size()), fs);
  EXPECT_TRUE(Commands("protect").isEmpty());
  EXPECT_TRUE(Commands("erase ").isEmpty());
}

TEST_F(LoadProcessTest, BundleImagesForTheBoardLetterAreLoadedAndTheirFolderRemoved) {
  const QByteArray fsA = RandomBytes(90000, 10), bootA = RandomBytes(30000, 11);
  const QByteArray fsB = RandomBytes(80000, 12), bootB = RandomBytes(20000, 13);
  sim::BundleWriter writer(kBundleRaZeb, "3_2_1");
  const int a = writer.AddDirectory(sim::BundleWriter::kRoot, kTagCpuA, "A");
  writer.AddFile(a, kTagImageBoot, "boot", "", bootA);
  writer.AddFile(a, kTagImage, "image", "", fsA);
  const int b = writer.AddDirectory(sim::BundleWriter::kRoot, kTagCpuB, "B");
  writer.AddFile(b, kTagImageBoot, "boot", "", bootB);
  writer.AddFile(b, kTagImage, "image", "", fsB);
  ASSERT_TRUE(writer.WriteTo(Path("firmware.fwb")));
  SimOptions o = UnitOptions("79524");
  o.nandSt = true;  // version 3.2.1 passes the ST check
  StartUnit(o, Path("firmware.fwb"));

  ASSERT_EQ(engine.Run(QString()), 1) << lines.join('\n').toStdString();

  ExpectAllOk();
  EXPECT_EQ(unit->ReadNand(0x280000, fsB.size()), fsB);
  EXPECT_EQ(unit->ReadNand(0x80000, bootB.size()), bootB);
  const QStringList fetched = Commands("tftp ");
  ASSERT_EQ(fetched.size(), 2);
  EXPECT_EQ(fetched[0], "tftp 100000 kvimage_razeb3_2_1");
  EXPECT_EQ(fetched[1], "tftp 100000 kvimageb_razeb3_2_1");
  // The work folder of the bundle is gone once the run is over.
  EXPECT_FALSE(QFileInfo::exists(QFileInfo(engine.fsImagePath).path()));
  EXPECT_TRUE(QDir(TempFolder()).entryList({"fwb*"}, QDir::Dirs).isEmpty());
}

TEST_F(LoadProcessTest, ArchiveMemberIsSelectedAndWrittenToTheParameterFile) {
  const QByteArray fs = MakeImage("pkg/kvimage6_razeb3_1_5", 100000, 14);
  MakeImage("pkg/kvimageb_razeb3_1_5", 30000, 15);
  MakeImage("pkg/readme", 10, 16);
  // A checksum listed ahead of its image is not an image.
  MakeImage("pkg/kvimage6_razeb3_1_5.md5", 33, 18);
  QProcess tar;
  tar.setWorkingDirectory(Path("pkg"));
  tar.start("tar", {"czf", Path("kvfirm6_razeb3_1_5.tgz"), "readme", "kvimage6_razeb3_1_5.md5",
                    "kvimage6_razeb3_1_5", "kvimageb_razeb3_1_5"});
  ASSERT_TRUE(tar.waitForFinished(30000));
  ASSERT_EQ(tar.exitCode(), 0);
  SimOptions o = UnitOptions("ppc855");
  StartUnit(o, Path("kvfirm6_razeb3_1_5.tgz"));

  ASSERT_EQ(engine.Run(QString()), 1) << lines.join('\n').toStdString();

  const QString selected =
      ReadLoadParameter(kSectionPpcLoadFiles, kKeyFlashFsFilename, kFlashFsFilenameBufferSize);
  EXPECT_TRUE(selected.endsWith("/kvimage6_razeb3_1_5")) << selected.toStdString();
  EXPECT_EQ(unit->ReadNand(0x200000, fs.size()), fs);
  EXPECT_EQ(Commands("tftp ").last(), "tftp 100000 kvimageb_razeb3_1_5");
}

TEST_F(LoadProcessTest, StUnitRefusesFirmwareBelow3_1) {
  MakeImage("kvimagea_mums3_1_5", 1000, 17);
  SimOptions o = UnitOptions("79524");
  o.nandSt = true;
  StartUnit(o, Path("kvimagea_mums3_1_5"));

  EXPECT_EQ(engine.Run(QString()), 0);
  EXPECT_EQ(ui.messageTexts().last(),
            "This station cannot accept firmware versions less than 3.1 due to hardware "
            "limitations.");
  EXPECT_TRUE(Commands("tftp").isEmpty());
  EXPECT_EQ(unit->CommandLog().last(), "reset");
  EXPECT_TRUE(lines.contains("Failed to load new Flash File System file!"));
}

TEST_F(LoadProcessTest, ImageForAnotherProcessorIsRefusedWithTheBoardsMessage) {
  struct Case {
    const char* board;
    const char* file;
    const char* message;
  };
  const Case cases[] = {
      {"79524", "kvimage_mums3_1_5",
       "The selected firmware image is not compatible with the processor. Please select an "
       "image file name that begins with kvimagea_*."},
      {"arm9", "kvimagea_mums3_1_5",
       "The selected firmware image is not compatible with the processor. Please select an "
       "image file name that begins with kvimage9_*."},
      {"ppc855", "kvimage9_lozeb3_1_5",
       "The selected firmware image is not compatible with the processor."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.board);
    // A folder named like a fitting image does not make the file fit.
    MakeImage(QString("kvimage_x/") + c.file, 1000, 18);
    StartUnit(UnitOptions(c.board), Path(QString("kvimage_x/") + c.file));
    EXPECT_EQ(engine.Run(QString()), 0);
    EXPECT_EQ(ui.messageTexts().last(), c.message);
    // Refused before anything was programmed (a reset may still follow).
    for (const QString& cmd : unit->CommandLog()) {
      for (const char* programming :
           {"tftp", "erase", "nand erase", "nand write", "cp.", "protect"})
        EXPECT_FALSE(cmd.startsWith(QLatin1String(programming))) << cmd.toStdString();
    }
    EXPECT_TRUE(unit->CommandLog().contains("nand info"));
    unit->Stop();
    unit.reset();
  }
}

TEST_F(LoadProcessTest, CancelWhileWaitingForPowerEndsWithoutCommunications) {
  MakeImage("kvimagea_mums3_1_5", 1000, 19);
  SimOptions o = UnitOptions("79524");
  StartUnit(o, Path("kvimagea_mums3_1_5"));
  unit->PowerOff();
  ui.onPrompt = nullptr;  // nobody switches the unit on
  ui.CancelPromptAfter(5);

  EXPECT_EQ(engine.Run(QString()), 0);
  EXPECT_EQ(ui.messageTexts().last(), "Unable to establish communications.");
  EXPECT_FALSE(ui.promptOpen());
  EXPECT_TRUE(events.empty());
}

TEST_F(LoadProcessTest, DeclinedPowerOffBoxEndsBeforeThePortIsOpened) {
  MakeImage("kvimagea_mums3_1_5", 1000, 19);
  StartUnit(UnitOptions("79524"), Path("kvimagea_mums3_1_5"));
  ui.QueueAnswer(kAnswerCancel);

  EXPECT_EQ(engine.Run(QString()), 0);
  EXPECT_EQ(ui.messageTexts().last(), "Unable to establish communications.");
  EXPECT_TRUE(unit->CommandLog().isEmpty());
}

TEST_F(LoadProcessTest, UnknownBoardEndsSilently) {
  MakeImage("kvimagea_mums3_1_5", 1000, 20);
  SimOptions o = UnitOptions("79524");
  o.board = "KORVID other";
  StartUnit(o, Path("kvimagea_mums3_1_5"));

  EXPECT_EQ(engine.Run(QString()), 0);
  EXPECT_EQ(ui.messages().size(), 1u);  // the power-off box only
  EXPECT_TRUE(Commands("tftp").isEmpty());
}

}  // namespace
}  // namespace fwl::test
