// The welcome page: what the wizard does, what a load destroys, the port the
// unit needs, and the program's version.
#pragma once

#include "wizard/fwload_page.h"

class QLabel;

namespace fwl {

class CFWLoadPage1 : public CFWLoadPage {
  Q_OBJECT

 public:
  static constexpr int kDialogId = 107;

  explicit CFWLoadPage1(QWidget* parent = nullptr);

  void OnInitDialog() override;
  // Next only.
  void OnSetActive() override;

  // "Version " + the program's version, or "" when it cannot be told.
  static QString VersionLine();

 private:
  QLabel* versionLine_;
};

}  // namespace fwl
