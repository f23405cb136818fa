#include "catalogue/firmware_bundle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <string>
#include <unordered_map>

#include "app/settings.h"

namespace fwl {
namespace {

// Smallest possible node: type, tag, two empty strings and size.
constexpr qint64 kMinNodeBytes = 5 * 4;
constexpr int kCopyChunk = 1024;
constexpr int kMaxLinkHops = 64;

QByteArray NativePath(const QString& path) { return QFile::encodeName(path); }

// Identity of a node for link resolution: what a header read at a link's
// target offset determines (the data offset only for files).
std::string NodeKey(int type, quint32 tag, qint64 dataOffset, const QString& name,
                    const QString& label) {
  std::string key;
  key += std::to_string(type) + ':' + std::to_string(tag) + ':';
  key += type == kBundleFile ? std::to_string(dataOffset) : std::string("-");
  const QByteArray n = name.toLatin1();
  const QByteArray l = label.toLatin1();
  key += ':' + std::to_string(n.size()) + ':';
  key.append(n.constData(), n.size());
  key += ':';
  key.append(l.constData(), l.size());
  return key;
}

// Reads the tree of one bundle. Every length and count is checked against
// the bytes left in the file before anything is allocated for it.
class TreeReader {
 public:
  TreeReader(std::FILE* file, qint64 fileSize, qint64 position)
      : file_(file), fileSize_(fileSize), pos_(position) {}

  // Reads the whole tree; 0 or a kBundleErr* number.
  int ReadRoot(quint32 rootTag, std::unique_ptr<BundleNode>& root) {
    auto node = std::make_unique<BundleNode>();
    if (!ReadHeader(*node)) return kBundleErrInvalid;
    if (node->type != kBundleDirectory || node->userTag != rootTag) return kBundleErrInvalid;
    const int error = ReadBody(*node, 1);
    if (error == 0) root = std::move(node);
    return error;
  }

 private:
  qint64 Remaining() const { return fileSize_ - pos_; }

  bool Seek(qint64 position) {
    if (position < 0 || position > fileSize_) return false;
    if (fseeko(file_, position, SEEK_SET) != 0) return false;
    pos_ = position;
    return true;
  }

  bool ReadBytes(char* data, qint64 size) {
    if (size > Remaining()) return false;
    if (size > 0 && std::fread(data, 1, size_t(size), file_) != size_t(size)) return false;
    pos_ += size;
    return true;
  }

  bool ReadU32(quint32& value) {
    unsigned char b[4];
    if (!ReadBytes(reinterpret_cast<char*>(b), 4)) return false;
    value = (quint32(b[0]) << 24) | (quint32(b[1]) << 16) | (quint32(b[2]) << 8) | b[3];
    return true;
  }

  bool ReadString(QString& text) {
    quint32 length = 0;
    if (!ReadU32(length) || qint64(length) > Remaining()) return false;
    QByteArray bytes(qsizetype(length), Qt::Uninitialized);
    if (!ReadBytes(bytes.data(), length)) return false;
    text = QString::fromLatin1(bytes);
    return true;
  }

  bool ReadHeader(BundleNode& node) {
    node.headerOffset = pos_;
    quint32 type = 0;
    if (!ReadU32(type) || !ReadU32(node.userTag) || !ReadString(node.name) ||
        !ReadString(node.label) || !ReadU32(node.size)) {
      return false;
    }
    node.type = int(type);
    return true;
  }

  // Reads what follows a header whose node sits at nesting `depth`.
  int ReadBody(BundleNode& node, int depth) {
    if (++nodeCount_ > kBundleMaxNodes) return kBundleErrTooLarge;
    switch (node.type) {
      case kBundleFile:
        node.dataOffset = pos_;
        if (qint64(node.size) > Remaining() || !Seek(pos_ + node.size)) {
          return kBundleErrDataPastEnd;
        }
        Remember(node);
        return 0;
      case kBundleDirectory:
        return ReadChildren(node, depth);
      case kBundleLink:
        return ResolveLink(node);
      default:
        return kBundleErrInvalid;
    }
  }

  int ReadChildren(BundleNode& dir, int depth) {
    // Each child needs at least a header, so a count the rest of the file
    // cannot hold is refused before the child array is made.
    if (qint64(dir.size) > Remaining() / kMinNodeBytes) return kBundleErrInvalid;
    if (dir.size > 0 && depth >= kBundleMaxDepth) return kBundleErrInvalid;
    Remember(dir);  // pre-order: a directory precedes its children
    dir.children.reserve(dir.size);
    for (quint32 i = 0; i < dir.size; ++i) {
      auto child = std::make_unique<BundleNode>();
      if (!ReadHeader(*child)) return kBundleErrInvalid;
      const int error = ReadBody(*child, depth + 1);
      if (error != 0) return error;
      dir.children.push_back(std::move(child));
    }
    return 0;
  }

  int ResolveLink(BundleNode& link) {
    quint32 targetOffset = 0;
    if (!ReadU32(targetOffset)) return kBundleErrInvalid;
    const qint64 resume = pos_;
    BundleNode header;
    if (!Seek(targetOffset) || !ReadHeader(header)) return kBundleErrInvalid;
    if (!Seek(resume)) return kBundleErrInvalid;
    // The first node read is the first in pre-order, which is what a walk
    // of the tree read so far would find. A link's target is always a node
    // read before it, never another link, so links cannot form a loop.
    const auto found = index_.find(
        NodeKey(header.type, header.userTag, DataOffsetAfter(header), header.name, header.label));
    if (found == index_.end()) return kBundleErrNoLinkTarget;
    link.target = found->second;
    return 0;
  }

  // Data offset a header read at a link's target offset determines.
  static qint64 DataOffsetAfter(const BundleNode& header) {
    const qint64 headerBytes = 5 * 4 + header.name.size() + header.label.size();
    return header.headerOffset + headerBytes;
  }

  void Remember(const BundleNode& node) {
    index_.emplace(NodeKey(node.type, node.userTag, node.dataOffset, node.name, node.label), &node);
  }

  std::FILE* file_;
  qint64 fileSize_;
  qint64 pos_;
  int nodeCount_ = 0;
  std::unordered_map<std::string, const BundleNode*> index_;
};

bool ReadU32At(std::FILE* file, quint32& value) {
  unsigned char b[4];
  if (std::fread(b, 1, 4, file) != 4) return false;
  value = (quint32(b[0]) << 24) | (quint32(b[1]) << 16) | (quint32(b[2]) << 8) | b[3];
  return true;
}

QString TreeErrorText(int error) {
  switch (error) {
    case kBundleErrDataPastEnd:
      return QStringLiteral("a file entry's data runs past the end of the bundle");
    case kBundleErrTooLarge:
      return QStringLiteral("the bundle holds more entries than the reader accepts");
    case kBundleErrNoLinkTarget:
      return QStringLiteral("a link entry matches no earlier entry");
    default:
      return QStringLiteral("invalid entry header, type, count or nesting");
  }
}

QString DescribeTreeError(int error) {
  return TreeErrorText(error) + QStringLiteral(" (error %1)").arg(error);
}

// Reports a failure the way the caller asked: into `message` or to stderr.
void Report(QString* message, const QString& text) {
  if (message) {
    *message = text;
  } else {
    const QByteArray line = text.toLocal8Bit() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
  }
}

}  // namespace

FirmwareBundle::~FirmwareBundle() {
  if (file_) std::fclose(file_);
}

std::unique_ptr<FirmwareBundle> OpenBundle(const QString& path, int* error, QString* message) {
  auto fail = [&](int code) {
    if (error) *error = code;
    return nullptr;
  };
  if (error) *error = 0;
  if (message) message->clear();

  const QByteArray native = NativePath(path);
  // O_NONBLOCK keeps a FIFO from stalling the open; only regular files are
  // bundles, and their size bounds every count read from them.
  int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat info {};
  if (fd >= 0 && ::fstat(fd, &info) != 0) {
    const int e = errno;
    ::close(fd);
    fd = -1;
    errno = e;
  }
  if (fd >= 0 && !S_ISREG(info.st_mode)) {
    ::close(fd);
    fd = -1;
    errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
  }
  std::FILE* file = nullptr;
  if (fd >= 0) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    file = ::fdopen(fd, "rb");
    if (!file) {
      const int e = errno;
      ::close(fd);
      errno = e;
    }
  }
  if (!file) {
    const int e = errno;
    Report(message,
           QStringLiteral("Failed to open '%1' for read: %2").arg(path, QString::number(e)));
    return fail(e);
  }

  std::unique_ptr<FirmwareBundle> bundle(new FirmwareBundle);
  bundle->file_ = file;
  bundle->path_ = path;
  const qint64 fileSize = info.st_size;

  quint32 formatVersion = 0;
  quint32 productCode = 0;
  quint32 versionLength = 0;
  // A file that ends inside the header is reported like a bad version
  // string: the header could not be read.
  if (!ReadU32At(file, formatVersion)) {
    Report(message, QStringLiteral("Failed to read V1 file header: %1").arg(kBundleErrInvalid));
    return fail(kBundleErrInvalid);
  }
  if (formatVersion != quint32(kBundleFormatVersion)) {
    Report(message, QStringLiteral("Unknown file version %1.").arg(qint32(formatVersion)));
    return fail(kBundleErrInvalid);
  }
  bool headerRead = ReadU32At(file, productCode) && ReadU32At(file, versionLength) &&
                    qint64(versionLength) <= fileSize - 12;
  QByteArray version;
  if (headerRead) {
    // Only the first characters are kept; the rest is skipped, not loaded.
    const qint64 keep = std::min<qint64>(versionLength, kBundleVersionMaxChars);
    version.resize(qsizetype(keep));
    headerRead = (keep == 0 || std::fread(version.data(), 1, size_t(keep), file) == size_t(keep)) &&
                 fseeko(file, 12 + qint64(versionLength), SEEK_SET) == 0;
  }
  if (!headerRead) {
    const int e = std::ferror(file) && errno != 0 ? errno : kBundleErrInvalid;
    Report(message, QStringLiteral("Failed to read V1 file header: %1").arg(e));
    return fail(e);
  }
  bundle->formatVersion_ = int(formatVersion);
  bundle->productCode_ = qint32(productCode);
  bundle->version_ = QString::fromLatin1(version);

  const qint64 treeStart = 12 + qint64(versionLength);
  TreeReader reader(file, fileSize, treeStart);
  const int treeError = reader.ReadRoot(kBundleRootTagBase + formatVersion, bundle->root_);
  if (treeError != 0) {
    fseeko(file, treeStart, SEEK_SET);
    if (message) *message = DescribeTreeError(treeError);
    return fail(treeError);
  }
  return bundle;
}

void CloseBundle(std::unique_ptr<FirmwareBundle>& bundle) { bundle.reset(); }

namespace {

// Pre-order search of `node`'s subtree. A link is compared through its
// target; links are not descended into, so a walk always ends.
const BundleNode* FindInTree(const BundleNode& node, int type, quint32 tag, const QString* label) {
  const BundleNode& compared = (node.type == kBundleLink && node.target) ? *node.target : node;
  if (node.type != kBundleLink || node.target) {
    if (compared.type == type && (tag == 0 || compared.userTag == tag) &&
        (!label || compared.label == *label)) {
      return &node;
    }
  }
  for (const auto& child : node.children) {
    if (const BundleNode* found = FindInTree(*child, type, tag, label)) return found;
  }
  return nullptr;
}

}  // namespace

const BundleNode* FindBundleEntry(const FirmwareBundle& bundle, quint32 directoryTag,
                                  quint32 fileTag, const QString& label) {
  const BundleNode* dir = FindInTree(bundle.Root(), kBundleDirectory, directoryTag, nullptr);
  if (!dir) return nullptr;
  // A directory reached through a link is searched in the directory itself.
  if (dir->type == kBundleLink) dir = dir->target;
  return FindInTree(*dir, kBundleFile, fileTag, label.isNull() ? nullptr : &label);
}

int ExtractBundleEntry(FirmwareBundle& bundle, const BundleNode& node, const QString& target) {
  const BundleNode* source = &node;
  for (int hop = 0; source && source->type == kBundleLink && hop < kMaxLinkHops; ++hop) {
    source = source->target;
  }
  if (!source || source->type != kBundleFile || source->dataOffset < 0) return EINVAL;

  QString path = target;
  if (path.isEmpty()) {
    // The name comes from the bundle: keep only its last component so it
    // lands in the current folder whatever it says.
    path = node.name;
    const qsizetype slash = std::max(path.lastIndexOf(u'/'), path.lastIndexOf(u'\\'));
    path = path.mid(slash + 1);
    if (path.isEmpty() || path == u"." || path == u"..") return EINVAL;
  }

  const QByteArray native = NativePath(path);
  const int out = ::open(native.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (out < 0) return errno;
  int result = 0;
  if (fseeko(bundle.file_, source->dataOffset, SEEK_SET) == 0) {
    char buffer[kCopyChunk];
    qint64 left = source->size;
    while (left > 0) {
      const size_t want = size_t(std::min<qint64>(left, kCopyChunk));
      const size_t got = std::fread(buffer, 1, want, bundle.file_);
      if (got == 0) break;  // the bundle is shorter than it said
      size_t written = 0;
      while (written < got) {
        const ssize_t n = ::write(out, buffer + written, got - written);
        if (n < 0) {
          if (errno == EINTR) continue;
          result = errno;
          break;
        }
        written += size_t(n);
      }
      if (result != 0) break;
      left -= qint64(got);
    }
  }
  std::clearerr(bundle.file_);
  if (::close(out) != 0 && result == 0) result = errno;
  return result;
}

QString BundleOemWord(const QString& oemString) {
  const QString word = oemString.trimmed();
  return word.compare(QLatin1String("KORVID"), Qt::CaseInsensitive) == 0 ? QString() : word;
}

bool BundleMatchesOem(const FirmwareBundle& bundle, const QString& oemString) {
  return bundle.RootName().compare(BundleOemWord(oemString), Qt::CaseInsensitive) == 0;
}

bool BundleMatchesOem(const FirmwareBundle& bundle) {
  return BundleMatchesOem(bundle, OemString(kOemBundleWord));
}

}  // namespace fwl
