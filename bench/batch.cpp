// Batch loading at scale, against fleets of simulated units run as
// programs: wall time of 16 switches loaded with --parallel 16 against one
// switch alone, the same for 8 stations, and the peak memory of each batch
// against that of one load. Prints the figures and their ratios (targets:
// wall time <= 1.5x; memory <= one load + one copy of each image + 2 MiB per
// running load). Usage: bench_batch [FWLOAD] [--restart-ms MS] [--image-kib N]
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <cstdio>
#include <vector>

extern char** environ;

namespace {

struct Run {
  double seconds = 0;
  long maxRssKib = 0;
  int status = -1;
};

QString g_fwload;
QString g_dir;

void WriteFile(const QString& path, qsizetype size, quint32 seed) {
  QByteArray data(size, Qt::Uninitialized);
  QRandomGenerator rng(seed);
  rng.fillRange(reinterpret_cast<quint32*>(data.data()), size / 4);
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(data) != size) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    std::exit(1);
  }
}

// Runs fwload with `args` and waits; wall time and the child's peak memory.
Run RunFwload(const QStringList& args) {
  std::vector<QByteArray> storage;
  storage.push_back(g_fwload.toLocal8Bit());
  for (const QString& a : args) storage.push_back(a.toLocal8Bit());
  std::vector<char*> argv;
  for (QByteArray& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const QByteArray log = (g_dir + "/batch.log").toLocal8Bit();
  posix_spawn_file_actions_addopen(&actions, 1, log.constData(), O_WRONLY | O_CREAT | O_APPEND,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, log.constData(), O_WRONLY | O_CREAT | O_APPEND,
                                   0644);
  QElapsedTimer clock;
  clock.start();
  pid_t pid = 0;
  Run run;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) return run;
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  run.seconds = double(clock.nsecsElapsed()) / 1e9;
  run.maxRssKib = usage.ru_maxrss;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  posix_spawn_file_actions_destroy(&actions);
  return run;
}

QProcess* StartFleet(const QStringList& args, int lines) {
  auto* sim = new QProcess;
  sim->setProcessChannelMode(QProcess::ForwardedErrorChannel);
  sim->start(g_fwload, QStringList{"sim"} + args);
  int seen = 0;
  while (seen < lines && sim->waitForReadyRead(20000)) {
    while (sim->canReadLine()) {
      sim->readLine();
      ++seen;
    }
  }
  if (seen < lines) {
    std::fprintf(stderr, "fleet did not start: %s\n", qPrintable(args.join(' ')));
    std::exit(1);
  }
  return sim;
}

void StopFleet(QProcess* sim) {
  sim->terminate();
  if (!sim->waitForFinished(20000)) sim->kill();
  delete sim;
}

QString Inventory(const QString& name, const QString& product, const QString& firstAddress,
                  int count, const QString& firmware) {
  QString text = QStringLiteral("name,product,method,ip,firmware,user\n");
  const quint32 base = QHostAddress(firstAddress).toIPv4Address();
  for (int i = 0; i < count; ++i) {
    text += QStringLiteral("%1%2,%3,eth,%4,%5,admin\n")
                .arg(product)
                .arg(i + 1)
                .arg(product, QHostAddress(base + quint32(i)).toString(), firmware);
  }
  const QString path = g_dir + "/" + name;
  QFile file(path);
  if (file.open(QIODevice::WriteOnly)) file.write(text.toUtf8());
  return path;
}

void Report(const char* what, int count, const Run& one, const Run& many, qint64 imageBytes) {
  const double ratio = one.seconds > 0 ? many.seconds / one.seconds : 0;
  const long budgetKib = one.maxRssKib + long(imageBytes / 1024) + 2048L * count;
  std::printf(
      "%s: 1 alone %.1f s (exit %d), %d in parallel %.1f s (exit %d): wall ratio %.2f "
      "(target <= 1.50)\n",
      what, one.seconds, one.status, count, many.seconds, many.status, ratio);
  std::printf(
      "%s: peak memory 1 load %ld KiB, %d loads %ld KiB, budget %ld KiB: ratio to "
      "budget %.2f (target <= 1.00)\n",
      what, one.maxRssKib, count, many.maxRssKib, budgetKib,
      double(many.maxRssKib) / double(budgetKib));
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  g_fwload = QCoreApplication::applicationDirPath() + "/fwload";
  int restartMs = 20000;
  int imageKib = 4096;
  const QStringList args = app.arguments().mid(1);
  for (int i = 0; i < args.size(); ++i) {
    if (args[i] == "--restart-ms" && i + 1 < args.size()) {
      restartMs = args[++i].toInt();
    } else if (args[i] == "--image-kib" && i + 1 < args.size()) {
      imageKib = args[++i].toInt();
    } else {
      g_fwload = args[i];
    }
  }
  QTemporaryDir dir;
  g_dir = dir.path();
  const qint64 fsBytes = qint64(imageKib) * 1024;
  const qint64 bootBytes = 256 * 1024;
  WriteFile(g_dir + "/kvimagea_mums3_9_1", fsBytes, 1);
  WriteFile(g_dir + "/kvimageba_mums3_9_1", bootBytes, 2);
  WriteFile(g_dir + "/switchinfo.tgz", 4096, 3);
  WriteFile(g_dir + "/kvimage_razeb3_2_1", fsBytes, 4);
  WriteFile(g_dir + "/kvimageb_razeb3_2_1", bootBytes, 5);
  {
    QFile settings(g_dir + "/settings.ini");
    if (settings.open(QIODevice::WriteOnly)) {
      settings.write("[eth only load]\nping timeout ms=1000\nping retry count=30\n");
    }
  }
  qputenv("FWLOADER_SETTINGS_FILE", (g_dir + "/settings.ini").toLocal8Bit());
  qputenv("FWLOADER_SYSTEM_DIR", (g_dir + "/system").toLocal8Bit());
  qputenv("FWLOAD_PASSWORD", "bench");
  const QString tftpPort = "16969", httpPort = "18080", stationPort = "15454";
  const QStringList common = {"--pc-ip",        "127.0.0.1", "--subnet",    "255.0.0.0",
                              "--tftp-port",    tftpPort,    "--http-port", httpPort,
                              "--station-port", stationPort, "--yes"};

  // Switches: unit 1 alone, then 16 others at once (each switch loads once).
  QProcess* switches =
      StartFleet({"switch", "--address", "127.0.10.1", "--count", "17", "--http-port", httpPort,
                  "--tftp-port", tftpPort, "--user", "admin", "--password", "bench",
                  "--info-installed", "--restart-ms", QString::number(restartMs)},
                 17);
  const Run oneSwitch =
      RunFwload(QStringList{"batch", Inventory("one-switch.csv", "switch", "127.0.10.1", 1,
                                               g_dir + "/kvimagea_mums3_9_1")} +
                common);
  const Run manySwitches = RunFwload(QStringList{"batch",
                                                 Inventory("switches.csv", "switch", "127.0.10.2",
                                                           16, g_dir + "/kvimagea_mums3_9_1"),
                                                 "--parallel", "16"} +
                                     common);
  StopFleet(switches);
  Report("switches", 16, oneSwitch, manySwitches, fsBytes + bootBytes);

  QProcess* stations =
      StartFleet({"station", "--address", "127.0.20.1", "--count", "9", "--station-port",
                  stationPort, "--tftp-port", tftpPort, "--cpu", "8xx", "--mtd5", "--build",
                  "3.2.0", "--restart-ms", QString::number(restartMs)},
                 9);
  const Run oneStation =
      RunFwload(QStringList{"batch", Inventory("one-station.csv", "station", "127.0.20.1", 1,
                                               g_dir + "/kvimage_razeb3_2_1")} +
                common);
  const Run manyStations = RunFwload(QStringList{"batch",
                                                 Inventory("stations.csv", "station", "127.0.20.2",
                                                           8, g_dir + "/kvimage_razeb3_2_1"),
                                                 "--parallel", "16"} +
                                     common);
  StopFleet(stations);
  Report("stations", 8, oneStation, manyStations, fsBytes + bootBytes);
  const bool ok = oneSwitch.status == 0 && manySwitches.status == 0 && oneStation.status == 0 &&
                  manyStations.status == 0;
  if (!ok) {
    QFile log(g_dir + "/batch.log");
    if (log.open(QIODevice::ReadOnly)) std::fputs(log.readAll().right(4000).constData(), stderr);
  }
  return ok ? 0 : 1;
}
