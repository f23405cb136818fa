// The boot monitor's environment: ordered "name=value" variables, the way
// "printenv" lists them and "saveenv" stores them.
#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

namespace fwl {

class SimEnvironment {
 public:
  // Value of `name`, or an empty text when it is not defined.
  QString Get(const QString& name) const;
  bool Contains(const QString& name) const;
  // Sets `name`; an empty value deletes the variable, as "setenv name" does.
  void Set(const QString& name, const QString& value);
  // All variables as "name=value" lines ending in "\n", in definition order.
  QByteArray Listing() const;
  // Bytes the variables take when stored (each "name=value" plus a NUL).
  int StoredSize() const;
  const QList<QPair<QString, QString>>& Items() const { return items_; }

 private:
  QList<QPair<QString, QString>> items_;
};

}  // namespace fwl
