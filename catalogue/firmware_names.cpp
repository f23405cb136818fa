#include "catalogue/firmware_names.h"

#include <algorithm>

#include "app/settings.h"
#include "catalogue/firmware_bundle.h"
#include "platform/ui.h"

namespace fwl {
namespace {

// Character classes of the 8-bit file-name text. Only ASCII counts: a
// non-ASCII character is neither a letter nor a digit in these rules.
bool IsDigit(QChar c) { return c >= u'0' && c <= u'9'; }
bool IsLetter(QChar c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

struct SplitName {
  QString base;       // file name without folder and extension
  QString extension;  // with the dot, lower-cased; "" when none
};

// Folder separators of both conventions: archive listings made elsewhere
// may name members with "\".
SplitName SplitPath(const QString& path) {
  const qsizetype slash = std::max(path.lastIndexOf(u'/'), path.lastIndexOf(u'\\'));
  const QString fileName = path.mid(slash + 1);
  const qsizetype dot = fileName.lastIndexOf(u'.');
  if (dot < 0) return {fileName, QString()};
  return {fileName.left(dot), fileName.mid(dot).toLower()};
}

bool IsBundleExtension(const QString& lowerExtension) {
  return !lowerExtension.isEmpty() &&
         lowerExtension.compare(OemString(kOemBundleExtension), Qt::CaseInsensitive) == 0;
}

struct BundleCodeEntry {
  int code;
  const char* name;
  const char* stem;  // "" when the code stands for no station stem
};

constexpr BundleCodeEntry kBundleCodes[] = {
    {kBundleLoZeb, "LO_Zeb", "kvimage_lozeb"},
    {kBundleLoUZeb, "LO_uZeb", "kvimage_louzeb"},
    {kBundleLo6Zeb, "LO6_Zeb", "kvimage6_lozeb"},
    {kBundleRaZeb, "RA_Zeb", "kvimage_razeb"},
    {kBundleRa6Zeb, "RA6_Zeb", "kvimage6_razeb"},
    {kBundleMugt, "MUGT", "kvimage_mugt"},
    {kBundleRagt, "RAGT", "kvimage_ragt"},
    {kBundleSwitch, "MS", ""},
    {kBundleMu2, "MU2", ""},
};

const BundleCodeEntry* FindBundleCode(int code) {
  for (const auto& entry : kBundleCodes) {
    if (entry.code == code) return &entry;
  }
  return nullptr;
}

// One row per group of station type codes; the three tables share the keys.
struct StationTypeEntry {
  int codes[6];  // unused slots are 0
  const char* imageStem;
  const char* packagePattern;    // nullptr: the type has no package
  const char* imagePatterns[2];  // {nullptr, nullptr}: the switch patterns
};

const StationTypeEntry kStationTypes[] = {
    {{5000, 5001, 5002, 5003, 5200, 5210},
     "kvimage_lozeb",
     "kvfirm_lozeb*.tgz",
     {"kvimage_lozeb*"}},
    {{5050}, "kvimage_ragt", "kvfirm_ragt*.tgz", {"kvimage_ragt*"}},
    {{5051}, "kvimage_mugt", "kvfirm_mugt*.tgz", {"kvimage_mugt*", "kvimageb_mugt*"}},
    {{5100, 5101}, "kvimage_razeb", "kvfirm_razeb*.tgz", {"kvimage_razeb*"}},
    {{5102}, "kvimage6_razeb", "kvfirm6_razeb*.tgz", {"kvimage6_razeb*", "kvimageb_razeb*"}},
    {{5300, 5301}, "kvimage_louzeb", nullptr, {nullptr, nullptr}},
    {{5400, 5401}, "kvimage9_lozeb", nullptr, {nullptr, nullptr}},
};

constexpr const char* kSwitchImagePatterns[] = {"kvimage_mums*", "kvimageb_mums*", "kvimagea_mums*",
                                                "kvimageba_mums*"};

const StationTypeEntry* FindStationType(int code) {
  for (const auto& entry : kStationTypes) {
    for (int c : entry.codes) {
      if (c != 0 && c == code) return &entry;
    }
  }
  return nullptr;
}

// Field `index` (0-based) of a dotted version: separators inside a pair of
// backquotes do not count; leading blanks and control characters are
// skipped, at most 10 characters are kept and trailing spaces cut.
QString VersionField(const QString& version, int index) {
  qsizetype start = 0;
  int field = 0;
  bool quoted = false;
  qsizetype i = 0;
  for (; i < version.size(); ++i) {
    const QChar c = version[i];
    if (c == u'`') {
      quoted = !quoted;
    } else if (c == u'.' && !quoted) {
      if (field == index) break;
      ++field;
      start = i + 1;
    }
  }
  if (field != index) return QString();
  QString text = version.mid(start, i - start);
  qsizetype skip = 0;
  while (skip < text.size() &&
         (text[skip] == u' ' || text[skip].unicode() < 0x20 || text[skip].unicode() == 0x7f)) {
    ++skip;
  }
  text = text.mid(skip, 10);
  while (text.endsWith(u' ')) text.chop(1);
  return text;
}

// Decimal value of the leading digits, the way atoi reads them (optional
// sign, stops at the first non-digit, "" is 0).
qint64 AtoiValue(const QString& text) {
  qsizetype i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }
  qint64 value = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    value = value * 10 + (text[i].unicode() - u'0');  // at most 10 digits: no overflow
  }
  return negative ? -value : value;
}

}  // namespace

bool IsStationProduct(int productType) {
  return productType != kProductSwitch && productType != kProductOldLine;
}

const QStringList& KnownStems() {
  static const QStringList stems = {
      "kvfirm_ragt",    "kvfirm_razeb",   "kvfirm_lozeb",   "kvfirm6_razeb",  "kvfirm6_lozeb",
      "kvfirm_mugt",    "kvimage_ragt",   "kvimage_razeb",  "kvimage_lozeb",  "kvimage6_razeb",
      "kvimageb_razeb", "kvimage6_lozeb", "kvimageb_lozeb", "kvimage_mugt",   "kvimageb_mugt",
      "kvimage_mums",   "kvimageb_mums",  "kvimagea_mums",  "kvimageba_mums",
  };
  return stems;
}

QString BundleProductName(int productCode) {
  const BundleCodeEntry* entry = FindBundleCode(productCode);
  return entry ? QString::fromLatin1(entry->name) : QString();
}

QString BundleProductStem(int productCode) {
  const BundleCodeEntry* entry = FindBundleCode(productCode);
  return entry ? QString::fromLatin1(entry->stem) : QString();
}

bool BundleCodeMatchesStem(int productCode, const QString& stationStem) {
  const QString stem = BundleProductStem(productCode);
  return !stem.isEmpty() && stem.compare(stationStem, Qt::CaseInsensitive) == 0;
}

QString VersionFromFileName(const QString& path) {
  const SplitName split = SplitPath(path);
  if (IsBundleExtension(split.extension)) {
    QString version;
    if (auto bundle = OpenBundle(path)) {
      version = bundle->VersionString();
    } else {
      ShowMessage(QStringLiteral("Error reading firmware bundle %1.").arg(path));
    }
    return version.replace(u'_', u'.');
  }

  QString base = split.base;
  const qsizetype dot = base.lastIndexOf(u'.');
  if (dot >= 0) base.truncate(dot);  // x.tar left over from x.tar.gz

  qsizetype letter = base.size() - 1;
  while (letter >= 0 && !IsLetter(base[letter])) --letter;
  if (letter < 0) return QString();
  qsizetype digit = letter + 1;
  while (digit < base.size() && !IsDigit(base[digit])) ++digit;
  if (digit >= base.size()) return QString();

  QString version = base.mid(digit).replace(u'_', u'.');
  if (version.endsWith(u'.')) version.chop(1);
  if (path.contains(QLatin1String(kPrefixImageA))) {
    version += u'a';
  } else if (path.contains(QLatin1String(kPrefixImage9))) {
    version += u'c';
  }
  return version;
}

int CompareVersions(const QString& a, const QString& b) {
  for (int field = 0; field < 3; ++field) {
    const qint64 x = AtoiValue(VersionField(a, field));
    const qint64 y = AtoiValue(VersionField(b, field));
    if (x != y) return x > y ? 1 : -1;
  }
  return 0;
}

QString VersionPart(const QString& baseName) {
  qsizetype i = baseName.size() - 1;
  while (i >= 0 && (IsDigit(baseName[i]) || baseName[i] == u'_')) --i;
  if (i < 0) return QString();
  return baseName.mid(i + 1);
}

bool IsCompanionFileName(const QString& fileName) {
  static const char* const kCompanionSuffixes[] = {".md5", ".sha1", ".sha256",
                                                   ".sig", ".asc",  ".txt"};
  for (const char* suffix : kCompanionSuffixes) {
    if (fileName.endsWith(QLatin1String(suffix), Qt::CaseInsensitive)) return true;
  }
  return false;
}

int NewestFirmwareFile(const QStringList& fileNames) {
  int best = -1;
  QString bestVersion;
  for (int i = 0; i < fileNames.size(); ++i) {
    const QString& name = fileNames[i];
    if (IsCompanionFileName(name)) continue;
    const qsizetype dot = name.lastIndexOf(u'.');
    // Dotted, so CompareVersions reads "3_10_0" as 3.10.0, not as text.
    const QString version = VersionPart(dot > 0 ? name.left(dot) : name).replace(u'_', u'.');
    if (best < 0 || CompareVersions(version, bestVersion) >= 0) {
      best = i;
      bestVersion = version;
    }
  }
  return best;
}

QString DisplayVersion(const QString& versionPart) {
  QString text = versionPart;
  text.replace(u'_', u'.');
  const qsizetype cut = text.indexOf(QLatin1String(".999"));
  if (cut >= 0) text.truncate(cut);
  return text;
}

bool HasVersion999(const QString& versionPart) {
  return versionPart.contains(QLatin1String("_999"));
}

bool IsKnownPackageName(const QString& path, const QStringList& knownStems) {
  const SplitName split = SplitPath(path);
  if (!split.extension.isEmpty() && split.extension != QLatin1String(".tgz")) return false;
  const QString& base = split.base;
  qsizetype i = base.size() - 1;
  while (i >= 0 && !IsDigit(base[i])) --i;
  while (i >= 0 && !IsLetter(base[i])) --i;
  if (i < 0) return false;
  const QString candidate = base.left(i + 1);
  for (const QString& stem : knownStems) {
    if (candidate.compare(stem, Qt::CaseInsensitive) == 0) return true;
  }
  return false;
}

bool ImageNameMatchesProduct(const QString& fileName, int productType, const QString& stationStem,
                             MatchMode mode) {
  const SplitName split = SplitPath(fileName);
  const bool station = IsStationProduct(productType);
  if (IsBundleExtension(split.extension)) {
    if (mode == MatchMode::kLoose) return true;
    auto bundle = OpenBundle(fileName);
    if (!bundle) {
      ShowMessage(QStringLiteral("Unable to read firmware file %1").arg(fileName));
      return false;
    }
    if (station) return BundleCodeMatchesStem(bundle->ProductCode(), stationStem);
    return bundle->ProductCode() == kBundleSwitch;
  }

  // Boot images ("kvimageb_", "kvimageba_") begin with none of these.
  static const char* const kImagePrefixes[] = {kPrefixImage6, kPrefixImageA, kPrefixImage9,
                                               kPrefixImage};
  QString prefix;
  for (const char* candidate : kImagePrefixes) {
    if (split.base.startsWith(QLatin1String(candidate))) {
      prefix = QLatin1String(candidate);
      break;
    }
  }
  if (prefix.isEmpty()) return false;

  QString rest = split.base;
  rest.remove(prefix);
  qsizetype digit = 0;
  while (digit < rest.size() && !IsDigit(rest[digit])) ++digit;
  if (digit == 0 || digit >= rest.size()) return false;
  const QString model = rest.left(digit);

  if (mode == MatchMode::kLoose) return station || model == QLatin1String(kModelSwitch);
  if (station) return (prefix + model).compare(stationStem, Qt::CaseInsensitive) == 0;
  return productType != kProductOldLine && model == QLatin1String(kModelSwitch);
}

QString StationImageStem(int stationTypeCode) {
  const StationTypeEntry* entry = FindStationType(stationTypeCode);
  return entry ? QString::fromLatin1(entry->imageStem) : QString();
}

int PackagePatterns(int stationTypeCode, QStringList& patterns) {
  const StationTypeEntry* entry = FindStationType(stationTypeCode);
  if (!entry || !entry->packagePattern) return -1;
  patterns.append(QString::fromLatin1(entry->packagePattern));
  return 1;
}

int ImagePatterns(int stationTypeCode, QStringList& patterns) {
  const StationTypeEntry* entry = FindStationType(stationTypeCode);
  int added = 0;
  if (entry && entry->imagePatterns[0]) {
    for (const char* pattern : entry->imagePatterns) {
      if (!pattern) break;
      patterns.append(QString::fromLatin1(pattern));
      ++added;
    }
    return added;
  }
  for (const char* pattern : kSwitchImagePatterns) {
    patterns.append(QString::fromLatin1(pattern));
    ++added;
  }
  return added;
}

}  // namespace fwl
