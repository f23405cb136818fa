// The IP settings page: the address of this computer that the hardware
// contacts during the load, the temporary address, subnet mask and gateway
// of the station or switch, and the credentials of a switch's web interface
// for an Ethernet-only switch load. Proposes values from the last run, this
// computer's adapters and, for a station, the project file.
#pragma once

#include <QList>

#include "wizard/fwload_page.h"
#include "wizard/local_network.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

namespace fwl {

class IpAddressEdit;

class CFWLoadPage4 : public CFWLoadPage {
  Q_OBJECT

 public:
  static constexpr int kDialogId = 110;

  explicit CFWLoadPage4(QWidget* parent = nullptr);

  void OnInitDialog() override;
  void OnSetActive() override;
  // The Next checks, the gateway note (once per run) and the stored values.
  // A field holding part of an address is refused with a message naming it.
  bool validatePage() override;

  // Selections read by the load.
  QString pcAddress() const;  // typed address when "Use this IP Address:" is checked
  QString stationAddress() const;
  QString subnet() const;
  QString gateway() const;  // "" when blank
  QString user() const;
  QString password() const;
  bool gatewayNoteShown() const { return gatewayNoteShown_; }

 private:
  void FillAdapters();
  void ShowAdapter(const QString& ip);
  void SelectLastIp();
  void OnUseTypedAddress();
  bool ForStation() const;

  QComboBox* adapters_;
  IpAddressEdit* adapterMask_;
  IpAddressEdit* adapterGateway_;
  QCheckBox* useTyped_;
  IpAddressEdit* typed_;
  QLabel* heading_;
  QLabel* targetLabel_;
  IpAddressEdit* target_;
  IpAddressEdit* targetMask_;
  IpAddressEdit* targetGateway_;
  QLabel* credentialsHeading_;
  QLabel* userLabel_;
  QLineEdit* user_;
  QLabel* passwordLabel_;
  QLineEdit* password_;

  QList<AdapterAddress> adapterList_;
  bool gatewayNoteShown_ = false;
};

}  // namespace fwl
