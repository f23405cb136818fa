// The connection page: how the hardware is reached during the load (serial
// port together with Ethernet, or Ethernet only) and which serial port of
// this computer is used.
#pragma once

#include <QStringList>

#include "wizard/fwload_page.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace fwl {

// A serial port of this computer as the port list shows it.
struct ComPortEntry {
  QString name;         // "ttyUSB0", or a device path for ports found otherwise
  QString description;  // "FT232R USB UART"; may be empty
};

// The serial ports of this computer in enumeration order, plus `extra` when
// it names an existing device that the enumeration does not list (a
// pseudo-terminal, for instance).
QList<ComPortEntry> EnumerateComPorts(const QString& extra = QString());

class CFWLoadPage3 : public CFWLoadPage {
  Q_OBJECT

 public:
  static constexpr int kDialogId = 109;

  explicit CFWLoadPage3(QWidget* parent = nullptr);

  void OnInitDialog() override;
  void OnSetActive() override;
  // Stores the method and the port.
  bool validatePage() override;
  // The older station line goes straight to the begin-load page.
  int nextId() const override;

  // Item data of the selected method: 0 serial with Ethernet, 1 Ethernet
  // only; -1 with none.
  int connectionMethod() const;
  // The port to use: the port name of the selected or typed entry; a path
  // too long for the load parameter file is replaced by the device it
  // names.
  QString comPort() const;

  // The text of a port list entry: the name, then " — " and the description.
  static QString PortEntryText(const ComPortEntry& port);
  // The port name in an entry text.
  static QString PortFromEntryText(const QString& text);

 private:
  void FillPorts();
  void FillMethods();
  void ApplyMethodState();

  QComboBox* method_;
  QLabel* portLabel_;
  QComboBox* port_;
  QLabel* note_;
  QCheckBox* batch_;
  QPushButton* configure_;
};

}  // namespace fwl
