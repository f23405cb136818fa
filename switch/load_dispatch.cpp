// Load dispatch: from the load job to the switch install or the serial
// engine, with the files the engine and the maker's software read.
#include "switch/load_dispatch.h"

#include "app/settings.h"
#include "catalogue/firmware_names.h"
#include "catalogue/work_folder_list.h"
#include "engine/load_engine.h"
#include "engine/load_parameter_file.h"
#include "engine/load_record.h"
#include "platform/ini_file.h"
#include "platform/ui.h"
#include "switch/switch_install.h"

namespace fwl {
namespace {

constexpr char kEthernetOnlyWarning[] =
    "Warning: With the Ethernet-only option there is the risk of an incomplete firmware load "
    "which will cause your station to stop functioning properly. If an interruption (Ethernet "
    "com loss, power failure, computer crash, etc.) occurs while loading firmware over an "
    "Ethernet-only connection then you will need to use the other option (both an Ethernet and "
    "serial connection) to restore the station.\n\nContinue?";

void WriteZebFirmware(const char* key, const QString& value) {
  WritePrivateProfileString(QString::fromLatin1(kSectionZebFirmware), QString::fromLatin1(key),
                            value, OemString(kOemIniFileName));
}

// Clears the engine's pointer to the call's folder list however the call ends.
class FolderListBinding {
 public:
  FolderListBinding(LoadEngine& engine, WorkFolderList* folders) : engine_(engine) {
    engine_.workFolderList = folders;
  }
  ~FolderListBinding() { engine_.workFolderList = nullptr; }
  FolderListBinding(const FolderListBinding&) = delete;
  FolderListBinding& operator=(const FolderListBinding&) = delete;

 private:
  LoadEngine& engine_;
};

}  // namespace

QString EngineOptions(const LoadJob& job) {
  QString options;
  if (IsStationProduct(job.product) && job.stationType == kTwoTransferStationType) {
    options = QStringLiteral("-NUM_TFTP=2");
  }
  if (job.method == kMethodEthernetOnly) options += QStringLiteral(" -ETH_ONLY");
  if (job.dhcp) options += QStringLiteral(" -DHCP");
  return options;
}

namespace {

int RunLoadPath(const LoadJob& job, LoadEngine& engine,
                const SwitchInstallFunction& installSwitch) {
  // Declared first so it outlives everything that may add to it.
  WorkFolderList folders;

  if (job.product == kProductSwitch && job.method == kMethodEthernetOnly) {
    if (!installSwitch) return InstallSwitchEthernetOnly(job, folders, engine);
    return installSwitch(job, folders);
  }

  LoadParameters parameters;
  parameters.comPort = job.comPort;
  parameters.pcAddress = job.pcAddress;
  parameters.stationAddress = job.stationAddress;
  parameters.subnet = job.subnet;
  parameters.gateway = job.gateway;
  parameters.firmwarePath = job.firmwareFile;
  WriteLoadParameterFile(parameters);

  engine.stationAddress = job.stationAddress;
  engine.stationGateway = job.gateway;
  engine.stationSubnet = job.subnet;
  WriteZebFirmware(kKeyLastPackage, job.firmwareFile);

  WaitCursor waitCursor;
  const QString options = EngineOptions(job);
  if (job.method == kMethodEthernetOnly &&
      Ui::Current().MessageBox(QString::fromLatin1(kEthernetOnlyWarning), QStringLiteral("Warning"),
                               UiIcon::kWarning, UiButtons::kYesNo) != kAnswerYes) {
    return -2;
  }

  engine.expectedSerial = job.serialNumber != 0 ? job.serialNumber : -1;
  FolderListBinding binding(engine, &folders);
  const int result = engine.Run(options);

  WriteZebFirmware(kKeyLoadComplete, QString::number(result));
  WriteZebFirmware(kKeyLoadStationConfig, QString::number(job.loadStationConfig));
  return result;
}

LoadRecordSubject RecordSubjectOf(const LoadJob& job) {
  LoadRecordSubject subject;
  subject.product =
      job.product == kProductSwitch ? QStringLiteral("switch") : QStringLiteral("station");
  subject.method = job.method == kMethodEthernetOnly ? QStringLiteral("ethernet only")
                                                     : QStringLiteral("serial");
  subject.firmwareFile = job.firmwareFile;
  if (job.method != kMethodEthernetOnly) subject.comPort = job.comPort;
  subject.pcAddress = job.pcAddress;
  subject.unitAddress = job.stationAddress;
  subject.subnet = job.subnet;
  subject.gateway = job.gateway;
  subject.stationName = job.stationName;
  subject.stationType = job.stationType;
  subject.serialNumber = job.serialNumber;
  subject.userName = job.user;
  subject.password = job.password;
  return subject;
}

}  // namespace

int StartLoad(const LoadJob& job, LoadEngine& engine, const SwitchInstallFunction& installSwitch) {
  // Every load leaves a record, whichever path it took and however it ended.
  LoadRecorder recorder(RecordSubjectOf(job), engine);
  const int result = RunLoadPath(job, engine, installSwitch);
  recorder.Finish(result);
  return result;
}

}  // namespace fwl
