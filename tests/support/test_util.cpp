#include "support/test_util.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QUdpSocket>

namespace fwl::test {

quint16 FreeUdpPort() {
  QUdpSocket s;
  if (!s.bind(QHostAddress(QHostAddress::LocalHost), 0)) return 0;
  return s.localPort();
}

quint16 FreeTcpPort() {
  QTcpServer s;
  if (!s.listen(QHostAddress(QHostAddress::LocalHost), 0)) return 0;
  return s.serverPort();
}

void WriteFileOrFail(const QString& path, const QByteArray& data) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
  ASSERT_EQ(f.write(data), data.size());
}

QByteArray ReadFileOrEmpty(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray RandomBytes(qsizetype size, quint32 seed) {
  QRandomGenerator gen(seed);
  QByteArray out(size, Qt::Uninitialized);
  for (qsizetype i = 0; i < size; ++i) out[i] = static_cast<char>(gen.generate() & 0xFF);
  return out;
}

bool RunTool(const QString& program, const QStringList& args, const QString& cwd) {
  QProcess p;
  p.setWorkingDirectory(cwd);
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.start(program, args);
  if (!p.waitForFinished(30000)) return false;
  return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool PackArchive(const QString& archive, const QStringList& members, const QString& cwd) {
  if (archive.endsWith(QLatin1String(".zip"))) {
    return RunTool("7za", QStringList{"a", "-tzip", archive} + members, cwd);
  }
  if (archive.endsWith(QLatin1String(".tar"))) {
    return RunTool("7za", QStringList{"a", "-ttar", archive} + members, cwd);
  }
  if (archive.endsWith(QLatin1String(".tgz")) || archive.endsWith(QLatin1String(".tar.gz"))) {
    return RunTool("tar", QStringList{"czf", archive} + members, cwd);
  }
  if (archive.endsWith(QLatin1String(".gz")) && members.size() == 1) {
    return RunTool("gzip", {"-k", members[0]}, cwd) &&
           QFile::rename(QDir(cwd).filePath(members[0] + ".gz"), archive);
  }
  return false;
}

QString FwloadPath() { return QStringLiteral(FWL_FWLOAD_PATH); }

FwloadRun RunFwload(const QStringList& args, const QProcessEnvironment& env, const QString& cwd) {
  QProcess process;
  process.setProcessEnvironment(env);
  if (!cwd.isEmpty()) process.setWorkingDirectory(cwd);
  process.start(FwloadPath(), args);
  const bool ended = process.waitForFinished(60000);
  EXPECT_TRUE(ended) << "fwload " << args.join(' ').toStdString();
  if (!ended) process.kill();
  process.waitForFinished(5000);
  return {ended && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
          QString::fromLocal8Bit(process.readAllStandardOutput()),
          QString::fromLocal8Bit(process.readAllStandardError())};
}

}  // namespace fwl::test
