// Bundle reader: well-formed bundles, lookups and extraction, and the
// malformed files a reader of files from anywhere must refuse safely.
#include "catalogue/firmware_bundle.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cerrno>

#include "catalogue/firmware_names.h"
#include "sim/bundle_writer.h"
#include "support/test_util.h"

namespace fwl {
namespace {

using sim::AppendBundleString;
using sim::AppendBundleU32;
using sim::BundleWriter;

class BundleTest : public ::testing::Test {
 protected:
  QString Write(const QByteArray& bytes, const QString& name = "b.fwb") {
    const QString path = dir_.filePath(name);
    test::WriteFileOrFail(path, bytes);
    return path;
  }
  QString Write(const BundleWriter& writer, const QString& name = "b.fwb") {
    return Write(writer.Build(), name);
  }
  // Opens and expects failure with `expectedError`; returns what went to stderr.
  std::string ExpectRefused(const QString& path, int expectedError) {
    int error = -1;
    ::testing::internal::CaptureStderr();
    auto bundle = OpenBundle(path, &error);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(bundle, nullptr);
    EXPECT_EQ(error, expectedError);
    return err;
  }

  QTemporaryDir dir_;
};

// A switch bundle with two processor folders, a shared info file and a link.
struct SampleBundle {
  BundleWriter writer{kBundleSwitch, "3_2_7", ""};
  QByteArray bootA = test::RandomBytes(3000, 1);
  QByteArray imageA = test::RandomBytes(5000, 2);
  QByteArray imageB = test::RandomBytes(1025, 3);
  QByteArray info = "switch info";
  int fileBootA = 0;
  int fileImageA = 0;

  SampleBundle() {
    const int none = writer.AddDirectory(BundleWriter::kRoot, kTagCpuNone, "NONE");
    writer.AddFile(none, kTagNoImage, "switchinfo.tgz", "switchinfo.tgz", info);
    const int a = writer.AddDirectory(BundleWriter::kRoot, kTagCpuA, "PPC");
    fileBootA = writer.AddFile(a, kTagImageBoot, "imageb", "", bootA);
    fileImageA = writer.AddFile(a, kTagImage, "image", "", imageA);
    const int b = writer.AddDirectory(BundleWriter::kRoot, kTagCpuB, "ARM");
    writer.AddFile(b, kTagImage, "image", "main", imageB);
    // CPU B shares CPU A's boot image.
    writer.AddLink(b, kTagImageBoot, "imageb", "", fileBootA);
  }
};

TEST_F(BundleTest, ReadsHeaderAndTree) {
  SampleBundle sample;
  int error = -1;
  auto bundle = OpenBundle(Write(sample.writer), &error);
  ASSERT_NE(bundle, nullptr);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(bundle->FormatVersion(), 1);
  EXPECT_EQ(bundle->ProductCode(), 2000);
  EXPECT_EQ(bundle->VersionString(), "3_2_7");
  EXPECT_EQ(bundle->RootName(), "");
  const BundleNode& root = bundle->Root();
  ASSERT_EQ(root.children.size(), 3u);
  EXPECT_EQ(root.children[1]->name, "PPC");
  ASSERT_EQ(root.children[1]->children.size(), 2u);
  const BundleNode& image = *root.children[1]->children[1];
  EXPECT_EQ(image.type, kBundleFile);
  EXPECT_EQ(image.size, 5000u);
  EXPECT_EQ(image.headerOffset, qint64(sample.writer.HeaderOffset(sample.fileImageA)));
  CloseBundle(bundle);
  EXPECT_EQ(bundle, nullptr);
}

TEST_F(BundleTest, FindsEntriesByFolderTagFileTagAndLabel) {
  SampleBundle sample;
  auto bundle = OpenBundle(Write(sample.writer));
  ASSERT_NE(bundle, nullptr);
  const BundleNode* imageA = FindBundleEntry(*bundle, kTagCpuA, kTagImage);
  ASSERT_NE(imageA, nullptr);
  EXPECT_EQ(imageA->size, 5000u);
  const BundleNode* info = FindBundleEntry(*bundle, kTagCpuNone, kTagNoImage, "switchinfo.tgz");
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->name, "switchinfo.tgz");
  // An empty label matches only an empty label; a null one matches any.
  EXPECT_EQ(FindBundleEntry(*bundle, kTagCpuB, kTagImage, ""), nullptr);
  EXPECT_NE(FindBundleEntry(*bundle, kTagCpuB, kTagImage, "main"), nullptr);
  EXPECT_NE(FindBundleEntry(*bundle, kTagCpuB, kTagImage), nullptr);
  EXPECT_EQ(FindBundleEntry(*bundle, kTagCpuB, kTagImage, "Main"), nullptr);
  EXPECT_EQ(FindBundleEntry(*bundle, kTagCpuC, kTagImage), nullptr);
  EXPECT_EQ(FindBundleEntry(*bundle, kTagCpuA, kTagImage6), nullptr);
  // The file search stays inside the folder found.
  EXPECT_EQ(FindBundleEntry(*bundle, kTagCpuNone, kTagImage), nullptr);
  // The root is a directory like any other: tag 0 means any folder.
  EXPECT_EQ(FindBundleEntry(*bundle, 0, kTagImage), imageA);
}

TEST_F(BundleTest, ExtractsFilesAndLinkedFiles) {
  SampleBundle sample;
  auto bundle = OpenBundle(Write(sample.writer));
  ASSERT_NE(bundle, nullptr);
  const QString out = dir_.filePath("image");
  ASSERT_EQ(ExtractBundleEntry(*bundle, *FindBundleEntry(*bundle, kTagCpuA, kTagImage), out), 0);
  EXPECT_EQ(test::ReadFileOrEmpty(out), sample.imageA);
  EXPECT_EQ(QFileInfo(out).permissions() & (QFile::ReadOther | QFile::WriteOther), 0);

  // The link in CPU B is found by its target's tag and copies the target's data.
  const BundleNode* boot = FindBundleEntry(*bundle, kTagCpuB, kTagImageBoot);
  ASSERT_NE(boot, nullptr);
  EXPECT_EQ(boot->type, kBundleLink);
  ASSERT_EQ(ExtractBundleEntry(*bundle, *boot, out), 0);
  EXPECT_EQ(test::ReadFileOrEmpty(out), sample.bootA);

  // Extracting over an existing larger file truncates it.
  ASSERT_EQ(ExtractBundleEntry(*bundle, *FindBundleEntry(*bundle, kTagCpuNone, kTagNoImage), out),
            0);
  EXPECT_EQ(test::ReadFileOrEmpty(out), sample.info);
}

TEST_F(BundleTest, ExtractionFailures) {
  SampleBundle sample;
  const QString path = Write(sample.writer);
  auto bundle = OpenBundle(path);
  ASSERT_NE(bundle, nullptr);
  const BundleNode* image = FindBundleEntry(*bundle, kTagCpuA, kTagImage);
  EXPECT_EQ(ExtractBundleEntry(*bundle, *image, dir_.filePath("no/such/folder/x")), ENOENT);
  EXPECT_EQ(ExtractBundleEntry(*bundle, bundle->Root(), dir_.filePath("dir")), EINVAL);
  EXPECT_FALSE(QFile::exists(dir_.filePath("dir")));

  // A bundle cut short after opening ends the copy early, without an error.
  ASSERT_TRUE(QFile::resize(path, image->dataOffset + 100));
  const QString out = dir_.filePath("short");
  EXPECT_EQ(ExtractBundleEntry(*bundle, *image, out), 0);
  EXPECT_EQ(test::ReadFileOrEmpty(out), sample.imageA.left(100));
}

TEST_F(BundleTest, DefaultTargetNameCannotLeaveCurrentFolder) {
  BundleWriter writer(kBundleSwitch, "1_0");
  const int a = writer.AddDirectory(BundleWriter::kRoot, kTagCpuA);
  writer.AddFile(a, kTagImage, "../../escape", "", "data");
  writer.AddFile(a, kTagImageBoot, "..", "", "data");
  auto bundle = OpenBundle(Write(writer));
  ASSERT_NE(bundle, nullptr);
  QDir work(dir_.filePath("work"));
  ASSERT_TRUE(work.mkpath("."));
  const QString previous = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(work.path()));
  const int named = ExtractBundleEntry(*bundle, *FindBundleEntry(*bundle, kTagCpuA, kTagImage));
  const int dots = ExtractBundleEntry(*bundle, *FindBundleEntry(*bundle, kTagCpuA, kTagImageBoot));
  QDir::setCurrent(previous);
  EXPECT_EQ(named, 0);
  EXPECT_EQ(test::ReadFileOrEmpty(work.filePath("escape")), "data");
  EXPECT_FALSE(QFile::exists(dir_.filePath("escape")));
  EXPECT_EQ(dots, EINVAL);
}

TEST_F(BundleTest, HeaderFailuresAreReportedOnStderr) {
  EXPECT_EQ(ExpectRefused(dir_.filePath("missing.fwb"), ENOENT),
            "Failed to open '" + dir_.filePath("missing.fwb").toStdString() + "' for read: 2\n");
  EXPECT_EQ(ExpectRefused(dir_.path(), EISDIR),
            "Failed to open '" + dir_.path().toStdString() + "' for read: 21\n");
  // A path that looks like a placeholder is printed as it stands.
  EXPECT_EQ(ExpectRefused(dir_.filePath("v%2.fwb"), ENOENT),
            "Failed to open '" + dir_.filePath("v%2.fwb").toStdString() + "' for read: 2\n");

  BundleWriter v2(kBundleSwitch, "1");
  v2.SetFormatVersion(2);
  EXPECT_EQ(ExpectRefused(Write(v2), kBundleErrInvalid), "Unknown file version 2.\n");

  QByteArray shortString;
  AppendBundleU32(shortString, 1);
  AppendBundleU32(shortString, 2000);
  AppendBundleU32(shortString, 10);
  shortString.append("3_1");
  EXPECT_EQ(ExpectRefused(Write(shortString), kBundleErrInvalid),
            "Failed to read V1 file header: 22\n");
  EXPECT_EQ(ExpectRefused(Write(QByteArray("\0\0", 2)), kBundleErrInvalid),
            "Failed to read V1 file header: 22\n");

  // The caller may take the text instead of stderr.
  QString message;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(OpenBundle(Write(v2), nullptr, &message), nullptr);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(message, "Unknown file version 2.");
}

TEST_F(BundleTest, RootMustBeTaggedDirectoryOfThisFormat) {
  BundleWriter format0(kBundleSwitch, "1");
  format0.SetRootTag(kBundleRootTagBase);
  EXPECT_EQ(ExpectRefused(Write(format0), kBundleErrInvalid), "");
  BundleWriter fileRoot(kBundleSwitch, "1");
  fileRoot.SetRootType(kBundleFile);
  EXPECT_EQ(ExpectRefused(Write(fileRoot), kBundleErrInvalid), "");
}

TEST_F(BundleTest, VersionKeepsThirtyOneCharacters) {
  const QString forty = QString("1_").repeated(20);
  BundleWriter writer(kBundleSwitch, forty);
  writer.AddFile(writer.AddDirectory(BundleWriter::kRoot, kTagCpuA), kTagImage, "i", "", "xyz");
  auto bundle = OpenBundle(Write(writer));
  ASSERT_NE(bundle, nullptr);
  EXPECT_EQ(bundle->VersionString(), forty.left(31));
  // The rest of the string is skipped, so the tree still reads correctly.
  ASSERT_NE(FindBundleEntry(*bundle, kTagCpuA, kTagImage), nullptr);
}

TEST_F(BundleTest, EveryTruncationIsRefused) {
  SampleBundle sample;
  const QByteArray full = sample.writer.Build();
  const QString path = dir_.filePath("cut.fwb");
  for (qsizetype length = 0; length < full.size(); length += (length < 200 ? 1 : 97)) {
    test::WriteFileOrFail(path, full.left(length));
    ::testing::internal::CaptureStderr();
    auto bundle = OpenBundle(path);
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(bundle, nullptr) << "length " << length;
  }
}

TEST_F(BundleTest, AbsurdSizesAreRefusedWithoutAllocating) {
  BundleWriter hugeFile(kBundleSwitch, "1");
  const int a = hugeFile.AddDirectory(BundleWriter::kRoot, kTagCpuA);
  hugeFile.SetDeclaredSize(hugeFile.AddFile(a, kTagImage, "i", "", "abc"), 0xFFFFFFFFu);
  ExpectRefused(Write(hugeFile), kBundleErrDataPastEnd);

  BundleWriter hugeCount(kBundleSwitch, "1");
  hugeCount.SetDeclaredSize(hugeCount.AddDirectory(BundleWriter::kRoot, kTagCpuA), 0xFFFFFFFFu);
  ExpectRefused(Write(hugeCount), kBundleErrInvalid);

  // One child more than written: the count exceeds what is left.
  BundleWriter oneMore(kBundleSwitch, "1");
  const int d = oneMore.AddDirectory(BundleWriter::kRoot, kTagCpuA);
  oneMore.AddFile(d, kTagImage, "i", "", "abc");
  oneMore.SetDeclaredSize(d, 2);
  ExpectRefused(Write(oneMore), kBundleErrInvalid);

  QByteArray hugeName;
  AppendBundleU32(hugeName, 1);
  AppendBundleU32(hugeName, 2000);
  AppendBundleString(hugeName, "1");
  AppendBundleU32(hugeName, kBundleDirectory);
  AppendBundleU32(hugeName, kBundleRootTagBase + 1);
  AppendBundleU32(hugeName, 0x7FFFFFFF);  // name length
  ExpectRefused(Write(hugeName), kBundleErrInvalid);

  QByteArray hugeVersion;
  AppendBundleU32(hugeVersion, 1);
  AppendBundleU32(hugeVersion, 2000);
  AppendBundleU32(hugeVersion, 0xFFFFFFFFu);
  EXPECT_EQ(ExpectRefused(Write(hugeVersion), kBundleErrInvalid),
            "Failed to read V1 file header: 22\n");
}

TEST_F(BundleTest, UnknownNodeTypeIsRefused) {
  BundleWriter writer(kBundleSwitch, "1");
  writer.AddDirectory(BundleWriter::kRoot, kTagCpuA);
  QByteArray bytes = writer.Build();
  // Patch the child's type field (right after the root header).
  const qsizetype childHeader = writer.HeaderOffset(1);
  bytes[childHeader + 3] = 7;
  ExpectRefused(Write(bytes), kBundleErrInvalid);
}

TEST_F(BundleTest, NestingDepthIsBounded) {
  // Folders nested so that the file sits at `level` (the root is level 1),
  // written by hand: a writer would recurse as deep as the tree.
  auto nested = [](int level) {
    QByteArray bytes;
    AppendBundleU32(bytes, 1);
    AppendBundleU32(bytes, kBundleSwitch);
    AppendBundleString(bytes, "1");
    for (int i = 1; i < level; ++i) {
      AppendBundleU32(bytes, kBundleDirectory);
      AppendBundleU32(bytes, i == 1 ? kBundleRootTagBase + 1 : kTagCpuA);
      AppendBundleString(bytes, "");
      AppendBundleString(bytes, "");
      AppendBundleU32(bytes, 1);
    }
    AppendBundleU32(bytes, kBundleFile);
    AppendBundleU32(bytes, kTagImage);
    AppendBundleString(bytes, "deep");
    AppendBundleString(bytes, "");
    AppendBundleU32(bytes, 1);
    bytes.append('x');
    return bytes;
  };
  auto ok = OpenBundle(Write(nested(kBundleMaxDepth), "ok.fwb"));
  ASSERT_NE(ok, nullptr);
  EXPECT_NE(FindBundleEntry(*ok, kTagCpuA, kTagImage), nullptr);
  ExpectRefused(Write(nested(kBundleMaxDepth + 1), "deep.fwb"), kBundleErrInvalid);
  ExpectRefused(Write(nested(200000), "deeper.fwb"), kBundleErrInvalid);
}

TEST_F(BundleTest, LinksMustPointBackAtARealNode) {
  {
    // A link to a node later in the tree matches nothing read so far.
    BundleWriter writer(kBundleSwitch, "1");
    const int a = writer.AddDirectory(BundleWriter::kRoot, kTagCpuA);
    writer.AddLink(a, kTagImage, "l", "", 3);  // the file added next
    writer.AddFile(a, kTagImage, "later", "", "data");
    ExpectRefused(Write(writer), kBundleErrNoLinkTarget);
  }
  {
    // A link to itself, and a link to another link, never resolve.
    BundleWriter self(kBundleSwitch, "1");
    const int a = self.AddDirectory(BundleWriter::kRoot, kTagCpuA);
    self.AddLink(a, kTagImage, "l", "", 2);
    ExpectRefused(Write(self), kBundleErrNoLinkTarget);

    BundleWriter chain(kBundleSwitch, "1");
    const int c = chain.AddDirectory(BundleWriter::kRoot, kTagCpuA);
    const int f = chain.AddFile(c, kTagImage, "f", "", "data");
    const int l1 = chain.AddLink(c, kTagImage, "l1", "", f);
    chain.AddLink(c, kTagImage, "l2", "", l1);
    ExpectRefused(Write(chain), kBundleErrNoLinkTarget);
  }
  {
    // Offsets past the end or into the middle of data are refused.
    BundleWriter past(kBundleSwitch, "1");
    past.AddLinkToOffset(BundleWriter::kRoot, 0, "l", "", 0xFFFFFFF0u);
    ExpectRefused(Write(past), kBundleErrInvalid);

    BundleWriter middle(kBundleSwitch, "1");
    const int f = middle.AddFile(BundleWriter::kRoot, kTagImage, "f", "", QByteArray(64, '\0'));
    middle.AddLinkToOffset(BundleWriter::kRoot, 0, "l", "", middle.HeaderOffset(f) + 40);
    ExpectRefused(Write(middle), kBundleErrNoLinkTarget);
  }
}

TEST_F(BundleTest, LinkToAnAncestorFolderDoesNotLoop) {
  BundleWriter writer(kBundleSwitch, "1");
  const int a = writer.AddDirectory(BundleWriter::kRoot, kTagCpuA);
  const int b = writer.AddDirectory(a, kTagCpuB);
  writer.AddLink(b, 0, "up", "", a);
  writer.AddLink(b, 0, "root", "", BundleWriter::kRoot);
  writer.AddFile(b, kTagImage, "i", "", "data");
  auto bundle = OpenBundle(Write(writer));
  ASSERT_NE(bundle, nullptr);
  const BundleNode* up = bundle->Root().children[0]->children[0]->children[0].get();
  EXPECT_EQ(up->target, bundle->Root().children[0].get());
  EXPECT_NE(FindBundleEntry(*bundle, kTagCpuB, kTagImage), nullptr);
  EXPECT_EQ(FindBundleEntry(*bundle, kTagCpuC, kTagImage), nullptr);
  EXPECT_EQ(ExtractBundleEntry(*bundle, *up, dir_.filePath("up")), EINVAL);
}

TEST_F(BundleTest, OemCheck) {
  BundleWriter own(kBundleSwitch, "1");
  BundleWriter acme(kBundleSwitch, "1", "ACME");
  auto ownBundle = OpenBundle(Write(own, "own.fwb"));
  auto acmeBundle = OpenBundle(Write(acme, "acme.fwb"));
  ASSERT_NE(ownBundle, nullptr);
  ASSERT_NE(acmeBundle, nullptr);
  EXPECT_EQ(BundleOemWord("  korvid  "), "");
  EXPECT_EQ(BundleOemWord(" Acme\t"), "Acme");
  EXPECT_TRUE(BundleMatchesOem(*ownBundle, "  korvid  "));
  EXPECT_TRUE(BundleMatchesOem(*ownBundle));
  EXPECT_FALSE(BundleMatchesOem(*acmeBundle));
  EXPECT_TRUE(BundleMatchesOem(*acmeBundle, "acme"));
  EXPECT_FALSE(BundleMatchesOem(*ownBundle, "acme"));
}

}  // namespace
}  // namespace fwl
