#include "wizard/ip_address_edit.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QRegularExpression>
#include <QTimer>
#include <QValidator>

namespace fwl {
namespace {

constexpr int kNoticeMs = 5000;

// Up to four runs of digits separated by dots; the size of each number is
// judged separately so that a refusal can be explained.
const QRegularExpression& DigitsAndDots() {
  static const QRegularExpression re(QStringLiteral("^[0-9]*(\\.[0-9]*){0,3}$"));
  return re;
}

bool IsAsciiDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

}  // namespace

// Refuses letters and a fifth number silently (nothing an operator could
// mean as part of an address) and a number above 255 with a notice.
class QuadValidator : public QValidator {
 public:
  explicit QuadValidator(IpAddressEdit* edit) : QValidator(edit), edit_(edit) {}

  State validate(QString& input, int& pos) const override {
    input.remove(QLatin1Char(' '));
    pos = qMin(pos, int(input.size()));
    if (!DigitsAndDots().match(input).hasMatch()) return Invalid;
    for (const QString& part : input.split(QLatin1Char('.'))) {
      if (part.size() > 3 || part.toInt() > 255) {
        // Told after QLineEdit has finished with the refused edit.
        QPointer<IpAddressEdit> edit = edit_;
        const QString refused = part;
        QMetaObject::invokeMethod(
            edit_,
            [edit, refused] {
              if (edit) edit->ShowRefusal(refused);
            },
            Qt::QueuedConnection);
        return Invalid;
      }
    }
    return IpAddressEdit::IsDottedQuad(input) ? Acceptable : Intermediate;
  }

 private:
  IpAddressEdit* edit_;
};

IpAddressEdit::IpAddressEdit(QWidget* parent) : QLineEdit(parent) {
  setValidator(new QuadValidator(this));
  setMaxLength(15);
  // Wide enough for "255.255.255.255" and no wider than the layout needs.
  setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("255.255.255.2550")) + 12);
  // An accepted edit answers the notice.
  connect(this, &QLineEdit::textEdited, this, &IpAddressEdit::HideNotice);
}

bool IpAddressEdit::IsBlank() const {
  for (QChar c : text())
    if (IsAsciiDigit(c)) return false;
  return true;
}

QString IpAddressEdit::Address() const {
  const QStringList parts = text().split(QLatin1Char('.'));
  QStringList out;
  for (int i = 0; i < 4; ++i) out << QString::number(i < parts.size() ? parts[i].toInt() : 0);
  return out.join(QLatin1Char('.'));
}

void IpAddressEdit::SetAddress(const QString& address) {
  const QString trimmed = address.trimmed();
  if (!IsDottedQuad(trimmed)) {
    clear();
    return;
  }
  QStringList out;
  for (const QString& part : trimmed.split(QLatin1Char('.'))) out << QString::number(part.toInt());
  setText(out.join(QLatin1Char('.')));
}

bool IpAddressEdit::IsDottedQuad(const QString& text) {
  const QStringList parts = text.split(QLatin1Char('.'));
  if (parts.size() != 4) return false;
  for (const QString& part : parts) {
    if (part.isEmpty() || part.size() > 3) return false;
    for (QChar c : part)
      if (!IsAsciiDigit(c)) return false;
    if (part.toInt() > 255) return false;
  }
  return true;
}

QString IpAddressEdit::RefusalNotice(const QString& part) {
  return QStringLiteral("An IP address is four numbers from 0 to 255: %1 does not fit.").arg(part);
}

QLabel* IpAddressEdit::shownNotice() const {
  return notice_ && notice_->isVisible() ? notice_ : nullptr;
}

void IpAddressEdit::ShowRefusal(const QString& part) {
  if (!isVisible()) {
    emit InputRefused(part);
    return;
  }
  // A window of its own under the field, where the operator is looking: a
  // tool tip would vanish with the release of the very key it explains.
  if (!notice_) {
    notice_ = new QLabel(this, Qt::ToolTip | Qt::FramelessWindowHint);
    notice_->setObjectName(QStringLiteral("addressNotice"));
    notice_->setForegroundRole(QPalette::ToolTipText);
    notice_->setBackgroundRole(QPalette::ToolTipBase);
    notice_->setAutoFillBackground(true);
    notice_->setFrameStyle(QFrame::Box | QFrame::Plain);
    notice_->setMargin(4);
    noticeTimer_ = new QTimer(this);
    noticeTimer_->setSingleShot(true);
    connect(noticeTimer_, &QTimer::timeout, this, &IpAddressEdit::HideNotice);
  }
  if (notice_->isHidden()) savedDescription_ = accessibleDescription();
  notice_->setText(RefusalNotice(part));
  notice_->adjustSize();
  notice_->move(mapToGlobal(QPoint(0, height())));
  notice_->show();
  noticeTimer_->start(kNoticeMs);
  QApplication::beep();
  // Screen readers hear it as the field's description.
  setAccessibleDescription(notice_->text());
  QAccessibleEvent changed(this, QAccessible::DescriptionChanged);
  QAccessible::updateAccessibility(&changed);
  emit InputRefused(part);
}

void IpAddressEdit::HideNotice() {
  if (!notice_ || notice_->isHidden()) return;
  notice_->hide();
  setAccessibleDescription(savedDescription_);
}

void IpAddressEdit::focusOutEvent(QFocusEvent* event) {
  HideNotice();
  QLineEdit::focusOutEvent(event);
}

void IpAddressEdit::hideEvent(QHideEvent* event) {
  HideNotice();
  QLineEdit::hideEvent(event);
}

}  // namespace fwl
