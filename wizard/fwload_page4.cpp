#include "wizard/fwload_page4.h"

#include "wizard/fwload_psheet.h"

namespace fwl {

CFWLoadPage4::CFWLoadPage4(QWidget* parent)
    : CFWLoadPage(kDialogId, QStringLiteral("IP Settings"), QStringLiteral("IP Address Settings"),
                  QStringLiteral("The settings below allow the hardware to connect to your PC "
                                 "during the load process."),
                  parent) {}

void CFWLoadPage4::OnSetActive() { sheet()->SetWizardButtons(kWizardBack | kWizardNext); }

}  // namespace fwl
