// fwload inspect: what the firmware catalogue makes of each file named -
// version, display version, package-name and product matches, and for a
// bundle its header and node tree.
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cstdio>

#include "app/settings.h"
#include "catalogue/firmware_bundle.h"
#include "catalogue/firmware_names.h"
#include "cli/cli_commands.h"

namespace fwl::cli {
namespace {

constexpr char kUsage[] =
    "Usage: fwload inspect [--json] FILE...\n"
    "\n"
    "Shows what the firmware catalogue makes of each file: the version read\n"
    "from its name, the display version, whether it is a known package name,\n"
    "and which products its name matches. For a firmware bundle also the\n"
    "format version, product code and name, version text, root (OEM) name and\n"
    "the node tree (type, tag, name, label, size).\n"
    "\n"
    "  --json   one JSON object per file, one per line\n"
    "\n"
    "A file that cannot be read is reported on stderr and the others are still\n"
    "inspected; the exit status is then 2.";

// Distinct station stems with the type codes that expect each, in table order.
struct StationStem {
  QString stem;
  QList<int> typeCodes;
};

QList<StationStem> StationStems() {
  static const int kTypeCodes[] = {5000, 5001, 5002, 5003, 5200, 5210, 5050, 5051,
                                   5100, 5101, 5102, 5300, 5301, 5400, 5401};
  QList<StationStem> stems;
  for (int code : kTypeCodes) {
    const QString stem = StationImageStem(code);
    auto it = std::find_if(stems.begin(), stems.end(),
                           [&](const StationStem& s) { return s.stem == stem; });
    if (it == stems.end()) {
      stems.append({stem, {code}});
    } else {
      it->typeCodes.append(code);
    }
  }
  return stems;
}

const char* TypeName(int type) {
  switch (type) {
    case kBundleFile:
      return "file";
    case kBundleDirectory:
      return "dir";
    case kBundleLink:
      return "link";
    default:
      return "?";
  }
}

// A tag with the name the tag vocabulary gives it, where it has one.
QString TagText(int type, quint32 tag) {
  if (tag == kBundleRootTagBase + kBundleFormatVersion) return QStringLiteral("0x46574201 (FWB1)");
  const char* name = nullptr;
  if (type == kBundleDirectory) {
    name = tag == kTagCpuNone ? "'0' NONE"
           : tag == kTagCpuA  ? "'A' PPC"
           : tag == kTagCpuB  ? "'B' ARM"
           : tag == kTagCpuC  ? "'C' ARM9"
                              : nullptr;
  } else {
    name = tag == kTagImageBoot ? "ImageB"
           : tag == kTagImage   ? "Image"
           : tag == kTagImage6  ? "Image6"
           : tag == kTagNoImage ? "NONE"
                                : nullptr;
  }
  return name ? QStringLiteral("%1 (%2)").arg(tag).arg(QLatin1String(name)) : QString::number(tag);
}

// What the name rules make of one file (bundle header included).
struct Findings {
  QString path;
  QString version;
  QString versionPart;
  QString displayVersion;
  bool version999 = false;
  bool knownPackage = false;
  bool matchesSwitch = false;
  QStringList stationStems;
  std::unique_ptr<FirmwareBundle> bundle;
};

bool IsBundlePath(const QString& path) {
  return path.endsWith(OemString(kOemBundleExtension), Qt::CaseInsensitive);
}

// Fills `f`; on a file that cannot be read returns false with `error` set.
bool Inspect(const QString& path, Findings& f, QString& error) {
  const QFileInfo info(path);
  if (!info.exists()) {
    error = QStringLiteral("no such file");
    return false;
  }
  if (info.isDir()) {
    error = QStringLiteral("is a folder, not a file");
    return false;
  }
  QFile probe(path);
  if (!probe.open(QIODevice::ReadOnly)) {
    error = QStringLiteral("cannot be read: ") + probe.errorString();
    return false;
  }
  probe.close();

  f.path = path;
  f.versionPart = VersionPart(info.completeBaseName());
  f.displayVersion = DisplayVersion(f.versionPart);
  f.version999 = HasVersion999(f.versionPart);
  f.knownPackage = IsKnownPackageName(path, KnownStems());

  if (IsBundlePath(path)) {
    // Opened here rather than through the name rules so a bad bundle is one
    // line on stderr, not a message box per rule.
    QString message;
    f.bundle = OpenBundle(path, nullptr, &message);
    if (!f.bundle) {
      error = QStringLiteral("not a readable firmware bundle: ") + message;
      return false;
    }
    f.version = f.bundle->VersionString().replace(u'_', u'.');
    f.matchesSwitch = f.bundle->ProductCode() == kBundleSwitch;
    for (const StationStem& s : StationStems()) {
      if (BundleCodeMatchesStem(f.bundle->ProductCode(), s.stem)) f.stationStems << s.stem;
    }
    return true;
  }
  f.version = VersionFromFileName(path);
  f.matchesSwitch = ImageNameMatchesProduct(path, kProductSwitch, QString(), MatchMode::kStrict);
  for (const StationStem& s : StationStems()) {
    if (ImageNameMatchesProduct(path, kProductStation, s.stem, MatchMode::kStrict)) {
      f.stationStems << s.stem;
    }
  }
  return true;
}

QString Quoted(const QString& text) {
  QString out = u'"' + text + u'"';
  // Names come from the file: keep control characters off the terminal.
  for (QChar& c : out) {
    if (c.unicode() < 0x20 || c.unicode() == 0x7f) c = u'?';
  }
  return out;
}

void PrintLine(const QString& line) { std::printf("%s\n", line.toLocal8Bit().constData()); }

void PrintTree(const BundleNode& node, int depth) {
  QString line =
      QString(2 * depth + 4, u' ') +
      // One multi-argument arg(): names from the file may contain "%4".
      QStringLiteral("%1 tag %2 name %3 label %4")
          .arg(QLatin1String(TypeName(node.type)),
               TagText(node.type == kBundleLink && node.target ? node.target->type : node.type,
                       node.userTag),
               Quoted(node.name), Quoted(node.label));
  if (node.type == kBundleFile) line += QStringLiteral(" size %1").arg(node.size);
  if (node.type == kBundleDirectory) line += QStringLiteral(" children %1").arg(node.size);
  if (node.type == kBundleLink && node.target) {
    line += QStringLiteral(" -> %1 %2")
                .arg(QLatin1String(TypeName(node.target->type)), Quoted(node.target->name));
    if (node.target->type == kBundleFile) line += QStringLiteral(" size %1").arg(node.target->size);
  }
  PrintLine(line);
  for (const auto& child : node.children) PrintTree(*child, depth + 1);
}

void PrintText(const Findings& f) {
  const QList<StationStem> stems = StationStems();
  PrintLine(f.path + u':');
  PrintLine(QStringLiteral("  version:            ") + f.version);
  PrintLine(QStringLiteral("  version part:       ") + f.versionPart);
  PrintLine(QStringLiteral("  display version:    ") + f.displayVersion);
  PrintLine(QStringLiteral("  999 flag:           ") + (f.version999 ? "yes" : "no"));
  PrintLine(QStringLiteral("  known package name: ") + (f.knownPackage ? "yes" : "no"));
  QStringList matches;
  if (f.matchesSwitch) matches << QStringLiteral("managed switch");
  for (const StationStem& s : stems) {
    if (!f.stationStems.contains(s.stem)) continue;
    QStringList codes;
    for (int code : s.typeCodes) codes << QString::number(code);
    matches << QStringLiteral("station %1 (types %2)").arg(s.stem, codes.join(u' '));
  }
  PrintLine(QStringLiteral("  matches:            ") +
            (matches.isEmpty() ? QStringLiteral("none") : matches.join(QStringLiteral(", "))));
  if (!f.bundle) return;
  const FirmwareBundle& b = *f.bundle;
  const QString productName = BundleProductName(b.ProductCode());
  PrintLine(QStringLiteral("  bundle format:      %1").arg(b.FormatVersion()));
  PrintLine(QStringLiteral("  product:            %1 %2")
                .arg(b.ProductCode())
                .arg(productName.isEmpty() ? QStringLiteral("(unknown)") : productName));
  PrintLine(QStringLiteral("  version text:       ") + Quoted(b.VersionString()));
  PrintLine(QStringLiteral("  root (OEM) name:    ") + Quoted(b.RootName()) +
            (BundleMatchesOem(b) ? QStringLiteral(" (accepted by this build)")
                                 : QStringLiteral(" (not accepted by this build)")));
  PrintLine(QStringLiteral("  tree:"));
  PrintTree(b.Root(), 0);
}

QJsonObject NodeJson(const BundleNode& node) {
  QJsonObject o{{"type", QLatin1String(TypeName(node.type))},
                {"tag", qint64(node.userTag)},
                {"name", node.name},
                {"label", node.label},
                {"size", qint64(node.size)}};
  if (node.type == kBundleFile) o["dataOffset"] = node.dataOffset;
  if (node.type == kBundleLink && node.target) {
    o["targetOffset"] = node.target->headerOffset;
    o["targetType"] = QLatin1String(TypeName(node.target->type));
    o["targetName"] = node.target->name;
  }
  if (node.type == kBundleDirectory) {
    QJsonArray children;
    for (const auto& child : node.children) children.append(NodeJson(*child));
    o["children"] = children;
  }
  return o;
}

void PrintJson(const Findings& f) {
  QJsonObject o{{"file", f.path},
                {"version", f.version},
                {"versionPart", f.versionPart},
                {"displayVersion", f.displayVersion},
                {"version999", f.version999},
                {"knownPackageName", f.knownPackage},
                {"matchesSwitch", f.matchesSwitch},
                {"matchesStations", QJsonArray::fromStringList(f.stationStems)}};
  if (f.bundle) {
    const FirmwareBundle& b = *f.bundle;
    o["bundle"] = QJsonObject{{"formatVersion", b.FormatVersion()},
                              {"productCode", b.ProductCode()},
                              {"productName", BundleProductName(b.ProductCode())},
                              {"versionText", b.VersionString()},
                              {"rootName", b.RootName()},
                              {"oemAccepted", BundleMatchesOem(b)},
                              {"tree", NodeJson(b.Root())}};
  }
  std::printf("%s\n", QJsonDocument(o).toJson(QJsonDocument::Compact).constData());
}

int RunInspect(const QStringList& args) {
  bool json = false;
  QStringList files;
  bool optionsDone = false;
  for (const QString& arg : args) {
    if (!optionsDone && arg == QLatin1String("--json")) {
      json = true;
    } else if (!optionsDone && arg == QLatin1String("--")) {
      optionsDone = true;
    } else if (!optionsDone && arg.startsWith(u'-') && arg.size() > 1) {
      std::fprintf(stderr, "fwload inspect: unknown option '%s' (try fwload help inspect)\n",
                   arg.toLocal8Bit().constData());
      return kExitUsage;
    } else {
      files << arg;
    }
  }
  if (files.isEmpty()) {
    std::fprintf(stderr, "fwload inspect: no file given (try fwload help inspect)\n");
    return kExitUsage;
  }
  int status = kExitOk;
  for (const QString& path : files) {
    Findings f;
    QString error;
    if (!Inspect(path, f, error)) {
      std::fflush(stdout);
      std::fprintf(stderr, "fwload inspect: %s: %s\n", path.toLocal8Bit().constData(),
                   error.toLocal8Bit().constData());
      status = kExitUsage;
      continue;
    }
    json ? PrintJson(f) : PrintText(f);
    std::fflush(stdout);
  }
  return status;
}

}  // namespace

FWL_REGISTER_SUBCOMMAND(inspect, "inspect", "what the firmware catalogue makes of files", kUsage,
                        RunInspect);

}  // namespace fwl::cli
