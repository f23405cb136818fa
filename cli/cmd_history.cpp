// "fwload history": the load records of this computer, newest first, and
// one record in full.
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

#include "batch/batch_record.h"
#include "cli/cli_commands.h"
#include "engine/load_record.h"

namespace fwl::cli {
namespace {

constexpr char kHistoryUsage[] =
    "Usage: fwload history [--last N] [--json]\n"
    "       fwload history show FILE\n"
    "\n"
    "Lists the records of the loads run on this computer, newest first, one line\n"
    "each: start time (UTC), product, unit, firmware file, result and the record's\n"
    "file name. Every load started from the wizard or from fwload load leaves one\n"
    "JSON file in the folder loads/ of the system folder. Control characters in\n"
    "a record's fields are shown as escapes (\\x1b, \\u202e, \\\\ for a backslash).\n"
    "  --last N     only the N newest records\n"
    "  --json       one JSON object per record (with its file name)\n"
    "  show FILE    prints one record; FILE is a name from the list or a path\n"
    "Batches (fwload batch) leave a record of their own (batch-TIME.json) that\n"
    "names each unit's record; they are listed after the loads, one line each:\n"
    "start time, inventory, counts of loaded, failed, skipped and interrupted\n"
    "units, the batch's exit status and the file name.";

// Control characters of a record's fields (C0, DEL, C1, and the marks that
// reorder a line) shown as escapes, so a record cannot move the cursor,
// recolour the terminal or disguise a line. The backslash is escaped too,
// so every escape is unambiguous.
bool NeedsEscape(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0x202A && c <= 0x202E) ||
         (c >= 0x2066 && c <= 0x2069) || c == 0x2028 || c == 0x2029;
}

QString EscapeForTerminal(const QString& text) {
  QString out;
  out.reserve(text.size());
  for (const char32_t c : text.toUcs4()) {
    if (c == U'\\') {
      out += QStringLiteral("\\\\");
    } else if (NeedsEscape(c)) {
      out += c <= 0xFF ? QString::asprintf("\\x%02x", unsigned(c))
                       : QString::asprintf("\\u%04x", unsigned(c));
    } else {
      out += QString::fromUcs4(&c, 1);
    }
  }
  return out;
}

// JSON escapes C0 characters itself; the rest of the set above goes out as
// \u escapes, which read back as the same text.
QByteArray EscapedJson(const QJsonObject& object, QJsonDocument::JsonFormat format) {
  const QString text = QString::fromUtf8(QJsonDocument(object).toJson(format));
  QString out;
  out.reserve(text.size());
  for (const char32_t c : text.toUcs4()) {
    if (c >= 0x20 && NeedsEscape(c)) {
      out += QString::asprintf("\\u%04x", unsigned(c));
    } else {
      out += QString::fromUcs4(&c, 1);
    }
  }
  return out.toUtf8();
}

int UsageError(const QString& text) {
  std::fprintf(stderr, "fwload history: %s\n", qPrintable(text));
  return kExitUsage;
}

int Show(const QString& name) {
  // A bare name is looked up in the records folder; anything with a folder
  // part is taken as the path it is.
  const QString path = name.contains(QLatin1Char('/')) || name.contains(QDir::separator())
                           ? name
                           : LoadRecordsFolder() + name;
  QJsonObject record;
  QString reason;
  if (!ReadLoadRecord(path, record, &reason)) {
    std::fprintf(stderr, "fwload history: no readable load record '%s': %s\n",
                 qPrintable(EscapeForTerminal(name)), qPrintable(reason));
    return kExitFailed;
  }
  std::fputs(EscapedJson(record, QJsonDocument::Indented).constData(), stdout);
  return kExitOk;
}

int RunHistory(const QStringList& args) {
  if (!args.isEmpty() && args[0] == QLatin1String("show")) {
    if (args.size() != 2) return UsageError("show needs one FILE");
    return Show(args[1]);
  }
  int last = -1;
  bool json = false;
  for (qsizetype i = 0; i < args.size(); ++i) {
    if (args[i] == QLatin1String("--json")) {
      json = true;
    } else if (args[i] == QLatin1String("--last")) {
      bool ok = false;
      last = i + 1 < args.size() ? args[++i].toInt(&ok) : -1;
      if (!ok || last < 0) return UsageError("--last needs a number");
    } else {
      return UsageError(QStringLiteral("unknown option '%1'").arg(args[i]));
    }
  }
  QList<LoadRecordSummary> records = ListLoadRecords(LoadRecordsFolder());
  records.removeIf([](const LoadRecordSummary& r) { return IsBatchRecordName(r.fileName); });
  QList<BatchRecordSummary> batches = ListBatchRecords(LoadRecordsFolder());
  if (records.isEmpty() && batches.isEmpty() && !json) {
    std::printf("No load records in %s.\n",
                qPrintable(EscapeForTerminal(QDir::toNativeSeparators(LoadRecordsFolder()))));
    std::fflush(stdout);
    return kExitOk;
  }
  if (last >= 0 && records.size() > last) records = records.mid(0, last);
  if (last >= 0 && batches.size() > last) batches = batches.mid(0, last);
  for (const LoadRecordSummary& r : records) {
    if (json) {
      const QJsonObject o{{"file", r.fileName}, {"start", r.start},       {"product", r.product},
                          {"unit", r.unit},     {"firmware", r.firmware}, {"outcome", r.outcome},
                          {"result", r.result}};
      std::printf("%s\n", EscapedJson(o, QJsonDocument::Compact).constData());
    } else {
      auto field = [](const QString& text) {
        return text.isEmpty() ? QStringLiteral("-") : EscapeForTerminal(text);
      };
      // The file name last, for "fwload history show".
      std::printf("%s  %-7s  %-20s  %-32s  %-10s  %s\n", qPrintable(field(r.start)),
                  qPrintable(field(r.product)), qPrintable(field(r.unit)),
                  qPrintable(field(r.firmware)), qPrintable(field(r.outcome)),
                  qPrintable(field(r.fileName)));
    }
  }
  if (!batches.isEmpty() && !json) std::printf("Batches:\n");
  for (const BatchRecordSummary& b : batches) {
    if (json) {
      const QJsonObject o{
          {"kind", "batch"},          {"file", b.fileName},   {"start", b.start},
          {"inventory", b.inventory}, {"units", b.units},     {"loaded", b.loaded},
          {"failed", b.failed},       {"skipped", b.skipped}, {"interrupted", b.interrupted},
          {"result", b.result}};
      std::printf("%s\n", QJsonDocument(o).toJson(QJsonDocument::Compact).constData());
    } else {
      std::printf(
          "%s  batch    %-20s  %d units: %d loaded, %d failed, %d skipped, %d interrupted  "
          "exit %d  %s\n",
          qPrintable(b.start.isEmpty() ? QStringLiteral("-") : b.start),
          qPrintable(b.inventory.left(20)), b.units, b.loaded, b.failed, b.skipped, b.interrupted,
          b.result, qPrintable(b.fileName));
    }
  }
  std::fflush(stdout);
  return kExitOk;
}

}  // namespace

FWL_REGISTER_SUBCOMMAND(history, "history", "list the load records, or show one", kHistoryUsage,
                        RunHistory);

}  // namespace fwl::cli
