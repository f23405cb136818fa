// The status list of the begin-load page fed with the progress records of a
// plan: rows, pictures and texts, the blink of command steps (transfer rows
// never blink), and the path shortening of fields and transfer rows.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <thread>

#include "platform/wait_pumping.h"
#include "wizard/path_text.h"
#include "wizard/step_status_list.h"

namespace fwl {
namespace {

LoadProgressEvent Plan(const std::vector<LoadStep>& steps) {
  LoadProgressEvent e;
  e.kind = LoadProgressEvent::kPlan;
  e.flags = LoadProgressEvent::kPlanFlags;
  e.steps = steps;
  return e;
}

LoadProgressEvent Step(int index, bool previousOk) {
  LoadProgressEvent e;
  e.kind = LoadProgressEvent::kUpdate;
  e.flags = LoadProgressEvent::kStepFlags;
  e.stepIndex = index;
  e.state = previousOk ? kStepStateOk : kStepStateError;
  return e;
}

LoadProgressEvent Text(const QString& text) {
  LoadProgressEvent e;
  e.kind = LoadProgressEvent::kUpdate;
  e.flags = LoadProgressEvent::kTextFlags;
  e.text = text;
  return e;
}

LoadProgressEvent Final(bool ok) {
  LoadProgressEvent e;
  e.kind = LoadProgressEvent::kFinal;
  e.flags = LoadProgressEvent::kFinalFlags;
  e.state = ok ? kStepStateOk : kStepStateError;
  return e;
}

class StatusListTest : public ::testing::Test {
 protected:
  StatusListTest() {
    list.Clear();
    list.OnLoadProgress(Plan(
        {{"Erase NAND", 0, 1}, {"Transfer kvimage_razeb3_2_0", 200000, 0}, {"Write NAND", 0, 1}}));
  }
  QString Row(int r) const {
    return QString("%1|%2|%3").arg(list.rowName(r), list.rowProgress(r)).arg(list.rowImage(r));
  }
  StepStatusList list;
};

TEST_F(StatusListTest, PlanStepsAndFinalMoveThroughTheRows) {
  EXPECT_EQ(list.rowCount(), 3);
  EXPECT_EQ(list.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), "Status");
  EXPECT_EQ(list.headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), "progress");
  EXPECT_EQ(Row(0), "Erase NAND||0");

  // The first report starts row 0 and ends nothing.
  list.OnLoadProgress(Step(0, true));
  EXPECT_EQ(Row(0), "Erase NAND||1");
  EXPECT_FALSE(list.rowIsDone(0));

  list.OnLoadProgress(Step(1, true));
  EXPECT_EQ(Row(0), "Erase NAND|OK|3");
  EXPECT_TRUE(list.rowIsDone(0));
  EXPECT_EQ(Row(1), "Transfer kvimage_razeb3_2_0|Working...|1");
  // A transfer shows its progress text as it comes.
  list.OnLoadProgress(Text("kvimage_razeb3_2_0: 65536 bytes sent (33%)"));
  EXPECT_EQ(list.rowProgress(1), "kvimage_razeb3_2_0: 65536 bytes sent (33%)");

  list.OnLoadProgress(Step(2, false));
  EXPECT_EQ(Row(1), "Transfer kvimage_razeb3_2_0|ERROR|2");
  list.OnLoadProgress(Final(true));
  EXPECT_EQ(Row(2), "Write NAND|OK|3");
  EXPECT_TRUE(list.rowIsDone(2));
  // Each state has its own picture.
  const QModelIndex first = list.index(0, 0);
  EXPECT_FALSE(list.data(first, Qt::DecorationRole).value<QIcon>().isNull());
  EXPECT_EQ(list.data(first, Qt::AccessibleDescriptionRole).toString(), "OK");
}

TEST_F(StatusListTest, ACheckThatCouldNotBeMadeEndsOkWithItsReason) {
  const QString reason =
      "This boot monitor cannot check images (no crc32 command); load not verified.";
  list.OnLoadProgress(Step(0, true));
  LoadProgressEvent next = Step(1, true);
  next.flags |= LoadProgressEvent::kStateText;
  next.stateText = reason;
  list.OnLoadProgress(next);
  EXPECT_EQ(Row(0), "Erase NAND|" + reason + "|3");
  list.OnLoadProgress(Step(2, true));
  LoadProgressEvent last = Final(true);
  last.flags |= LoadProgressEvent::kStateText;
  last.stateText = reason;
  list.OnLoadProgress(last);
  EXPECT_EQ(Row(2), "Write NAND|" + reason + "|3");
}

TEST_F(StatusListTest, RecordsWithoutTheValidFlagAndStrayIndexesChangeNothing) {
  LoadProgressEvent invalid = Plan({{"Other", 0, 1}});
  invalid.flags &= ~LoadProgressEvent::kValid;
  list.OnLoadProgress(invalid);
  EXPECT_EQ(list.rowCount(), 3);
  list.OnLoadProgress(Step(0, true));
  list.OnLoadProgress(Step(17, true));  // no such row: only row 0 ends
  EXPECT_EQ(Row(0), "Erase NAND|OK|3");
  list.OnLoadProgress(Text("ignored"));
  list.OnLoadProgress(Final(false));
  EXPECT_EQ(list.rowCount(), 3);
  list.Clear();
  EXPECT_EQ(list.rowCount(), 0);
  EXPECT_EQ(list.currentRow(), 0);
  list.AppendRow("Initiating communications...");
  EXPECT_EQ(Row(0), "Initiating communications...||0");
  list.BlinkOnce();  // the row of its own never blinks
  EXPECT_EQ(list.rowProgress(0), "");
}

TEST_F(StatusListTest, CommandStepsBlinkTransferStepsNever) {
  list.OnLoadProgress(Step(0, true));
  list.BlinkOnce();
  EXPECT_EQ(list.rowProgress(0), "Working...");
  list.BlinkOnce();
  EXPECT_EQ(list.rowProgress(0), "");
  list.BlinkOnce();
  EXPECT_EQ(list.rowProgress(0), "Working...");

  list.OnLoadProgress(Step(1, true));
  list.OnLoadProgress(Text("42%"));
  for (int i = 0; i < 3; ++i) list.BlinkOnce();
  EXPECT_EQ(list.rowProgress(1), "42%");
  EXPECT_EQ(list.rowProgress(0), "OK");

  // An ended row keeps its result.
  list.OnLoadProgress(Step(2, true));
  list.OnLoadProgress(Final(true));
  list.BlinkOnce();
  EXPECT_EQ(list.rowProgress(2), "OK");
}

TEST_F(StatusListTest, TheBlinkThreadTogglesTheCurrentRowEveryInterval) {
  list.OnLoadProgress(Step(0, true));
  list.StartBlinking(200);
  QStringList seen;
  WaitPumpingUntil(
      [&] {
        const QString text = list.data(list.index(0, 1), Qt::DisplayRole).toString();
        if (seen.isEmpty() || seen.last() != text) seen << text;
        return seen.size() >= 4;
      },
      5000, 10);
  ASSERT_GE(seen.size(), 4) << qPrintable(seen.join(','));
  for (const QString& text : seen) EXPECT_TRUE(text.isEmpty() || text == "Working...");
}

TEST_F(StatusListTest, LongTransferNamesKeepTheirFileName) {
  QFont font = QApplication::font();
  const QFontMetrics metrics(font);
  list.SetNameMetrics(metrics, 300);
  const QString path =
      "/very/long/folder/name/that/does/not/fit/into/the/status/column/at/all/"
      "kvimage_razeb3_2_0";
  list.OnLoadProgress(Plan({{"Transfer " + path, 1, 0}, {"Reset", 0, 1}}));
  const QString shown = list.rowName(0);
  EXPECT_TRUE(shown.startsWith("Transfer /very")) << qPrintable(shown);
  EXPECT_TRUE(shown.endsWith("...//kvimage_razeb3_2_0") || shown.endsWith(".../kvimage_razeb3_2_0"))
      << qPrintable(shown);
  EXPECT_LE(metrics.horizontalAdvance(shown.mid(9)),
            300 - metrics.horizontalAdvance("Transfer ") - 16);
  EXPECT_EQ(list.rowName(1), "Reset");
}

TEST(PathText, FieldsShowRootEllipsisAndTheEndOfThePath) {
  const QFontMetrics metrics(QApplication::font());
  const QString path = "/home/operator/firmware/releases/2024/station/kvimage_razeb3_2_0";
  EXPECT_EQ(ShortenPathForField(path, metrics, metrics.horizontalAdvance(path) + 6), path);

  const int narrow = metrics.horizontalAdvance("/home/.../kvimage_razeb3_2_0") + 40;
  const QString shown = ShortenPathForField(path, metrics, narrow);
  EXPECT_TRUE(shown.startsWith("/home/...")) << qPrintable(shown);
  EXPECT_TRUE(shown.endsWith("/kvimage_razeb3_2_0")) << qPrintable(shown);
  EXPECT_LT(metrics.horizontalAdvance(shown) + 5, narrow);
  // More room shows more of the end of the middle part.
  const QString wider = ShortenPathForField(path, metrics, narrow + 60);
  EXPECT_GT(wider.size(), shown.size());
  EXPECT_TRUE(path.endsWith(wider.mid(wider.indexOf("...") + 3)));

  // Too narrow for the root: "...\" and the file name.
  EXPECT_EQ(ShortenPathForField("..\\..\\a\\b\\c\\file.bin", metrics, 10), "...\\file.bin");
  const QString drive = ShortenPathForField("C:\\Firmware\\Releases\\file.bin", metrics,
                                            metrics.horizontalAdvance("C:\\...\\file.bin") + 8);
  EXPECT_TRUE(drive.endsWith("\\...\\file.bin")) << qPrintable(drive);
  EXPECT_TRUE(drive.startsWith("C")) << qPrintable(drive);
}

}  // namespace
}  // namespace fwl
