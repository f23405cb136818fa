#include "platform/ini_file.h"

#include <gtest/gtest.h>

#include <thread>

#include <QTemporaryDir>

#include "support/test_util.h"

namespace fwl {
namespace {

class IniFileTest : public ::testing::Test {
 protected:
  QString Path(const char* name) { return dir_.filePath(QString::fromLatin1(name)); }
  QTemporaryDir dir_;
};

TEST_F(IniFileTest, LookupIsCaseInsensitiveFirstMatchWinsAndCutToBuffer) {
  const QString f = Path("a.ini");
  test::WriteFileOrFail(f,
                        "; comment\r\n[Device]\r\nComPort = ttyS0 \r\nCOMPORT=second\r\n"
                        "[device]\r\ncomport=third\r\nQuoted=\"  x \"\r\n[Other]\r\nk=v\r\n");
  EXPECT_EQ(GetPrivateProfileString("DEVICE", "comport", "d", 256, f), "ttyS0");
  EXPECT_EQ(GetPrivateProfileString("Device", "ComPort", "d", 4, f), "tty");
  EXPECT_EQ(GetPrivateProfileString("Device", "Quoted", "d", 256, f), "d")
      << "keys of a second section of the same name are not seen";
  EXPECT_EQ(GetPrivateProfileString("Other", "missing", "default", 256, f), "default");
  EXPECT_EQ(GetPrivateProfileString("Other", "k", "default", 1, f), "");
  EXPECT_EQ(GetPrivateProfileString("Other", "k", "x", 256, Path("none.ini")), "x");
}

TEST_F(IniFileTest, IntegersParseLeadingDigitsAndSaturate) {
  const QString f = Path("n.ini");
  test::WriteFileOrFail(f, "[s]\na=42abc\nb=-7\nc=abc\nd=99999999999999999999\n");
  EXPECT_EQ(GetPrivateProfileInt("s", "a", 5, f), 42);
  EXPECT_EQ(GetPrivateProfileInt("s", "b", 5, f), -7);
  EXPECT_EQ(GetPrivateProfileInt("s", "c", 5, f), 0);
  EXPECT_EQ(GetPrivateProfileInt("s", "d", 5, f), INT_MAX);
  EXPECT_EQ(GetPrivateProfileInt("s", "e", 5, f), 5);
}

TEST_F(IniFileTest, WritesKeepEveryOtherLineAndOrder) {
  const QString f = Path("w.ini");
  test::WriteFileOrFail(f, "; keep me\r\n[A]\r\nX=1\r\n\r\n[B]\r\nY=2\r\n");
  ASSERT_TRUE(WritePrivateProfileString("a", "x", "10", f));
  ASSERT_TRUE(WritePrivateProfileString("A", "Z", "3", f));
  ASSERT_TRUE(WritePrivateProfileString("C", "W", "4", f));
  EXPECT_EQ(test::ReadFileOrEmpty(f),
            "; keep me\r\n[A]\r\nX=10\r\nZ=3\r\n\r\n[B]\r\nY=2\r\n[C]\r\nW=4\r\n");
  ASSERT_TRUE(DeletePrivateProfileKey("b", "y", f));
  EXPECT_EQ(GetPrivateProfileKeys("B", f), QStringList());
  EXPECT_EQ(GetPrivateProfileSectionNames(f), (QStringList{"A", "B", "C"}));
}

TEST_F(IniFileTest, CreatesMissingFileAndFoldersAndBareNamesGoToSystemFolder) {
  const QString f = Path("sub/dir/new.ini");
  ASSERT_TRUE(WritePrivateProfileString("S", "k", "v", f));
  EXPECT_EQ(GetPrivateProfileString("s", "K", "", 256, f), "v");
  ASSERT_TRUE(WritePrivateProfileString("S", "k", "bare", "bare_test.ini"));
  EXPECT_TRUE(ResolveProfilePath("bare_test.ini").startsWith(qEnvironmentVariable("FWLOADER_SYSTEM_DIR")));
  EXPECT_EQ(GetPrivateProfileString("S", "k", "", 256, ResolveProfilePath("bare_test.ini")), "bare");
}

TEST_F(IniFileTest, SurvivesBinaryGarbageAndHugeLines) {
  const QString f = Path("junk.ini");
  QByteArray junk = test::RandomBytes(200000, 7);
  junk += "\n[ok]\nkey=" + QByteArray(100000, 'v') + "\n";
  test::WriteFileOrFail(f, junk);
  EXPECT_EQ(GetPrivateProfileString("ok", "key", "", 10, f), QString(9, 'v'));
  GetPrivateProfileSectionNames(f);
}

}  // namespace
}  // namespace fwl

namespace fwl {
namespace {

TEST(IniFileConcurrency, WritesFromTwoThreadsAreAllKept) {
  QTemporaryDir dir;
  const QString f = dir.filePath("shared.ini");
  auto writer = [&](const char* section) {
    for (int i = 0; i < 50; ++i)
      WritePrivateProfileString(section, QString("k%1").arg(i), QString::number(i), f);
  };
  std::thread a(writer, "A");
  std::thread b(writer, "B");
  a.join();
  b.join();
  EXPECT_EQ(GetPrivateProfileKeys("A", f).size(), 50);
  EXPECT_EQ(GetPrivateProfileKeys("B", f).size(), 50);
}

}  // namespace
}  // namespace fwl
