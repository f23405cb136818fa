#include "wizard/fwload_page2.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/application.h"
#include "app/settings.h"
#include "catalogue/firmware_names.h"
#include "platform/ui.h"
#include "wizard/fwload_psheet.h"
#include "wizard/path_field.h"
#include "wizard/search_options_dialog.h"

namespace fwl {
namespace {

constexpr char kNoVersionMessage[] =
    "A firmware version must be selected. If no versions appear in the list, make sure the "
    "firmware directory is correct and that firmware files exist.";
constexpr char kPathTooLongMessage[] =
    "Please move the firmware files closer to the root of the drive, the current path is too "
    "long.";
constexpr char kNoAccessMessage[] =
    "Unable to access the chosen firmware file, please make sure you have permission to read "
    "it.";
constexpr char kFolderBrowserTitle[] = "Select the firmware folder:";

// Paths this long or longer are refused (the unit's fetch command and the
// load parameter file keep the path in fixed buffers).
constexpr int kMaxFirmwarePathLength = 251;
// The folder browser's status line shows at most this much of the path.
constexpr int kStatusPathLength = 35;

// The version list draws the version in bold and the file behind it in the
// normal weight: "3.2.0 (kvimage_razeb3_2_0)".
class VersionEntryDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QString text = opt.text;
    opt.text.clear();
    QStyle* style = opt.widget ? opt.widget->style() : nullptr;
    if (style) style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);
    const qsizetype cut = text.indexOf(QStringLiteral(" ("));
    const QString version = cut < 0 ? text : text.left(cut);
    const QString rest = cut < 0 ? QString() : text.mid(cut);
    QRect r = opt.rect.adjusted(4, 0, -4, 0);
    painter->save();
    painter->setPen(opt.palette.color(opt.state & QStyle::State_Selected ? QPalette::HighlightedText
                                                                         : QPalette::Text));
    QFont bold = opt.font;
    bold.setBold(true);
    painter->setFont(bold);
    painter->drawText(r, Qt::AlignVCenter | Qt::AlignLeft, version);
    r.setLeft(r.left() + QFontMetrics(bold).horizontalAdvance(version));
    painter->setFont(opt.font);
    painter->drawText(r, Qt::AlignVCenter | Qt::AlignLeft,
                      QFontMetrics(opt.font).elidedText(rest, Qt::ElideMiddle, r.width()));
    painter->restore();
  }
};

QString WithSeparator(QString folder) {
  folder = QDir::toNativeSeparators(folder);
  if (!folder.isEmpty() && !folder.endsWith(QDir::separator())) folder += QDir::separator();
  return folder;
}

QToolButton* BrowseButton(int id, const QString& accessibleName, QWidget* parent) {
  auto* button = new QToolButton(parent);
  button->setText(QStringLiteral("..."));
  button->setObjectName(ControlName(id));
  button->setAccessibleName(accessibleName);
  button->setToolTip(accessibleName);
  button->setFocusPolicy(Qt::StrongFocus);
  return button;
}

}  // namespace

CFWLoadPage2::CFWLoadPage2(QWidget* parent)
    : CFWLoadPage(kDialogId, QStringLiteral("Select Product and Version"),
                  QStringLiteral("Product / Version Selection"),
                  QStringLiteral("Select the type of product and the firmware version to load."),
                  parent) {
  product_ = new QComboBox(this);
  product_->setObjectName(ControlName(1004));
  project_ = new PathField(this);
  project_->setObjectName(ControlName(1010));
  projectButton_ = BrowseButton(296, QStringLiteral("Project file: ..."), this);
  station_ = new QComboBox(this);
  station_->setObjectName(ControlName(1012));
  folder_ = new PathField(this);
  folder_->setObjectName(ControlName(1006));
  folderButton_ = BrowseButton(295, QStringLiteral("Firmware directory: ..."), this);
  recurse_ = new QCheckBox(QStringLiteral("Include s&ubdirectories"), this);
  recurse_->setObjectName(ControlName(1020));
  options_ = new QPushButton(QStringLiteral("&Options..."), this);
  options_->setObjectName(ControlName(1021));
  options_->setAutoDefault(false);
  versions_ = new QComboBox(this);
  versions_->setObjectName(ControlName(1005));
  versions_->setItemDelegate(new VersionEntryDelegate(versions_));
  versions_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  versions_->setMinimumContentsLength(24);
  product_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  station_->setMinimumContentsLength(16);
  station_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);

  auto* productHeading = HeadingLabel(QStringLiteral("Product selection:"), this, 1013);
  auto* productLabel = BuddyLabel(QStringLiteral("Select the type of &product:"), product_, this);
  projectLabel_ = BuddyLabel(QStringLiteral("Pro&ject file:"), project_, this, 1009);
  stationLabel_ = BuddyLabel(QStringLiteral("&Station name:"), station_, this, 1011);
  auto* firmwareHeading = HeadingLabel(QStringLiteral("Firmware selection:"), this, 1014);
  auto* folderLabel = BuddyLabel(QStringLiteral("Firmware &directory:"), folder_, this);
  auto* versionLabel = BuddyLabel(QStringLiteral("Select the firmware &version:"), versions_, this);

  auto* grid = new QGridLayout;
  grid->setColumnMinimumWidth(0, 12);
  grid->setColumnStretch(2, 1);
  int row = 0;
  grid->addWidget(productHeading, row++, 0, 1, 4);
  grid->addWidget(productLabel, row, 1);
  grid->addWidget(product_, row++, 2, 1, 2, Qt::AlignLeft);
  grid->addWidget(projectLabel_, row, 1);
  grid->addWidget(project_, row, 2);
  grid->addWidget(projectButton_, row++, 3);
  grid->addWidget(stationLabel_, row, 1);
  grid->addWidget(station_, row++, 2, 1, 2, Qt::AlignLeft);
  grid->setRowMinimumHeight(row++, 8);
  grid->addWidget(firmwareHeading, row++, 0, 1, 4);
  grid->addWidget(folderLabel, row, 1);
  grid->addWidget(folder_, row, 2);
  grid->addWidget(folderButton_, row++, 3);
  auto* scanRow = new QHBoxLayout;
  scanRow->addWidget(recurse_);
  scanRow->addStretch(1);
  scanRow->addWidget(options_);
  grid->addLayout(scanRow, row++, 2, 1, 2);
  grid->addWidget(versionLabel, row, 1);
  grid->addWidget(versions_, row++, 2, 1, 2);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addStretch(1);

  setTabOrder(product_, projectButton_);
  setTabOrder(projectButton_, station_);
  setTabOrder(station_, folderButton_);
  setTabOrder(folderButton_, recurse_);
  setTabOrder(recurse_, options_);
  setTabOrder(options_, versions_);
  // The path fields are read-only and only looked at; Tab passes them by.
  project_->setFocusPolicy(Qt::ClickFocus);
  folder_->setFocusPolicy(Qt::ClickFocus);

  connect(product_, &QComboBox::currentIndexChanged, this, [this] {
    if (!filling_) OnProductChanged();
  });
  connect(station_, &QComboBox::currentIndexChanged, this, [this] {
    if (!filling_) OnStationChanged();
  });
  connect(versions_, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (!filling_) scan_.SelectEntry(index);
  });
  connect(folderButton_, &QToolButton::clicked, this, &CFWLoadPage2::ChooseFirmwareFolder);
  connect(projectButton_, &QToolButton::clicked, this, &CFWLoadPage2::ChooseProjectFile);
  connect(options_, &QPushButton::clicked, this, &CFWLoadPage2::ShowSearchOptions);
}

int CFWLoadPage2::productType() const {
  const QVariant data = product_->currentData();
  return data.isValid() ? data.toInt() : -1;
}

QString CFWLoadPage2::stationName() const { return station_->currentText(); }

int CFWLoadPage2::stationTypeCode() const {
  return stations_.typeCodes.value(station_->currentText(), 0);
}

QString CFWLoadPage2::StationStem() const {
  const int type = stationTypeCode();
  return type != 0 ? StationImageStem(type) : QString();
}

void CFWLoadPage2::OnInitDialog() {
  const Application& app = Application::Instance();
  filling_ = true;
  if (!app.Station.isEmpty())
    product_->addItem(QLatin1String(kStationProductText), kProductStation);
  product_->addItem(QLatin1String(kSwitchProductText), kProductSwitch);

  firmwareFolder_ =
      WithSeparator(GetSettingText(QLatin1String(kSectionPages), QStringLiteral("fw dir")));
  folder_->SetPath(firmwareFolder_);

  if (app.Station.isEmpty() || app.Project.isEmpty()) {
    int index = GetSettingInt(QLatin1String(kSectionPages), QStringLiteral("prod type"));
    if (index < 0 || index > 2 || index >= product_->count()) index = 0;
    product_->setCurrentIndex(index);
  } else {
    product_->setCurrentIndex(product_->findData(kProductStation));
  }

  projectPath_ = app.Project;
  project_->SetPath(projectPath_);
  if (!projectPath_.isEmpty()) {
    if (ReloadStationList() < 0) ShowMessage(QLatin1String(kProjectReadError));
    const int found = station_->findText(app.Station, Qt::MatchExactly | Qt::MatchCaseSensitive);
    station_->setCurrentIndex(found);
    lastStation_ = app.Station;
  }
  recurse_->setChecked(GetSettingInt(QLatin1String(kSectionPages), QStringLiteral("recurse")) != 0);
  filling_ = false;

  RescanFirmwareFolder();
  ApplyProductState();
  UpdateOptionsButton();
}

void CFWLoadPage2::OnSetActive() { sheet()->SetWizardButtons(kWizardBack | kWizardNext); }

void CFWLoadPage2::ApplyProductState() {
  const bool forSwitch = productType() == kProductSwitch;
  for (QWidget* w : std::initializer_list<QWidget*>{projectLabel_, project_, projectButton_,
                                                    station_, stationLabel_})
    w->setEnabled(!forSwitch);
  filling_ = true;
  const QString noStation = QLatin1String(kNoStationText);
  if (forSwitch) {
    project_->SetPath(QString());
    if (station_->findText(noStation) < 0) station_->addItem(noStation);
    station_->setCurrentIndex(station_->findText(noStation));
  } else {
    const int na = station_->findText(noStation);
    if (na >= 0) station_->removeItem(na);
    SelectStation(lastStation_);
    project_->SetPath(projectPath_);
  }
  filling_ = false;
}

void CFWLoadPage2::UpdateOptionsButton() {
  options_->setVisible(OemString(kOemOldFirmware) != QLatin1String("0") ||
                       productType() == kProductStation);
}

void CFWLoadPage2::SelectStation(const QString& name) {
  const int found =
      name.isEmpty() ? -1 : station_->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
  station_->setCurrentIndex(found >= 0 ? found : (station_->count() > 0 ? 0 : -1));
}

void CFWLoadPage2::OnProductChanged() {
  ApplyProductState();
  RescanFirmwareFolder();
  ReloadStationList();
  UpdateOptionsButton();
}

int CFWLoadPage2::ReloadStationList() {
  const int result = LoadStationList(projectPath_, productType(), &stations_);
  const bool wasFilling = filling_;
  filling_ = true;
  station_->clear();
  station_->addItems(stations_.names);
  // The station chosen before stays chosen when the project still has it.
  if (!stations_.names.isEmpty()) SelectStation(lastStation_);
  if (!station_->currentText().isEmpty()) lastStation_ = station_->currentText();
  filling_ = wasFilling;
  if (!filling_ && StationStem() != scannedStem_) RefillVersionList();
  return result;
}

void CFWLoadPage2::OnStationChanged() {
  lastStation_ = station_->currentText();
  RefillVersionList();
}

void CFWLoadPage2::RescanFirmwareFolder() {
  FolderScanInputs& in = scan_.inputs();
  in.firmwareFolder = firmwareFolder_;
  in.includeSubfolders = recurse_->isChecked();
  in.productType = productType();
  in.stationStem = scannedStem_ = StationStem();
  {
    WaitCursor wait;
    scan_.RescanFirmwareFolder();
  }
  ShowVersions();
}

void CFWLoadPage2::RefillVersionList() {
  scan_.inputs().stationStem = scannedStem_ = StationStem();
  {
    WaitCursor wait;
    scan_.RefillVersionList();
  }
  ShowVersions();
}

void CFWLoadPage2::ShowVersions() {
  filling_ = true;
  versions_->clear();
  versions_->addItems(scan_.versionEntries());
  for (int i = 0; i < versions_->count(); ++i)
    versions_->setItemData(i, scan_.selectableFiles().value(i), Qt::ToolTipRole);
  versions_->setCurrentIndex(scan_.selectedIndex() < versions_->count() ? scan_.selectedIndex()
                                                                        : -1);
  filling_ = false;
}

void CFWLoadPage2::SetFirmwareFolder(const QString& folder) {
  firmwareFolder_ = WithSeparator(folder);
  folder_->SetPath(firmwareFolder_);
  RescanFirmwareFolder();
}

void CFWLoadPage2::SetProjectFile(const QString& path) {
  projectPath_ = QDir::toNativeSeparators(path);
  RememberChosenProject(projectPath_);
  project_->SetPath(projectPath_);
  ReloadStationList();
}

void CFWLoadPage2::ChooseFirmwareFolder() {
  QFileDialog dialog(this, QLatin1String(kFolderBrowserTitle), firmwareFolder_);
  dialog.setObjectName(QStringLiteral("folderBrowser"));
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
  // The status line under the browser shows the folder being pointed at.
  auto* status = new QLabel(&dialog);
  status->setObjectName(QStringLiteral("browserStatus"));
  if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout()))
    grid->addWidget(status, grid->rowCount(), 0, 1, -1);
  auto showStatus = [status](const QString& path) {
    const QString native = QDir::toNativeSeparators(path);
    status->setText(native.size() > kStatusPathLength
                        ? native.left(kStatusPathLength) + QStringLiteral("...")
                        : native);
  };
  connect(&dialog, &QFileDialog::currentChanged, status, showStatus);
  connect(&dialog, &QFileDialog::directoryEntered, status, showStatus);
  showStatus(firmwareFolder_);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  SetFirmwareFolder(dialog.selectedFiles().constFirst());
}

void CFWLoadPage2::ChooseProjectFile() {
  const ProjectChooserSetup setup = ProjectChooserStart(projectPath_);
  QFileDialog dialog(this, QStringLiteral("Open"));
  dialog.setObjectName(QStringLiteral("projectChooser"));
  dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::ReadOnly);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setDefaultSuffix(setup.defaultSuffix);
  dialog.setNameFilters(setup.nameFilters.split(QStringLiteral(";;")));
  if (!setup.initialFile.isEmpty()) {
    const QFileInfo start(setup.initialFile);
    dialog.setDirectory(start.absolutePath());
    dialog.selectFile(start.fileName());
  } else {
    dialog.setDirectory(setup.initialFolder);
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  SetProjectFile(dialog.selectedFiles().constFirst());
}

void CFWLoadPage2::ShowSearchOptions() {
  SearchOptionsDialog dialog(this);
  if (dialog.exec() == QDialog::Accepted) RescanFirmwareFolder();
}

bool CFWLoadPage2::validatePage() {
  const QString file = SelectedFirmwareFile();
  if (versions_->currentIndex() < 0 || file.isEmpty()) {
    ShowMessage(QLatin1String(kNoVersionMessage));
    return false;
  }
  if (file.size() >= kMaxFirmwarePathLength) {
    ShowMessage(QLatin1String(kPathTooLongMessage));
    return false;
  }
  const QFileInfo info(file);
  if (!info.isFile() || !info.isReadable()) {
    ShowMessage(QLatin1String(kNoAccessMessage));
    return false;
  }
  const Application& app = Application::Instance();
  const QString section = QLatin1String(kSectionPages);
  SetSettingInt(section, QStringLiteral("recurse"), recurse_->isChecked() ? 1 : 0);
  if (app.Station.isEmpty() && app.Project.isEmpty())
    SetSettingInt(section, QStringLiteral("prod type"), productType());
  SetSettingText(section, QStringLiteral("fw dir"), firmwareFolder_);

  if (productType() == kProductStation && !stationName().isEmpty()) {
    const QString project = projectPath_.isEmpty() ? app.Project : projectPath_;
    const QString serial = StationSerialNumber(project, stationName());
    if (serial.isEmpty()) {
      serialNumber_ = 0;
      ShowMessage(QLatin1String(kProjectSerialNumberError) + stationName());
      return false;
    }
    serialNumber_ = SerialNumberValue(serial);
  }
  return true;
}

}  // namespace fwl
