// Every page can be used without a mouse and read by a screen reader: each
// control has an accessible name (its caption or its label's text) by which
// the accessibility tree finds it, its actions work from there, the mnemonic
// letters of a page do not clash, Tab walks the page from top to bottom, and
// the pages lay out unclipped at 1024x768 and with fonts twice as large
// (200 % scaling).
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QTreeView>

#include "wizard_fixture.h"

namespace fwl::test {
namespace {

class AccessibilityTest : public WizardTest {
 protected:
  void SetUp() override {
    WizardTest::SetUp();
    StoreUsualSettings();
    AddFirmware("kvimage_razeb3_2_0");
    project = WriteProject({{"Pump 4", 5100, "1234", "127.0.0.1"}});
  }

  // The controls an operator works with on `page`, visible ones only.
  static QList<QWidget*> Controls(QWidget* page) {
    QList<QWidget*> out;
    for (QWidget* w : page->findChildren<QWidget*>()) {
      if (!w->isVisibleTo(page)) continue;
      if (qobject_cast<QAbstractButton*>(w) || qobject_cast<QComboBox*>(w) ||
          (qobject_cast<QLineEdit*>(w) && !qobject_cast<QComboBox*>(w->parentWidget())) ||
          qobject_cast<QTreeView*>(w))
        out << w;
    }
    return out;
  }

  // Widgets that do not get the room their content needs.
  static QStringList Clipped(QWidget* page) {
    QStringList out;
    const QRect area = page->rect();
    for (QWidget* w : page->findChildren<QWidget*>()) {
      if (!w->isVisibleTo(page) || w->objectName().startsWith("qt_")) continue;
      if (!qobject_cast<QLabel*>(w) && !qobject_cast<QAbstractButton*>(w) &&
          !qobject_cast<QComboBox*>(w) && !qobject_cast<QLineEdit*>(w))
        continue;
      if (qobject_cast<QComboBox*>(w->parentWidget())) continue;
      const QRect r(w->mapTo(page, QPoint(0, 0)), w->size());
      const QString name =
          w->objectName().isEmpty() ? w->metaObject()->className() : w->objectName();
      if (!area.contains(r)) out << name + " outside the page";
      auto* label = qobject_cast<QLabel*>(w);
      if (label && label->wordWrap()) {
        if (label->heightForWidth(label->width()) > label->height() + 1)
          out << name + " wrapped text cut";
      } else if (w->width() < w->minimumSizeHint().width() ||
                 w->height() < w->minimumSizeHint().height()) {
        out << name + " narrower than its content";
      }
    }
    return out;
  }

  void VisitEveryPage(const std::function<void(CFWLoadPage*)>& check) {
    Open("Pump 4", project);
    for (int id = CFWLoadPSheet::kPage1; id <= CFWLoadPSheet::kPage6; ++id) {
      GoTo(id);
      WaitPumping(20);
      check(sheet->activePage());
    }
  }

  QString project;
};

TEST_F(AccessibilityTest, EveryControlHasANameAndMnemonicsDoNotClash) {
  VisitEveryPage([&](CFWLoadPage* page) {
    SCOPED_TRACE(page->dialogId());
    QString letters;
    for (QAbstractButton* b : {static_cast<QAbstractButton*>(sheet->backButton()),
                               static_cast<QAbstractButton*>(sheet->nextButton())})
      letters += b->text().mid(b->text().indexOf('&') + 1, 1).toLower();
    for (QWidget* w : Controls(page)) {
      QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
      ASSERT_NE(a, nullptr);
      EXPECT_FALSE(a->text(QAccessible::Name).trimmed().isEmpty())
          << qPrintable(w->objectName()) << " " << w->metaObject()->className();
    }
    for (QWidget* w : page->findChildren<QWidget*>()) {
      QString text;
      if (auto* l = qobject_cast<QLabel*>(w); l && l->buddy()) text = l->text();
      if (auto* b = qobject_cast<QAbstractButton*>(w)) text = b->text();
      const qsizetype amp = text.indexOf('&');
      if (amp < 0 || amp + 1 >= text.size()) continue;
      const QChar letter = text[amp + 1].toLower();
      EXPECT_FALSE(letters.contains(letter)) << "clash on " << qPrintable(text);
      letters += letter;
    }
  });
}

TEST_F(AccessibilityTest, LabelsLeadToTheirFieldsAndNameThem) {
  Open("Pump 4", project);
  GoTo(CFWLoadPSheet::kPage4);
  auto* label = Control<QLabel>(page4(), 699);
  EXPECT_EQ(label->buddy(), Control<QWidget>(page4(), 401));
  QAccessibleInterface* field = QAccessible::queryAccessibleInterface(label->buddy());
  EXPECT_EQ(field->text(QAccessible::Name), "Station IP:");
  QAccessibleInterface* box = QAccessible::queryAccessibleInterface(Control<QWidget>(page4(), 297));
  EXPECT_EQ(box->text(QAccessible::Name), "Use this IP Address:");
}

// A screen-reader user finds each control by what the page says next to it
// and works the pages with the accessible actions alone.
TEST_F(AccessibilityTest, ControlsAreFoundByTheirCaptionsAndWorkedByTheirActions) {
  using R = QAccessible::Role;
  struct Named {
    int page;
    const char* name;
    R role;
    int id;
  };
  const Named named[] = {
      {CFWLoadPSheet::kPage2, "Select the type of product:", R::ComboBox, 1004},
      {CFWLoadPSheet::kPage2, "Station name:", R::ComboBox, 1012},
      {CFWLoadPSheet::kPage3, "Port:", R::ComboBox, 302},
      {CFWLoadPSheet::kPage4, "IP Addresses found:", R::ComboBox, 296},
      {CFWLoadPSheet::kPage4, "Use this IP Address:", R::CheckBox, 297},
      {CFWLoadPSheet::kPage4, "Use this IP Address:", R::EditableText, 400},
      {CFWLoadPSheet::kPage4, "Station IP:", R::EditableText, 401},
      {CFWLoadPSheet::kPage5, "Load Now", R::Button, 304},
      {CFWLoadPSheet::kPage6, "Load station configuration on exit.", R::CheckBox, 306},
  };
  Open("Pump 4", project);
  for (const Named& n : named) {
    SCOPED_TRACE(n.name);
    GoTo(n.page);
    QObject* found = ObjectOf(Accessible(n.name, n.role));
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->objectName(), QStringLiteral("ctl%1").arg(n.id));
  }

  // Page 4 worked through the tree: the Toggle gives the typed address, the
  // value is set as a screen reader sets it, and Next is pressed.
  sheet.reset();
  Open("Pump 4", project);
  GoTo(CFWLoadPSheet::kPage4);
  Toggle(Accessible("Use this IP Address:", R::CheckBox));
  QAccessibleInterface* typed = Accessible("Use this IP Address:", R::EditableText);
  ASSERT_NE(typed, nullptr);
  EXPECT_FALSE(typed->state().disabled);
  EXPECT_TRUE(Accessible("IP Addresses found:", R::ComboBox)->state().disabled);
  typed->setText(QAccessible::Value, "10.0.0.5");
  Press(Accessible("Next >", R::Button));
  ASSERT_EQ(sheet->currentId(), CFWLoadPSheet::kPage5);
  EXPECT_EQ(page4()->pcAddress(), "10.0.0.5");
  EXPECT_EQ(GetSettingText(kSectionPages, "last ip"), "10.0.0.5");
}

TEST_F(AccessibilityTest, TabWalksEachPageFromTopToBottom) {
  VisitEveryPage([&](CFWLoadPage* page) {
    SCOPED_TRACE(page->dialogId());
    QList<QWidget*> chain;
    QWidget* w = page;
    for (int i = 0; i < 200; ++i) {
      w = w->nextInFocusChain();
      if (w == page) break;
      if (w->isVisibleTo(page) && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus) &&
          page->isAncestorOf(w) && !qobject_cast<QComboBox*>(w->parentWidget()))
        chain << w;
    }
    int lastY = -1;
    for (QWidget* c : chain) {
      const int y = c->mapTo(page, QPoint(0, 0)).y();
      EXPECT_GE(y + c->height() / 2, lastY) << qPrintable(c->objectName());
      lastY = y;
    }
  });
}

TEST_F(AccessibilityTest, PagesFitOnA1024x768ScreenUnclipped) {
  Open("Pump 4", project);
  const QSize needed = sheet->minimumSizeHint().expandedTo(sheet->minimumSize());
  EXPECT_LE(needed.width(), 1024);
  EXPECT_LE(needed.height(), 700);  // room left for a task bar and the title
  sheet->resize(needed.boundedTo(QSize(1024, 700)));
  VisitEveryPage([&](CFWLoadPage* page) {
    EXPECT_TRUE(Clipped(page).isEmpty())
        << page->dialogId() << ": " << qPrintable(Clipped(page).join(", "));
  });
}

TEST_F(AccessibilityTest, PagesLayOutUnclippedWithDoubleSizeText) {
  const QFont normal = QApplication::font();
  QFont large = normal;
  large.setPointSizeF(normal.pointSizeF() * 2);
  QApplication::setFont(large);
  Open("Pump 4", project);
  const QSize needed = sheet->minimumSizeHint().expandedTo(sheet->minimumSize());
  EXPECT_LE(needed.width(), 2048);
  EXPECT_LE(needed.height(), 1400);
  sheet->resize(needed);
  VisitEveryPage([&](CFWLoadPage* page) {
    EXPECT_TRUE(Clipped(page).isEmpty())
        << page->dialogId() << ": " << qPrintable(Clipped(page).join(", "));
  });
  sheet.reset();
  QApplication::setFont(normal);
}

}  // namespace
}  // namespace fwl::test
