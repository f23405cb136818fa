// Durable files for the load records: every write, the flush and the sync
// of file and folder are checked, so a record is either on the disk whole or
// its failure is known; a new record's name is taken exclusively, so two
// loads started in the same millisecond (in two processes) get two files.
#pragma once

#include <QByteArray>
#include <QString>

namespace fwl {

// Publishes `bytes` as a new file in `folder` (which ends in a separator)
// named stem + ".json", or stem + "-N.json" (N = 2 … 999) when that name is
// taken; an existing file is never replaced. The content is written and
// synced under a temporary name first, so the name never shows half a
// record. True with `path` set; false with `error` saying why (the system's
// reason and the path), and no file left behind.
bool CreateRecordFile(const QString& folder, const QString& stem, const QByteArray& bytes,
                      QString& path, QString& error);

// Replaces the file at `path` with `bytes`: written and synced beside it,
// renamed over it, the folder synced. On failure the old file is left as it
// was and `error` says why.
bool ReplaceRecordFile(const QString& path, const QByteArray& bytes, QString& error);

}  // namespace fwl
