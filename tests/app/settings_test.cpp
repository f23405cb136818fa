#include "app/settings.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "platform/ini_file.h"
#include "platform/system_folders.h"

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

  // A bare "plexmon.ini" is the one in the system folder.
  const QString ini = QDir(SystemFolder()).filePath("plexmon.ini");
  QDir().mkpath(SystemFolder());
  ASSERT_TRUE(
      WritePrivateProfileString("Installation Directory", "Path32", QString(1100, 'p'), ini));
  EXPECT_EQ(InstallationFolder(), QString(1023, 'p'));  // a 1024-character buffer
  ASSERT_TRUE(WritePrivateProfileString("Installation Directory", "Path32", "C:\\Plex\\", ini));
  EXPECT_EQ(InstallationFolder(), "C:\\Plex\\");
  QFile::remove(ini);
}

TEST(SettingsTest, TextsReadBackExactlyAndNeverSpillIntoOtherValues) {
  for (const QString& text : {QString(" /fw dir/ "), QString("\"quoted\""), QString("\""),
                              QString("a \"b\""), QString("\tx")}) {
    SetSettingText(kSectionPages, "fw dir", text);
    EXPECT_EQ(GetSettingText(kSectionPages, "fw dir"), text);
  }
  SetSettingInt(kSectionTftp, "listen", 1069);
  SetSettingText(kSectionPages, "user", "ops");
  SetSettingText(kSectionPages, "user", "x\n[tftp settings]\nlisten=7");
  SetSettingText(kSectionPages, "subnet", "y\rlisten=7");
  EXPECT_EQ(GetSettingText(kSectionPages, "user"), "ops");
  EXPECT_EQ(GetSettingText(kSectionPages, "subnet"), "");
  EXPECT_EQ(GetSettingInt(kSectionTftp, "listen"), 1069);
  EXPECT_EQ(GetPrivateProfileKeys(kSectionTftp, SettingsFilePath()), QStringList{"listen"});
}

}  // namespace
}  // namespace fwl
