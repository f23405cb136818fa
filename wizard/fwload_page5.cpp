#include "wizard/fwload_page5.h"

#include <QAbstractButton>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>
#include <cstdio>

#include "catalogue/firmware_names.h"
#include "engine/load_engine.h"
#include "engine/load_record.h"
#include "platform/ui.h"
#include "switch/load_dispatch.h"
#include "tftp/tftp_server.h"
#include "wizard/fwload_page2.h"
#include "wizard/fwload_page3.h"
#include "wizard/fwload_page4.h"
#include "wizard/fwload_psheet.h"
#include "wizard/local_network.h"
#include "wizard/path_field.h"
#include "wizard/step_status_list.h"
#include "wizard/wizard_art.h"

namespace fwl {
namespace {

constexpr char kInitiatingRow[] = "Initiating communications...";
constexpr char kLoadFailed[] = "Error(s) were found during the load process.";
constexpr char kLoadSucceeded[] = "Load completed successfully.";
constexpr char kArpFailed[] = "Failed to adjust ARP table";
constexpr char kLoadNowTip[] = "Click here to begin the load.";

constexpr int kStatusColumnWidth = 300;
constexpr int kProgressColumnWidth = 60;

}  // namespace

CFWLoadPage5::CFWLoadPage5(QWidget* parent)
    : CFWLoadPage(kDialogId, QStringLiteral("Begin Load"), QStringLiteral("Begin Firmware Load"),
                  QStringLiteral("Click \"Load Now\" to begin the process of loading firmware."),
                  parent) {
  versionLine_ = new QLabel(this);
  versionLine_->setObjectName(ControlName(1026));
  versionLine_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  fileLine_ = new PathField(this);
  fileLine_->setObjectName(ControlName(1027));
  fileLine_->setFrame(false);
  fileLine_->setFocusPolicy(Qt::NoFocus);
  fileLine_->setAccessibleName(QStringLiteral("Firmware file"));
  // Drawn like the text line above it, not like an input field.
  QPalette flat = fileLine_->palette();
  flat.setColor(QPalette::Base, Qt::transparent);
  fileLine_->setPalette(flat);

  loadNow_ = new QPushButton(LoadNowIcon(), QStringLiteral("&Load Now"), this);
  loadNow_->setObjectName(ControlName(304));
  loadNow_->setIconSize(QSize(32, 32));
  loadNow_->setToolTip(QLatin1String(kLoadNowTip));
  loadNow_->setAccessibleDescription(QLatin1String(kLoadNowTip));
  loadNow_->setAutoDefault(false);
  loadNow_->setMinimumHeight(44);

  status_ = new StepStatusList(this);
  view_ = new QTreeView(this);
  view_->setObjectName(ControlName(624));
  view_->setAccessibleName(QStringLiteral("Status"));
  view_->setModel(status_);
  view_->setRootIsDecorated(false);
  view_->setItemsExpandable(false);
  view_->setUniformRowHeights(true);
  view_->setSelectionMode(QAbstractItemView::SingleSelection);
  view_->setSelectionBehavior(QAbstractItemView::SelectRows);
  view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view_->setIconSize(QSize(16, 16));
  view_->header()->setStretchLastSection(true);
  view_->header()->setSectionsMovable(false);
  view_->header()->setMinimumSectionSize(kProgressColumnWidth);
  view_->setColumnWidth(0, kStatusColumnWidth);
  view_->setMinimumHeight(140);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(versionLine_);
  layout->addWidget(fileLine_);
  auto* buttonRow = new QHBoxLayout;
  buttonRow->addWidget(loadNow_);
  buttonRow->addStretch(1);
  layout->addLayout(buttonRow);
  layout->addWidget(view_, 1);
  // Where the record of the last load went, for the operator's report.
  recordLine_ = new QLabel(this);
  recordLine_->setObjectName(QStringLiteral("recordLine"));
  recordLine_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  recordLine_->setWordWrap(true);
  layout->addWidget(recordLine_);
  setTabOrder(loadNow_, view_);

  connect(loadNow_, &QPushButton::clicked, this, [this] { LoadNow(); });
}

void CFWLoadPage5::OnInitDialog() {
  status_->StartBlinking();
  status_->SetNameMetrics(view_->fontMetrics(), kStatusColumnWidth);
  CFWLoadPSheet* s = sheet();
  s->engine().SetProgressCallback(
      [this](const LoadProgressEvent& event, void*) { OnLoadProgress(event); }, nullptr);
  // The wizard shows no diagnostic lines; FWLOADER_TRACE_LOAD=1 sends them
  // to the standard error stream for a developer.
  if (qEnvironmentVariableIntValue("FWLOADER_TRACE_LOAD") != 0) {
    s->engine().SetMessageSink(
        [](const QString& line, void*) { std::fprintf(stderr, "%s\n", qPrintable(line)); },
        nullptr);
  } else {
    s->engine().SetMessageSink([](const QString&, void*) {}, nullptr);
  }
  s->SetSwitchProgressReceiver(
      [this](const LoadProgressEvent& event, void*) { OnLoadProgress(event); }, nullptr);
}

void CFWLoadPage5::OnSetActive() {
  CFWLoadPSheet* s = sheet();
  s->SetWizardButtons(kWizardBack);
  const CFWLoadPage2* page2 = s->page2();
  const QString file = page2->SelectedFirmwareFile();
  const QString version = VersionFromFileName(file);
  if (page2->productType() == kProductSwitch) {
    versionLine_->setText(QStringLiteral("Firmware version: v%1").arg(version));
  } else {
    versionLine_->setText(QStringLiteral("Firmware version: v%1       Station name: %2")
                              .arg(version, page2->stationName()));
  }
  fileLine_->SetPath(file);
}

void CFWLoadPage5::ShowSwitchFirmware(const QString& filesystemImage) {
  versionLine_->setText(
      QStringLiteral("Firmware version: v%1").arg(VersionFromFileName(filesystemImage)));
  fileLine_->SetPath(filesystemImage);
}

void CFWLoadPage5::OnLoadProgress(const LoadProgressEvent& event) {
  status_->OnLoadProgress(event);
  // A new current row comes into view while the load runs.
  const int row = status_->currentRow();
  if ((event.flags & LoadProgressEvent::kStepIndex) && row >= 0 && row < status_->rowCount())
    view_->scrollTo(status_->index(row, 0));
}

void CFWLoadPage5::DeleteSwitchTftpServer() {
  CFWLoadPSheet* s = sheet();
  if (!s || !s->switchTftpServer) return;
  TftpServer* server = s->switchTftpServer;
  s->switchTftpServer = nullptr;
  delete server;
}

bool CFWLoadPage5::validatePage() {
  DeleteSwitchTftpServer();
  return true;
}

void CFWLoadPage5::cleanupPage() {
  DeleteSwitchTftpServer();
  CFWLoadPage::cleanupPage();
}

int CFWLoadPage5::LoadNow() {
  CFWLoadPSheet* s = sheet();
  DeleteSwitchTftpServer();
  loadNow_->setEnabled(false);
  loadNow_->hide();
  status_->Clear();
  recordLine_->clear();

  const LoadJob job = s->CurrentLoadJob();
  const bool ethernetOnly = job.method == kMethodEthernetOnly;
  const bool quietSuccess = ethernetOnly && job.product == kProductSwitch;

  status_->AppendRow(QLatin1String(kInitiatingRow));
  if (QAbstractButton* cancel = s->button(QWizard::CancelButton)) cancel->setFocus();
  // No wizard button may be pressed while the load runs.
  s->SetWizardButtons(0);

  const int result = StartLoad(job, s->engine(), s->switchInstall);
  // Names the outcome too: an Ethernet-only switch load ends with an empty
  // list and no box, and this line is then all the operator sees.
  recordLine_->setText(LastLoadRecordLine());

  if (!RemoveStationArpEntry(s->page4()->stationAddress())) ShowMessage(QLatin1String(kArpFailed));

  if (result == 0) {
    // A switch over Ethernet only keeps its three rows: the one it stopped
    // at, marked ERROR, is the operator's only sign of where it failed.
    if (!quietSuccess) status_->Clear();
    ShowMessage(QLatin1String(kLoadFailed), QStringLiteral("Error"), UiIcon::kError);
  } else if (result == 1) {
    if (!quietSuccess) ShowMessage(QLatin1String(kLoadSucceeded), QString(), UiIcon::kInformation);
    status_->Clear();
  } else {
    status_->Clear();
  }

  loadNow_->setEnabled(true);
  loadNow_->show();
  s->SetWizardButtons(ethernetOnly ? (kWizardBack | kWizardFinish) : (kWizardBack | kWizardNext));
  if (result == 1 && job.product == kProductStation) s->PressButton(kWizardNext);
  return result;
}

}  // namespace fwl
