// The record of a batch: loads/batch-<UTC time>.json beside the load
// records, naming the inventory (and its SHA-256), the options, and each
// unit's result with the path of its own load record.
#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

namespace fwl {

struct BatchRecordSummary {
  QString fileName;
  QString start;
  QString inventory;
  int units = 0;
  int loaded = 0;
  int failed = 0;
  int skipped = 0;
  int interrupted = 0;
  int result = 0;
};

// True for a file name of a batch record ("batch-….json").
bool IsBatchRecordName(const QString& fileName);

// Writes `record` as a new batch record named by `startUtc` in the records
// folder (never over an existing file). Returns its path, or "" with
// `error` set.
QString SaveBatchRecord(const QJsonObject& record, const QString& startUtcStamp, QString* error);

// The batch records of `folder`, newest first.
QList<BatchRecordSummary> ListBatchRecords(const QString& folder);

}  // namespace fwl
