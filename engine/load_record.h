// The load record: one JSON file per load in <system folder>/loads/, named
// by the load's start time (UTC), saying who loaded what into which unit,
// every step with its state, duration and check values, the result and the
// messages shown. Written for every load whatever its path and outcome;
// never holds a password.
#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <mutex>

#include "engine/load_progress.h"

namespace fwl {

class LoadEngine;
class RecordingUi;
class Ui;

// What the dispatcher knows of a load before it starts (from the operator's
// choices). Empty texts and zero numbers are left out of the record.
struct LoadRecordSubject {
  QString product;  // "station" or "switch"
  QString method;   // "serial" or "ethernet only"
  QString firmwareFile;
  QString comPort;
  QString pcAddress;
  QString unitAddress;
  QString subnet;
  QString gateway;
  QString stationName;
  int stationType = 0;
  int serialNumber = 0;
  QString userName;  // the switch login name (not the operator)
  // Only used to make sure no text of the record carries it.
  QString password;
};

// The folder of the records: <system folder>/loads/ (with the separator).
QString LoadRecordsFolder();

// Path of the record the last finished load of this thread wrote, "" when
// none was written.
QString LastLoadRecordPath();
// Why the last finished load's record could not be saved (the system's
// reason and the path), "" when it was saved or no load has finished.
QString LastLoadRecordError();
// The line a front end shows under a load's result: "Load record saved
// (loaded): <path>" ("(failed)", "(cancelled)" by the record's outcome), or
// "Load record could not be saved: <reason>"; "" before the first load.
QString LastLoadRecordLine();

// Records one load. Created when the load starts and finished when the
// dispatcher returns. While it lives it sees the engine's progress records
// (passing them on to the receiver registered before) and every message box
// shown through the Ui service. The record is saved
// first when the plan sends its final result (so a program closed during
// the restart countdown still leaves it) and again, complete, by Finish.
class LoadRecorder {
 public:
  LoadRecorder(const LoadRecordSubject& subject, LoadEngine& engine);
  // Finishes with -1 when Finish was not called; restores the engine's
  // receivers and the Ui.
  ~LoadRecorder();
  LoadRecorder(const LoadRecorder&) = delete;
  LoadRecorder& operator=(const LoadRecorder&) = delete;

  // The recorder of the load running now, or nullptr. A load path that
  // reports progress elsewhere than through the engine hands its records
  // here (OnProgress) and may add what it learnt of the unit (SetUnitFact).
  static LoadRecorder* Active();

  void OnProgress(const LoadProgressEvent& event);
  void SetUnitFact(const QString& key, const QString& value);

  // Ends the record with the dispatcher's result (1 success, 0 errors,
  // -1 failure, -2 declined) and saves it. Returns the file's path, or ""
  // when it could not be saved (LastLoadRecordError() then says why; the
  // load's result is not affected). Later calls return the same path.
  QString Finish(int result);

  // The record as it stands.
  QJsonObject ToJson() const;
  // "success", "failed", "cancelled" or "declined" once a result is known.
  QString Outcome() const;

 private:
  friend class RecordingUi;
  struct Check {
    uint32_t expected = 0;
    uint32_t found = 0;
  };
  struct Step {
    QString name;
    QString state = QStringLiteral("not run");
    qint64 startedMs = -1;
    qint64 durationMs = -1;
    QString text;
    QString note;
    // Every check made in the step, in order (a PPCBoot "Verify boot
    // image" checks NAND and NOR).
    QList<Check> checks;
  };

  void EndCurrentStep(int state, const LoadProgressEvent& event);
  QString OutcomeLocked() const;  // with uiMutex_ held
  QString Save();
  QString Scrub(const QString& text) const;

  LoadRecordSubject subject_;
  LoadEngine& engine_;
  LoadProgressCallback previousProgress_;
  void* previousProgressUser_ = nullptr;
  RecordingUi* ui_ = nullptr;
  Ui* previousUi_ = nullptr;
  LoadRecorder* previousActive_ = nullptr;

  QDateTime startUtc_;
  QDateTime endUtc_;
  QElapsedTimer clock_;
  QList<Step> steps_;
  int current_ = -1;
  // When the current step began; a step may begin before its plan is
  // announced (the Ethernet-only upgrade starts step 0 first).
  qint64 currentStartedMs_ = -1;
  // Boxes may be shown from another thread (the Ui service hands them to
  // its own); the two fields they touch are guarded.
  mutable std::mutex uiMutex_;
  QJsonArray messages_;
  QJsonObject unitFacts_;
  QJsonArray selectedFirmware_;
  bool cancelled_ = false;
  bool finished_ = false;
  int result_ = 0;
  bool haveResult_ = false;
  QString path_;
  QString saveError_;
};

// One line of "fwload history": what a record says in brief.
struct LoadRecordSummary {
  QString fileName;
  QString start;  // ISO 8601 UTC
  QString product;
  QString unit;      // station name, else the unit's address, else the port
  QString firmware;  // file name of the selected firmware
  QString outcome;   // "success", "failed", "cancelled", "declined", "unreadable"
  int result = 0;
};

// Reads a record file (at most 4 MiB); false when it cannot be read, is not
// a regular file (a FIFO is refused without waiting for a writer) or is not
// a JSON object, with the reason in `error` when given.
bool ReadLoadRecord(const QString& path, QJsonObject& record, QString* error = nullptr);
LoadRecordSummary SummarizeLoadRecord(const QString& fileName, const QJsonObject& record);
// The records of `folder`, newest first (by their names, which are their
// start times); files that are not records are listed as "unreadable".
QList<LoadRecordSummary> ListLoadRecords(const QString& folder);

}  // namespace fwl
