// The connection and IP settings pages driven like an operator: methods by
// product, the port list, the IP checks and their messages, the gateway
// note once per run, credentials, and what a new start restores.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

#include "wizard/ip_address_edit.h"
#include "wizard_fixture.h"

namespace fwl::test {
namespace {

constexpr char kEthernetOnly[] = "Use Ethernet only (no serial port connection)";

class ConnectionIpTest : public WizardTest {
 protected:
  void SetUp() override {
    WizardTest::SetUp();
    StoreUsualSettings();
    AddFirmware("kvimage_mums3_2_7");
  }
  QComboBox* Methods() const { return Control<QComboBox>(page3(), 1015); }
  QComboBox* Ports() const { return Control<QComboBox>(page3(), 302); }
  IpAddressEdit* Ip(int id) const { return Control<IpAddressEdit>(page4(), id); }
};

TEST_F(ConnectionIpTest, SwitchMethodsNoteAndPortState) {
  SetSettingInt(kSectionPages, "method selection", 5);  // out of range: the first
  SetSettingText(kSectionPages, "last com port", "ttyNOWHERE9");
  Open();
  GoTo(CFWLoadPSheet::kPage3);
  ASSERT_EQ(Methods()->count(), 2);
  EXPECT_EQ(Methods()->itemText(0), "Use Ethernet and serial communications");
  EXPECT_EQ(Methods()->itemText(1), kEthernetOnly);
  EXPECT_EQ(page3()->connectionMethod(), 0);
  EXPECT_TRUE(Control<QLabel>(page3(), 1029)->isVisible());
  EXPECT_FALSE(Control<QWidget>(page3(), 1035)->isVisible());
  EXPECT_FALSE(Control<QWidget>(page3(), 1036)->isVisible());
  // A remembered port that is not present leaves the list without selection.
  EXPECT_EQ(Ports()->currentIndex(), -1);
  EXPECT_TRUE(Ports()->isEnabled());
  Select(Methods(), kEthernetOnly);
  EXPECT_FALSE(Ports()->isEnabled());
  ASSERT_TRUE(Next());
  EXPECT_EQ(GetSettingInt(kSectionPages, "method selection"), 1);
  EXPECT_EQ(GetSettingText(kSectionPages, "last com port"), "");
  // Switch over Ethernet only: credentials can be given.
  EXPECT_TRUE(Control<QLineEdit>(page4(), 1030)->isEnabled());
  EXPECT_TRUE(Control<QLineEdit>(page4(), 1033)->isEnabled());
  EXPECT_EQ(Control<QLabel>(page4(), 1017)->text(), "Switch settings:");
  EXPECT_EQ(WithoutMnemonic(Control<QLabel>(page4(), 699)->text()), "Switch IP:");
}

TEST_F(ConnectionIpTest, ADevicePathTypedOrRememberedIsThePort) {
  const QString device = Path("unit-tty");
  WriteFileOrFail(device, "");
  SetSettingText(kSectionPages, "last com port", device);
  Open();
  GoTo(CFWLoadPSheet::kPage3);
  EXPECT_EQ(Ports()->currentText(), device);
  // The load parameter file holds 19 characters: a longer path goes there
  // as the device it names, while the path itself is remembered.
  ASSERT_GE(device.size(), 20);
  const QString link = Path("a-link-to-the-port-of-the-unit");
  ASSERT_TRUE(QFile::link("/dev/null", link));
  Ports()->setEditText(link);
  EXPECT_EQ(page3()->comPort(), "/dev/null");
  ASSERT_TRUE(Next());
  EXPECT_EQ(GetSettingText(kSectionPages, "last com port"), link);
  Back();
  Ports()->setEditText("/dev/ttyS7");
  EXPECT_EQ(page3()->comPort(), "/dev/ttyS7");
  EXPECT_EQ(
      CFWLoadPage3::PortFromEntryText(CFWLoadPage3::PortEntryText({"ttyUSB0", "FT232R USB UART"})),
      "ttyUSB0");
  EXPECT_EQ(CFWLoadPage3::PortEntryText({"ttyUSB0", "FT232R USB UART"}),
            QString::fromUtf8("ttyUSB0 \u2014 FT232R USB UART"));
}

TEST_F(ConnectionIpTest, IpChecksInOrderWithTheirMessages) {
  SetSettingText(kSectionPages, "switch ip", "");
  SetSettingText(kSectionPages, "subnet", "");
  Open();
  GoTo(CFWLoadPSheet::kPage4);
  // Serial switch load: no credentials.
  EXPECT_FALSE(Control<QLineEdit>(page4(), 1030)->isEnabled());
  Toggle(Accessible("Use this IP Address:", QAccessible::CheckBox));
  EXPECT_TRUE(Ip(400)->isEnabled());
  EXPECT_FALSE(Control<QComboBox>(page4(), 296)->isEnabled());
  EXPECT_TRUE(Ip(404)->IsBlank());
  EXPECT_FALSE(Next());
  EXPECT_EQ(watcher.texts().last(), "Please enter the IP Address of this computer.");
  Ip(400)->setText("10.0.0.5");
  EXPECT_FALSE(Next());
  EXPECT_EQ(watcher.texts().last(), "A switch IP Address is required for this operation.");
  Ip(401)->SetAddress("127.0.0.1");
  EXPECT_FALSE(Next());
  EXPECT_EQ(watcher.texts().last(), "A subnet mask is required for this operation.");
  Ip(402)->SetAddress("255.0.0.0");
  Ip(403)->ClearAddress();
  ASSERT_TRUE(Ip(403)->IsBlank());
  watcher.clear();
  ASSERT_TRUE(Next());
  // A blank gateway brings the note and is stored as 0.0.0.0.
  ASSERT_EQ(watcher.boxes.size(), 1u);
  EXPECT_EQ(watcher.boxes[0].caption, "Information");
  EXPECT_EQ(GetSettingText(kSectionPages, "last ip"), "10.0.0.5");
  EXPECT_EQ(GetSettingInt(kSectionPages, "spec. ip"), 1);
  EXPECT_EQ(GetSettingText(kSectionPages, "spec. ip addr"), "10.0.0.5");
  EXPECT_EQ(GetSettingText(kSectionPages, "gateway ip"), "0.0.0.0");
  EXPECT_EQ(page4()->pcAddress(), "10.0.0.5");
}

// Mouse, keyboard and a screen reader's Toggle give the same page, and the
// load takes the address the page shows as chosen.
TEST_F(ConnectionIpTest, UseThisAddressFollowsTheBoxHoweverItChanges) {
  SetSettingText(kSectionPages, "last ip", "192.0.2.10");
  Open();
  GoTo(CFWLoadPSheet::kPage4);
  auto* box = Control<QCheckBox>(page4(), 297);
  auto* list = Control<QComboBox>(page4(), 296);
  Ip(400)->SetAddress("10.0.0.5");
  const std::vector<std::pair<const char*, std::function<void()>>> ways = {
      {"click", [&] { box->click(); }},
      {"space key",
       [&] {
         QKeyEvent press(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " ");
         QKeyEvent release(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, " ");
         QApplication::sendEvent(box, &press);
         QApplication::sendEvent(box, &release);
       }},
      {"accessible toggle",
       [&] { Toggle(Accessible("Use this IP Address:", QAccessible::CheckBox)); }},
  };
  for (const auto& [how, change] : ways) {
    SCOPED_TRACE(how);
    change();
    ASSERT_TRUE(box->isChecked());
    EXPECT_TRUE(Ip(400)->isEnabled());
    EXPECT_FALSE(list->isEnabled());
    EXPECT_TRUE(Ip(404)->IsBlank());
    EXPECT_EQ(page4()->pcAddress(), "10.0.0.5");
    change();
    ASSERT_FALSE(box->isChecked());
    EXPECT_FALSE(Ip(400)->isEnabled());
    EXPECT_TRUE(list->isEnabled());
    EXPECT_EQ(Ip(404)->Address(), "255.255.255.0");
    EXPECT_EQ(page4()->pcAddress(), "192.0.2.10");
  }
  Toggle(Accessible("Use this IP Address:", QAccessible::CheckBox));
  ASSERT_TRUE(Next());
  EXPECT_EQ(GetSettingText(kSectionPages, "last ip"), "10.0.0.5");
  EXPECT_EQ(GetSettingInt(kSectionPages, "spec. ip"), 1);
}

// What the operator types is the address used, or it is refused where it
// is typed: a number above 255 with a notice at the field, a partly filled
// address at Next with a message naming the field.
TEST_F(ConnectionIpTest, AddressMistakesAreRefusedVisibly) {
  SetSettingText(kSectionPages, "switch ip", "");
  Open();
  GoTo(CFWLoadPSheet::kPage4);
  auto type = [](IpAddressEdit* field, const QString& keys) {
    field->setFocus();
    for (QChar c : keys) {
      QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
      QApplication::sendEvent(field, &press);
    }
    WaitPumping(0);
  };
  QStringList refused;
  QObject::connect(Ip(401), &IpAddressEdit::InputRefused, [&](const QString& p) { refused << p; });
  type(Ip(401), "999");
  EXPECT_EQ(Ip(401)->text(), "99");
  EXPECT_EQ(refused, QStringList{"999"});
  ASSERT_NE(Ip(401)->shownNotice(), nullptr);
  EXPECT_TRUE(Ip(401)->shownNotice()->text().contains("999"));
  EXPECT_TRUE(Ip(401)->shownNotice()->text().contains("0 to 255"));
  // A screen reader hears it as the field's description.
  EXPECT_EQ(QAccessible::queryAccessibleInterface(Ip(401))->text(QAccessible::Description),
            Ip(401)->shownNotice()->text());
  // The next accepted keystroke answers the notice.
  type(Ip(401), ".");
  EXPECT_EQ(Ip(401)->shownNotice(), nullptr);

  struct Partial {
    int field;
    const char* typed;
    const char* message;
  };
  const Partial partial[] = {
      {401, "127.0.9", "The Switch IP address is incomplete."},
      {402, "255.0", "The subnet mask is incomplete."},
      {403, "127.0.0.", "The Gateway IP address is incomplete."},
  };
  Ip(402)->SetAddress("255.0.0.0");
  for (const Partial& p : partial) {
    SCOPED_TRACE(p.field);
    Ip(p.field)->setText(p.typed);
    watcher.clear();
    EXPECT_FALSE(Next());
    EXPECT_EQ(watcher.texts(), QStringList{p.message});
    EXPECT_EQ(sheet->focusWidget(), Ip(p.field));  // the keyboard is back at the field
    Ip(p.field)->SetAddress(p.field == 402 ? "255.0.0.0" : "127.0.0.9");
  }
  Toggle(Accessible("Use this IP Address:", QAccessible::CheckBox));
  Ip(400)->setText("10.0");
  watcher.clear();
  EXPECT_FALSE(Next());
  EXPECT_EQ(watcher.texts(), QStringList{"The IP address of this computer is incomplete."});
  // Unchecked, the typed field is not used, and a part of an address is not
  // remembered as a whole one.
  Toggle(Accessible("Use this IP Address:", QAccessible::CheckBox));
  ASSERT_TRUE(Next());
  EXPECT_EQ(GetSettingText(kSectionPages, "switch ip"), "127.0.0.9");
  EXPECT_EQ(GetSettingText(kSectionPages, "spec. ip addr"), "");
}

TEST_F(ConnectionIpTest, GatewayNoteComesOncePerRun) {
  Open();
  GoTo(CFWLoadPSheet::kPage4);
  EXPECT_TRUE(Ip(403)->IsBlank());
  watcher.clear();
  ASSERT_TRUE(Next());
  ASSERT_EQ(watcher.boxes.size(), 1u);
  EXPECT_EQ(watcher.boxes[0].caption, "Information");
  EXPECT_TRUE(watcher.boxes[0].text.startsWith(
      "About the Gateway IP field:\n\nYou can leave this field blank if your computer's IP "
      "address and the switch IP address are on a compatible subnet"));
  Back();
  ASSERT_TRUE(Next());
  EXPECT_EQ(watcher.boxes.size(), 1u);
}

TEST_F(ConnectionIpTest, NoAdapterIsNoAddress) {
  adapters.clear();
  Open();
  GoTo(CFWLoadPSheet::kPage4);
  EXPECT_EQ(Control<QComboBox>(page4(), 296)->currentText(), "No network adapters found");
  EXPECT_FALSE(Next());
  EXPECT_EQ(watcher.texts().last(), "An IP Address is required for this operation.");
}

TEST_F(ConnectionIpTest, AdapterChoiceShowsItsMaskAndGateway) {
  SetSettingText(kSectionPages, "last ip", "127.0.0.1");
  Open();
  GoTo(CFWLoadPSheet::kPage4);
  auto* list = Control<QComboBox>(page4(), 296);
  EXPECT_EQ(list->currentText(), "127.0.0.1");
  EXPECT_EQ(Ip(404)->Address(), "255.0.0.0");
  EXPECT_TRUE(Ip(405)->IsBlank());  // gateway 0.0.0.0 is shown blank
  EXPECT_FALSE(Ip(404)->isEnabled());
  Select(list, "192.0.2.10");
  EXPECT_EQ(Ip(404)->Address(), "255.255.255.0");
  EXPECT_EQ(Ip(405)->Address(), "192.0.2.1");
}

TEST_F(ConnectionIpTest, SettingsComeBackOnTheNextStartButNotThePassword) {
  SetSettingText(kSectionPages, "gateway ip", "127.0.0.254");
  SetSettingInt(kSectionPages, "method selection", 1);
  Open();
  GoTo(CFWLoadPSheet::kPage4);
  // A switch's stored gateway is shown at initialisation, cleared on activation.
  EXPECT_TRUE(Ip(403)->IsBlank());
  Ip(401)->SetAddress("127.0.0.9");
  Control<QLineEdit>(page4(), 1030)->setText("admin");
  Control<QLineEdit>(page4(), 1033)->setText("secret");
  ASSERT_TRUE(Next());
  EXPECT_EQ(GetSettingText(kSectionPages, "user"), "admin");
  sheet->close();
  sheet.reset();

  Open();
  GoTo(CFWLoadPSheet::kPage4);
  EXPECT_EQ(page3()->connectionMethod(), 1);
  EXPECT_EQ(Ip(401)->Address(), "127.0.0.9");
  EXPECT_EQ(Control<QLineEdit>(page4(), 1030)->text(), "admin");
  EXPECT_TRUE(Control<QLineEdit>(page4(), 1033)->text().isEmpty());
  EXPECT_FALSE(ReadFileOrEmpty(SettingsFilePath()).contains("secret"));
  // Blank credentials are only a warning.
  Control<QLineEdit>(page4(), 1030)->clear();
  watcher.clear();
  ASSERT_TRUE(Next());
  EXPECT_TRUE(watcher.texts().contains("Warning: User name and/or password field is blank."));
}

TEST_F(ConnectionIpTest, StationAddressesComeFromTheProject) {
  AddFirmware("kvimage_razeb3_2_0");
  const QString project = WriteProject({{"Pump 4", 5100, "1", "10.9.8.7"}});
  // No Ethernet port for this one: the subnet stays, the gateway is cleared.
  WriteFileOrFail(project, ReadFileOrEmpty(project) +
                               "[Zeb: Pump 5]\nStaID=5100\nSerNum=2\nIPAddr2=10.9.8.5\n");
  WriteFileOrFail(project,
                  ReadFileOrEmpty(project).replace("0=Pump 4,1,2\n", "0=Pump 4,1,2\n1=Pump 5\n"));
  Open("Pump 4", project);
  GoTo(CFWLoadPSheet::kPage4);
  EXPECT_EQ(Control<QLabel>(page4(), 1017)->text(), "Station settings:");
  EXPECT_EQ(Ip(401)->Address(), "10.9.8.7");
  EXPECT_EQ(Ip(402)->Address(), "255.0.0.0");
  EXPECT_TRUE(Ip(403)->IsBlank());
  Back();
  Back();
  Select(Control<QComboBox>(page2(), 1012), "Pump 5");
  Ip(403)->SetAddress("10.9.8.1");
  GoTo(CFWLoadPSheet::kPage4);
  EXPECT_EQ(Ip(401)->Address(), "10.9.8.5");
  EXPECT_EQ(Ip(402)->Address(), "255.0.0.0");
  EXPECT_TRUE(Ip(403)->IsBlank());
}

TEST(IpAddressEdit, AcceptsOnlyDottedQuadsAndReadsBlankAsZeros) {
  IpAddressEdit edit;
  EXPECT_TRUE(edit.IsBlank());
  EXPECT_EQ(edit.Address(), "0.0.0.0");
  edit.SetAddress("010.001.000.009");
  EXPECT_EQ(edit.text(), "10.1.0.9");
  edit.SetAddress("300.1.1.1");
  EXPECT_TRUE(edit.IsBlank());
  edit.SetAddress("1.2.3");
  EXPECT_TRUE(edit.IsBlank());
  // Typing goes through the validator: letters and numbers above 255 do not get in.
  QStringList refused;
  QObject::connect(&edit, &IpAddressEdit::InputRefused, [&](const QString& p) { refused << p; });
  edit.clear();
  for (QChar c : QString("12a.256.3x.4.5")) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
    QApplication::sendEvent(&edit, &press);
  }
  // A fifth dot is refused too, so the last digit joins the fourth number.
  EXPECT_EQ(edit.text(), "12.25.3.45");
  EXPECT_EQ(edit.Address(), "12.25.3.45");
  WaitPumping(0);
  EXPECT_EQ(refused, QStringList{"256"});  // the letters and the fifth dot are no numbers
  EXPECT_TRUE(edit.IsComplete());
  edit.setText("7.8.");
  EXPECT_FALSE(edit.IsBlank());
  EXPECT_FALSE(edit.IsComplete());
  EXPECT_EQ(edit.Address(), "7.8.0.0");
}

}  // namespace
}  // namespace fwl::test
