// The configuration page: after a successful controller load it asks whether
// the station's configuration from the project file is to be loaded when the
// wizard closes. The answer goes to the application object on Finish.
#pragma once

#include "wizard/fwload_page.h"

class QCheckBox;

namespace fwl {

class CFWLoadPage6 : public CFWLoadPage {
  Q_OBJECT

 public:
  static constexpr int kDialogId = 112;

  explicit CFWLoadPage6(QWidget* parent = nullptr);

  // Back and Finish.
  void OnSetActive() override;
  // Stores `loadConfigOnExit` in the application object and as "LoadStaCfg"
  // in the configuration software's file.
  bool OnWizardFinish() override;

  // 1 checked (the initial state), 0 not; follows every change of the box.
  int loadConfigOnExit = 1;

 private:
  QCheckBox* loadConfig_;
};

}  // namespace fwl
