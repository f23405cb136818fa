// The Debian package made from this build tree: what it holds, that its
// manual page and completion know exactly the subcommands "fwload --help"
// lists, that its post-install step tolerates a system without file
// capabilities, and that the programs run from wherever it is unpacked.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <memory>

#include "support/test_util.h"

namespace fwl::test {
namespace {

struct ToolRun {
  bool ok = false;  // ended normally with exit code 0
  QByteArray out;
  QByteArray err;
};

ToolRun Exec(const QString& program, const QStringList& args, int timeoutMs = 60000,
             const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
  QProcess process;
  process.setProcessEnvironment(env);
  process.start(program, args);
  if (!process.waitForFinished(timeoutMs)) {
    process.kill();
    process.waitForFinished(5000);
    return {false, process.readAllStandardOutput(), "did not end in time"};
  }
  return {process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0,
          process.readAllStandardOutput(), process.readAllStandardError()};
}

QSet<QString> Captures(const QString& text, const QString& pattern) {
  QSet<QString> found;
  const QRegularExpression re(pattern, QRegularExpression::MultilineOption);
  for (auto it = re.globalMatch(text); it.hasNext();) found.insert(it.next().captured(1));
  return found;
}

class PackageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (QStandardPaths::findExecutable("dpkg-deb").isEmpty()) {
      skipReason_ = "dpkg-deb not found: the Debian package is not built or checked here";
      return;
    }
    work_ = std::make_unique<QTemporaryDir>();
    // gzip instead of the package's xz: the same contents in a quarter of
    // the time. Without dpkg-shlibdeps (dpkg-dev) the package names only its
    // fixed dependencies.
    hasShlibdeps_ = !QStandardPaths::findExecutable("dpkg-shlibdeps").isEmpty();
    QStringList args{"-G",       "DEB",
                     "-B",       work_->path(),
                     "--config", QStringLiteral(FWL_BINARY_DIR "/CPackConfig.cmake"),
                     "-D",       "CPACK_DEBIAN_COMPRESSION_TYPE=gzip"};
    if (!hasShlibdeps_)
      args << "-D"
           << "CPACK_DEBIAN_PACKAGE_SHLIBDEPS=OFF";
    const ToolRun cpack = Exec(QStringLiteral(FWL_CPACK_COMMAND), args, 240000);
    if (!cpack.ok) {
      buildError_ = cpack.out + cpack.err;
      return;
    }
    const QStringList debs = QDir(work_->path()).entryList({"*.deb"}, QDir::Files);
    if (debs.size() == 1) deb_ = work_->filePath(debs[0]);
    root_ = work_->filePath("root");
    if (!deb_.isEmpty() && !Exec("dpkg-deb", {"-x", deb_, root_}).ok) root_.clear();
  }
  static void TearDownTestSuite() { work_.reset(); }

  void SetUp() override {
    if (skipReason_) GTEST_SKIP() << skipReason_;
    ASSERT_FALSE(deb_.isEmpty()) << "cpack made no package:\n" << buildError_.constData();
    ASSERT_FALSE(root_.isEmpty()) << "dpkg-deb -x failed on " << qPrintable(deb_);
  }

  static QString InRoot(const QString& path) { return root_ + path; }

  static bool BuiltWizard() {
    return QFileInfo::exists(QStringLiteral(FWL_BINARY_DIR "/fwloader"));
  }

  void CheckContents();
  void CheckControlAndPostInstall();
  void CheckSubcommandLists();
  void CheckUnpackedRoot();

  static inline std::unique_ptr<QTemporaryDir> work_;
  static inline const char* skipReason_ = nullptr;
  static inline QByteArray buildError_;
  static inline QString deb_;
  static inline QString root_;
  static inline bool hasShlibdeps_ = false;
};

void PackageTest::CheckContents() {
  const ToolRun list = Exec("dpkg-deb", {"-c", deb_});
  ASSERT_TRUE(list.ok);
  QStringList paths;
  for (const QString& line : QString::fromUtf8(list.out).split('\n', Qt::SkipEmptyParts))
    paths << line.section(' ', -1);  // "drwxr-xr-x root/root 0 date ./usr/bin/" -> the path
  for (const QString& path : paths)
    EXPECT_TRUE(path == "./" || path.startsWith("./usr/")) << qPrintable(path);

  QStringList expected{"./usr/bin/fwload",
                       "./usr/share/man/man1/fwload.1.gz",
                       "./usr/share/bash-completion/completions/fwload",
                       "./usr/share/firmware-loader/help/msfirmload.html",
                       "./usr/share/firmware-loader/help/zebfirmload.html",
                       "./usr/share/firmware-loader/samples/firmware/mums_3_3_1.fwb",
                       "./usr/share/doc/firmware-loader/copyright",
                       "./usr/share/doc/firmware-loader/changelog.gz"};
  if (BuiltWizard()) {
    expected << "./usr/bin/fwloader"
             << "./usr/share/man/man1/fwloader.1.gz"
             << "./usr/share/applications/fwloader.desktop"
             << "./usr/share/metainfo/com.brantwell.fwloader.metainfo.xml"
             << "./usr/share/icons/hicolor/scalable/apps/firmware-loader.svg";
    for (int size : {16, 24, 32, 48, 64, 128, 256})
      expected
          << QStringLiteral("./usr/share/icons/hicolor/%1x%1/apps/firmware-loader.png").arg(size);
  }
  for (const QString& path : expected) EXPECT_TRUE(paths.contains(path)) << qPrintable(path);

  // Each PNG is the size its folder names (width and height from the header).
  for (int size : {16, 48, 256}) {
    if (!BuiltWizard()) break;
    QFile png(InRoot(
        QStringLiteral("/usr/share/icons/hicolor/%1x%1/apps/firmware-loader.png").arg(size)));
    ASSERT_TRUE(png.open(QIODevice::ReadOnly));
    const QByteArray head = png.read(24);
    ASSERT_EQ(head.size(), 24);
    EXPECT_TRUE(head.startsWith("\x89PNG"));
    EXPECT_EQ(qFromBigEndian<quint32>(head.constData() + 16), quint32(size));
    EXPECT_EQ(qFromBigEndian<quint32>(head.constData() + 20), quint32(size));
  }

  // The desktop entry starts the wizard by its installed name with the icon
  // shipped; where the validators are at hand (scripts/package installs
  // them) the entry and the metainfo pass them.
  if (BuiltWizard()) {
    const QString desktopFile = InRoot("/usr/share/applications/fwloader.desktop");
    const QByteArray desktop = ReadFileOrEmpty(desktopFile);
    EXPECT_TRUE(desktop.contains("\nExec=fwloader\n"));
    EXPECT_TRUE(desktop.contains("\nIcon=firmware-loader\n"));
    if (!QStandardPaths::findExecutable("desktop-file-validate").isEmpty()) {
      const ToolRun valid = Exec("desktop-file-validate", {desktopFile});
      EXPECT_TRUE(valid.ok && valid.out.isEmpty()) << valid.out.constData();
    }
    if (!QStandardPaths::findExecutable("appstreamcli").isEmpty()) {
      const ToolRun valid =
          Exec("appstreamcli", {"validate", "--no-net",
                                InRoot("/usr/share/metainfo/com.brantwell.fwloader.metainfo.xml")});
      EXPECT_TRUE(valid.ok) << valid.out.constData();
    }
  }
}

void PackageTest::CheckControlAndPostInstall() {
  const ToolRun fields =
      Exec("dpkg-deb", {"-f", deb_, "Package", "Version", "Depends", "Recommends", "Description"});
  ASSERT_TRUE(fields.ok);
  const QString control = QString::fromUtf8(fields.out);
  EXPECT_TRUE(control.contains("Package: firmware-loader\n"));
  EXPECT_TRUE(control.contains(QStringLiteral("Version: %1\n").arg(FWL_VERSION)));
  EXPECT_TRUE(control.contains(QRegularExpression("Depends: .*\\bp7zip-full\\b")));
  // The completion script works only with bash-completion.
  EXPECT_TRUE(control.contains(QRegularExpression("Recommends: .*\\bbash-completion\\b")));
  if (hasShlibdeps_) {
    EXPECT_TRUE(control.contains(QRegularExpression("Depends: .*\\blibqt6core6\\b")));
  }
  EXPECT_TRUE(control.contains(QRegularExpression("Description: \\S.*\n \\S")));  // and a long text

  // The post-install step under dpkg's root for the unpacked tree: with a
  // setcap that fails (no capabilities on this file system) it says so for
  // each program and still succeeds.
  const QString controlDir = work_->filePath("control");
  ASSERT_TRUE(Exec("dpkg-deb", {"-e", deb_, controlDir}).ok);
  const QString postinst = controlDir + "/postinst";
  ASSERT_TRUE(QFileInfo(postinst).isExecutable());
  const QString fakeBin = work_->filePath("fake-bin");
  WriteFileOrFail(fakeBin + "/setcap",
                  "#!/bin/sh\necho 'Failed to set capabilities' >&2\nexit 1\n");
  ASSERT_TRUE(
      QFile::setPermissions(fakeBin + "/setcap", QFileDevice::ReadOwner | QFileDevice::ExeOwner));
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("DPKG_ROOT", root_);
  env.insert("PATH", fakeBin + ":" + env.value("PATH"));
  const ToolRun denied = Exec(postinst, {"configure"}, 60000, env);
  EXPECT_TRUE(denied.ok) << denied.err.constData();
  EXPECT_EQ(denied.out.count("could not be given cap_net_bind_service"), BuiltWizard() ? 2 : 1)
      << denied.out.constData();

  // With the real setcap, as root, the programs get the capability unless
  // this file system keeps none, which the step then names.
  if (::geteuid() != 0 || QStandardPaths::findExecutable("getcap").isEmpty()) return;
  env = QProcessEnvironment::systemEnvironment();
  env.insert("DPKG_ROOT", root_);
  const ToolRun granted = Exec(postinst, {"configure"}, 60000, env);
  EXPECT_TRUE(granted.ok) << granted.err.constData();
  if (granted.out.contains("could not be given")) return;
  const ToolRun caps = Exec("getcap", {InRoot("/usr/bin/fwload")});
  EXPECT_TRUE(caps.out.contains("cap_net_bind_service")) << caps.out.constData();
}

// "fwload --help", the manual page and the completion list the same
// subcommands, and the completion offers what the usage texts name.
void PackageTest::CheckSubcommandLists() {
  const FwloadRun help = RunFwload({"--help"});
  ASSERT_EQ(help.exitCode, 0);
  const QSet<QString> listed = Captures(help.out, "^  ([a-z][a-z0-9-]*) +\\S");
  ASSERT_GE(listed.size(), 8) << help.out.toStdString();

  const ToolRun man = Exec("gzip", {"-dc", InRoot("/usr/share/man/man1/fwload.1.gz")});
  ASSERT_TRUE(man.ok);
  EXPECT_EQ(Captures(QString::fromUtf8(man.out), "^\\.SS \"fwload ([a-z0-9-]+)\"$"), listed);

  const QString completionFile = InRoot("/usr/share/bash-completion/completions/fwload");
  const QString completion = QString::fromUtf8(ReadFileOrEmpty(completionFile));
  const QString commands =
      QRegularExpression("local commands=\"([^\"]*)\"").match(completion).captured(1);
  const QStringList commandList = commands.split(' ', Qt::SkipEmptyParts);
  EXPECT_EQ(QSet<QString>(commandList.begin(), commandList.end()), listed);
  EXPECT_EQ(Captures(completion, "^        ([a-z][a-z0-9-]*)\\)$") - QSet<QString>{"help"}, listed);

  // The completion at work in bash: COMP_WORDS as bash would set them.
  auto complete = [&](const QString& line) {
    QStringList words = line.split(' ');
    const QString script =
        QStringLiteral(
            "source '%1'; COMP_WORDS=(%2); COMP_CWORD=%3; _fwload; echo \"${COMPREPLY[*]}\"")
            .arg(completionFile, words.join(' ') + (line.endsWith(' ') ? "''" : ""))
            .arg(words.size() - 1);
    const ToolRun bash = Exec("bash", {"-c", script});
    EXPECT_TRUE(bash.ok) << bash.err.constData();
    return QString::fromUtf8(bash.out).trimmed();
  };
  EXPECT_EQ(complete("fwload tf"), "tftpd");
  EXPECT_EQ(complete("fwload --v"), "--version");
  EXPECT_EQ(complete("fwload help pr"), "project");
  EXPECT_EQ(complete("fwload tftpd --r"), "--retries --root");
  EXPECT_EQ(complete("fwload load --product "), "station switch");
  EXPECT_EQ(complete("fwload load --method "), "serial eth");
  EXPECT_EQ(complete("fwload bundle "), "create extract");
  EXPECT_TRUE(complete("fwload sim ").split(' ').contains("power-cycle"));
  EXPECT_EQ(complete("fwload scan samples"), "");  // file names: bash's own completion
}

// Unpacked anywhere, the programs run and their data sits where they look
// for it (InstalledDataFolder: the same place relative to bin).
void PackageTest::CheckUnpackedRoot() {
  const ToolRun version = Exec(InRoot("/usr/bin/fwload"), {"--version"});
  EXPECT_TRUE(version.ok) << version.err.constData();
  EXPECT_EQ(version.out, QByteArray("fwload " FWL_VERSION "\n"));
  EXPECT_TRUE(QFileInfo(InRoot("/usr/bin/" FWL_DATA_FROM_BIN "/help/msfirmload.html")).isFile());
  EXPECT_TRUE(QFileInfo(InRoot("/usr/bin/" FWL_DATA_FROM_BIN "/samples/firmware")).isDir());

  // Nothing in the programs points into the tree they were built in: no
  // run path, no text (8-bit or UTF-16, as QStringLiteral keeps it) naming
  // the source folder, which holds the build folder.
  QStringList programs{"/usr/bin/fwload"};
  if (BuiltWizard()) programs << "/usr/bin/fwloader";
  const bool binutils = !QStandardPaths::findExecutable("strings").isEmpty() &&
                        !QStandardPaths::findExecutable("readelf").isEmpty();
  for (const QString& program : programs) {
    if (!binutils) break;
    SCOPED_TRACE(qPrintable(program));
    const ToolRun dynamic = Exec("readelf", {"-d", InRoot(program)});
    ASSERT_TRUE(dynamic.ok);
    EXPECT_FALSE(dynamic.out.contains("RPATH") || dynamic.out.contains("RUNPATH"))
        << dynamic.out.constData();
    for (const char* encoding : {"s", "l"}) {
      const ToolRun text = Exec("strings", {"-a", "-e", encoding, InRoot(program)});
      ASSERT_TRUE(text.ok);
      const QString found = QString::fromUtf8(text.out);
      EXPECT_FALSE(found.contains(QStringLiteral(FWL_SOURCE_DIR)))
          << encoding << ": "
          << found.split('\n').filter(QStringLiteral(FWL_SOURCE_DIR)).join('\n').toStdString();
    }
  }
}

// One case, so the package is built once per test run (each case of a test
// program runs as a process of its own).
TEST_F(PackageTest, BuiltFromThisTree) {
  {
    SCOPED_TRACE("contents");
    CheckContents();
  }
  {
    SCOPED_TRACE("control fields and post-install step");
    CheckControlAndPostInstall();
  }
  {
    SCOPED_TRACE("subcommands of --help, manual page and completion");
    CheckSubcommandLists();
  }
  {
    SCOPED_TRACE("unpacked root");
    CheckUnpackedRoot();
  }
}

}  // namespace
}  // namespace fwl::test
