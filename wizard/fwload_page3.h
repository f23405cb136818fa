// The connection page: serial connection with Ethernet, or Ethernet only, and the COM port.
// Shows its header and sets the wizard buttons; its controls are still to come.
#pragma once

#include "wizard/fwload_page.h"

namespace fwl {

class CFWLoadPage3 : public CFWLoadPage {
  Q_OBJECT

 public:
  static constexpr int kDialogId = 109;

  explicit CFWLoadPage3(QWidget* parent = nullptr);

  void OnSetActive() override;
};

}  // namespace fwl
