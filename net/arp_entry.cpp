#include "net/arp_entry.h"

#include <QHostAddress>
#include <QProcess>
#include <QStandardPaths>

namespace fwl {
namespace {
constexpr int kCommandWaitMs = 5000;
// Administration tools live outside a user's search path on some systems.
const QStringList kToolFolders = {"/usr/sbin", "/sbin", "/usr/bin", "/bin"};

QString FindTool(const QString& name) {
  QString path = QStandardPaths::findExecutable(name);
  if (path.isEmpty()) path = QStandardPaths::findExecutable(name, kToolFolders);
  return path;
}
}  // namespace

bool RemoveArpEntry(const QString& address) {
  QHostAddress parsed;
  if (!parsed.setAddress(address) || parsed.protocol() != QAbstractSocket::IPv4Protocol) {
    return false;
  }
  // The address goes to the tool as one argument, never through a shell.
  const QString text = parsed.toString();
  QString program = FindTool(QStringLiteral("ip"));
  QStringList arguments = {"neigh", "flush", "to", text};
  if (program.isEmpty()) {
    program = FindTool(QStringLiteral("arp"));
    arguments = {"-d", text};
  }
  if (program.isEmpty()) return false;
  QProcess process;
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(program, arguments);
  if (!process.waitForStarted(kCommandWaitMs)) return false;
  if (!process.waitForFinished(kCommandWaitMs)) {
    process.kill();
    process.waitForFinished(1000);
  }
  return true;
}

}  // namespace fwl
