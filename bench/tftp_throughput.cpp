// Server half of bench/tftp_throughput.sh: runs our TFTP server as the
// engine runs it (percent-only status callback, image preloaded) on
// 127.0.0.1 until a number of transfers have completed, then prints its
// peak resident memory, so the script can time real clients against it.
//   bench_tftp_throughput --root DIR --port N [--preload FILE] [--transfers N]
#include <QCoreApplication>
#include <QFile>
#include <QTimer>
#include <cstdio>

#include "app/settings.h"
#include "tftp/tftp_server.h"

namespace {

// "VmHWM" / "VmRSS" of this process in KiB, 0 if unknown.
long StatusKib(const char* key) {
  QFile status("/proc/self/status");
  if (!status.open(QIODevice::ReadOnly)) return 0;
  for (const QByteArray& line : status.readAll().split('\n')) {
    if (line.startsWith(key)) return line.mid(qstrlen(key) + 1).trimmed().split(' ')[0].toLong();
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QString root;
  QString preload;
  int port = 0;
  int transfers = 1;
  const QStringList args = app.arguments();
  for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
    if (args[i] == "--root") root = args[i + 1];
    if (args[i] == "--port") port = args[i + 1].toInt();
    if (args[i] == "--preload") preload = args[i + 1];
    if (args[i] == "--transfers") transfers = args[i + 1].toInt();
  }
  if (root.isEmpty() || port <= 0) {
    std::fprintf(stderr, "usage: %s --root DIR --port N [--preload FILE] [--transfers N]\n",
                 argv[0]);
    return 2;
  }
  fwl::SetSettingsFile(root + "/.bench_settings.ini");
  if (!root.endsWith('/')) root += '/';

  fwl::TftpServer server;
  server.SetBindAddress(QHostAddress::LocalHost);
  server.SetListenPort(port);
  server.SetOutboundFolder(root);
  server.SetRetries(3);
  server.SetPercentOnly(1);
  // As the engine does: every progress text becomes a status-list update.
  QString lastStatus;
  server.SetStatusCallback([&](int, const QString& text, int, void*) { lastStatus = text; },
                           nullptr);
  const long before = StatusKib("VmRSS:");
  if (!preload.isEmpty() && !server.PreloadFile(preload)) return 1;
  int completed = 0;
  server.SetEventCallback(
      [&](const fwl::TftpEvent& event, void*) {
        if (event.kind == fwl::kTftpEventTransferComplete && ++completed >= transfers) {
          QTimer::singleShot(0, &app, &QCoreApplication::quit);
        }
        if (event.kind == fwl::kTftpEventClientLost) std::fprintf(stderr, "client lost\n");
      },
      nullptr);
  if (server.Start() != 0) return 2;
  std::printf("listening\n");
  std::fflush(stdout);
  app.exec();
  server.Stop();
  std::printf("rss_before_preload_kib %ld\npeak_rss_kib %ld\n", before, StatusKib("VmHWM:"));
  return 0;
}
