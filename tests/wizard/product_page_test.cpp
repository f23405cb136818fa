// The product and firmware page driven like an operator: the product list
// by command line, the station list, the version list from the folder, the
// Next checks with their messages in order and what Next stores.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>

#include "wizard/path_field.h"
#include "wizard/search_options_dialog.h"
#include "wizard_fixture.h"

namespace fwl::test {
namespace {

class ProductPageTest : public WizardTest {
 protected:
  void SetUp() override {
    WizardTest::SetUp();
    StoreUsualSettings();
  }
  QComboBox* Products() const { return Control<QComboBox>(page2(), 1004); }
  QComboBox* Stations() const { return Control<QComboBox>(page2(), 1012); }
  QComboBox* Versions() const { return Control<QComboBox>(page2(), 1005); }
  QStringList Items(QComboBox* box) const {
    QStringList out;
    for (int i = 0; i < box->count(); ++i) out << box->itemText(i);
    return out;
  }
};

TEST_F(ProductPageTest, WithoutAStationOnlyTheSwitchIsOfferedAndNoStationIsChosen) {
  AddFirmware("kvimage_mums3_2_7");
  SetSettingInt(kSectionPages, "prod type", 2);  // beyond the list: the first entry
  Open();
  GoTo(CFWLoadPSheet::kPage2);
  EXPECT_EQ(Items(Products()), QStringList{"Managed Switch"});
  EXPECT_EQ(Items(Stations()), QStringList{" N/A "});
  EXPECT_EQ(Stations()->currentText(), " N/A ");
  EXPECT_FALSE(Stations()->isEnabled());
  EXPECT_FALSE(Control<QAbstractButton>(page2(), 296)->isEnabled());
  EXPECT_TRUE(Control<QPushButton>(page2(), 1021)->isVisible());
  EXPECT_EQ(Items(Versions()), QStringList{"3.2.7 (kvimage_mums3_2_7)"});
  EXPECT_EQ(Control<PathField>(page2(), 1006)->path(), firmware);
  ASSERT_TRUE(Next());
  EXPECT_EQ(GetSettingInt(kSectionPages, "prod type"), kProductSwitch);
  EXPECT_EQ(GetSettingText(kSectionPages, "fw dir"), firmware);
}

TEST_F(ProductPageTest, StationAndProjectForceTheControllerAndSelectTheStation) {
  AddFirmware("kvimage_razeb3_1_999");
  AddFirmware("kvimage_razeb3_2_0");
  AddFirmware("kvimage_lozeb3_3_0");
  SetSettingInt(kSectionPages, "prod type", 1);
  const QString project =
      WriteProject({{"Pump 1", 5000, "77", "10.1.1.1"}, {"Pump 4", 5100, "1234", "10.1.1.4"}});
  Open("Pump 4", project);
  GoTo(CFWLoadPSheet::kPage2);
  EXPECT_EQ(Items(Products()), (QStringList{"Industrial Controller / RTU", "Managed Switch"}));
  EXPECT_EQ(page2()->productType(), kProductStation);
  EXPECT_EQ(Items(Stations()), (QStringList{"Pump 1", "Pump 4"}));
  EXPECT_EQ(page2()->stationName(), "Pump 4");
  // Newest first, only what fits the station's type.
  EXPECT_EQ(Items(Versions()),
            (QStringList{"3.2.0 (kvimage_razeb3_2_0)", "3.1.999 (kvimage_razeb3_1_999)"}));
  // Another station refills the versions for its type.
  Select(Stations(), "Pump 1");
  EXPECT_EQ(Items(Versions()), QStringList{"3.3.0 (kvimage_lozeb3_3_0)"});
  Select(Stations(), "Pump 4");
  ASSERT_TRUE(Next());
  EXPECT_EQ(page2()->stationSerialNumber(), 1234u);
  EXPECT_EQ(GetSettingInt(kSectionPages, "prod type"), 1);  // neither read nor written

  // Back to the switch: the station list is rebuilt after the N/A entry, so
  // it ends empty; the controller brings the station back.
  Back();
  Select(Products(), "Managed Switch");
  EXPECT_EQ(Stations()->count(), 0);
  EXPECT_TRUE(Control<PathField>(page2(), 1010)->path().isEmpty());
  Select(Products(), "Industrial Controller / RTU");
  EXPECT_EQ(page2()->stationName(), "Pump 4");
  EXPECT_EQ(Versions()->currentText(), "3.2.0 (kvimage_razeb3_2_0)");
}

TEST_F(ProductPageTest, UnreadableProjectIsReportedAndItsGoodStationsListed) {
  WriteFileOrFail(Path("broken.6pj"),
                  "[Zeb Stations]\n0=Good\n1=NoType\n[Zeb: Good]\nStaID=5100\n");
  Open("Good", Path("broken.6pj"));
  GoTo(CFWLoadPSheet::kPage2);
  EXPECT_TRUE(watcher.texts().contains("Error reading project file."));
  EXPECT_EQ(Items(Stations()), QStringList{"Good"});
}

TEST_F(ProductPageTest, NextChecksComeInOrderAndKeepThePage) {
  const QString project = WriteProject({{"Pump 4", 5100, "", "10.1.1.4"}});
  Open("Pump 4", project);
  GoTo(CFWLoadPSheet::kPage2);
  // 1. No version.
  EXPECT_FALSE(Next());
  EXPECT_EQ(watcher.texts().last(),
            "A firmware version must be selected. If no versions appear in the list, make sure "
            "the firmware directory is correct and that firmware files exist.");
  EXPECT_EQ(watcher.boxes.back().caption, "FirmwareLoader");

  // 2. A path of 251 characters is too long; 250 is accepted.
  const QString deep = firmware + QString(120, 'd') + "/";
  QDir().mkpath(deep);
  const int nameLength = 251 - int(deep.size());
  ASSERT_GT(nameLength, 20);
  const QString longName = "kvimage_razeb3_2_0" + QString(nameLength - 18, '_');
  WriteFileOrFail(deep + longName, "x");
  Control<QCheckBox>(page2(), 1020)->setChecked(true);
  page2()->SetFirmwareFolder(firmware);
  ASSERT_EQ(page2()->SelectedFirmwareFile().size(), 251);
  EXPECT_FALSE(Next());
  EXPECT_EQ(watcher.texts().last(),
            "Please move the firmware files closer to the root of the drive, the current path "
            "is too long.");
  QFile::rename(deep + longName, deep + longName.chopped(1));
  page2()->SetFirmwareFolder(firmware);
  ASSERT_EQ(page2()->SelectedFirmwareFile().size(), 250);

  // 3. The file went away after the scan.
  QFile::remove(deep + longName.chopped(1));
  EXPECT_FALSE(Next());
  EXPECT_EQ(watcher.texts().last(),
            "Unable to access the chosen firmware file, please make sure you have permission to "
            "read it.");

  // 4. The station has no serial number in the project.
  AddFirmware("kvimage_razeb3_2_0");
  page2()->SetFirmwareFolder(firmware);
  EXPECT_FALSE(Next());
  EXPECT_EQ(watcher.texts().last(),
            "Unable to read serial number from the selected project file for station Pump 4");
  EXPECT_EQ(sheet->currentId(), CFWLoadPSheet::kPage2);
  // What the operator chose was stored before the serial check.
  EXPECT_EQ(GetSettingInt(kSectionPages, "recurse"), 1);
}

TEST_F(ProductPageTest, IncludeSubdirectoriesTakesEffectAtTheNextScan) {
  QDir().mkpath(firmware + "sub");
  WriteFileOrFail(firmware + "sub/kvimage_mums3_3_0", "x");
  AddFirmware("kvimage_mums3_2_7");
  Open();
  GoTo(CFWLoadPSheet::kPage2);
  EXPECT_EQ(Versions()->count(), 1);
  Control<QCheckBox>(page2(), 1020)->click();
  EXPECT_EQ(Versions()->count(), 1);
  page2()->SetFirmwareFolder(firmware);
  EXPECT_EQ(Versions()->currentText(), "3.3.0 (sub/kvimage_mums3_3_0)");
}

TEST_F(ProductPageTest, SearchOptionsShowZipOnAFreshInstallationAndStoreOnOk) {
  AddFirmware("kvimage_mums3_2_7");
  Open();
  GoTo(CFWLoadPSheet::kPage2);
  QStringList shown;
  watcher.onDialog = [&](QWidget* w) {
    auto* dialog = qobject_cast<SearchOptionsDialog*>(w);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), "Search Options");
    for (QCheckBox* box : dialog->findChildren<QCheckBox*>())
      if (box->isChecked()) shown << WithoutMnemonic(box->text());
    dialog->findChild<QCheckBox*>("tgzBox")->setChecked(true);
    dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
  };
  Control<QPushButton>(page2(), 1021)->click();
  EXPECT_EQ(shown, QStringList{".zip"});
  EXPECT_EQ(GetSettingInt(kSectionPages, "examine zip files"), 1);
  EXPECT_EQ(GetSettingInt(kSectionPages, "examine tgz files"), 1);
  EXPECT_EQ(GetSettingInt(kSectionPages, "examine tar files"), 0);
}

TEST_F(ProductPageTest, FolderChooserTakesTheFolderWithASeparatorAndRescans) {
  const QString other = Path("other");
  QDir().mkpath(other);
  WriteFileOrFail(other + "/kvimage_mums3_4_0", "x");
  Open();
  GoTo(CFWLoadPSheet::kPage2);
  EXPECT_EQ(Versions()->count(), 0);
  QString title;
  QString status;
  watcher.onDialog = [&](QWidget* w) {
    auto* dialog = qobject_cast<QFileDialog*>(w);
    ASSERT_NE(dialog, nullptr);
    title = dialog->windowTitle();
    status = dialog->findChild<QLabel*>("browserStatus")->text();
    dialog->setDirectory(other);
    dialog->selectFile(other);
    QMetaObject::invokeMethod(dialog, "accept");
  };
  Control<QAbstractButton>(page2(), 295)->click();
  EXPECT_EQ(title, "Select the firmware folder:");
  EXPECT_LE(status.size(), 38);
  EXPECT_EQ(page2()->firmwareFolder(), other + "/");
  EXPECT_EQ(Versions()->currentText(), "3.4.0 (kvimage_mums3_4_0)");
}

}  // namespace
}  // namespace fwl::test
