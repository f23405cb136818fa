#include "wizard/fwload_page1.h"

#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "wizard/fwload_psheet.h"
#include "wizard/wizard_art.h"

namespace fwl {
namespace {

constexpr char kIntroText[] =
    "This wizard will help guide you through the process of upgrading firmware. ";
constexpr char kWarningText[] =
    "The load cannot be cancelled once it has been started, and once completed, all "
    "settings/programs will be removed or set to factory defaults.";
constexpr char kRingSwitchText[] = "* This wizard is not intended for use with ring switches. ";
constexpr char kPortText[] =
    "* Please make sure port 69 is open for a connection from the device you are loading to "
    "this machine.";
constexpr char kVersionPrefix[] = "Version ";

QLabel* AddText(QWidget* parent, int id, const char* text) {
  auto* label = new QLabel(QString::fromLatin1(text), parent);
  label->setObjectName(QStringLiteral("ctl%1").arg(id));
  label->setWordWrap(true);
  return label;
}

}  // namespace

CFWLoadPage1::CFWLoadPage1(QWidget* parent)
    : CFWLoadPage(kDialogId, QStringLiteral("Firmware Loader"), QStringLiteral("Firmware Loader"),
                  QStringLiteral(" "), parent) {
  auto* icon = new QLabel(this);
  icon->setObjectName(QStringLiteral("ctl300"));
  icon->setPixmap(DrawProgramIcon(32));
  icon->setAlignment(Qt::AlignTop | Qt::AlignLeft);

  auto* texts = new QVBoxLayout;
  texts->setSpacing(12);
  texts->addWidget(AddText(this, 299, kIntroText));
  texts->addWidget(AddText(this, 696, kWarningText));
  texts->addWidget(AddText(this, 1000, kRingSwitchText));
  texts->addWidget(AddText(this, 1047, kPortText));
  texts->addStretch(1);
  versionLine_ = AddText(this, 1001, "");
  texts->addWidget(versionLine_);

  // Wide enough that the wrapped texts need no more height than the page
  // has, whatever the font size.
  const int textWidth = fontMetrics().averageCharWidth() * 58;
  for (QLabel* label : findChildren<QLabel*>())
    if (label->wordWrap()) label->setMinimumWidth(textWidth);

  auto* grid = new QGridLayout(this);
  grid->setHorizontalSpacing(14);
  grid->addWidget(icon, 0, 0, Qt::AlignTop);
  grid->addLayout(texts, 0, 1);
  grid->setColumnStretch(1, 1);
}

QString CFWLoadPage1::VersionLine() {
  // The version compiled in stands for the version resource of the program
  // file; a build without one leaves the line empty.
  const QString version = QStringLiteral(FWL_VERSION);
  return version.isEmpty() ? QString() : QLatin1String(kVersionPrefix) + version;
}

void CFWLoadPage1::OnInitDialog() { versionLine_->setText(VersionLine()); }

void CFWLoadPage1::OnSetActive() { sheet()->SetWizardButtons(kWizardNext); }

}  // namespace fwl
