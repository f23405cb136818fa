// The begin-load page: the "Load Now" button and the step status list.
// Shows its header and sets the wizard buttons; its controls are still to come.
#pragma once

#include "wizard/fwload_page.h"

namespace fwl {

class CFWLoadPage5 : public CFWLoadPage {
  Q_OBJECT

 public:
  static constexpr int kDialogId = 111;

  explicit CFWLoadPage5(QWidget* parent = nullptr);

  void OnSetActive() override;
};

}  // namespace fwl
