#include "wizard/step_status_list.h"

#include <QApplication>
#include <QFont>
#include <QThread>
#include <chrono>

#include "wizard/path_text.h"
#include "wizard/wizard_art.h"

namespace fwl {
namespace {

// What a step's progress column says when it ends: its state, or the
// reason a check could not be made (the step still ends OK).
QString EndText(const LoadProgressEvent& event) {
  if ((event.flags & LoadProgressEvent::kStateText) && !event.stateText.isEmpty()) {
    return event.stateText;
  }
  return QString::fromLatin1(event.state == kStepStateOk ? kOkText : kErrorText);
}

constexpr auto kLockWait = std::chrono::milliseconds(2000);
constexpr int kBlinkPollMs = 100;

// Space the list keeps beside a transfer row's file name.
constexpr int kTransferNameMargin = 16;

}  // namespace

StepStatusList::StepStatusList(QObject* parent)
    : QAbstractTableModel(parent), metrics_(QApplication::font()) {
  for (int state = 0; state < 4; ++state) icons_[state] = QIcon(DrawStateIcon(state, 1.0));
  for (int state = 0; state < 4; ++state) icons_[state].addPixmap(DrawStateIcon(state, 2.0));
}

StepStatusList::~StepStatusList() {
  {
    std::lock_guard<std::mutex> lock(stopMutex_);
    stopping_ = true;
  }
  stopSignal_.notify_all();
  if (blinkThread_.joinable()) blinkThread_.join();
}

void StepStatusList::StartBlinking(int intervalMs) {
  if (blinkThread_.joinable()) return;
  blinkThread_ = std::thread([this, intervalMs] { BlinkLoop(intervalMs); });
}

void StepStatusList::BlinkLoop(int intervalMs) {
  int elapsed = 0;
  std::unique_lock<std::mutex> lock(stopMutex_);
  while (!stopping_) {
    stopSignal_.wait_for(lock, std::chrono::milliseconds(kBlinkPollMs));
    if (stopping_) break;
    elapsed += kBlinkPollMs;
    if (elapsed < intervalMs) continue;
    elapsed = 0;
    lock.unlock();
    BlinkOnce();
    lock.lock();
  }
}

void StepStatusList::BlinkOnce() {
  int changed = -1;
  {
    Lock lock = TryLock();
    if (!lock) return;
    const int row = currentRow_;
    if (!ValidRow(row) || row >= int(rowBlinks_.size()) || rowBlinks_[size_t(row)] != 1 ||
        (row < int(rowDone_.size()) && rowDone_[size_t(row)] != 0)) {
      return;
    }
    QString& text = rows_[size_t(row)].progress;
    text = text.isEmpty() ? QString::fromLatin1(kWorkingText) : QString();
    changed = row;
  }
  // The view lives on the GUI thread; tell it there.
  if (QThread::currentThread() == thread()) {
    RowChanged(changed);
  } else {
    QMetaObject::invokeMethod(
        this, [this, changed] { RowChanged(changed); }, Qt::QueuedConnection);
  }
}

void StepStatusList::SetNameMetrics(const QFontMetrics& metrics, int columnWidth) {
  metrics_ = metrics;
  nameColumnWidth_ = columnWidth;
}

StepStatusList::Lock StepStatusList::TryLock() const {
  Lock lock(mutex_, std::defer_lock);
  (void)lock.try_lock_for(kLockWait);
  return lock;
}

QString StepStatusList::DisplayName(const QString& stepName) const {
  const QString prefix = QString::fromLatin1(kTransferStepPrefix);
  if (!stepName.startsWith(prefix)) return stepName;
  const int room = nameColumnWidth_ - metrics_.horizontalAdvance(prefix) - kTransferNameMargin;
  return prefix + PathEllipsis(stepName.mid(prefix.size()), metrics_, qMax(room, 1));
}

void StepStatusList::SetImage(int row, int image) {
  if (!ValidRow(row)) return;
  rows_[size_t(row)].image = image;
  RowChanged(row);
}

void StepStatusList::SetProgress(int row, const QString& text) {
  if (!ValidRow(row)) return;
  rows_[size_t(row)].progress = text;
  RowChanged(row);
}

void StepStatusList::RowChanged(int row) {
  if (row < 0 || row >= rowCount()) return;
  emit dataChanged(index(row, 0), index(row, 1));
}

void StepStatusList::OnLoadProgress(const LoadProgressEvent& event) {
  if (!(event.flags & LoadProgressEvent::kValid)) return;
  if (QThread::currentThread() != thread()) {
    // Reports from another thread are shown in order on the list's thread.
    LoadProgressEvent copy = event;
    QMetaObject::invokeMethod(
        this, [this, copy] { OnLoadProgress(copy); }, Qt::QueuedConnection);
    return;
  }
  switch (event.kind) {
    case LoadProgressEvent::kPlan: {
      Lock lock = TryLock();
      if (!lock) return;
      beginResetModel();
      rows_.clear();
      rowDone_.clear();
      rowBlinks_.clear();
      for (const LoadStep& step : event.steps) {
        rows_.push_back(Row{DisplayName(step.name), kRowPending, QString()});
        rowBlinks_.push_back(step.blink == 1 ? 1u : 0u);
        rowDone_.push_back(0);
      }
      endResetModel();
      break;
    }
    case LoadProgressEvent::kUpdate: {
      if (event.flags & LoadProgressEvent::kStepIndex) {
        if (Lock lock = TryLock()) {
          if (event.flags & LoadProgressEvent::kState) {
            SetImage(currentRow_, event.state);
            // The first report of a plan starts row 0 and ends nothing.
            if (event.stepIndex != 0) SetProgress(currentRow_, EndText(event));
          }
          if (event.stepIndex != currentRow_) {
            if (currentRow_ >= 0 && currentRow_ < int(rowDone_.size()))
              rowDone_[size_t(currentRow_)] = 1;
            SetProgress(event.stepIndex, QString::fromLatin1(kWorkingText));
          }
          currentRow_ = event.stepIndex;
          SetImage(currentRow_, kRowWorking);
        }
      }
      if ((event.flags & LoadProgressEvent::kText)) {
        Lock lock = TryLock();
        if (lock && ValidRow(currentRow_) && rows_[size_t(currentRow_)].progress != event.text)
          SetProgress(currentRow_, event.text);
      }
      break;
    }
    case LoadProgressEvent::kFinal: {
      if (!(event.flags & LoadProgressEvent::kState)) return;
      Lock lock = TryLock();
      if (!lock) return;
      if (currentRow_ >= 0 && currentRow_ < int(rowDone_.size())) rowDone_[size_t(currentRow_)] = 1;
      SetImage(currentRow_, event.state);
      SetProgress(currentRow_, EndText(event));
      break;
    }
    default:
      break;
  }
}

void StepStatusList::Clear() {
  Lock lock = TryLock();
  if (!lock) return;
  beginResetModel();
  rows_.clear();
  rowDone_.clear();
  rowBlinks_.clear();
  currentRow_ = 0;
  endResetModel();
}

void StepStatusList::AppendRow(const QString& name) {
  Lock lock = TryLock();
  if (!lock) return;
  const int row = int(rows_.size());
  beginInsertRows(QModelIndex(), row, row);
  rows_.push_back(Row{name, kRowPending, QString()});
  endInsertRows();
}

int StepStatusList::currentRow() const {
  Lock lock = TryLock();
  return lock ? currentRow_ : -1;
}

QString StepStatusList::rowName(int row) const {
  Lock lock = TryLock();
  return lock && ValidRow(row) ? rows_[size_t(row)].name : QString();
}

QString StepStatusList::rowProgress(int row) const {
  Lock lock = TryLock();
  return lock && ValidRow(row) ? rows_[size_t(row)].progress : QString();
}

int StepStatusList::rowImage(int row) const {
  Lock lock = TryLock();
  return lock && ValidRow(row) ? rows_[size_t(row)].image : -1;
}

bool StepStatusList::rowIsDone(int row) const {
  Lock lock = TryLock();
  return lock && row >= 0 && row < int(rowDone_.size()) && rowDone_[size_t(row)] != 0;
}

int StepStatusList::rowCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  Lock lock = TryLock();
  return lock ? int(rows_.size()) : 0;
}

int StepStatusList::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : 2;
}

QVariant StepStatusList::data(const QModelIndex& index, int role) const {
  Lock lock = TryLock();
  if (!lock || !index.isValid() || !ValidRow(index.row())) return QVariant();
  const Row& row = rows_[size_t(index.row())];
  if (index.column() == 0) {
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) return row.name;
    if (role == Qt::DecorationRole && row.image >= 0 && row.image < 4) return icons_[row.image];
    if (role == Qt::ToolTipRole) return row.name;
  } else if (index.column() == 1) {
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) return row.progress;
  }
  if (role == Qt::AccessibleDescriptionRole) {
    static const char* const kStates[] = {"pending", "working", "ERROR", "OK"};
    return row.image >= 0 && row.image < 4 ? QString::fromLatin1(kStates[row.image]) : QString();
  }
  return QVariant();
}

QVariant StepStatusList::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return QVariant();
  if (section == 0) return QStringLiteral("Status");
  if (section == 1) return QStringLiteral("progress");
  return QVariant();
}

}  // namespace fwl
