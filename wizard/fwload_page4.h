// The IP settings page: PC and unit addresses, subnet, gateway and credentials for the load.
// Shows its header and sets the wizard buttons; its controls are still to come.
#pragma once

#include "wizard/fwload_page.h"

namespace fwl {

class CFWLoadPage4 : public CFWLoadPage {
  Q_OBJECT

 public:
  static constexpr int kDialogId = 110;

  explicit CFWLoadPage4(QWidget* parent = nullptr);

  void OnSetActive() override;
};

}  // namespace fwl
