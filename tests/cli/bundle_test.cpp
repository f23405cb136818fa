// fwload bundle, run as the built program: a bundle made with "create"
// gives back each entry with "extract"; missing entries, bad bundles and
// bad options are refused with one clear line and exit status 2.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "support/test_util.h"

namespace fwl {
namespace {

using test::FwloadRun;

FwloadRun Fwload(const QStringList& args) { return test::RunFwload(args); }

class BundleCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    boot_ = test::RandomBytes(2500, 7);
    image_ = test::RandomBytes(70000, 8);
    info_ = "info package";
    test::WriteFileOrFail(Path("boot"), boot_);
    test::WriteFileOrFail(Path("image"), image_);
    test::WriteFileOrFail(Path("switchinfo.tgz"), info_);
    const FwloadRun create = Fwload({"bundle",
                                     "create",
                                     Path("b.fwb"),
                                     "--product",
                                     "2000",
                                     "--version",
                                     "3_3_1",
                                     "--file",
                                     "0:99:" + Path("switchinfo.tgz"),
                                     "--label",
                                     "switchinfo.tgz",
                                     "--file",
                                     "A:1:" + Path("boot"),
                                     "--name",
                                     "imageb",
                                     "--file",
                                     "a:2:" + Path("image"),
                                     "--link",
                                     "B:1:A:1",
                                     "--file",
                                     "B:2:" + Path("image"),
                                     "--label",
                                     "b"});
    ASSERT_EQ(create.exitCode, 0) << create.err.toStdString();
  }

  QString Path(const QString& name) const { return dir_.filePath(name); }

  FwloadRun Extract(const QStringList& options) {
    return Fwload(QStringList{"bundle", "extract", Path("b.fwb")} + options);
  }

  QTemporaryDir dir_;
  QByteArray boot_, image_, info_;
};

TEST_F(BundleCommandTest, ExtractGivesBackEachEntry) {
  EXPECT_EQ(Extract({"--cpu", "A", "--tag", "2", "--out", Path("o1")}).exitCode, 0);
  EXPECT_EQ(test::ReadFileOrEmpty(Path("o1")), image_);
  // The link in processor B copies processor A's boot image.
  const FwloadRun link = Extract({"--cpu", "b", "--tag", "1", "--out", Path("o2")});
  EXPECT_EQ(link.exitCode, 0) << link.err.toStdString();
  EXPECT_EQ(link.out, Path("o2") + ": 2500 bytes\n");
  EXPECT_EQ(test::ReadFileOrEmpty(Path("o2")), boot_);
  EXPECT_EQ(Extract({"--cpu", "0", "--tag", "99", "--label", "switchinfo.tgz", "--out", Path("o3")})
                .exitCode,
            0);
  EXPECT_EQ(test::ReadFileOrEmpty(Path("o3")), info_);
}

TEST_F(BundleCommandTest, MissingEntryIsExitTwoAndWritesNothing) {
  for (const QStringList& options :
       {QStringList{"--cpu", "C", "--tag", "2"}, QStringList{"--cpu", "A", "--tag", "3"},
        QStringList{"--cpu", "B", "--tag", "2", "--label", ""},
        QStringList{"--cpu", "0", "--tag", "99", "--label", "other.tgz"}}) {
    const FwloadRun run = Extract(options + QStringList{"--out", Path("none")});
    EXPECT_EQ(run.exitCode, 2) << options.join(' ').toStdString();
    EXPECT_EQ(run.err.count(u'\n'), 1);
    EXPECT_TRUE(run.err.startsWith("fwload bundle: " + Path("b.fwb") + ": no entry with tag"))
        << run.err.toStdString();
    EXPECT_FALSE(QFile::exists(Path("none")));
  }
}

TEST_F(BundleCommandTest, BadInputAndUsage) {
  // Options missing or malformed.
  EXPECT_EQ(Extract({"--cpu", "A", "--tag", "2"}).exitCode, 2);
  EXPECT_EQ(Extract({"--cpu", "D", "--tag", "2", "--out", Path("x")}).exitCode, 2);
  EXPECT_EQ(Extract({"--cpu", "A", "--tag", "two", "--out", Path("x")}).exitCode, 2);
  EXPECT_EQ(Extract({"--cpu", "A", "--tag", "2", "--out"}).exitCode, 2);
  EXPECT_EQ(Fwload({"bundle"}).exitCode, 2);
  EXPECT_EQ(Fwload({"bundle", "unpack"}).exitCode, 2);
  EXPECT_FALSE(QFile::exists(Path("x")));

  // Bundles that cannot be read.
  QByteArray cut = test::ReadFileOrEmpty(Path("b.fwb"));
  cut.truncate(cut.size() - 10);
  test::WriteFileOrFail(Path("cut.fwb"), cut);
  const FwloadRun truncated = Fwload(
      {"bundle", "extract", Path("cut.fwb"), "--cpu", "A", "--tag", "2", "--out", Path("x")});
  EXPECT_EQ(truncated.exitCode, 2);
  EXPECT_TRUE(truncated.err.contains("not a readable firmware bundle"))
      << truncated.err.toStdString();
  const FwloadRun missing = Fwload(
      {"bundle", "extract", Path("nope.fwb"), "--cpu", "A", "--tag", "2", "--out", Path("x")});
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_EQ(missing.err.count(u'\n'), 1);
  EXPECT_FALSE(QFile::exists(Path("x")));

  // An output that cannot be written is a failed operation.
  const FwloadRun unwritable = Extract({"--cpu", "A", "--tag", "2", "--out", Path("no/dir/x")});
  EXPECT_EQ(unwritable.exitCode, 1);
  EXPECT_TRUE(unwritable.err.contains("cannot write"));

  // create refuses links to files it has not seen and unreadable inputs.
  EXPECT_EQ(Fwload({"bundle", "create", Path("c.fwb"), "--product", "2000", "--version", "1",
                    "--link", "B:1:A:1"})
                .exitCode,
            2);
  EXPECT_EQ(Fwload({"bundle", "create", Path("c.fwb"), "--product", "2000", "--version", "1",
                    "--file", "A:2:" + Path("absent")})
                .exitCode,
            2);
  EXPECT_FALSE(QFile::exists(Path("c.fwb")));
}

}  // namespace
}  // namespace fwl
