#include "wizard/fwload_page3.h"

#include "wizard/fwload_psheet.h"

namespace fwl {

CFWLoadPage3::CFWLoadPage3(QWidget* parent)
    : CFWLoadPage(kDialogId, QStringLiteral("Connection"), QStringLiteral("Connection Type"),
                  QStringLiteral("Select the type of connection to be used during loading."),
                  parent) {}

void CFWLoadPage3::OnSetActive() { sheet()->SetWizardButtons(kWizardBack | kWizardNext); }

}  // namespace fwl
