#include "wizard/search_options_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

namespace fwl {
namespace {

constexpr char kHeading[] = "Examine archive types for firmware files:";
constexpr char kNote[] =
    "(*Note: archives are temporarily extracted and examined for valid firmware files. This "
    "process can be lengthy if many files exist in the selected directory.)";

QCheckBox* Box(const QString& text, const char* name, bool checked, QWidget* parent) {
  auto* box = new QCheckBox(text, parent);
  box->setObjectName(QLatin1String(name));
  box->setChecked(checked);
  return box;
}

}  // namespace

SearchOptionsDialog::SearchOptionsDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("dlg134"));
  setWindowTitle(QStringLiteral("Search Options"));
  const SearchOptions shown = SearchOptionsForDialog();
  auto* heading = new QLabel(QString::fromLatin1(kHeading), this);
  zip_ = Box(QStringLiteral(".&zip"), "zipBox", shown.zip, this);
  tar_ = Box(QStringLiteral(".&tar"), "tarBox", shown.tar, this);
  tgz_ = Box(QStringLiteral(".t&gz"), "tgzBox", shown.tgz, this);
  gz_ = Box(QStringLiteral(".gz (&includes .tar.gz)"), "gzBox", shown.gz, this);
  auto* note = new QLabel(QString::fromLatin1(kNote), this);
  note->setWordWrap(true);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(heading);
  auto* boxes = new QVBoxLayout;
  boxes->setContentsMargins(16, 0, 0, 0);
  for (QCheckBox* box : {zip_, tar_, tgz_, gz_}) boxes->addWidget(box);
  layout->addLayout(boxes);
  layout->addWidget(note);
  layout->addWidget(buttons);
  setMinimumWidth(360);
}

SearchOptions SearchOptionsDialog::options() const {
  SearchOptions o;
  o.zip = zip_->isChecked();
  o.tar = tar_->isChecked();
  o.tgz = tgz_->isChecked();
  o.gz = gz_->isChecked();
  return o;
}

void SearchOptionsDialog::accept() {
  WriteSearchOptions(options());
  QDialog::accept();
}

}  // namespace fwl
