#include "wizard/fwload_psheet.h"

#include <QCloseEvent>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>

#include "app/application.h"
#include "app/help.h"
#include "app/settings.h"
#include "catalogue/firmware_names.h"
#include "catalogue/firmware_package_reader.h"
#include "engine/load_engine.h"
#include "switch/switch_install.h"
#include "wizard/fwload_page1.h"
#include "wizard/fwload_page2.h"
#include "wizard/fwload_page3.h"
#include "wizard/fwload_page4.h"
#include "wizard/fwload_page5.h"
#include "wizard/fwload_page6.h"
#include "wizard/help_viewer.h"
#include "wizard/wizard_art.h"

namespace fwl {

CFWLoadPSheet::CFWLoadPSheet(const QString& caption, QWidget* parent, int firstPage,
                             const QPixmap& watermark, const QPixmap& header)
    : QWizard(parent),
      page1_(new CFWLoadPage1),
      page2_(new CFWLoadPage2),
      page3_(new CFWLoadPage3),
      page4_(new CFWLoadPage4),
      page5_(new CFWLoadPage5),
      page6_(new CFWLoadPage6),
      icon_(ProgramIcon()),
      engine_(std::make_unique<LoadEngine>()),
      caption_(caption) {
  knownFirmwareNames = KnownStems();
  // The images are served on the stored TFTP port (69 unless changed).
  const int listen = GetSettingInt(QLatin1String(kSectionTftp), QStringLiteral("listen"));
  if (listen > 0 && listen <= 65535) engine_->tftpListenPort = quint16(listen);
  // A switch over Ethernet only fetches from the same TFTP port; its web
  // interface is on port 80 unless FWLOADER_SWITCH_HTTP_PORT says otherwise
  // (the demo's simulated switch listens elsewhere).
  switchInstall = [this](const LoadJob& job, WorkFolderList& folders) {
    SwitchInstallSettings settings;
    settings.tftpPort = engine_->tftpListenPort;
    const int httpPort = qEnvironmentVariableIntValue("FWLOADER_SWITCH_HTTP_PORT");
    if (httpPort > 0 && httpPort <= 65535) settings.httpPort = httpPort;
    // The begin-load page names the image the switch's board really gets.
    settings.firmwareChanged = [this](const QString& filesystemImage) {
      page5_->ShowSwitchFirmware(filesystemImage);
    };
    return InstallSwitchEthernetOnly(job, folders, *engine_, settings);
  };
  packageReader_ = std::make_unique<FirmwarePackageReader>(knownFirmwareNames, bundleOemName);
  setWizardStyle(QWizard::ModernStyle);
  setWindowTitle(caption);
  setWindowIcon(icon_);
  setPixmap(QWizard::LogoPixmap, header);
  page1_->setPixmap(QWizard::WatermarkPixmap, watermark);

  setPage(kPage1, page1_);
  setPage(kPage2, page2_);
  setPage(kPage3, page3_);
  setPage(kPage4, page4_);
  setPage(kPage5, page5_);
  setPage(kPage6, page6_);
  setStartId(qBound(int(kPage1), firstPage, int(kPage6)));

  // The mask decides Back, Next and Finish, not QWizard's own rules, so the
  // three are our own buttons; Help and Cancel stay QWizard's.
  setOption(QWizard::HaveHelpButton, true);
  setOption(QWizard::NoBackButtonOnStartPage, false);
  setButtonText(QWizard::CustomButton1, QStringLiteral("< &Back"));
  setButtonText(QWizard::CustomButton2, QStringLiteral("&Next >"));
  setButtonText(QWizard::CustomButton3, QStringLiteral("Finish"));
  setButtonText(QWizard::HelpButton, QStringLiteral("Help"));
  setButtonText(QWizard::CancelButton, QStringLiteral("Cancel"));
  setOption(QWizard::HaveCustomButton1, true);
  setOption(QWizard::HaveCustomButton2, true);
  setOption(QWizard::HaveCustomButton3, true);
  setButtonLayout({QWizard::Stretch, QWizard::CustomButton1, QWizard::CustomButton2,
                   QWizard::CustomButton3, QWizard::CancelButton, QWizard::HelpButton});
  back_ = qobject_cast<QPushButton*>(button(QWizard::CustomButton1));
  next_ = qobject_cast<QPushButton*>(button(QWizard::CustomButton2));
  finish_ = qobject_cast<QPushButton*>(button(QWizard::CustomButton3));
  connect(back_, &QPushButton::clicked, this, [this] {
    if (back_->isEnabled()) back();
  });
  connect(next_, &QPushButton::clicked, this, [this] {
    if (next_->isEnabled() && next_->isVisible()) next();
  });
  connect(finish_, &QPushButton::clicked, this, [this] {
    if (finish_->isEnabled() && finish_->isVisible()) OnFinish();
  });
  connect(this, &QWizard::helpRequested, this, &CFWLoadPSheet::ShowPageHelp);
  auto* helpKey = new QShortcut(QKeySequence::HelpContents, this);
  connect(helpKey, &QShortcut::activated, this, &CFWLoadPSheet::ShowPageHelp);
  connect(this, &QWizard::currentIdChanged, this, &CFWLoadPSheet::OnPageChanged);
  SetWizardButtons(kWizardNext);
}

CFWLoadPSheet::~CFWLoadPSheet() {
  // Unpacked packages go before the reader does.
  packageReader_->Cleanup();
}

CFWLoadPage* CFWLoadPSheet::activePage() const { return qobject_cast<CFWLoadPage*>(currentPage()); }

void CFWLoadPSheet::SetWizardButtons(int mask) {
  buttonMask_ = mask;
  const bool finish = mask & kWizardFinish;
  back_->setEnabled(mask & kWizardBack);
  next_->setVisible(!finish);
  next_->setEnabled(!finish && (mask & kWizardNext));
  finish_->setVisible(finish);
  finish_->setEnabled(finish);
  if (QAbstractButton* cancel = button(QWizard::CancelButton)) cancel->setEnabled(mask != 0);
  QPushButton* preferred = finish ? finish_ : next_;
  for (QPushButton* b : {back_, next_, finish_}) b->setDefault(b == preferred && b->isEnabled());
}

void CFWLoadPSheet::PressButton(int button) {
  // Pressed whatever the mask shows: a successful Ethernet-only controller
  // load leaves Back and Finish and still moves on to the configuration page.
  QTimer::singleShot(0, this, [this, button] {
    if (buttonMask_ == 0) return;  // a load runs
    if (button == kWizardBack) {
      back();
    } else if (button == kWizardFinish) {
      OnFinish();
    } else {
      next();
    }
  });
}

void CFWLoadPSheet::OnPageChanged(int id) {
  CFWLoadPage* page = qobject_cast<CFWLoadPage*>(this->page(id));
  if (!page) return;
  setWindowTitle(page->dialogTitle().isEmpty() ? caption_ : page->dialogTitle());
  page->Activate();
}

void CFWLoadPSheet::OnFinish() {
  CFWLoadPage* page = activePage();
  if (page && !page->OnWizardFinish()) return;
  QDialog::accept();
}

void CFWLoadPSheet::done(int result) {
  // A load runs inside this window's event handling; closing now would pull
  // the engine and the pages from under it.
  if (buttonMask_ == 0) return;
  QWizard::done(result);
}

void CFWLoadPSheet::reject() {
  if (buttonMask_ == 0) return;
  QWizard::reject();
}

void CFWLoadPSheet::closeEvent(QCloseEvent* event) {
  if (buttonMask_ == 0) {
    event->ignore();
    return;
  }
  QWizard::closeEvent(event);
}

void CFWLoadPSheet::OnSwitchTftpEvent(int event) {
  switch (event) {
    case kSwitchTftpTransferStarted:
      switchClientLost = 0;
      switchTransferStarted = 1;
      break;
    case kSwitchTftpTransferComplete:
      switchTransferComplete = 1;
      break;
    case kSwitchTftpClientLost:
      switchClientLost = 1;
      break;
    default:
      break;
  }
}

void CFWLoadPSheet::SetSwitchProgressReceiver(LoadProgressCallback receiver, void* user) {
  switchProgress_ = std::move(receiver);
  switchProgressUser_ = user;
}

void CFWLoadPSheet::ForwardSwitchProgress(const LoadProgressEvent& event) {
  if (switchProgress_) switchProgress_(event, switchProgressUser_);
}

LoadJob CFWLoadPSheet::CurrentLoadJob() const {
  LoadJob job;
  job.product = page2_->productType();
  job.firmwareFile = page2_->SelectedFirmwareFile();
  if (job.product != kProductSwitch) job.stationName = page2_->stationName();
  job.stationType = page2_->stationTypeCode();
  job.serialNumber = int(page2_->stationSerialNumber());
  job.method =
      page3_->connectionMethod() == kMethodEthernetOnly ? kMethodEthernetOnly : kMethodSerial;
  job.comPort = page3_->comPort();
  job.pcAddress = page4_->pcAddress();
  job.stationAddress = page4_->stationAddress();
  job.subnet = page4_->subnet();
  job.gateway = page4_->gateway();
  job.user = page4_->user();
  job.password = page4_->password();
  job.loadStationConfig = page6_->loadConfigOnExit;
  return job;
}

void CFWLoadPSheet::ShowPageHelp() {
  CFWLoadPage* page = activePage();
  const int context = HelpContextForDialog(page ? page->dialogId() : CFWLoadPage1::kDialogId);
  QString path = Application::Instance().helpPath;
  if (path.isEmpty()) {
    const Application& app = Application::Instance();
    path = ChooseHelpPath(DefaultHelpPath(), app.Station, app.Project);
  }
  ShowHelp(this, path, context);
}

}  // namespace fwl
