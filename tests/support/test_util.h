// Small helpers shared by the test programs.
#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace fwl::test {

// A UDP (or TCP) port on 127.0.0.1 that was free a moment ago, picked by the
// kernel from its ephemeral range so test programs running side by side
// rarely meet.
quint16 FreeUdpPort();
quint16 FreeTcpPort();

// Writes `data` to `path`, creating folders; fails the test on error.
void WriteFileOrFail(const QString& path, const QByteArray& data);
QByteArray ReadFileOrEmpty(const QString& path);

// Deterministic pseudo-random bytes.
QByteArray RandomBytes(qsizetype size, quint32 seed);

// Runs a Debian tool (7za, tar, gzip, ...) in `cwd` and waits for it (30 s at
// most); true when it ended normally with exit code 0.
bool RunTool(const QString& program, const QStringList& args, const QString& cwd);

// Packs `members` (names relative to `cwd`) into `archive` with the Debian
// tools; the type follows the extension: .zip, .tar, .tgz / .tar.gz, or .gz
// (exactly one member). False on an unknown type or a failing tool.
bool PackArchive(const QString& archive, const QStringList& members, const QString& cwd);

// Path of the built fwload program.
QString FwloadPath();

// What a run of fwload left behind.
struct FwloadRun {
  int exitCode = -1;  // -1 when it crashed or did not end within a minute
  QString out;
  QString err;
};

// Runs the built fwload with `args` in environment `env` (and in folder `cwd`
// when given) and waits for it (one minute at most).
FwloadRun RunFwload(const QStringList& args,
                    const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
                    const QString& cwd = QString());

}  // namespace fwl::test
