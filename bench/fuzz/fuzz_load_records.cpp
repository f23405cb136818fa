// libFuzzer target: load record files as "fwload history" reads them - the
// listing of the records folder, one record read and summed up, and the
// subcommand itself (list, --json, show), whose output must carry no raw
// control character of a record: what it prints is captured and checked.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QString>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "cli/cli_commands.h"
#include "engine/load_record.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

QString g_records;  // the records folder, with the separator
QString g_capture;  // where the subcommand's standard output goes

// Runs "fwload ARGS" with its standard output in a file; returns that output.
QByteArray RunFwload(const QStringList& args) {
  std::fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  const int fd =
      ::open(QFile::encodeName(g_capture).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (saved < 0 || fd < 0) std::abort();
  dup2(fd, STDOUT_FILENO);
  ::close(fd);
  fwl::cli::RunCommandLine(QStringList{QStringLiteral("fwload")} + args);
  std::fflush(stdout);
  dup2(saved, STDOUT_FILENO);
  ::close(saved);
  QFile file(g_capture);
  if (!file.open(QIODevice::ReadOnly)) std::abort();
  return file.readAll();
}

// Characters that may move the cursor, recolour the terminal or reorder a
// line; only the line breaks the subcommand writes itself may appear.
void CheckPrintable(const QByteArray& output) {
  for (const char32_t c : QString::fromUtf8(output).toUcs4()) {
    if (c == U'\n') continue;
    Check(c >= 0x20 && !(c >= 0x7F && c <= 0x9F) && !(c >= 0x202A && c <= 0x202E) &&
          !(c >= 0x2066 && c <= 0x2069) && c != 0x2028 && c != 0x2029);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char name[64];
  std::snprintf(name, sizeof name, "%s/fuzz_records_XXXXXX",
                access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
  if (!mkdtemp(name)) std::abort();
  setenv("FWLOADER_SYSTEM_DIR", name, 1);
  g_records = fwl::LoadRecordsFolder();
  g_capture = QString::fromLatin1(name) + QStringLiteral("/stdout");
  if (!QDir().mkpath(g_records)) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString name = QStringLiteral("20260101T000000.000Z.json");
  const QString path = g_records + name;
  {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) std::abort();
    if (file.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size)) std::abort();
  }
  const QList<fwl::LoadRecordSummary> listed = fwl::ListLoadRecords(g_records);
  Check(listed.size() == 1);

  QJsonObject record;
  if (fwl::ReadLoadRecord(path, record)) {
    const fwl::LoadRecordSummary summary = fwl::SummarizeLoadRecord(name, record);
    Check(summary.outcome == listed.first().outcome);
  } else {
    Check(listed.first().outcome == QLatin1String("unreadable"));
  }

  CheckPrintable(RunFwload({QStringLiteral("history")}));
  CheckPrintable(RunFwload({QStringLiteral("history"), QStringLiteral("--json")}));
  CheckPrintable(RunFwload({QStringLiteral("history"), QStringLiteral("show"), name}));
  return 0;
}
