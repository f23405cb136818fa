// The pure rules of switch identification: the information page parser, the
// board names, the brand, the image names per board and the version gate.
#include "switch/switch_info.h"

#include <gtest/gtest.h>

namespace fwl {
namespace {

TEST(ParseSwitchInfo, ReadsEachKeyUpToItsAmpersand) {
  const SwitchInfo info =
      ParseSwitchInfo("kvid=mums.ACME&boardId=KORVID KVNI855T&fwRev=3.7.2&uboot=1.1.4\r\n");
  EXPECT_EQ(info.kvid, "kvid=mums.ACME");
  EXPECT_EQ(info.boardId, "KORVID KVNI855T");
  EXPECT_EQ(info.fwRev, "3.7.2");
  // The last value runs to the end minus one character: "\r" stays, "\n" goes.
  EXPECT_EQ(info.uboot, "1.1.4\r");
  EXPECT_EQ(ParseSwitchInfo("uboot=2.0\n").uboot, "2.0");
}

TEST(ParseSwitchInfo, KeysWithoutAFollowingAmpersandStayEmpty) {
  const SwitchInfo info = ParseSwitchInfo("boardId=kvni9260&fwRev=3.9");
  EXPECT_EQ(info.boardId, "kvni9260");
  EXPECT_EQ(info.fwRev, "");
  EXPECT_EQ(info.kvid, "");
  EXPECT_EQ(info.uboot, "");
  // Hostile bodies: empty, keys only, an "&" right after a key.
  EXPECT_EQ(ParseSwitchInfo("").kvid, "");
  EXPECT_EQ(ParseSwitchInfo("fwRev=&").fwRev, "");
  EXPECT_EQ(ParseSwitchInfo("uboot=").uboot, "");
  EXPECT_EQ(ParseSwitchInfo("kvid=").kvid, "");
}

TEST(BoardIndexFromId, ExactNamesAndTheSecondFieldInAnyCase) {
  EXPECT_EQ(BoardIndexFromId("kvni855t"), 0);
  EXPECT_EQ(BoardIndexFromId("kvni79524"), 1);
  EXPECT_EQ(BoardIndexFromId("kvni9260"), 2);
  EXPECT_EQ(BoardIndexFromId("KORVID KVNI855T"), 0);
  EXPECT_EQ(BoardIndexFromId("KORVID kvni79524"), 1);
  EXPECT_EQ(BoardIndexFromId("KORVID KVNI9260"), 2);
  EXPECT_EQ(BoardIndexFromId("kvni9260x"), -1);
  EXPECT_EQ(BoardIndexFromId("KVNI855T"), -1);
  EXPECT_EQ(BoardIndexFromId("KORVID KVNI855T rev2"), 0);
  EXPECT_EQ(BoardIndexFromId(""), -1);
}

TEST(SwitchOemName, SecondDottedFieldOfTheIdentity) {
  EXPECT_EQ(SwitchOemName("kvid=mums.ACME"), "ACME");
  EXPECT_EQ(SwitchOemName("kvid=mums. ACME  .x"), "ACME");
  EXPECT_EQ(SwitchOemName("kvid=mums"), "");
  EXPECT_EQ(SwitchOemName("kvid=`a.b`.BRAND"), "BRAND");
  EXPECT_EQ(SwitchOemName("kvid=m." + QString(150, 'B')).size(), 100);
}

TEST(BoardImageNames, SwapsTheVariantForTheBoard) {
  auto names = BoardImageNames(1, "/fw/kvimage_mums3_7_2");
  EXPECT_FALSE(names.alreadyFits);
  EXPECT_EQ(names.filesystemName, "kvimagea_mums3_7_2");
  EXPECT_EQ(names.bootName, "kvimageba_mums3_7_2");

  names = BoardImageNames(0, "/fw/kvimagea_mums3_7_2");
  EXPECT_EQ(names.filesystemName, "kvimage_mums3_7_2");
  EXPECT_EQ(names.bootName, "kvimageb_mums3_7_2");

  names = BoardImageNames(2, "/fw/KVIMAGE_MUMS3_7_2");
  EXPECT_EQ(names.filesystemName, "kvimage9_mums3_7_2");
  EXPECT_EQ(names.bootName, "kvimageb9_mums3_7_2");

  EXPECT_TRUE(BoardImageNames(0, "/fw/kvimage_mums3_7_2").alreadyFits);
  EXPECT_TRUE(BoardImageNames(1, "/fw/kvimagea_mums3_7_2").alreadyFits);
  EXPECT_TRUE(BoardImageNames(2, "/fw/kvimage9_mums3_7_2").alreadyFits);
}

TEST(BoardImageNames, AnImageOfAnotherBoardNeverPassesAsFitting) {
  // An ARM9 name on a PowerPC board, and the other cross cases.
  EXPECT_EQ(BoardImageNames(0, "kvimage9_mums3_7").filesystemName, "kvimage_mums3_7");
  EXPECT_EQ(BoardImageNames(1, "kvimage9_mums3_7").filesystemName, "kvimagea_mums3_7");
  EXPECT_EQ(BoardImageNames(2, "kvimagea_mums3_7").filesystemName, "kvimage9_mums3_7");
  EXPECT_EQ(BoardImageNames(2, "kvimagea_mums3_7").bootName, "kvimageb9_mums3_7");
}

TEST(BoardImageNames, NamesWithoutTheStemOrUnknownBoardsGiveNothing) {
  const auto none = BoardImageNames(1, "/fw/firmware.bin");
  EXPECT_FALSE(none.alreadyFits);
  EXPECT_TRUE(none.filesystemName.isEmpty());
  EXPECT_TRUE(BoardImageNames(-1, "kvimage_mums3_7").filesystemName.isEmpty());
  EXPECT_FALSE(BoardImageNames(-1, "kvimage_mums3_7").alreadyFits);
  // The extension is not part of the name.
  EXPECT_EQ(BoardImageNames(1, "/fw/kvimage_mums3.bin").filesystemName, "kvimagea_mums3");
}

TEST(SupportsEthernetOnlyLoad, ThreeSevenAndLater) {
  EXPECT_FALSE(SupportsEthernetOnlyLoad("3.6.9"));
  EXPECT_TRUE(SupportsEthernetOnlyLoad("3.7"));
  EXPECT_TRUE(SupportsEthernetOnlyLoad("3.7.0"));
  EXPECT_TRUE(SupportsEthernetOnlyLoad("4.0"));
  EXPECT_TRUE(SupportsEthernetOnlyLoad("10.1"));
  EXPECT_TRUE(SupportsEthernetOnlyLoad("3.10"));
  EXPECT_FALSE(SupportsEthernetOnlyLoad("2.99"));
  EXPECT_FALSE(SupportsEthernetOnlyLoad(""));
  EXPECT_FALSE(SupportsEthernetOnlyLoad("3"));
  EXPECT_FALSE(SupportsEthernetOnlyLoad("v4.0"));
  EXPECT_TRUE(SupportsEthernetOnlyLoad(" 3.8beta"));
  EXPECT_TRUE(SupportsEthernetOnlyLoad("99999999999999.0"));  // a huge major does not overflow
}

}  // namespace
}  // namespace fwl
