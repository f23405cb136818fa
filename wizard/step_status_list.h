// The begin-load page's status list: one row per step of the running plan
// with a state picture (pending, working, ERROR, OK) and a progress text,
// fed by the load's progress records. The list state is shared with a blink
// thread that makes the current command step's "Working..." flash; every
// access holds the list mutex (the "fwloadpages_flash_text_mutex" of the
// design) for at most 2000 ms and skips its change when that runs out.
#pragma once

#include <QAbstractTableModel>
#include <QFontMetrics>
#include <QIcon>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/load_progress.h"

namespace fwl {

// Picture index of a row: the state of its step.
inline constexpr int kRowPending = 0;
inline constexpr int kRowWorking = 1;
inline constexpr int kRowError = kStepStateError;  // 2
inline constexpr int kRowOk = kStepStateOk;        // 3

inline constexpr char kWorkingText[] = "Working...";
inline constexpr char kOkText[] = "OK";
inline constexpr char kErrorText[] = "ERROR";

class StepStatusList : public QAbstractTableModel {
  Q_OBJECT

 public:
  // Column 0 "Status" (the step name), column 1 "progress".
  explicit StepStatusList(QObject* parent = nullptr);
  ~StepStatusList() override;

  // Starts the blink thread: every `intervalMs` (checked each 100 ms) it
  // swaps the current row's progress text between "Working..." and empty,
  // when that row is a command step that has not ended. Any other text
  // becomes empty. Runs until the list is destroyed.
  void StartBlinking(int intervalMs = 500);
  // One blink step, as the thread does it (tests).
  void BlinkOnce();

  // How transfer rows are shortened: the font of the list and the width of
  // the "Status" column.
  void SetNameMetrics(const QFontMetrics& metrics, int columnWidth);

  // The progress receiver of a load (see LoadProgressEvent): kind 0
  // rebuilds the rows from the plan, kind 1 moves the current row and sets
  // its state and text, kind 2 ends the current row with the final state.
  // Records without the valid flag are ignored. Called on the list's thread.
  void OnLoadProgress(const LoadProgressEvent& event);

  // Deletes every row; the current row becomes 0.
  void Clear();
  // Appends a row with the pending picture, not taking part in blinking.
  void AppendRow(const QString& name);

  // Snapshot of the state (tests, accessibility): -1 / "" for a missing row.
  int currentRow() const;
  QString rowName(int row) const;
  QString rowProgress(int row) const;
  int rowImage(int row) const;
  bool rowIsDone(int row) const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  struct Row {
    QString name;
    int image = kRowPending;
    QString progress;
  };
  using Lock = std::unique_lock<std::recursive_timed_mutex>;
  Lock TryLock() const;
  bool ValidRow(int row) const { return row >= 0 && row < int(rows_.size()); }
  void SetImage(int row, int image);
  void SetProgress(int row, const QString& text);
  void RowChanged(int row);
  QString DisplayName(const QString& stepName) const;
  void BlinkLoop(int intervalMs);

  mutable std::recursive_timed_mutex mutex_;
  std::vector<Row> rows_;
  int currentRow_ = 0;
  std::vector<unsigned> rowDone_;
  std::vector<unsigned> rowBlinks_;

  QFontMetrics metrics_;
  int nameColumnWidth_ = 300;
  QIcon icons_[4];

  std::thread blinkThread_;
  std::mutex stopMutex_;
  std::condition_variable stopSignal_;
  bool stopping_ = false;
};

}  // namespace fwl
