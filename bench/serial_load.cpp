// Times a whole serial load with the new (NAND) plan against the simulated
// unit with every artificial delay at zero: an 8 MiB file-system image and a
// 2 MiB boot image. Prints the wall time, the console commands sent, the time
// spent in TFTP transfers and the mean time per command outside them, with
// and without the read-back checks of the images, and how much the checks add.
//
// Usage: bench_serial_load [FS_MIB [BOOT_KIB]]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/settings.h"
#include "engine/load_engine.h"
#include "engine/load_parameter_file.h"
#include "platform/ui.h"
#include "sim/sim_unit.h"

namespace {

// Answers every box with OK and switches the unit on when asked.
class BenchUi final : public fwl::SilentUi {
 public:
  explicit BenchUi(fwl::SimUnit& unit) : unit_(unit) {}
  int MessageBox(const QString& text, const QString&, fwl::UiIcon, fwl::UiButtons) override {
    std::fprintf(stderr, "box: %s\n", qPrintable(text));
    return fwl::kAnswerOk;
  }
  void ShowPrompt(const QString& title, const QString&) override {
    if (title == QLatin1String("Turn Power ON")) unit_.PowerCycle();
  }

 private:
  fwl::SimUnit& unit_;
};

QByteArray Pattern(qsizetype size, quint32 seed) {
  QByteArray data(size, Qt::Uninitialized);
  quint32 x = seed * 2654435761u + 1;
  for (qsizetype i = 0; i < size; ++i) {
    x = x * 1664525u + 1013904223u;
    data[i] = static_cast<char>(x >> 24);
  }
  return data;
}

bool WriteFile(const QString& path, const QByteArray& data) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

// One load into a fresh unit, verified or not; prints its figures when
// `print` is set. Returns the wall time in milliseconds, or -1 when the
// load failed or the flash does not hold the images.
qint64 TimedLoad(bool verify, bool print, const QString& fsPath, const QByteArray& fs,
                 const QByteArray& boot) {
  quint16 port = 0;
  {
    // A free UDP port on loopback for this run's TFTP server.
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    port = probe.localPort();
  }

  fwl::SimOptions o;
  o.board = fwl::kSimBoard79524;
  fwl::ApplyBoardDefaults(o);
  o.nandSize = 0x8000000;
  o.bootDelaySeconds = 1;
  o.countdownTickMs = 0;
  o.autoboot = false;  // with no countdown time the unit waits for the stop string
  o.replyDelayMs = 0;
  o.tftpPort = port;
  fwl::SimUnit unit(o);
  QString error;
  if (!unit.Start(QString(), &error)) {
    std::fprintf(stderr, "simulated unit: %s\n", qPrintable(error));
    return -1;
  }

  fwl::LoadParameters p;
  p.comPort = unit.SlavePath();
  p.pcAddress = p.stationAddress = QStringLiteral("127.0.0.1");
  p.subnet = QStringLiteral("255.0.0.0");
  p.firmwarePath = fsPath;
  fwl::WriteLoadParameterFile(p);

  BenchUi ui(unit);
  fwl::ScopedUi scopedUi(&ui);
  fwl::LoadEngine engine;
  engine.tftpListenPort = port;
  engine.tftpBindAddress = QStringLiteral("127.0.0.1");
  engine.timings.resetSettleMs = 0;
  engine.noVerify = !verify;

  // Transfer time: from the server's first progress text of a transfer to
  // its "100%" (the environment commands before each fetch count as
  // commands); plan time: from the first step to the final record.
  QElapsedTimer clock;
  qint64 planStart = -1, planEnd = -1, transferStart = -1, tftpMs = 0;
  bool inTransfer = false;
  int transfers = 0;
  std::vector<fwl::LoadStep> steps;
  std::vector<qint64> stepStarts;
  engine.SetProgressCallback(
      [&](const fwl::LoadProgressEvent& e, void*) {
        const qint64 now = clock.elapsed();
        if (e.kind == fwl::LoadProgressEvent::kPlan) steps = e.steps;
        if (e.kind == fwl::LoadProgressEvent::kUpdate &&
            (e.flags & fwl::LoadProgressEvent::kStepIndex)) {
          if (planStart < 0) planStart = now;
          stepStarts.push_back(now);
          const size_t i = size_t(e.stepIndex);
          inTransfer = i < steps.size() && steps[i].blink == 0;
          transferStart = -1;
        }
        if ((e.flags & fwl::LoadProgressEvent::kText) && inTransfer) {
          if (transferStart < 0) transferStart = now;
          if (e.text == QLatin1String("100%")) {
            tftpMs += now - transferStart;
            inTransfer = false;
            ++transfers;
          }
        }
        if (e.kind == fwl::LoadProgressEvent::kFinal) planEnd = now;
      },
      nullptr);

  clock.start();
  const int result = engine.Run(QString());
  const qint64 wallMs = clock.elapsed();

  const QStringList log = unit.CommandLog();
  const bool written = unit.ReadNand(0x280000, quint64(fs.size())) == fs &&
                       unit.ReadNand(0x80000, quint64(boot.size())) == boot;
  // Commands of the plan: from the first fetch's environment to the reset.
  qsizetype first = 0;
  while (first < log.size() && !log[first].startsWith(QLatin1String("setenv serverip"))) ++first;
  const qsizetype planCommands = log.size() - first;
  const qint64 planMs = planEnd - planStart;
  const qint64 outsideMs = planMs - tftpMs;

  unit.Stop();
  if (!print) return result == 1 && written ? wallMs : -1;
  std::printf("serial load (new plan, board 20, U-Boot, %s): %s, flash %s\n",
              verify ? "verified" : "not verified", result == 1 ? "succeeded" : "FAILED",
              written ? "as sent" : "WRONG");
  std::printf("  images                 %lld KiB file system + %lld KiB boot\n",
              static_cast<long long>(fs.size() >> 10), static_cast<long long>(boot.size() >> 10));
  std::printf("  wall time (whole run)  %lld ms\n", static_cast<long long>(wallMs));
  std::printf("  plan time              %lld ms\n", static_cast<long long>(planMs));
  std::printf("  console commands       %lld in all, %lld in the plan\n",
              static_cast<long long>(log.size()), static_cast<long long>(planCommands));
  std::printf("  TFTP time              %lld ms for %d transfers (%.1f MB/s)\n",
              static_cast<long long>(tftpMs), transfers,
              tftpMs > 0 ? double(fs.size() + boot.size()) / 1e6 / (double(tftpMs) / 1000.0) : 0.0);
  std::printf("  per command outside transfers  %.1f ms (target < 30 ms)\n",
              planCommands > 0 ? double(outsideMs) / double(planCommands) : 0.0);
  for (size_t i = 0; i < steps.size() && i < stepStarts.size(); ++i) {
    const qint64 end = i + 1 < stepStarts.size() ? stepStarts[i + 1] : planEnd;
    std::printf("    step %zu %-28s %5lld ms\n", i + 1, qPrintable(steps[i].name),
                static_cast<long long>(end - stepStarts[i]));
  }
  return result == 1 && written ? wallMs : -1;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const qsizetype fsSize = (argc > 1 ? QByteArray(argv[1]).toLongLong() : 8) << 20;
  const qsizetype bootSize = (argc > 2 ? QByteArray(argv[2]).toLongLong() : 2048) << 10;

  // Private system folder and settings, so the bench never touches real ones.
  QTemporaryDir sandbox;
  qputenv("FWLOADER_SYSTEM_DIR", (sandbox.path() + "/system").toLocal8Bit());
  fwl::SetSettingsFile(sandbox.path() + "/FirmwareLoader.ini");
  fwl::SetSettingInt(fwl::kSectionLoad, "hard reset delay ms", 0);
  fwl::SetSettingInt(fwl::kSectionLoad, "4410 hard reset extension", 0);

  const QString fsPath = sandbox.path() + "/kvimagea_mums3_1_5";
  const QString bootPath = sandbox.path() + "/kvimageba_mums3_1_5";
  const QByteArray fs = Pattern(fsSize, 1), boot = Pattern(bootSize, 2);
  if (!WriteFile(fsPath, fs) || !WriteFile(bootPath, boot)) {
    std::fprintf(stderr, "cannot write the images\n");
    return 1;
  }

  // Each mode once with its figures, then alternately a few more times: the
  // medians are compared, so one slow moment of a shared machine does not
  // decide the outcome.
  std::vector<qint64> plain, verified;
  for (int round = 0; round < 5; ++round) {
    for (const bool verify : {false, true}) {
      const qint64 ms = TimedLoad(verify, round == 0, fsPath, fs, boot);
      if (ms < 0) return 1;
      (verify ? verified : plain).push_back(ms);
    }
  }
  auto median = [](std::vector<qint64> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  const qint64 without = median(plain), with = median(verified);
  std::printf(
      "wall time, median of %zu loads: %lld ms without verification, %lld ms with "
      "(%+.1f %%, target under 10 %%)\n",
      plain.size(), static_cast<long long>(without), static_cast<long long>(with),
      without > 0 ? 100.0 * double(with - without) / double(without) : 0.0);
  return 0;
}
