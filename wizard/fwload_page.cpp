#include "wizard/fwload_page.h"

#include <QLabel>

#include "wizard/fwload_psheet.h"

namespace fwl {

QString ControlName(int id) { return QStringLiteral("ctl%1").arg(id); }

QString WithoutMnemonic(const QString& text) {
  QString out;
  out.reserve(text.size());
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] == QLatin1Char('&') && i + 1 < text.size()) ++i;
    out += text[i];
  }
  return out;
}

QLabel* BuddyLabel(const QString& text, QWidget* buddy, QWidget* parent, int id) {
  auto* label = new QLabel(text, parent);
  if (id > 0) label->setObjectName(ControlName(id));
  label->setBuddy(buddy);
  buddy->setAccessibleName(WithoutMnemonic(text).trimmed());
  return label;
}

QLabel* HeadingLabel(const QString& text, QWidget* parent, int id) {
  auto* label = new QLabel(text, parent);
  if (id > 0) label->setObjectName(ControlName(id));
  QFont font = label->font();
  font.setBold(true);
  label->setFont(font);
  return label;
}

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
