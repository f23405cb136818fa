// Reader for firmware bundles (".fwb"): one file carrying every image of a
// product for each processor variant, as a small tree of directory, file and
// link nodes behind a header with the product code and firmware version.
// The system only reads bundles; bundles come from anywhere, so the reader
// checks every count and length against what the file can hold.
#pragma once

#include <QString>
#include <cstdio>
#include <memory>
#include <vector>

namespace fwl {

// Node types.
inline constexpr int kBundleFile = 1;
inline constexpr int kBundleDirectory = 2;
inline constexpr int kBundleLink = 3;

// User tag of the root directory: "FWB" followed by the format version.
inline constexpr quint32 kBundleRootTagBase = 0x46574200;
inline constexpr int kBundleFormatVersion = 1;

// Directory tags (processor variants).
inline constexpr quint32 kTagCpuNone = 48;  // '0', "NONE"
inline constexpr quint32 kTagCpuA = 65;     // 'A', "CPU A" / "PPC"
inline constexpr quint32 kTagCpuB = 66;     // 'B', "CPU B" / "ARM"
inline constexpr quint32 kTagCpuC = 67;     // 'C', "CPU C" / "ARM9"
// File tags (image kinds).
inline constexpr quint32 kTagImageBoot = 1;  // "ImageB"
inline constexpr quint32 kTagImage = 2;      // "Image"
inline constexpr quint32 kTagImage6 = 3;     // "Image6"
inline constexpr quint32 kTagNoImage = 99;   // "NONE", e.g. "switchinfo.tgz"

// Error numbers that stop reading the tree.
inline constexpr int kBundleErrDataPastEnd = 6;    // a file's data runs past the end
inline constexpr int kBundleErrTooLarge = 12;      // more nodes than the reader holds
inline constexpr int kBundleErrInvalid = 22;       // bad header, type, count or nesting
inline constexpr int kBundleErrNoLinkTarget = 64;  // a link matches no earlier node

// Nesting and size limits the reader enforces.
inline constexpr int kBundleMaxDepth = 64;
inline constexpr int kBundleMaxNodes = 1 << 20;
inline constexpr int kBundleVersionMaxChars = 31;

// One node of the tree. Names and labels are 8-bit text (Latin-1 mapped).
struct BundleNode {
  int type = 0;
  quint32 userTag = 0;
  QString name;
  QString label;
  quint32 size = 0;                                   // file: data bytes; directory: child count
  qint64 dataOffset = -1;                             // file: offset of the first data byte
  qint64 headerOffset = -1;                           // where the node's header starts
  std::vector<std::unique_ptr<BundleNode>> children;  // directory
  const BundleNode* target = nullptr;                 // link: the earlier node it stands for
};

class FirmwareBundle {
 public:
  ~FirmwareBundle();
  FirmwareBundle(const FirmwareBundle&) = delete;
  FirmwareBundle& operator=(const FirmwareBundle&) = delete;

  int FormatVersion() const { return formatVersion_; }
  int ProductCode() const { return productCode_; }
  // The firmware version as stored (digit groups joined by "_"), at most 31
  // characters.
  QString VersionString() const { return version_; }
  // The root's name: the bundle's OEM word ("" for the maker's own bundles).
  QString RootName() const { return root_->name; }
  const BundleNode& Root() const { return *root_; }
  QString Path() const { return path_; }

 private:
  friend std::unique_ptr<FirmwareBundle> OpenBundle(const QString&, int*, QString*);
  friend int ExtractBundleEntry(FirmwareBundle&, const BundleNode&, const QString&);
  FirmwareBundle() = default;

  std::FILE* file_ = nullptr;
  QString path_;
  int formatVersion_ = 0;
  int productCode_ = 0;
  QString version_;
  std::unique_ptr<BundleNode> root_;
};

// Opens a bundle and reads its header and whole tree; the file stays open
// for extraction. Returns null on any failure. Open, version and header
// failures are written to stderr ("Failed to open '%s' for read: %d\n",
// "Unknown file version %d.\n", "Failed to read V1 file header: %d\n"); a
// bad tree is silent. `error`, when given, receives the errno or
// kBundleErr* number of the failure (0 on success). `message`, when given,
// receives a one-line description of the failure instead of stderr (for
// front ends that report in their own format).
std::unique_ptr<FirmwareBundle> OpenBundle(const QString& path, int* error = nullptr,
                                           QString* message = nullptr);

// Closes the file and frees the tree; `bundle` becomes null. Nodes found in it
// are invalid afterwards. Destroying the bundle does the same.
void CloseBundle(std::unique_ptr<FirmwareBundle>& bundle);

// The first directory (pre-order, root included) tagged `directoryTag`, then
// inside its subtree the first file tagged `fileTag` whose label equals
// `label` exactly when a label is given (a null QString means any label; an
// empty one matches only an empty label). A link to a matching file counts
// as a match and is returned as the link node. Null when nothing matches.
const BundleNode* FindBundleEntry(const FirmwareBundle& bundle, quint32 directoryTag,
                                  quint32 fileTag, const QString& label = QString());

// Copies a file entry's data (for a link, its target's data) to `target`,
// created or truncated with mode 0600. Without a target the node's name is
// used, reduced to its last path component in the current folder so a name
// from the file cannot write elsewhere. Returns 0, or the errno of the failed
// open or write (EINVAL for a node that is not a file or an unusable name).
// A bundle shorter than the entry ends the copy early without an error.
int ExtractBundleEntry(FirmwareBundle& bundle, const BundleNode& node,
                       const QString& target = QString());

// The OEM word a bundle's root name must carry: `oemString` trimmed, and ""
// when it is the maker's own word "KORVID" (any case).
QString BundleOemWord(const QString& oemString);
// Whether the bundle's root name equals BundleOemWord(oemString) without
// regard to case.
bool BundleMatchesOem(const FirmwareBundle& bundle, const QString& oemString);
// As above with the OEM string of this build (string-table entry 61306).
bool BundleMatchesOem(const FirmwareBundle& bundle);

}  // namespace fwl
