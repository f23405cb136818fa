// The wizard sheet offscreen: pages in order with their texts, the button
// mask protocol, the welcome page's version line and the configuration page's
// answer on Finish.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTextBrowser>

#include "app/application.h"
#include "catalogue/firmware_package_reader.h"
#include "platform/wait_pumping.h"
#include "wizard/fwload_page1.h"
#include "wizard/fwload_page5.h"
#include "wizard/fwload_page6.h"
#include "wizard/fwload_psheet.h"
#include "wizard/wizard_art.h"
#include "wizard_fixture.h"

namespace fwl {
namespace {

// Every page can be passed: a firmware file, stored addresses.
class SheetTest : public test::WizardTest {
 protected:
  void SetUp() override {
    WizardTest::SetUp();
    StoreUsualSettings();
    AddFirmware("kvimage_mums3_2_7");
    Open();
  }

  // Back enabled, Next enabled, Finish shown.
  std::tuple<bool, bool, bool> Buttons() const {
    return {sheet->backButton()->isEnabled(),
            sheet->nextButton()->isVisible() && sheet->nextButton()->isEnabled(),
            sheet->finishButton()->isVisible() && sheet->finishButton()->isEnabled()};
  }
};

TEST_F(SheetTest, SixPagesInOrderWithTheirTexts) {
  struct Expected {
    const char* dialogTitle;
    const char* title;
    const char* subTitle;
  };
  const Expected expected[] = {
      {"Firmware Loader", "Firmware Loader", " "},
      {"Select Product and Version", "Product / Version Selection",
       "Select the type of product and the firmware version to load."},
      {"Connection", "Connection Type", "Select the type of connection to be used during loading."},
      {"IP Settings", "IP Address Settings",
       "The settings below allow the hardware to connect to your PC during the load process."},
      {"Begin Load", "Begin Firmware Load",
       "Click \"Load Now\" to begin the process of loading firmware."},
      {"Configuration Load Options", "Station Configuration Load",
       "This option allows the station settings (IP, port settings, ...) to be loaded at this "
       "time."},
  };
  ASSERT_EQ(sheet->pageIds(), (QList<int>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(sheet->currentId(), CFWLoadPSheet::kPage1);
  for (int id = 0; id < 6; ++id) {
    SCOPED_TRACE(id);
    GoTo(id);
    auto* page = sheet->activePage();
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->dialogId(), 107 + id);
    EXPECT_EQ(page->title(), expected[id].title);
    EXPECT_EQ(page->subTitle(), expected[id].subTitle);
    EXPECT_EQ(sheet->windowTitle(), expected[id].dialogTitle);
  }
  EXPECT_EQ(sheet->knownFirmwareNames,
            (QStringList{"kvfirm_ragt", "kvfirm_razeb", "kvfirm_lozeb", "kvfirm6_razeb",
                         "kvfirm6_lozeb", "kvfirm_mugt", "kvimage_ragt", "kvimage_razeb",
                         "kvimage_lozeb", "kvimage6_razeb", "kvimageb_razeb", "kvimage6_lozeb",
                         "kvimageb_lozeb", "kvimage_mugt", "kvimageb_mugt", "kvimage_mums",
                         "kvimageb_mums", "kvimagea_mums", "kvimageba_mums"}));
  EXPECT_EQ(sheet->bundleOemName, "KORVID");
  EXPECT_EQ(sheet->packageReader().oemString(), "KORVID");
}

TEST_F(SheetTest, PagesSetTheirButtonMasksWhenActivated) {
  using B = std::tuple<bool, bool, bool>;
  EXPECT_EQ(sheet->wizardButtons(), kWizardNext);
  EXPECT_EQ(Buttons(), B(false, true, false));
  GoTo(CFWLoadPSheet::kPage3);
  EXPECT_EQ(Buttons(), B(true, true, false));
  GoTo(CFWLoadPSheet::kPage5);
  EXPECT_EQ(sheet->wizardButtons(), kWizardBack);
  EXPECT_EQ(Buttons(), B(true, false, false));
  // The Next button is disabled, so clicking it does nothing.
  sheet->nextButton()->click();
  EXPECT_EQ(sheet->currentId(), CFWLoadPSheet::kPage5);

  // After a controller load the handler presses Next for the operator.
  sheet->SetWizardButtons(kWizardBack | kWizardNext);
  sheet->PressButton(kWizardNext);
  ASSERT_TRUE(WaitPumpingUntil([&] { return sheet->currentId() == CFWLoadPSheet::kPage6; }, 2000));
  EXPECT_EQ(sheet->wizardButtons(), kWizardBack | kWizardFinish);
  EXPECT_EQ(Buttons(), B(true, false, true));
  EXPECT_FALSE(sheet->nextButton()->isVisible());

  // Back re-activates the previous page, which sets its mask again.
  sheet->backButton()->click();
  EXPECT_EQ(sheet->currentId(), CFWLoadPSheet::kPage5);
  EXPECT_EQ(sheet->wizardButtons(), kWizardBack);

  // An Ethernet-only controller load ends with Back and Finish; the pressed
  // Next still leads to the configuration page. While a load runs nothing
  // is pressed.
  sheet->SetWizardButtons(0);
  sheet->PressButton(kWizardNext);
  WaitPumping(50);
  EXPECT_EQ(sheet->currentId(), CFWLoadPSheet::kPage5);
  sheet->SetWizardButtons(kWizardBack | kWizardFinish);
  sheet->PressButton(kWizardNext);
  ASSERT_TRUE(WaitPumpingUntil([&] { return sheet->currentId() == CFWLoadPSheet::kPage6; }, 2000));
  EXPECT_EQ(sheet->wizardButtons(), kWizardBack | kWizardFinish);
}

TEST_F(SheetTest, NoWayOutWhileALoadRuns) {
  GoTo(CFWLoadPSheet::kPage5);
  sheet->SetWizardButtons(0);
  using B = std::tuple<bool, bool, bool>;
  EXPECT_EQ(Buttons(), B(false, false, false));
  EXPECT_FALSE(sheet->button(QWizard::CancelButton)->isEnabled());
  sheet->reject();
  sheet->close();
  WaitPumping(10);
  EXPECT_TRUE(sheet->isVisible());

  // Ethernet-only loads end with Back and Finish; Finish there closes the
  // wizard without asking the configuration page.
  sheet->SetWizardButtons(kWizardBack | kWizardFinish);
  EXPECT_TRUE(sheet->button(QWizard::CancelButton)->isEnabled());
  sheet->finishButton()->click();
  EXPECT_FALSE(sheet->isVisible());
  EXPECT_EQ(sheet->result(), QDialog::Accepted);
  EXPECT_EQ(Application::Instance().loadConfigOnExit, 0);
}

TEST_F(SheetTest, WelcomePageTextsAndVersionLine) {
  auto text = [&](int id) {
    auto* label = sheet->page1()->findChild<QLabel*>(QStringLiteral("ctl%1").arg(id));
    return label ? label->text() : QStringLiteral("<missing>");
  };
  EXPECT_EQ(text(299),
            "This wizard will help guide you through the process of upgrading firmware. ");
  EXPECT_EQ(text(696),
            "The load cannot be cancelled once it has been started, and once completed, all "
            "settings/programs will be removed or set to factory defaults.");
  EXPECT_EQ(text(1000), "* This wizard is not intended for use with ring switches. ");
  EXPECT_EQ(text(1047),
            "* Please make sure port 69 is open for a connection from the device you are loading "
            "to this machine.");
  EXPECT_EQ(text(1001), QStringLiteral("Version " FWL_VERSION));
  auto* icon = sheet->page1()->findChild<QLabel*>("ctl300");
  ASSERT_NE(icon, nullptr);
  EXPECT_FALSE(icon->pixmap().isNull());
  EXPECT_FALSE(sheet->page1()->pixmap(QWizard::WatermarkPixmap).isNull());
}

TEST_F(SheetTest, ConfigurationPageStoresItsAnswerOnFinish) {
  GoTo(CFWLoadPSheet::kPage6);
  auto* box = sheet->page6()->findChild<QCheckBox*>("ctl306");
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->text(), "Load station configuration on exit.");
  QStringList labels;
  for (QLabel* label : sheet->page6()->findChildren<QLabel*>()) labels << label->text();
  EXPECT_TRUE(labels.contains(
      "Although firmware has been loaded, the station configuration (port settings, IP Address, "
      "...) are all set to defaults at this time. This option allows the station to be loaded "
      "with the current settings in the previously selected project file."))
      << qPrintable(labels.join('\n'));
  EXPECT_TRUE(box->isChecked());
  EXPECT_EQ(sheet->page6()->loadConfigOnExit, 1);

  // The page follows the box however it changes; only Finish hands the
  // answer on (a value no answer could have shows that nothing was stored).
  constexpr int kNotStored = 7;
  Application::Instance().loadConfigOnExit = kNotStored;
  box->click();
  EXPECT_EQ(sheet->page6()->loadConfigOnExit, 0);
  QAccessibleInterface* accessible =
      Accessible("Load station configuration on exit.", QAccessible::CheckBox);
  ASSERT_EQ(ObjectOf(accessible), box);
  Toggle(accessible);
  EXPECT_TRUE(box->isChecked());
  EXPECT_EQ(sheet->page6()->loadConfigOnExit, 1);
  Toggle(accessible);
  EXPECT_EQ(sheet->page6()->loadConfigOnExit, 0);
  EXPECT_EQ(Application::Instance().loadConfigOnExit, kNotStored);
  EXPECT_EQ(PlexmonValue("LoadStaCfg"), "<none>");
  sheet->finishButton()->click();
  EXPECT_EQ(sheet->result(), QDialog::Accepted);
  EXPECT_EQ(Application::Instance().loadConfigOnExit, 0);
  EXPECT_EQ(PlexmonValue("LoadStaCfg"), "0");
}

TEST_F(SheetTest, UntouchedConfigurationBoxStoresOne) {
  GoTo(CFWLoadPSheet::kPage6);
  sheet->finishButton()->click();
  EXPECT_EQ(Application::Instance().loadConfigOnExit, 1);
}

TEST_F(SheetTest, SwitchTransferEventsSetTheFlags) {
  EXPECT_EQ(sheet->switchTransferStarted + sheet->switchTransferComplete + sheet->switchClientLost,
            0);
  sheet->OnSwitchTftpEvent(kSwitchTftpClientLost);
  EXPECT_EQ(sheet->switchClientLost, 1);
  sheet->OnSwitchTftpEvent(kSwitchTftpTransferStarted);
  EXPECT_EQ(sheet->switchClientLost, 0);
  EXPECT_EQ(sheet->switchTransferStarted, 1);
  sheet->OnSwitchTftpEvent(kSwitchTftpTransferComplete);
  EXPECT_EQ(sheet->switchTransferComplete, 1);
  sheet->OnSwitchTftpEvent(99);  // unknown events change nothing
  EXPECT_EQ(sheet->switchClientLost + sheet->switchTransferStarted + sheet->switchTransferComplete,
            2);

  int received = 0;
  sheet->SetSwitchProgressReceiver(
      [&](const LoadProgressEvent& e, void* user) {
        EXPECT_EQ(user, &received);
        received = e.state;
      },
      &received);
  LoadProgressEvent event;
  event.state = kStepStateOk;
  sheet->ForwardSwitchProgress(event);
  EXPECT_EQ(received, kStepStateOk);
}

TEST_F(SheetTest, HelpOpensTheActivePagesTopic) {
  // Started for a station, the station loader's help file is used.
  sheet.reset();
  Open("S1");
  GoTo(CFWLoadPSheet::kPage2);
  Select(Control<QComboBox>(page2(), 1004), "Managed Switch");
  GoTo(CFWLoadPSheet::kPage3);
  sheet->button(QWizard::HelpButton)->click();
  QTextBrowser* browser = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->isVisible() && !browser) browser = w->findChild<QTextBrowser*>();
  ASSERT_NE(browser, nullptr);
  EXPECT_TRUE(browser->source().toString().endsWith("zebfirmload.html#ctx-131181"))
      << qPrintable(browser->source().toString());
  EXPECT_TRUE(browser->toPlainText().contains("Connection"));
  browser->window()->close();
}

}  // namespace
}  // namespace fwl
