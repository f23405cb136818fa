#include "wizard/fwload_page2.h"

#include "wizard/fwload_psheet.h"

namespace fwl {

CFWLoadPage2::CFWLoadPage2(QWidget* parent)
    : CFWLoadPage(kDialogId, QStringLiteral("Select Product and Version"),
                  QStringLiteral("Product / Version Selection"),
                  QStringLiteral("Select the type of product and the firmware version to load."),
                  parent) {}

void CFWLoadPage2::OnSetActive() { sheet()->SetWizardButtons(kWizardBack | kWizardNext); }

}  // namespace fwl
