#include "wizard/fwload_page.h"

#include "wizard/fwload_psheet.h"

namespace fwl {

CFWLoadPage::CFWLoadPage(int dialogId, const QString& dialogTitle, const QString& headerTitle,
                         const QString& headerSubtitle, QWidget* parent)
    : QWizardPage(parent), dialogId_(dialogId), dialogTitle_(dialogTitle) {
  setTitle(headerTitle);
  setSubTitle(headerSubtitle);
}

CFWLoadPSheet* CFWLoadPage::sheet() const { return qobject_cast<CFWLoadPSheet*>(wizard()); }

void CFWLoadPage::Activate() {
  if (!initialised_) {
    initialised_ = true;
    OnInitDialog();
  }
  OnSetActive();
}

}  // namespace fwl
