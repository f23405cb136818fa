#include "sim/sim_environment.h"

namespace fwl {

QString SimEnvironment::Get(const QString& name) const {
  for (const auto& item : items_)
    if (item.first == name) return item.second;
  return QString();
}

bool SimEnvironment::Contains(const QString& name) const {
  for (const auto& item : items_)
    if (item.first == name) return true;
  return false;
}

void SimEnvironment::Set(const QString& name, const QString& value) {
  for (qsizetype i = 0; i < items_.size(); ++i) {
    if (items_[i].first != name) continue;
    if (value.isEmpty()) {
      items_.removeAt(i);
    } else {
      items_[i].second = value;
    }
    return;
  }
  if (!value.isEmpty()) items_.append({name, value});
}

QByteArray SimEnvironment::Listing() const {
  QByteArray out;
  for (const auto& item : items_) out += (item.first + '=' + item.second + '\n').toLatin1();
  return out;
}

int SimEnvironment::StoredSize() const {
  int size = 0;
  for (const auto& item : items_) size += int(item.first.size() + item.second.size()) + 2;
  return size;
}

}  // namespace fwl
