// fwload scan: the firmware versions a folder offers for a product (and a
// station), listed exactly as the product page lists them, with the file
// behind each entry.
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

#include "catalogue/firmware_names.h"
#include "catalogue/folder_scan.h"
#include "catalogue/project_file.h"
#include "cli/cli_commands.h"
#include "cli/terminal_ui.h"

namespace fwl::cli {
namespace {

constexpr char kUsage[] =
    "Usage: fwload scan DIR [--recurse] [--product switch|station]\n"
    "                       [--project FILE --station NAME | --station-type CODE]\n"
    "                       [--examine zip,tar,tgz,gz] [--json]\n"
    "\n"
    "Scans the firmware folder DIR and prints the version entries the product\n"
    "page would offer, newest first, one per line: a '*' marks the entry the\n"
    "page selects, then the entry (\"VERSION (PATH RELATIVE TO DIR)\"), a tab\n"
    "and the full path of the file behind it.\n"
    "\n"
    "  --recurse            include subfolders\n"
    "  --product P          switch (the default) or station; --project and\n"
    "                       --station-type imply station\n"
    "  --project FILE       project file (.6pj) holding the station\n"
    "  --station NAME       station of that project whose firmware is wanted\n"
    "  --station-type CODE  station type code (\"StaID\") instead of a project\n"
    "  --examine TYPES      archive types to unpack and examine, comma-separated\n"
    "                       (\"\" for none); default: the stored Search Options\n"
    "  --json               one JSON object per entry\n"
    "\n"
    "Exit status: 0 versions listed, 1 no version fits, 2 bad usage or input.";

int Usage(const char* problem) {
  std::fprintf(stderr, "fwload scan: %s\n%s\n", problem, kUsage);
  return kExitUsage;
}

struct ScanOptions {
  QString folder;
  bool recurse = false;
  QString product;
  QString project;
  QString station;
  int stationType = -1;
  bool stationTypeGiven = false;
  std::optional<SearchOptions> examine;
  bool json = false;
};

// Returns 0 when parsed, else the exit status (usage already printed).
int ParseArguments(const QStringList& args, ScanOptions* o) {
  for (int i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    auto value = [&](QString* out) {
      if (i + 1 >= args.size()) return false;
      *out = args[++i];
      return true;
    };
    if (a == QLatin1String("--recurse")) {
      o->recurse = true;
    } else if (a == QLatin1String("--json")) {
      o->json = true;
    } else if (a == QLatin1String("--product")) {
      if (!value(&o->product)) return Usage("--product needs switch or station");
    } else if (a == QLatin1String("--project")) {
      if (!value(&o->project)) return Usage("--project needs a file");
    } else if (a == QLatin1String("--station")) {
      if (!value(&o->station)) return Usage("--station needs a name");
    } else if (a == QLatin1String("--station-type")) {
      QString text;
      bool ok = false;
      if (!value(&text) || (o->stationType = text.toInt(&ok), !ok))
        return Usage("--station-type needs a number");
      o->stationTypeGiven = true;
    } else if (a == QLatin1String("--examine")) {
      QString text;
      SearchOptions flags;
      if (!value(&text) || !ParseSearchOptions(text, &flags))
        return Usage("--examine takes zip, tar, tgz and gz, comma-separated");
      o->examine = flags;
    } else if (a.startsWith(QLatin1String("--"))) {
      return Usage(qPrintable(QStringLiteral("unknown option %1").arg(a)));
    } else if (o->folder.isEmpty()) {
      o->folder = a;
    } else {
      return Usage("only one folder can be scanned");
    }
  }
  if (o->folder.isEmpty()) return Usage("no folder given");
  if (!o->project.isEmpty() && o->station.isEmpty()) return Usage("--project needs --station NAME");
  if (!o->station.isEmpty() && o->project.isEmpty()) return Usage("--station needs --project FILE");
  if (!o->project.isEmpty() && o->stationTypeGiven)
    return Usage("give either --project/--station or --station-type");
  if (!o->product.isEmpty() && o->product != QLatin1String("switch") &&
      o->product != QLatin1String("station"))
    return Usage("--product is switch or station");
  if (o->product == QLatin1String("switch") && (!o->project.isEmpty() || o->stationTypeGiven))
    return Usage("a switch has no station");
  return 0;
}

// Messages reach the terminal; the progress window has no use in a one-shot
// listing, so its lines are left out of the output.
class ScanUi final : public SilentUi {
 public:
  explicit ScanUi(Ui& terminal) : terminal_(terminal) {}
  int MessageBox(const QString& text, const QString& caption, UiIcon icon,
                 UiButtons buttons) override {
    return terminal_.MessageBox(text, caption, icon, buttons);
  }
  void ShowPrompt(const QString& title, const QString& text) override {
    terminal_.ShowPrompt(title, text);
  }
  void SetPromptText(const QString& text) override { terminal_.SetPromptText(text); }
  bool PromptCancelled() override { return terminal_.PromptCancelled(); }
  void ClosePrompt() override { terminal_.ClosePrompt(); }

 private:
  Ui& terminal_;
};

QString VersionOfEntry(const QString& entry) {
  const qsizetype open = entry.indexOf(QLatin1String(" ("));
  return open < 0 ? entry : entry.left(open);
}

int RunScan(const QStringList& args) {
  ScanOptions o;
  if (const int rc = ParseArguments(args, &o)) return rc;
  if (!QFileInfo(o.folder).isDir()) {
    std::fprintf(stderr, "fwload scan: '%s' is not a folder\n", qPrintable(o.folder));
    return kExitUsage;
  }

  TerminalUiOptions uiOptions;
  uiOptions.interactive = 0;
  TerminalUi terminal(uiOptions);
  ScanUi ui(terminal);
  ScopedUi scopedUi(&ui);

  const bool station =
      o.product == QLatin1String("station") || !o.project.isEmpty() || o.stationTypeGiven;
  QString stem;
  if (!o.project.isEmpty()) {
    if (!QFileInfo(o.project).isFile()) {
      std::fprintf(stderr, "fwload scan: no project file '%s'\n", qPrintable(o.project));
      return kExitUsage;
    }
    o.project = ProjectFilePath(o.project);
    StationList stations;
    LoadStationList(o.project, kProductStation, &stations);
    if (!stations.typeCodes.contains(o.station)) {
      std::fprintf(stderr, "fwload scan: station '%s' not found in project '%s'\n",
                   qPrintable(o.station), qPrintable(o.project));
      return kExitUsage;
    }
    stem = StationImageStem(stations.typeCodes.value(o.station));
  } else if (o.stationTypeGiven) {
    stem = StationImageStem(o.stationType);
  }

  FolderScan scan;
  FolderScanInputs& in = scan.inputs();
  in.firmwareFolder = QDir(o.folder).absolutePath();
  in.includeSubfolders = o.recurse;
  in.productType = station ? kProductStation : kProductSwitch;
  in.stationStem = stem;
  in.examine = o.examine;
  scan.RescanFirmwareFolder();

  const QStringList& entries = scan.versionEntries();
  const QStringList& files = scan.selectableFiles();
  for (int i = 0; i < entries.size(); ++i) {
    const bool selected = i == scan.selectedIndex();
    if (o.json) {
      QJsonObject obj;
      obj[QStringLiteral("index")] = i;
      obj[QStringLiteral("selected")] = selected;
      obj[QStringLiteral("version")] = VersionOfEntry(entries[i]);
      obj[QStringLiteral("entry")] = entries[i];
      obj[QStringLiteral("file")] = files.value(i);
      std::printf("%s\n", QJsonDocument(obj).toJson(QJsonDocument::Compact).constData());
    } else {
      std::printf("%c %s\t%s\n", selected ? '*' : ' ', entries[i].toLocal8Bit().constData(),
                  files.value(i).toLocal8Bit().constData());
    }
  }
  std::fflush(stdout);
  if (scan.cancelled()) std::fprintf(stderr, "fwload scan: cancelled\n");
  if (entries.isEmpty()) {
    std::fprintf(stderr, "fwload scan: no firmware version fits the %s%s in '%s'\n",
                 station ? "station" : "managed switch",
                 stem.isEmpty() ? "" : qPrintable(QStringLiteral(" (%1)").arg(stem)),
                 qPrintable(o.folder));
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

FWL_REGISTER_SUBCOMMAND(scan, "scan", "list the firmware versions a folder offers", kUsage,
                        RunScan);

}  // namespace fwl::cli
