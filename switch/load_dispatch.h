// The one entry that runs a load from the operator's choices: it picks the
// Ethernet-only switch install or the serial load engine, hands the choices
// over (load parameter file, engine members, option string) and records the
// outcome for the maker's configuration software.
#pragma once

#include <QString>
#include <functional>

#include "switch/load_job.h"

namespace fwl {

class LoadEngine;
class WorkFolderList;

// Keys of the maker's configuration file ("plexmon.ini", section
// "Zeb Firmware") written around a load.
inline constexpr char kSectionZebFirmware[] = "Zeb Firmware";
inline constexpr char kKeyLastPackage[] = "last pkg";
inline constexpr char kKeyLoadComplete[] = "LoadComplete";
inline constexpr char kKeyLoadStationConfig[] = "LoadStaCfg";

// The Ethernet-only switch install; it may add temporary folders to the
// list, which are removed when StartLoad returns.
using SwitchInstallFunction = std::function<int(const LoadJob& job, WorkFolderList& folders)>;

// The option string the engine gets for `job`: "-NUM_TFTP=2" for a station
// whose type fetches two images, then " -ETH_ONLY" for the Ethernet-only
// method, and " -DHCP" when the job asks for it; empty when none applies.
QString EngineOptions(const LoadJob& job);

// Runs the load `job` describes.
// - A managed switch over Ethernet only goes to `installSwitch` (its result
//   is returned); without one, to the switch install with its standard
//   settings (web server on port 80, TFTP on 69), reporting through
//   `engine`'s progress callback and message sink.
// - Every other load writes the load parameter file and "last pkg", sets the
//   engine's station address, subnet, gateway and expected serial number,
//   asks Yes/No before an Ethernet-only station load (anything but Yes
//   returns -2 and loads nothing), runs `engine` and writes "LoadComplete"
//   and "LoadStaCfg".
// Returns 1 success, 0 errors found, -1/-2 failure already reported or a
// load the operator declined. Temporary folders of the load (bundle images)
// are removed before it returns. Every call writes a load record
// (engine/load_record.h); LastLoadRecordPath() names it afterwards.
int StartLoad(const LoadJob& job, LoadEngine& engine,
              const SwitchInstallFunction& installSwitch = SwitchInstallFunction());

}  // namespace fwl
