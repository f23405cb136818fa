// The firmware file-name vocabulary (family prefixes, model codes, versions)
// and the pure string rules built on it: versions from names, version order,
// package-name recognition, image/product matching and station-type tables.
#pragma once

#include <QString>
#include <QStringList>

namespace fwl {

// The product chosen on the product page. Anything that is neither a switch
// nor the older line counts as a station (no selection included).
inline constexpr int kProductStation = 0;
inline constexpr int kProductSwitch = 1;
inline constexpr int kProductOldLine = 2;  // "MU2"; accepted here, never offered
bool IsStationProduct(int productType);

// Family prefixes.
inline constexpr char kPrefixPackage[] = "kvfirm_";
inline constexpr char kPrefixPackage6[] = "kvfirm6_";
inline constexpr char kPrefixImage[] = "kvimage_";
inline constexpr char kPrefixImage6[] = "kvimage6_";
inline constexpr char kPrefixImageA[] = "kvimagea_";
inline constexpr char kPrefixImage9[] = "kvimage9_";
inline constexpr char kPrefixBoot[] = "kvimageb_";
inline constexpr char kPrefixBootA[] = "kvimageba_";
inline constexpr char kPrefixBoot9[] = "kvimageb9_";

// Model codes.
inline constexpr char kModelRagt[] = "ragt";
inline constexpr char kModelMugt[] = "mugt";
inline constexpr char kModelRazeb[] = "razeb";
inline constexpr char kModelLozeb[] = "lozeb";
inline constexpr char kModelLouzeb[] = "louzeb";
inline constexpr char kModelSwitch[] = "mums";

// The 19 known stems in their fixed order (package reader and sheet rely on
// the order).
const QStringList& KnownStems();

// Product codes stored in a bundle header.
inline constexpr int kBundleLoZeb = 1001;
inline constexpr int kBundleLoUZeb = 1002;
inline constexpr int kBundleLo6Zeb = 1003;
inline constexpr int kBundleRaZeb = 1101;
inline constexpr int kBundleRa6Zeb = 1102;
inline constexpr int kBundleMugt = 1201;
inline constexpr int kBundleRagt = 1301;
inline constexpr int kBundleSwitch = 2000;
inline constexpr int kBundleMu2 = 3000;

// Name of a bundle product code ("LO_Zeb", "MS", ...); "" for an unknown code.
QString BundleProductName(int productCode);
// Image stem a station bundle code stands for ("kvimage_lozeb" for 1001);
// "" for 2000, 3000 and unknown codes.
QString BundleProductStem(int productCode);
// True when a bundle with `productCode` fits a station whose expected image
// stem is `stationStem` (stems compared without regard to case).
bool BundleCodeMatchesStem(int productCode, const QString& stationStem);

// Version of a firmware file named by `path` ("" when none): digits after the
// model code with "_" turned into "."; "a" appended for "kvimagea_" paths,
// "c" for "kvimage9_" paths. For a bundle (the OEM bundle extension) the
// version comes from its header; an unreadable bundle shows
// "Error reading firmware bundle %s." and gives "".
QString VersionFromFileName(const QString& path);

// Orders two dotted versions by their first three numeric fields.
// Returns 1 when a > b, -1 when a < b, 0 when equal.
int CompareVersions(const QString& a, const QString& b);

// Trailing digits-and-"_" part of a base name without extension
// ("kvimage_mums3_1_999" -> "3_1_999"); "" when the whole name is such.
QString VersionPart(const QString& baseName);

// True for a file that travels with an image or package without being one:
// a checksum, signature or text file (".md5", ".sha1", ".sha256", ".sig",
// ".asc", ".txt", any case).
bool IsCompanionFileName(const QString& fileName);

// Index in `fileNames` of the newest firmware file by CompareVersions of the
// version parts of the names (without their last extension), companion
// files left out; among equal versions the later one in the list. -1 when
// no name is left.
int NewestFirmwareFile(const QStringList& fileNames);

// A version part for display: "_" -> ".", cut at the first ".999".
QString DisplayVersion(const QString& versionPart);

// The 999 flag of a file: its version part contains "_999".
bool HasVersion999(const QString& versionPart);

// True when `path` names a firmware package: no extension or ".tgz" (any
// case), and the name up to the last letter before the version equals one of
// `knownStems` without regard to case.
bool IsKnownPackageName(const QString& path, const QStringList& knownStems);

enum class MatchMode {
  kLoose,   // while scanning: archive members and extension-less files
  kStrict,  // each candidate before it is listed
};

// Whether an image file (or a bundle) fits the selected product.
// `stationStem` is StationImageStem() of the selected station's type (empty
// without a station). Strict mode on a bundle reads its header; an
// unreadable bundle shows "Unable to read firmware file %s" and gives false.
bool ImageNameMatchesProduct(const QString& fileName, int productType, const QString& stationStem,
                             MatchMode mode);

// Expected main-image stem of a station type code; "" for an unknown code.
QString StationImageStem(int stationTypeCode);

// Appends the package file pattern of a station type to `patterns`.
// Returns the number of patterns appended (1), or -1 for a type without a
// package (nothing appended).
int PackagePatterns(int stationTypeCode, QStringList& patterns);

// Appends the image file patterns of a station type, in order; types without
// an entry (switches included) get the four switch patterns. Returns the
// number of patterns appended.
int ImagePatterns(int stationTypeCode, QStringList& patterns);

}  // namespace fwl
