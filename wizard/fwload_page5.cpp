#include "wizard/fwload_page5.h"

#include "wizard/fwload_psheet.h"

namespace fwl {

CFWLoadPage5::CFWLoadPage5(QWidget* parent)
    : CFWLoadPage(kDialogId, QStringLiteral("Begin Load"), QStringLiteral("Begin Firmware Load"),
                  QStringLiteral("Click \"Load Now\" to begin the process of loading firmware."),
                  parent) {}

void CFWLoadPage5::OnSetActive() { sheet()->SetWizardButtons(kWizardBack); }

}  // namespace fwl
