// Builds firmware bundle files for tests, samples and simulators (the
// product itself only reads them). Nodes are added into a tree and written
// in pre-order; every header field can be overridden so tests can also make
// bundles that break the format on purpose.
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

namespace fwl::sim {

// Big-endian pieces of the file format, for tests that write bytes by hand.
void AppendBundleU32(QByteArray& out, quint32 value);
void AppendBundleString(QByteArray& out, const QByteArray& text);

class BundleWriter {
 public:
  static constexpr int kRoot = 0;

  // A bundle with format version 1, the root tagged "FWB\x01" and named
  // `oemWord` ("" for the maker's own bundles).
  BundleWriter(int productCode, const QString& version, const QString& oemWord = QString());

  // Each Add returns the new node's id, used as a parent or link target.
  // `parent` must be a directory id.
  int AddDirectory(int parent, quint32 tag, const QString& name = QString(),
                   const QString& label = QString());
  int AddFile(int parent, quint32 tag, const QString& name, const QString& label,
              const QByteArray& data);
  // A link to node `target` (written with the target's header offset; a
  // target later in the tree gives a bundle the reader refuses).
  int AddLink(int parent, quint32 tag, const QString& name, const QString& label, int target);
  // A link whose stored offset is `offset` as given.
  int AddLinkToOffset(int parent, quint32 tag, const QString& name, const QString& label,
                      quint32 offset);

  // The directory with `tag` directly under `parent`, created when missing.
  int Directory(int parent, quint32 tag);

  // Overrides for malformed bundles.
  void SetFormatVersion(quint32 value) { formatVersion_ = value; }
  void SetRootTag(quint32 value) { nodes_[kRoot].tag = value; }
  void SetRootType(quint32 value) { nodes_[kRoot].type = value; }
  // Writes `value` in the size field of node `id` instead of the real
  // data length or child count (data and children are still written).
  void SetDeclaredSize(int id, quint32 value) { nodes_[size_t(id)].declaredSize = value; }

  // The file image, and the header offset of node `id` within it.
  QByteArray Build() const;
  quint32 HeaderOffset(int id) const;
  // Writes Build() to `path`; false on failure.
  bool WriteTo(const QString& path) const;

 private:
  struct Node {
    quint32 type = 0;
    quint32 tag = 0;
    QByteArray name;
    QByteArray label;
    QByteArray data;
    std::vector<int> children;
    int linkTarget = -1;
    quint32 linkOffset = 0;
    std::optional<quint32> declaredSize;
  };

  int AddNode(int parent, quint32 type, quint32 tag, const QString& name, const QString& label);
  void Write(int id, QByteArray& out, const std::vector<quint32>& offsets) const;
  void ComputeOffsets(int id, quint32& position, std::vector<quint32>& offsets) const;

  quint32 formatVersion_ = 1;
  quint32 productCode_;
  QByteArray version_;
  std::vector<Node> nodes_;
};

}  // namespace fwl::sim
