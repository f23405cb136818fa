// The product and firmware selection page: the product type, for controllers
// the project file and the station, the firmware folder and one firmware
// version found in it by the folder scan. Later pages and the load read the
// selections from here.
#pragma once

#include "catalogue/folder_scan.h"
#include "catalogue/project_file.h"
#include "wizard/fwload_page.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QToolButton;

namespace fwl {

class PathField;

class CFWLoadPage2 : public CFWLoadPage {
  Q_OBJECT

 public:
  static constexpr int kDialogId = 108;

  // Entries of the product list.
  static constexpr char kStationProductText[] = "Industrial Controller / RTU";
  static constexpr char kSwitchProductText[] = "Managed Switch";
  // The station list's entry while a switch is selected (spaces included).
  static constexpr char kNoStationText[] = " N/A ";

  explicit CFWLoadPage2(QWidget* parent = nullptr);

  void OnInitDialog() override;
  void OnSetActive() override;
  // The Next checks; false keeps the page.
  bool validatePage() override;

  // Selections read by the other pages and the load.
  int productType() const;      // item data of the selected product; -1 with none
  QString stationName() const;  // the station list's text
  int stationTypeCode() const;  // of the selected station; 0 when unknown
  const QString& projectPath() const { return projectPath_; }
  quint32 stationSerialNumber() const { return serialNumber_; }
  QString SelectedFirmwareFile() const { return scan_.SelectedFirmwareFile(); }
  const QString& firmwareFolder() const { return firmwareFolder_; }
  const FolderScan& scan() const { return scan_; }

  // Operator actions of the buttons, callable without their dialogs
  // (the dialogs end in these).
  void SetFirmwareFolder(const QString& folder);
  void SetProjectFile(const QString& path);

  // The station list's entries for the product selected now.
  const StationList& stations() const { return stations_; }

 private:
  void ApplyProductState();
  void UpdateOptionsButton();
  void OnProductChanged();
  void OnStationChanged();
  void RescanFirmwareFolder();
  void RefillVersionList();
  void ShowVersions();
  int ReloadStationList();
  void SelectStation(const QString& name);
  QString StationStem() const;
  void ChooseFirmwareFolder();
  void ChooseProjectFile();
  void ShowSearchOptions();

  QComboBox* product_;
  QLabel* projectLabel_;
  PathField* project_;
  QToolButton* projectButton_;
  QLabel* stationLabel_;
  QComboBox* station_;
  PathField* folder_;
  QToolButton* folderButton_;
  QCheckBox* recurse_;
  QPushButton* options_;
  QComboBox* versions_;

  FolderScan scan_;
  StationList stations_;
  QString firmwareFolder_;
  QString projectPath_;
  QString lastStation_;
  QString scannedStem_;  // the station stem the version list was built for
  quint32 serialNumber_ = 0;
  bool filling_ = false;  // lists being refilled: selection signals are not the operator's
};

}  // namespace fwl
