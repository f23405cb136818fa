// "fwload sim station": a simulated station answering the station link over
// UDP on a loopback address, for trying the Ethernet-only upgrade without a
// station on the desk.
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <memory>
#include <vector>

#include "cli/cli_commands.h"
#include "cli/sim_fleet_args.h"
#include "cli/sim_station_command.h"
#include "sim/sim_station.h"

namespace fwl::cli {

namespace {

int stationSignalPipe[2] = {-1, -1};

void OnStationSignal(int) {
  const char c = 1;
  [[maybe_unused]] ssize_t n = ::write(stationSignalPipe[1], &c, 1);
}

int Usage(const QString& text) {
  std::fprintf(stderr, "fwload sim station: %s\n", qPrintable(text));
  return kExitUsage;
}

void Save(const SimStation& station, const QString& folder) {
  QDir().mkpath(folder);
  auto write = [&folder](const QString& name, const QByteArray& data) {
    // Names come from the peer: keep them inside the folder.
    QString safe = name;
    safe.replace(QLatin1Char('/'), QLatin1Char('_'));
    if (safe.isEmpty() || safe == QLatin1String(".") || safe == QLatin1String("..")) return;
    QFile file(folder + QLatin1Char('/') + safe);
    if (file.open(QIODevice::WriteOnly)) file.write(data);
  };
  for (auto it = station.ReceivedImages().begin(); it != station.ReceivedImages().end(); ++it) {
    write(it.key(), it.value());
  }
  for (auto it = station.Files().begin(); it != station.Files().end(); ++it) {
    write(it.key(), it.value());
  }
}

// One unit's options; kExitOk or a usage error.
int ParseUnit(const QStringList& args, SimStationOptions& o, QString& saveDir) {
  o.address = QHostAddress();
  bool haveCpu = false;
  for (qsizetype i = 0; i < args.size(); ++i) {
    const QString a = args[i];
    if (a == "--mtd5") {
      o.mtd5 = true;
    } else if (a == "--silent") {
      o.silent = true;
    } else if (a == "--negative") {
      o.negative = true;
    } else if (a == "--never-fetch") {
      o.neverFetch = true;
    } else if (a == "--silent-after-reset") {
      o.silentAfterReset = true;
    } else if (a == "--overlap-fetch") {
      o.overlapFetch = true;
    } else {
      if (i + 1 >= args.size()) return Usage("missing value after " + a);
      const QString v = args[++i];
      bool number = false;
      const int n = v.toInt(&number);
      if (a == "--address") {
        o.address = QHostAddress(v);
      } else if (a == "--cpu") {
        o.cpu = v;
        haveCpu = true;
      } else if (a == "--build") {
        o.build = v;
      } else if (a == "--script-error") {
        o.scriptError = v;
      } else if (a == "--fail-status") {
        o.failStatus << v;
      } else if (a == "--cat-fails") {
        o.catFails << v;
      } else if (a == "--save") {
        saveDir = v;
      } else if (!number || n < 0) {
        return Usage("unknown option or bad value: " + a + " " + v);
      } else if (a == "--station-port" && n <= 65535) {
        o.stationPort = quint16(n);
      } else if (a == "--tftp-port" && n >= 1 && n <= 65535) {
        o.tftpPort = quint16(n);
      } else if (a == "--restart-ms") {
        o.restartMs = n;
      } else if (a == "--reply-delay") {
        o.replyDelayMs = n;
      } else if (a == "--tftp-lose-after") {
        o.tftpLoseAfterBlocks = n;
      } else if (a == "--tftp-blksize" && (n == 0 || (n >= 8 && n <= 65464))) {
        o.tftpBlockSize = n;
      } else {
        return Usage("unknown option or bad value: " + a + " " + v);
      }
    }
  }
  if (o.address.isNull()) return Usage("--address 127.x.y.z is required");
  if (!haveCpu) return Usage("--cpu is required (8xx, ARM9 or ARM7)");
  return kExitOk;
}

}  // namespace

int RunSimStation(const QStringList& args) {
  SimFleetArgs fleet;
  QString splitError;
  if (!SplitFleetArgs(args, &fleet, &splitError)) return Usage(splitError);
  struct Unit {
    std::unique_ptr<SimStation> station;
    QString saveDir;
  };
  std::vector<Unit> units;
  QHostAddress first;
  for (int i = 0; i < fleet.count; ++i) {
    SimStationOptions o;
    QString saveDir;
    if (const int status = ParseUnit(UnitArgs(fleet, i), o, saveDir); status != kExitOk) {
      return status;
    }
    if (i == 0) first = o.address;
    o.address = FleetAddress(first, i);
    if (o.address.isNull()) return Usage("--count runs past 127.255.255.254");
    // A fleet saves each station into a folder of its own.
    if (fleet.count > 1 && !saveDir.isEmpty()) saveDir += "/" + o.address.toString();
    units.push_back({std::make_unique<SimStation>(o), saveDir});
  }
  for (Unit& unit : units) {
    SimStation& station = *unit.station;
    QString error;
    if (!station.Start(&error)) {
      std::fprintf(stderr, "fwload sim station: %s\n", qPrintable(error));
      return kExitFailed;
    }
    const QString address = station.options().address.toString();
    std::printf("station %s port %u\n", qPrintable(address), station.Port());
    const QString saveDir = unit.saveDir;
    const bool fleetOfMany = units.size() > 1;
    QObject::connect(&station, &SimStation::Restarted,
                     [&station, saveDir, address, fleetOfMany](bool) {
                       if (fleetOfMany) {
                         std::printf("%s restarted: %s\n", qPrintable(address),
                                     qPrintable(station.UpdateState()));
                       } else {
                         std::printf("restarted: %s\n", qPrintable(station.UpdateState()));
                       }
                       std::fflush(stdout);
                       if (!saveDir.isEmpty()) Save(station, saveDir);
                     });
  }
  std::fflush(stdout);

  if (::pipe(stationSignalPipe) != 0) return kExitFailed;
  QSocketNotifier quit(stationSignalPipe[0], QSocketNotifier::Read);
  QObject::connect(&quit, &QSocketNotifier::activated, [] { QCoreApplication::quit(); });
  std::signal(SIGINT, OnStationSignal);
  std::signal(SIGTERM, OnStationSignal);
  QCoreApplication::exec();
  for (Unit& unit : units) unit.station->Stop();
  return kExitOk;
}

}  // namespace fwl::cli
