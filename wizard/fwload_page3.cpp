#include "wizard/fwload_page3.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QVBoxLayout>

#include "app/settings.h"
#include "catalogue/firmware_names.h"
#include "engine/load_parameter_file.h"
#include "wizard/fwload_page2.h"
#include "wizard/fwload_psheet.h"

namespace fwl {
namespace {

constexpr char kDescriptionSeparator[] = " \u2014 ";  // " — "

struct MethodTexts {
  const char* serial;
  const char* ethernetOnly;
};
constexpr MethodTexts kOldLineMethods{"Use Serial communications", "Use Ethernet communications"};
constexpr MethodTexts kMethods{"Use Ethernet and serial communications",
                               "Use Ethernet only (no serial port connection)"};

}  // namespace

QList<ComPortEntry> EnumerateComPorts(const QString& extra) {
  QList<ComPortEntry> ports;
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
    ports << ComPortEntry{info.portName(), info.description()};
  if (!extra.isEmpty()) {
    bool listed = false;
    for (const ComPortEntry& p : ports)
      if (p.name == extra) listed = true;
    // A device path the enumeration does not know (pseudo-terminals, links
    // to ports) counts as present while the device exists.
    if (!listed && extra.startsWith(QLatin1Char('/')) && QFileInfo::exists(extra))
      ports << ComPortEntry{extra, QString()};
  }
  return ports;
}

QString CFWLoadPage3::PortEntryText(const ComPortEntry& port) {
  return port.description.isEmpty()
             ? port.name
             : port.name + QString::fromUtf8(kDescriptionSeparator) + port.description;
}

QString CFWLoadPage3::PortFromEntryText(const QString& text) {
  const qsizetype cut = text.indexOf(QString::fromUtf8(kDescriptionSeparator));
  return (cut < 0 ? text : text.left(cut)).trimmed();
}

CFWLoadPage3::CFWLoadPage3(QWidget* parent)
    : CFWLoadPage(kDialogId, QStringLiteral("Connection"), QStringLiteral("Connection Type"),
                  QStringLiteral("Select the type of connection to be used during loading."),
                  parent) {
  method_ = new QComboBox(this);
  method_->setObjectName(ControlName(1015));
  method_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  port_ = new QComboBox(this);
  port_->setObjectName(ControlName(302));
  // A port the enumeration does not list can be typed as a device path.
  port_->setEditable(true);
  port_->setInsertPolicy(QComboBox::NoInsert);
  port_->setMinimumContentsLength(22);
  port_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);

  auto* methodLabel = BuddyLabel(
      QStringLiteral("Select the type of &connection to use during loading:"), method_, this);
  auto* portHeading = new QLabel(QStringLiteral("Please select the port on your PC to use."), this);
  portHeading->setObjectName(ControlName(634));
  portLabel_ = BuddyLabel(QStringLiteral("&Port:"), port_, this, 635);
  note_ = new QLabel(
      QStringLiteral("*Firmware version 3.7 and up required for Ethernet Only method"), this);
  note_->setObjectName(ControlName(1029));
  note_->setWordWrap(true);
  batch_ = new QCheckBox(QStringLiteral("Batch load multiple switches"), this);
  batch_->setObjectName(ControlName(1035));
  batch_->hide();
  configure_ = new QPushButton(QStringLiteral("Configure..."), this);
  configure_->setObjectName(ControlName(1036));
  configure_->hide();

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(methodLabel);
  auto* methodRow = new QHBoxLayout;
  methodRow->addSpacing(12);
  methodRow->addWidget(method_);
  methodRow->addStretch(1);
  layout->addLayout(methodRow);
  layout->addWidget(note_);
  layout->addSpacing(16);
  layout->addWidget(portHeading);
  auto* portRow = new QHBoxLayout;
  portRow->addSpacing(12);
  portRow->addWidget(portLabel_);
  portRow->addWidget(port_);
  portRow->addStretch(1);
  layout->addLayout(portRow);
  auto* batchRow = new QHBoxLayout;
  batchRow->addWidget(batch_);
  batchRow->addWidget(configure_);
  batchRow->addStretch(1);
  layout->addLayout(batchRow);
  layout->addStretch(1);
  setTabOrder(method_, port_);

  connect(method_, &QComboBox::currentIndexChanged, this, &CFWLoadPage3::ApplyMethodState);
}

int CFWLoadPage3::connectionMethod() const {
  const QVariant data = method_->currentData();
  return data.isValid() ? data.toInt() : -1;
}

QString CFWLoadPage3::comPort() const {
  const QString port = PortFromEntryText(port_->currentText());
  // The load parameter file keeps the port in a short field: a long path
  // (a link to a port, say) goes there as the device it names.
  if (port.size() >= kComportBufferSize) {
    const QString device = QFileInfo(port).canonicalFilePath();
    if (!device.isEmpty() && device.size() < kComportBufferSize) return device;
  }
  return port;
}

void CFWLoadPage3::FillPorts() {
  const QString last =
      GetSettingText(QLatin1String(kSectionPages), QStringLiteral("last com port"));
  port_->clear();
  int selected = -1;
  for (const ComPortEntry& entry : EnumerateComPorts(last)) {
    if (entry.name == last) selected = port_->count();
    port_->addItem(PortEntryText(entry), entry.name);
  }
  port_->setCurrentIndex(selected);
  if (selected < 0) port_->setEditText(QString());
}

void CFWLoadPage3::FillMethods() {
  const int product = sheet()->page2()->productType();
  const MethodTexts& texts = product == kProductOldLine ? kOldLineMethods : kMethods;
  method_->blockSignals(true);
  method_->clear();
  method_->addItem(QLatin1String(texts.serial), 0);
  method_->addItem(QLatin1String(texts.ethernetOnly), 1);
  int index = GetSettingInt(QLatin1String(kSectionPages), QStringLiteral("method selection"));
  if (index < 0 || index > 1) index = 0;
  method_->setCurrentIndex(index);
  method_->blockSignals(false);
}

void CFWLoadPage3::OnInitDialog() {
  FillPorts();
  sheet()->SetWizardButtons(kWizardBack | kWizardNext);
  FillMethods();
  note_->setVisible(sheet()->page2()->productType() == kProductSwitch);
  ApplyMethodState();
}

void CFWLoadPage3::OnSetActive() {
  sheet()->SetWizardButtons(kWizardBack | kWizardNext);
  FillPorts();
  // The product may have changed since the page was first shown; the entries
  // follow it, keeping the selected method.
  const int method = qMax(0, method_->currentIndex());
  const bool oldLine = sheet()->page2()->productType() == kProductOldLine;
  if (method_->itemText(0) != QLatin1String(oldLine ? kOldLineMethods.serial : kMethods.serial)) {
    FillMethods();
    method_->setCurrentIndex(method);
  }
  note_->setVisible(sheet()->page2()->productType() == kProductSwitch);
  ApplyMethodState();
}

void CFWLoadPage3::ApplyMethodState() {
  const bool ethernetOnly = connectionMethod() == 1;
  port_->setEnabled(!ethernetOnly);
  portLabel_->setEnabled(!ethernetOnly);
}

bool CFWLoadPage3::validatePage() {
  const QString section = QLatin1String(kSectionPages);
  SetSettingInt(section, QStringLiteral("method selection"), qMax(0, connectionMethod()));
  SetSettingText(section, QStringLiteral("last com port"), PortFromEntryText(port_->currentText()));
  return true;
}

int CFWLoadPage3::nextId() const {
  const CFWLoadPSheet* s = sheet();
  if (s && s->page2()->productType() == kProductOldLine) return CFWLoadPSheet::kPage5;
  return CFWLoadPage::nextId();
}

}  // namespace fwl
