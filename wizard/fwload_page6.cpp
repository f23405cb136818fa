#include "wizard/fwload_page6.h"

#include <QCheckBox>
#include <QLabel>
#include <QVBoxLayout>

#include "app/application.h"
#include "app/settings.h"
#include "platform/ini_file.h"
#include "switch/load_dispatch.h"
#include "wizard/fwload_psheet.h"

namespace fwl {
namespace {

constexpr char kExplanation[] =
    "Although firmware has been loaded, the station configuration (port settings, IP Address, "
    "...) are all set to defaults at this time. This option allows the station to be loaded "
    "with the current settings in the previously selected project file.";
constexpr char kLoadConfigText[] = "Load station configuration on exit.";

}  // namespace

CFWLoadPage6::CFWLoadPage6(QWidget* parent)
    : CFWLoadPage(kDialogId, QStringLiteral("Configuration Load Options"),
                  QStringLiteral("Station Configuration Load"),
                  QStringLiteral("This option allows the station settings (IP, port settings, "
                                 "...) to be loaded at this time."),
                  parent) {
  auto* explanation = new QLabel(QString::fromLatin1(kExplanation), this);
  explanation->setWordWrap(true);
  loadConfig_ = new QCheckBox(QString::fromLatin1(kLoadConfigText), this);
  loadConfig_->setObjectName(QStringLiteral("ctl306"));
  loadConfig_->setChecked(loadConfigOnExit != 0);
  // The box's state, however it changed (mouse, keyboard, a screen reader's
  // toggle), is the answer.
  connect(loadConfig_, &QCheckBox::toggled, this,
          [this](bool checked) { loadConfigOnExit = checked ? 1 : 0; });

  auto* layout = new QVBoxLayout(this);
  layout->setSpacing(16);
  layout->addWidget(explanation);
  layout->addWidget(loadConfig_);
  layout->addStretch(1);
}

void CFWLoadPage6::OnSetActive() { sheet()->SetWizardButtons(kWizardBack | kWizardFinish); }

bool CFWLoadPage6::OnWizardFinish() {
  loadConfigOnExit = loadConfig_->isChecked() ? 1 : 0;
  Application::Instance().loadConfigOnExit = loadConfigOnExit;
  // The configuration software reads the answer from its file: the value
  // the load wrote there was only this box's state while the load ran.
  WritePrivateProfileString(QLatin1String(kSectionZebFirmware),
                            QLatin1String(kKeyLoadStationConfig), QString::number(loadConfigOnExit),
                            OemString(kOemIniFileName));
  return true;
}

}  // namespace fwl
