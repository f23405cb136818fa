#include "wizard/fwload_page4.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "app/settings.h"
#include "catalogue/firmware_names.h"
#include "catalogue/project_file.h"
#include "platform/ui.h"
#include "wizard/fwload_page2.h"
#include "wizard/fwload_page3.h"
#include "wizard/fwload_psheet.h"
#include "wizard/ip_address_edit.h"

namespace fwl {
namespace {

constexpr char kNoAdapters[] = "No network adapters found";
constexpr char kBlankAddress[] = "0.0.0.0";

constexpr char kNeedPcAddress[] = "Please enter the IP Address of this computer.";
constexpr char kNeedAddress[] = "An IP Address is required for this operation.";
constexpr char kNeedStationAddress[] = "A station IP Address is required for this operation.";
constexpr char kNeedSwitchAddress[] = "A switch IP Address is required for this operation.";
constexpr char kNeedSubnet[] = "A subnet mask is required for this operation.";
constexpr char kStationGatewayNote[] =
    "About the Gateway IP field:\n\nYou can leave this field blank if your computer's IP address "
    "and the station IP address are on a compatible subnet and communicate successfully. If "
    "necessary, specify the appropriate Gateway IP address that will allow your computer and "
    "your station to communicate.";
constexpr char kSwitchGatewayNote[] =
    "About the Gateway IP field:\n\nYou can leave this field blank if your computer's IP address "
    "and the switch IP address are on a compatible subnet and communicate successfully. If "
    "necessary, specify the appropriate Gateway IP address that will allow your computer and "
    "your switch to communicate.";
constexpr char kBlankCredentials[] = "Warning: User name and/or password field is blank.";
// A field with some numbers but not four: taking the missing ones as 0
// would load with an address nobody typed.
constexpr char kIncompletePcAddress[] = "The IP address of this computer is incomplete.";
constexpr char kIncompleteStationAddress[] = "The Station IP address is incomplete.";
constexpr char kIncompleteSwitchAddress[] = "The Switch IP address is incomplete.";
constexpr char kIncompleteSubnet[] = "The subnet mask is incomplete.";
constexpr char kIncompleteGateway[] = "The Gateway IP address is incomplete.";

QString Setting(const char* name) {
  return GetSettingText(QLatin1String(kSectionPages), QLatin1String(name));
}

bool IsUsable(const QString& address) {
  return !address.isEmpty() && address != QLatin1String(kBlankAddress);
}

IpAddressEdit* AddressField(int id, QWidget* parent) {
  auto* field = new IpAddressEdit(parent);
  field->setObjectName(ControlName(id));
  return field;
}

// A field that holds part of an address: refused with `message`, and the
// keyboard goes back to the field.
bool RefusedAsIncomplete(IpAddressEdit* field, const char* message) {
  if (field->IsBlank() || field->IsComplete()) return false;
  ShowMessage(QLatin1String(message));
  field->setFocus();
  return true;
}

}  // namespace

CFWLoadPage4::CFWLoadPage4(QWidget* parent)
    : CFWLoadPage(kDialogId, QStringLiteral("IP Settings"), QStringLiteral("IP Address Settings"),
                  QStringLiteral("The settings below allow the hardware to connect to your PC "
                                 "during the load process."),
                  parent) {
  adapters_ = new QComboBox(this);
  adapters_->setObjectName(ControlName(296));
  adapters_->setMinimumContentsLength(18);
  adapters_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  adapterMask_ = AddressField(404, this);
  adapterMask_->setReadOnly(true);
  adapterGateway_ = AddressField(405, this);
  adapterGateway_->setReadOnly(true);
  useTyped_ = new QCheckBox(QStringLiteral("&Use this IP Address:"), this);
  useTyped_->setObjectName(ControlName(297));
  typed_ = AddressField(400, this);
  typed_->setAccessibleName(QStringLiteral("Use this IP Address:"));
  target_ = AddressField(401, this);
  targetMask_ = AddressField(402, this);
  targetGateway_ = AddressField(403, this);
  user_ = new QLineEdit(this);
  user_->setObjectName(ControlName(1030));
  password_ = new QLineEdit(this);
  password_->setObjectName(ControlName(1033));
  password_->setEchoMode(QLineEdit::Password);

  auto* pcHeading = HeadingLabel(QStringLiteral("This computer:"), this, 1016);
  auto* adaptersLabel = BuddyLabel(QStringLiteral("IP &Addresses found:"), adapters_, this);
  auto* maskLabel = BuddyLabel(QStringLiteral("Subnet mask:"), adapterMask_, this);
  auto* gatewayLabel = BuddyLabel(QStringLiteral("Gateway IP:"), adapterGateway_, this);
  adapterMask_->setAccessibleDescription(QStringLiteral("of the selected address"));
  adapterGateway_->setAccessibleDescription(QStringLiteral("of the selected address"));
  heading_ = HeadingLabel(QStringLiteral("Station settings:"), this, 1017);
  targetLabel_ = BuddyLabel(QStringLiteral("Station &IP:"), target_, this, 699);
  auto* targetMaskLabel = BuddyLabel(QStringLiteral("Subnet &mask:"), targetMask_, this);
  auto* targetGatewayLabel = BuddyLabel(QStringLiteral("&Gateway IP:"), targetGateway_, this);
  credentialsHeading_ = HeadingLabel(QStringLiteral("Authorization credentials:"), this, 1034);
  userLabel_ = BuddyLabel(QStringLiteral("U&ser:"), user_, this, 1032);
  passwordLabel_ = BuddyLabel(QStringLiteral("Pass&word:"), password_, this, 1031);

  auto* grid = new QGridLayout;
  grid->setColumnMinimumWidth(0, 12);
  grid->setColumnStretch(3, 1);
  int row = 0;
  grid->addWidget(pcHeading, row++, 0, 1, 4);
  grid->addWidget(adaptersLabel, row, 1);
  grid->addWidget(adapters_, row++, 2, 1, 2, Qt::AlignLeft);
  grid->addWidget(maskLabel, row, 1);
  grid->addWidget(adapterMask_, row++, 2);
  grid->addWidget(gatewayLabel, row, 1);
  grid->addWidget(adapterGateway_, row++, 2);
  grid->addWidget(useTyped_, row, 1);
  grid->addWidget(typed_, row++, 2);
  grid->setRowMinimumHeight(row++, 6);
  grid->addWidget(heading_, row++, 0, 1, 4);
  grid->addWidget(targetLabel_, row, 1);
  grid->addWidget(target_, row++, 2);
  grid->addWidget(targetMaskLabel, row, 1);
  grid->addWidget(targetMask_, row++, 2);
  grid->addWidget(targetGatewayLabel, row, 1);
  grid->addWidget(targetGateway_, row++, 2);
  grid->setRowMinimumHeight(row++, 6);
  grid->addWidget(credentialsHeading_, row++, 0, 1, 4);
  grid->addWidget(userLabel_, row, 1);
  grid->addWidget(user_, row++, 2);
  grid->addWidget(passwordLabel_, row, 1);
  grid->addWidget(password_, row++, 2);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addStretch(1);

  setTabOrder(adapters_, useTyped_);
  setTabOrder(useTyped_, typed_);
  setTabOrder(typed_, target_);
  setTabOrder(target_, targetMask_);
  setTabOrder(targetMask_, targetGateway_);
  setTabOrder(targetGateway_, user_);
  setTabOrder(user_, password_);
  adapterMask_->setFocusPolicy(Qt::ClickFocus);
  adapterGateway_->setFocusPolicy(Qt::ClickFocus);

  connect(adapters_, &QComboBox::currentTextChanged, this, &CFWLoadPage4::ShowAdapter);
  // Follows the box's state, not clicks: a keyboard, a screen reader's
  // toggle action and a click must all give the same page.
  connect(useTyped_, &QCheckBox::toggled, this, &CFWLoadPage4::OnUseTypedAddress);
}

bool CFWLoadPage4::ForStation() const { return sheet()->page2()->productType() == kProductStation; }

void CFWLoadPage4::FillAdapters() {
  adapterList_ = AdapterAddresses();
  adapters_->blockSignals(true);
  adapters_->clear();
  for (const AdapterAddress& a : adapterList_) adapters_->addItem(a.ip);
  if (adapterList_.isEmpty()) adapters_->addItem(QLatin1String(kNoAdapters));
  adapters_->setCurrentIndex(0);
  adapters_->blockSignals(false);
  ShowAdapter(adapters_->currentText());
}

void CFWLoadPage4::ShowAdapter(const QString& ip) {
  if (useTyped_->isChecked()) return;  // the fields stay cleared for a typed address
  for (const AdapterAddress& a : adapterList_) {
    if (a.ip != ip) continue;
    adapterMask_->SetAddress(a.mask);
    if (IsUsable(a.gateway)) {
      adapterGateway_->SetAddress(a.gateway);
    } else {
      adapterGateway_->ClearAddress();
    }
    return;
  }
  adapterMask_->ClearAddress();
  adapterGateway_->ClearAddress();
}

void CFWLoadPage4::SelectLastIp() {
  const int found = adapters_->findText(Setting("last ip"));
  if (found >= 0) adapters_->setCurrentIndex(found);
  ShowAdapter(adapters_->currentText());
}

void CFWLoadPage4::OnUseTypedAddress() {
  const bool typed = useTyped_->isChecked();
  typed_->setEnabled(typed);
  adapters_->setEnabled(!typed);
  if (typed) {
    adapterMask_->ClearAddress();
    adapterGateway_->ClearAddress();
  } else {
    ShowAdapter(adapters_->currentText());
  }
}

void CFWLoadPage4::OnInitDialog() {
  FillAdapters();
  SelectLastIp();
  useTyped_->setChecked(GetSettingInt(QLatin1String(kSectionPages), QStringLiteral("spec. ip")) !=
                        0);
  typed_->setEnabled(useTyped_->isChecked());
  adapters_->setEnabled(!useTyped_->isChecked());
  if (!Setting("spec. ip addr").isEmpty()) typed_->SetAddress(Setting("spec. ip addr"));
  if (IsUsable(Setting("switch ip"))) target_->SetAddress(Setting("switch ip"));
  if (IsUsable(Setting("subnet"))) targetMask_->SetAddress(Setting("subnet"));
  if (IsUsable(Setting("gateway ip"))) targetGateway_->SetAddress(Setting("gateway ip"));
  user_->setText(Setting("user"));
}

void CFWLoadPage4::OnSetActive() {
  CFWLoadPSheet* s = sheet();
  s->SetWizardButtons(kWizardBack | kWizardNext);
  adapterMask_->setEnabled(false);
  adapterGateway_->setEnabled(false);

  FillAdapters();
  SelectLastIp();
  // The box may have been changed since the page was last left.
  typed_->setEnabled(useTyped_->isChecked());
  adapters_->setEnabled(!useTyped_->isChecked());
  if (useTyped_->isChecked()) {
    adapterMask_->ClearAddress();
    adapterGateway_->ClearAddress();
  }
  if (typed_->IsBlank() && !Setting("spec. ip addr").isEmpty())
    typed_->SetAddress(Setting("spec. ip addr"));

  const bool station = ForStation();
  QString subnet;
  QString gateway;
  if (station) {
    const CFWLoadPage2* page2 = s->page2();
    const QString address = StationAddress(page2->projectPath(), page2->stationName());
    if (!address.isEmpty()) target_->SetAddress(address);
    StationSubnetAndGateway(page2->projectPath(), page2->stationName(), &subnet, &gateway);
  } else {
    subnet = Setting("subnet");
  }
  if (IsUsable(subnet)) {
    targetMask_->SetAddress(subnet);
  } else if (!station) {
    targetMask_->ClearAddress();
  }
  if (IsUsable(gateway)) {
    targetGateway_->SetAddress(gateway);
  } else {
    targetGateway_->ClearAddress();
  }

  const bool forSwitch = s->page2()->productType() == kProductSwitch;
  heading_->setText(forSwitch ? QStringLiteral("Switch settings:")
                              : QStringLiteral("Station settings:"));
  targetLabel_->setText(forSwitch ? QStringLiteral("Switch &IP:") : QStringLiteral("Station &IP:"));
  target_->setAccessibleName(WithoutMnemonic(targetLabel_->text()));

  const bool credentials = forSwitch && s->page3()->connectionMethod() == 1;
  for (QWidget* w : std::initializer_list<QWidget*>{userLabel_, user_, passwordLabel_, password_,
                                                    credentialsHeading_})
    w->setEnabled(credentials);
}

QString CFWLoadPage4::pcAddress() const {
  if (useTyped_->isChecked()) return typed_->Address();
  const QString text = adapters_->currentText();
  return text == QLatin1String(kNoAdapters) ? QString() : text;
}

QString CFWLoadPage4::stationAddress() const { return target_->Address(); }
QString CFWLoadPage4::subnet() const { return targetMask_->Address(); }
QString CFWLoadPage4::gateway() const {
  return targetGateway_->IsBlank() ? QString() : targetGateway_->Address();
}
QString CFWLoadPage4::user() const { return user_->text(); }
QString CFWLoadPage4::password() const { return password_->text(); }

bool CFWLoadPage4::validatePage() {
  const bool station = ForStation();
  if (useTyped_->isChecked() && typed_->IsBlank()) {
    ShowMessage(QLatin1String(kNeedPcAddress));
    return false;
  }
  if (useTyped_->isChecked() && RefusedAsIncomplete(typed_, kIncompletePcAddress)) return false;
  // "No network adapters found" is no address to give the hardware.
  if (!useTyped_->isChecked() && pcAddress().isEmpty()) {
    ShowMessage(QLatin1String(kNeedAddress));
    return false;
  }
  if (target_->IsBlank()) {
    ShowMessage(QLatin1String(station ? kNeedStationAddress : kNeedSwitchAddress));
    return false;
  }
  if (RefusedAsIncomplete(target_, station ? kIncompleteStationAddress : kIncompleteSwitchAddress))
    return false;
  if (targetMask_->IsBlank()) {
    ShowMessage(QLatin1String(kNeedSubnet));
    return false;
  }
  if (RefusedAsIncomplete(targetMask_, kIncompleteSubnet)) return false;
  if (RefusedAsIncomplete(targetGateway_, kIncompleteGateway)) return false;
  if (targetGateway_->IsBlank() && !gatewayNoteShown_) {
    ShowMessage(QLatin1String(station ? kStationGatewayNote : kSwitchGatewayNote),
                QStringLiteral("Information"), UiIcon::kInformation);
    gatewayNoteShown_ = true;
  }
  const QString section = QLatin1String(kSectionPages);
  const CFWLoadPSheet* s = sheet();
  if (s->page2()->productType() == kProductSwitch && s->page3()->connectionMethod() == 1) {
    if (user_->text().isEmpty() || password_->text().isEmpty())
      ShowMessage(QLatin1String(kBlankCredentials), QString(), UiIcon::kWarning);
    SetSettingText(section, QStringLiteral("user"), user_->text());
  }
  SetSettingText(section, QStringLiteral("last ip"), pcAddress());
  SetSettingInt(section, QStringLiteral("spec. ip"), useTyped_->isChecked() ? 1 : 0);
  SetSettingText(section, QStringLiteral("switch ip"), target_->Address());
  SetSettingText(section, QStringLiteral("subnet"), targetMask_->Address());
  SetSettingText(section, QStringLiteral("gateway ip"), targetGateway_->Address());
  // A blank typed address is not stored as "0.0.0.0", which would pass the
  // blank check as this computer's address on the next run; nor is a part
  // of one (the box is unchecked, or it would not have passed) made whole.
  SetSettingText(section, QStringLiteral("spec. ip addr"),
                 typed_->IsComplete() ? typed_->Address() : QString());
  return true;
}

}  // namespace fwl
