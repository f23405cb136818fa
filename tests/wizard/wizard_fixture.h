// Drives the wizard as an operator would, offscreen: the real Qt Ui is
// installed, every message box that comes up is recorded and answered (OK or
// Yes unless the test queued another button), other modal dialogs are handed
// to the test, and each test gets its own settings file, system folder,
// firmware folder and adapter list.
#pragma once

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>

#include "app/application.h"
#include "app/settings.h"
#include "platform/ini_file.h"
#include "platform/wait_pumping.h"
#include "support/test_util.h"
#include "wizard/fwload_page2.h"
#include "wizard/fwload_page3.h"
#include "wizard/fwload_page4.h"
#include "wizard/fwload_page5.h"
#include "wizard/fwload_page6.h"
#include "wizard/fwload_psheet.h"
#include "wizard/local_network.h"
#include "wizard/qt_ui.h"
#include "wizard/wizard_art.h"

namespace fwl::test {

// Records and answers the message boxes the wizard shows.
class BoxWatcher {
 public:
  struct Box {
    QString text;
    QString caption;
    QMessageBox::Icon icon;
  };

  BoxWatcher() {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start(15);
  }

  // The button that answers the next box (default: the box's default button).
  void Queue(QMessageBox::StandardButton button) { answers_.push_back(button); }
  // Called with each box before it is answered (the wizard's state while
  // the operator reads it).
  std::function<void(const Box&)> beforeAnswer;
  // Called for any other modal dialog that comes up; it must close it.
  std::function<void(QWidget*)> onDialog;

  std::vector<Box> boxes;
  QStringList texts() const {
    QStringList out;
    for (const Box& b : boxes) out << b.text;
    return out;
  }
  void clear() { boxes.clear(); }

 private:
  void Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible()) return;
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      boxes.push_back({box->text(), box->windowTitle(), box->icon()});
      if (beforeAnswer) beforeAnswer(boxes.back());
      QAbstractButton* press = box->defaultButton();
      if (!answers_.empty()) {
        press = box->button(answers_.front());
        answers_.pop_front();
      }
      if (press) {
        press->click();
      } else {
        box->done(0);
      }
    } else if (onDialog && handled_ != modal) {
      handled_ = modal;
      onDialog(modal);
    }
  }

  QTimer timer_;
  std::deque<QMessageBox::StandardButton> answers_;
  QWidget* handled_ = nullptr;
};

class WizardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    SetSettingsFile(Path("settings.ini"));
    qputenv("FWLOADER_SYSTEM_DIR", Path("system").toLocal8Bit());
    firmware = Path("fw/");
    QDir().mkpath(firmware);
    Application::Instance().Reset();
    previousAdapters = SetAdapterListSource([this] { return adapters; });
    previousArp = SetArpRemoval([this](const QString& address) {
      arpRemoved << address;
      return true;
    });
    // This computer: loopback and a documentation address (never contacted).
    adapters = {{"eth0", "192.0.2.10", "255.255.255.0", "192.0.2.1"},
                {"lo", "127.0.0.1", "255.0.0.0", "0.0.0.0"}};
  }

  void TearDown() override {
    if (sheet) {
      if (sheet->wizardButtons() == 0) sheet->SetWizardButtons(kWizardBack);
      sheet->close();
      sheet.reset();
    }
    SetAdapterListSource(previousAdapters);
    SetArpRemoval(previousArp);
    WaitPumping(0);
  }

  QString Path(const QString& name) const { return dir.path() + QLatin1Char('/') + name; }

  // A firmware file in the firmware folder.
  QString AddFirmware(const QString& name, qsizetype size = 4096, quint32 seed = 1) {
    const QString path = firmware + name;
    WriteFileOrFail(path, RandomBytes(size, seed));
    return path;
  }

  // The values a test run starts from: the firmware folder, a station or
  // switch at 127.0.0.1 and this computer's loopback address.
  void StoreUsualSettings() {
    const QString s = QLatin1String(kSectionPages);
    SetSettingText(s, "fw dir", firmware);
    SetSettingText(s, "last ip", "127.0.0.1");
    SetSettingText(s, "switch ip", "127.0.0.1");
    SetSettingText(s, "subnet", "255.0.0.0");
  }

  // Writes a project with one station per entry (name, StaID, SerNum, IP);
  // each station's port 0 is its Ethernet port with mask 255.0.0.0 and no
  // gateway.
  struct ProjectStation {
    QString name;
    int type;
    QString serial;
    QString ip;
  };
  QString WriteProject(const QList<ProjectStation>& stations) {
    QString text = "[Zeb Stations]\n";
    for (int i = 0; i < stations.size(); ++i)
      text += QString("%1=%2,1,2\n").arg(i).arg(stations[i].name);
    for (const ProjectStation& st : stations) {
      text += QString("[Zeb: %1]\nStaID=%2\n").arg(st.name).arg(st.type);
      if (!st.serial.isEmpty()) text += "SerNum=" + st.serial + "\n";
      text += "IPAddr0=" + st.ip + "\nPort0ID=4\nPort0=1,2,3,4,5,255,0,0,0,10,0,0,0,0\n";
    }
    const QString path = Path("project.6pj");
    WriteFileOrFail(path, text.toLatin1());
    return path;
  }

  // Opens the wizard as the program does.
  void Open(const QString& station = QString(), const QString& project = QString()) {
    Application& app = Application::Instance();
    app.Station = station;
    app.Project = project;
    ui.SetOwner(nullptr);
    sheet = std::make_unique<CFWLoadPSheet>("Wizard", nullptr, 0, DrawWatermarkPicture(),
                                            DrawHeaderPicture());
    ui.SetOwner(sheet.get());
    sheet->show();
    WaitPumping(10);
  }

  CFWLoadPage2* page2() const { return sheet->page2(); }
  CFWLoadPage3* page3() const { return sheet->page3(); }
  CFWLoadPage4* page4() const { return sheet->page4(); }
  CFWLoadPage5* page5() const { return sheet->page5(); }

  template <typename T = QWidget>
  T* Control(QWidget* page, int id) const {
    T* w = page->findChild<T*>(QStringLiteral("ctl%1").arg(id));
    EXPECT_NE(w, nullptr) << "control " << id;
    return w;
  }

  // Presses Next as the operator does; true when the page changed.
  bool Next() {
    const int before = sheet->currentId();
    sheet->nextButton()->click();
    WaitPumping(0);
    return sheet->currentId() != before;
  }
  void Back() { sheet->backButton()->click(); }

  // Moves on until page `id` is shown, whatever the buttons allow (page 5
  // offers no Next before a load); fails when a page refuses.
  void GoTo(int id) {
    while (sheet->currentId() < id) {
      const int before = sheet->currentId();
      sheet->next();
      WaitPumping(0);
      if (sheet->currentId() == before) {
        ADD_FAILURE() << "page " << sheet->currentId()
                      << " refused Next: " << qPrintable(watcher.texts().join(" | "));
        return;
      }
    }
  }

  // The control of the shown page, or of the sheet's buttons, called `name`
  // (its caption, or the text of the label it is labelled by), found
  // through the accessibility tree as a screen reader finds it; nullptr when
  // there is none.
  QAccessibleInterface* Accessible(const QString& name, QAccessible::Role role) const {
    return FindAccessible(QAccessible::queryAccessibleInterface(sheet.get()), name, role, 0);
  }
  // A check box changed as a screen reader changes it: its Toggle action.
  static void Toggle(QAccessibleInterface* box) {
    ASSERT_NE(box, nullptr);
    ASSERT_NE(box->actionInterface(), nullptr);
    ASSERT_TRUE(
        box->actionInterface()->actionNames().contains(QAccessibleActionInterface::toggleAction()));
    box->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    WaitPumping(0);
  }
  // A button pressed by its Press action (it is released a moment later).
  static void Press(QAccessibleInterface* button) {
    ASSERT_NE(button, nullptr);
    ASSERT_NE(button->actionInterface(), nullptr);
    button->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    WaitPumping(250);
  }
  static QObject* ObjectOf(QAccessibleInterface* a) { return a ? a->object() : nullptr; }

  void Select(QComboBox* box, const QString& text) {
    const int i = box->findText(text);
    ASSERT_GE(i, 0) << qPrintable(text);
    box->setCurrentIndex(i);
  }

  QString PlexmonValue(const char* key) const {
    return GetPrivateProfileString("Zeb Firmware", key, "<none>", 1024, OemString(kOemIniFileName));
  }

  QTemporaryDir dir;
  QString firmware;
  QList<AdapterAddress> adapters;
  QStringList arpRemoved;
  QtUi ui;
  ScopedUi scopedUi{&ui};
  BoxWatcher watcher;
  std::unique_ptr<CFWLoadPSheet> sheet;

 private:
  static QAccessibleInterface* FindAccessible(QAccessibleInterface* at, const QString& name,
                                              QAccessible::Role role, int depth) {
    if (!at || depth > 40 || at->state().invisible) return nullptr;
    if (at->role() == role) {
      if (at->text(QAccessible::Name) == name) return at;
      // A list box's name is its current entry; its label is a relation.
      for (const auto& [label, relation] : at->relations(QAccessible::Label))
        if (label && label->text(QAccessible::Name) == name) return at;
    }
    for (int i = 0; i < at->childCount(); ++i)
      if (QAccessibleInterface* found = FindAccessible(at->child(i), name, role, depth + 1))
        return found;
    return nullptr;
  }

  AdapterListFunction previousAdapters;
  ArpRemovalFunction previousArp;
};

}  // namespace fwl::test
