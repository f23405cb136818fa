#include "wizard/ip_address_edit.h"

#include <QRegularExpression>
#include <QRegularExpressionValidator>

namespace fwl {
namespace {

// Up to four numbers of at most three digits; the range is checked below.
const QRegularExpression& PartialQuad() {
  static const QRegularExpression re(QStringLiteral("^[0-9]{0,3}(\\.[0-9]{0,3}){0,3}$"));
  return re;
}

class QuadValidator : public QRegularExpressionValidator {
 public:
  explicit QuadValidator(QObject* parent) : QRegularExpressionValidator(PartialQuad(), parent) {}
  State validate(QString& input, int& pos) const override {
    input.remove(QLatin1Char(' '));
    pos = qMin(pos, int(input.size()));
    if (QRegularExpressionValidator::validate(input, pos) == Invalid) return Invalid;
    for (const QString& part : input.split(QLatin1Char('.'))) {
      if (!part.isEmpty() && part.toInt() > 255) return Invalid;
    }
    return IpAddressEdit::IsDottedQuad(input) ? Acceptable : Intermediate;
  }
};

bool IsAsciiDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

}  // namespace

IpAddressEdit::IpAddressEdit(QWidget* parent) : QLineEdit(parent) {
  setValidator(new QuadValidator(this));
  setMaxLength(15);
  // Wide enough for "255.255.255.255" and no wider than the layout needs.
  setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("255.255.255.2550")) + 12);
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

}  // namespace fwl
