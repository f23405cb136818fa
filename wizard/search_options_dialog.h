// The "Search Options" dialog of the product page: which archive types the
// firmware folder scan unpacks and examines. OK stores the four flags.
#pragma once

#include <QDialog>

#include "catalogue/folder_scan.h"

class QCheckBox;

namespace fwl {

class SearchOptionsDialog : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kDialogId = 134;

  // The boxes show SearchOptionsForDialog().
  explicit SearchOptionsDialog(QWidget* parent = nullptr);

  SearchOptions options() const;
  void accept() override;  // stores the flags, then closes

 private:
  QCheckBox* zip_;
  QCheckBox* tar_;
  QCheckBox* tgz_;
  QCheckBox* gz_;
};

}  // namespace fwl
