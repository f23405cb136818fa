// An IP address field: accepts only what can become a dotted quad (four
// numbers 0..255), reads as blank while empty, and hands out its address in
// "%d.%d.%d.%d" form with missing numbers as 0 (a blank field reads as
// "0.0.0.0", as the pages' "blank" checks expect).
#pragma once

#include <QLineEdit>

namespace fwl {

class IpAddressEdit : public QLineEdit {
  Q_OBJECT

 public:
  explicit IpAddressEdit(QWidget* parent = nullptr);

  // True when no number has been typed.
  bool IsBlank() const;
  // The address as "%d.%d.%d.%d"; "0.0.0.0" when blank.
  QString Address() const;
  // Shows `address` when it is a dotted quad (leading zeros dropped);
  // anything else clears the field.
  void SetAddress(const QString& address);
  void ClearAddress() { clear(); }

  // True when `text` is four dot-separated numbers 0..255.
  static bool IsDottedQuad(const QString& text);
};

}  // namespace fwl
