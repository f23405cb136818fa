// The archive tool against the real 7za, with archives made by the Debian
// tools (7za, tar, gzip) in the test's private temporary folder.
#include "catalogue/archive_tool.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include "app/settings.h"
#include "catalogue/archive_listing.h"
#include "platform/system_folders.h"
#include "support/scripted_ui.h"
#include "support/test_util.h"

namespace fwl {
namespace {

using test::ReadFileOrEmpty;
using test::WriteFileOrFail;

// A fixed member time (2021-03-04 05:06:08 UTC) so listed times can be
// compared with what was stored.
constexpr qint64 kMemberTime = 1614834368;

class ArchiveToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(src_.isValid());
    ui_ = std::make_unique<ScopedUi>(&scripted_);
  }

  QString Src(const QString& name) const { return src_.filePath(name); }

  // Writes a file under the source folder with the fixed member time.
  void MakeFile(const QString& name, const QByteArray& data) {
    WriteFileOrFail(Src(name), data);
    QFile f(Src(name));
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.setFileTime(QDateTime::fromSecsSinceEpoch(kMemberTime),
                              QFileDevice::FileModificationTime));
  }

  // Runs a Debian tool in the source folder; fails the test unless it exits 0.
  void Run(const QString& program, const QStringList& args) {
    QProcess p;
    p.setWorkingDirectory(src_.path());
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    ASSERT_TRUE(p.waitForFinished(30000)) << program.toStdString();
    ASSERT_EQ(p.exitCode(), 0) << program.toStdString() << ": " << p.readAll().toStdString();
  }

  QString Gzip(const QString& name, const QString& out, bool keepName = true) {
    QProcess p;
    p.setWorkingDirectory(src_.path());
    p.setStandardOutputFile(Src(out));
    p.start(QStringLiteral("gzip"),
            {keepName ? QStringLiteral("-c") : QStringLiteral("-cn"), name});
    EXPECT_TRUE(p.waitForFinished(30000));
    return Src(out);
  }

  static QStringList FileNames(const QList<ArchiveEntry>& entries) {
    QStringList names;
    for (const ArchiveEntry& e : entries) names.append(e.archivePath);
    names.sort();
    return names;
  }

  QTemporaryDir src_;
  test::ScriptedUi scripted_;
  std::unique_ptr<ScopedUi> ui_;
};

TEST_F(ArchiveToolTest, ZipIsUnpackedListedAndSearched) {
  MakeFile("kvimage_razeb3_1_2", "image");
  MakeFile("sub/file.bin", "sub file");
  MakeFile("sub/[Content].xml", "<x/>");
  Run("7za", {"a", "pkg.zip", "kvimage_razeb3_1_2", "sub"});

  ArchiveTool tool;
  ASSERT_EQ(tool.Open(Src("pkg.zip")), kArchiveOk);
  const QString work = tool.workFolder();
  EXPECT_TRUE(work.endsWith(u"/kvfwload/")) << work.toStdString();
  EXPECT_EQ(tool.appsFolder(), work + "KORVID_APPS/");
  EXPECT_TRUE(tool.entryNames().contains("sub/file.bin"));

  QList<ArchiveEntry> entries;
  EXPECT_EQ(tool.ListEntries(entries), kArchiveOk);
  // The folder and the "[Content]" file are not entries.
  EXPECT_EQ(FileNames(entries), QStringList({"/kvimage_razeb3_1_2", "/sub/file.bin"}));
  for (const ArchiveEntry& e : entries) {
    EXPECT_EQ(e.modificationTime, kMemberTime) << e.archivePath.toStdString();
    EXPECT_TRUE(e.fullPath.startsWith(work));
    if (e.archivePath == "/sub/file.bin") {
      EXPECT_EQ(e.fileName, "file.bin");
      EXPECT_EQ(e.size, 8);
      EXPECT_EQ(ReadFileOrEmpty(e.fullPath), "sub file");
    }
  }
  EXPECT_EQ(tool.ModificationTime("/sub/file.bin"), kMemberTime);
  EXPECT_EQ(tool.ModificationTime("/missing"), 0u);

  FindResult found;
  EXPECT_EQ(tool.Find("\\sub\\file.bin", &found), kArchiveOk);
  EXPECT_EQ(found.path, work + "sub/file.bin");
  EXPECT_EQ(found.size, 8);
  found = {};
  EXPECT_EQ(tool.Find("KVIMAGE_raz*", &found), kArchiveOk);  // patterns ignore case
  EXPECT_EQ(found.count, 1);
  EXPECT_EQ(found.path, work + "kvimage_razeb3_1_2");
  EXPECT_EQ(tool.Find("kvimage_mugt*", &found), kArchiveFilesNotFound);
  EXPECT_EQ(tool.Find("nothing.bin", &found), kArchiveFilesNotFound);
  EXPECT_EQ(tool.Find("../pkg.zip", &found), kArchiveFilesNotFound);
  EXPECT_EQ(tool.Find("", &found), kArchiveAccessError);
  EXPECT_EQ(tool.Find("x", nullptr), kArchiveAccessError);
  // The runner showed the wait cursor and took it away again.
  EXPECT_EQ(scripted_.waitCursorDepth(), 0);

  EXPECT_EQ(tool.Cleanup(), 0);
  EXPECT_FALSE(QFileInfo::exists(work));
  EXPECT_EQ(tool.Find("x", &found), kArchiveAccessError);
}

TEST_F(ArchiveToolTest, CompressedTarsUnpackTheTarAndPackagesGoToTheAppsFolder) {
  MakeFile("kvimage_razeb3_1_2", "fs image");
  MakeFile("kvimageb_razeb3_1_2", "boot image");
  Run("tar", {"cf", "inner.tar", "kvimage_razeb3_1_2", "kvimageb_razeb3_1_2"});
  Run("tar", {"czf", "plain.tgz", "kvimage_razeb3_1_2", "kvimageb_razeb3_1_2"});
  Gzip("inner.tar", "pkg.tar.gz");
  QFile::copy(Src("plain.tgz"), Src("kvfirm_razeb3_1_999.tgz"));
  QFile::copy(Src("plain.tgz"), Src("kvfirm_razeb3_1_999.TGZ"));
  QFile::copy(Src("plain.tgz"), Src("kvfirm_x.tgz"));  // base name too short for a package

  struct Case {
    const char* archive;
    bool inApps;
  };
  for (const Case& c :
       {Case{"plain.tgz", false}, Case{"pkg.tar.gz", false}, Case{"kvfirm_razeb3_1_999.tgz", true},
        Case{"kvfirm_razeb3_1_999.TGZ", false}, Case{"kvfirm_x.tgz", false}}) {
    SCOPED_TRACE(c.archive);
    ArchiveTool tool;
    ASSERT_EQ(tool.Open(Src(c.archive)), kArchiveOk);
    EXPECT_EQ(tool.entryNames(), QStringList({"kvimage_razeb3_1_2", "kvimageb_razeb3_1_2"}));
    QList<ArchiveEntry> entries;
    EXPECT_EQ(tool.ListEntries(entries), kArchiveOk);
    ASSERT_EQ(entries.size(), 2);
    const QString root = c.inApps ? tool.appsFolder() : tool.workFolder();
    EXPECT_EQ(entries[0].fullPath, root + "kvimage_razeb3_1_2");
    EXPECT_EQ(entries[0].archivePath, "/kvimage_razeb3_1_2");
    EXPECT_EQ(entries[0].modificationTime, kMemberTime);
    EXPECT_EQ(ReadFileOrEmpty(entries[1].fullPath), "boot image");
  }
}

TEST_F(ArchiveToolTest, GzOfASingleImageYieldsTheImage) {
  MakeFile("kvimage_razeb3_1_2", "compressed image");
  Gzip("kvimage_razeb3_1_2", "kvimage_razeb3_1_2.gz");
  Gzip("kvimage_razeb3_1_2", "nodate.gz", /*keepName=*/false);  // no name, no time

  ArchiveTool tool;
  ASSERT_EQ(tool.Open(Src("kvimage_razeb3_1_2.gz")), kArchiveOk);
  QList<ArchiveEntry> entries;
  EXPECT_EQ(tool.ListEntries(entries), kArchiveOk);
  ASSERT_EQ(entries.size(), 1);
  EXPECT_EQ(entries[0].fileName, "kvimage_razeb3_1_2");
  EXPECT_EQ(ReadFileOrEmpty(entries[0].fullPath), "compressed image");
  EXPECT_EQ(entries[0].modificationTime, kMemberTime);

  ASSERT_EQ(tool.Open(Src("nodate.gz")), kArchiveOk);
  entries.clear();
  EXPECT_EQ(tool.ListEntries(entries), kArchiveOk);
  ASSERT_EQ(entries.size(), 1);
  EXPECT_EQ(entries[0].fileName, "nodate");
}

TEST_F(ArchiveToolTest, CompressedTarNamesNeedATarInside) {
  MakeFile("kvimage_razeb3_1_2", "not a tar at all");
  Gzip("kvimage_razeb3_1_2", "pkg3_1_2.tgz");
  Gzip("kvimage_razeb3_1_2", "pkg3_1_2.tar.gz");

  ArchiveTool tool;
  QList<ArchiveEntry> entries;
  EXPECT_EQ(tool.Open(Src("pkg3_1_2.tgz")), kArchiveUnpackFailed);
  tool.ListEntries(entries);
  EXPECT_TRUE(entries.isEmpty());
  EXPECT_EQ(tool.Open(Src("pkg3_1_2.tar.gz")), kArchiveUnpackFailed);
}

TEST_F(ArchiveToolTest, CorruptAndUnsupportedFilesFailTheTestButAreCopied) {
  WriteFileOrFail(Src("kvimage_razeb3_1_2.zip"), test::RandomBytes(3000, 7));
  WriteFileOrFail(Src("image.rar"), test::RandomBytes(500, 8));
  MakeFile("kvimage_razeb3_1_2", QByteArray(4096, 'x'));
  Run("tar", {"czf", "whole.tgz", "kvimage_razeb3_1_2"});
  QByteArray truncated = ReadFileOrEmpty(Src("whole.tgz"));
  truncated.chop(truncated.size() / 2);
  WriteFileOrFail(Src("truncated.tgz"), truncated);

  for (const char* name : {"kvimage_razeb3_1_2.zip", "image.rar", "truncated.tgz"}) {
    SCOPED_TRACE(name);
    ArchiveTool tool;
    EXPECT_EQ(tool.Open(Src(name)), kArchiveTestFailed);
    // The file itself is in the work folder under its name without extension.
    FindResult found;
    EXPECT_EQ(tool.Find(QFileInfo(name).completeBaseName(), &found), kArchiveOk);
    EXPECT_EQ(found.size, QFileInfo(Src(name)).size());
    QList<ArchiveEntry> entries;
    EXPECT_EQ(tool.ListEntries(entries), kArchiveOk);
    EXPECT_TRUE(entries.isEmpty());
  }

  // A file without extension is not run through the tool at all.
  ArchiveTool tool;
  EXPECT_EQ(tool.Open(Src("kvimage_razeb3_1_2")), kArchiveOk);
  FindResult found;
  EXPECT_EQ(tool.Find("kvimage_razeb3_1_2", &found), kArchiveOk);
  EXPECT_EQ(found.size, 4096);
}

TEST_F(ArchiveToolTest, EncryptedArchiveFailsInsteadOfWaitingForAPassword) {
  MakeFile("kvimage_razeb3_1_2", "secret");
  Run("7za", {"a", "-psecret", "locked.zip", "kvimage_razeb3_1_2"});
  ArchiveTool tool;
  const int result = tool.Open(Src("locked.zip"));
  EXPECT_TRUE(result == kArchiveTestFailed || result == kArchiveUnpackFailed) << result;
}

TEST_F(ArchiveToolTest, LongListingsAreKeptWhole) {
  // 300 members with long names give far more than 8092 characters of
  // listing, which an output buffer of that size would have cut.
  QStringList names;
  for (int i = 0; i < 300; ++i) {
    const QString name = QStringLiteral("deep/folder/name/kvimage_member_with_a_long_name_%1")
                             .arg(i, 4, 10, QChar('0'));
    MakeFile(name, QByteArray::number(i));
    names.append(name);
  }
  Run("tar", {"czf", "many.tgz", "deep"});
  ArchiveTool tool;
  ASSERT_EQ(tool.Open(Src("many.tgz")), kArchiveOk);
  QList<ArchiveEntry> entries;
  EXPECT_EQ(tool.ListEntries(entries), kArchiveOk);
  EXPECT_EQ(entries.size(), 300);
  EXPECT_GT(tool.lastOutput().size(), 8092);
  QString output;
  ASSERT_TRUE(tool.RunCommand({"l", tool.workFolder() + "many.tar"}, &output));
  EXPECT_GT(output.size(), 8092);
  EXPECT_TRUE(output.contains(names.last()));
}

// Writes a tar whose member names and link targets are given verbatim, which
// the tar program itself refuses to produce.
void WriteRawTar(const QString& path,
                 const QList<std::tuple<QByteArray, QByteArray, char>>& members) {
  QByteArray out;
  for (const auto& [name, payload, type] : members) {
    QByteArray header(512, '\0');
    header.replace(0, name.size(), name);
    header.replace(100, 7, "0000644");
    header.replace(108, 7, "0000000");
    header.replace(116, 7, "0000000");
    const QByteArray size =
        QByteArray::number(type == '2' ? 0 : payload.size(), 8).rightJustified(11, '0');
    header.replace(124, 11, size);
    header.replace(136, 11, "14010335320");
    header[156] = type;
    if (type == '2') header.replace(157, payload.size(), payload);
    header.replace(257, 6, QByteArray("ustar\0", 6));
    header.replace(263, 2, "00");
    header.replace(148, 8, "        ");
    unsigned sum = 0;
    for (char c : header) sum += static_cast<unsigned char>(c);
    header.replace(148, 7, QByteArray::number(sum, 8).rightJustified(6, '0') + '\0');
    out += header;
    if (type != '2') {
      out += payload;
      out += QByteArray((512 - payload.size() % 512) % 512, '\0');
    }
  }
  out += QByteArray(1024, '\0');
  WriteFileOrFail(path, out);
}

TEST_F(ArchiveToolTest, MembersNeverLandOutsideTheWorkFolder) {
  const QString outside = TempFolder() + "escaped";
  QDir().mkpath(outside);
  WriteRawTar(Src("dotdot.tar"), {{"../../escaped/dd.txt", "evil", '0'}});
  WriteRawTar(Src("absolute.tar"), {{(outside + "/abs.txt").toUtf8(), "evil", '0'}});
  WriteRawTar(Src("link.tar"), {{"lnk", outside.toUtf8(), '2'}, {"lnk/via_link.txt", "evil", '0'}});
  WriteRawTar(Src("rellink.tar"),
              {{"up", "../../../escaped", '2'}, {"kvimage_razeb3_1_2", "fine", '0'}});

  for (const char* name : {"dotdot.tar", "absolute.tar", "link.tar", "rellink.tar"}) {
    SCOPED_TRACE(name);
    ArchiveTool tool;
    const int result = tool.Open(Src(name));
    EXPECT_TRUE(result == kArchiveUnpackFailed || result == kArchiveOk) << result;
    EXPECT_TRUE(QDir(outside).isEmpty());
    // Nothing listed resolves to a file outside the work folder.
    QList<ArchiveEntry> entries;
    tool.ListEntries(entries);
    for (const ArchiveEntry& e : entries)
      EXPECT_TRUE(QFileInfo(e.fullPath)
                      .canonicalFilePath()
                      .startsWith(QFileInfo(tool.workFolder()).canonicalFilePath()))
          << e.fullPath.toStdString();
    FindResult found;
    EXPECT_NE(tool.Find("up/escaped", &found), kArchiveOk);
  }
  EXPECT_EQ(ArchiveTool().Open(Src("dotdot.tar")), kArchiveUnpackFailed);
  EXPECT_EQ(ArchiveTool().Open(Src("absolute.tar")), kArchiveUnpackFailed);
}

TEST_F(ArchiveToolTest, WorkFolderTakesTheNextFreeNumberAndGivesUpAfterAHundred) {
  const QString temp = TempFolder();
  QDir().mkpath(temp + "kvfwload");
  WriteFileOrFail(temp + "kvfwload/leftover", "old");
  ArchiveTool first;
  EXPECT_EQ(first.CreateWorkFolder("kvfwload"), temp + "kvfwload1/");
  EXPECT_TRUE(QFileInfo(first.appsFolder()).isDir());
  // Cleanup removes only its own folder.
  EXPECT_EQ(first.Cleanup(), 0);
  EXPECT_FALSE(QFileInfo::exists(temp + "kvfwload1"));
  EXPECT_TRUE(QFileInfo::exists(temp + "kvfwload/leftover"));

  for (int n = 1; n <= 100; ++n) QDir().mkpath(temp + "kvfwload" + QString::number(n));
  MakeFile("kvimage_razeb3_1_2", "x");
  ArchiveTool tool;
  EXPECT_EQ(tool.Open(Src("kvimage_razeb3_1_2")), kArchiveNoWorkFolder);
  EXPECT_TRUE(tool.workFolder().isEmpty());
  for (int n = 1; n <= 100; ++n) QDir().rmdir(temp + "kvfwload" + QString::number(n));
}

TEST_F(ArchiveToolTest, ToolMissingOrHangingFailsTheUnpack) {
  MakeFile("kvimage_razeb3_1_2", "x");
  Run("7za", {"a", "ok.zip", "kvimage_razeb3_1_2"});
  {
    ArchiveTool tool;
    tool.setToolName(Src("no-such-7za"));
    EXPECT_EQ(tool.Open(Src("ok.zip")), kArchiveUnpackFailed);
    QString output;
    EXPECT_FALSE(tool.RunCommand({"l"}, &output));
    EXPECT_TRUE(output.isEmpty());
  }
  {
    WriteFileOrFail(Src("slow-7za"), "#!/bin/sh\nsleep 20\n");
    QFile::setPermissions(Src("slow-7za"), QFile::ReadOwner | QFile::ExeOwner | QFile::WriteOwner);
    SetSettingInt(kSectionConsolePipe, "timeout", 300);
    ArchiveTool tool;
    tool.setToolName(Src("slow-7za"));
    EXPECT_EQ(tool.Open(Src("ok.zip")), kArchiveUnpackFailed);
    SetSettingInt(kSectionConsolePipe, "timeout", 8000);
  }
  {
    // A test run that prints nothing has not judged the archive: the
    // extraction decides.
    WriteFileOrFail(Src("mute-test-7za"), "#!/bin/sh\n[ \"$1\" = t ] && exit 0\nexec 7za \"$@\"\n");
    QFile::setPermissions(Src("mute-test-7za"),
                          QFile::ReadOwner | QFile::ExeOwner | QFile::WriteOwner);
    ArchiveTool tool;
    tool.setToolName(Src("mute-test-7za"));
    EXPECT_EQ(tool.Open(Src("ok.zip")), kArchiveOk);
    FindResult found;
    EXPECT_EQ(tool.Find("kvimage_razeb3_1_2", &found), kArchiveOk);
  }
}

TEST(ArchiveToolMessages, EveryCodeHasItsTextAndOthersTheCallers) {
  EXPECT_EQ(ArchiveTool::ResultMessage(-100),
            "Unable to access/create a temporary storage location for unpacking archived files.");
  EXPECT_EQ(ArchiveTool::ResultMessage(-101), "Unable to unpack files from the selected archive.");
  EXPECT_EQ(ArchiveTool::ResultMessage(-102),
            "Unable to locate appropriate files in the selected archive.");
  EXPECT_EQ(ArchiveTool::ResultMessage(-103),
            "An error was found while attempting to access file(s) within the selected archive.");
  EXPECT_EQ(ArchiveTool::ResultMessage(-104),
            "The integrity test performed on the selected archive failed. The file may be corrupt "
            "or of an unsupported archive type.");
  EXPECT_EQ(ArchiveTool::ResultMessage(-105),
            "The selected archive does not contain any user files.");
  EXPECT_EQ(ArchiveTool::ResultMessage(-12),
            "The selected station type is not supported at this time.");
  EXPECT_EQ(ArchiveTool::ResultMessage(-11), "The selected archive type is not supported.");
  EXPECT_EQ(ArchiveTool::ResultMessage(-10), "Unable to access the selected file for reading.");
  EXPECT_EQ(ArchiveTool::ResultMessage(-1, "own text"), "own text");
  EXPECT_EQ(ArchiveTool::ResultMessage(0), "");
}

// The listing layout of older archiver versions: shorter separator line,
// "\r\n" line ends, no "Type" line.
TEST(ArchiveListingParser, ReadsOlderAndNewerLayouts) {
  const QString older =
      "\r\n7-Zip (A) 4.57  Copyright (c) 1999-2007 Igor Pavlov  2007-12-06\r\n\r\n"
      "Listing archive: x.tar\r\n\r\n"
      "   Date      Time    Attr         Size   Compressed  Name\r\n"
      "------------------- ----- ------------ ------------  ------------\r\n"
      "2009-06-01 12:30:00 ....A        10240        10240  kvimage_razeb3_1_2\r\n"
      "2009-06-01 12:30:00 D....            0            0  sub\r\n"
      "2009-06-01 12:30:00 ....A            5            5  sub\\a b.bin  \r\n"
      "------------------- ----- ------------ ------------  ------------\r\n"
      "                                 10245        10245  2 files, 1 folders\r\n";
  const ArchiveListing a = ParseArchiveListing(older);
  ASSERT_TRUE(a.valid);
  ASSERT_EQ(a.members.size(), 3);
  EXPECT_EQ(a.members[0].name, "kvimage_razeb3_1_2");
  EXPECT_EQ(a.members[0].size, 10240);
  EXPECT_EQ(a.members[0].time, QDateTime(QDate(2009, 6, 1), QTime(12, 30)).toSecsSinceEpoch());
  EXPECT_TRUE(a.members[1].isFolder());
  EXPECT_EQ(a.members[2].name, "sub\\a b.bin");

  // Wider columns than the old fixed offsets, a name with a leading blank,
  // a member without date.
  const QString wider =
      "--\nPath = y.tar\nType = tar\n\n"
      "   Date      Time    Attr           Size     Compressed  Name\n"
      "------------------- ----- -------------- --------------  ------------------------\n"
      "2020-01-02 03:04:05 .....   123456789012        1234567   lead.txt\n"
      "                    .....              7              7  nodate\n"
      "------------------- ----- -------------- --------------  ------------------------\n";
  const ArchiveListing b = ParseArchiveListing(wider);
  ASSERT_TRUE(b.valid);
  EXPECT_EQ(b.type, "tar");
  ASSERT_EQ(b.members.size(), 2);
  EXPECT_EQ(b.members[0].name, " lead.txt");
  EXPECT_EQ(b.members[0].size, 123456789012);
  EXPECT_EQ(b.members[1].name, "nodate");
  EXPECT_EQ(b.members[1].time, 0u);
}

TEST(ArchiveListingParser, OddOutputYieldsNothingAndNeverCrashes) {
  EXPECT_FALSE(ParseArchiveListing("").valid);
  EXPECT_FALSE(ParseArchiveListing("ERROR: x.zip\nCan not open the file as archive\n--\n").valid);
  // Header and separator but no members.
  EXPECT_TRUE(ParseArchiveListing("Name\n----- -----\n----- -----\n").members.isEmpty());
  const QByteArray junk = test::RandomBytes(20000, 3);
  ParseArchiveListing(QString::fromLatin1(junk));
  ParseArchiveListing("  Date Time Name\n- - -\n" + QString(5000, u'x') + "\n");
}

// Text the archive itself carries must not shape the table: a comment with a
// table of its own (as the archiver prints a zip comment), and a header and
// separator of thousands of columns, which took minutes to read when every
// header word was compared with every column.
TEST(ArchiveListingParser, ArchiveTextDoesNotShapeTheTable) {
  const QString commented =
      "--\nPath = c.zip\nType = zip\nPhysical Size = 416\nComment = \n{\nnotes\n"
      "   Date      Time    Attr         Size   Compressed  Name\n"
      "------------------- ----- ------------ ------------  ------------------------\n"
      "2026-01-01 00:00:00 .....            1            1  fake\n"
      "------------------- ----- ------------ ------------  ------------------------\n"
      "}\n\n"
      "   Date      Time    Attr         Size   Compressed  Name\n"
      "------------------- ----- ------------ ------------  ------------------------\n"
      "2026-12-09 10:46:32 .....            6            6  ../kvimage_a\n"
      "------------------- ----- ------------ ------------  ------------------------\n";
  const ArchiveListing listing = ParseArchiveListing(commented);
  ASSERT_EQ(listing.members.size(), 1);
  EXPECT_EQ(listing.members[0].name, "../kvimage_a");
  EXPECT_EQ(listing.members[0].size, 6);
  EXPECT_EQ(listing.type, "zip");

  const int columns = 40000;
  QString wide = "Name";
  for (int i = 0; i < columns; ++i) wide += " a";
  wide += "\n";
  for (int i = 0; i < columns; ++i) wide += "- ";
  wide += "-\nkvimage_b\n";
  const ArchiveListing many = ParseArchiveListing(wide);
  ASSERT_EQ(many.members.size(), 1);
  EXPECT_EQ(many.members[0].name, "kvimage_b");
}

TEST(ArchiveListingParser, ExtractedNamesInBothForms) {
  EXPECT_EQ(ParseExtractedNames("Extracting archive: k.tgz\n--\nPath = k.tgz\n\n- k.tar\n"
                                "Everything is Ok\n"),
            QStringList({"k.tar"}));
  EXPECT_EQ(ParseExtractedNames("Processing archive: k.tgz\r\n\r\nExtracting  k.tar   \r\n\r\n"
                                "Everything is Ok\r\n"),
            QStringList({"k.tar"}));
  EXPECT_TRUE(ParseExtractedNames("Extracting archive: k.tgz\nEverything is Ok\n").isEmpty());
}

TEST(ArchiveListingParser, EscapingNames) {
  for (const char* bad : {"/etc/passwd", "\\x", "../a", "a/../../b", "a\\..\\b", "C:evil", ".."})
    EXPECT_TRUE(MemberNameEscapes(bad)) << bad;
  for (const char* good : {"a", "a/b", "..a", "a..b/c", "sub\\file.bin", "...", ""})
    EXPECT_FALSE(MemberNameEscapes(good)) << good;
}

}  // namespace
}  // namespace fwl
