// The wizard sheet: the program's window during a load. It owns the six pages
// (in their fixed order), the serial load engine, the package reader and the
// switch path's TFTP state, and it sets the Back/Next/Finish buttons from the
// mask pages and the load code hand it.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QStringList>
#include <QWizard>
#include <memory>

#include "engine/load_progress.h"
#include "switch/load_dispatch.h"
#include "switch/load_job.h"

class QPushButton;

namespace fwl {

class CFWLoadPage;
class CFWLoadPage1;
class CFWLoadPage2;
class CFWLoadPage3;
class CFWLoadPage4;
class CFWLoadPage5;
class CFWLoadPage6;
class LoadEngine;
class FirmwarePackageReader;
class TftpServer;

// Events of the switch path's TFTP server as the sheet receives them.
inline constexpr int kSwitchTftpTransferStarted = 1;
inline constexpr int kSwitchTftpTransferComplete = 2;
inline constexpr int kSwitchTftpClientLost = 3;

class CFWLoadPSheet : public QWizard {
  Q_OBJECT

 public:
  // Page ids in the QWizard, in the order the pages are added.
  enum PageId { kPage1 = 0, kPage2, kPage3, kPage4, kPage5, kPage6 };

  // `caption` is the window title when a page gives none; the watermark goes
  // on the welcome page, the header picture on every page.
  CFWLoadPSheet(const QString& caption, QWidget* parent, int firstPage, const QPixmap& watermark,
                const QPixmap& header);
  ~CFWLoadPSheet() override;

  CFWLoadPage1* page1() const { return page1_; }
  CFWLoadPage2* page2() const { return page2_; }
  CFWLoadPage3* page3() const { return page3_; }
  CFWLoadPage4* page4() const { return page4_; }
  CFWLoadPage5* page5() const { return page5_; }
  CFWLoadPage6* page6() const { return page6_; }
  CFWLoadPage* activePage() const;

  // Sets the buttons from a mask of kWizardBack (1), kWizardNext (2) and
  // kWizardFinish (4). Finish takes Next's place; a missing bit disables
  // Back or Next. Mask 0 means a load is running: Cancel is disabled and the
  // window refuses to close until another mask arrives.
  void SetWizardButtons(int mask);
  int wizardButtons() const { return buttonMask_; }
  // Presses Back, Next or Finish (a single mask bit) once control returns to
  // the event loop, even when the mask hides or disables that button; nothing
  // happens while a load runs (mask 0).
  void PressButton(int button);

  // The Back, Next and Finish buttons the mask drives.
  QPushButton* backButton() const { return back_; }
  QPushButton* nextButton() const { return next_; }
  QPushButton* finishButton() const { return finish_; }

  // Shared objects of the pages and the load code, alive as long as the
  // sheet.
  LoadEngine& engine() const { return *engine_; }
  FirmwarePackageReader& packageReader() const { return *packageReader_; }
  QString firstText;
  QString bundleOemName = QStringLiteral("KORVID");  // looked for in firmware bundles
  QStringList knownFirmwareNames;                    // the 19 known firmware stems, in order
  QString lastText;

  // Switch path TFTP state; the flags are polled by the switch install.
  TftpServer* switchTftpServer = nullptr;
  int switchWaitState = 0;
  int switchTransferStarted = 0;
  int switchTransferComplete = 0;
  int switchClientLost = 0;
  // Receiver of the switch path's TFTP server events (kSwitchTftp...).
  void OnSwitchTftpEvent(int event);

  // Where the switch path's step reports go (page 5 registers itself).
  void SetSwitchProgressReceiver(LoadProgressCallback receiver, void* user);
  void ForwardSwitchProgress(const LoadProgressEvent& event);

  // The Ethernet-only switch install "Load Now" hands a switch load over
  // Ethernet only to; without one such a load fails with a message.
  SwitchInstallFunction switchInstall;

  // The operator's choices as they stand on the pages now.
  LoadJob CurrentLoadJob() const;

  // Shows the help topic of the active page.
  void ShowPageHelp();

 public slots:
  void done(int result) override;
  void reject() override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void OnPageChanged(int id);
  void OnFinish();

  CFWLoadPage1* page1_;
  CFWLoadPage2* page2_;
  CFWLoadPage3* page3_;
  CFWLoadPage4* page4_;
  CFWLoadPage5* page5_;
  CFWLoadPage6* page6_;
  QIcon icon_;
  std::unique_ptr<LoadEngine> engine_;
  std::unique_ptr<FirmwarePackageReader> packageReader_;
  LoadProgressCallback switchProgress_;
  void* switchProgressUser_ = nullptr;

  QString caption_;
  QPushButton* back_;
  QPushButton* next_;
  QPushButton* finish_;
  int buttonMask_ = -1;  // none set yet
};

}  // namespace fwl
