#include "app/settings.h"

#include <gtest/gtest.h>

namespace fwl {
namespace {

TEST(SettingsTest, DefaultsComeFromTheTableAndStoredValuesWin) {
  EXPECT_EQ(GetSettingInt(kSectionTftp, "listen"), 69);
  EXPECT_EQ(GetSettingInt(kSectionConsolePipe, "timeout"), 8000);
  EXPECT_EQ(GetSettingText(kSectionPages, "last com port"), "COM1");
  EXPECT_TRUE(GetSettingText(kSectionPages, "fw dir").endsWith("firmware/"));
  SetSettingInt(kSectionTftp, "listen", 1069);
  SetSettingText(kSectionPages, "user", "admin");
  EXPECT_EQ(GetSettingInt("TFTP Settings", "Listen"), 1069);
  EXPECT_EQ(GetSettingText(kSectionPages, "user"), "admin");
  EXPECT_EQ(GetSettingInt("nosuch", "value"), 0);
  EXPECT_EQ(GetSettingInt("nosuch", "value", 12), 12);
}

TEST(SettingsTest, RangedValuesOutsideTheirRangeReadAsZero) {
  SetSettingInt(kSectionPages, "method selection", 5);
  SetSettingInt(kSectionPages, "prod type", 2);
  EXPECT_EQ(GetSettingInt(kSectionPages, "method selection"), 0);
  EXPECT_EQ(GetSettingInt(kSectionPages, "prod type"), 2);
  SetSettingInt(kSectionPages, "prod type", -1);
  EXPECT_EQ(GetSettingInt(kSectionPages, "prod type"), 0);
}

TEST(SettingsTest, OemStringsAndInstallationFolder) {
  EXPECT_EQ(OemString(kOemIniFileName), "plexmon.ini");
  EXPECT_EQ(OemString(kOemBundleWord), "KORVID");
  EXPECT_EQ(OemString(kOemBundleExtension), ".fwb");
  EXPECT_EQ(OemString(61299), "");
  EXPECT_EQ(InstallationFolder(), "");
}

}  // namespace
}  // namespace fwl
