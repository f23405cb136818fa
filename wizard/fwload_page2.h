// The product and firmware selection page: product type, project and station, firmware folder and
// version. Shows its header and sets the wizard buttons; its controls are still to come.
#pragma once

#include "wizard/fwload_page.h"

namespace fwl {

class CFWLoadPage2 : public CFWLoadPage {
  Q_OBJECT

 public:
  static constexpr int kDialogId = 108;

  explicit CFWLoadPage2(QWidget* parent = nullptr);

  void OnSetActive() override;
};

}  // namespace fwl
