// An IP address field: accepts only what can become a dotted quad (four
// numbers 0..255), reads as blank while empty, and hands out its address in
// "%d.%d.%d.%d" form with missing numbers as 0 (a blank field reads as
// "0.0.0.0", as the pages' "blank" checks expect). Input that would make a
// number larger than 255 is refused with a notice at the field, so the
// operator never ends up with another address than the one typed.
#pragma once

#include <QLineEdit>

class QLabel;
class QTimer;

namespace fwl {

class IpAddressEdit : public QLineEdit {
  Q_OBJECT

 public:
  explicit IpAddressEdit(QWidget* parent = nullptr);

  // True when no number has been typed.
  bool IsBlank() const;
  // True when the field holds four numbers, none of them missing.
  bool IsComplete() const { return IsDottedQuad(text()); }
  // The address as "%d.%d.%d.%d"; "0.0.0.0" when blank.
  QString Address() const;
  // Shows `address` when it is a dotted quad (leading zeros dropped);
  // anything else clears the field.
  void SetAddress(const QString& address);
  void ClearAddress() { clear(); }

  // True when `text` is four dot-separated numbers 0..255.
  static bool IsDottedQuad(const QString& text);
  // The notice shown when `part` was refused as a number of an address.
  static QString RefusalNotice(const QString& part);
  // The notice window under the field while it shows (tests), else nullptr.
  QLabel* shownNotice() const;

 signals:
  // Typed or pasted input was refused because `part` would not be a number
  // 0..255; the notice is on show at the field when this is emitted.
  void InputRefused(const QString& part);

 protected:
  void focusOutEvent(QFocusEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  friend class QuadValidator;
  void ShowRefusal(const QString& part);
  void HideNotice();

  QLabel* notice_ = nullptr;
  QTimer* noticeTimer_ = nullptr;
  QString savedDescription_;
};

}  // namespace fwl
