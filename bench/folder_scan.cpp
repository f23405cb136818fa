// Measures the firmware folder scan on a generated folder: 20,000
// extension-less images of mixed models plus 500 bundles, scanned for a
// station and for a managed switch (walk, examination and version list), with
// files per second and peak memory; then the cost of examining one 1 MiB
// ".tgz" archive, which the scan pays once per archive by design.
//
// Usage: bench_folder_scan [IMAGES [BUNDLES]]
#include "catalogue/folder_scan.h"

#include <sys/resource.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "catalogue/archive_tool.h"
#include "catalogue/firmware_bundle.h"
#include "catalogue/firmware_names.h"
#include "sim/bundle_writer.h"

namespace {

// Peak resident memory since the last reset, in KiB (VmHWM).
long PeakRssKib() {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& line : status.readAll().split('\n')) {
    if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').value(0).toLong();
  }
  return -1;
}

// Lets VmHWM start again from the current size, so the figure belongs to
// the scan and not to the generation of the folder.
void ResetPeakRss() {
  QFile clear(QStringLiteral("/proc/self/clear_refs"));
  if (clear.open(QIODevice::WriteOnly)) clear.write("5");
}

// CPU seconds spent by this process and by its finished children.
double CpuSeconds() {
  double total = 0;
  for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
    rusage usage{};
    getrusage(who, &usage);
    total += usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
             (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  }
  return total;
}

bool WriteFile(const QString& path, const QByteArray& data) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

bool Generate(const QString& folder, int images, int bundles) {
  static const char* const kStems[] = {"kvimage_razeb", "kvimage_lozeb",  "kvimage6_razeb",
                                       "kvimage_mums",  "kvimagea_mums",  "kvimageb_razeb",
                                       "kvimage_mugt",  "kvimage_ragt",   "kvimage9_lozeb",
                                       "kvimageb_mums", "kvimage_louzeb", "kvimage6_lozeb"};
  constexpr int kStemCount = sizeof(kStems) / sizeof(kStems[0]);
  const QByteArray content(64, 'i');
  for (int i = 0; i < images; ++i) {
    const QString name = QStringLiteral("%1%2_%3_%4")
                             .arg(QLatin1String(kStems[i % kStemCount]))
                             .arg(3 + i % 3)
                             .arg((i / kStemCount) % 40)
                             .arg(i);
    if (!WriteFile(folder + name, content)) return false;
  }
  static const int kCodes[] = {fwl::kBundleRaZeb, fwl::kBundleLoZeb, fwl::kBundleRa6Zeb,
                               fwl::kBundleSwitch, fwl::kBundleMugt};
  for (int i = 0; i < bundles; ++i) {
    fwl::sim::BundleWriter writer(kCodes[i % 5], QStringLiteral("4_%1_%2").arg(i % 7).arg(i));
    for (quint32 cpu : {fwl::kTagCpuA, fwl::kTagCpuB}) {
      const int dir = writer.AddDirectory(fwl::sim::BundleWriter::kRoot, cpu);
      writer.AddFile(dir, fwl::kTagImageBoot, QStringLiteral("boot.bin"), QString(),
                     QByteArray(256, 'b'));
      writer.AddFile(dir, fwl::kTagImage, QStringLiteral("image.bin"), QString(),
                     QByteArray(1024, 'm'));
    }
    if (!writer.WriteTo(folder + QStringLiteral("bundle%1.fwb").arg(i))) return false;
  }
  return true;
}

void TimeScan(const char* label, const QString& folder, int product, const QString& stem,
              qsizetype files) {
  fwl::FolderScan scan;
  scan.inputs().firmwareFolder = folder;
  scan.inputs().productType = product;
  scan.inputs().stationStem = stem;
  scan.inputs().examine = fwl::SearchOptions();  // no archives in this folder anyway
  ResetPeakRss();
  QElapsedTimer timer;
  const double cpuBefore = CpuSeconds();
  timer.start();
  scan.RescanFirmwareFolder();
  const double cpu = CpuSeconds() - cpuBefore;
  const double seconds = timer.nsecsElapsed() / 1e9;
  std::printf(
      "%-26s %6lld files %6lld candidates %5lld entries %6.3f s (CPU %.3f s) %7.0f files/s "
      "peak %6.1f MiB\n",
      label, static_cast<long long>(scan.fileList().size()),
      static_cast<long long>(scan.candidates().size()),
      static_cast<long long>(scan.versionEntries().size()), seconds, cpu, files / seconds,
      PeakRssKib() / 1024.0);
}

void TimeArchive(const QString& scratch) {
  // Incompressible content, so the ".tgz" is about 1 MiB itself.
  QByteArray image(1 << 20, Qt::Uninitialized);
  QRandomGenerator gen(7);
  for (qsizetype i = 0; i < image.size(); i += 4) {
    const quint32 v = gen.generate();
    std::memcpy(image.data() + i, &v, 4);
  }
  const QString source = scratch + QStringLiteral("src/");
  QDir().mkpath(source);
  WriteFile(source + QStringLiteral("kvimage_razeb3_1_0"), image);
  const QString archive = scratch + QStringLiteral("pkg_razeb3_1_0.tgz");
  QProcess tar;
  tar.setWorkingDirectory(source);
  tar.start(QStringLiteral("tar"),
            {QStringLiteral("czf"), archive, QStringLiteral("kvimage_razeb3_1_0")});
  if (!tar.waitForFinished(30000) || tar.exitCode() != 0) {
    std::printf("could not make the test archive\n");
    return;
  }
  constexpr int kRuns = 10;
  std::vector<double> ms;
  fwl::ArchiveTool tool;
  const double cpuBefore = CpuSeconds();
  for (int i = 0; i < kRuns; ++i) {
    QElapsedTimer timer;
    timer.start();
    QList<fwl::ArchiveEntry> entries;
    const int rc = tool.Open(archive);
    tool.ListEntries(entries);
    tool.Cleanup();
    ms.push_back(timer.nsecsElapsed() / 1e6);
    if (rc != 0 || entries.size() != 1) {
      std::printf("archive examination failed (%d, %lld entries)\n", rc,
                  static_cast<long long>(entries.size()));
      return;
    }
  }
  std::sort(ms.begin(), ms.end());
  const double cpuMs = (CpuSeconds() - cpuBefore) * 1000 / kRuns;
  // The archiver runs several times per archive (test, extract, list, and
  // once more for the tar inside); on a busy machine each start waits for a
  // core, so the CPU time is reported as well.
  std::printf(
      "1 MiB .tgz examination (%d runs): median %.1f ms, min %.1f ms, max %.1f ms; "
      "CPU %.1f ms per archive (archiver included)\n",
      kRuns, ms[kRuns / 2], ms.front(), ms.back(), cpuMs);

  // The same archive through a whole scan of a folder that holds only it.
  const QString folder = scratch + QStringLiteral("one/");
  QDir().mkpath(folder);
  QFile::copy(archive, folder + QStringLiteral("pkg_razeb3_1_0.tgz"));
  fwl::FolderScan scan;
  scan.inputs().firmwareFolder = folder;
  scan.inputs().productType = fwl::kProductStation;
  scan.inputs().stationStem = QStringLiteral("kvimage_razeb");
  scan.inputs().examine = fwl::SearchOptions{false, false, true, false};
  QElapsedTimer timer;
  timer.start();
  scan.RescanFirmwareFolder();
  std::printf("scan of a folder with that one .tgz: %.1f ms, %lld entries\n",
              timer.nsecsElapsed() / 1e6, static_cast<long long>(scan.versionEntries().size()));
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int images = argc > 1 ? std::atoi(argv[1]) : 20000;
  const int bundles = argc > 2 ? std::atoi(argv[2]) : 500;
  QTemporaryDir dir;
  if (!dir.isValid()) return 1;
  const QString folder = dir.path() + QStringLiteral("/fw/");
  QDir().mkpath(folder);
  QElapsedTimer timer;
  timer.start();
  if (!Generate(folder, images, bundles)) {
    std::printf("could not generate the folder\n");
    return 1;
  }
  const qsizetype files = images + bundles;
  std::printf("generated %d images and %d bundles in %.2f s\n", images, bundles,
              timer.nsecsElapsed() / 1e9);

  TimeScan("station (kvimage_razeb):", folder, fwl::kProductStation,
           QStringLiteral("kvimage_razeb"), files);
  TimeScan("station (kvimage6_razeb):", folder, fwl::kProductStation,
           QStringLiteral("kvimage6_razeb"), files);
  TimeScan("managed switch:", folder, fwl::kProductSwitch, QString(), files);
  // Second round: the directory entries are in the cache for both alike.
  TimeScan("station again:", folder, fwl::kProductStation, QStringLiteral("kvimage_razeb"), files);
  TimeArchive(dir.path() + QStringLiteral("/arch/"));
  return 0;
}
