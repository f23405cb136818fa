// The begin-load page: shows what will be loaded, starts the load with
// "Load Now" and follows it in the status list, then reports the result and
// sets the wizard buttons (after a controller load it moves on by itself).
#pragma once

#include "engine/load_progress.h"
#include "wizard/fwload_page.h"

class QLabel;
class QPushButton;
class QTreeView;

namespace fwl {

class PathField;
class StepStatusList;

class CFWLoadPage5 : public CFWLoadPage {
  Q_OBJECT

 public:
  static constexpr int kDialogId = 111;

  explicit CFWLoadPage5(QWidget* parent = nullptr);

  void OnInitDialog() override;
  void OnSetActive() override;
  // Next and Back first remove a TFTP server left from a switch load.
  bool validatePage() override;
  void cleanupPage() override;

  // The progress receiver the engine and the switch path report to.
  void OnLoadProgress(const LoadProgressEvent& event);

  // The firmware lines for a switch whose board takes another image than
  // the one chosen: the switch install calls it once it has settled the
  // image it serves.
  void ShowSwitchFirmware(const QString& filesystemImage);

  // The "Load Now" handler: runs the whole load, then shows the result.
  // Returns the dispatcher's result (1, 0, -1, -2).
  int LoadNow();

  StepStatusList* statusList() const { return status_; }
  QTreeView* statusView() const { return view_; }
  QPushButton* loadNowButton() const { return loadNow_; }
  // After a load "Load record saved (loaded): <path>" (or "(failed)",
  // "(cancelled)"), or "Load record could not be saved: <reason>"; empty
  // before.
  QLabel* recordLine() const { return recordLine_; }

 private:
  void DeleteSwitchTftpServer();

  QLabel* versionLine_;
  PathField* fileLine_;
  QPushButton* loadNow_;
  QTreeView* view_;
  StepStatusList* status_;
  QLabel* recordLine_;
};

}  // namespace fwl
